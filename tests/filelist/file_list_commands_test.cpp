#include "filelist/file_list_commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_app_message_box.h"
#include "fake_list_view.h"
#include "list_command_cases.h"

namespace vantrel {
namespace {

TEST(FileListCommandsCasesTest, MovesAndDeletesFollowTheSelection) {
    FakeListView listView;
    CheckListCommandCases(
        listView, [&] { listView.loseFocus(); }, [&] { return listView.hasFocus(); });
}

class FileListCommandsTest : public ::testing::Test {
protected:
    FileList list;
    FakeListView listView;
    FakeAppMessageBox appBox;
    SingleByteCodePage codePage;
    FileListCommands commands{list, listView, appBox, codePage};
};

TEST_F(FileListCommandsTest, AsksForSelectionOnlyWhenThereIsSomethingToMove) {
    struct Case {
        ListCommand command;
        const char* entries;
        bool asks;
    };
    const Case cases[] = {
        {ListCommand::Up, "PQ", true},    {ListCommand::Down, "PQ", true},
        {ListCommand::Delete, "P", true}, {ListCommand::Up, "P", false},
        {ListCommand::Down, "P", false},  {ListCommand::Delete, "", false},
        {ListCommand::Up, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("command ") + std::to_string(static_cast<int>(c.command)) +
                     " on " + c.entries);
        LoadLetters(list, commands, c.entries);
        appBox.clear();
        listView.loseFocus();

        RunListCommand(commands, c.command);

        EXPECT_EQ(EntryLetters(list), c.entries);
        EXPECT_EQ(RowLetters(listView, false), c.entries);
        EXPECT_FALSE(listView.hasFocus());
        EXPECT_EQ(appBox.texts(), c.asks ? std::vector<std::string>{"Please select items!"}
                                         : std::vector<std::string>{});
    }
}

TEST_F(FileListCommandsTest, ClearEmptiesListAndRowsWithoutAsking) {
    for (const char* entries : {"PQR", ""}) {
        SCOPED_TRACE(entries);
        LoadLetters(list, commands, entries);
        listView.setSelected(1, true);
        commands.OnClear();
        EXPECT_EQ(list.count(), 0);
        EXPECT_EQ(listView.rowCount(), 0);
        EXPECT_TRUE(appBox.texts().empty());
    }
}

TEST_F(FileListCommandsTest, RefreshShowsRepeatsAndClearsSelection) {
    LoadLetters(list, commands, "PQP");
    listView.setSelected(0, true);
    listView.setSelected(1, true);
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
