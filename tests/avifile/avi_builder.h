// Test-side AVI builder: makes exact, malformed and edge-case AVI files in memory, for the tests of
// the reader, the writer, the API and the engine.
//
// A typical use:
//
//     avitest::AviBuilder b;                                   // AVI 1.0, idx1 relative to 'movi'
//     const int v = b.addStream(avitest::VideoStream(64, 48));  // stream 0, MJPG 25 fps
//     const int a = b.addStream(avitest::PcmAudioStream());     // stream 1, 44.1 kHz 16-bit stereo
//     b.chunk(v, avitest::Payload(100, 1), true).chunk(a, avitest::Payload(4410 * 4, 2));
//     b.chunk(v, avitest::Payload(40, 3), false);
//     avitest::Layout layout;
//     std::vector<std::uint8_t> file = b.build(&layout);       // layout: where everything went
//
// Media chunks are laid out in the order they are added. `newRiff()` starts an OpenDML 'RIFF AVIX'
// part; `beginRec()`/`endRec()` wrap chunks in a LIST 'rec '; `junk()` and `raw()` put padding or
// arbitrary bytes into 'movi'. BuildOptions picks the indexes (idx1 relative/absolute/none,
// OpenDML indx + ix##), pad bytes and header values that disagree with the data. For corruptions
// the builder has no option for, build the file and edit the bytes at the offsets in Layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "avifile.h"

namespace avitest {

// 'abcd' as the little-endian u32 the file holds.
constexpr std::uint32_t FourCC(const char (&text)[5]) {
    return MakeFourCC(text[0], text[1], text[2], text[3]);
}

// `size` bytes of a pattern that depends on `seed`, so that tests can tell payloads apart.
std::vector<std::uint8_t> Payload(std::size_t size, std::uint32_t seed = 0);

// A 40-byte BITMAPINFOHEADER followed by `extra` (palette or codec data); biSize counts the extra.
std::vector<std::uint8_t> BitmapInfoHeader(std::int32_t width, std::int32_t height,
                                           std::uint32_t compression, std::uint16_t bitCount = 24,
                                           const std::vector<std::uint8_t>& extra = {});
// An 18-byte WAVEFORMATEX with cbSize = extra.size(), followed by `extra`.
std::vector<std::uint8_t> WaveFormatEx(std::uint16_t formatTag, std::uint16_t channels,
                                       std::uint32_t samplesPerSec, std::uint16_t blockAlign,
                                       std::uint16_t bitsPerSample,
                                       const std::vector<std::uint8_t>& extra = {});
// A 16-byte PCMWAVEFORMAT (a WAVEFORMATEX without cbSize), as some writers store PCM.
std::vector<std::uint8_t> PcmWaveFormat(std::uint16_t channels, std::uint32_t samplesPerSec,
                                        std::uint16_t bitsPerSample);

// Everything the 'strl' of one stream holds.
struct StreamDesc {
    std::uint32_t type = streamtypeVIDEO;
    std::uint32_t handler = 0;
    std::uint32_t flags = 0;
    std::uint16_t priority = 0;
    std::uint16_t language = 0;
    std::uint32_t initialFrames = 0;
    std::uint32_t scale = 1;
    std::uint32_t rate = 25;
    std::uint32_t start = 0;
    std::optional<std::uint32_t> length;  // dwLength as written; default: counted from the chunks
    std::uint32_t suggestedBufferSize = 0;
    std::uint32_t quality = 0xFFFFFFFF;
    std::uint32_t sampleSize = 0;
    std::int16_t frame[4] = {0, 0, 0, 0};       // rcFrame: left, top, right, bottom
    std::vector<std::uint8_t> format;           // 'strf' payload
    std::vector<std::uint8_t> codecData;        // 'strd', written when not empty
    std::vector<std::uint8_t> name;             // 'strn', written when not empty
    std::vector<std::uint8_t> videoProperties;  // 'vprp', written when not empty
    std::uint32_t strhSize = 56;  // cb of 'strh'; less truncates the record, more adds zeros
};

// A video stream: BITMAPINFOHEADER of that size and compression, rcFrame (0, 0, w, h).
StreamDesc VideoStream(std::int32_t width, std::int32_t height,
                       std::uint32_t handler = FourCC("MJPG"), std::uint32_t rate = 25,
                       std::uint32_t scale = 1);
// A PCM audio stream: sampleSize = block align, rate = sample rate, scale 1.
StreamDesc PcmAudioStream(std::uint16_t channels = 2, std::uint32_t sampleRate = 44100,
                          std::uint16_t bitsPerSample = 16);

enum class Idx1 { Relative, Absolute, None };  // relative: offsets from the 'movi' fourcc
enum class IxBase { MoviFourcc, RiffStart };   // qwBaseOffset of each ix##

struct BuildOptions {
    Idx1 idx1 = Idx1::Relative;  // covers the first RIFF only, as real writers do
    // OpenDML: 'indx' in every strl pointing at one ix## per stream at the end of every movi
    // (inside the list), and LIST odml/dmlh.
    bool openDml = false;
    bool indxIsChunkIndex = false;  // with openDml: the strl 'indx' is itself the chunk index
    bool ixStreamFirst = false;     // with openDml: '00ix' instead of 'ix00'
    bool fieldIndex = false;        // with openDml: three longs per ix## entry
    IxBase ixBase = IxBase::MoviFourcc;
    bool padOddChunks = true;                  // default for chunks without their own setting
    std::optional<std::uint32_t> totalFrames;  // avih dwTotalFrames; default: video chunks
    std::optional<std::uint32_t> grandFrames;  // dmlh; default: all video chunks
    std::optional<std::uint32_t> avihStreams;  // avih dwStreams; default: the stream count
};

// One item of 'movi'. stream >= 0: a chunk of that stream, id "##dc" for video ("##wb" audio,
// "##tx" text, "##dc" otherwise) unless `id` is given. stream < 0: a chunk that belongs to no
// stream (its `id` must be given); it still gets an idx1 entry when `indexed`.
struct ChunkDesc {
    int stream = -1;
    std::uint32_t id = 0;
    std::vector<std::uint8_t> payload;
    bool key = true;
    bool indexed = true;                        // listed in idx1 and in the stream's ix##
    std::optional<bool> pad;                    // default: BuildOptions::padOddChunks
    std::optional<std::uint32_t> declaredSize;  // ckSize as written, in place of payload.size()
};

// Where things ended up in the built file (all offsets from the file start).
struct Layout {
    std::vector<std::uint64_t> chunkHeader;  // every ChunkDesc chunk's header, in the order added
    std::vector<std::uint64_t> riffStart;    // 'RIFF' of each part
    std::vector<std::uint64_t> moviFourcc;   // the 'movi' fourcc of each part
    std::vector<std::uint64_t> strhPayload;  // per stream
    std::vector<std::uint64_t> indxHeader;   // per stream, when OpenDML
    std::vector<std::vector<std::uint64_t>> ixHeader;  // per stream, one per part with chunks
    std::uint64_t avihPayload = 0;
    std::uint64_t idx1Header = 0;  // 0 when there is no idx1
};

class AviBuilder {
public:
    explicit AviBuilder(BuildOptions options = {}) : m_options(options) {}

