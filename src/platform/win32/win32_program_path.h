// The program file's full path, from which the identity values are derived.
#pragma once

#include <string>

namespace vantrel {

// The full path of the running program, or the empty text when the system cannot give it. A path
// longer than the classic 260 characters is returned whole rather than cut.
std::string Win32ProgramPath();

}  // namespace vantrel
