// Saving the base set: the ANSI or the wide save by platform, the text of every save error, and
// the options records as they were before the save.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/save_base_set.h"
#include "engine_test_support.h"

namespace vantrel::testing {
namespace {

using SaveTest = EngineTest;

struct SaveRecord {
    bool wide = false;
    std::string narrowPath;
    std::u16string widePath;
    std::int32_t count = -1;
};

// Both saves answer `result` and record how they were called.
void FakeSaves(SaveRecord* record, AviResult result) {
    AviCalls().saveVA = [=](const char* path, const void*, AVISAVECALLBACK, std::int32_t count,
                            PAVISTREAM*, AVICOMPRESSOPTIONS**) {
        *record = SaveRecord{false, path, {}, count};
        return result;
    };
    AviCalls().saveVW = [=](const char16_t* path, const void*, AVISAVECALLBACK, std::int32_t count,
                            PAVISTREAM*, AVICOMPRESSOPTIONS**) {
        *record = SaveRecord{true, {}, path, count};
        return result;
    };
}

TEST_F(SaveTest, EveryFailureIsNamedAndReportedToTheCaller) {
    struct Case {
        AviResult result;
        std::string shown;
    };
    const Case cases[] = {
        {AVIERR_UNSUPPORTED, "AVIERR_UNSUPPORTED"},
        {AVIERR_BADFORMAT, "AVIERR_BADFORMAT"},
        {AVIERR_MEMORY, "AVIERR_MEMORY"},
        {AVIERR_INTERNAL, "AVIERR_INTERNAL"},
        {AVIERR_BADFLAGS, "AVIERR_BADFLAGS"},
        {AVIERR_BADPARAM, "AVIERR_BADPARAM"},
        {AVIERR_BADSIZE, "AVIERR_BADSIZE"},
        {AVIERR_BADHANDLE, "AVIERR_BADHANDLE"},
        {AVIERR_FILEREAD, "AVIERR_FILEREAD"},
        {AVIERR_FILEWRITE, "AVIERR_FILEWRITE"},
        {AVIERR_FILEOPEN, "Overwriting an AVI file is not possible"},
        {AVIERR_COMPRESSOR, "AVIERR_COMPRESSOR"},
        {AVIERR_NOCOMPRESSOR, "AVIERR_NOCOMPRESSOR"},
        {AVIERR_READONLY, "AVIERR_READONLY"},
        {AVIERR_NODATA, "AVIERR_NODATA"},
        {AVIERR_BUFFERTOOSMALL, "AVIERR_BUFFERTOOSMALL"},
        {AVIERR_CANTCOMPRESS, "AVIERR_CANTCOMPRESS"},
        {AVIERR_USERABORT, "AVIERR_USERABORT"},
        {AVIERR_ERROR, "AVIERR_ERROR"},
        {MakeAviError(118), "Error saving AVI file with unknown error"},
        {MakeAviError(197), "Error saving AVI file with unknown error"},
        {1, "Error saving AVI file with unknown error"},
        {-1, "Error saving AVI file with unknown error"},
    };
    ASSERT_EQ(LoadBaseFile(kNoWindow, makeFile({Video(2), Audio(2)}).c_str()), 1);
    SaveRecord record;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        m_boxes.clear();
        FakeSaves(&record, c.result);
        EXPECT_EQ(SaveBaseSet(kNoWindow, "out.avi"), 0);
        ASSERT_EQ(m_boxes.calls().size(), 1u);
        EXPECT_EQ(m_boxes.calls()[0].text, c.shown);
        EXPECT_EQ(m_boxes.calls()[0].flags, kMbOk | kMbIconWarning | kMbTaskModal);
    }
    m_boxes.clear();
    FakeSaves(&record, AVIERR_OK);
    EXPECT_EQ(SaveBaseSet(kNoWindow, "out.avi"), 1);
    EXPECT_TRUE(m_boxes.calls().empty());
}

TEST_F(SaveTest, PlatformIdentifierPicksTheAnsiOrTheWideSave) {
    ASSERT_EQ(LoadBaseFile(kNoWindow, makeFile({Video(2), Audio(2)}).c_str()), 1);
    const std::string path = "Fil\xC3\xA9 \xE2\x82\xAC.avi";  // "Filé €.avi" in UTF-8
    for (int platform : {0, 1, 2}) {
        SCOPED_TRACE(platform);
        m_system.setPlatformId(platform);
        SaveRecord record;
        FakeSaves(&record, AVIERR_OK);
        EXPECT_EQ(SaveBaseSet(kNoWindow, path.c_str()), 1);
        EXPECT_EQ(record.count, 2);
        EXPECT_EQ(record.wide, platform == 2);
        if (record.wide)
            EXPECT_EQ(record.widePath, u"Fil\u00E9 \u20AC.avi");
        else
            EXPECT_EQ(record.narrowPath, path);
    }
}

TEST_F(SaveTest, EveryHandlerIsPutBackWhateverTheSaveDid) {
    ASSERT_EQ(LoadBaseFile(kNoWindow, makeFile({Video(2), Audio(2), Text(2)}).c_str()), 1);
    base().optionPointers[0]->fccHandler = avitest::FourCC("MJPG");  // its own: still a copy

    // The real save writes each stream's own handler into its record (the audio's is 1); a
    // failing one scribbles.
    const std::string output = outputPath();
    EXPECT_EQ(SaveBaseSet(kNoWindow, output.c_str()), 1);
    ASSERT_EQ(FileStreamLengths(output), (std::vector<std::int32_t>{2, 2 * 441, 2}));
    AviCalls().saveVW = [](const char16_t*, const void*, AVISAVECALLBACK, std::int32_t count,
                           PAVISTREAM*, AVICOMPRESSOPTIONS** options) {
        for (std::int32_t i = 0; i < count; ++i)
            options[i]->fccHandler = 0xDEADBEEF;
        return AVIERR_FILEWRITE;
    };
    EXPECT_EQ(SaveBaseSet(kNoWindow, output.c_str()), 0);

    EXPECT_EQ(base().optionPointers[0]->fccHandler, avitest::FourCC("MJPG"));
    EXPECT_EQ(base().optionPointers[1]->fccHandler, 0u);
    EXPECT_EQ(base().optionPointers[2]->fccHandler, 0u);
}

TEST_F(SaveTest, ExistingOutputIsNotOverwritten) {
    ASSERT_EQ(LoadBaseFile(kNoWindow, makeFile({Video(2)}).c_str()), 1);
    const std::string output = outputPath();
    ASSERT_EQ(SaveBaseSet(kNoWindow, output.c_str()), 1);

    EXPECT_EQ(SaveBaseSet(kNoWindow, output.c_str()), 0);
    EXPECT_EQ(m_boxes.texts(), std::vector<std::string>{"Overwriting an AVI file is not possible"});
}

}  // namespace
}  // namespace vantrel::testing
