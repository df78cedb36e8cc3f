#include "win32_wait_cursor.h"

namespace vantrel {

void Win32WaitCursor::begin() {
    HCURSOR previous = SetCursor(LoadCursor(nullptr, IDC_WAIT));
    if (m_depth++ == 0)
        m_previous = previous;
}

void Win32WaitCursor::end() {
    if (m_depth == 0)
        return;  // an unbalanced end must not drive the count below 0
    if (--m_depth == 0)
        SetCursor(m_previous ? m_previous : LoadCursor(nullptr, IDC_ARROW));
}

}  // namespace vantrel
