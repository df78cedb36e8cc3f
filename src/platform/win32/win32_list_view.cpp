#include "win32_list_view.h"

#include <commctrl.h>

namespace vantrel {

void Win32ListView::setExtendedStyle(std::uint32_t mask, std::uint32_t style) {
    SendMessageA(m_control, LVM_SETEXTENDEDLISTVIEWSTYLE, mask, style);
}

int Win32ListView::insertColumn(int column, const std::string& heading, int format, int width) {
    LVCOLUMNA info{};
    info.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    info.fmt = format;
    info.cx = width;
    info.pszText = const_cast<char*>(heading.c_str());
    return static_cast<int>(
        SendMessageA(m_control, LVM_INSERTCOLUMNA, column, reinterpret_cast<LPARAM>(&info)));
}

int Win32ListView::insertTextRow(int row, const std::string& text) {
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<char*>(text.c_str());
    return static_cast<int>(
        SendMessageA(m_control, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

bool Win32ListView::deleteRow(int row) {
    return SendMessageA(m_control, LVM_DELETEITEM, row, 0) != 0;
}

bool Win32ListView::deleteAllRows() {
    return SendMessageA(m_control, LVM_DELETEALLITEMS, 0, 0) != 0;
}

int Win32ListView::nextSelectedRow(int row) const {
    return static_cast<int>(
        SendMessageA(m_control, LVM_GETNEXTITEM, row, MAKELPARAM(LVNI_SELECTED, 0)));
}

void Win32ListView::giveFocus() {
    SetFocus(m_control);
}

int Win32ListView::rowCount() const {
    return static_cast<int>(SendMessageA(m_control, LVM_GETITEMCOUNT, 0, 0));
}

std::string Win32ListView::rowText(int row) const {
    char buffer[MAX_PATH] = {};
    LVITEMA item{};
    item.iSubItem = 0;
    item.pszText = buffer;
    item.cchTextMax = sizeof buffer;
    SendMessageA(m_control, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    return buffer;
}

bool Win32ListView::isSelected(int row) const {
    return (SendMessageA(m_control, LVM_GETITEMSTATE, row, LVIS_SELECTED) & LVIS_SELECTED) != 0;
}

void Win32ListView::setSelected(int row, bool selected) {
    LVITEMA item{};
    item.stateMask = LVIS_SELECTED;
    item.state = selected ? LVIS_SELECTED : 0;
    SendMessageA(m_control, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

}  // namespace vantrel
