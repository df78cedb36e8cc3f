#include "win32_file_attributes.h"

#include <windows.h>

namespace vantrel {

std::uint32_t Win32FileAttributes::attributesOf(const std::string& path) {
    return GetFileAttributesA(path.c_str());
}

}  // namespace vantrel
