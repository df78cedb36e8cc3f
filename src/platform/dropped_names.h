// The names of one shell drop, in the order the shell delivers them.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

class DroppedNamesPort {
public:
    virtual ~DroppedNamesPort() = default;
    virtual std::uint32_t count() = 0;
    // Name `index` in full, however long it is, so that the caller can refuse an over-long name
    // rather than work on a cut one.
    virtual std::string name(std::uint32_t index) = 0;
    // Gives the drop back to the system once every name was read; no call follows.
    virtual void release() = 0;
};

}  // namespace vantrel
