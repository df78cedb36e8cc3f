#include "engine/builtin_strings.h"

#include "res/strings.h"

namespace vantrel {

std::string BuiltinStringTable::load(std::uint32_t id) {
    switch (id) {
#define VANTREL_STRING_CASE(number, text) \
    case number:                          \
        return text;
        VANTREL_STRINGS(VANTREL_STRING_CASE)
#undef VANTREL_STRING_CASE
        default:
            return {};
    }
}

}  // namespace vantrel
