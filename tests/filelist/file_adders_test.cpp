#include "filelist/file_adders.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_app_message_box.h"
#include "fake_candidate_filter.h"
#include "fake_dropped_names.h"
#include "fake_file_attributes.h"
#include "fake_list_view.h"
#include "fake_open_file_dialog.h"
#include "fake_registry.h"

namespace vantrel {
namespace {

using Paths = std::vector<std::string>;

class FileAddersTest : public ::testing::Test {
protected:
    FileAddersTest() {
        settings.SetSettingsKey("QuarnelStudio");
        adders.setMainWindow(0x4242);
    }

    Paths Entries() const {
        Paths paths;
        for (int i = 0; i < list.count(); ++i)
            paths.push_back(list.path(i));
        return paths;
    }
    std::string LastFolder() {
        return settings.ReadSettingString("Option", "LastFolder", "<missing>");
    }
    void Append(const Paths& paths) {
        for (const std::string& path : paths)
            ASSERT_TRUE(list.AppendListEntry(path));
    }

    FileList list;
    FakeListView listView;
    FakeAppMessageBox appBox;
    SingleByteCodePage codePage;
    FileListCommands commands{list, listView, appBox, codePage};
    FakeRegistry registry;
    SettingsStore settings{registry, "AVIVantrel"};
    FakeCandidateFilter filter;
    FakeOpenFileDialog openDialog;
    FakeFileAttributes attributes;
    FileAdders adders{list, commands, {filter, settings, openDialog, attributes, appBox, codePage}};
};

TEST_F(FileAddersTest, OpenDialogIsAskedForAsTheProgramDoes) {
    settings.WriteSettingString("Option", "LastFolder", "E:\\films\\");
    adders.OnAddAvi();

    ASSERT_EQ(openDialog.requests().size(), 1u);
    const FakeOpenFileDialog::Request& request = openDialog.requests()[0];
    EXPECT_EQ(request.fields.owner, 0x4242u);
    EXPECT_EQ(request.fields.filter, std::string("AVI Files (*.avi)\0*.avi\0", 24));
    EXPECT_EQ(request.fields.filterIndex, 1u);
    EXPECT_EQ(request.fields.initialDir, "E:\\films\\");
    EXPECT_EQ(request.fields.title, "Select AVI Files...");
    EXPECT_EQ(request.fields.flags, 0x81A01u);
    EXPECT_EQ(request.bufferSize, 260000u);
    EXPECT_TRUE(request.bufferStartsEmpty);
}

TEST_F(FileAddersTest, ConfirmedSelectionsAreTestedAndAppendedInOrder) {
    struct Case {
        const char* name;
        Paths before;
        FakeOpenFileDialog::Answer answer;
        Paths refused;
        Paths asked;
        Paths after;
        std::string lastFolder;
    };
    const Case cases[] = {
        {"one file",
         {},
         FakeOpenFileDialog::single("D:\\clips\\one.avi"),
         {},
         {"D:\\clips\\one.avi"},
         {"D:\\clips\\one.avi"},
         "D:\\clips\\"},
        {"drive root",
         {},
         FakeOpenFileDialog::multiple("D:\\", {"a.avi", "b.avi", "c.avi"}),
         {},
         {"D:\\a.avi", "D:\\b.avi", "D:\\c.avi"},
         {"D:\\a.avi", "D:\\b.avi", "D:\\c.avi"},
         "D:\\"},
        {"folder, dialog's order kept",
         {"E:\\old\\x.avi"},
         FakeOpenFileDialog::multiple("D:\\clips", {"c.avi", "a.avi", "b.avi"}),
         {},
         {"D:\\clips\\c.avi", "D:\\clips\\a.avi", "D:\\clips\\b.avi"},
         {"E:\\old\\x.avi", "D:\\clips\\c.avi", "D:\\clips\\a.avi", "D:\\clips\\b.avi"},
         "D:\\clips\\"},
        {"middle file refused",
         {},
         FakeOpenFileDialog::multiple("D:\\clips", {"a.avi", "b.avi", "c.avi"}),
         {"D:\\clips\\b.avi"},
         {"D:\\clips\\a.avi", "D:\\clips\\b.avi", "D:\\clips\\c.avi"},
         {"D:\\clips\\a.avi", "D:\\clips\\c.avi"},
         "D:\\clips\\"},
        {"all refused, the folder is the last entry's",
         {"E:\\old\\x.avi"},
         FakeOpenFileDialog::multiple("D:\\clips", {"a.avi", "b.avi"}),
         {"D:\\clips\\a.avi", "D:\\clips\\b.avi"},
         {"D:\\clips\\a.avi", "D:\\clips\\b.avi"},
         {"E:\\old\\x.avi"},
         "E:\\old\\"},
        {"all refused into an empty list leaves the folder as it was",
         {},
         FakeOpenFileDialog::single("D:\\clips\\a.avi"),
         {"D:\\clips\\a.avi"},
         {"D:\\clips\\a.avi"},
         {},
         "F:\\before\\"},
        {"the same file twice",
         {"D:\\a.avi"},
         FakeOpenFileDialog::single("D:\\a.avi"),
         {},
         {"D:\\a.avi"},
         {"D:\\a.avi", "D:\\a.avi"},
         "D:\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FileList freshList;
        list = freshList;
        Append(c.before);
        filter = FakeCandidateFilter();
        for (const std::string& path : c.refused)
            filter.refuse(path);
        settings.WriteSettingString("Option", "LastFolder", "F:\\before\\");
        openDialog.script(c.answer);

        adders.OnAddAvi();

        EXPECT_EQ(filter.asked(), c.asked);
        EXPECT_EQ(Entries(), c.after);
        EXPECT_EQ(listView.rowCount(), static_cast<int>(c.after.size()));
        EXPECT_EQ(LastFolder(), c.lastFolder);
        EXPECT_TRUE(appBox.texts().empty());
    }
}

TEST_F(FileAddersTest, CancelLeavesListAndLastFolderAlone) {
    Append({"D:\\clips\\a.avi"});
    settings.WriteSettingString("Option", "LastFolder", "F:\\before\\");
    registry.clearCalls();
    openDialog.script(FakeOpenFileDialog::cancel());

    adders.OnAddAvi();

    EXPECT_EQ(Entries(), Paths{"D:\\clips\\a.avi"});
    EXPECT_TRUE(filter.asked().empty());
    EXPECT_EQ(listView.calls(), std::vector<std::string>{});
    for (const FakeRegistry::Call& call : registry.calls())
        EXPECT_NE(call.operation, "set");
    EXPECT_EQ(LastFolder(), "F:\\before\\");
}

TEST_F(FileAddersTest, OverlongPathsAreRefusedNotCut) {
    // A remembered folder the dialog's buffer cannot hold: the dialog starts where it chooses.
    settings.WriteSettingString("Option", "LastFolder", "D:\\" + std::string(300, 'f') + "\\");
    const std::string folder = "D:\\" + std::string(250, 'f');
    openDialog.script(FakeOpenFileDialog::multiple(folder, {"a.avi", "long-name.avi", "b.avi"}));

    adders.OnAddAvi();

    EXPECT_EQ(openDialog.requests()[0].fields.initialDir, "");
    // folder + "\" + name is 259 characters for a.avi and b.avi, more for the middle one.
    EXPECT_EQ(filter.asked(), (Paths{folder + "\\a.avi", folder + "\\b.avi"}));
    EXPECT_EQ(Entries(), filter.asked());
    EXPECT_EQ(appBox.texts(),
              Paths{folder + "\\long-name.avi is too long a path. It can not be merged."});
}

TEST_F(FileAddersTest, FullListTakesNoMoreAndSaysSoOncePerCommand) {
    for (int i = 0; i < MAX_LIST_FILES - 1; ++i)
        list.AppendListEntry("D:\\v\\x.avi");
    openDialog.script(FakeOpenFileDialog::multiple("D:\\clips", {"a.avi", "b.avi", "c.avi"}));
    adders.OnAddAvi();

    EXPECT_EQ(list.count(), MAX_LIST_FILES);
    EXPECT_EQ(list.path(MAX_LIST_FILES - 1), "D:\\clips\\a.avi");
    EXPECT_EQ(filter.asked(), Paths{"D:\\clips\\a.avi"});
    EXPECT_EQ(appBox.texts(), Paths{kListFullText});
    EXPECT_EQ(listView.rowCount(), MAX_LIST_FILES);

    appBox.clear();
    attributes.set("D:\\v\\d.avi", kFileAttributeArchive);
    FakeDroppedNames drop({"D:\\v\\d.avi", "D:\\v\\d.avi"});
    adders.OnDropFiles(drop);
    EXPECT_EQ(list.count(), MAX_LIST_FILES);
    EXPECT_EQ(appBox.texts(), Paths{kListFullText});
}

TEST_F(FileAddersTest, DropsPassTheAttributeAndNameTestsBeforeTheFilter) {
    attributes.set("D:\\v\\CLIP.AVI", kFileAttributeArchive);
    attributes.set("D:\\v\\clip.avi.txt", kFileAttributeArchive | 0x1);
    attributes.set("D:\\my.avi\\folder", kFileAttributeDirectory);
    attributes.set("D:\\v\\unarchived.avi", 0x1);  // read-only, archive bit cleared
    attributes.set("D:\\v\\clip.mpg", kFileAttributeArchive);
    attributes.set("D:\\v\\refused.avi", kFileAttributeArchive);
    filter.refuse("D:\\v\\refused.avi");
    settings.WriteSettingString("Option", "LastFolder", "F:\\before\\");
    registry.clearCalls();
    FakeDroppedNames drop({"D:\\v\\CLIP.AVI", "D:\\v\\unarchived.avi", "D:\\v\\missing.avi",
                           "D:\\v\\clip.avi.txt", "D:\\v\\clip.mpg", "D:\\my.avi\\folder",
                           "D:\\v\\refused.avi"});

    adders.OnDropFiles(drop);

    EXPECT_EQ(filter.asked(), (Paths{"D:\\v\\CLIP.AVI", "D:\\v\\clip.avi.txt", "D:\\my.avi\\folder",
                                     "D:\\v\\refused.avi"}));
    EXPECT_EQ(Entries(), (Paths{"D:\\v\\CLIP.AVI", "D:\\v\\clip.avi.txt", "D:\\my.avi\\folder"}));
    EXPECT_EQ(listView.texts(), (Paths{"CLIP.AVI", "clip.avi.txt", "folder"}));
    EXPECT_TRUE(appBox.texts().empty());
    EXPECT_TRUE(registry.calls().empty());  // dropping neither reads nor writes LastFolder
    EXPECT_EQ(drop.releases(), 1);
    EXPECT_FALSE(drop.usedAfterRelease());
}

TEST(SelectedPathsTest, ReadsOnlyWhatTheBufferHolds) {
    struct Case {
        const char* name;
        std::string buffer;  // the whole buffer, no more
        std::uint16_t fileOffset;
        Paths paths;
    };
    const Case cases[] = {
        {"one file", std::string("D:\\a.avi\0", 9), 3, {"D:\\a.avi"}},
        {"empty", std::string("\0\0", 2), 0, {}},
        {"no terminator at all", "D:\\a.avi", 3, {}},
        {"names end at the empty name",
         std::string("D:\\v\0a\0b\0\0c\0", 13),
         5,
         {"D:\\v\\a", "D:\\v\\b"}},
        {"a last name cut by the buffer end is dropped",
         std::string("D:\\v\0a\0bb", 9),
         5,
         {"D:\\v\\a"}},
        {"offset past the buffer", std::string("D:\\v\0", 5), 5, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SelectedPaths(std::vector<char>(c.buffer.begin(), c.buffer.end()), c.fileOffset),
                  c.paths);
    }
}

}  // namespace
}  // namespace vantrel
