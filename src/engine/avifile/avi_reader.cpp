// The AVI reader: headers and a per-stream chunk index, from the OpenDML index, from idx1 or by
// walking the 'movi' lists. Never reads media payloads. Every size field is checked against the
// bytes that are really there, and every loop advances, so a damaged file can cost neither
// unbounded memory nor unbounded time.
#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <limits>
#include <new>
#include <set>

#include "stream_data.h"

namespace avi {

namespace {

constexpr std::uint32_t kRiff = MakeFourCC('R', 'I', 'F', 'F');
constexpr std::uint32_t kList = MakeFourCC('L', 'I', 'S', 'T');
constexpr std::uint32_t kAvi = MakeFourCC('A', 'V', 'I', ' ');
constexpr std::uint32_t kAvix = MakeFourCC('A', 'V', 'I', 'X');
constexpr std::uint32_t kHdrl = MakeFourCC('h', 'd', 'r', 'l');
constexpr std::uint32_t kMovi = MakeFourCC('m', 'o', 'v', 'i');
constexpr std::uint32_t kStrl = MakeFourCC('s', 't', 'r', 'l');
constexpr std::uint32_t kOdml = MakeFourCC('o', 'd', 'm', 'l');
constexpr std::uint32_t kRec = MakeFourCC('r', 'e', 'c', ' ');
constexpr std::uint32_t kAvih = MakeFourCC('a', 'v', 'i', 'h');
constexpr std::uint32_t kStrh = MakeFourCC('s', 't', 'r', 'h');
constexpr std::uint32_t kStrf = MakeFourCC('s', 't', 'r', 'f');
constexpr std::uint32_t kStrd = MakeFourCC('s', 't', 'r', 'd');
constexpr std::uint32_t kStrn = MakeFourCC('s', 't', 'r', 'n');
constexpr std::uint32_t kVprp = MakeFourCC('v', 'p', 'r', 'p');
constexpr std::uint32_t kIndx = MakeFourCC('i', 'n', 'd', 'x');
constexpr std::uint32_t kDmlh = MakeFourCC('d', 'm', 'l', 'h');
constexpr std::uint32_t kIdx1 = MakeFourCC('i', 'd', 'x', '1');
constexpr std::uint32_t kJunk = MakeFourCC('J', 'U', 'N', 'K');

constexpr std::size_t kMaxStreams = 100;
constexpr std::uint64_t kMaxHeaderList = 16u << 20;
constexpr std::uint64_t kMaxStreamChunk = 1u << 20;  // strf, strd, strn, vprp
constexpr std::size_t kBlockSize = 1u << 20;         // index reads
constexpr int kMaxIndexDepth = 4;                    // index of indexes of indexes...
constexpr std::size_t kProbeCount = 32;              // chunk ids read to validate an index
constexpr std::uint32_t kIdx1List = 0x1;
constexpr std::uint32_t kIdx1Key = 0x10;

// Ends the read; caught in ReadAviContents, never leaves this file.
struct Failure {
    AviResult result;
    std::string problem;
};

std::string Format(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

[[noreturn]] void Fail(AviResult result, std::string problem) {
    throw Failure{result, std::move(problem)};
}

// Stream number of a chunk id "##xx": two decimal digits, or two hex digits when they are not
// decimal (writers that follow the platform's macros number streams 10 and on in hex); -1 when
// the id does not start with a stream number.
int StreamOfId(std::uint32_t id) {
    const int a = static_cast<int>(id & 0xFF);
    const int b = static_cast<int>((id >> 8) & 0xFF);
    auto dec = [](int c) { return c >= '0' && c <= '9' ? c - '0' : -1; };
    auto hex = [&](int c) {
        if (dec(c) >= 0)
            return dec(c);
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    if (dec(a) >= 0 && dec(b) >= 0)
        return dec(a) * 10 + dec(b);
    if (hex(a) >= 0 && hex(b) >= 0)
        return hex(a) * 16 + hex(b);
    return -1;
}

bool IsLetter(std::uint32_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The two type letters of "##xx".
std::uint32_t TypeOfId(std::uint32_t id) {
    return id >> 16;
}
constexpr std::uint32_t TwoCC(char c, char d) {
    return MakeFourCC(c, d, 0, 0);
}

bool IsIndexChunkId(std::uint32_t id) {
    const bool ixFirst = (id & 0xFFFF) == TwoCC('i', 'x');
    return ixFirst || (StreamOfId(id) >= 0 && TypeOfId(id) == TwoCC('i', 'x'));
}

// A chunk of stream data: "##" plus two letters, other than the palette changes ("pc", which
// take no time and are not samples) and the index chunks ("ix").
int MediaStreamOfId(std::uint32_t id) {
    const int stream = StreamOfId(id);
    if (stream < 0 || !IsLetter((id >> 16) & 0xFF) || !IsLetter(id >> 24))
        return -1;
    const std::uint32_t type = TypeOfId(id);
    if (type == TwoCC('p', 'c') || type == TwoCC('i', 'x'))
        return -1;
    return stream;
}

// Could a chunk header start with this id? Used to tell a missing pad byte from a present one.
bool IsPlausibleId(std::uint32_t id) {
    for (int i = 0; i < 4; ++i) {
        const std::uint32_t c = (id >> (8 * i)) & 0xFF;
        if (!(IsLetter(c) || (c >= '0' && c <= '9') || c == ' ' || c == '_'))
            return false;
    }
    return true;
}

struct Entry {
    std::uint64_t offset;  // payload
    std::uint32_t size;
    bool key;
};

struct MoviPart {
    std::uint64_t dataStart;    // first byte after the 'movi' fourcc
    std::uint64_t end;          // end of the list, clamped to the file
    std::uint64_t declaredEnd;  // end of the list by its size field
    std::uint64_t fourcc() const { return dataStart - 4; }
};

struct StreamWork {
    std::shared_ptr<StreamData> data;
    std::uint64_t indxPayload = 0;  // file offset of the strl 'indx' payload, 0 when none
    std::uint32_t indxSize = 0;
    std::vector<Entry> entries;
};

class Reader {
public:
    explicit Reader(std::shared_ptr<const ByteSource> source)
        : m_source(std::move(source)), m_fileSize(m_source->size()) {}

    void run(AviContents* out);

private:
    // ---- reading ----
    void read(std::uint64_t offset, void* buffer, std::size_t count) const {
        if (offset > m_fileSize || count > m_fileSize - offset)
            Fail(AVIERR_INTERNAL, Format("read past the end at offset %" PRIu64, offset));
        if (!m_source->readAt(offset, buffer, count))
            Fail(AVIERR_FILEREAD, Format("read error at offset %" PRIu64 " of %s", offset,
                                         m_source->name().c_str()));
    }
    std::uint32_t read32(std::uint64_t offset) const {
        std::uint8_t b[4];
        read(offset, b, 4);
        return LoadLE32(b);
    }
    bool fits(std::uint64_t offset, std::uint64_t count) const {
        return offset <= m_fileSize && count <= m_fileSize - offset;
    }
    // The id at `offset` when 4 bytes are there before `end`, else 0.
    std::uint32_t idAt(std::uint64_t offset, std::uint64_t end) const {
        return offset + 4 <= end && fits(offset, 4) ? read32(offset) : 0;
    }
    void note(std::string line) { m_damage.push_back(std::move(line)); }

    // Where the chunk after the one at `header` starts: past its pad byte when its size is odd,
    // unless the pad byte is missing (the id is plausible only at the unpadded position).
    template <typename Plausible>
    std::uint64_t nextChunk(std::uint64_t header, std::uint32_t size, std::uint64_t end,
                            Plausible plausible) {
        const std::uint64_t unpadded = header + 8 + size;
        if (size % 2 == 0)
            return unpadded;
        if (unpadded + 1 + 8 <= end && plausible(idAt(unpadded + 1, end)))
            return unpadded + 1;
        if (unpadded + 8 <= end && plausible(idAt(unpadded, end))) {
            ++m_missingPads;
            return unpadded;
        }
        return unpadded + 1;
    }
    // Ids a 'movi' list holds; anything else is garbage.
    static bool IsMoviChunkId(std::uint32_t id) {
        return (StreamOfId(id) >= 0 && IsLetter((id >> 16) & 0xFF) && IsLetter(id >> 24)) ||
               id == kJunk || id == kList || id == kIdx1 || id == kIndx || id == kRiff ||
               IsIndexChunkId(id);
    }
    // Stricter, for telling a missing pad byte from a present one: streams that exist.
    bool plausibleInMovi(std::uint32_t id) const {
        const int stream = StreamOfId(id);
        if (stream >= 0)
            return static_cast<std::size_t>(stream) < m_streams.size() && IsLetter(id >> 24);
        return id == kJunk || id == kList || id == kIdx1 || id == kIndx || id == kRiff ||
               IsIndexChunkId(id);
    }

    // ---- structure ----
    void readTopLevel();
    void readHeaderList(std::uint64_t payload, std::uint64_t size);
    void readStreamList(const std::uint8_t* data, std::size_t size, std::uint64_t fileOffset);
    void readExtensionParts(std::uint64_t from);

    // ---- index ----
    bool readOpenDml();
    void readSuperIndex(std::size_t stream, std::uint64_t payload, std::uint64_t size, int depth);
    void readIndexChunk(std::size_t stream, std::uint64_t header, int depth);
    void readStandardIndex(std::size_t stream, std::uint64_t payload, std::uint64_t size);
    bool readIdx1();
    void scanMovi(std::uint64_t from, std::uint64_t end);
    std::uint64_t resync(std::uint64_t pos, std::uint64_t end);
    bool chunkIdMatches(const Entry& entry, std::size_t stream);
    void addEntry(std::size_t stream, std::uint64_t payload, std::uint32_t size, bool key);
    bool extendByScanning();
    void finish(AviContents* out);

    std::shared_ptr<const ByteSource> m_source;
    std::uint64_t m_fileSize;
    std::uint64_t m_riffEnd = 0;
    MainHeader m_main;
    bool m_haveMain = false;
    std::uint32_t m_grandFrames = 0;
    bool m_haveHeaderList = false;
    std::vector<StreamWork> m_streams;
    std::vector<MoviPart> m_parts;
    std::uint64_t m_idx1Payload = 0;
    std::uint64_t m_idx1Size = 0;
    bool m_haveIdx1 = false;
    bool m_idx1Empty = false;  // an idx1 without a single media entry
    IndexSource m_indexSource = IndexSource::Scan;
    std::vector<std::string> m_damage;
    std::uint64_t m_missingPads = 0;
    std::uint64_t m_foreignEntries = 0;  // index entries naming a stream that does not exist
    std::uint64_t m_entriesPastEnd = 0;
    bool m_truncatedChunkNoted = false;
    std::set<std::uint64_t> m_visitedIndexChunks;
    std::uint64_t m_lostIndexAt = kNone;  // the first OpenDML index chunk cut off by truncation
    static constexpr std::uint64_t kNone = std::numeric_limits<std::uint64_t>::max();
};

// ---- structure ---------------------------------------------------------------------------------

void Reader::readTopLevel() {
    if (m_fileSize < 12)
        Fail(AVIERR_BADFORMAT, "not an AVI file: too short for a RIFF header");
    std::uint8_t head[12];
    read(0, head, 12);
    if (LoadLE32(head) != kRiff || LoadLE32(head + 8) != kAvi)
        Fail(AVIERR_BADFORMAT, "not an AVI file: no RIFF 'AVI ' header");
    const std::uint64_t declaredEnd = 8 + static_cast<std::uint64_t>(LoadLE32(head + 4));
    m_riffEnd = std::min(declaredEnd, m_fileSize);
    if (declaredEnd > m_fileSize)
        note(Format("truncated: file ends at %" PRIu64 ", RIFF says %" PRIu64, m_fileSize,
                    declaredEnd));

    std::uint64_t pos = 12;
    while (pos + 8 <= m_riffEnd) {
        std::uint8_t h[12] = {};
        read(pos, h, static_cast<std::size_t>(std::min<std::uint64_t>(12, m_riffEnd - pos)));
        const std::uint32_t id = LoadLE32(h);
        const std::uint32_t size = LoadLE32(h + 4);
        const std::uint64_t payload = pos + 8;
        const std::uint64_t available = m_riffEnd - payload;
        if (id == kList && size >= 4 && available >= 4) {
            const std::uint32_t type = LoadLE32(h + 8);
            if (type == kHdrl && !m_haveHeaderList) {
                if (size > kMaxHeaderList)
                    Fail(AVIERR_BADFORMAT, Format("header list too large (%u bytes)", size));
                readHeaderList(payload + 4, std::min<std::uint64_t>(size, available) - 4);
            } else if (type == kMovi && m_parts.empty()) {
                m_parts.push_back(MoviPart{payload + 4,
                                           std::min<std::uint64_t>(payload + size, m_riffEnd),
                                           payload + size});
            }
        } else if (id == kList && size == 0 && available >= 4 && LoadLE32(h + 8) == kMovi) {
            // What some capture programs leave behind when they stop early: the list runs to
            // the end of the file.
            note("'movi' size 0, taken to run to the end of the file");
            m_parts.push_back(MoviPart{payload + 4, m_riffEnd, m_riffEnd});
            break;
        } else if (id == kIdx1 && !m_haveIdx1) {
            m_haveIdx1 = true;
            m_idx1Payload = payload;
            m_idx1Size = std::min<std::uint64_t>(size, available);
        } else if (!IsPlausibleId(id)) {
            note(Format("unreadable data at offset %" PRIu64 " of the RIFF, rest ignored", pos));
            break;
        }
        pos = nextChunk(pos, size, m_riffEnd, IsPlausibleId);
    }
    if (!m_haveHeaderList)
        Fail(AVIERR_BADFORMAT, "no 'hdrl' header list");
    if (m_parts.empty())
        Fail(AVIERR_BADFORMAT, "no 'movi' list");
    readExtensionParts(declaredEnd + (declaredEnd % 2));
}

void Reader::readExtensionParts(std::uint64_t pos) {
    // OpenDML continues the file with 'RIFF AVIX' parts, each holding one 'movi' list.
    while (pos + 12 <= m_fileSize) {
        std::uint8_t h[12];
        read(pos, h, 12);
        if (LoadLE32(h) != kRiff || LoadLE32(h + 8) != kAvix)
            break;
        const std::uint64_t declaredEnd = pos + 8 + static_cast<std::uint64_t>(LoadLE32(h + 4));
        const std::uint64_t end = std::min(declaredEnd, m_fileSize);
        if (declaredEnd > m_fileSize)
            note(Format("truncated: file ends at %" PRIu64 ", RIFF AVIX at %" PRIu64
                        " says %" PRIu64,
                        m_fileSize, pos, declaredEnd));
        std::uint64_t at = pos + 12;
        while (at + 12 <= end) {
            read(at, h, 12);
            const std::uint32_t size = LoadLE32(h + 4);
            if (LoadLE32(h) == kList && LoadLE32(h + 8) == kMovi && size >= 4) {
                m_parts.push_back(
                    MoviPart{at + 12, std::min<std::uint64_t>(at + 8 + size, end), at + 8 + size});
                break;
            }
            if (!IsPlausibleId(LoadLE32(h)))
                break;
            at = nextChunk(at, size, end, IsPlausibleId);
        }
        pos = declaredEnd + (declaredEnd % 2);
    }
}

void Reader::readHeaderList(std::uint64_t payload, std::uint64_t size) {
    m_haveHeaderList = true;
    std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
    read(payload, data.data(), data.size());
    std::size_t streamLists = 0;
    std::size_t pos = 0;
    while (pos + 8 <= data.size()) {
        const std::uint32_t id = LoadLE32(&data[pos]);
        const std::uint32_t declared = LoadLE32(&data[pos + 4]);
        const std::size_t body = pos + 8;
        const std::size_t avail = data.size() - body;
        if (declared > avail)
            note(Format("header chunk '%s' runs past the header list, cut to %zu bytes",
                        FourCCText(id).c_str(), avail));
        const std::size_t n = std::min<std::size_t>(declared, avail);
        if (id == kAvih) {
            if (n < 40)
                Fail(AVIERR_BADFORMAT, Format("'avih' too short (%zu bytes)", n));
            const std::uint8_t* p = &data[body];
            m_main.microSecPerFrame = LoadLE32(p);
            m_main.maxBytesPerSec = LoadLE32(p + 4);
            m_main.paddingGranularity = LoadLE32(p + 8);
            m_main.flags = LoadLE32(p + 12);
            m_main.totalFrames = LoadLE32(p + 16);
            m_main.initialFrames = LoadLE32(p + 20);
            m_main.streams = LoadLE32(p + 24);
            m_main.suggestedBufferSize = LoadLE32(p + 28);
            m_main.width = LoadLE32(p + 32);
            m_main.height = LoadLE32(p + 36);
            m_haveMain = true;
        } else if (id == kList && n >= 4 && LoadLE32(&data[body]) == kStrl) {
            if (++streamLists <= kMaxStreams)
                readStreamList(&data[body + 4], n - 4, payload + body + 4);
        } else if (id == kList && n >= 4 && LoadLE32(&data[body]) == kOdml) {
            for (std::size_t at = body + 4; at + 12 <= body + n;) {
                const std::uint32_t sub = LoadLE32(&data[at + 4]);
                if (LoadLE32(&data[at]) == kDmlh && sub >= 4)
                    m_grandFrames = LoadLE32(&data[at + 8]);
                if (sub > body + n - at - 8)
                    break;
                at += 8 + sub + (sub & 1);
            }
        }
        if (declared > avail)
            break;
        const std::uint64_t next =
            nextChunk(payload + pos, declared, payload + data.size(), IsPlausibleId) - payload;
        pos = static_cast<std::size_t>(next);
    }
    if (m_streams.empty())
        note("no streams in the header list");
    if (streamLists > kMaxStreams)
        note(Format("%zu streams, only the first %zu used", streamLists, kMaxStreams));
    if (!m_haveMain)
        note("no 'avih' main header");
    else if (m_main.streams != streamLists)
        note(Format("avih dwStreams %u, %zu stream lists", m_main.streams, streamLists));
}

void Reader::readStreamList(const std::uint8_t* data, std::size_t size, std::uint64_t fileOffset) {
    const std::size_t number = m_streams.size();
    StreamWork work;
    work.data = std::make_shared<StreamData>();
    work.data->source = m_source;
    bool haveHeader = false;
    bool haveFormat = false;
    for (std::size_t pos = 0; pos + 8 <= size;) {
        const std::uint32_t id = LoadLE32(data + pos);
        const std::uint32_t declared = LoadLE32(data + pos + 4);
        const std::uint8_t* p = data + pos + 8;
        const std::size_t n = std::min<std::size_t>(declared, size - pos - 8);
        auto copy = [&](std::vector<std::uint8_t>& to, const char* what) {
            if (n > kMaxStreamChunk)
                Fail(AVIERR_BADFORMAT,
                     Format("stream %zu: %s too large (%zu bytes)", number, what, n));
            to.assign(p, p + n);
        };
        if (id == kStrh && !haveHeader) {
            if (n < 48)
                Fail(AVIERR_BADFORMAT,
                     Format("stream %zu: 'strh' too short (%zu bytes)", number, n));
            StreamHeader& h = work.data->header;
            h.fccType = LoadLE32(p);
            h.fccHandler = LoadLE32(p + 4);
            h.flags = LoadLE32(p + 8);
            h.priority = LoadLE16(p + 12);
            h.language = LoadLE16(p + 14);
            h.initialFrames = LoadLE32(p + 16);
            h.scale = LoadLE32(p + 20);
            h.rate = LoadLE32(p + 24);
            h.start = LoadLE32(p + 28);
            h.length = LoadLE32(p + 32);
            h.suggestedBufferSize = LoadLE32(p + 36);
            h.quality = LoadLE32(p + 40);
            h.sampleSize = LoadLE32(p + 44);
            if (n >= 56) {
                h.frameLeft = static_cast<std::int16_t>(LoadLE16(p + 48));
                h.frameTop = static_cast<std::int16_t>(LoadLE16(p + 50));
                h.frameRight = static_cast<std::int16_t>(LoadLE16(p + 52));
                h.frameBottom = static_cast<std::int16_t>(LoadLE16(p + 54));
            }
            haveHeader = true;
        } else if (id == kStrf && !haveFormat) {
            copy(work.data->format, "'strf'");
            haveFormat = true;
        } else if (id == kStrd) {
            copy(work.data->codecData, "'strd'");
        } else if (id == kStrn) {
            copy(work.data->name, "'strn'");
        } else if (id == kVprp) {
            copy(work.data->videoProperties, "'vprp'");
        } else if (id == kIndx) {
            work.indxPayload = fileOffset + pos + 8;
            work.indxSize = static_cast<std::uint32_t>(n);
        }
        if (declared > size - pos - 8)
            break;
        // Missing pad bytes after an odd 'strf' occur; accept the unpadded position then.
        std::size_t next = pos + 8 + declared;
        if (declared % 2 != 0) {
            const bool paddedOk = next + 1 + 4 <= size && IsPlausibleId(LoadLE32(data + next + 1));
            const bool unpaddedOk = next + 4 <= size && IsPlausibleId(LoadLE32(data + next));
            if (paddedOk || !unpaddedOk)
                ++next;
        }
        pos = next;
    }
    if (!haveHeader)
        Fail(AVIERR_BADFORMAT, Format("stream %zu has no 'strh'", number));
    if (!haveFormat)
        note(Format("stream %zu has no 'strf'", number));
    m_streams.push_back(std::move(work));
}

// ---- index -------------------------------------------------------------------------------------

void Reader::addEntry(std::size_t stream, std::uint64_t payload, std::uint32_t size, bool key) {
    if (stream >= m_streams.size()) {
        ++m_foreignEntries;
        return;
    }
    if (payload < 8 || !fits(payload, size)) {
        ++m_entriesPastEnd;
        return;
    }
    m_streams[stream].entries.push_back(Entry{payload, size, key});
}

bool Reader::chunkIdMatches(const Entry& entry, std::size_t stream) {
    const std::uint32_t id = read32(entry.offset - 8);
    return StreamOfId(id) == static_cast<int>(stream) && !IsIndexChunkId(id);
}

bool Reader::readOpenDml() {
    bool any = false;
    for (const StreamWork& s : m_streams)
        any = any || s.indxPayload != 0;
    if (!any)
        return false;
    try {
        for (std::size_t s = 0; s < m_streams.size(); ++s) {
            StreamWork& work = m_streams[s];
            if (work.indxPayload == 0)
                Fail(AVIERR_BADFORMAT, Format("stream %zu has no 'indx'", s));
            readSuperIndex(s, work.indxPayload, work.indxSize, 0);
            // The entries must point at chunks of this stream; sample a bounded number of them.
            const std::vector<Entry>& entries = work.entries;
            const std::size_t probes = std::min(entries.size(), kProbeCount);
            for (std::size_t i = 0; i < probes; ++i) {
                const std::size_t at = probes == 1 ? 0 : i * (entries.size() - 1) / (probes - 1);
                if (!chunkIdMatches(entries[at], s))
                    Fail(AVIERR_BADFORMAT,
                         Format("stream %zu: entry %zu points at no chunk of the stream", s, at));
            }
        }
    } catch (const Failure& failure) {
        if (failure.result == AVIERR_FILEREAD)
            throw;
        note("OpenDML index unusable (" + failure.problem + "), ignored");
        for (StreamWork& s : m_streams)
            s.entries.clear();
        m_entriesPastEnd = 0;
        return false;
    }
    m_indexSource = IndexSource::OpenDml;
    return true;
}

void Reader::readSuperIndex(std::size_t stream, std::uint64_t payload, std::uint64_t size,
                            int depth) {
    if (size < 24)
        Fail(AVIERR_BADFORMAT, Format("stream %zu: 'indx' too short", stream));
    std::uint8_t h[24];
    read(payload, h, 24);
    const std::uint16_t longsPerEntry = LoadLE16(h);
    const std::uint8_t type = h[3];
    if (type == 1) {  // the chunk index itself, directly in the strl
        readStandardIndex(stream, payload, size);
        return;
    }
    if (type != 0 || longsPerEntry != 4)
        Fail(AVIERR_BADFORMAT, Format("stream %zu: 'indx' of unknown type %u", stream, type));
    const std::uint64_t count = std::min<std::uint64_t>(LoadLE32(h + 4), (size - 24) / 16);
    std::vector<std::uint8_t> block;
    for (std::uint64_t done = 0; done < count;) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(count - done, kBlockSize / 16));
        block.resize(n * 16);
        read(payload + 24 + done * 16, block.data(), block.size());
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint64_t offset = LoadLE64(&block[i * 16]);
            const std::uint32_t chunkSize = LoadLE32(&block[i * 16 + 8]);
            if (offset == 0 && chunkSize == 0)
                continue;  // an unused slot
            readIndexChunk(stream, offset, depth + 1);
        }
        done += n;
    }
}

void Reader::readIndexChunk(std::size_t stream, std::uint64_t header, int depth) {
    if (header < 12)
        Fail(AVIERR_BADFORMAT, Format("stream %zu: index chunk at %" PRIu64, stream, header));
    if (depth > kMaxIndexDepth)
        Fail(AVIERR_BADFORMAT, Format("stream %zu: indexes nested too deep", stream));
    // An index chunk belongs to one stream and is read once: a loop, or streams sharing index
    // chunks, would otherwise multiply the work and the entries held.
    if (!m_visitedIndexChunks.insert(header).second)
        Fail(AVIERR_BADFORMAT,
             Format("stream %zu: index chunk at %" PRIu64 " listed twice", stream, header));
    if (!fits(header, 8 + 24) || !fits(header + 8, read32(header + 4))) {
        // A truncated file loses the index chunks at its end, whole or in part; what is left
        // of the chunks they listed is found by scanning their 'movi' again.
        note(Format("truncated: index chunk of stream %zu at %" PRIu64
                    " lies past the end of the file",
                    stream, header));
        m_lostIndexAt = std::min(m_lostIndexAt, header);
        return;
    }
    std::uint8_t h[8 + 24];
    read(header, h, sizeof h);
    const std::uint32_t id = LoadLE32(h);
    if (id != kIndx && !IsIndexChunkId(id))
        Fail(AVIERR_BADFORMAT, Format("stream %zu: no index chunk at %" PRIu64 " (found '%s')",
                                      stream, header, FourCCText(id).c_str()));
    const std::uint64_t size = std::min<std::uint64_t>(LoadLE32(h + 4), m_fileSize - header - 8);
    if (h[8 + 3] == 0)
        readSuperIndex(stream, header + 8, size, depth);
    else
        readStandardIndex(stream, header + 8, size);
}

void Reader::readStandardIndex(std::size_t stream, std::uint64_t payload, std::uint64_t size) {
    if (size < 24)
        Fail(AVIERR_BADFORMAT, Format("stream %zu: index chunk too short", stream));
    std::uint8_t h[24];
    read(payload, h, 24);
    const std::uint16_t longsPerEntry = LoadLE16(h);
    if (h[3] != 1 || (longsPerEntry != 2 && longsPerEntry != 3))
        Fail(AVIERR_BADFORMAT,
             Format("stream %zu: index chunk of unknown type %u/%u", stream, h[3], longsPerEntry));
    std::uint64_t base = LoadLE64(h + 12);
    // Some writers repeat the low 32 bits in the high half; such a base lies far past the end.
    if (base >= m_fileSize && (base >> 32) == (base & 0xFFFFFFFFu))
        base &= 0xFFFFFFFFu;
    const std::size_t entrySize = 4u * longsPerEntry;
    const std::uint64_t count = std::min<std::uint64_t>(LoadLE32(h + 4), (size - 24) / entrySize);
    std::vector<std::uint8_t> block;
    for (std::uint64_t done = 0; done < count;) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(count - done, kBlockSize / entrySize));
        block.resize(n * entrySize);
        read(payload + 24 + done * entrySize, block.data(), block.size());
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t offset = LoadLE32(&block[i * entrySize]);
            const std::uint32_t sizeAndFlag = LoadLE32(&block[i * entrySize + 4]);
            addEntry(stream, base + offset, sizeAndFlag & 0x7FFFFFFFu,
                     (sizeAndFlag & 0x80000000u) == 0);
        }
        done += n;
    }
}

