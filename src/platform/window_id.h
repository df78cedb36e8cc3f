#pragma once

#include <cstdint>

namespace vantrel {

// A window as the portable layers see it: the platform's handle as a number, 0 for none.
using WindowId = std::uintptr_t;
constexpr WindowId kNoWindow = 0;

}  // namespace vantrel