    BuildOptions& options() { return m_options; }

    // Adds a stream and returns its number.
    int addStream(StreamDesc desc);
    // A media chunk of `stream` with that payload.
    AviBuilder& chunk(int stream, std::vector<std::uint8_t> payload, bool key = true);
    // Any chunk, see ChunkDesc.
    AviBuilder& add(ChunkDesc desc);
    // A JUNK chunk with `size` zero bytes.
    AviBuilder& junk(std::uint32_t size);
    // Bytes copied verbatim into 'movi'.
    AviBuilder& raw(std::vector<std::uint8_t> bytes);
    // LIST 'rec ' around the chunks added in between.
    AviBuilder& beginRec();
    AviBuilder& endRec();
    // Ends the current RIFF and starts a 'RIFF AVIX' with its own 'movi'.
    AviBuilder& newRiff();

    std::vector<std::uint8_t> build(Layout* layout = nullptr) const;

private:
    enum class ItemKind { Chunk, Junk, Raw, BeginRec, EndRec, NewRiff };
    struct Item {
        ItemKind kind;
        ChunkDesc chunk;  // Chunk; Raw keeps its bytes in chunk.payload; Junk its size
    };
    std::uint32_t chunkId(const ChunkDesc& desc) const;

    BuildOptions m_options;
    std::vector<StreamDesc> m_streams;
    std::vector<Item> m_items;
};

// A file in a fresh temporary folder, deleted with the object.
class TempFile {
public:
    explicit TempFile(const std::vector<std::uint8_t>& bytes, const std::string& name = "test.avi");
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_folder;
    std::string m_path;
};

}  // namespace avitest