bool Reader::readIdx1() {
    if (!m_haveIdx1)
        return false;
    struct Raw {
        std::uint32_t id;
        std::uint32_t flags;
        std::uint32_t offset;
        std::uint32_t size;
    };
    std::vector<Raw> raw;
    const std::uint64_t count = m_idx1Size / 16;
    std::vector<std::uint8_t> block;
    for (std::uint64_t done = 0; done < count;) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(count - done, kBlockSize / 16));
        block.resize(n * 16);
        read(m_idx1Payload + done * 16, block.data(), block.size());
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t* p = &block[i * 16];
            const Raw r{LoadLE32(p), LoadLE32(p + 4), LoadLE32(p + 8), LoadLE32(p + 12)};
            if ((r.flags & kIdx1List) != 0 || r.id == kRec || r.id == kList)
                continue;
            if (MediaStreamOfId(r.id) < 0)
                continue;  // palette changes, index chunks, JUNK
            raw.push_back(r);
        }
        done += n;
    }
    if (raw.empty()) {
        m_idx1Empty = true;  // right for a file without chunks; the scan tells
        return false;
    }

    // The offsets count from the 'movi' fourcc, or in some files from the file start: keep the
    // base under which the entries point at chunks with their own ids.
    const std::uint64_t bases[2] = {m_parts.front().fourcc(), 0};
    int matches[2] = {0, 0};
    int checked[2] = {0, 0};
    const std::size_t probes = std::min(raw.size(), kProbeCount);
    for (int b = 0; b < 2; ++b) {
        for (std::size_t i = 0; i < probes; ++i) {
            const Raw& r = raw[probes == 1 ? 0 : i * (raw.size() - 1) / (probes - 1)];
            const std::uint64_t header = bases[b] + r.offset;
            if (!fits(header, 8))
                continue;
            ++checked[b];
            if (read32(header) == r.id)
                ++matches[b];
        }
    }
    auto valid = [&](int b) { return matches[b] > 0 && matches[b] * 4 >= checked[b] * 3; };
    int chosen = -1;
    if (valid(0) && (!valid(1) || matches[0] >= matches[1]))
        chosen = 0;
    else if (valid(1))
        chosen = 1;
    if (chosen < 0) {
        note("idx1 offsets point at no chunks, ignored");
        return false;
    }
    m_indexSource = chosen == 0 ? IndexSource::Idx1Relative : IndexSource::Idx1Absolute;
    if (chosen == 1)
        note("idx1 offsets absolute");
    for (const Raw& r : raw)
        addEntry(static_cast<std::size_t>(MediaStreamOfId(r.id)), bases[chosen] + r.offset + 8,
                 r.size, (r.flags & kIdx1Key) != 0);
    return true;
}

