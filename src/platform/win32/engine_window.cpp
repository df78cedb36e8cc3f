#ifdef _WIN32

// The AVI services' header declares OF_READ, which <windows.h> defines as a macro: it goes first.
#include "engine/engine_lifecycle.h"
#include "engine/stream_workspace.h"
#include "res/strings.h"

#include "platform/win32/engine_window.h"

#include <vector>

namespace vantrel {

namespace {

constexpr WORD kEngineClassAtom = 130;
constexpr WORD kEngineMenu = 130;
constexpr UINT kEngineClassStyle = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS | CS_BYTEALIGNCLIENT;

}  // namespace

int CreateEngineWindow(HINSTANCE instance, int showCommand) {
    if (!TestVideoForWindowsVersion())
        return 0;
    StreamWorkspace& workspace = GetWorkspace();
    workspace.instance = reinterpret_cast<std::uintptr_t>(instance);

    WNDCLASSA windowClass{};
    windowClass.style = kEngineClassStyle;
    windowClass.lpfnWndProc = EngineWndProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszMenuName = MAKEINTRESOURCEA(kEngineMenu);
    windowClass.lpszClassName = MAKEINTATOM(kEngineClassAtom);
    if (RegisterClassA(&windowClass) == 0)
        return 0;

    AVIFileInit();
    HWND window = CreateWindowExA(0, MAKEINTATOM(kEngineClassAtom), LoadEngineText(IDS_APPNAME),
                                  WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, 320, 300, nullptr, nullptr,
                                  instance, nullptr);
    workspace.engineWindow = reinterpret_cast<WindowId>(window);
    ShowWindow(window, showCommand);
    return 1;
}

LRESULT CALLBACK EngineWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DESTROY:
            // The main dialog sends this directly when it closes; the window itself stays.
            StopEngine();
            break;
        case WM_ENDSESSION:
            if (wParam != 0) {
                if (GetClipboardOwner() == window && OpenClipboard(window)) {
                    EmptyClipboard();
                    CloseClipboard();
                }
                EndEngineSession();
            }
            break;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            BeginPaint(window, &paint);
            EndPaint(window, &paint);
            break;
        }
        default:
            break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool Win32SystemPort::ansiToWide(const char* ansi, char16_t* wide, std::size_t capacity) {
    if (ansi == nullptr || wide == nullptr || capacity == 0)
        return false;
    // Converted into a buffer of our own first, so that a path that does not fit leaves `wide`
    // as it was.
    std::vector<wchar_t> converted(capacity);
    const int units =
        MultiByteToWideChar(CP_ACP, 0, ansi, -1, converted.data(), static_cast<int>(capacity));
    if (units <= 0)
        return false;
    for (int i = 0; i < units; ++i)
        wide[i] = static_cast<char16_t>(converted[static_cast<std::size_t>(i)]);
    return true;
}

void Win32SystemPort::errorBeep() {
    MessageBeep(MB_ICONERROR);
}

}  // namespace vantrel

#endif  // _WIN32
