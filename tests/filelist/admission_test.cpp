// The adders, the list commands and the compatibility rule together, over real files: the rule
// reads the list's count, so the reference outlives the entry that set it and is taken anew only
// once the list is empty.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "fake_app_message_box.h"
#include "fake_file_attributes.h"
#include "fake_list_view.h"
#include "fake_message_box.h"
#include "fake_open_file_dialog.h"
#include "fake_registry.h"
#include "fake_wait_cursor.h"
#include "filelist/compat_rule.h"
#include "filelist/file_adders.h"
#include "fixture_files.h"

namespace vantrel {
namespace {

using testing::Video;

constexpr WindowId kDialog = 0x4242;
const std::string kDifferentFormat =
    " has the different format with previous avi files. It can not be merged.";

class AdmissionTest : public ::testing::Test {
protected:
    AdmissionTest() {
        settings.SetSettingsKey("QuarnelStudio");
        adders.setMainWindow(kDialog);
    }

    // Before the files that MakeFile puts into it.
    std::vector<std::unique_ptr<avitest::TempFile>> m_files;

    std::string MakeFile(std::uint32_t handler) {
        m_files.push_back(
            std::make_unique<avitest::TempFile>(testing::BuildFile({Video(2, handler)})));
        return m_files.back()->path();
    }
    bool Add(const std::string& path) {
        const int before = list.count();
        boxes.clear();
        openDialog.script(FakeOpenFileDialog::single(path));
        adders.OnAddAvi();
        return list.count() == before + 1;
    }

    const std::string mjpg = MakeFile(avitest::FourCC("MJPG"));
    const std::string mjpg2 = MakeFile(avitest::FourCC("MJPG"));
    const std::string divx = MakeFile(avitest::FourCC("DIVX"));

    FileList list;
    FakeListView listView;
    FakeAppMessageBox appBox;
    SingleByteCodePage codePage;
    FileListCommands commands{list, listView, appBox, codePage};
    FakeRegistry registry;
    SettingsStore settings{registry, "AVIVantrel"};
    FakeMessageBox boxes;
    FakeWaitCursor cursor;
    CompatibilityRule rule{list, boxes, cursor, kDialog};
    FakeOpenFileDialog openDialog;
    FakeFileAttributes attributes;
    FileAdders adders{list, commands, {rule, settings, openDialog, attributes, appBox, codePage}};
};

TEST_F(AdmissionTest, ReferenceOutlivesTheDeletedEntryThatSetIt) {
    ASSERT_TRUE(Add(mjpg));
    ASSERT_TRUE(Add(mjpg2));
    listView.setSelected(0, true);
    commands.OnDelete();
    ASSERT_EQ(list.count(), 1);

    EXPECT_FALSE(Add(divx));
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].text, divx + kDifferentFormat);
    EXPECT_EQ(boxes.calls()[0].owner, kDialog);
    EXPECT_TRUE(Add(mjpg));
    EXPECT_EQ(cursor.depth(), 0);
}

TEST_F(AdmissionTest, EmptiedListTakesTheNextFileAsReference) {
    // Emptied by Clear, or by Delete with every row selected.
    for (const bool byDelete : {false, true}) {
        SCOPED_TRACE(byDelete ? "Delete of every row" : "Clear");
        commands.OnClear();
        ASSERT_TRUE(Add(mjpg));
        ASSERT_TRUE(Add(mjpg2));
        if (byDelete) {
            for (int row = 0; row < listView.rowCount(); ++row)
                listView.setSelected(row, true);
            commands.OnDelete();
        } else {
            commands.OnClear();
        }
        ASSERT_EQ(list.count(), 0);

        EXPECT_TRUE(Add(divx));
        EXPECT_FALSE(Add(mjpg));
        ASSERT_EQ(boxes.calls().size(), 1u);
        EXPECT_EQ(boxes.calls()[0].text, mjpg + kDifferentFormat);
    }
}

}  // namespace
}  // namespace vantrel
