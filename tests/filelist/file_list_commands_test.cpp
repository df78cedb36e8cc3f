#include "filelist/file_list_commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_app_message_box.h"
#include "fake_list_view.h"

namespace vantrel {
namespace {

// Entries are written as letters, top to bottom; entry X is the path D:\v\X.avi, its row X.avi.
class FileListCommandsTest : public ::testing::Test {
protected:
    void Load(const std::string& letters) {
        for (char letter : letters)
            list.AppendListEntry(std::string("D:\\v\\") + letter + ".avi");
        commands.RefreshFileList();
    }
    void Select(const std::string& letters) {
        for (int row = 0; row < listView.rowCount(); ++row) {
            listView.setSelected(row, letters.find(listView.rowText(row)[0]) != std::string::npos);
        }
    }
    std::string Entries() const {
        std::string letters;
        for (int i = 0; i < list.count(); ++i)
            letters += list.path(i)[5];
        return letters;
    }
    std::string Rows() const {
        std::string letters;
        for (const std::string& text : listView.texts())
            letters += text[0];
        return letters;
    }
    std::string SelectedRows() const {
        std::string letters;
        for (int row : listView.selectedRows())
            letters += listView.rowText(row)[0];
        return letters;
    }

    FileList list;
    FakeListView listView;
    FakeAppMessageBox appBox;
    SingleByteCodePage codePage;
    FileListCommands commands{list, listView, appBox, codePage};
};

enum class Command { Up, Down, Delete };

void RunCommand(FileListCommands& commands, Command command) {
    switch (command) {
        case Command::Up:
            commands.OnUp();
            break;
        case Command::Down:
            commands.OnDown();
            break;
        case Command::Delete:
            commands.OnDelete();
            break;
    }
}

TEST_F(FileListCommandsTest, MovesAndDeletesFollowTheSelection) {
    struct Case {
        Command command;
        const char* selected;
        const char* entries;
        const char* selectedAfter;
        bool focus;
    };
    const Case cases[] = {
        {Command::Up, "RS", "PRSQT", "RS", true},
        {Command::Up, "PS", "PQRST", "PS", true},  // the top entry stops the whole command
        {Command::Up, "QT", "QPRTS", "QT", true},
        {Command::Down, "QS", "PRQTS", "QS", true},
        // Down carries the first entry of an adjacent run past the run.
        {Command::Down, "QR", "PRSQT", "Q", true},
        {Command::Down, "ST", "PQRTS", "S", true},
        {Command::Down, "QT", "PRQST", "QT", true},
        {Command::Delete, "QS", "PRT", "", false},
        {Command::Delete, "ST", "PQR", "", false},
        {Command::Delete, "QST", "PR", "", false},
        {Command::Delete, "PQRST", "", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("command ") + std::to_string(static_cast<int>(c.command)) +
                     " on " + c.selected);
        list.clear();
        Load("PQRST");
        Select(c.selected);
        listView.loseFocus();

        RunCommand(commands, c.command);

        EXPECT_EQ(Entries(), c.entries);
        EXPECT_EQ(Rows(), c.entries);
        EXPECT_EQ(SelectedRows(), c.selectedAfter);
        EXPECT_EQ(listView.hasFocus(), c.focus);
        EXPECT_TRUE(appBox.texts().empty());
    }
}

TEST_F(FileListCommandsTest, AsksForSelectionOnlyWhenThereIsSomethingToMove) {
    struct Case {
        Command command;
        const char* entries;
        bool asks;
    };
    const Case cases[] = {
        {Command::Up, "PQ", true}, {Command::Down, "PQ", true}, {Command::Delete, "P", true},
        {Command::Up, "P", false}, {Command::Down, "P", false}, {Command::Delete, "", false},
        {Command::Up, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("command ") + std::to_string(static_cast<int>(c.command)) +
                     " on " + c.entries);
        list.clear();
        Load(c.entries);
        appBox.clear();
        listView.loseFocus();

        RunCommand(commands, c.command);

        EXPECT_EQ(Entries(), c.entries);
        EXPECT_EQ(Rows(), c.entries);
        EXPECT_FALSE(listView.hasFocus());
        EXPECT_EQ(appBox.texts(), c.asks ? std::vector<std::string>{"Please select items!"}
                                         : std::vector<std::string>{});
    }
}

TEST_F(FileListCommandsTest, ClearEmptiesListAndRowsWithoutAsking) {
    for (const char* entries : {"PQR", ""}) {
        SCOPED_TRACE(entries);
        list.clear();
        Load(entries);
        Select("Q");
        commands.OnClear();
        EXPECT_EQ(list.count(), 0);
        EXPECT_EQ(listView.rowCount(), 0);
        EXPECT_TRUE(appBox.texts().empty());
    }
}

TEST_F(FileListCommandsTest, RefreshShowsRepeatsAndClearsSelection) {
    Load("PQP");
    Select("PQ");
    commands.RefreshFileList();
    EXPECT_EQ(listView.texts(), (std::vector<std::string>{"P.avi", "Q.avi", "P.avi"}));
    EXPECT_TRUE(listView.selectedRows().empty());
}

TEST_F(FileListCommandsTest, InitSetsCompleteExtendedStyleAndOneColumn) {
    listView.setExtendedStyle(0, 0x4);  // a style the control might have had before
    commands.InitFileListView();
    EXPECT_EQ(listView.extendedStyle(), 0x21u);
    ASSERT_EQ(listView.columns().size(), 1u);
    const FakeListView::Column& column = listView.columns()[0];
    EXPECT_EQ(column.index, 0);
    EXPECT_EQ(column.heading, "AVI File Name");
    EXPECT_EQ(column.format, kLvcfmtCenter);
    EXPECT_EQ(column.width, 250);
    EXPECT_EQ(listView.rowCount(), 0);
}

TEST(FileListTest, RefusesEntriesThatDoNotFit) {
    FileList list;
    EXPECT_FALSE(list.AppendListEntry(""));
    EXPECT_FALSE(list.AppendListEntry(std::string(260, 'x')));
    EXPECT_TRUE(list.AppendListEntry(std::string(259, 'x')));
    while (list.count() < MAX_LIST_FILES)
        ASSERT_TRUE(list.AppendListEntry("D:\\a.avi"));
    EXPECT_TRUE(list.isFull());
    EXPECT_FALSE(list.AppendListEntry("D:\\b.avi"));
    EXPECT_EQ(list.count(), MAX_LIST_FILES);
}

}  // namespace
}  // namespace vantrel
