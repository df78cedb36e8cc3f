#include "win32_open_file_dialog.h"

#include <windows.h>

#include <commdlg.h>

namespace vantrel {

bool Win32OpenFileDialog::show(const OpenFileRequest& request, std::vector<char>& selection,
                               std::uint16_t& fileOffset) {
    if (selection.empty())
        return false;
    OPENFILENAMEA info{};
    // The older structure without the trailing fields; its size in bytes depends on the pointer
    // size, so the platform's constant gives it.
    info.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    info.hwndOwner = reinterpret_cast<HWND>(request.owner);
    // The filter's own zeros are in the string, and c_str() adds the final terminator.
    info.lpstrFilter = request.filter.c_str();
    info.nFilterIndex = request.filterIndex;
    info.lpstrFile = selection.data();
    info.nMaxFile = static_cast<DWORD>(selection.size());
    info.lpstrInitialDir = request.initialDir.c_str();
    info.lpstrTitle = request.title.c_str();
    info.Flags = request.flags;
    if (!GetOpenFileNameA(&info))
        return false;
    fileOffset = info.nFileOffset;
    return true;
}

}  // namespace vantrel