void Reader::scanMovi(std::uint64_t pos, std::uint64_t end) {
    // Reads chunk headers only, jumping by size. 'rec ' lists are stepped into, other lists and
    // index or padding chunks skipped.
    auto plausible = [this](std::uint32_t id) { return plausibleInMovi(id); };
    while (pos + 8 <= end) {
        std::uint8_t h[12] = {};
        read(pos, h, static_cast<std::size_t>(std::min<std::uint64_t>(12, end - pos)));
        const std::uint32_t id = LoadLE32(h);
        const std::uint32_t size = LoadLE32(h + 4);
        if (id == kList && size >= 4 && LoadLE32(h + 8) == kRec && pos + 12 <= end) {
            pos += 12;
            continue;
        }
        if (!IsMoviChunkId(id)) {
            const std::uint64_t skip = resync(pos, end);
            if (skip == 0) {
                note(Format("unreadable data at offset %" PRIu64
                            " in 'movi', rest of the list ignored",
                            pos));
                return;
            }
            // One stray byte is the pad of a 'rec ' list with an odd size that we stepped into.
            if (skip > 1)
                note(Format("%" PRIu64 " bytes of unreadable data at offset %" PRIu64
                            " in 'movi' skipped",
                            skip, pos));
            pos += skip;
            continue;
        }
        const int stream = MediaStreamOfId(id);
        if (pos + 8 + static_cast<std::uint64_t>(size) > end) {
            if (stream >= 0 && !m_truncatedChunkNoted) {
                note(Format("truncated: last chunk of stream %d cut at %" PRIu64 " (%" PRIu64
                            " of %u bytes there)",
                            stream, end, end - pos - 8, size));
                m_truncatedChunkNoted = true;
            }
            return;
        }
        if (stream >= 0) {
            const std::size_t s = static_cast<std::size_t>(stream);
            // Without an index nothing says which video frames are key frames, except that
            // uncompressed frames always are.
            bool key = true;
            if (s < m_streams.size() && m_streams[s].data->header.fccType == streamtypeVIDEO) {
                const std::vector<std::uint8_t>& f = m_streams[s].data->format;
                key = f.size() >= 20 && LoadLE32(f.data() + 16) == 0;
            }
            addEntry(s, pos + 8, size, key);
        }
        pos = nextChunk(pos, size, end, plausible);
    }
}

