// The save. Output layout:
//  - RIFF 'AVI ' { LIST hdrl { avih, LIST strl { strh strf [strd] [strn] [vprp] [indx] }...,
//    [LIST odml { dmlh }] }, LIST movi { chunks, [ix##...] }, idx1 }, then for OpenDML outputs
//    RIFF 'AVIX' { LIST movi { chunks, ix##... } }... Every RIFF part, its indexes included, stays
//    within the limit (1 GiB) unless one chunk alone is bigger; an output that fits one part is
//    plain AVI 1.0 without indx, ix## or odml.
//  - Chunk ids use decimal stream numbers: "NNdb" for uncompressed video (biCompression 0),
//    "NNdc" for other video, "NNwb" audio, "NNtx" text, "NNdc" anything else.
//  - Chunks are ordered by presentation time (stream start plus samples before the chunk), ties in
//    stream order, except that among chunks at most half a second later than the earliest, the
//    one first in the same source file goes first, so that copies stay long. Streams without a
//    sample size keep their chunks one for one, empty ones and key flags included. Streams with a
//    sample size are cut anew into chunks of whole samples lasting about one frame of the first
//    video stream (1/25 s when there is none).
//  - idx1 covers the first RIFF with offsets from the 'movi' fourcc; ix## chunks close every movi
//    list and take the 'movi' fourcc of their part as base.
//  - Zero streams, or only empty ones, still give a complete file: headers, an empty movi and an
//    empty idx1.
// The whole layout is planned from the chunk index before a byte is written, so every size and
// count in the headers is final when the headers go out and the file is written front to back.

#include <algorithm>
#include <array>
#include <cstring>

#include "file_sink.h"
#include "save_plan.h"

namespace avi {

namespace {

constexpr std::uint32_t AVIF_HASINDEX = 0x10;
constexpr std::uint32_t AVIF_ISINTERLEAVED = 0x100;
constexpr std::uint32_t AVIF_TRUSTCKTYPE = 0x800;
constexpr std::uint32_t AVIIF_KEYFRAME = 0x10;
constexpr std::uint32_t kDeltaFrameBit = 0x80000000u;  // in ix## sizes: not a key frame

// ix## sizes have 31 bits.
constexpr std::uint64_t kMaxChunkSize = 0x7FFFFFFFu;
// A re-cut chunk never grows past this unless one sample alone is bigger.
constexpr std::uint64_t kMaxRecutBytes = std::uint64_t{1} << 20;
// Decimal stream numbers in chunk ids go up to 99.
constexpr std::size_t kMaxStreams = 100;
constexpr std::uint64_t kProgressStep = std::uint64_t{4} << 20;

constexpr std::uint32_t kExtHeaderSize = 248;
constexpr std::uint32_t kSuperIndexEntry = 16;
constexpr std::uint32_t kStdIndexHeader = 24;
constexpr std::uint32_t kStdIndexEntry = 8;
constexpr std::uint32_t kOldIndexEntry = 16;
constexpr std::uint64_t kAvixHeaderSize = 24;  // RIFF size AVIX LIST size movi

using Rational = std::pair<std::uint64_t, std::uint64_t>;  // numerator, denominator

// Samples per second of a stream; a stream without a usable rate counts as 25 a second.
Rational RateOf(const StreamHeader& header) {
    if (header.rate == 0 || header.scale == 0)
        return {25, 1};
    return {header.rate, header.scale};
}

std::uint32_t Compression(const StreamData& stream) {
    return stream.format.size() >= 20 ? LoadLE32(stream.format.data() + 16) : 0xFFFFFFFFu;
}

std::uint32_t ChunkIdOf(const StreamData& stream, std::size_t index) {
    const char tens = static_cast<char>('0' + index / 10);
    const char ones = static_cast<char>('0' + index % 10);
    const std::uint32_t type = stream.header.fccType;
    if (type == streamtypeVIDEO)
        return Compression(stream) == 0 ? MakeFourCC(tens, ones, 'd', 'b')
                                        : MakeFourCC(tens, ones, 'd', 'c');
    if (type == streamtypeAUDIO)
        return MakeFourCC(tens, ones, 'w', 'b');
    if (type == streamtypeTEXT)
        return MakeFourCC(tens, ones, 't', 'x');
    return MakeFourCC(tens, ones, 'd', 'c');
}

std::uint32_t IndexIdOf(std::size_t index) {
    return MakeFourCC('i', 'x', static_cast<char>('0' + index / 10),
                      static_cast<char>('0' + index % 10));
}

// ---- The chunk sequence ---------------------------------------------------------------------

// A stretch of a chunk's payload in a source.
struct Piece {
    const ByteSource* source;
    std::uint64_t offset;
    std::uint64_t size;
};

struct OutChunk {
    std::size_t stream = 0;
    std::uint64_t size = 0;
    std::uint64_t samples = 0;
    bool key = true;
    std::vector<Piece> pieces;
};

// Walks the output chunks of one stream.
class StreamCursor {
public:
    // `samplesPerChunk` 0: one output chunk per source chunk.
    StreamCursor(const SaveStream& stream, std::uint64_t samplesPerChunk)
        : m_stream(&stream),
          m_sampleSize(stream.prototype->header.sampleSize),
          m_samplesPerChunk(samplesPerChunk) {
        skipEmptySegments();
    }

