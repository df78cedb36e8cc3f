// The application-wide wait cursor: a nesting count; the hourglass shows while it is above 0 and
// the cursor of before comes back when it returns to 0.
#pragma once

#include <windows.h>

#include "platform/wait_cursor.h"

namespace vantrel {

class Win32WaitCursor : public WaitCursorPort {
public:
    void begin() override;
    void end() override;
    // For the window's WM_SETCURSOR: while true, the window keeps the hourglass.
    bool active() const { return m_depth > 0; }

private:
    int m_depth = 0;
    HCURSOR m_previous = nullptr;
};

}  // namespace vantrel
