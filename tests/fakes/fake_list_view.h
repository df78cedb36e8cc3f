// A list view that behaves like the real control where the file list relies on it: rows keep
// their selection when rows before them are inserted or deleted, and a new row is unselected.
// Every call is recorded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/list_view.h"

namespace vantrel {

class FakeListView : public ListViewPort {
public:
    struct Row {
        std::string text;
        bool selected = false;
    };
    struct Column {
        int index;
        std::string heading;
        int format;
        int width;
    };

    void setExtendedStyle(std::uint32_t mask, std::uint32_t style) override {
        m_calls.push_back("style");
        // Only the bits in the mask change; mask 0 stands for all bits.
        const std::uint32_t changed = mask == 0 ? ~0u : mask;
        m_extendedStyle = (m_extendedStyle & ~changed) | (style & changed);
    }
    int insertColumn(int column, const std::string& heading, int format, int width) override {
        m_calls.push_back("column");
        m_columns.push_back({column, heading, format, width});
        return column;
    }
    int insertTextRow(int row, const std::string& text) override {
        m_calls.push_back("insert " + std::to_string(row) + " " + text);
        if (row < 0)
            return -1;
        if (row > rowCount())
            row = rowCount();  // the control appends past the end
        m_rows.insert(m_rows.begin() + row, Row{text, false});
        return row;
    }
    bool deleteRow(int row) override {
        m_calls.push_back("delete " + std::to_string(row));
        if (row < 0 || row >= rowCount())
            return false;
        m_rows.erase(m_rows.begin() + row);
        return true;
    }
    bool deleteAllRows() override {
        m_calls.push_back("deleteAll");
        m_rows.clear();
        return true;
    }
    int nextSelectedRow(int row) const override {
        for (int i = row < 0 ? 0 : row + 1; i < rowCount(); ++i) {
            if (m_rows[static_cast<std::size_t>(i)].selected)
                return i;
        }
        return -1;
    }
    void giveFocus() override {
        m_calls.push_back("focus");
        m_hasFocus = true;
    }

    int rowCount() const override { return static_cast<int>(m_rows.size()); }
    std::string rowText(int row) const override {
        return row >= 0 && row < rowCount() ? m_rows[static_cast<std::size_t>(row)].text : "";
    }
    bool isSelected(int row) const override {
        return row >= 0 && row < rowCount() && m_rows[static_cast<std::size_t>(row)].selected;
    }
    void setSelected(int row, bool selected) override {
        if (row >= 0 && row < rowCount())
            m_rows[static_cast<std::size_t>(row)].selected = selected;
    }

    std::vector<std::string> texts() const {
        std::vector<std::string> result;
        for (const Row& row : m_rows)
            result.push_back(row.text);
        return result;
    }
    std::vector<int> selectedRows() const {
        std::vector<int> result;
        for (int i = 0; i < rowCount(); ++i) {
            if (isSelected(i))
                result.push_back(i);
        }
        return result;
    }
    std::uint32_t extendedStyle() const { return m_extendedStyle; }
    const std::vector<Column>& columns() const { return m_columns; }
    bool hasFocus() const { return m_hasFocus; }
    void loseFocus() { m_hasFocus = false; }
    const std::vector<std::string>& calls() const { return m_calls; }
    void clearCalls() { m_calls.clear(); }

private:
    std::vector<Row> m_rows;
    std::vector<Column> m_columns;
    std::uint32_t m_extendedStyle = 0;
    bool m_hasFocus = false;
    std::vector<std::string> m_calls;
};

}  // namespace vantrel