    bool done() const { return m_segment == m_stream->segments.size(); }
    std::uint64_t position() const { return m_position; }

    // The next chunk into `chunk`; false when the source index does not hold what the segments
    // promise.
    bool next(OutChunk* chunk) {
        chunk->size = 0;
        chunk->samples = 0;
        chunk->key = true;
        chunk->pieces.clear();
        if (m_samplesPerChunk == 0) {
            const Segment& segment = m_stream->segments[m_segment];
            const StreamData& source = *segment.source;
            const std::size_t index = source.chunkOfSample(segment.first + m_within);
            if (index >= source.chunks.size())
                return false;
            const ChunkRef& ref = source.chunks[index];
            chunk->size = ref.size();
            chunk->key = ref.isKey();
            chunk->samples = 1;
            if (ref.size() > 0)
                chunk->pieces.push_back(Piece{source.source.get(), ref.offset(), ref.size()});
            advance(1);
            return true;
        }
        while (!done() && chunk->samples < m_samplesPerChunk) {
            const Segment& segment = m_stream->segments[m_segment];
            const StreamData& source = *segment.source;
            const std::uint32_t sample = segment.first + m_within;
            const std::size_t index = source.chunkOfSample(sample);
            if (index >= source.chunks.size())
                return false;
            const ChunkRef& ref = source.chunks[index];
            const std::uint32_t into = sample - ref.firstSample();
            const std::uint32_t inChunk = source.samplesInChunk(index);
            if (sample < ref.firstSample() || into >= inChunk)
                return false;
            const std::uint64_t take = std::min<std::uint64_t>(
                {m_samplesPerChunk - chunk->samples, inChunk - into, segment.count - m_within});
            const std::uint64_t bytes = take * m_sampleSize;
            chunk->pieces.push_back(Piece{
                source.source.get(), ref.offset() + std::uint64_t{into} * m_sampleSize, bytes});
            chunk->samples += take;
            chunk->size += bytes;
            advance(take);
        }
        return true;
    }

    // Where the next chunk lies in its source, for a chunk kept as it is.
    bool whereNext(const ByteSource** source, std::uint64_t* offset) const {
        if (done() || m_samplesPerChunk != 0)
            return false;
        const Segment& segment = m_stream->segments[m_segment];
        const std::size_t index = segment.source->chunkOfSample(segment.first + m_within);
        if (index >= segment.source->chunks.size())
            return false;
        *source = segment.source->source.get();
        *offset = segment.source->chunks[index].offset();
        return true;
    }

private:
    void advance(std::uint64_t samples) {
        m_position += samples;
        m_within += static_cast<std::uint32_t>(samples);
        if (m_within == m_stream->segments[m_segment].count) {
            ++m_segment;
            m_within = 0;
            skipEmptySegments();
        }
    }
    void skipEmptySegments() {
        while (!done() && m_stream->segments[m_segment].count == 0)
            ++m_segment;
    }

    const SaveStream* m_stream;
    std::uint64_t m_sampleSize;
    std::uint64_t m_samplesPerChunk;
    std::size_t m_segment = 0;
    std::uint32_t m_within = 0;  // samples of the current segment already taken
    std::uint64_t m_position = 0;
};

// Merges the streams' chunks by presentation time. One exception keeps copies long: among the
// chunks at most half a second later than the earliest, the one that comes first in the same
// source file goes first, so a source interleaved a little differently from us (audio somewhat
// ahead or behind) keeps its order and is copied in long stretches.
class Interleaver {
public:
    Interleaver(const std::vector<SaveStream>& streams,
                const std::vector<std::uint64_t>& samplesPerChunk) {
        for (std::size_t i = 0; i < streams.size(); ++i) {
            m_cursors.emplace_back(streams[i], samplesPerChunk[i]);
            m_rates.push_back(RateOf(streams[i].prototype->header));
            m_starts.push_back(streams[i].prototype->header.start);
        }
    }

