// The AVI services as the engine and the probe use them: handles, stream information, editing,
// the clipboard and the save entry points, over files made by the test builder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <utility>
#include <vector>

#include "avi_builder.h"
#include "avifile.h"
#include "byte_io.h"

namespace {

using avitest::AviBuilder;
using avitest::FourCC;
using avitest::Payload;

constexpr std::uint32_t kPcmBlock = 4;  // 16-bit stereo

// Video chunks 100 + i bytes (seed 10 + i), audio chunks of 441 samples (seed 20 + i).
std::vector<std::uint8_t> TwoStreamFile(int frames,
                                        avitest::StreamDesc video = avitest::VideoStream(64, 48)) {
    AviBuilder builder;
    const int v = builder.addStream(std::move(video));
    const int a = builder.addStream(avitest::PcmAudioStream());
    for (int i = 0; i < frames; ++i) {
        builder.chunk(v, Payload(100 + i, 10 + i), i == 0);
        builder.chunk(a, Payload(441 * kPcmBlock, 20 + i));
    }
    return builder.build();
}

// Owns a handle for the length of a test.
struct FileHandle {
    PAVIFILE file = nullptr;
    FileHandle() = default;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { AVIFileRelease(file); }
};
struct StreamHandle {
    PAVISTREAM stream = nullptr;
    StreamHandle() = default;
    StreamHandle(StreamHandle&& other) noexcept : stream(std::exchange(other.stream, nullptr)) {}
    StreamHandle& operator=(const StreamHandle&) = delete;
    ~StreamHandle() { AVIStreamRelease(stream); }
};

StreamHandle OpenStream(const std::string& path, std::int32_t index) {
    FileHandle file;
    EXPECT_EQ(AVIFileOpenA(&file.file, path.c_str(), OF_READ, nullptr), AVIERR_OK);
    StreamHandle stream;
    EXPECT_EQ(AVIFileGetStream(file.file, &stream.stream, 0, index), AVIERR_OK);
    return stream;  // the stream keeps what it needs of the file
}

StreamHandle Editable(PAVISTREAM source) {
    StreamHandle editable;
    EXPECT_EQ(CreateEditableStream(&editable.stream, source), AVIERR_OK);
    return editable;
}

std::vector<std::uint8_t> ReadSample(PAVISTREAM stream, std::int32_t position) {
    std::int32_t bytes = 0;
    EXPECT_EQ(AVIStreamRead(stream, position, 1, nullptr, 0, &bytes, nullptr), AVIERR_OK);
    std::vector<std::uint8_t> data(static_cast<std::size_t>(bytes));
    std::int32_t samples = 0;
    EXPECT_EQ(AVIStreamRead(stream, position, 1, data.data(), bytes, &bytes, &samples), AVIERR_OK);
    EXPECT_EQ(samples, 1);
    return data;
}

TEST(AviFileApi, OpensFileAndDescribesEachStream) {
    avitest::TempFile input(TwoStreamFile(3));
    FileHandle file;
    ASSERT_EQ(AVIFileOpenA(&file.file, input.path().c_str(), OF_READ, nullptr), AVIERR_OK);

    StreamHandle video, audio, none, firstAudio;
    ASSERT_EQ(AVIFileGetStream(file.file, &video.stream, 0, 0), AVIERR_OK);
    ASSERT_EQ(AVIFileGetStream(file.file, &audio.stream, 0, 1), AVIERR_OK);
    EXPECT_NE(AVIFileGetStream(file.file, &none.stream, 0, 2), AVIERR_OK);
    EXPECT_EQ(none.stream, nullptr);
    ASSERT_EQ(AVIFileGetStream(file.file, &firstAudio.stream, streamtypeAUDIO, 0), AVIERR_OK);

    AVISTREAMINFOA info;
    std::memset(&info, 0xAB, sizeof info);
    ASSERT_EQ(AVIStreamInfoA(video.stream, &info, sizeof info), AVIERR_OK);
    EXPECT_EQ(info.fccType, streamtypeVIDEO);
    EXPECT_EQ(info.fccHandler, FourCC("MJPG"));
    EXPECT_EQ(info.dwLength, 3u);
    EXPECT_EQ(info.dwRate, 25u);
    EXPECT_EQ(info.rcFrame.right, 64);
    EXPECT_EQ(info.rcFrame.bottom, 48);
    EXPECT_EQ(info.szName[0], '\0');

    ASSERT_EQ(AVIStreamInfoA(firstAudio.stream, &info, sizeof info), AVIERR_OK);
    EXPECT_EQ(info.fccType, streamtypeAUDIO);
    EXPECT_EQ(info.dwSampleSize, kPcmBlock);
    EXPECT_EQ(AVIStreamLength(audio.stream), 3 * 441);
    EXPECT_EQ(AVIStreamStart(audio.stream), 0);

    std::int32_t size = 0;
    ASSERT_EQ(AVIStreamReadFormat(audio.stream, 0, nullptr, &size), AVIERR_OK);
    EXPECT_EQ(size, 18);
    std::vector<std::uint8_t> format(static_cast<std::size_t>(size));
    ASSERT_EQ(AVIStreamReadFormat(audio.stream, 0, format.data(), &size), AVIERR_OK);
    EXPECT_EQ(format, avitest::WaveFormatEx(1, 2, 44100, 4, 16));

    EXPECT_EQ(ReadSample(video.stream, 2), Payload(102, 12));
    // Fixed-size samples are read as many as lie in one chunk and fit the buffer.
    std::vector<std::uint8_t> pcm(1000 * kPcmBlock);
    std::int32_t bytes = 0, samples = 0;
    ASSERT_EQ(AVIStreamRead(audio.stream, 441 + 1, 1000, pcm.data(),
                            static_cast<std::int32_t>(pcm.size()), &bytes, &samples),
              AVIERR_OK);
    EXPECT_EQ(samples, 440);
    const std::vector<std::uint8_t> chunk = Payload(441 * kPcmBlock, 21);
    EXPECT_TRUE(std::equal(chunk.begin() + kPcmBlock, chunk.end(), pcm.begin()));
}

TEST(AviFileApi, OpenFailuresNameTheirCause) {
    avitest::TempFile garbage(std::vector<std::uint8_t>(200, 0x5A), "garbage.avi");
    avitest::TempFile good(TwoStreamFile(1));
    struct Case {
        std::string path;
        std::uint32_t mode;
        AviResult expected;
    } cases[] = {
        {good.path() + ".missing", OF_READ, AVIERR_FILEOPEN},
        {std::filesystem::path(good.path()).parent_path().string(), OF_READ, AVIERR_FILEOPEN},
        {garbage.path(), OF_READ, AVIERR_BADFORMAT},
        {good.path(), 0x1001 /* write, create */, AVIERR_READONLY},
    };
    for (const Case& c : cases) {
        PAVIFILE file = reinterpret_cast<PAVIFILE>(1);
        EXPECT_EQ(AVIFileOpenA(&file, c.path.c_str(), c.mode, nullptr), c.expected) << c.path;
        EXPECT_EQ(file, nullptr) << c.path;
    }
}

TEST(AviFileApi, CopyCloneAndPasteSpliceSamplesWithoutTouchingTheSource) {
    avitest::TempFile input(TwoStreamFile(3));
    StreamHandle video = OpenStream(input.path(), 0);
    StreamHandle base = Editable(video.stream);

    // A copy of frames 1..2, with a length past the end clamped to what is there.
    std::int32_t start = 1, length = 10;
    StreamHandle copy;
    ASSERT_EQ(EditStreamCopy(base.stream, &start, &length, &copy.stream), AVIERR_OK);
    EXPECT_EQ(start, 1);
    EXPECT_EQ(length, 2);
    EXPECT_EQ(AVIStreamLength(copy.stream), 2);

    StreamHandle clone;
    ASSERT_EQ(EditStreamClone(base.stream, &clone.stream), AVIERR_OK);

    std::int32_t position = AVIStreamLength(base.stream);
    std::int32_t pasted = AVIStreamLength(copy.stream);
    ASSERT_EQ(EditStreamPaste(base.stream, &position, &pasted, copy.stream, 0, pasted), AVIERR_OK);
    EXPECT_EQ(position, 3);
    EXPECT_EQ(pasted, 2);
    EXPECT_EQ(AVIStreamLength(base.stream), 5);
    EXPECT_EQ(ReadSample(base.stream, 3), Payload(101, 11));
    EXPECT_EQ(ReadSample(base.stream, 4), Payload(102, 12));

    // Pasting a stream into itself in the middle.
    position = 1;
    ASSERT_EQ(EditStreamPaste(base.stream, &position, &pasted, base.stream, 0, 1), AVIERR_OK);
    EXPECT_EQ(AVIStreamLength(base.stream), 6);
    EXPECT_EQ(ReadSample(base.stream, 1), Payload(100, 10));
    EXPECT_EQ(ReadSample(base.stream, 2), Payload(101, 11));

    // Neither the clone nor the file's own stream saw any of it.
    EXPECT_EQ(AVIStreamLength(clone.stream), 3);
    EXPECT_EQ(AVIStreamLength(video.stream), 3);
    AVISTREAMINFOA info{};
    ASSERT_EQ(AVIStreamInfoA(base.stream, &info, sizeof info), AVIERR_OK);
    EXPECT_EQ(info.dwLength, 6u);
    EXPECT_EQ(info.dwEditCount, 2u);
}

TEST(AviFileApi, StartDelayStaysInTheHeaderAndCopiesTakeEverySample) {
    avitest::StreamDesc delayed = avitest::PcmAudioStream();
    delayed.start = 100;
    AviBuilder builder;
    const int a = builder.addStream(delayed);
    builder.chunk(a, Payload(300 * kPcmBlock, 1));
    avitest::TempFile input(builder.build());
    StreamHandle audio = OpenStream(input.path(), 0);

    AVISTREAMINFOA info{};
    ASSERT_EQ(AVIStreamInfoA(audio.stream, &info, sizeof info), AVIERR_OK);
    EXPECT_EQ(info.dwStart, 100u);
    std::int32_t start = AVIStreamStart(audio.stream), length = AVIStreamLength(audio.stream);
    StreamHandle copy;
    ASSERT_EQ(EditStreamCopy(audio.stream, &start, &length, &copy.stream), AVIERR_OK);
    EXPECT_EQ(length, 300);
    EXPECT_EQ(AVIStreamLength(copy.stream), 300);
}

TEST(AviFileApi, PasteRefusesStreamsThatWouldPlayWrong) {
    avitest::TempFile reference(TwoStreamFile(1), "reference.avi");
    StreamHandle target = Editable(OpenStream(reference.path(), 0).stream);
    StreamHandle audioTarget = Editable(OpenStream(reference.path(), 1).stream);

    auto video = [](auto change) {
        avitest::StreamDesc desc = avitest::VideoStream(64, 48);
        change(desc);
        return desc;
    };
    struct Case {
        const char* what;
        avitest::StreamDesc video;
        AviResult expected;
    } cases[] = {
        {"same stream", video([](auto&) {}), AVIERR_OK},
        {"same rate written as 50/2", video([](auto& s) { s.rate = 50, s.scale = 2; }), AVIERR_OK},
        {"another image size field",
         video([](auto& s) { avi::StoreLE32(s.format.data() + 20, 12345); }), AVIERR_OK},
        {"another frame rate", video([](auto& s) { s.rate = 30; }), AVIERR_BADFORMAT},
        {"another width", video([](auto& s) { s = avitest::VideoStream(96, 48); }),
         AVIERR_BADFORMAT},
        {"another codec",
         video([](auto& s) { avi::StoreLE32(s.format.data() + 16, FourCC("XVID")); }),
         AVIERR_BADFORMAT},
        {"another bit count", video([](auto& s) { avi::StoreLE16(s.format.data() + 14, 32); }),
         AVIERR_BADFORMAT},
        {"other codec bytes", video([](auto& s) {
             s.format = avitest::BitmapInfoHeader(64, 48, FourCC("MJPG"), 24, {1});
         }),
         AVIERR_BADFORMAT},
        {"a sample size", video([](auto& s) { s.sampleSize = 1; }), AVIERR_BADFORMAT},
    };
    for (const Case& c : cases) {
        avitest::TempFile other(TwoStreamFile(2, c.video), "other.avi");
        StreamHandle source = OpenStream(other.path(), 0);
        const std::int32_t before = AVIStreamLength(target.stream);
        std::int32_t position = before, length = 2;
        EXPECT_EQ(EditStreamPaste(target.stream, &position, &length, source.stream, 0, 2),
                  c.expected)
            << c.what;
        EXPECT_EQ(AVIStreamLength(target.stream), before + (c.expected == AVIERR_OK ? 2 : 0))
            << c.what;
    }

    // Audio formats may differ in their average byte rate only, which variable-bit-rate encoders
    // set per file; the stream header's rate still has to agree.
    {
        avitest::StreamDesc other = avitest::PcmAudioStream();
        avi::StoreLE32(other.format.data() + 8, 12345);
        AviBuilder builder;
        builder.addStream(other);
        builder.chunk(0, Payload(400, 1));
        avitest::TempFile file(builder.build(), "average.avi");
        StreamHandle source = OpenStream(file.path(), 0);
        std::int32_t position = 0, length = 100;
        EXPECT_EQ(EditStreamPaste(audioTarget.stream, &position, &length, source.stream, 0, 100),
                  AVIERR_OK);
    }

    // A video stream never goes into an audio stream, and other audio formats are refused.
    AviBuilder builder;
    const int mono = builder.addStream(avitest::PcmAudioStream(1, 44100, 16));
    builder.chunk(mono, Payload(882, 1));
    avitest::TempFile monoFile(builder.build(), "mono.avi");
    const StreamHandle sources[] = {OpenStream(reference.path(), 0),
                                    OpenStream(monoFile.path(), 0)};
    for (const StreamHandle& source : sources) {
        std::int32_t position = 0, length = 1;
        EXPECT_EQ(EditStreamPaste(audioTarget.stream, &position, &length, source.stream, 0, 1),
                  AVIERR_BADFORMAT);
    }
}

TEST(AviFileApi, PasteNeedsAnEditableTarget) {
    avitest::TempFile input(TwoStreamFile(1));
    StreamHandle plain = OpenStream(input.path(), 0);
    std::int32_t position = 0, length = 1;
    EXPECT_EQ(EditStreamPaste(plain.stream, &position, &length, plain.stream, 0, 1),
              AVIERR_READONLY);
    EXPECT_EQ(AVIStreamLength(plain.stream), 1);
}

TEST(AviFileApi, ClipboardHoldsItsOwnReference) {
    avitest::TempFile input(TwoStreamFile(2));
    StreamHandle video = OpenStream(input.path(), 0);
    StreamHandle copy = Editable(video.stream);

    PAVIFILE memory = nullptr;
    ASSERT_EQ(AVIMakeFileFromStreams(&memory, 1, &copy.stream), AVIERR_OK);
    ASSERT_EQ(AVIPutFileOnClipboard(memory), AVIERR_OK);
    AVIFileRelease(memory);  // the clipboard keeps the file alive

    FileHandle fetched;
    ASSERT_EQ(AVIGetFromClipboard(&fetched.file), AVIERR_OK);
    ASSERT_EQ(fetched.file, memory);
    StreamHandle stream;
    ASSERT_EQ(AVIFileGetStream(fetched.file, &stream.stream, 0, 0), AVIERR_OK);
    EXPECT_EQ(stream.stream, copy.stream);
    EXPECT_EQ(AVIStreamLength(stream.stream), 2);

    ASSERT_EQ(AVIClearClipboard(), AVIERR_OK);
    PAVIFILE empty = reinterpret_cast<PAVIFILE>(1);
    EXPECT_EQ(AVIGetFromClipboard(&empty), AVIERR_NODATA);
    EXPECT_EQ(empty, nullptr);
    EXPECT_EQ(AVIStreamLength(stream.stream), 2);  // still held by `fetched`
}

class AviSave : public ::testing::Test {
protected:
    void SetUp() override {
        m_input = std::make_unique<avitest::TempFile>(TwoStreamFile(4));
        m_output = m_input->path() + ".out.avi";
        for (std::int32_t i = 0; i < 2; ++i) {
            StreamHandle editable = Editable(OpenStream(m_input->path(), i).stream);
            m_streams.push_back(std::exchange(editable.stream, nullptr));
            m_options.push_back(AVICOMPRESSOPTIONS{});
        }
        for (AVICOMPRESSOPTIONS& option : m_options)
            m_pointers.push_back(&option);
    }
    void TearDown() override {
        for (PAVISTREAM stream : m_streams)
            AVIStreamRelease(stream);
        std::filesystem::remove(m_output);
    }
    AviResult save(AVISAVECALLBACK callback = nullptr) {
        return AVISaveVA(m_output.c_str(), nullptr, callback, 2, m_streams.data(),
                         m_pointers.data());
    }

