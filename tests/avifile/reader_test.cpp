// The AVI reader over builder-made files: every index kind yields the same chunks, keys and
// lengths, real-world damage is worked around, and malformed input fails cleanly.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "avi_builder.h"
#include "stream_data.h"

namespace {

using avitest::AviBuilder;
using avitest::BuildOptions;
using avitest::FourCC;
using avitest::Payload;
using testing::HasSubstr;

struct Read {
    AviResult result = AVIERR_OK;
    avi::AviContents contents;
    std::string problem;
};

Read ReadBytes(std::vector<std::uint8_t> bytes) {
    Read r;
    r.result =
        avi::ReadAviContents(avi::MakeMemorySource(std::move(bytes)), &r.contents, &r.problem);
    return r;
}

// What a test expects of one chunk.
struct Expected {
    std::vector<std::uint8_t> payload;
    bool key;
};

bool HasDamage(const avi::AviContents& c, const std::string& text) {
    for (const std::string& line : c.damage)
        if (line.find(text) != std::string::npos)
            return true;
    return false;
}

std::string DamageText(const avi::AviContents& c) {
    std::string all;
    for (const std::string& line : c.damage)
        all += line + "\n";
    return all;
}

// Checks that `stream` holds exactly the `expected` chunks: payload bytes read back through the
// offsets, sizes, key flags and first samples.
void ExpectChunks(const avi::StreamData& stream, const std::vector<Expected>& expected) {
    ASSERT_EQ(stream.chunks.size(), expected.size());
    std::uint32_t sample = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const avi::ChunkRef& c = stream.chunks[i];
        SCOPED_TRACE("chunk " + std::to_string(i));
        ASSERT_EQ(c.size(), expected[i].payload.size());
        std::vector<std::uint8_t> bytes(c.size());
        ASSERT_TRUE(stream.source->readAt(c.offset(), bytes.data(), bytes.size()));
        EXPECT_EQ(bytes, expected[i].payload);
        EXPECT_EQ(c.isKey(), expected[i].key);
        EXPECT_EQ(c.firstSample(), sample);
        sample += stream.samplesInChunk(i);
    }
    EXPECT_EQ(stream.sampleCount(), sample);
    EXPECT_EQ(stream.header.length, sample);
}

// ---- One file, every kind of index -------------------------------------------------------------

// Two video streams would make the key-frame rules of each visible; one video plus PCM audio
// (sample size 4) is what joins work on.
struct Movie {
    std::vector<Expected> video;
    std::vector<Expected> audio;
};

Movie AddInterleaved(AviBuilder& b, int v, int a, int frames, std::uint32_t seed) {
    Movie m;
    for (int i = 0; i < frames; ++i) {
        const bool key = i % 3 == 0;
        std::vector<std::uint8_t> frame = Payload(static_cast<std::size_t>(50 + i * 7), seed + i);
        b.chunk(v, frame, key);
        m.video.push_back({frame, key});
        std::vector<std::uint8_t> sound =
            Payload(static_cast<std::size_t>(400 + i * 4), seed + 100 + i);
        b.chunk(a, sound);
        m.audio.push_back({sound, true});
    }
    return m;
}

struct IndexCase {
    const char* name;
    BuildOptions options;
    avi::IndexSource source;
    bool twoParts;
};

BuildOptions Options(avitest::Idx1 idx1, bool openDml = false) {
    BuildOptions o;
    o.idx1 = idx1;
    o.openDml = openDml;
    return o;
}

std::vector<IndexCase> IndexCases() {
    using avi::IndexSource;
    using avitest::Idx1;
    std::vector<IndexCase> cases = {
        {"idx1Relative", Options(Idx1::Relative), IndexSource::Idx1Relative, false},
        {"idx1Absolute", Options(Idx1::Absolute), IndexSource::Idx1Absolute, false},
        {"noIndex", Options(Idx1::None), IndexSource::Scan, false},
        {"openDml", Options(Idx1::Relative, true), IndexSource::OpenDml, true},
        {"openDmlWithoutIdx1", Options(Idx1::None, true), IndexSource::OpenDml, true},
    };
    IndexCase c = {"openDmlRiffBase", Options(Idx1::Relative, true), IndexSource::OpenDml, true};
    c.options.ixBase = avitest::IxBase::RiffStart;
    cases.push_back(c);
    c = {"openDmlStreamFirstIx", Options(Idx1::Relative, true), IndexSource::OpenDml, true};
    c.options.ixStreamFirst = true;
    cases.push_back(c);
    c = {"openDmlFieldIndex", Options(Idx1::Relative, true), IndexSource::OpenDml, true};
    c.options.fieldIndex = true;
    cases.push_back(c);
    c = {"openDmlIndexInStrl", Options(Idx1::Relative, true), IndexSource::OpenDml, false};
    c.options.indxIsChunkIndex = true;
    cases.push_back(c);
    return cases;
}

class IndexKinds : public testing::TestWithParam<IndexCase> {};