    // false at the end, or with *broken set when a source index fails the segments.
    bool next(OutChunk* chunk, bool* broken) {
        std::size_t earliest = m_cursors.size();
        for (std::size_t i = 0; i < m_cursors.size(); ++i) {
            if (!m_cursors[i].done() &&
                (earliest == m_cursors.size() || earlier(i, earliest, false)))
                earliest = i;
        }
        if (earliest == m_cursors.size())
            return false;
        std::size_t best = earliest;
        const ByteSource* source = nullptr;
        std::uint64_t offset = 0;
        if (m_cursors[earliest].whereNext(&source, &offset)) {
            for (std::size_t i = 0; i < m_cursors.size(); ++i) {
                const ByteSource* other = nullptr;
                std::uint64_t at = 0;
                if (i != earliest && m_cursors[i].whereNext(&other, &at) && other == source &&
                    at < offset && earlier(i, earliest, true)) {
                    best = i;
                    offset = at;
                }
            }
        }
        chunk->stream = best;
        if (!m_cursors[best].next(chunk)) {
            *broken = true;
            return false;
        }
        return true;
    }

private:
    // Whether the next chunk of stream a starts before that of stream b, or with `lead`, no more
    // than half a second after it. Times are (start + position) / rate, compared exactly.
    bool earlier(std::size_t a, std::size_t b, bool lead) const {
        using Wide = unsigned __int128;
        const Wide ta = Wide{m_starts[a] + m_cursors[a].position()} * m_rates[a].second;
        const Wide tb = Wide{m_starts[b] + m_cursors[b].position()} * m_rates[b].second;
        const Wide left = ta * m_rates[b].first;
        const Wide right = tb * m_rates[a].first;
        if (!lead)
            return left < right;
        return 2 * left <= 2 * right + Wide{m_rates[a].first} * m_rates[b].first;
    }

    std::vector<StreamCursor> m_cursors;
    std::vector<Rational> m_rates;
    std::vector<std::uint64_t> m_starts;
};

// ---- The plan -------------------------------------------------------------------------------

struct PartStream {
    std::uint32_t chunks = 0;
    std::uint64_t samples = 0;
};

struct RiffPart {
    std::uint64_t start = 0;
    std::uint64_t moviFourcc = 0;  // position of the 'movi' type of its movi list
    std::uint64_t dataEnd = 0;     // end of the media chunks
    std::uint64_t moviEnd = 0;     // end of the movi list, ix## included
    std::uint64_t end = 0;         // end of the RIFF, idx1 included
    std::uint32_t chunks = 0;
    std::vector<PartStream> streams;
};

struct StreamPlan {
    std::uint32_t chunkId = 0;
    std::uint64_t samplesPerChunk = 0;  // 0: source chunks kept as they are
    std::uint64_t samples = 0;
    std::uint64_t chunks = 0;
    std::uint64_t bytes = 0;
    std::uint32_t largestChunk = 0;
};

struct SavePlan {
    bool openDml = false;
    std::uint32_t indexSlots = 0;  // entries of every indx
    std::size_t mainVideo = SIZE_MAX;
    std::vector<StreamPlan> streams;
    std::vector<RiffPart> parts;
};

std::uint64_t StdIndexSize(std::uint32_t chunks) {
    return 8 + kStdIndexHeader + std::uint64_t{kStdIndexEntry} * chunks;
}

// ---- Header bytes ---------------------------------------------------------------------------

class ByteWriter {
public:
    std::vector<std::uint8_t> bytes;