std::uint64_t Reader::resync(std::uint64_t pos, std::uint64_t end) {
    // Looks a bounded distance ahead for the header of a chunk of a known stream that fits the
    // list; 0 when there is none.
    constexpr std::uint64_t kReach = 64u << 10;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(end - pos, kReach + 8));
    std::vector<std::uint8_t> bytes(n);
    read(pos, bytes.data(), n);
    for (std::size_t k = 1; k + 8 <= n; ++k) {
        const std::uint32_t id = LoadLE32(&bytes[k]);
        const std::uint32_t size = LoadLE32(&bytes[k + 4]);
        if (plausibleInMovi(id) && pos + k + 8 + static_cast<std::uint64_t>(size) <= end)
            return k;
    }
    return 0;
}

bool Reader::extendByScanning() {
    // Chunks after the last indexed one (an idx1 covers only the first RIFF; a file may have
    // been appended to after its index was written) are found by scanning from there.
    auto plausible = [this](std::uint32_t id) { return plausibleInMovi(id); };
    std::size_t part = 0;
    std::uint64_t from = 0;
    if (m_lostIndexAt != kNone) {
        // Truncation took OpenDML index chunks with it. Writers put them at the end of the
        // 'movi' whose chunks they list, so that part is scanned again from its start.
        while (part < m_parts.size() && !(m_lostIndexAt >= m_parts[part].dataStart &&
                                          m_lostIndexAt < m_parts[part].declaredEnd))
            ++part;
        if (part == m_parts.size()) {
            note("OpenDML index chunks lost outside the movi lists");
            return false;
        }
        from = m_parts[part].dataStart;
        for (StreamWork& s : m_streams)
            s.entries.erase(std::remove_if(s.entries.begin(), s.entries.end(),
                                           [&](const Entry& e) { return e.offset >= from; }),
                            s.entries.end());
    } else {
        std::uint64_t lastHeader = 0;
        std::uint32_t lastSize = 0;
        bool any = false;
        for (const StreamWork& s : m_streams) {
            for (const Entry& e : s.entries) {
                if (!any || e.offset > lastHeader + 8) {
                    lastHeader = e.offset - 8;
                    lastSize = e.size;
                    any = true;
                }
            }
        }
        if (!any)
            return false;
        while (part < m_parts.size() &&
               !(lastHeader >= m_parts[part].dataStart && lastHeader < m_parts[part].end))
            ++part;
        if (part == m_parts.size())
            return true;  // the index points outside the movi lists; nothing to extend from
        from = nextChunk(lastHeader, lastSize, m_parts[part].end, plausible);
    }
    // A part before the last indexed one that the index does not reach means the index is not
    // to be trusted as a whole. The parts lie in file order, so each entry finds its part by a
    // binary search.
    std::vector<bool> covered(part, false);
    for (const StreamWork& s : m_streams) {
        for (const Entry& e : s.entries) {
            const auto after = std::upper_bound(
                m_parts.begin(), m_parts.begin() + static_cast<std::ptrdiff_t>(part), e.offset,
                [](std::uint64_t offset, const MoviPart& p) { return offset < p.dataStart; });
            if (after == m_parts.begin())
                continue;
            const auto p = static_cast<std::size_t>(after - m_parts.begin()) - 1;
            if (e.offset < m_parts[p].end)
                covered[p] = true;
        }
    }
    for (std::size_t p = 0; p < part; ++p) {
        if (!covered[p]) {
            note(Format("index does not cover RIFF part %zu", p));
            return false;
        }
    }
    std::size_t before = 0;
    for (const StreamWork& s : m_streams)
        before += s.entries.size();
    scanMovi(from, m_parts[part].end);
    for (std::size_t p = part + 1; p < m_parts.size(); ++p)
        scanMovi(m_parts[p].dataStart, m_parts[p].end);
    std::size_t after = 0;
    for (const StreamWork& s : m_streams)
        after += s.entries.size();
    if (after > before)
        note(Format("%zu chunks not in the index found by scanning", after - before));
    return true;
}

