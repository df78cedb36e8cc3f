// The probe and the compatibility rule over files made by the test builder.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "avi_builder.h"
#include "engine/avi_calls.h"
#include "fake_message_box.h"
#include "fake_wait_cursor.h"
#include "filelist/compat_rule.h"
#include "filelist/probe.h"
#include "fixture_files.h"

namespace vantrel {
namespace {

using testing::Audio;
using testing::FixtureStream;
using testing::Text;
using testing::Video;

constexpr WindowId kDialog = 0x4242;
const std::string kErrorText =
    "The program does not open the avi file. Please install the appropriate avi decoder.\n"
    " Or the avi file is corrupt.";
const std::string kStreamNumber =
    " has the different stream number with previous avi files. It can not be merged.";
const std::string kFormat =
    " has the different format with previous avi files. It can not be merged.";

class ListCount final : public ListCountSource {
public:
    int count() const override { return m_count; }
    int m_count = 0;
};

class CompatRuleTest : public ::testing::Test {
protected:
    CompatRuleTest() { m_boxes.watchCursor(&m_cursor); }
    ~CompatRuleTest() override { AviCalls() = EngineAviCalls{}; }

    std::string makeFile(const std::vector<FixtureStream>& streams) {
        m_files.push_back(std::make_unique<avitest::TempFile>(testing::BuildFile(streams)));
        return m_files.back()->path();
    }
    std::string missingFile() { return makeFile({Video(1)}) + ".missing"; }

    // The check as the adders make it: empty list first, then one entry in the list.
    bool admitInto(int listCount, const std::string& path) {
        m_list.m_count = listCount;
        return m_rule.IsCompatibleCandidate(path);
    }