    void u8(std::uint8_t v) { bytes.push_back(v); }
    void u16(std::uint16_t v) { put(&v, 2, StoreLE16); }
    void u32(std::uint32_t v) { put(&v, 4, StoreLE32); }
    void u64(std::uint64_t v) { put(&v, 8, StoreLE64); }
    void zeros(std::size_t n) { bytes.insert(bytes.end(), n, 0); }
    void raw(const std::vector<std::uint8_t>& data) {
        bytes.insert(bytes.end(), data.begin(), data.end());
    }
    // Opens a chunk (or, with a list type, a LIST/RIFF); close() fills in its size.
    std::size_t open(std::uint32_t id) {
        u32(id);
        u32(0);
        return bytes.size();
    }
    void close(std::size_t opened) {
        StoreLE32(bytes.data() + opened - 4, static_cast<std::uint32_t>(bytes.size() - opened));
        if ((bytes.size() - opened) % 2 != 0)
            bytes.push_back(0);
    }
    void chunk(std::uint32_t id, const std::vector<std::uint8_t>& data) {
        const std::size_t at = open(id);
        raw(data);
        close(at);
    }

private:
    template <typename T, typename Store>
    void put(const T* v, std::size_t n, Store store) {
        bytes.resize(bytes.size() + n);
        store(bytes.data() + bytes.size() - n, *v);
    }
};

std::uint32_t Clamp32(std::uint64_t v) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(v, 0xFFFFFFFFu));
}

