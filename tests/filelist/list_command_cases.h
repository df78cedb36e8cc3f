// The Up, Down and Delete examples on P Q R S T, run on any list view: the fake in the native
// tests and a real list-view control under Wine, so that both are held to the same selection
// behaviour.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fake_app_message_box.h"
#include "filelist/file_list_commands.h"

namespace vantrel {

enum class ListCommand { Up, Down, Delete };

struct ListCommandCase {
    ListCommand command;
    const char* selected;       // letters of the selected entries before
    const char* entries;        // the list afterwards
    const char* selectedAfter;  // letters of the selected rows afterwards
    bool focus;                 // whether the command gives the list view the focus
};

inline const std::vector<ListCommandCase> kListCommandCases = {
    {ListCommand::Up, "RS", "PRSQT", "RS", true},
    {ListCommand::Up, "PS", "PQRST", "PS", true},  // the top entry stops the whole command
    {ListCommand::Up, "QT", "QPRTS", "QT", true},
    {ListCommand::Down, "QS", "PRQTS", "QS", true},
    // Down carries the first entry of an adjacent run past the run.
    {ListCommand::Down, "QR", "PRSQT", "Q", true},
    {ListCommand::Down, "ST", "PQRTS", "S", true},
    {ListCommand::Down, "QT", "PRQST", "QT", true},
    {ListCommand::Delete, "QS", "PRT", "", false},
    {ListCommand::Delete, "QST", "PR", "", false},
    {ListCommand::Delete, "PQRST", "", "", false},
};

inline void RunListCommand(FileListCommands& commands, ListCommand command) {
    switch (command) {
        case ListCommand::Up:
            commands.OnUp();
            break;
        case ListCommand::Down:
            commands.OnDown();
            break;
        case ListCommand::Delete:
            commands.OnDelete();
            break;
    }
}

// Entry X is the path D:\v\X.avi, shown as the row X.avi.
inline void LoadLetters(FileList& list, FileListCommands& commands, const std::string& letters) {
    list.clear();
    for (char letter : letters)
        list.AppendListEntry(std::string("D:\\v\\") + letter + ".avi");
    commands.RefreshFileList();
}

inline std::string EntryLetters(const FileList& list) {
    std::string letters;
    for (int i = 0; i < list.count(); ++i)
        letters += list.path(i)[5];
    return letters;
}

inline std::string RowLetters(const ListViewPort& listView, bool selectedOnly) {
    std::string letters;
    for (int row = 0; row < listView.rowCount(); ++row) {
        if (!selectedOnly || listView.isSelected(row))
            letters += listView.rowText(row)[0];
    }
    return letters;
}

inline void CheckListCommandCases(ListViewPort& listView,
                                  const std::function<void()>& moveFocusAway,
                                  const std::function<bool()>& listHasFocus) {
    FileList list;
    FakeAppMessageBox appBox;
    SingleByteCodePage codePage;
    FileListCommands commands(list, listView, appBox, codePage);
    for (const ListCommandCase& c : kListCommandCases) {
        SCOPED_TRACE(std::string("command ") + std::to_string(static_cast<int>(c.command)) +
                     " with " + c.selected + " selected");
        LoadLetters(list, commands, "PQRST");
        for (int row = 0; row < listView.rowCount(); ++row) {
            const char letter = listView.rowText(row)[0];
            listView.setSelected(row, std::string(c.selected).find(letter) != std::string::npos);
        }
        moveFocusAway();

        RunListCommand(commands, c.command);

        EXPECT_EQ(EntryLetters(list), c.entries);
        EXPECT_EQ(RowLetters(listView, false), c.entries);
        EXPECT_EQ(RowLetters(listView, true), c.selectedAfter);
        EXPECT_EQ(listHasFocus(), c.focus);
        EXPECT_TRUE(appBox.texts().empty());
    }
}

}  // namespace vantrel
