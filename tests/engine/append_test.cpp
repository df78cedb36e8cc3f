// Appending files through the AVI clipboard, and whole joins written to disk.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/append_via_clipboard.h"
#include "engine/save_base_set.h"
#include "engine_test_support.h"

namespace vantrel::testing {
namespace {

using AppendTest = EngineTest;
using Samples = std::vector<std::vector<std::uint8_t>>;

constexpr std::uint32_t V = streamtypeVIDEO;
constexpr std::uint32_t A = streamtypeAUDIO;
constexpr std::uint32_t T = streamtypeTEXT;

FixtureStream OfType(std::uint32_t type, int chunks) {
    return type == V ? Video(chunks) : type == A ? Audio(chunks) : Text(chunks);
}

// Every sample of stream `index` of `path`, one by one.
Samples ReadSamples(const std::string& path, std::int32_t index) {
    Samples samples;
    PAVIFILE file = nullptr;
    if (AVIFileOpenA(&file, path.c_str(), OF_READ, nullptr) != AVIERR_OK)
        return samples;
    PAVISTREAM stream = nullptr;
    if (AVIFileGetStream(file, &stream, 0, index) == AVIERR_OK) {
        for (std::int32_t position = 0; position < AVIStreamLength(stream); ++position) {
            std::int32_t bytes = 0;
            AVIStreamRead(stream, position, 1, nullptr, 0, &bytes, nullptr);
            std::vector<std::uint8_t> sample(static_cast<std::size_t>(bytes));
            AVIStreamRead(stream, position, 1, sample.data(), bytes, nullptr, nullptr);
            samples.push_back(std::move(sample));
        }
        AVIStreamRelease(stream);
    }
    AVIFileRelease(file);
    return samples;
}

TEST_F(AppendTest, JoinedFileHoldsEveryInputsSamplesInOrder) {
    const std::vector<std::string> inputs = {
        makeFile({Video(3), Audio(2)}, 1),
        makeFile({Video(2), Audio(4)}, 2),
        makeFile({Video(4), Audio(1)}, 3),
    };
    ASSERT_EQ(LoadBaseFile(kNoWindow, inputs[0].c_str()), 1);
    EXPECT_EQ(AppendFileViaClipboard(kNoWindow, inputs[1].c_str()), 1);
    EXPECT_EQ(baseLengths(), (std::vector<std::int32_t>{5, 6 * 441}));
    EXPECT_EQ(AppendFileViaClipboard(kNoWindow, inputs[2].c_str()), 1);
    const std::string output = outputPath();
    EXPECT_EQ(SaveBaseSet(kNoWindow, output.c_str()), 1);
    EXPECT_TRUE(m_boxes.calls().empty());

    for (std::int32_t stream : {0, 1}) {
        SCOPED_TRACE(stream);
        Samples expected;
        for (const std::string& input : inputs) {
            const Samples part = ReadSamples(input, stream);
            expected.insert(expected.end(), part.begin(), part.end());
        }
        EXPECT_EQ(ReadSamples(output, stream), expected);
    }
}

// The clipboard's streams are matched to source streams by two cursors, one for video and one
// for every other type, each moving forward only.
TEST_F(AppendTest, ClipboardStreamsMeetSourceStreamsOfTheirOwnType) {
    struct Case {
        const char* name;
        std::vector<std::uint32_t> source;
        std::vector<std::uint32_t> clipboard;
        std::vector<int> pastedInto;  // per clipboard stream: base index, or -1
    };
    const Case cases[] = {
        {"video, audio", {V, A}, {V, A}, {0, 1}},
        {"audio, video, text", {A, V, T}, {A, V, T}, {0, 1, 2}},
        {"cursors independent", {V, A}, {A, V}, {1, 0}},
        {"other type behind the cursor", {A, T}, {T, A}, {1, -1}},
        {"no later stream of the class", {T, A}, {A, T, A}, {1, -1, -1}},
        {"unknown type skipped, video still met", {V}, {T, V}, {-1, 0}},
        {"more videos than the source", {V, V}, {V, V, V}, {0, 1, -1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_boxes.clear();
        std::vector<FixtureStream> sourceStreams;
        for (std::uint32_t type : c.source)
            sourceStreams.push_back(OfType(type, 2));
        const std::string sourcePath = makeFile(sourceStreams);
        std::vector<FixtureStream> clipStreams;
        for (std::size_t i = 0; i < c.clipboard.size(); ++i)  // lengths tell them apart
            clipStreams.push_back(OfType(c.clipboard[i], static_cast<int>(i) + 1));
        const std::string clipPath = makeFile(clipStreams, 7);

        ASSERT_EQ(LoadBaseFile(kNoWindow, sourcePath.c_str()), 1);
        ASSERT_EQ(OpenSourceFile(sourcePath.c_str()), 1);
        for (std::int32_t j = 0; j < GetWorkspace().SourceSet.count; ++j)
            GetWorkspace().SourceSet.start[j] = 0;  // as the copy step leaves them
        const std::vector<std::int32_t> before = baseLengths();

        PAVIFILE clipFile = nullptr;
        ASSERT_EQ(AVIFileOpenA(&clipFile, clipPath.c_str(), OF_READ, nullptr), AVIERR_OK);
        std::vector<std::int32_t> expected = before;
        const std::vector<std::int32_t> clipLengths = FileStreamLengths(clipPath);
        for (std::size_t i = 0; i < c.pastedInto.size(); ++i) {
            if (c.pastedInto[i] >= 0)
                expected[static_cast<std::size_t>(c.pastedInto[i])] += clipLengths[i];
        }
        PasteClipboardStreams(clipFile);
        ReleaseSourceSet();

        EXPECT_EQ(baseLengths(), expected);
        EXPECT_TRUE(m_boxes.calls().empty());
    }
}

TEST_F(AppendTest, EmptySourceStreamTakesTheBaseStreamOfItsIndexOut) {
    struct Case {
        const char* name;
        std::vector<FixtureStream> base;
        std::vector<FixtureStream> appended;
        std::vector<std::uint32_t> types;
        std::vector<std::int32_t> lengths;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        // Base stream 1 goes; the empty audio copy then meets the text stream now at index 1,
        // and the text copy meets no live base stream.
        {"middle index",
         {Video(2), Audio(2), Text(2)},
         {Video(3), Audio(0), Text(3)},
         {V, T},
         {5, 2},
         {"Cannot paste into this stream"}},
        {"index past the base set removes nothing", {Video(2)}, {Video(3), Audio(0)}, {V}, {5}, {}},
        {"stream past the base set is left out", {Video(2)}, {Video(3), Audio(2)}, {V}, {5}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_boxes.clear();
        ASSERT_EQ(LoadBaseFile(kNoWindow, makeFile(c.base).c_str()), 1);
        EXPECT_EQ(AppendFileViaClipboard(kNoWindow, makeFile(c.appended, 2).c_str()), 1);
        EXPECT_EQ(baseTypes(), c.types);
        EXPECT_EQ(baseLengths(), c.lengths);
        EXPECT_EQ(m_boxes.texts(), c.messages);
        for (std::int32_t i = 0; i < base().count; ++i)  // the options went with the streams
            EXPECT_EQ(base().optionPointers[i]->fccType, c.types[static_cast<std::size_t>(i)]);
    }
}

TEST_F(AppendTest, OnlyTheFirst25StreamsOfAFileAreAppended) {
    const std::vector<FixtureStream> streams(26, Video(2));
    ASSERT_EQ(LoadBaseFile(kNoWindow, makeFile(streams).c_str()), 1);
    m_boxes.clear();

    EXPECT_EQ(AppendFileViaClipboard(kNoWindow, makeFile(streams, 2).c_str()), 1);
    EXPECT_EQ(m_boxes.texts(), std::vector<std::string>{"Exceeded maximum number of streams"});
    EXPECT_EQ(baseLengths(), std::vector<std::int32_t>(25, 4));
}

TEST_F(AppendTest, StreamThatCannotBeCopiedIsLeftOutAndTheOthersGoOn) {
    ASSERT_EQ(LoadBaseFile(kNoWindow, makeFile({Video(2), Audio(2)}).c_str()), 1);
    int call = 0;
    AviCalls().editStreamCopy = [&](PAVISTREAM stream, std::int32_t* start, std::int32_t* length,
                                    PAVISTREAM* result) {
        return call++ == 0 ? AVIERR_MEMORY : EditStreamCopy(stream, start, length, result);
    };

    EXPECT_EQ(AppendFileViaClipboard(kNoWindow, makeFile({Video(3), Audio(3)}, 2).c_str()), 1);
    EXPECT_EQ(m_boxes.texts(), std::vector<std::string>{"Error copying stream"});
    EXPECT_EQ(baseLengths(), (std::vector<std::int32_t>{2, 5 * 441}));
}

// When this append put nothing on the clipboard, the file still there is an earlier append's;
// pasting it would join that file a second time.
TEST_F(AppendTest, AppendThatPutNothingOnTheClipboardPastesNothing) {
    struct Case {
        const char* name;
        bool failCopies;
        bool failPut;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"no copy made", true, false, {"Error copying stream", "Error copying stream"}},
        {"put refused", false, true, {"Couldn't put streams on clipboard"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_boxes.clear();
        ASSERT_EQ(LoadBaseFile(kNoWindow, makeFile({Video(2), Audio(2)}).c_str()), 1);
        ASSERT_EQ(AppendFileViaClipboard(kNoWindow, makeFile({Video(3), Audio(3)}, 2).c_str()), 1);
        ASSERT_EQ(baseLengths(), (std::vector<std::int32_t>{5, 5 * 441}));

        if (c.failCopies) {
            AviCalls().editStreamCopy = [](PAVISTREAM, std::int32_t*, std::int32_t*, PAVISTREAM*) {
                return AVIERR_MEMORY;
            };
        }
        if (c.failPut)
            AviCalls().putFileOnClipboard = [](PAVIFILE) { return AVIERR_MEMORY; };
        EXPECT_EQ(AppendFileViaClipboard(kNoWindow, makeFile({Video(4), Audio(4)}, 3).c_str()), 1);
        EXPECT_EQ(baseLengths(), (std::vector<std::int32_t>{5, 5 * 441}));
        EXPECT_EQ(m_boxes.texts(), c.messages);
        AviCalls() = EngineAviCalls{};
    }
}

TEST_F(AppendTest, FileWithoutStreamsToTakeLeavesTheBaseSetAlone) {
    ASSERT_EQ(LoadBaseFile(kNoWindow, makeFile({Video(2), Audio(2)}).c_str()), 1);
    for (const std::string& path : {outputPath("missing.avi"), makeFile({})}) {
        SCOPED_TRACE(path);
        m_boxes.clear();
        EXPECT_EQ(AppendFileViaClipboard(kNoWindow, path.c_str()), 0);
        EXPECT_EQ(m_boxes.texts(), std::vector<std::string>{"Unable to open '" + path + "'"});
        EXPECT_EQ(baseLengths(), (std::vector<std::int32_t>{2, 2 * 441}));
    }
}

TEST_F(AppendTest, StreamOfAnotherRateIsRefusedByThePaste) {
    ASSERT_EQ(LoadBaseFile(kNoWindow, makeFile({Video(2), Audio(2)}).c_str()), 1);
    const std::string faster = makeFile({Video(3, avitest::FourCC("MJPG"), 30), Audio(3)}, 2);

    EXPECT_EQ(AppendFileViaClipboard(kNoWindow, faster.c_str()), 1);
    EXPECT_EQ(m_boxes.texts(), std::vector<std::string>{"Cannot paste into this stream"});
    EXPECT_EQ(baseLengths(), (std::vector<std::int32_t>{2, 5 * 441}));
}

}  // namespace
}  // namespace vantrel::testing
