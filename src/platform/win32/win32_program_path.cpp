#include "win32_program_path.h"

#include <windows.h>

#include <vector>

namespace vantrel {

std::string Win32ProgramPath() {
    // Grows the buffer up to the system's longest path; a path that fills it was cut.
    for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
        std::vector<char> buffer(size, '\0');
        const DWORD length = GetModuleFileNameA(nullptr, buffer.data(), size);
        if (length == 0)
            return {};
        if (length < size)
            return std::string(buffer.data(), length);
    }
    return {};
}

}  // namespace vantrel