    ListCount m_list;
    FakeWaitCursor m_cursor;
    FakeMessageBox m_boxes;
    CompatibilityRule m_rule{m_list, m_boxes, m_cursor, kDialog};
    std::vector<std::unique_ptr<avitest::TempFile>> m_files;
};

FixtureStream Framed(FixtureStream stream, std::int16_t left, std::int16_t top, std::int16_t right,
                     std::int16_t bottom) {
    stream.desc.frame[0] = left;
    stream.desc.frame[1] = top;
    stream.desc.frame[2] = right;
    stream.desc.frame[3] = bottom;
    return stream;
}

TEST_F(CompatRuleTest, CandidateMustMatchTheReferenceInCountHandlerAndFrame) {
    const FixtureStream mjpg = Video(2);
    const auto fourcc = [](const char(&text)[5]) { return avitest::FourCC(text); };
    struct Case {
        const char* name;
        std::vector<FixtureStream> reference;
        std::vector<FixtureStream> candidate;
        std::string refusal;  // empty: admitted
    };
    FixtureStream subtitleLikeVideo = Framed(Text(2), 0, 0, 64, 48);
    subtitleLikeVideo.desc.handler = fourcc("MJPG");
    const Case cases[] = {
        {"same streams", {mjpg, Audio(2)}, {Video(5), Audio(7)}, ""},
        {"other frame rate", {mjpg, Audio(2)}, {Video(2, fourcc("MJPG"), 30), Audio(2)}, ""},
        {"other audio format", {mjpg, Audio(2)}, {mjpg, Audio(2, 22050)}, ""},
        {"stream types are not compared", {mjpg}, {subtitleLikeVideo}, ""},
        {"other handler", {mjpg, Audio(2)}, {Video(2, fourcc("XVID")), Audio(2)}, kFormat},
        {"handler in other letter case", {mjpg}, {Video(2, fourcc("mjpg"))}, kFormat},
        {"other frame size", {mjpg}, {Video(2, fourcc("MJPG"), 25, 64, 50)}, kFormat},
        {"frame moved", {mjpg}, {Framed(mjpg, 1, 0, 64, 48)}, kFormat},
        {"streams swapped", {mjpg, Audio(2)}, {Audio(2), mjpg}, kFormat},
        {"one stream more", {mjpg, Audio(2)}, {mjpg, Audio(2), Audio(2)}, kStreamNumber},
        {"one stream fewer", {mjpg, Audio(2)}, {mjpg}, kStreamNumber},
        {"other handler and count", {mjpg}, {Video(2, fourcc("XVID")), Audio(2)}, kStreamNumber},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_boxes.clear();
        ASSERT_TRUE(admitInto(0, makeFile(c.reference)));
        const std::string candidate = makeFile(c.candidate);

        EXPECT_EQ(admitInto(1, candidate), c.refusal.empty());
        if (c.refusal.empty()) {
            EXPECT_TRUE(m_boxes.calls().empty());
        } else {
            ASSERT_EQ(m_boxes.calls().size(), 1u);
            const FakeMessageBox::Call& box = m_boxes.calls()[0];
            EXPECT_EQ(box.text, candidate + c.refusal);
            EXPECT_EQ(box.owner, kDialog);
            EXPECT_EQ(box.caption, "Warning");
            EXPECT_EQ(box.flags, kMbOk);
            EXPECT_EQ(box.cursorDepth, 0);  // the hourglass is gone before the warning
        }
        EXPECT_EQ(m_cursor.depth(), 0);
    }
}

TEST_F(CompatRuleTest, FileThatDoesNotOpenIsRefusedWithTheErrorBoxOnly) {
    const std::string reference = makeFile({Video(2), Audio(2)});
    for (int listCount : {0, 1}) {
        SCOPED_TRACE(listCount);
        m_boxes.clear();
        if (listCount == 1) {
            ASSERT_TRUE(admitInto(0, reference));
        }

        EXPECT_FALSE(admitInto(listCount, missingFile()));
        ASSERT_EQ(m_boxes.calls().size(), 1u);
        const FakeMessageBox::Call& box = m_boxes.calls()[0];
        EXPECT_EQ(box.text, kErrorText);
        EXPECT_EQ(box.owner, kDialog);  // so no second check can start while it is open
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.flags, kMbOk);
        EXPECT_EQ(box.cursorDepth, 1);  // shown during the check
        EXPECT_EQ(m_cursor.depth(), 0);
    }
    // Refused into the empty list, it left no reference: the next file becomes it.
    m_boxes.clear();
    EXPECT_FALSE(admitInto(0, missingFile()));
    EXPECT_EQ(ReferenceTable.count, 0);
    EXPECT_TRUE(admitInto(0, makeFile({Video(2, avitest::FourCC("XVID"))})));
    EXPECT_TRUE(admitInto(1, makeFile({Video(3, avitest::FourCC("XVID"))})));
    EXPECT_FALSE(admitInto(1, reference));
}

TEST_F(CompatRuleTest, UnreadableHeaderStillCountsAndRefusesTheFile) {
    const std::string path = makeFile({Video(2), Audio(2), Audio(2)});
    for (int listCount : {0, 1}) {
        SCOPED_TRACE(listCount);
        if (listCount == 1) {
            ASSERT_TRUE(admitInto(0, path));
        }
        m_boxes.clear();
        int call = 0;
        AviCalls().streamInfo = [&](PAVISTREAM stream, AVISTREAMINFOA* info, std::int32_t size) {
            return ++call == 3 ? AVIERR_FILEREAD : AVIStreamInfoA(stream, info, size);
        };

        EXPECT_FALSE(admitInto(listCount, path));
        EXPECT_EQ(m_boxes.texts(), std::vector<std::string>{kErrorText});
        EXPECT_EQ((listCount == 0 ? ReferenceTable : CandidateTable).count, 3);
        AviCalls() = EngineAviCalls{};
    }
}

TEST_F(CompatRuleTest, ProbeReadsTheFirst25Streams) {
    const std::vector<FixtureStream> streams(30, Video(1));
    HeaderTable table{};
    EXPECT_TRUE(ProbeAviFile(makeFile(streams).c_str(), table, m_boxes, kDialog));
    EXPECT_EQ(table.count, 25);
    EXPECT_EQ(table.headers[24].fccHandler, avitest::FourCC("MJPG"));
    EXPECT_TRUE(m_boxes.calls().empty());
}

}  // namespace
}  // namespace vantrel