void Reader::finish(AviContents* out) {
    if (m_missingPads > 0)
        note(Format("%" PRIu64 " odd-sized chunks without a pad byte", m_missingPads));
    if (m_foreignEntries > 0)
        note(Format("%" PRIu64 " index entries name streams that do not exist, ignored",
                    m_foreignEntries));
    if (m_entriesPastEnd > 0)
        note(Format("truncated: %" PRIu64 " index entries point past the end of the file, dropped",
                    m_entriesPastEnd));
    std::uint32_t firstVideoCount = 0;
    bool haveVideo = false;
    for (std::size_t s = 0; s < m_streams.size(); ++s) {
        StreamWork& work = m_streams[s];
        StreamData& data = *work.data;
        const bool video = data.header.fccType == streamtypeVIDEO;
        if (video && !work.entries.empty()) {
            bool anyKey = false;
            for (const Entry& e : work.entries)
                anyKey = anyKey || e.key;
            if (!anyKey) {
                work.entries.front().key = true;
                note(Format("stream %zu: no key frame flagged, the first chunk taken as key", s));
            }
        }
        const std::uint32_t sampleSize = data.header.sampleSize;
        data.chunks.reserve(work.entries.size());
        std::uint64_t sample = 0;
        for (const Entry& e : work.entries) {
            const std::uint64_t inChunk = sampleSize == 0 ? 1 : e.size / sampleSize;
            if (sample + inChunk > std::numeric_limits<std::uint32_t>::max()) {
                note(Format("stream %zu: more than 2^32 samples, the rest ignored", s));
                break;
            }
            data.chunks.emplace_back(e.offset, e.size, !video || e.key,
                                     static_cast<std::uint32_t>(sample));
            sample += inChunk;
        }
        std::vector<Entry>().swap(work.entries);
        const auto counted = static_cast<std::uint32_t>(sample);
        if (data.header.length != counted)
            note(Format("stream %zu: dwLength %u in header, %u in index", s, data.header.length,
                        counted));
        data.header.length = counted;
        if (video && !haveVideo) {
            haveVideo = true;
            firstVideoCount = counted;
        }
        out->streams.push_back(work.data);
    }
    if (haveVideo && m_parts.size() == 1 && m_main.totalFrames != firstVideoCount)
        note(
            Format("dwTotalFrames %u in header, %u in index", m_main.totalFrames, firstVideoCount));
    if (haveVideo && m_grandFrames != 0 && m_grandFrames != firstVideoCount)
        note(Format("dmlh dwGrandFrames %u, %u in index", m_grandFrames, firstVideoCount));
    out->main = m_main;
    out->grandFrames = m_grandFrames;
    out->indexSource = m_indexSource;
    out->damage = std::move(m_damage);
}