// Everything before the first media chunk: the RIFF and hdrl headers and the movi list header.
// Its size depends only on the streams' formats, plan.openDml and plan.indexSlots.
std::vector<std::uint8_t> BuildHeader(const std::vector<SaveStream>& streams,
                                      const SavePlan& plan) {
    const RiffPart* first = plan.parts.empty() ? nullptr : &plan.parts.front();
    ByteWriter out;
    out.u32(MakeFourCC('R', 'I', 'F', 'F'));
    out.u32(first ? static_cast<std::uint32_t>(first->end - 8) : 0);
    out.u32(MakeFourCC('A', 'V', 'I', ' '));
    const std::size_t hdrl = out.open(MakeFourCC('L', 'I', 'S', 'T'));
    out.u32(MakeFourCC('h', 'd', 'r', 'l'));

    // avih: frame period and size from the first video stream; frames of the first RIFF only.
    std::uint32_t microSecPerFrame = 0;
    std::uint32_t firstRiffFrames = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    if (plan.mainVideo != SIZE_MAX) {
        const StreamData& video = *streams[plan.mainVideo].prototype;
        const Rational rate = RateOf(video.header);
        microSecPerFrame = Clamp32((rate.second * 1000000 + rate.first / 2) / rate.first);
        // Frames are the stream's samples, as in dmlh: the same as its chunks unless a video
        // stream has a sample size of its own.
        firstRiffFrames = first ? Clamp32(first->streams[plan.mainVideo].samples) : 0;
        const StreamHeader& h = video.header;
        if (h.frameRight > h.frameLeft && h.frameBottom > h.frameTop) {
            width = static_cast<std::uint32_t>(h.frameRight - h.frameLeft);
            height = static_cast<std::uint32_t>(h.frameBottom - h.frameTop);
        } else if (video.format.size() >= 12) {
            width = static_cast<std::uint32_t>(
                std::abs(static_cast<std::int32_t>(LoadLE32(video.format.data() + 4))));
            height = static_cast<std::uint32_t>(
                std::abs(static_cast<std::int32_t>(LoadLE32(video.format.data() + 8))));
        }
    }
    // Bytes a second over the longest stream, as a reader's buffering hint.
    double seconds = 0;
    std::uint64_t payload = 0;
    std::uint32_t largest = 0;
    for (std::size_t i = 0; i < streams.size(); ++i) {
        const StreamHeader& h = streams[i].prototype->header;
        const Rational rate = RateOf(h);
        seconds = std::max(seconds, static_cast<double>(h.start + plan.streams[i].samples) *
                                        static_cast<double>(rate.second) /
                                        static_cast<double>(rate.first));
        payload += plan.streams[i].bytes;
        largest = std::max(largest, plan.streams[i].largestChunk);
    }
    const std::uint32_t bytesPerSec =
        seconds > 0
            ? Clamp32(static_cast<std::uint64_t>(static_cast<double>(payload) / seconds) + 1)
            : 0;

    const std::size_t avih = out.open(MakeFourCC('a', 'v', 'i', 'h'));
    out.u32(microSecPerFrame);
    out.u32(bytesPerSec);
    out.u32(0);  // padding granularity
    out.u32(AVIF_HASINDEX | AVIF_ISINTERLEAVED | AVIF_TRUSTCKTYPE);
    out.u32(firstRiffFrames);
    out.u32(0);  // initial frames
    out.u32(static_cast<std::uint32_t>(streams.size()));
    out.u32(largest);
    out.u32(width);
    out.u32(height);
    out.zeros(16);
    out.close(avih);

    for (std::size_t i = 0; i < streams.size(); ++i) {
        const StreamData& stream = *streams[i].prototype;
        const StreamPlan& planned = plan.streams[i];
        const StreamHeader& h = stream.header;
        const std::size_t strl = out.open(MakeFourCC('L', 'I', 'S', 'T'));
        out.u32(MakeFourCC('s', 't', 'r', 'l'));
        const std::size_t strh = out.open(MakeFourCC('s', 't', 'r', 'h'));
        out.u32(h.fccType);
        out.u32(h.fccHandler);
        out.u32(h.flags);
        out.u16(h.priority);
        out.u16(h.language);
        out.u32(0);  // initial frames: chunks are not written ahead of their time
        out.u32(h.scale);
        out.u32(h.rate);
        out.u32(h.start);
        out.u32(static_cast<std::uint32_t>(planned.samples));
        out.u32(planned.largestChunk);
        out.u32(h.quality);
        out.u32(h.sampleSize);
        out.u16(static_cast<std::uint16_t>(h.frameLeft));
        out.u16(static_cast<std::uint16_t>(h.frameTop));
        out.u16(static_cast<std::uint16_t>(h.frameRight));
        out.u16(static_cast<std::uint16_t>(h.frameBottom));
        out.close(strh);
        out.chunk(MakeFourCC('s', 't', 'r', 'f'), stream.format);
        if (!stream.codecData.empty())
            out.chunk(MakeFourCC('s', 't', 'r', 'd'), stream.codecData);
        if (!stream.name.empty())
            out.chunk(MakeFourCC('s', 't', 'r', 'n'), stream.name);
        if (!stream.videoProperties.empty())
            out.chunk(MakeFourCC('v', 'p', 'r', 'p'), stream.videoProperties);
        if (plan.openDml) {
            const std::size_t indx = out.open(MakeFourCC('i', 'n', 'd', 'x'));
            std::uint32_t used = 0;
            for (const RiffPart& part : plan.parts)
                used += part.streams[i].chunks > 0 ? 1 : 0;
            out.u16(4);  // longs per entry
            out.u8(0);   // sub type
            out.u8(0);   // AVI_INDEX_OF_INDEXES
            out.u32(used);
            out.u32(planned.chunkId);
            out.zeros(12);
            std::uint32_t written = 0;
            for (const RiffPart& part : plan.parts) {
                // The ix## chunks follow the media chunks of their part in stream order.
                std::uint64_t at = part.dataEnd;
                for (std::size_t s = 0; s < i; ++s) {
                    if (part.streams[s].chunks > 0)
                        at += StdIndexSize(part.streams[s].chunks);
                }
                if (part.streams[i].chunks == 0)
                    continue;
                out.u64(at);
                out.u32(static_cast<std::uint32_t>(StdIndexSize(part.streams[i].chunks)));
                out.u32(static_cast<std::uint32_t>(part.streams[i].samples));
                ++written;
            }
            out.zeros(std::size_t{kSuperIndexEntry} * (plan.indexSlots - written));
            out.close(indx);
        }
        out.close(strl);
    }

    if (plan.openDml) {
        const std::size_t odml = out.open(MakeFourCC('L', 'I', 'S', 'T'));
        out.u32(MakeFourCC('o', 'd', 'm', 'l'));
        const std::size_t dmlh = out.open(MakeFourCC('d', 'm', 'l', 'h'));
        out.u32(plan.mainVideo != SIZE_MAX
                    ? static_cast<std::uint32_t>(plan.streams[plan.mainVideo].samples)
                    : 0);
        out.zeros(kExtHeaderSize - 4);
        out.close(dmlh);
        out.close(odml);
    }
    out.close(hdrl);

    out.u32(MakeFourCC('L', 'I', 'S', 'T'));
    out.u32(first ? static_cast<std::uint32_t>(first->moviEnd - first->moviFourcc) : 4);
    out.u32(MakeFourCC('m', 'o', 'v', 'i'));
    return out.bytes;
}

// ---- Planning -------------------------------------------------------------------------------

AviResult CheckStreams(const std::vector<SaveStream>& streams) {
    if (streams.size() > kMaxStreams)
        return AVIERR_UNSUPPORTED;
    for (const SaveStream& stream : streams) {
        if (!stream.prototype)
            return AVIERR_BADPARAM;
        for (const Segment& segment : stream.segments) {
            if (segment.count == 0)
                continue;
            if (!segment.source || !segment.source->source)
                return AVIERR_BADPARAM;
            if (segment.source->header.sampleSize != stream.prototype->header.sampleSize)
                return AVIERR_BADFORMAT;
            if (std::uint64_t{segment.first} + segment.count > segment.source->sampleCount())
                return AVIERR_BADPARAM;
        }
    }
    return AVIERR_OK;
}

