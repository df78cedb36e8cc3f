// The save: layout of the written file checked chunk by chunk, the OpenDML split with a small RIFF
// limit, re-cutting of streams with a sample size, and every way a save can fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "avi_writer.h"
#include "save_plan.h"
#include "stream_data.h"

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif

namespace avi {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kXvid = MakeFourCC('X', 'V', 'I', 'D');

Bytes Pattern(std::size_t size, std::uint32_t seed) {
    Bytes out(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (std::uint8_t& b : out) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return out;
}

// ---- Streams built by hand ----------------------------------------------------------------------

StreamData VideoPrototype(std::uint32_t compression, std::uint32_t rate = 25,
                          std::uint32_t scale = 1) {
    StreamData s;
    s.header.fccType = streamtypeVIDEO;
    s.header.fccHandler = compression;
    s.header.scale = scale;
    s.header.rate = rate;
    s.header.quality = 0xFFFFFFFFu;
    s.header.frameRight = 64;
    s.header.frameBottom = 48;
    s.format.assign(40, 0);
    StoreLE32(s.format.data(), 40);
    StoreLE32(s.format.data() + 4, 64);
    StoreLE32(s.format.data() + 8, 48);
    StoreLE16(s.format.data() + 12, 1);
    StoreLE16(s.format.data() + 14, 24);
    StoreLE32(s.format.data() + 16, compression);
    s.format.insert(s.format.end(), {1, 2, 3});  // odd-sized extra bytes: strf needs a pad
    return s;
}

StreamData PcmPrototype(std::uint32_t sampleRate, std::uint16_t blockAlign) {
    StreamData s;
    s.header.fccType = streamtypeAUDIO;
    s.header.fccHandler = 1;
    s.header.scale = 1;
    s.header.rate = sampleRate;
    s.header.sampleSize = blockAlign;
    s.format.assign(18, 0);
    StoreLE16(s.format.data(), 1);
    StoreLE16(s.format.data() + 2, 1);
    StoreLE32(s.format.data() + 4, sampleRate);
    StoreLE32(s.format.data() + 8, sampleRate * blockAlign);
    StoreLE16(s.format.data() + 12, blockAlign);
    StoreLE16(s.format.data() + 14, static_cast<std::uint16_t>(8 * blockAlign));
    return s;
}

// A 'vprp' of one progressive field, 4:3.
Bytes VideoProperties(std::uint32_t width, std::uint32_t height) {
    const std::uint32_t fields[] = {0,     0,      25, width,  height, (4u << 16) | 3,
                                    width, height, 1,  height, width,  height,
                                    width, 0,      0,  0,      0};
    Bytes out(sizeof fields);
    for (std::size_t i = 0; i < std::size(fields); ++i)
        StoreLE32(out.data() + 4 * i, fields[i]);
    return out;
}

struct SourceChunk {
    std::size_t stream;
    Bytes payload;
    bool key = true;
};

// Lays the chunks out as a file would, each after an 8-byte header and padded to even size, in
// one source, and gives every prototype its chunk index into it. `filler` bytes after each chunk
// keep chunks from following each other directly.
std::vector<std::shared_ptr<StreamData>> MakeStreams(
    std::vector<StreamData> prototypes, const std::vector<SourceChunk>& chunks,
    std::shared_ptr<const ByteSource> source = nullptr, Bytes* layout = nullptr,
    std::size_t filler = 0) {
    Bytes file(16, 0);
    std::vector<std::uint32_t> samples(prototypes.size(), 0);
    for (const SourceChunk& chunk : chunks) {
        file.resize(file.size() + 8);
        StoreLE32(file.data() + file.size() - 4, static_cast<std::uint32_t>(chunk.payload.size()));
        StreamData& s = prototypes[chunk.stream];
        s.chunks.emplace_back(file.size(), static_cast<std::uint32_t>(chunk.payload.size()),
                              chunk.key, samples[chunk.stream]);
        samples[chunk.stream] +=
            s.header.sampleSize == 0
                ? 1
                : static_cast<std::uint32_t>(chunk.payload.size()) / s.header.sampleSize;
        file.insert(file.end(), chunk.payload.begin(), chunk.payload.end());
        if (file.size() % 2 != 0)
            file.push_back(0);
        file.insert(file.end(), filler, 0);
    }
    if (!source)
        source = MakeMemorySource(file);
    if (layout != nullptr)
        *layout = file;
    std::vector<std::shared_ptr<StreamData>> out;
    for (StreamData& s : prototypes) {
        s.source = source;
        s.header.length = samples[out.size()];
        out.push_back(std::make_shared<StreamData>(std::move(s)));
    }
    return out;
}

// Writes `bytes` to a file and opens it as a source; nullptr when that fails.
std::shared_ptr<ByteSource> WriteSource(const fs::path& where, const Bytes& bytes) {
    std::ofstream(where, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    std::shared_ptr<ByteSource> file;
    OpenFileSource(FilePath::Narrow(where.string()), &file);
    return file;
}

SaveStream Whole(const std::shared_ptr<StreamData>& stream) {
    return SaveStream{stream, {Segment{stream, 0, stream->sampleCount()}}};
}

// ---- Reading the output back ----------------------------------------------------------------

struct Node {
    std::uint32_t id = 0;
    std::uint32_t type = 0;  // of RIFF and LIST
    std::uint64_t at = 0;    // of the chunk header
    std::uint32_t size = 0;
    std::vector<Node> kids;
    std::uint64_t data() const { return at + 8; }
};

constexpr std::uint32_t kRiff = MakeFourCC('R', 'I', 'F', 'F');
constexpr std::uint32_t kList = MakeFourCC('L', 'I', 'S', 'T');

// Walks [begin, end) of `file` as chunks; every size must fit its parent exactly, pads included.
std::vector<Node> Parse(const Bytes& file, std::uint64_t begin, std::uint64_t end) {
    std::vector<Node> nodes;
    std::uint64_t at = begin;
    while (at < end) {
        if (end - at < 8) {
            ADD_FAILURE() << "a chunk header is cut at " << at;
            break;
        }
        Node node;
        node.at = at;
        node.id = LoadLE32(file.data() + at);
        node.size = LoadLE32(file.data() + at + 4);
        const std::uint64_t next = at + 8 + node.size + (node.size & 1);
        if (next > end) {
            ADD_FAILURE() << FourCCText(node.id) << " at " << at << " runs past its parent";
            break;
        }
        if ((node.id == kRiff || node.id == kList) && node.size >= 4) {
            node.type = LoadLE32(file.data() + at + 8);
            node.kids = Parse(file, at + 12, at + 8 + node.size);
        }
        if (node.size % 2 != 0) {
            EXPECT_EQ(file[at + 8 + node.size], 0) << "pad byte of " << FourCCText(node.id);
        }
        nodes.push_back(std::move(node));
        at = next;
    }
    return nodes;
}

const Node* Find(const std::vector<Node>& nodes, std::uint32_t id, std::uint32_t type = 0) {
    for (const Node& node : nodes) {
        if (node.id == id && (type == 0 || node.type == type))
            return &node;
    }
    return nullptr;
}

std::vector<const Node*> FindAll(const std::vector<Node>& nodes, std::uint32_t id,
                                 std::uint32_t type = 0) {
    std::vector<const Node*> out;
    for (const Node& node : nodes) {
        if (node.id == id && (type == 0 || node.type == type))
            out.push_back(&node);
    }
    return out;
}

Bytes PayloadOf(const Bytes& file, const Node& node) {
    return Bytes(file.begin() + static_cast<std::ptrdiff_t>(node.data()),
                 file.begin() + static_cast<std::ptrdiff_t>(node.data() + node.size));
}

std::uint32_t Field(const Bytes& file, const Node& node, std::size_t offset) {
    return LoadLE32(file.data() + node.data() + offset);
}

Bytes ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The parsed output: the RIFF parts, the hdrl, and every media chunk of every movi in file order.
struct Output {
    Bytes file;
    std::vector<Node> top;
    const Node* hdrl = nullptr;
    std::vector<const Node*> strls;
    std::vector<const Node*> movis;
    std::vector<const Node*> media;  // without ix## chunks

    explicit Output(const fs::path& path) : file(ReadAll(path)) {
        top = Parse(file, 0, file.size());
        if (top.empty() || top[0].id != kRiff || top[0].type != MakeFourCC('A', 'V', 'I', ' ')) {
            ADD_FAILURE() << "no RIFF AVI at the start";
            return;
        }
        hdrl = Find(top[0].kids, kList, MakeFourCC('h', 'd', 'r', 'l'));
        if (hdrl != nullptr)
            strls = FindAll(hdrl->kids, kList, MakeFourCC('s', 't', 'r', 'l'));
        for (const Node& riff : top) {
            EXPECT_EQ(riff.id, kRiff);
            if (const Node* movi = Find(riff.kids, kList, MakeFourCC('m', 'o', 'v', 'i')))
                movis.push_back(movi);
        }
        for (const Node* movi : movis) {
            for (const Node& chunk : movi->kids) {
                if ((chunk.id & 0xFFFF) != MakeFourCC('i', 'x', 0, 0))
                    media.push_back(&chunk);
            }
        }
    }
    const Node& avih() const { return *Find(hdrl->kids, MakeFourCC('a', 'v', 'i', 'h')); }
    const Node& strh(std::size_t i) const {
        return *Find(strls.at(i)->kids, MakeFourCC('s', 't', 'r', 'h'));
    }
    // The payloads of one stream's chunks, joined, in file order.
    Bytes streamBytes(std::uint32_t chunkId) const {
        Bytes out;
        for (const Node* chunk : media) {
            if (chunk->id == chunkId) {
                const Bytes payload = PayloadOf(file, *chunk);
                out.insert(out.end(), payload.begin(), payload.end());
            }
        }
        return out;
    }
    std::vector<std::uint32_t> chunkSizes(std::uint32_t chunkId) const {
        std::vector<std::uint32_t> out;
        for (const Node* chunk : media) {
            if (chunk->id == chunkId)
                out.push_back(chunk->size);
        }
        return out;
    }
};

// Our own reader's view of the file.
AviContents ReadBack(const fs::path& path) {
    AviContents contents;
    std::shared_ptr<ByteSource> source;
    std::string problem;
    EXPECT_EQ(OpenFileSource(FilePath::Narrow(path.string()), &source), AVIERR_OK);
    EXPECT_EQ(ReadAviContents(source, &contents, &problem), AVIERR_OK) << problem;
    EXPECT_TRUE(contents.damage.empty()) << contents.damage.front();
    return contents;
}

// ---- Outside checks -----------------------------------------------------------------------------

bool HaveFfmpeg() {
#ifdef _WIN32
    return false;
#else
    static const bool have = std::system("ffmpeg -version >/dev/null 2>&1") == 0;
    return have;
#endif
}

std::string Run(const std::string& command) {
    std::string output;
#ifndef _WIN32
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return "cannot run " + command;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, got);
    ::pclose(pipe);
#else
    (void)command;
#endif
    return output;
}

// ffmpeg's AVI demuxer reads the whole file without a complaint and finds `videoPackets` video
// packets (it does not count empty ones). The payloads here are not real video, so only the
// demuxer's messages about the file count, not the codec's about the data.
void ExpectFfmpegReads(const fs::path& path, int videoPackets) {
    if (!HaveFfmpeg())
        return;
    const std::string log =
        Run("ffmpeg -v warning -i '" + path.string() + "' -map 0 -c copy -f null -");
    std::size_t line = 0;
    while (line < log.size()) {
        const std::size_t end = std::min(log.find('\n', line), log.size());
        const std::string text = log.substr(line, end - line);
        if (text.find("[avi @") != std::string::npos &&
            text.find("Could not find codec parameters") == std::string::npos)
            ADD_FAILURE() << text;
        line = end + 1;
    }
    const std::string count = Run(
        "ffprobe -v quiet -select_streams v:0 -count_packets -show_entries stream=nb_read_packets "
        "-of csv=p=0 '" +
        path.string() + "'");
    EXPECT_EQ(std::atoi(count.c_str()), videoPackets) << count;
}

// ---- Fixture ------------------------------------------------------------------------------------

class WriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "-" + info->name();
        std::replace(name.begin(), name.end(), '/', '_');
        m_dir = fs::temp_directory_path() / ("vantrel-writer-" + name);
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override {
        if (!HasFailure())
            fs::remove_all(m_dir);
    }

    fs::path path(const std::string& name) const { return m_dir / name; }
    AviResult save(const fs::path& target, const std::vector<SaveStream>& streams,
                   SaveTuning tuning = {}, const SaveProgressFn& progress = nullptr) {
        return WriteAviFileTuned(FilePath::Narrow(target.string()), streams, progress, tuning);
    }
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_dir))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path m_dir;
};

