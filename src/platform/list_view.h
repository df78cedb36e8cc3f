// The file list's list-view control, through the operations the program relies on. Rows are
// numbered from 0; a row is inserted with text only and unselected.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

// LVS_EX_* extended styles and the LVCFMT_* column format, with the platform's values.
constexpr std::uint32_t kLvsExGridLines = 0x1;
constexpr std::uint32_t kLvsExFullRowSelect = 0x20;
constexpr int kLvcfmtCenter = 0x2;

class ListViewPort {
public:
    virtual ~ListViewPort() = default;

    // `mask` 0 makes `style` the complete extended style.
    virtual void setExtendedStyle(std::uint32_t mask, std::uint32_t style) = 0;
    // Inserts a report column with a heading, format and width in pixels, and no subitem index;
    // returns its index or -1.
    virtual int insertColumn(int column, const std::string& heading, int format, int width) = 0;
    // Inserts an unselected row whose only content is `text`; returns its index or -1.
    virtual int insertTextRow(int row, const std::string& text) = 0;
    virtual bool deleteRow(int row) = 0;
    virtual bool deleteAllRows() = 0;
    // The first selected row after `row` (from -1: the first selected row), or -1.
    virtual int nextSelectedRow(int row) const = 0;
    virtual void giveFocus() = 0;

    // Read back and set by tests and by whatever drives the control.
    virtual int rowCount() const = 0;
    virtual std::string rowText(int row) const = 0;
    virtual bool isSelected(int row) const = 0;
    virtual void setSelected(int row, bool selected) = 0;
};

}  // namespace vantrel