// Samples of each stream per output chunk: 0 (kept as they are) without a sample size, else about
// one frame of the first video stream that has frames of its own.
std::vector<std::uint64_t> SamplesPerChunk(const std::vector<SaveStream>& streams) {
    Rational frame{1, 25};  // seconds
    for (const SaveStream& stream : streams) {
        const StreamHeader& h = stream.prototype->header;
        if (h.fccType == streamtypeVIDEO && h.sampleSize == 0) {
            const Rational rate = RateOf(h);
            frame = {rate.second, rate.first};
            break;
        }
    }
    std::vector<std::uint64_t> result;
    for (const SaveStream& stream : streams) {
        const StreamHeader& h = stream.prototype->header;
        if (h.sampleSize == 0) {
            result.push_back(0);
            continue;
        }
        using Wide = unsigned __int128;
        const Rational rate = RateOf(h);
        const Wide num = Wide{frame.first} * rate.first;
        const Wide den = Wide{frame.second} * rate.second;
        const std::uint64_t most = std::max<std::uint64_t>(1, kMaxRecutBytes / h.sampleSize);
        const Wide rounded = (2 * num + den) / (2 * den);
        result.push_back(std::clamp<std::uint64_t>(
            static_cast<std::uint64_t>(std::min<Wide>(rounded, most)), 1, most));
    }
    return result;
}

// One pass over the chunk sequence with plan->openDml and plan->indexSlots given: cuts it into
// RIFF parts and counts everything the headers and indexes need.
AviResult PlanParts(const std::vector<SaveStream>& streams, std::uint64_t limit, SavePlan* plan) {
    const std::size_t count = streams.size();
    plan->parts.clear();
    for (StreamPlan& stream : plan->streams)
        stream = StreamPlan{stream.chunkId, stream.samplesPerChunk, 0, 0, 0, 0};
    const std::uint64_t headerSize = BuildHeader(streams, *plan).size();

    RiffPart part;
    part.moviFourcc = headerSize - 4;
    part.streams.resize(count);
    std::uint64_t position = headerSize;
    std::uint64_t indexBytes = 0;  // the ix## chunks the part will end with
    const auto finish = [&] {
        part.dataEnd = position;
        part.moviEnd = position + indexBytes;
        part.end = part.moviEnd +
                   (plan->parts.empty() ? 8 + std::uint64_t{kOldIndexEntry} * part.chunks : 0);
        plan->parts.push_back(part);
    };

    std::vector<std::uint64_t> perChunk;
    for (const StreamPlan& stream : plan->streams)
        perChunk.push_back(stream.samplesPerChunk);
    Interleaver walk(streams, perChunk);
    OutChunk chunk;
    bool broken = false;
    while (walk.next(&chunk, &broken)) {
        if (chunk.size > kMaxChunkSize)
            return AVIERR_BADSIZE;
        const std::uint64_t bytes = 8 + chunk.size + (chunk.size & 1);
        if (plan->openDml) {
            const std::uint64_t moreIndex =
                kStdIndexEntry + (part.streams[chunk.stream].chunks == 0 ? 8 + kStdIndexHeader : 0);
            const std::uint64_t oldIndex =
                plan->parts.empty() ? 8 + std::uint64_t{kOldIndexEntry} * (part.chunks + 1) : 0;
            if (part.chunks > 0 &&
                position + bytes + indexBytes + moreIndex + oldIndex - part.start > limit) {
                finish();
                part = RiffPart{};
                part.start = plan->parts.back().end;
                part.moviFourcc = part.start + kAvixHeaderSize - 4;
                part.streams.resize(count);
                position = part.start + kAvixHeaderSize;
                indexBytes = 0;
            }
            indexBytes +=
                kStdIndexEntry + (part.streams[chunk.stream].chunks == 0 ? 8 + kStdIndexHeader : 0);
        }
        ++part.chunks;
        ++part.streams[chunk.stream].chunks;
        part.streams[chunk.stream].samples += chunk.samples;
        position += bytes;
        StreamPlan& stream = plan->streams[chunk.stream];
        stream.samples += chunk.samples;
        ++stream.chunks;
        stream.bytes += chunk.size;
        stream.largestChunk = std::max(stream.largestChunk, static_cast<std::uint32_t>(chunk.size));
        if (stream.samples > 0xFFFFFFFFu)
            return AVIERR_BADSIZE;
    }
    if (broken)
        return AVIERR_BADFORMAT;
    finish();
    return AVIERR_OK;
}

