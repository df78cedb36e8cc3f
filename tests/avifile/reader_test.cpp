// The AVI reader over builder-made files: every index kind yields the same chunks, keys and
// lengths, real-world damage is worked around, and malformed input fails cleanly.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
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

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const IndexCase& c, std::ostream* out) {
    *out << c.name;
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
    avitest::StreamDesc desc = avitest::VideoStream(320, 240, FourCC("XVID"), 30000, 1001);
    desc.flags = 0x10000;
    desc.priority = 3;
    desc.language = 9;
    desc.start = 2;
    desc.quality = 7500;
    desc.suggestedBufferSize = 12345;
    desc.frame[0] = -1;
    desc.codecData = {1, 2, 3};
    desc.name = {'v', 'i', 'd', 0};
    desc.videoProperties = Payload(68, 4);
    b.addStream(desc);
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
    EXPECT_EQ(s.format, desc.format);
    EXPECT_EQ(s.codecData, desc.codecData);
    EXPECT_EQ(s.name, desc.name);
    EXPECT_EQ(s.videoProperties, desc.videoProperties);
    EXPECT_EQ(r.contents.main.width, 320u);
    EXPECT_EQ(r.contents.main.streams, 1u);
    EXPECT_EQ(r.contents.main.totalFrames, 1u);
}

}  // namespace

