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
            avitest::ChunkSpec chunk;
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
        avitest::ChunkSpec palette;
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
    avitest::StreamSpec video = avitest::VideoStream(16, 16);
    video.length = 100;
    b.addStream(video);
    avitest::StreamSpec audio = avitest::PcmAudioStream();
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
        avitest::StreamSpec audio = avitest::PcmAudioStream(2, 22050, 16);
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
    }
}

TEST(Reader, IndexEntriesOfStreamsThatDoNotExistAreIgnored) {
    AviBuilder b;
    b.addStream(avitest::VideoStream(16, 16));
    avitest::ChunkSpec stray;
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