AviResult MakePlan(const std::vector<SaveStream>& streams, std::uint64_t limit, SavePlan* plan) {
    const std::vector<std::uint64_t> perChunk = SamplesPerChunk(streams);
    plan->streams.clear();
    for (std::size_t i = 0; i < streams.size(); ++i) {
        StreamPlan stream;
        stream.chunkId = ChunkIdOf(*streams[i].prototype, i);
        stream.samplesPerChunk = perChunk[i];
        plan->streams.push_back(stream);
        if (plan->mainVideo == SIZE_MAX && streams[i].prototype->header.fccType == streamtypeVIDEO)
            plan->mainVideo = i;
    }
    plan->openDml = false;
    plan->indexSlots = 0;
    AviResult result = PlanParts(streams, limit, plan);
    if (result != AVIERR_OK || plan->parts.front().end <= limit)
        return result;
    // OpenDML. The indx slots live in the header, so more parts may need a bigger header, which
    // may need more parts: plan again until the slots suffice.
    plan->openDml = true;
    plan->indexSlots = 2;
    for (;;) {
        result = PlanParts(streams, limit, plan);
        if (result != AVIERR_OK || plan->parts.size() <= plan->indexSlots)
            return result;
        plan->indexSlots = static_cast<std::uint32_t>(plan->parts.size());
    }
}

// ---- Writing --------------------------------------------------------------------------------

// What the indexes need of one written chunk.
struct IndexEntry {
    std::uint32_t offset;  // of the chunk header, from the part's 'movi' fourcc
    std::uint32_t size;
    std::uint16_t stream;
    std::uint16_t key;
};

class PlanWriter {
public:
    PlanWriter(FileSink& sink, const std::vector<SaveStream>& streams, const SavePlan& plan,
               const SaveProgressFn& progress)
        : m_sink(sink), m_streams(streams), m_plan(plan), m_progress(progress) {}

    AviResult run() {
        m_total = m_plan.parts.back().end;
        AviResult result = report(true);
        if (result == AVIERR_OK) {
            const std::vector<std::uint8_t> header = BuildHeader(m_streams, m_plan);
            result = m_sink.write(header.data(), header.size());
        }
        std::vector<std::uint64_t> perChunk;
        for (const StreamPlan& stream : m_plan.streams)
            perChunk.push_back(stream.samplesPerChunk);
        Interleaver walk(m_streams, perChunk);
        for (std::size_t i = 0; i < m_plan.parts.size() && result == AVIERR_OK; ++i)
            result = writePart(i, walk);
        if (result == AVIERR_OK)
            result = report(true);
        return result;
    }

private:
    AviResult writePart(std::size_t index, Interleaver& walk) {
        const RiffPart& part = m_plan.parts[index];
        AviResult result = AVIERR_OK;
        if (index > 0) {
            ByteWriter head;
            head.u32(MakeFourCC('R', 'I', 'F', 'F'));
            head.u32(static_cast<std::uint32_t>(part.end - part.start - 8));
            head.u32(MakeFourCC('A', 'V', 'I', 'X'));
            head.u32(MakeFourCC('L', 'I', 'S', 'T'));
            head.u32(static_cast<std::uint32_t>(part.moviEnd - part.moviFourcc));
            head.u32(MakeFourCC('m', 'o', 'v', 'i'));
            result = m_sink.write(head.bytes.data(), head.bytes.size());
        }
        m_entries.clear();
        m_entries.reserve(part.chunks);
        OutChunk chunk;
        for (std::uint32_t k = 0; k < part.chunks && result == AVIERR_OK; ++k) {
            bool broken = false;
            if (!walk.next(&chunk, &broken))
                return AVIERR_INTERNAL;  // the sources changed since the plan
            result = writeChunk(part, chunk);
            if (result == AVIERR_OK)
                result = report(false);
        }
        if (result == AVIERR_OK && m_plan.openDml)
            result = writeStdIndexes(part);
        if (result == AVIERR_OK && index == 0)
            result = writeOldIndex();
        if (result == AVIERR_OK && m_sink.position() != part.end)
            return AVIERR_INTERNAL;
        return result;
    }

