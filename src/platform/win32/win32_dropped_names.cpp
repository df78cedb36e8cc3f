#include "win32_dropped_names.h"

#include <shellapi.h>

#include <vector>

namespace vantrel {

std::uint32_t Win32DroppedNames::count() {
    if (!m_drop)
        return 0;
    return DragQueryFileA(m_drop, 0xFFFFFFFF, nullptr, 0);
}

std::string Win32DroppedNames::name(std::uint32_t index) {
    if (!m_drop)
        return {};
    // Asked for its length first, so that a long name comes whole rather than cut.
    const UINT length = DragQueryFileA(m_drop, index, nullptr, 0);
    if (length == 0)
        return {};
    std::vector<char> buffer(length + 1, '\0');
    const UINT copied = DragQueryFileA(m_drop, index, buffer.data(), length + 1);
    return std::string(buffer.data(), copied <= length ? copied : length);
}

void Win32DroppedNames::release() {
    if (m_drop)
        DragFinish(m_drop);
    m_drop = nullptr;
}

}  // namespace vantrel
