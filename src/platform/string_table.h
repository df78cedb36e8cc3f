// The program's numbered texts, as the platform's string table holds them.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

class StringTablePort {
public:
    virtual ~StringTablePort() = default;
    // The text of entry `id`, or the empty text when the table has no such entry.
    virtual std::string load(std::uint32_t id) = 0;
};

}  // namespace vantrel
