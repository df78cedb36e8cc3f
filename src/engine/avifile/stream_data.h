// What the reader learns about a file and what the editor and the writer work on: stream headers,
// formats and a compact per-stream chunk index. Media bytes stay in the file until a save copies
// them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "byte_io.h"

namespace avi {

// The 'avih' record.
struct MainHeader {
    std::uint32_t microSecPerFrame = 0;
    std::uint32_t maxBytesPerSec = 0;
    std::uint32_t paddingGranularity = 0;
    std::uint32_t flags = 0;
    std::uint32_t totalFrames = 0;
    std::uint32_t initialFrames = 0;
    std::uint32_t streams = 0;
    std::uint32_t suggestedBufferSize = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// The 'strh' record, fields in file order; rcFrame is 16-bit in the file.
struct StreamHeader {
    std::uint32_t fccType = 0;
    std::uint32_t fccHandler = 0;
    std::uint32_t flags = 0;
    std::uint16_t priority = 0;
    std::uint16_t language = 0;
    std::uint32_t initialFrames = 0;
    std::uint32_t scale = 0;
    std::uint32_t rate = 0;
    std::uint32_t start = 0;
    std::uint32_t length = 0;
    std::uint32_t suggestedBufferSize = 0;
    std::uint32_t quality = 0;
    std::uint32_t sampleSize = 0;
    std::int16_t frameLeft = 0;
    std::int16_t frameTop = 0;
    std::int16_t frameRight = 0;
    std::int16_t frameBottom = 0;
};

// One media chunk of a stream: where its payload lies, how big it is, whether it is a key frame
// and the stream position of its first sample. Sixteen bytes, so that the index of a file with
// millions of chunks stays small.
class ChunkRef {
public:
    ChunkRef() = default;
    ChunkRef(std::uint64_t payloadOffset, std::uint32_t size, bool key, std::uint32_t firstSample)
        : m_offsetAndKey(payloadOffset | (key ? kKeyBit : 0)),
          m_size(size),
          m_firstSample(firstSample) {}

    std::uint64_t offset() const { return m_offsetAndKey & ~kKeyBit; }
    std::uint32_t size() const { return m_size; }
    bool isKey() const { return (m_offsetAndKey & kKeyBit) != 0; }
    std::uint32_t firstSample() const { return m_firstSample; }

private:
    static constexpr std::uint64_t kKeyBit = std::uint64_t{1} << 63;
    std::uint64_t m_offsetAndKey = 0;
    std::uint32_t m_size = 0;
    std::uint32_t m_firstSample = 0;
};
static_assert(sizeof(ChunkRef) == 16, "the index must stay at 16 bytes a chunk");

// One stream of an opened file. Samples: with sampleSize 0 each chunk is one sample (empty chunks
// too, they are dropped frames); with sampleSize > 0 a chunk holds size / sampleSize whole
// samples and a trailing partial block is not addressable.
struct StreamData {
    StreamHeader header;                        // as read, but `length` recounted from the index
    std::vector<std::uint8_t> format;           // 'strf' payload
    std::vector<std::uint8_t> codecData;        // 'strd' payload, empty when absent
    std::vector<std::uint8_t> name;             // 'strn' payload, empty when absent
    std::vector<std::uint8_t> videoProperties;  // 'vprp' payload, empty when absent
    std::vector<ChunkRef> chunks;               // in stream order
    std::shared_ptr<const ByteSource> source;   // where the payloads are

    // Samples in the stream, counted from the index.
    std::uint32_t sampleCount() const;
    // The chunk holding `sample` (binary search), or chunks.size() when past the end.
    std::size_t chunkOfSample(std::uint32_t sample) const;
    // Samples in chunk i.
    std::uint32_t samplesInChunk(std::size_t i) const;
};

enum class IndexSource {
    OpenDml,       // 'indx' super indexes and their 'ix##' chunks
    Idx1Relative,  // 'idx1', offsets from the 'movi' fourcc
    Idx1Absolute,  // 'idx1', offsets from the file start
    Scan,          // no usable index: the 'movi' lists were walked
};
const char* IndexSourceName(IndexSource source);

struct AviContents {
    MainHeader main;
    std::uint32_t grandFrames = 0;  // 'dmlh' total frames; 0 when the file has none
    std::vector<std::shared_ptr<StreamData>> streams;
    IndexSource indexSource = IndexSource::Scan;
    // What was wrong with the file and was worked around, one line each, for `vantrel probe`.
    std::vector<std::string> damage;
};

// Parses headers and index of an AVI file. Never reads media payloads. Results: AVIERR_OK;
// AVIERR_BADFORMAT when the bytes are not an AVI file we can use; AVIERR_FILEREAD when the source
// fails while reading. Every size field is checked against the data that is really there.
AviResult ReadAviContents(std::shared_ptr<const ByteSource> source, AviContents* contents,
                          std::string* problem);

}  // namespace avi