// Ten frames, one of them dropped (empty), some odd-sized, with key and delta frames; PCM audio in
// source chunks that do not line up with frames. No chunk follows another directly in the source,
// so the output is in plain time order.
struct SmallMovie {
    std::vector<Bytes> frames;
    std::vector<bool> keys;
    Bytes audio;
    std::vector<std::shared_ptr<StreamData>> streams;

    SmallMovie() {
        const std::size_t sizes[] = {1000, 301, 0, 777, 1200, 64, 65, 900, 3, 500};
        for (std::size_t i = 0; i < 10; ++i) {
            frames.push_back(Pattern(sizes[i], static_cast<std::uint32_t>(i)));
            keys.push_back(i % 4 == 0);
        }
        audio = Pattern(2 * 3200, 99);  // 0.4 s of 8 kHz mono 16-bit
        std::vector<SourceChunk> chunks;
        std::size_t at = 0;
        for (std::size_t samples : {333, 501, 100, 1000, 1266}) {
            chunks.push_back(SourceChunk{
                1, Bytes(audio.begin() + static_cast<std::ptrdiff_t>(at),
                         audio.begin() + static_cast<std::ptrdiff_t>(at + 2 * samples))});
            at += 2 * samples;
        }
        for (std::size_t i = 0; i < frames.size(); ++i)
            chunks.push_back(SourceChunk{0, frames[i], keys[i]});
        StreamData video = VideoPrototype(kXvid);
        video.name = {'v', 'i', 'd', 'e', 'o', 0};
        video.codecData = {9, 8, 7, 6};
        video.videoProperties = VideoProperties(64, 48);
        StreamData sound = PcmPrototype(8000, 2);
        sound.name = {'s', 'n', 'd', 0};
        streams = MakeStreams({video, sound}, chunks, nullptr, nullptr, 2);
    }
    Bytes videoBytes() const {
        Bytes out;
        for (const Bytes& frame : frames)
            out.insert(out.end(), frame.begin(), frame.end());
        return out;
    }
};