    std::unique_ptr<avitest::TempFile> m_input;
    std::string m_output;
    std::vector<PAVISTREAM> m_streams;
    std::vector<AVICOMPRESSOPTIONS> m_options;
    std::vector<AVICOMPRESSOPTIONS*> m_pointers;
};

TEST_F(AviSave, WritesAFileThatReadsBackSampleForSample) {
    m_options[0].fccHandler = FourCC("MJPG");  // the stream's own handler also means copy
    ASSERT_EQ(save(), AVIERR_OK);
    // The records name the handler each stream was written with.
    EXPECT_EQ(m_options[0].fccHandler, FourCC("MJPG"));

    for (std::int32_t i = 0; i < 2; ++i) {
        StreamHandle in = OpenStream(m_input->path(), i);
        StreamHandle out = OpenStream(m_output, i);
        ASSERT_EQ(AVIStreamLength(out.stream), AVIStreamLength(in.stream));
        for (std::int32_t s = 0; s < AVIStreamLength(in.stream); s += (i == 0 ? 1 : 97)) {
            EXPECT_EQ(ReadSample(out.stream, s), ReadSample(in.stream, s)) << i << ":" << s;
        }
    }
}

TEST_F(AviSave, RefusesAnotherCompressorAndLeavesNoFile) {
    m_options[1].fccHandler = FourCC("MP3 ");
    EXPECT_EQ(save(), AVIERR_NOCOMPRESSOR);
    EXPECT_FALSE(std::filesystem::exists(m_output));
}

TEST_F(AviSave, NeverReplacesAnExistingFile) {
    { std::ofstream(m_output) << "keep me"; }
    EXPECT_EQ(save(), AVIERR_FILEOPEN);
    std::ifstream kept(m_output);
    std::string text;
    std::getline(kept, text);
    EXPECT_EQ(text, "keep me");
}

std::vector<std::int32_t> g_percents;

TEST_F(AviSave, ReportsProgressAndStopsWhenTheCallbackAsks) {
    g_percents.clear();
    ASSERT_EQ(save([](std::int32_t percent) {
                  g_percents.push_back(percent);
                  return std::int32_t{0};
              }),
              AVIERR_OK);
    ASSERT_FALSE(g_percents.empty());
    EXPECT_TRUE(std::is_sorted(g_percents.begin(), g_percents.end()));
    EXPECT_EQ(g_percents.back(), 100);
    std::filesystem::remove(m_output);

    EXPECT_EQ(save([](std::int32_t) { return std::int32_t{1}; }), AVIERR_USERABORT);
    EXPECT_FALSE(std::filesystem::exists(m_output));
}

TEST(AviFileApi, SaveOptionsFreeReleasesTheRecordsBuffers) {
    AVICOMPRESSOPTIONS option{};
    option.lpFormat = AviAllocOptionBuffer(18);
    option.cbFormat = 18;
    option.lpParms = AviAllocOptionBuffer(4);
    option.cbParms = 4;
    AVICOMPRESSOPTIONS* pointer = &option;
    ASSERT_EQ(AVISaveOptionsFree(1, &pointer), AVIERR_OK);
    EXPECT_EQ(option.lpFormat, nullptr);
    EXPECT_EQ(option.cbFormat, 0u);
    EXPECT_EQ(option.lpParms, nullptr);
    EXPECT_EQ(option.cbParms, 0u);
}

TEST(AviFileApi, ErrorNamesFollowTheCodes) {
    EXPECT_STREQ(AviErrorName(static_cast<AviResult>(0x80044065u)), "AVIERR_UNSUPPORTED");
    EXPECT_STREQ(AviErrorName(static_cast<AviResult>(0x8004406Du)), "AVIERR_FILEREAD");
    EXPECT_STREQ(AviErrorName(static_cast<AviResult>(0x8004406Fu)), "AVIERR_FILEOPEN");
    EXPECT_STREQ(AviErrorName(static_cast<AviResult>(0x800440C7u)), "AVIERR_ERROR");
    EXPECT_EQ(AviErrorName(static_cast<AviResult>(0x80044076u)), nullptr);
    EXPECT_EQ(AviErrorName(AVIERR_OK), nullptr);
}

}  // namespace