void Reader::run(AviContents* out) {
    readTopLevel();
    bool indexed = readOpenDml() || readIdx1();
    if (indexed && !extendByScanning()) {
        for (StreamWork& s : m_streams)
            s.entries.clear();
        m_entriesPastEnd = 0;
        indexed = false;
    }
    if (!indexed) {
        m_indexSource = IndexSource::Scan;
        for (const MoviPart& part : m_parts)
            scanMovi(part.dataStart, part.end);
        const bool found = std::any_of(m_streams.begin(), m_streams.end(),
                                       [](const StreamWork& s) { return !s.entries.empty(); });
        if (!m_haveIdx1)
            note("idx1 missing, index rebuilt by scanning");
        else if (m_idx1Empty && !found)
            m_indexSource = IndexSource::Idx1Relative;  // an empty file, rightly indexed
        else if (m_idx1Empty)
            note("idx1 lists no chunks, index rebuilt by scanning");
        else
            note("index rebuilt by scanning");
    }
    finish(out);
}

}  // namespace

// ---- StreamData --------------------------------------------------------------------------------

std::uint32_t StreamData::samplesInChunk(std::size_t i) const {
    if (i >= chunks.size())
        return 0;
    return header.sampleSize == 0 ? 1 : chunks[i].size() / header.sampleSize;
}