constexpr std::uint32_t k00dc = MakeFourCC('0', '0', 'd', 'c');
constexpr std::uint32_t k01wb = MakeFourCC('0', '1', 'w', 'b');

TEST_F(WriterTest, WritesInterleavedAvi10WithExactHeadersAndIndex) {
    SmallMovie movie;
    const fs::path out = path("out.avi");
    ASSERT_EQ(save(out, {Whole(movie.streams[0]), Whole(movie.streams[1])}), AVIERR_OK);
    EXPECT_EQ(files(), std::vector<std::string>{"out.avi"});
    Output o(out);
    ASSERT_NE(o.hdrl, nullptr);
    ASSERT_EQ(o.top.size(), 1u) << "a small file is one RIFF";
    ASSERT_EQ(o.strls.size(), 2u);
    EXPECT_EQ(Find(o.hdrl->kids, kList, MakeFourCC('o', 'd', 'm', 'l')), nullptr);

    // avih: 25 fps, flags, first video stream's frames and size, largest chunk.
    const Node& avih = o.avih();
    EXPECT_EQ(avih.size, 56u);
    EXPECT_EQ(Field(o.file, avih, 0), 40000u);
    EXPECT_EQ(Field(o.file, avih, 12), 0x10u | 0x100u | 0x800u);
    EXPECT_EQ(Field(o.file, avih, 16), 10u);
    EXPECT_EQ(Field(o.file, avih, 24), 2u);
    EXPECT_EQ(Field(o.file, avih, 28), 1200u);
    EXPECT_EQ(Field(o.file, avih, 32), 64u);
    EXPECT_EQ(Field(o.file, avih, 36), 48u);

    // strh lengths and buffer sizes; formats and the other strl chunks byte for byte.
    EXPECT_EQ(Field(o.file, o.strh(0), 32), 10u);
    EXPECT_EQ(Field(o.file, o.strh(0), 36), 1200u);
    EXPECT_EQ(Field(o.file, o.strh(1), 32), 3200u);
    EXPECT_EQ(Field(o.file, o.strh(1), 36), 640u);
    EXPECT_EQ(Field(o.file, o.strh(1), 44), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const StreamData& s = *movie.streams[i];
        const std::vector<Node>& kids = o.strls[i]->kids;
        EXPECT_EQ(PayloadOf(o.file, *Find(kids, MakeFourCC('s', 't', 'r', 'f'))), s.format);
        EXPECT_EQ(PayloadOf(o.file, *Find(kids, MakeFourCC('s', 't', 'r', 'n'))), s.name);
        EXPECT_EQ(Find(kids, MakeFourCC('i', 'n', 'd', 'x')), nullptr);
    }
    const std::vector<Node>& videoStrl = o.strls[0]->kids;
    EXPECT_EQ(PayloadOf(o.file, *Find(videoStrl, MakeFourCC('s', 't', 'r', 'd'))),
              movie.streams[0]->codecData);
    EXPECT_EQ(PayloadOf(o.file, *Find(videoStrl, MakeFourCC('v', 'p', 'r', 'p'))),
              movie.streams[0]->videoProperties);

    // Chunks alternate frame and one frame's worth of audio, in time order.
    std::vector<std::uint32_t> ids;
    for (const Node* chunk : o.media)
        ids.push_back(chunk->id);
    std::vector<std::uint32_t> expected;
    for (int i = 0; i < 10; ++i)
        expected.insert(expected.end(), {k00dc, k01wb});
    EXPECT_EQ(ids, expected);
    EXPECT_EQ(o.chunkSizes(k01wb), std::vector<std::uint32_t>(10, 640));
    EXPECT_EQ(o.streamBytes(k00dc), movie.videoBytes());
    EXPECT_EQ(o.streamBytes(k01wb), movie.audio);
    EXPECT_EQ(o.chunkSizes(k00dc)[2], 0u) << "the dropped frame stays";

    // idx1: one entry per chunk, offsets from the 'movi' fourcc, key flags of the frames.
    const Node* idx1 = Find(o.top[0].kids, MakeFourCC('i', 'd', 'x', '1'));
    ASSERT_NE(idx1, nullptr);
    ASSERT_EQ(idx1->size, 16u * o.media.size());
    const std::uint64_t moviFourcc = o.movis[0]->at + 8;
    for (std::size_t i = 0; i < o.media.size(); ++i) {
        const std::size_t entry = 16 * i;
        EXPECT_EQ(Field(o.file, *idx1, entry), o.media[i]->id);
        const bool key = o.media[i]->id == k01wb || movie.keys[i / 2];
        EXPECT_EQ(Field(o.file, *idx1, entry + 4), key ? 0x10u : 0u) << i;
        EXPECT_EQ(Field(o.file, *idx1, entry + 8), o.media[i]->at - moviFourcc);
        EXPECT_EQ(Field(o.file, *idx1, entry + 12), o.media[i]->size);
    }

    const AviContents back = ReadBack(out);
    EXPECT_EQ(back.indexSource, IndexSource::Idx1Relative);
    ASSERT_EQ(back.streams.size(), 2u);
    ASSERT_EQ(back.streams[0]->chunks.size(), 10u);
    for (std::size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(back.streams[0]->chunks[i].size(), movie.frames[i].size()) << i;
        EXPECT_EQ(back.streams[0]->chunks[i].isKey(), movie.keys[i]) << i;
    }
    EXPECT_EQ(back.streams[1]->sampleCount(), 3200u);
    ExpectFfmpegReads(out, 9);
}

