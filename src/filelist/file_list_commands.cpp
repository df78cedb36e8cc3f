#include "file_list_commands.h"

#include <string>

#include "filelist/path_text.h"

namespace vantrel {

FileListCommands::FileListCommands(FileList& list, ListViewPort& listView,
                                   AppMessageBoxPort& appBox, const AnsiCodePage& codePage)
    : m_list(list), m_listView(listView), m_appBox(appBox), m_codePage(codePage) {}

void FileListCommands::InitFileListView() {
    m_listView.setExtendedStyle(0, kLvsExGridLines | kLvsExFullRowSelect);
    m_listView.insertColumn(0, "AVI File Name", kLvcfmtCenter, 250);
}

void FileListCommands::InsertRowOf(int index) {
    std::string text;
    FileTitleOf(m_list.path(index), text, m_codePage);
    m_listView.insertTextRow(index, text);
}

int FileListCommands::NextSelectedRow(int row, int rowCount) const {
    // Only rows that stand for entries, in ascending order, so that the walks always end.
    const int next = m_listView.nextSelectedRow(row);
    return next > row && next < rowCount ? next : -1;
}

void FileListCommands::RefreshFileList() {
    m_listView.deleteAllRows();
    for (int i = 0; i < m_list.count(); ++i)
        InsertRowOf(i);
}

void FileListCommands::UpdateRowsAfterMoveUp(int index) {
    m_listView.deleteRow(index - 1);
    InsertRowOf(index);
    m_listView.giveFocus();
}

void FileListCommands::UpdateRowsAfterMoveDown(int index) {
    m_listView.deleteRow(index + 1);
    InsertRowOf(index);
    m_listView.giveFocus();
}

void FileListCommands::OnUp() {
    if (m_list.count() <= 1)
        return;
    int row = NextSelectedRow(-1, m_list.count());
    if (row < 0) {
        m_appBox.show(kSelectItemsText);
        return;
    }
    while (row >= 0) {
        const int next = NextSelectedRow(row, m_list.count());
        if (row == 0) {
            // The top entry cannot move, and so nothing below it moves either.
            m_listView.giveFocus();
            return;
        }
        m_list.SwapEntries(row - 1, row);
        UpdateRowsAfterMoveUp(row);
        row = next;
    }
}

void FileListCommands::OnDown() {
    if (m_list.count() <= 1)
        return;
    int row = NextSelectedRow(-1, m_list.count());
    if (row < 0) {
        m_appBox.show(kSelectItemsText);
        return;
    }
    // Walks the selection top down like Up, so a run of adjacent selected entries does not move
    // as a block: its first entry is carried past the run.
    while (row >= 0) {
        const int next = NextSelectedRow(row, m_list.count());
        if (row >= m_list.count() - 1) {
            m_listView.giveFocus();
            return;
        }
        m_list.SwapEntries(row, row + 1);
        UpdateRowsAfterMoveDown(row);
        row = next;
    }
}

void FileListCommands::OnDelete() {
    const int rowCount = m_list.count();
    if (rowCount <= 0)
        return;
    int row = NextSelectedRow(-1, rowCount);
    if (row < 0) {
        m_appBox.show(kSelectItemsText);
        return;
    }
    // The rows stay as they are until the end, so each row index is one of the list before the
    // command; less the entries already removed it is the entry's current index.
    for (int removed = 0; row >= 0; ++removed) {
        const int next = NextSelectedRow(row, rowCount);
        m_list.RemoveListEntry(row - removed);
        row = next;
    }
    RefreshFileList();
}

void FileListCommands::OnClear() {
    m_list.clear();
    RefreshFileList();
}

}  // namespace vantrel