TEST_P(IndexKinds, YieldTheChunksKeysAndLengthsOfTheFile) {
    const IndexCase& param = GetParam();
    AviBuilder b(param.options);
    const int v = b.addStream(avitest::VideoStream(64, 48));
    const int a = b.addStream(avitest::PcmAudioStream());
    Movie m = AddInterleaved(b, v, a, 7, 1);
    if (param.twoParts) {
        b.newRiff();
        Movie more = AddInterleaved(b, v, a, 5, 50);
        m.video.insert(m.video.end(), more.video.begin(), more.video.end());
        m.audio.insert(m.audio.end(), more.audio.begin(), more.audio.end());
    }
    const Read r = ReadBytes(b.build());
    ASSERT_EQ(r.result, AVIERR_OK) << r.problem;
    EXPECT_EQ(r.contents.indexSource, param.source) << DamageText(r.contents);
    ASSERT_EQ(r.contents.streams.size(), 2u);
    const avi::StreamData& video = *r.contents.streams[0];
    const avi::StreamData& audio = *r.contents.streams[1];
    EXPECT_EQ(video.header.fccType, streamtypeVIDEO);
    EXPECT_EQ(video.header.fccHandler, FourCC("MJPG"));
    EXPECT_EQ(video.header.frameRight, 64);
    EXPECT_EQ(video.header.frameBottom, 48);
    EXPECT_EQ(video.format.size(), 40u);
    EXPECT_EQ(audio.header.sampleSize, 4u);
    if (param.source == avi::IndexSource::Scan) {
        // Without an index only the first compressed frame is known to be a key frame.
        for (std::size_t i = 1; i < m.video.size(); ++i)
            m.video[i].key = false;
    }
    ExpectChunks(video, m.video);
    ExpectChunks(audio, m.audio);
    if (param.source != avi::IndexSource::Scan) {
        EXPECT_THAT(r.contents.damage,
                    testing::AllOf(testing::Each(testing::Not(HasSubstr("length"))),
                                   testing::Each(testing::Not(HasSubstr("scan")))))
            << DamageText(r.contents);
    }
}

INSTANTIATE_TEST_SUITE_P(Reader, IndexKinds, testing::ValuesIn(IndexCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Reader, AvixPartsWithoutOpenDmlIndexAreFoundByScanningAfterIdx1) {
    AviBuilder b;  // idx1 for the first RIFF only, no indx
    const int v = b.addStream(avitest::VideoStream(32, 32));
    const int a = b.addStream(avitest::PcmAudioStream());
    Movie m = AddInterleaved(b, v, a, 4, 1);
    b.newRiff();
    Movie more = AddInterleaved(b, v, a, 3, 9);
    const Read r = ReadBytes(b.build());
    ASSERT_EQ(r.result, AVIERR_OK) << r.problem;
    ASSERT_EQ(r.contents.streams.size(), 2u);
    for (Expected& e : more.video)
        e.key = false;  // nothing indexes them
    m.video.insert(m.video.end(), more.video.begin(), more.video.end());
    m.audio.insert(m.audio.end(), more.audio.begin(), more.audio.end());
    ExpectChunks(*r.contents.streams[0], m.video);
    ExpectChunks(*r.contents.streams[1], m.audio);
    EXPECT_TRUE(HasDamage(r.contents, "found by scanning")) << DamageText(r.contents);
}

TEST(Reader, KeepsStreamHeaderFieldsAndStreamChunks) {
    AviBuilder b;
    avitest::StreamSpec spec = avitest::VideoStream(320, 240, FourCC("XVID"), 30000, 1001);
    spec.flags = 0x10000;
    spec.priority = 3;
    spec.language = 9;
    spec.start = 2;
    spec.quality = 7500;
    spec.suggestedBufferSize = 12345;
    spec.frame[0] = -1;
    spec.codecData = {1, 2, 3};
    spec.name = {'v', 'i', 'd', 0};
    spec.videoProperties = Payload(68, 4);
    b.addStream(spec);
    b.chunk(0, Payload(10, 1));
    const Read r = ReadBytes(b.build());
    ASSERT_EQ(r.result, AVIERR_OK) << r.problem;
    const avi::StreamData& s = *r.contents.streams[0];
    EXPECT_EQ(s.header.rate, 30000u);
    EXPECT_EQ(s.header.scale, 1001u);
    EXPECT_EQ(s.header.flags, 0x10000u);
    EXPECT_EQ(s.header.priority, 3);
    EXPECT_EQ(s.header.language, 9);
    EXPECT_EQ(s.header.start, 2u);
    EXPECT_EQ(s.header.quality, 7500u);
    EXPECT_EQ(s.header.suggestedBufferSize, 12345u);
    EXPECT_EQ(s.header.frameLeft, -1);
    EXPECT_EQ(s.header.frameRight, 320);
    EXPECT_EQ(s.format, spec.format);
    EXPECT_EQ(s.codecData, spec.codecData);
    EXPECT_EQ(s.name, spec.name);
    EXPECT_EQ(s.videoProperties, spec.videoProperties);
    EXPECT_EQ(r.contents.main.width, 320u);
    EXPECT_EQ(r.contents.main.streams, 1u);
    EXPECT_EQ(r.contents.main.totalFrames, 1u);
}

}  // namespace