// Segments pick ranges out of several sources, as a join does; audio ranges start and end inside
// source chunks.
TEST_F(WriterTest, WritesSegmentsOfSeveralSourcesInOrder) {
    SmallMovie a;
    SmallMovie b;
    const SaveStream video{a.streams[0],
                           {Segment{a.streams[0], 3, 5}, Segment{b.streams[0], 0, 10},
                            Segment{a.streams[0], 0, 0}, Segment{a.streams[0], 0, 1}}};
    const SaveStream sound{a.streams[1],
                           {Segment{b.streams[1], 400, 1000}, Segment{a.streams[1], 7, 2000}}};
    const fs::path out = path("join.avi");
    ASSERT_EQ(save(out, {video, sound}), AVIERR_OK);
    Output o(out);

    Bytes frames;
    for (std::size_t i = 3; i < 8; ++i)
        frames.insert(frames.end(), a.frames[i].begin(), a.frames[i].end());
    const Bytes all = b.videoBytes();
    frames.insert(frames.end(), all.begin(), all.end());
    frames.insert(frames.end(), a.frames[0].begin(), a.frames[0].end());
    EXPECT_EQ(o.streamBytes(k00dc), frames);
    EXPECT_EQ(o.chunkSizes(k00dc).size(), 16u);

    Bytes audio(b.audio.begin() + 800, b.audio.begin() + 2800);
    audio.insert(audio.end(), a.audio.begin() + 14, a.audio.begin() + 4014);
    EXPECT_EQ(o.streamBytes(k01wb), audio);
    EXPECT_EQ(Field(o.file, o.strh(1), 32), 3000u);
    ExpectFfmpegReads(out, 15);
}

