// The numbered texts of res/strings.h as a string table, for front ends without a resource
// string table (vantrel) and for tests.
#pragma once

#include "platform/string_table.h"

namespace vantrel {

class BuiltinStringTable final : public StringTablePort {
public:
    std::string load(std::uint32_t id) override;
};

}  // namespace vantrel