std::uint32_t StreamData::sampleCount() const {
    if (chunks.empty())
        return 0;
    return chunks.back().firstSample() + samplesInChunk(chunks.size() - 1);
}

std::size_t StreamData::chunkOfSample(std::uint32_t sample) const {
    if (sample >= sampleCount())
        return chunks.size();
    // The last chunk starting at or before the sample; chunks too small to hold a whole sample
    // share their firstSample with the next one and are passed over.
    const auto it =
        std::upper_bound(chunks.begin(), chunks.end(), sample,
                         [](std::uint32_t s, const ChunkRef& c) { return s < c.firstSample(); });
    return static_cast<std::size_t>(it - chunks.begin()) - 1;
}

const char* IndexSourceName(IndexSource source) {
    switch (source) {
        case IndexSource::OpenDml:
            return "OpenDML indx";
        case IndexSource::Idx1Relative:
            return "idx1";
        case IndexSource::Idx1Absolute:
            return "idx1 (absolute offsets)";
        case IndexSource::Scan:
            return "scan";
    }
    return "unknown";
}

AviResult ReadAviContents(std::shared_ptr<const ByteSource> source, AviContents* contents,
                          std::string* problem) {
    if (contents == nullptr || source == nullptr)
        return AVIERR_BADPARAM;
    *contents = AviContents{};
    std::string ignored;
    std::string& text = problem != nullptr ? *problem : ignored;
    text.clear();
    try {
        AviContents read;
        Reader(std::move(source)).run(&read);
        *contents = std::move(read);
        return AVIERR_OK;
    } catch (const Failure& failure) {
        text = failure.problem;
        return failure.result;
    } catch (const std::bad_alloc&) {
        text = "out of memory";
        return AVIERR_MEMORY;
    }
}

}  // namespace avi