// Streams with a sample size are cut into chunks of whole samples lasting about one frame.
TEST_F(WriterTest, RecutsSampleSizeStreamsToAboutOneFrame) {
    struct Case {
        const char* what;
        bool video;
        std::uint32_t videoRate, videoScale, sampleRate;
        std::uint16_t blockAlign;
        std::uint32_t expected;  // samples per chunk
    };
    const Case cases[] = {
        {"25 fps, 8 kHz", true, 25, 1, 8000, 2, 320},
        {"29.97 fps, 48 kHz stereo", true, 30000, 1001, 48000, 4, 1602},
        {"no video: 1/25 s", false, 0, 0, 44100, 4, 1764},
        {"big blocks stop at 1 MiB", true, 25, 1, 48000, 4096, 256},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<StreamData> prototypes;
        std::vector<SourceChunk> chunks;
        if (c.video) {
            prototypes.push_back(VideoPrototype(kXvid, c.videoRate, c.videoScale));
            chunks.push_back(SourceChunk{0, Pattern(10, 1)});
        }
        const std::size_t audioIndex = prototypes.size();
        prototypes.push_back(PcmPrototype(c.sampleRate, c.blockAlign));
        // Two and a half chunks' worth of samples, in source chunks of another size.
        const std::size_t total = c.expected * 5 / 2;
        const Bytes audio = Pattern(total * c.blockAlign, 7);
        for (std::size_t at = 0; at < audio.size(); at += 1000 * c.blockAlign) {
            const std::size_t end = std::min(audio.size(), at + 1000 * c.blockAlign);
            chunks.push_back(
                SourceChunk{audioIndex, Bytes(audio.begin() + static_cast<std::ptrdiff_t>(at),
                                              audio.begin() + static_cast<std::ptrdiff_t>(end))});
        }
        const auto streams = MakeStreams(prototypes, chunks);
        std::vector<SaveStream> save;
        for (const auto& stream : streams)
            save.push_back(Whole(stream));
        const fs::path out = path(std::string("recut-") + std::to_string(&c - cases) + ".avi");
        ASSERT_EQ(this->save(out, save), AVIERR_OK);
        Output o(out);
        const std::uint32_t id = MakeFourCC('0', static_cast<char>('0' + audioIndex), 'w', 'b');
        const std::uint32_t full = c.expected * c.blockAlign;
        EXPECT_EQ(o.chunkSizes(id),
                  (std::vector<std::uint32_t>{
                      full, full, static_cast<std::uint32_t>(audio.size()) - 2 * full}));
        EXPECT_EQ(o.streamBytes(id), audio);
        EXPECT_EQ(Field(o.file, o.strh(audioIndex), 36), full);
    }
}

// A video stream with a sample size of its own (uncompressed frames, as some writers store them)
// is re-cut like audio; its frames are still its samples, in avih as in strh.
TEST_F(WriterTest, CountsFramesOfVideoWithASampleSizeAsSamples) {
    StreamData video = VideoPrototype(kXvid, 100, 1);
    video.header.sampleSize = 48;
    const auto streams = MakeStreams({video}, {SourceChunk{0, Pattern(8 * 48, 3)}});
    const fs::path out = path("sampled-video.avi");
    ASSERT_EQ(save(out, {Whole(streams[0])}), AVIERR_OK);
    Output o(out);
    EXPECT_EQ(o.chunkSizes(MakeFourCC('0', '0', 'd', 'c')),
              (std::vector<std::uint32_t>{4 * 48, 4 * 48}));  // 1/25 s each
    EXPECT_EQ(Field(o.file, o.avih(), 16), 8u);
    EXPECT_EQ(Field(o.file, o.strh(0), 32), 8u);

    std::shared_ptr<ByteSource> written;
    ASSERT_EQ(OpenFileSource(FilePath::Narrow(out.string()), &written), AVIERR_OK);
    AviContents back;
    std::string problem;
    ASSERT_EQ(ReadAviContents(written, &back, &problem), AVIERR_OK) << problem;
    EXPECT_TRUE(back.damage.empty());
}

