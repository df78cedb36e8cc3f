#include "win32_message_box.h"

#include <windows.h>

namespace vantrel {

int Win32MessageBox::show(WindowId owner, const std::string& text, const char* caption,
                          std::uint32_t flags) {
    return MessageBoxA(reinterpret_cast<HWND>(owner), text.c_str(), caption, flags);
}

}  // namespace vantrel