namespace {

// ---- Real-world damage -------------------------------------------------------------------------

// A video + audio file with an index of the given kind; payloads distinct so that every chunk
// can be told apart.
std::vector<std::uint8_t> SmallMovie(BuildOptions options, Movie* movie = nullptr,
                                     avitest::Layout* layout = nullptr, bool twoParts = false) {
    AviBuilder b(options);
    const int v = b.addStream(avitest::VideoStream(32, 32));
    const int a = b.addStream(avitest::PcmAudioStream());
    Movie m = AddInterleaved(b, v, a, 6, 1);
    if (twoParts) {
        b.newRiff();
        Movie more = AddInterleaved(b, v, a, 4, 70);
        m.video.insert(m.video.end(), more.video.begin(), more.video.end());
        m.audio.insert(m.audio.end(), more.audio.begin(), more.audio.end());
    }
    if (movie != nullptr)
        *movie = m;
    return b.build(layout);
}

TEST(Reader, TruncatedFilesKeepEveryWholeChunk) {
    // Cut the file at every byte from the first chunk on: the chunks wholly before the cut, and
    // only those, must be there, whatever index the file had.
    struct Case {
        const char* name;
        BuildOptions options;
        bool twoParts;
    };
    const Case cases[] = {
        {"idx1", Options(avitest::Idx1::Relative), false},
        {"openDml", Options(avitest::Idx1::Relative, true), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        avitest::Layout layout;
        const std::vector<std::uint8_t> full = SmallMovie(c.options, nullptr, &layout, c.twoParts);
        const Read whole = ReadBytes(full);
        ASSERT_EQ(whole.result, AVIERR_OK);
        for (std::size_t cut = layout.chunkHeader.front(); cut < full.size(); ++cut) {
            SCOPED_TRACE("cut at " + std::to_string(cut));
            const Read r = ReadBytes(std::vector<std::uint8_t>(full.begin(), full.begin() + cut));
            ASSERT_EQ(r.result, AVIERR_OK) << r.problem;
            for (std::size_t s = 0; s < 2; ++s) {
                std::vector<std::pair<std::uint64_t, std::uint32_t>> want, got;
                for (const avi::ChunkRef& ref : whole.contents.streams[s]->chunks)
                    if (ref.offset() + ref.size() <= cut)
                        want.emplace_back(ref.offset(), ref.size());
                for (const avi::ChunkRef& ref : r.contents.streams[s]->chunks)
                    got.emplace_back(ref.offset(), ref.size());
                ASSERT_EQ(got, want) << "stream " << s << "\n" << DamageText(r.contents);
                EXPECT_EQ(r.contents.streams[s]->header.length,
                          r.contents.streams[s]->sampleCount());
            }
            EXPECT_TRUE(HasDamage(r.contents, "truncated")) << DamageText(r.contents);
        }
    }
}

TEST(Reader, NamesTheStreamWhoseLastChunkWasCut) {
    avitest::Layout layout;
    std::vector<std::uint8_t> bytes = SmallMovie(Options(avitest::Idx1::None), nullptr, &layout);
    bytes.resize(layout.chunkHeader[5] + 8 + 10);  // chunk 5 is audio (stream 1)
    const Read r = ReadBytes(bytes);
    ASSERT_EQ(r.result, AVIERR_OK);
    EXPECT_TRUE(HasDamage(r.contents, "truncated: last chunk of stream 1 cut at"))
        << DamageText(r.contents);
    EXPECT_EQ(r.contents.streams[0]->chunks.size(), 3u);
    EXPECT_EQ(r.contents.streams[1]->chunks.size(), 2u);
}

TEST(Reader, ZeroSizeChunksAreSamples) {
    for (const avitest::Idx1 idx1 : {avitest::Idx1::Relative, avitest::Idx1::None}) {
        AviBuilder b(Options(idx1));
        b.addStream(avitest::VideoStream(16, 16));
        b.chunk(0, Payload(30, 1), true).chunk(0, {}, false).chunk(0, {}, false);
        b.chunk(0, Payload(20, 2), false);
        const Read r = ReadBytes(b.build());
        ASSERT_EQ(r.result, AVIERR_OK);
        const avi::StreamData& s = *r.contents.streams[0];
        ASSERT_EQ(s.chunks.size(), 4u);
        EXPECT_EQ(s.sampleCount(), 4u);
        EXPECT_EQ(s.chunks[1].size(), 0u);
        EXPECT_EQ(s.chunkOfSample(2), 2u);
        EXPECT_EQ(s.chunkOfSample(3), 3u);
        EXPECT_EQ(s.chunkOfSample(4), 4u);
    }
}

TEST(Reader, SampleSizeStreamsCountWholeBlocksOnly) {
    AviBuilder b;
    b.addStream(avitest::PcmAudioStream());  // 4-byte blocks
    b.chunk(0, Payload(10, 1)).chunk(0, Payload(2, 2)).chunk(0, Payload(8, 3));
    const Read r = ReadBytes(b.build());
    ASSERT_EQ(r.result, AVIERR_OK);
    const avi::StreamData& s = *r.contents.streams[0];
    ASSERT_EQ(s.chunks.size(), 3u);
    EXPECT_EQ(s.sampleCount(), 4u);  // 2 + 0 + 2
    EXPECT_EQ(s.header.length, 4u);
    EXPECT_EQ(s.chunks[2].firstSample(), 2u);
    EXPECT_EQ(s.chunkOfSample(1), 0u);
    EXPECT_EQ(s.chunkOfSample(2), 2u);  // the 2-byte chunk holds no whole sample
    EXPECT_EQ(s.samplesInChunk(1), 0u);
}

TEST(Reader, RecListsJunkAndOddSizesWithOrWithoutPadBytes) {
    // Every variant holds the same chunks; the scan must step into 'rec ' lists, over JUNK, and
    // find the next chunk whether or not the writer put the pad byte after an odd chunk.
    struct Case {
        const char* name;
        avitest::Idx1 idx1;
        bool pad;
        bool rec;
    };
    const Case cases[] = {
        {"rec lists, idx1", avitest::Idx1::Relative, true, true},
        {"rec lists, scan", avitest::Idx1::None, true, true},
        {"no pads, idx1", avitest::Idx1::Relative, false, false},
        {"no pads, scan", avitest::Idx1::None, false, false},
        {"no pads in rec lists, scan", avitest::Idx1::None, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BuildOptions o = Options(c.idx1);
        o.padOddChunks = c.pad;
        AviBuilder b(o);
        b.addStream(avitest::VideoStream(16, 16, 0));  // uncompressed: every frame is key
        b.addStream(avitest::PcmAudioStream(1, 8000, 8));
        std::vector<Expected> video, audio;
        for (int i = 0; i < 5; ++i) {
            if (c.rec)
                b.beginRec();
            video.push_back({Payload(static_cast<std::size_t>(21 + 2 * i), i), true});
            audio.push_back({Payload(static_cast<std::size_t>(13 + i), 50 + i), true});
            b.chunk(0, video.back().payload).chunk(1, audio.back().payload);
            if (c.rec)
                b.endRec();
            b.junk(static_cast<std::uint32_t>(i));
        }
        const Read r = ReadBytes(b.build());
        ASSERT_EQ(r.result, AVIERR_OK) << r.problem;
        ExpectChunks(*r.contents.streams[0], video);
        ExpectChunks(*r.contents.streams[1], audio);
        EXPECT_EQ(HasDamage(r.contents, "without a pad byte"), !c.pad) << DamageText(r.contents);
    }
}

TEST(Reader, StreamDigitsDecimalOrHexForStreamsFromTen) {
    struct Case {
        const char* name;
        avitest::Idx1 idx1;
        bool hex;
    };
    const Case cases[] = {
        {"decimal, idx1", avitest::Idx1::Relative, false},
        {"decimal, scan", avitest::Idx1::None, false},
        {"hex, idx1", avitest::Idx1::Relative, true},
        {"hex, scan", avitest::Idx1::None, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AviBuilder b(Options(c.idx1));
        for (int s = 0; s < 12; ++s)
            b.addStream(avitest::PcmAudioStream(1, 8000, 8));
        for (int s = 0; s < 12; ++s) {
            avitest::ChunkDesc chunk;
            chunk.stream = s;
            chunk.payload = Payload(static_cast<std::size_t>(s + 1), s);
            if (c.hex)
                chunk.id = MakeFourCC("0123456789ab"[s / 16], "0123456789ab"[s % 16], 'w', 'b');
            b.add(chunk);
        }
        const Read r = ReadBytes(b.build());
        ASSERT_EQ(r.result, AVIERR_OK) << r.problem;
        ASSERT_EQ(r.contents.streams.size(), 12u);
        for (std::size_t s = 0; s < 12; ++s) {
            ASSERT_EQ(r.contents.streams[s]->chunks.size(), 1u) << "stream " << s;
            EXPECT_EQ(r.contents.streams[s]->chunks[0].size(), s + 1) << "stream " << s;
        }
    }
}

TEST(Reader, PaletteChangesAreNotVideoSamples) {
    for (const avitest::Idx1 idx1 : {avitest::Idx1::Relative, avitest::Idx1::None}) {
        AviBuilder b(Options(idx1));
        b.addStream(avitest::VideoStream(16, 16, 0));
        avitest::ChunkDesc palette;
        palette.id = FourCC("00pc");
        palette.payload = {0, 1, 0, 0, 10, 20, 30, 0};
        b.chunk(0, Payload(20, 1)).add(palette).chunk(0, Payload(20, 2));
        const Read r = ReadBytes(b.build());
        ASSERT_EQ(r.result, AVIERR_OK);
        ExpectChunks(*r.contents.streams[0], {{Payload(20, 1), true}, {Payload(20, 2), true}});
    }
}

TEST(Reader, HeaderCountsThatDisagreeWithTheIndexAreRecountedAndNoted) {
    BuildOptions o;
    o.totalFrames = 50;
    AviBuilder b(o);
    avitest::StreamDesc video = avitest::VideoStream(16, 16);
    video.length = 100;
    b.addStream(video);
    avitest::StreamDesc audio = avitest::PcmAudioStream();
    audio.length = 7;
    b.addStream(audio);
    b.chunk(0, Payload(10, 1)).chunk(1, Payload(16, 2)).chunk(0, Payload(10, 3));
    const Read r = ReadBytes(b.build());
    ASSERT_EQ(r.result, AVIERR_OK);
    EXPECT_EQ(r.contents.streams[0]->header.length, 2u);
    EXPECT_EQ(r.contents.streams[1]->header.length, 4u);
    EXPECT_TRUE(HasDamage(r.contents, "stream 0: dwLength 100 in header, 2 in index"));
    EXPECT_TRUE(HasDamage(r.contents, "stream 1: dwLength 7 in header, 4 in index"));
    EXPECT_TRUE(HasDamage(r.contents, "dwTotalFrames 50 in header, 2 in index"));
}

TEST(Reader, ShortRecordsThatRealWritersLeave) {
    // A 16-byte PCMWAVEFORMAT is kept as it is; a 48-byte strh has no rcFrame; a longer one is
    // read up to what we know.
    for (const std::uint32_t strhSize : {48u, 56u, 64u}) {
        SCOPED_TRACE(strhSize);
        AviBuilder b;
        avitest::StreamDesc audio = avitest::PcmAudioStream(2, 22050, 16);
        audio.format = avitest::PcmWaveFormat(2, 22050, 16);
        audio.strhSize = strhSize;
        audio.frame[2] = 5;
        b.addStream(audio);
        b.chunk(0, Payload(8, 1));
        const Read r = ReadBytes(b.build());
        ASSERT_EQ(r.result, AVIERR_OK) << r.problem;
        const avi::StreamData& s = *r.contents.streams[0];
        EXPECT_EQ(s.format, audio.format);
        EXPECT_EQ(s.header.sampleSize, 4u);
        EXPECT_EQ(s.header.rate, 22050u);
        EXPECT_EQ(s.header.frameRight, strhSize >= 56 ? 5 : 0);
        EXPECT_EQ(s.sampleCount(), 2u);
    }
}

TEST(Reader, KeyFlagsOfTheIndex) {
    // Audio is always key (some writers flag no audio entry); a video stream with no key entry
    // gets its first chunk marked key.
    for (const bool openDml : {false, true}) {
        SCOPED_TRACE(openDml ? "openDml" : "idx1");
        AviBuilder b(Options(avitest::Idx1::Relative, openDml));
        b.addStream(avitest::VideoStream(16, 16));
        b.addStream(avitest::PcmAudioStream());
        b.chunk(0, Payload(10, 1), false).chunk(1, Payload(8, 2), false);
        b.chunk(0, Payload(10, 3), false).chunk(1, Payload(8, 4), false);
        const Read r = ReadBytes(b.build());
        ASSERT_EQ(r.result, AVIERR_OK);
        ExpectChunks(*r.contents.streams[0], {{Payload(10, 1), true}, {Payload(10, 3), false}});
        ExpectChunks(*r.contents.streams[1], {{Payload(8, 2), true}, {Payload(8, 4), true}});
        EXPECT_TRUE(HasDamage(r.contents, "stream 0: no key frame flagged"));
        EXPECT_FALSE(HasDamage(r.contents, "stream 1: no key frame flagged"));
    }
}

TEST(Reader, IndexEntriesOfStreamsThatDoNotExistAreIgnored) {
    AviBuilder b;
    b.addStream(avitest::VideoStream(16, 16));
    avitest::ChunkDesc stray;
    stray.id = FourCC("07dc");
    stray.payload = Payload(6, 9);
    b.chunk(0, Payload(10, 1)).add(stray).chunk(0, Payload(10, 2));
    for (const bool scan : {false, true}) {
        b.options().idx1 = scan ? avitest::Idx1::None : avitest::Idx1::Relative;
        const Read r = ReadBytes(b.build());
        ASSERT_EQ(r.result, AVIERR_OK);
        EXPECT_EQ(r.contents.streams[0]->chunks.size(), 2u);
        EXPECT_TRUE(HasDamage(r.contents, "1 index entries name streams that do not exist"))
            << DamageText(r.contents);
    }
}

TEST(Reader, OnlyTheFirstHundredStreamsAreUsed) {
    AviBuilder b;
    for (int s = 0; s < 101; ++s)
        b.addStream(avitest::PcmAudioStream(1, 8000, 8));
    b.chunk(0, Payload(4, 1));
    const Read r = ReadBytes(b.build());
    ASSERT_EQ(r.result, AVIERR_OK) << r.problem;
    EXPECT_EQ(r.contents.streams.size(), 100u);
    EXPECT_TRUE(HasDamage(r.contents, "101 streams, only the first 100 used"));
}

}  // namespace

namespace {

// ---- Broken indexes ----------------------------------------------------------------------------

void Patch32(std::vector<std::uint8_t>& bytes, std::uint64_t at, std::uint32_t value) {
    avi::StoreLE32(&bytes[at], value);
}

TEST(Reader, BrokenOpenDmlIndexFallsBackToIdx1) {
    // Each corruption makes the OpenDML index unusable; idx1 still lists the first RIFF and the
    // AVIX part is found by scanning, so every chunk is still there.
    struct Case {
        const char* name;
        void (*corrupt)(std::vector<std::uint8_t>&, const avitest::Layout&);
    };
    const Case cases[] = {
        {"ix chunk that lists itself as an index of indexes",
         [](std::vector<std::uint8_t>& b, const avitest::Layout& l) {
             const std::uint64_t ix = l.ixHeader[0][0];
             b[ix + 8] = 4;      // wLongsPerEntry
             b[ix + 8 + 3] = 0;  // AVI_INDEX_OF_INDEXES
             Patch32(b, ix + 8 + 4, 1);
             Patch32(b, ix + 8 + 24, static_cast<std::uint32_t>(ix));
             Patch32(b, ix + 8 + 28, 0);
         }},
        {"super index entry pointing at a media chunk",
         [](std::vector<std::uint8_t>& b, const avitest::Layout& l) {
             Patch32(b, l.indxHeader[1] + 8 + 24, static_cast<std::uint32_t>(l.chunkHeader[0]));
         }},
        {"ix base offset off by four",
         [](std::vector<std::uint8_t>& b, const avitest::Layout& l) {
             const std::uint64_t ix = l.ixHeader[0][0];
             Patch32(b, ix + 8 + 12, avi::LoadLE32(&b[ix + 8 + 12]) + 4);
         }},
        {"super index of an unknown type",
         [](std::vector<std::uint8_t>& b, const avitest::Layout& l) {
             b[l.indxHeader[0] + 8 + 3] = 7;
         }},
        {"super index too short",
         [](std::vector<std::uint8_t>& b, const avitest::Layout& l) {
             Patch32(b, l.indxHeader[0] + 4, 0);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        avitest::Layout layout;
        Movie m;
        std::vector<std::uint8_t> bytes =
            SmallMovie(Options(avitest::Idx1::Relative, true), &m, &layout, true);
        c.corrupt(bytes, layout);
        const Read r = ReadBytes(bytes);
        ASSERT_EQ(r.result, AVIERR_OK) << r.problem;
        EXPECT_EQ(r.contents.indexSource, avi::IndexSource::Idx1Relative);
        EXPECT_TRUE(HasDamage(r.contents, "OpenDML index unusable")) << DamageText(r.contents);
        for (std::size_t i = 6; i < m.video.size(); ++i)
            m.video[i].key = false;  // the AVIX part is scanned
        ExpectChunks(*r.contents.streams[0], m.video);
        ExpectChunks(*r.contents.streams[1], m.audio);
    }
}

// A file without chunks has an empty idx1, and that is no damage; chunks that an empty idx1
// leaves out are found by the scan and noted.
TEST(Reader, EmptyIdx1IsRightForAFileWithoutChunks) {
    AviBuilder empty;
    empty.addStream(avitest::VideoStream(8, 8));
    Read r = ReadBytes(empty.build());
    ASSERT_EQ(r.result, AVIERR_OK) << r.problem;
    EXPECT_EQ(r.contents.indexSource, avi::IndexSource::Idx1Relative);
    EXPECT_TRUE(r.contents.damage.empty()) << DamageText(r.contents);

    AviBuilder unlisted;
    unlisted.addStream(avitest::VideoStream(8, 8));
    avitest::ChunkDesc chunk;
    chunk.stream = 0;
    chunk.payload = Payload(10, 1);
    chunk.indexed = false;
    unlisted.add(chunk);
    r = ReadBytes(unlisted.build());
    ASSERT_EQ(r.result, AVIERR_OK) << r.problem;
    EXPECT_EQ(r.contents.indexSource, avi::IndexSource::Scan);
    EXPECT_EQ(r.contents.streams[0]->chunks.size(), 1u);
    EXPECT_TRUE(HasDamage(r.contents, "idx1 lists no chunks")) << DamageText(r.contents);
}

TEST(Reader, Idx1ThatPointsAtNothingIsReplacedByAScan) {
    avitest::Layout layout;
    Movie m;
    std::vector<std::uint8_t> bytes = SmallMovie(Options(avitest::Idx1::Relative), &m, &layout);
    const std::uint64_t entries = (avi::LoadLE32(&bytes[layout.idx1Header + 4])) / 16;
    for (std::uint64_t i = 0; i < entries; ++i) {
        const std::uint64_t at = layout.idx1Header + 8 + i * 16 + 8;
        Patch32(bytes, at, avi::LoadLE32(&bytes[at]) + 2);
    }
    const Read r = ReadBytes(bytes);
    ASSERT_EQ(r.result, AVIERR_OK);
    EXPECT_EQ(r.contents.indexSource, avi::IndexSource::Scan);
    EXPECT_TRUE(HasDamage(r.contents, "idx1 offsets point at no chunks")) << DamageText(r.contents);
    EXPECT_EQ(r.contents.streams[0]->chunks.size(), m.video.size());
    EXPECT_EQ(r.contents.streams[1]->chunks.size(), m.audio.size());
}

// ---- Input we cannot use -----------------------------------------------------------------------

TEST(Reader, UnusableFilesAreBadFormatWithAReason) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> (*make)();
        const char* problem;
    };
    auto base = [](avitest::Layout* layout, avitest::StreamDesc desc = avitest::VideoStream(8, 8)) {
        AviBuilder b;
        b.addStream(desc);
        b.chunk(0, Payload(10, 1));
        return b.build(layout);
    };
    static decltype(base) sBase = base;
    const Case cases[] = {
        {"empty", [] { return std::vector<std::uint8_t>{}; }, "not an AVI file"},
        {"RIFF alone",
         [] {
             return std::vector<std::uint8_t>{'R', 'I', 'F', 'F'};
         },
         "not an AVI file"},
        {"WAVE file",
         [] {
             std::vector<std::uint8_t> b = sBase(nullptr);
             b[8] = 'W', b[9] = 'A', b[10] = 'V', b[11] = 'E';
             return b;
         },
         "not an AVI file"},
        {"garbage", [] { return Payload(5000, 3); }, "not an AVI file"},
        {"no hdrl",
         [] {
             std::vector<std::uint8_t> b = sBase(nullptr);
             b[23] = 'X';  // 'hdrl' -> 'hdrX'
             return b;
         },
         "no 'hdrl'"},
        {"no movi",
         [] {
             avitest::Layout l;
             std::vector<std::uint8_t> b = sBase(&l);
             b[l.moviFourcc[0]] = 'X';
             return b;
         },
         "no 'movi'"},
        {"huge header list",
         [] {
             std::vector<std::uint8_t> b = sBase(nullptr);
             Patch32(b, 16, 0xFFFFFFF0u);
             return b;
         },
         "header list too large"},
        {"short avih",
         [] {
             avitest::Layout l;
             std::vector<std::uint8_t> b = sBase(&l);
             Patch32(b, l.avihPayload - 4, 20);
             return b;
         },
         "'avih' too short"},
        {"short strh",
         [] {
             avitest::StreamDesc s = avitest::VideoStream(8, 8);
             s.strhSize = 40;
             return sBase(nullptr, s);
         },
         "'strh' too short"},
        {"strl without strh",
         [] {
             avitest::Layout l;
             std::vector<std::uint8_t> b = sBase(&l);
             b[l.strhPayload[0] - 8] = 'X';
             return b;
         },
         "has no 'strh'"},
        {"format over a MiB",
         [] {
             avitest::StreamDesc s = avitest::VideoStream(8, 8);
             s.format.resize((1u << 20) + 2);
             return sBase(nullptr, s);
         },
         "too large"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Read r = ReadBytes(c.make());
        EXPECT_EQ(r.result, AVIERR_BADFORMAT);
        EXPECT_THAT(r.problem, HasSubstr(c.problem));
    }
}

// A file may hold no stream at all; it opens, and the admission rule and the engine decide.
TEST(Reader, FileWithoutStreamListsOpensWithNoStreams) {
    AviBuilder b;
    b.addStream(avitest::VideoStream(8, 8));
    b.chunk(0, Payload(10, 1));
    avitest::Layout l;
    std::vector<std::uint8_t> bytes = b.build(&l);
    bytes[l.strhPayload[0] - 12] = 'X';  // 'strl' -> 'Xtrl'
    const Read r = ReadBytes(bytes);
    ASSERT_EQ(r.result, AVIERR_OK) << r.problem;
    EXPECT_TRUE(r.contents.streams.empty());
    EXPECT_TRUE(HasDamage(r.contents, "no streams")) << DamageText(r.contents);
}

TEST(Reader, AnyDamagedByteGivesAResultWithinTheFile) {
    // Overwrites every byte of a small OpenDML file with values that make sizes, counts and
    // offsets extreme. The read may succeed or fail, but a success must describe chunks that lie
    // in the file and lengths that match them. Sanitizer builds check the memory side.
    avitest::Layout layout;
    const std::vector<std::uint8_t> file =
        SmallMovie(Options(avitest::Idx1::Relative, true), nullptr, &layout, true);
    for (std::size_t at = 0; at < file.size(); ++at) {
        for (const std::uint8_t value : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
            std::vector<std::uint8_t> bytes = file;
            if (bytes[at] == value)
                continue;
            bytes[at] = value;
            const Read r = ReadBytes(bytes);
            if (r.result != AVIERR_OK) {
                ASSERT_EQ(r.result, AVIERR_BADFORMAT) << "byte " << at;
                ASSERT_FALSE(r.problem.empty());
                continue;
            }
            for (const auto& s : r.contents.streams) {
                ASSERT_EQ(s->header.length, s->sampleCount()) << "byte " << at;
                for (const avi::ChunkRef& c : s->chunks)
                    ASSERT_LE(c.offset() + c.size(), file.size()) << "byte " << at;
            }
        }
    }
}

// Fails every read after the first `good` ones.
class FailingSource final : public avi::ByteSource {
public:
    FailingSource(std::vector<std::uint8_t> bytes, int good)
        : m_inner(avi::MakeMemorySource(std::move(bytes))), m_good(good) {}
    std::uint64_t size() const override { return m_inner->size(); }
    bool readAt(std::uint64_t offset, void* buffer, std::size_t count) const override {
        ++m_reads;
        return m_reads <= m_good && m_inner->readAt(offset, buffer, count);
    }
    std::string name() const override { return "failing"; }
    int reads() const { return m_reads; }

private:
    std::shared_ptr<avi::ByteSource> m_inner;
    int m_good;
    mutable int m_reads = 0;
};

TEST(Reader, ReadErrorsAreFileReadWhereverTheyHappen) {
    for (const bool openDml : {false, true}) {
        const std::vector<std::uint8_t> bytes =
            SmallMovie(Options(avitest::Idx1::Relative, openDml), nullptr, nullptr, openDml);
        for (int good = 0;; ++good) {
            SCOPED_TRACE(good);
            auto source = std::make_shared<FailingSource>(bytes, good);
            avi::AviContents contents;
            std::string problem;
            const AviResult result = avi::ReadAviContents(source, &contents, &problem);
            if (source->reads() <= good) {
                EXPECT_EQ(result, AVIERR_OK);
                break;
            }
            ASSERT_EQ(result, AVIERR_FILEREAD);
            EXPECT_THAT(problem, HasSubstr("read error"));
        }
    }
}

// Counts reads, to check that indexes are read in blocks rather than entry by entry.
class CountingSource final : public avi::ByteSource {
public:
    explicit CountingSource(std::vector<std::uint8_t> bytes)
        : m_inner(avi::MakeMemorySource(std::move(bytes))) {}
    std::uint64_t size() const override { return m_inner->size(); }
    bool readAt(std::uint64_t offset, void* buffer, std::size_t count) const override {
        ++m_reads;
        return m_inner->readAt(offset, buffer, count);
    }
    std::string name() const override { return "counting"; }
    int reads() const { return m_reads; }

private:
    std::shared_ptr<avi::ByteSource> m_inner;
    mutable int m_reads = 0;
};

TEST(Reader, LargeIndexesAreReadInBlocks) {
    for (const bool openDml : {false, true}) {
        SCOPED_TRACE(openDml ? "openDml" : "idx1");
        AviBuilder b(Options(avitest::Idx1::Relative, openDml));
        b.addStream(avitest::VideoStream(8, 8));
        b.addStream(avitest::PcmAudioStream());
        for (int i = 0; i < 50000; ++i)
            b.chunk(0, {1, 2}, i % 10 == 0).chunk(1, {1, 2, 3, 4});
        auto source = std::make_shared<CountingSource>(b.build());
        avi::AviContents contents;
        std::string problem;
        ASSERT_EQ(avi::ReadAviContents(source, &contents, &problem), AVIERR_OK) << problem;
        EXPECT_EQ(contents.streams[0]->chunks.size(), 50000u);
        EXPECT_EQ(contents.streams[1]->sampleCount(), 50000u);
        EXPECT_LT(source->reads(), 200);
    }
}

}  // namespace

namespace {

// ---- Inputs the fuzzer found -------------------------------------------------------------------

TEST(Reader, EveryInputThatOnceCrashedTheReaderIsReadCleanly) {
    // The fuzzer's findings live beside its target; this file's path locates them.
    const std::filesystem::path folder =
        std::filesystem::path(__FILE__).parent_path().parent_path() / "fuzz" / "crashes";
    if (!std::filesystem::is_directory(folder))
        GTEST_SKIP() << "no folder " << folder.string();
    for (const auto& item : std::filesystem::directory_iterator(folder)) {
        if (item.path().extension() == ".md")
            continue;
        SCOPED_TRACE(item.path().filename().string());
        std::ifstream in(item.path(), std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                              std::istreambuf_iterator<char>()};
        const Read r = ReadBytes(bytes);
        if (r.result != AVIERR_OK) {
            EXPECT_TRUE(r.result == AVIERR_BADFORMAT || r.result == AVIERR_FILEREAD);
            EXPECT_FALSE(r.problem.empty());
            continue;
        }
        for (const auto& s : r.contents.streams) {
            EXPECT_EQ(s->header.length, s->sampleCount());
            for (const avi::ChunkRef& c : s->chunks)
                EXPECT_LE(c.offset() + c.size(), bytes.size());
        }
    }
}

}  // namespace

namespace {

// ---- Files from another writer -----------------------------------------------------------------

#ifndef _WIN32
// Runs a shell command and returns its standard output; nullopt when it fails.
std::optional<std::string> RunCommand(const std::string& command, const std::string& scratch) {
    const std::string out = scratch + "/out.txt";
    if (std::system((command + " > '" + out + "' 2>/dev/null").c_str()) != 0)
        return std::nullopt;
    std::ifstream in(out);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}
#endif

TEST(Reader, FilesMadeByFfmpegReadAsFfprobeSeesThem) {
#ifdef _WIN32
    GTEST_SKIP() << "ffmpeg is run on the native build only";
#else
    if (std::system("command -v ffmpeg >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ffmpeg not on PATH";
    struct Case {
        const char* name;
        const char* codecs;
    };
    const Case cases[] = {
        {"mpeg4 + pcm", "-c:v mpeg4 -g 10 -c:a pcm_s16le"},
        {"mjpeg + mp3", "-c:v mjpeg -c:a libmp3lame"},
        {"raw video + u8 pcm", "-c:v rawvideo -pix_fmt bgr24 -c:a pcm_u8"},
    };
    avitest::TempFile scratch({}, "unused");
    const std::string folder = std::filesystem::path(scratch.path()).parent_path().string();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = folder + "/ffmpeg.avi";
        if (!RunCommand(
                std::string(
                    "ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=25:duration=1.2 "
                    "-f lavfi -i sine=frequency=440:sample_rate=22050:duration=1.2 ") +
                    c.codecs + " '" + file + "'",
                folder)) {
            ADD_FAILURE() << "ffmpeg could not make the file";
            continue;
        }
        // One line per packet: stream index and flags ("K_" for a key frame).
        const std::optional<std::string> packets = RunCommand(
            "ffprobe -v error -show_entries packet=stream_index,flags -of csv=p=0 '" + file + "'",
            folder);
        ASSERT_TRUE(packets.has_value());
        std::vector<std::string> keys[2];
        std::istringstream lines(*packets);
        for (std::string line; std::getline(lines, line);) {
            const std::size_t comma = line.find(',');
            ASSERT_NE(comma, std::string::npos) << line;
            const int stream = std::stoi(line.substr(0, comma));
            ASSERT_TRUE(stream == 0 || stream == 1) << line;
            keys[stream].push_back(line.substr(comma + 1, 1));
        }

        std::shared_ptr<avi::ByteSource> source;
        ASSERT_EQ(avi::OpenFileSource(avi::FilePath::Narrow(file), &source), AVIERR_OK);
        avi::AviContents contents;
        std::string problem;
        ASSERT_EQ(avi::ReadAviContents(source, &contents, &problem), AVIERR_OK) << problem;
        EXPECT_EQ(contents.indexSource, avi::IndexSource::Idx1Relative);
        EXPECT_THAT(contents.damage, testing::IsEmpty());
        ASSERT_EQ(contents.streams.size(), 2u);
        for (int s = 0; s < 2; ++s) {
            // ffprobe shows no packet for the empty chunks ffmpeg writes for dropped frames;
            // they are samples to us.
            const avi::StreamData& stream = *contents.streams[static_cast<std::size_t>(s)];
            std::vector<std::string> ours;
            for (const avi::ChunkRef& chunk : stream.chunks)
                if (chunk.size() > 0)
                    ours.push_back(chunk.isKey() ? "K" : "_");
            EXPECT_EQ(ours, keys[s]) << "stream " << s;
        }
    }
#endif
}

}  // namespace