// With a small RIFF limit the same kind of file becomes OpenDML: AVIX parts within the limit, a
// super index per stream pointing at one ix## per stream and part, idx1 for the first part only.
TEST_F(WriterTest, SplitsIntoOpenDmlPartsPastTheRiffLimit) {
    constexpr std::uint64_t kLimit = 64 << 10;
    constexpr std::size_t kFrames = 300;
    std::vector<SourceChunk> chunks;
    Bytes video;
    std::vector<bool> keys;
    for (std::size_t i = 0; i < kFrames; ++i) {
        const Bytes frame = Pattern(1500 + (i * 37) % 1001, static_cast<std::uint32_t>(i));
        keys.push_back(i % 10 == 0);
        chunks.push_back(SourceChunk{0, frame, keys.back()});
        video.insert(video.end(), frame.begin(), frame.end());
        chunks.push_back(SourceChunk{1, Pattern(640, static_cast<std::uint32_t>(1000 + i))});
    }
    const auto streams = MakeStreams({VideoPrototype(kXvid), PcmPrototype(8000, 2)}, chunks);
    const fs::path out = path("odml.avi");
    ASSERT_EQ(save(out, {Whole(streams[0]), Whole(streams[1])}, SaveTuning{kLimit, true}),
              AVIERR_OK);
    Output o(out);
    ASSERT_NE(o.hdrl, nullptr);
    ASSERT_GT(o.top.size(), 5u);
    for (std::size_t i = 0; i < o.top.size(); ++i) {
        EXPECT_LE(o.top[i].size + 8u, kLimit) << "RIFF " << i;
        EXPECT_EQ(o.top[i].type,
                  i == 0 ? MakeFourCC('A', 'V', 'I', ' ') : MakeFourCC('A', 'V', 'I', 'X'));
        EXPECT_EQ(Find(o.top[i].kids, MakeFourCC('i', 'd', 'x', '1')) != nullptr, i == 0);
    }
    ASSERT_EQ(o.movis.size(), o.top.size());
    EXPECT_EQ(o.streamBytes(k00dc), video);
    EXPECT_EQ(o.chunkSizes(k01wb).size(), kFrames);

    const Node* odml = Find(o.hdrl->kids, kList, MakeFourCC('o', 'd', 'm', 'l'));
    ASSERT_NE(odml, nullptr);
    const Node* dmlh = Find(odml->kids, MakeFourCC('d', 'm', 'l', 'h'));
    ASSERT_NE(dmlh, nullptr);
    EXPECT_EQ(dmlh->size, 248u);
    EXPECT_EQ(Field(o.file, *dmlh, 0), kFrames);
    std::uint32_t firstRiffFrames = 0;
    for (const Node& chunk : o.movis[0]->kids)
        firstRiffFrames += chunk.id == k00dc ? 1 : 0;
    EXPECT_EQ(Field(o.file, o.avih(), 16), firstRiffFrames);
    EXPECT_EQ(Field(o.file, o.strh(0), 32), kFrames);
    const Node* idx1 = Find(o.top[0].kids, MakeFourCC('i', 'd', 'x', '1'));
    EXPECT_EQ(idx1->size, 16u * (o.movis[0]->kids.size() - 2)) << "first part's media chunks";

    // Follow every index down to the chunks and collect what they point at.
    for (std::size_t s = 0; s < 2; ++s) {
        SCOPED_TRACE(s);
        const std::uint32_t id = s == 0 ? k00dc : k01wb;
        const Node* indx = Find(o.strls[s]->kids, MakeFourCC('i', 'n', 'd', 'x'));
        ASSERT_NE(indx, nullptr);
        const std::uint32_t used = Field(o.file, *indx, 4);
        EXPECT_EQ(used, o.top.size());
        EXPECT_EQ(Field(o.file, *indx, 8), id);
        EXPECT_GE(indx->size, 24 + 16 * used);
        std::vector<std::uint32_t> sizes;
        for (std::uint32_t e = 0; e < used; ++e) {
            const std::uint64_t entry = indx->data() + 24 + 16 * e;
            const std::uint64_t ixAt = LoadLE64(o.file.data() + entry);
            ASSERT_LT(ixAt + 32, o.file.size());
            EXPECT_EQ(LoadLE32(o.file.data() + ixAt),
                      MakeFourCC('i', 'x', '0', static_cast<char>('0' + s)));
            const std::uint32_t ixSize = LoadLE32(o.file.data() + ixAt + 4);
            EXPECT_EQ(LoadLE32(o.file.data() + entry + 8), ixSize + 8);
            const std::uint8_t* ix = o.file.data() + ixAt + 8;
            const std::uint32_t n = LoadLE32(ix + 4);
            EXPECT_EQ(LoadLE32(o.file.data() + entry + 12), s == 0 ? n : 0u + n * 320);
            EXPECT_EQ(LoadLE32(ix + 8), id);
            EXPECT_EQ(ixSize, 24 + 8 * n);
            const std::uint64_t base = LoadLE64(ix + 12);
            for (std::uint32_t k = 0; k < n; ++k) {
                const std::uint64_t payload = base + LoadLE32(ix + 24 + 8 * k);
                const std::uint32_t size = LoadLE32(ix + 28 + 8 * k);
                ASSERT_LE(payload + (size & 0x7FFFFFFF), o.file.size());
                EXPECT_EQ(LoadLE32(o.file.data() + payload - 8), id);
                EXPECT_EQ(LoadLE32(o.file.data() + payload - 4), size & 0x7FFFFFFF);
                const bool key = (size & 0x80000000u) == 0;
                EXPECT_EQ(key, s == 0 ? keys[sizes.size()] : true) << "chunk " << sizes.size();
                sizes.push_back(size & 0x7FFFFFFF);
            }
        }
        EXPECT_EQ(sizes, o.chunkSizes(id));
    }

    const AviContents back = ReadBack(out);
    EXPECT_EQ(back.indexSource, IndexSource::OpenDml);
    EXPECT_EQ(back.grandFrames, kFrames);
    ASSERT_EQ(back.streams.size(), 2u);
    ASSERT_EQ(back.streams[0]->chunks.size(), kFrames);
    for (std::size_t i = 0; i < kFrames; ++i)
        EXPECT_EQ(back.streams[0]->chunks[i].isKey(), keys[i]) << i;
    EXPECT_EQ(back.streams[1]->sampleCount(), kFrames * 320);
    ExpectFfmpegReads(out, static_cast<int>(kFrames));
}

// An emptied set of streams, or streams with no samples left, still give a complete file.
TEST_F(WriterTest, WritesAFileWithoutSamples) {
    SmallMovie movie;
    const std::vector<std::vector<SaveStream>> sets = {
        {},
        {SaveStream{movie.streams[0], {}}, SaveStream{movie.streams[1], {}}},
    };
    for (std::size_t i = 0; i < sets.size(); ++i) {
        SCOPED_TRACE(i);
        const fs::path out = path("empty" + std::to_string(i) + ".avi");
        ASSERT_EQ(save(out, sets[i]), AVIERR_OK);
        Output o(out);
        ASSERT_NE(o.hdrl, nullptr);
        EXPECT_EQ(Field(o.file, o.avih(), 24), sets[i].size());
        EXPECT_EQ(o.strls.size(), sets[i].size());
        for (std::size_t s = 0; s < o.strls.size(); ++s)
            EXPECT_EQ(Field(o.file, o.strh(s), 32), 0u);
        ASSERT_EQ(o.movis.size(), 1u);
        EXPECT_EQ(o.movis[0]->size, 4u);
        const Node* idx1 = Find(o.top[0].kids, MakeFourCC('i', 'd', 'x', '1'));
        ASSERT_NE(idx1, nullptr);
        EXPECT_EQ(idx1->size, 0u);
    }
}

// Reads that continue each other in the source are made as one.
class CountingSource final : public ByteSource {
public:
    explicit CountingSource(std::shared_ptr<const ByteSource> inner) : m_inner(std::move(inner)) {}
    std::uint64_t size() const override { return m_inner->size(); }
    bool readAt(std::uint64_t offset, void* buffer, std::size_t count) const override {
        ++reads;
        return m_inner->readAt(offset, buffer, count);
    }
    std::string name() const override { return "counting"; }
    mutable int reads = 0;

private:
    std::shared_ptr<const ByteSource> m_inner;
};

