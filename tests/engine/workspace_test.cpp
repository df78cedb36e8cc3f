// Loading the base file, its default save options, removing base streams, the engine's start.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine_test_support.h"

namespace vantrel::testing {
namespace {

using WorkspaceTest = EngineTest;

std::vector<FixtureStream> Videos(int count) {
    return std::vector<FixtureStream>(static_cast<std::size_t>(count), Video(2));
}

TEST_F(WorkspaceTest, LoadsUpTo25StreamsAndSaysSoWhenThereAreMore) {
    struct Case {
        int streams;
        std::int32_t loaded;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {1, 1, {}},
        {25, 25, {}},
        {26, 25, {"Exceeded maximum number of streams"}},
        {30, 25, {"Exceeded maximum number of streams"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.streams);
        m_boxes.clear();
        const std::string path = makeFile(Videos(c.streams));
        EXPECT_EQ(LoadBaseFile(kNoWindow, path.c_str()), 1);
        EXPECT_EQ(base().count, c.loaded);
        EXPECT_EQ(m_boxes.texts(), c.messages);
        for (const FakeMessageBox::Call& call : m_boxes.calls()) {
            EXPECT_EQ(call.owner, kNoWindow);
            EXPECT_FALSE(call.caption.has_value());
            EXPECT_EQ(call.flags, kMbOk | kMbIconWarning | kMbTaskModal);
        }
    }
}

TEST_F(WorkspaceTest, FileThatDoesNotOpenLeavesTheLoadedBaseSet) {
    ASSERT_EQ(LoadBaseFile(kNoWindow, makeFile({Video(2), Audio(3)}).c_str()), 1);
    const PAVISTREAM first = base().streams[0];
    const std::string missing = outputPath("missing.avi");

    EXPECT_EQ(LoadBaseFile(kNoWindow, missing.c_str()), 0);
    EXPECT_EQ(m_boxes.texts(), std::vector<std::string>{"Unable to open '" + missing + "'"});
    EXPECT_EQ(base().count, 2);
    EXPECT_EQ(base().streams[0], first);
    EXPECT_EQ(baseLengths(), (std::vector<std::int32_t>{2, 3 * 441}));
}

// A file that opens but yields no stream still empties the base set loaded before it.
TEST_F(WorkspaceTest, StreamThatCannotBeMadeEditableEndsTheLoad) {
    struct Case {
        int failingStream;
        int result;
        std::int32_t loaded;
        std::vector<std::string> messages;
    };
    const std::string path = makeFile({Video(2), Audio(2), Text(1)});
    const Case cases[] = {
        {2, 1, 2, {"CreateEditableStream is wrong!"}},
        {0, 0, 0, {"CreateEditableStream is wrong!", "Unable to open '" + path + "'"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failingStream);
        m_boxes.clear();
        int call = 0;
        AviCalls().createEditableStream = [&](PAVISTREAM* editable, PAVISTREAM source) {
            return call++ == c.failingStream ? AVIERR_MEMORY
                                             : CreateEditableStream(editable, source);
        };
        EXPECT_EQ(LoadBaseFile(kNoWindow, path.c_str()), c.result);
        EXPECT_EQ(base().count, c.loaded);
        EXPECT_EQ(m_boxes.texts(), c.messages);
    }
}

TEST_F(WorkspaceTest, DefaultSaveOptionsCopyEveryStreamAndKeepTheAudioFormat) {
    FixtureStream silent = Audio(0);
    silent.desc.format.clear();  // an audio stream without a format
    ASSERT_EQ(LoadBaseFile(kNoWindow, makeFile({Video(2), Audio(2), Text(1), silent}).c_str()), 1);
    ASSERT_EQ(base().count, 4);

    const AVICOMPRESSOPTIONS& video = *base().optionPointers[0];
    EXPECT_EQ(video.fccType, streamtypeVIDEO);
    EXPECT_EQ(video.fccHandler, 0u);
    EXPECT_EQ(video.dwKeyFrameEvery, 0xFFFFFFFFu);
    EXPECT_EQ(video.dwQuality, 0xFFFFFFFFu);
    EXPECT_EQ(video.dwBytesPerSecond, 0u);
    EXPECT_EQ(video.dwFlags, 0xEu);
    EXPECT_EQ(video.dwInterleaveEvery, 1u);
    EXPECT_EQ(video.lpFormat, nullptr);

    const AVICOMPRESSOPTIONS& audio = *base().optionPointers[1];
    const std::vector<std::uint8_t> wave = avitest::PcmAudioStream().format;
    EXPECT_EQ(audio.fccType, streamtypeAUDIO);
    EXPECT_EQ(audio.dwFlags, AVICOMPRESSF_VALID);
    EXPECT_EQ(audio.dwInterleaveEvery, 1u);
    ASSERT_EQ(audio.cbFormat, wave.size());
    ASSERT_NE(audio.lpFormat, nullptr);
    EXPECT_EQ(std::memcmp(audio.lpFormat, wave.data(), wave.size()), 0);

    AVICOMPRESSOPTIONS textOnly{};
    textOnly.fccType = streamtypeTEXT;
    EXPECT_EQ(std::memcmp(base().optionPointers[2], &textOnly, sizeof textOnly), 0);

    const AVICOMPRESSOPTIONS& noFormat = *base().optionPointers[3];
    EXPECT_EQ(noFormat.cbFormat, 0u);
    EXPECT_EQ(noFormat.lpFormat, nullptr);
}

TEST_F(WorkspaceTest, RemovingABaseStreamTakesItsOptionsAlong) {
    ASSERT_EQ(LoadBaseFile(kNoWindow, makeFile({Video(2), Audio(3), Text(4)}).c_str()), 1);
    AVICOMPRESSOPTIONS* const audioOptions = base().optionPointers[1];
    AVICOMPRESSOPTIONS* const textOptions = base().optionPointers[2];
    ASSERT_NE(audioOptions->lpFormat, nullptr);

    for (std::int32_t outside : {-1, 3, 25}) {
        RemoveBaseStream(outside);
        EXPECT_EQ(base().count, 3) << outside;
    }

    RemoveBaseStream(1);
    EXPECT_EQ(baseTypes(), (std::vector<std::uint32_t>{streamtypeVIDEO, streamtypeTEXT}));
    EXPECT_EQ(baseLengths(), (std::vector<std::int32_t>{2, 4}));
    EXPECT_EQ(base().optionPointers[1], textOptions);
    EXPECT_EQ(base().optionPointers[1]->fccType, streamtypeTEXT);
    EXPECT_EQ(audioOptions->lpFormat, nullptr);  // freed with its stream

    RemoveBaseStream(1);  // the last one: nothing moves
    EXPECT_EQ(baseTypes(), std::vector<std::uint32_t>{streamtypeVIDEO});
    EXPECT_EQ(base().optionPointers[0], &base().options[0]);
    EXPECT_TRUE(m_boxes.calls().empty());
}

TEST_F(WorkspaceTest, SecondLoadReplacesTheFirstFilesStreamsAndFormats) {
    ASSERT_EQ(LoadBaseFile(kNoWindow, makeFile({Video(2), Audio(2)}).c_str()), 1);
    ASSERT_EQ(LoadBaseFile(kNoWindow, makeFile({Audio(5, 22050), Video(3)}).c_str()), 1);

    EXPECT_EQ(baseTypes(), (std::vector<std::uint32_t>{streamtypeAUDIO, streamtypeVIDEO}));
    EXPECT_EQ(baseLengths(), (std::vector<std::int32_t>{5 * 441, 3}));
    const std::vector<std::uint8_t> wave = avitest::PcmAudioStream(2, 22050, 16).format;
    ASSERT_EQ(base().optionPointers[0]->cbFormat, wave.size());
    EXPECT_EQ(std::memcmp(base().optionPointers[0]->lpFormat, wave.data(), wave.size()), 0);
    EXPECT_EQ(base().optionPointers[1]->fccType, streamtypeVIDEO);
}

TEST(EngineStart, RefusesAServicesVersionBelow1_10) {
    struct Case {
        std::uint32_t version;
        int started;
    };
    for (const Case c :
         {Case{0x01090000u, 0}, Case{0x0109FFFFu, 0}, Case{0x010A0000u, 1}, Case{0x02000000u, 1}}) {
        SCOPED_TRACE(c.version);
        FakeMessageBox boxes;
        BuiltinStringTable strings;
        FakeSystem system;
        SetEnginePorts(EnginePorts{&boxes, &strings, &system});
        AviCalls().videoForWindowsVersion = [&] { return c.version; };

        EXPECT_EQ(StartEngine(0), c.started);
        if (c.started) {
            EXPECT_TRUE(boxes.calls().empty());
            EXPECT_EQ(system.beeps(), 0);
            StopEngine();
        } else {
            ASSERT_EQ(boxes.calls().size(), 1u);
            const FakeMessageBox::Call& box = boxes.calls()[0];
            EXPECT_EQ(box.text, "Video for Windows version is too old");
            EXPECT_EQ(box.caption, "AVIVANTREL Error");
            EXPECT_EQ(box.owner, kNoWindow);
            EXPECT_EQ(box.flags, kMbIconError | kMbOk);
            EXPECT_EQ(system.beeps(), 1);
        }
        AviCalls() = EngineAviCalls{};
        SetEnginePorts(EnginePorts{});
    }
}

TEST_F(WorkspaceTest, TeardownClearsTheClipboardAndEmptiesTheBaseSet) {
    ASSERT_EQ(LoadBaseFile(kNoWindow, makeFile({Video(2), Audio(2)}).c_str()), 1);
    PAVIFILE held = nullptr;
    PAVISTREAM stream = base().streams[0];
    ASSERT_EQ(AVIMakeFileFromStreams(&held, 1, &stream), AVIERR_OK);
    ASSERT_EQ(AVIPutFileOnClipboard(held), AVIERR_OK);
    AVIFileRelease(held);

    EndEngineSession();
    EXPECT_EQ(base().count, 0);
    PAVIFILE fetched = nullptr;
    EXPECT_EQ(AVIGetFromClipboard(&fetched), AVIERR_OK);  // the session end leaves it
    AVIFileRelease(fetched);

    StopEngine();
    EXPECT_NE(AVIGetFromClipboard(&fetched), AVIERR_OK);
    EXPECT_EQ(fetched, nullptr);
    ASSERT_EQ(StartEngine(0), 1);  // for the fixture's own teardown
}

}  // namespace
}  // namespace vantrel::testing
