// The file list's list view on a real SysListView32 control, through its messages.
#pragma once

#include <windows.h>

#include "platform/list_view.h"

namespace vantrel {

class Win32ListView : public ListViewPort {
public:
    explicit Win32ListView(HWND control) : m_control(control) {}

    void setExtendedStyle(std::uint32_t mask, std::uint32_t style) override;
    int insertColumn(int column, const std::string& heading, int format, int width) override;
    int insertTextRow(int row, const std::string& text) override;
    bool deleteRow(int row) override;
    bool deleteAllRows() override;
    int nextSelectedRow(int row) const override;
    void giveFocus() override;

    int rowCount() const override;
    std::string rowText(int row) const override;
    bool isSelected(int row) const override;
    void setSelected(int row, bool selected) override;

private:
    HWND m_control;
};

}  // namespace vantrel