TEST_F(WriterTest, MergesReadsOfChunksThatFollowEachOtherInTheSource) {
    // The source is laid out as the output will be: frame, one frame of audio, frame, ...
    std::vector<SourceChunk> chunks;
    for (std::uint32_t i = 0; i < 50; ++i) {
        chunks.push_back(SourceChunk{0, Pattern(999 + i, i), i % 5 == 0});
        chunks.push_back(SourceChunk{1, Pattern(640, 100 + i)});
    }
    Bytes layout;
    MakeStreams({VideoPrototype(kXvid), PcmPrototype(8000, 2)}, chunks, nullptr, &layout);
    auto counting = std::make_shared<CountingSource>(MakeMemorySource(layout));
    const auto streams =
        MakeStreams({VideoPrototype(kXvid), PcmPrototype(8000, 2)}, chunks, counting);
    const fs::path out = path("merged.avi");
    ASSERT_EQ(save(out, {Whole(streams[0]), Whole(streams[1])}), AVIERR_OK);
    EXPECT_EQ(counting->reads, 1);
    Output o(out);
    ASSERT_EQ(o.media.size(), chunks.size());
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        EXPECT_EQ(o.media[i]->id, i % 2 == 0 ? k00dc : k01wb) << i;
        EXPECT_EQ(PayloadOf(o.file, *o.media[i]), chunks[i].payload) << i;
    }
}