    AviResult writeChunk(const RiffPart& part, const OutChunk& chunk) {
        const std::uint32_t size = static_cast<std::uint32_t>(chunk.size);
        m_entries.push_back(
            IndexEntry{static_cast<std::uint32_t>(m_sink.position() - part.moviFourcc), size,
                       static_cast<std::uint16_t>(chunk.stream),
                       static_cast<std::uint16_t>(chunk.key ? 1 : 0)});
        std::uint8_t head[8];
        StoreLE32(head, m_plan.streams[chunk.stream].chunkId);
        StoreLE32(head + 4, size);
        AviResult result = m_sink.write(head, sizeof head);
        for (const Piece& piece : chunk.pieces) {
            if (result == AVIERR_OK)
                result = m_sink.append(*piece.source, piece.offset, piece.size);
        }
        if (result == AVIERR_OK && size % 2 != 0) {
            const std::uint8_t pad = 0;
            result = m_sink.write(&pad, 1);
        }
        return result;
    }

    AviResult writeStdIndexes(const RiffPart& part) {
        for (std::size_t s = 0; s < m_streams.size(); ++s) {
            const std::uint32_t chunks = part.streams[s].chunks;
            if (chunks == 0)
                continue;
            ByteWriter out;
            const std::size_t ix = out.open(IndexIdOf(s));
            out.u16(2);  // longs per entry
            out.u8(0);   // sub type
            out.u8(1);   // AVI_INDEX_OF_CHUNKS
            out.u32(chunks);
            out.u32(m_plan.streams[s].chunkId);
            out.u64(part.moviFourcc);
            out.u32(0);
            for (const IndexEntry& entry : m_entries) {
                if (entry.stream != s)
                    continue;
                out.u32(entry.offset + 8);  // the payload, not the header
                out.u32(entry.size | (entry.key ? 0 : kDeltaFrameBit));
            }
            out.close(ix);
            const AviResult result = m_sink.write(out.bytes.data(), out.bytes.size());
            if (result != AVIERR_OK)
                return result;
        }
        return AVIERR_OK;
    }

    AviResult writeOldIndex() {
        std::uint8_t head[8];
        StoreLE32(head, MakeFourCC('i', 'd', 'x', '1'));
        StoreLE32(head + 4, static_cast<std::uint32_t>(m_entries.size() * kOldIndexEntry));
        AviResult result = m_sink.write(head, sizeof head);
        for (const IndexEntry& entry : m_entries) {
            std::uint8_t bytes[kOldIndexEntry];
            StoreLE32(bytes, m_plan.streams[entry.stream].chunkId);
            StoreLE32(bytes + 4, entry.key ? AVIIF_KEYFRAME : 0);
            StoreLE32(bytes + 8, entry.offset);
            StoreLE32(bytes + 12, entry.size);
            if (result == AVIERR_OK)
                result = m_sink.write(bytes, sizeof bytes);
        }
        return result;
    }

    AviResult report(bool always) {
        const std::uint64_t written = m_sink.position();
        if (!m_progress || (!always && written - m_reported < kProgressStep))
            return AVIERR_OK;
        m_reported = written;
        return m_progress(written, m_total) ? AVIERR_OK : AVIERR_USERABORT;
    }

    FileSink& m_sink;
    const std::vector<SaveStream>& m_streams;
    const SavePlan& m_plan;
    const SaveProgressFn& m_progress;
    std::vector<IndexEntry> m_entries;  // the chunks of the current part
    std::uint64_t m_total = 0;
    std::uint64_t m_reported = 0;
};

}  // namespace

AviResult WriteAviFileTuned(const FilePath& target, const std::vector<SaveStream>& streams,
                            const SaveProgressFn& progress, const SaveTuning& tuning) {
    AviResult result = CheckStreams(streams);
    if (result != AVIERR_OK)
        return result;
    SavePlan plan;
    result = MakePlan(streams, tuning.riffLimit, &plan);
    if (result != AVIERR_OK)
        return result;
    std::unique_ptr<FileSink> sink;
    result = FileSink::Create(target, &sink);
    if (result != AVIERR_OK)
        return result;
    sink->setKernelCopy(tuning.kernelCopy);
    result = PlanWriter(*sink, streams, plan, progress).run();
    if (result == AVIERR_OK)
        result = sink->commit();
    return result;  // the sink removes its file unless the commit put it in place
}

AviResult WriteAviFile(const FilePath& target, const std::vector<SaveStream>& streams,
                       const SaveProgressFn& progress) {
    return WriteAviFileTuned(target, streams, progress, SaveTuning{});
}

}  // namespace avi
