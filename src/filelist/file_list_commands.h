// The list view's side of the file list: its set-up, the rebuilding of its rows and the Up, Down,
// Delete and Clear commands. The list view's selection is the only selection there is; the
// commands read it when they run and map rows to entries by index.
#pragma once

#include "filelist/file_list.h"
#include "platform/app_message_box.h"
#include "platform/code_page.h"
#include "platform/list_view.h"

namespace vantrel {

constexpr const char* kSelectItemsText = "Please select items!";

class FileListCommands {
public:
    FileListCommands(FileList& list, ListViewPort& listView, AppMessageBoxPort& appBox,
                     const AnsiCodePage& codePage);

    // Grid lines and full-row selection as the complete extended style, and the one column.
    void InitFileListView();
    // Rebuilds every row from the list; afterwards no row is selected.
    void RefreshFileList();
    // Bring the two rows around `index` in line after its entry was swapped with the one above
    // (MoveUp) or below (MoveDown); the moved rows keep their selection, the new row has none.
    void UpdateRowsAfterMoveUp(int index);
    void UpdateRowsAfterMoveDown(int index);

    void OnUp();
    void OnDown();
    void OnDelete();
    void OnClear();
    // A click on the list changes nothing; the selection is read when a command runs.
    int OnClickFileList() { return 0; }

private:
    void InsertRowOf(int index);
    int NextSelectedRow(int row, int rowCount) const;

    FileList& m_list;
    ListViewPort& m_listView;
    AppMessageBoxPort& m_appBox;
    const AnsiCodePage& m_codePage;
};

}  // namespace vantrel