// Chunks may go up to half a second early to keep the order of their source: a source
// interleaved a little differently from us keeps its order (and is read in one go), one not
// interleaved at all comes out in half-second runs.
TEST_F(WriterTest, KeepsTheSourceOrderWithinHalfASecond) {
    StreamData mp3 = PcmPrototype(44100, 1);  // one frame of 1152 samples per chunk
    mp3.header.sampleSize = 0;
    mp3.header.scale = 1152;
    StoreLE16(mp3.format.data(), 0x55);
    const auto timeOf = [](std::size_t stream, std::size_t index) {
        return stream == 0 ? index / 25.0 : index * 1152 / 44100.0;
    };
    struct Case {
        const char* what;
        double audioShift;  // seconds the audio is placed early in the source
        bool interleaved;
        int reads;  // expected, 0 for any
    };
    const Case cases[] = {
        {"audio a tenth of a second ahead", 0.1, true, 1},
        {"audio a tenth of a second behind", -0.1, true, 1},
        {"all video, then all audio", 0, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::pair<double, SourceChunk>> order;
        for (std::uint32_t i = 0; i < 50; ++i)
            order.push_back(
                {c.interleaved ? timeOf(0, i) : i, SourceChunk{0, Pattern(2001 + i, i)}});
        for (std::uint32_t i = 0; i < 86; ++i)
            order.push_back({c.interleaved ? timeOf(1, i) - c.audioShift : 100 + i,
                             SourceChunk{1, Pattern(417 + i % 2, 500 + i)}});
        std::stable_sort(order.begin(), order.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<SourceChunk> chunks;
        for (const auto& entry : order)
            chunks.push_back(entry.second);
        Bytes layout;
        MakeStreams({VideoPrototype(kXvid), mp3}, chunks, nullptr, &layout);
        auto counting = std::make_shared<CountingSource>(MakeMemorySource(layout));
        const auto streams = MakeStreams({VideoPrototype(kXvid), mp3}, chunks, counting);
        const fs::path out = path(std::string("order-") + std::to_string(&c - cases) + ".avi");
        ASSERT_EQ(save(out, {Whole(streams[0]), Whole(streams[1])}), AVIERR_OK);
        if (c.reads > 0) {
            EXPECT_EQ(counting->reads, c.reads);
        }

        Output o(out);
        ASSERT_EQ(o.media.size(), chunks.size());
        std::size_t next[2] = {0, 0};
        const std::size_t total[2] = {50, 86};
        for (const Node* chunk : o.media) {
            const std::size_t s = chunk->id == k00dc ? 0 : 1;
            const std::size_t other = 1 - s;
            if (next[other] < total[other]) {
                EXPECT_LE(timeOf(s, next[s]), timeOf(other, next[other]) + 0.5 + 1e-9);
            }
            ++next[s];
        }
        Bytes video;
        for (const SourceChunk& chunk : chunks) {
            if (chunk.stream == 0)
                video.insert(video.end(), chunk.payload.begin(), chunk.payload.end());
        }
        EXPECT_EQ(o.streamBytes(k00dc), video);
        if (c.interleaved) {
            for (std::size_t i = 0; i < chunks.size(); ++i)
                EXPECT_EQ(o.media[i]->id, chunks[i].stream == 0 ? k00dc : k01wb) << i;
        }
    }
}

// A source that fails after a number of reads, like a file on a drive that went away.
class FailingSource final : public ByteSource {
public:
    FailingSource(std::shared_ptr<const ByteSource> inner, int goodReads)
        : m_inner(std::move(inner)), m_goodReads(goodReads) {}
    std::uint64_t size() const override { return m_inner->size(); }
    bool readAt(std::uint64_t offset, void* buffer, std::size_t count) const override {
        return m_goodReads-- > 0 && m_inner->readAt(offset, buffer, count);
    }
    std::string name() const override { return "failing"; }

private:
    std::shared_ptr<const ByteSource> m_inner;
    mutable int m_goodReads;
};

TEST_F(WriterTest, FailedSavesReportWhyAndLeaveNothingBehind) {
    SmallMovie movie;
    const std::vector<SaveStream> good = {Whole(movie.streams[0]), Whole(movie.streams[1])};

    // All frames first, then all audio: the interleaved output reads them one by one.
    std::vector<SourceChunk> chunks;
    for (std::uint32_t i = 0; i < 20; ++i)
        chunks.push_back(SourceChunk{0, Pattern(10000 + i, i)});
    for (std::uint32_t i = 0; i < 20; ++i)
        chunks.push_back(SourceChunk{1, Pattern(640, i)});
    Bytes layout;
    MakeStreams({VideoPrototype(kXvid), PcmPrototype(8000, 2)}, chunks, nullptr, &layout);
    const auto failing = MakeStreams({VideoPrototype(kXvid), PcmPrototype(8000, 2)}, chunks,
                                     std::make_shared<FailingSource>(MakeMemorySource(layout), 1));

    struct Case {
        const char* what;
        std::vector<SaveStream> streams;
        SaveProgressFn progress;
        AviResult expected;
    };
    const std::vector<Case> cases = {
        {"source fails midway", {Whole(failing[0]), Whole(failing[1])}, nullptr, AVIERR_FILEREAD},
        {"cancelled at the start", good, [](std::uint64_t, std::uint64_t) { return false; },
         AVIERR_USERABORT},
        {"cancelled when done", good,
         [](std::uint64_t written, std::uint64_t total) { return written < total; },
         AVIERR_USERABORT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(save(path("out.avi"), c.streams, {}, c.progress), c.expected);
        EXPECT_TRUE(files().empty()) << files().front();
    }

    // A file at the target is never touched, whether it was there first or appeared meanwhile.
    const fs::path out = path("out.avi");
    { std::ofstream(out) << "keep me"; }
    EXPECT_EQ(save(out, good), AVIERR_FILEOPEN);
    EXPECT_EQ(files(), std::vector<std::string>{"out.avi"});
    fs::remove(out);
    const SaveProgressFn sneakIn = [&](std::uint64_t written, std::uint64_t total) {
        if (written == total)
            std::ofstream(out) << "keep me";
        return true;
    };
    EXPECT_EQ(save(out, good, {}, sneakIn), AVIERR_FILEOPEN);
    EXPECT_EQ(files(), std::vector<std::string>{"out.avi"});
    std::ifstream in(out);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep me");

    EXPECT_EQ(save(path("no-such-folder") / "out.avi", good), AVIERR_FILEOPEN);
}

#ifndef _WIN32
// The file system refuses the bytes (here a file size limit, as a full disk would): FILEWRITE,
// through the buffer and through the kernel's copy alike.
TEST_F(WriterTest, ReportsAWriteFailureAndRemovesTheFile) {
    std::vector<SourceChunk> chunks;
    for (std::uint32_t i = 0; i < 8; ++i)
        chunks.push_back(SourceChunk{0, Pattern(300000, i)});
    Bytes layout;
    MakeStreams({VideoPrototype(kXvid)}, chunks, nullptr, &layout);
    const fs::path sourcePath = path("source.bin");
    const std::shared_ptr<ByteSource> file = WriteSource(sourcePath, layout);
    ASSERT_NE(file, nullptr);
    const auto streams = MakeStreams({VideoPrototype(kXvid)}, chunks, file);

    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    for (bool kernel : {true, false}) {
        SCOPED_TRACE(kernel ? "kernel copy" : "buffered");
        struct rlimit small = saved;
        small.rlim_cur = 1 << 20;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        const AviResult result = save(path("out.avi"), {Whole(streams[0])}, {kMaxRiffSize, kernel});
        setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_EQ(result, AVIERR_FILEWRITE);
        EXPECT_EQ(files(), std::vector<std::string>{"source.bin"});
    }
    std::signal(SIGXFSZ, oldHandler);
}
#endif

// Copies from a real file, through the kernel and through the buffer: the same bytes either way,
// and a source file cut short under the save's feet is a read failure, not a hang.
TEST_F(WriterTest, CopiesFromFilesEitherWayAndNoticesATruncatedSource) {
    std::vector<SourceChunk> chunks;
    for (std::uint32_t i = 0; i < 6; ++i) {
        chunks.push_back(SourceChunk{0, Pattern(400001 + i, i), i % 3 == 0});
        chunks.push_back(SourceChunk{1, Pattern(640, 50 + i)});
    }
    Bytes layout;
    MakeStreams({VideoPrototype(kXvid), PcmPrototype(8000, 2)}, chunks, nullptr, &layout);
    const fs::path sourcePath = path("source.bin");
    const std::shared_ptr<ByteSource> file = WriteSource(sourcePath, layout);
    ASSERT_NE(file, nullptr);
    const auto streams = MakeStreams({VideoPrototype(kXvid), PcmPrototype(8000, 2)}, chunks, file);
    const std::vector<SaveStream> save = {Whole(streams[0]), Whole(streams[1])};

    ASSERT_EQ(this->save(path("kernel.avi"), save, {kMaxRiffSize, true}), AVIERR_OK);
    ASSERT_EQ(this->save(path("buffered.avi"), save, {kMaxRiffSize, false}), AVIERR_OK);
    const Bytes kernel = ReadAll(path("kernel.avi"));
    EXPECT_TRUE(kernel == ReadAll(path("buffered.avi")));
    Output o(path("kernel.avi"));
    ASSERT_EQ(o.media.size(), chunks.size());
    for (std::size_t i = 0; i < chunks.size(); ++i)
        EXPECT_TRUE(PayloadOf(o.file, *o.media[i]) == chunks[i].payload) << i;

    fs::resize_file(sourcePath, layout.size() / 2);
    for (bool viaKernel : {true, false}) {
        SCOPED_TRACE(viaKernel ? "kernel copy" : "buffered");
        EXPECT_EQ(this->save(path("cut.avi"), save, {kMaxRiffSize, viaKernel}), AVIERR_FILEREAD);
        EXPECT_FALSE(fs::exists(path("cut.avi")));
    }
    EXPECT_EQ(files(), (std::vector<std::string>{"buffered.avi", "kernel.avi", "source.bin"}));
}

}  // namespace
}  // namespace avi
