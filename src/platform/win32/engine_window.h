// The engine's hidden window in the desktop program: created once while the main dialog
// initialises, and torn down by the destroy message the dialog sends it when it closes. The
// engine's own start and teardown are portable; this is only their Win32 host.
#pragma once

#ifdef _WIN32

#include <windows.h>

#include <cstddef>

#include "engine/engine_ports.h"

namespace vantrel {

// 1 when the engine runs: the version test passed, the window class (atom 130, menu 130) was
// registered, the AVI services were initialised and the window created and shown with
// `showCommand`. Uses the engine ports installed before the call.
int CreateEngineWindow(HINSTANCE instance, int showCommand);

LRESULT CALLBACK EngineWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The system port of the desktop program: the platform identifier of the version record the
// main dialog read, the ANSI code page for paths, and the system's error beep.
class Win32SystemPort final : public SystemPort {
public:
    explicit Win32SystemPort(DWORD platformId) : m_platformId(platformId) {}
    int platformId() override { return static_cast<int>(m_platformId); }
    bool ansiToWide(const char* ansi, char16_t* wide, std::size_t capacity) override;
    void errorBeep() override;

private:
    DWORD m_platformId;
};

}  // namespace vantrel

#endif  // _WIN32
