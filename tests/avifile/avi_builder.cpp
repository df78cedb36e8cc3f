#include "avi_builder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace avitest {

namespace {

constexpr std::uint32_t kAvifHasIndex = 0x10;
constexpr std::uint32_t kAvifIsInterleaved = 0x100;
constexpr std::uint32_t kAvifTrustCkType = 0x800;
constexpr std::uint32_t kIdx1Key = 0x10;
constexpr std::uint32_t kIdx1NoTime = 0x100;

// Appends little-endian values and patches chunk sizes once a chunk's end is known.
class Writer {
public:
    std::vector<std::uint8_t> bytes;

    std::uint64_t pos() const { return bytes.size(); }
    void u8(std::uint8_t v) { bytes.push_back(v); }
    void u16(std::uint16_t v) {
        u8(static_cast<std::uint8_t>(v));
        u8(static_cast<std::uint8_t>(v >> 8));
    }
    void u32(std::uint32_t v) {
        u16(static_cast<std::uint16_t>(v));
        u16(static_cast<std::uint16_t>(v >> 16));
    }
    void u64(std::uint64_t v) {
        u32(static_cast<std::uint32_t>(v));
        u32(static_cast<std::uint32_t>(v >> 32));
    }
    void append(const std::vector<std::uint8_t>& data) {
        bytes.insert(bytes.end(), data.begin(), data.end());
    }
    void zeros(std::size_t n) { bytes.insert(bytes.end(), n, 0); }
    void put32(std::uint64_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    void put64(std::uint64_t at, std::uint64_t v) {
        put32(at, static_cast<std::uint32_t>(v));
        put32(at + 4, static_cast<std::uint32_t>(v >> 32));
    }

    // Starts a chunk (or, with a list type, a RIFF/LIST) and returns its header position.
    std::uint64_t begin(std::uint32_t id, std::uint32_t listType = 0) {
        const std::uint64_t at = pos();
        u32(id);
        u32(0);
        if (listType != 0)
            u32(listType);
        return at;
    }
    // Sets the size of the chunk begun at `at` and pads it to an even length.
    void end(std::uint64_t at) {
        const std::uint64_t size = pos() - at - 8;
        put32(at + 4, static_cast<std::uint32_t>(size));
        if (size % 2 != 0)
            u8(0);
    }
    void chunk(std::uint32_t id, const std::vector<std::uint8_t>& payload) {
        const std::uint64_t at = begin(id);
        append(payload);
        end(at);
    }
};

std::uint32_t LoadSize(const std::vector<std::uint8_t>& bytes, std::uint64_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | bytes[at + static_cast<std::uint64_t>(i)];
    return v;
}

bool IsVideo(const StreamDesc& s) {
    return s.type == streamtypeVIDEO;
}

char Digit(int n) {
    return static_cast<char>('0' + n);
}

std::uint32_t StreamFourCC(int stream, char c, char d) {
    return MakeFourCC(Digit(stream / 10 % 10), Digit(stream % 10), c, d);
}

}  // namespace

std::vector<std::uint8_t> Payload(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t x = seed * 2654435761u + 12345u;
    for (std::uint8_t& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return bytes;
}

std::vector<std::uint8_t> BitmapInfoHeader(std::int32_t width, std::int32_t height,
                                           std::uint32_t compression, std::uint16_t bitCount,
                                           const std::vector<std::uint8_t>& extra) {
    Writer w;
    w.u32(static_cast<std::uint32_t>(40 + extra.size()));
    w.u32(static_cast<std::uint32_t>(width));
    w.u32(static_cast<std::uint32_t>(height));
    w.u16(1);
    w.u16(bitCount);
    w.u32(compression);
    const std::uint64_t stride =
        (static_cast<std::uint64_t>(width < 0 ? -width : width) * bitCount / 8 + 3) &
        ~std::uint64_t{3};
    w.u32(static_cast<std::uint32_t>(stride *
                                     static_cast<std::uint64_t>(height < 0 ? -height : height)));
    w.u32(0);
    w.u32(0);
    w.u32(0);
    w.u32(0);
    w.append(extra);
    return w.bytes;
}

std::vector<std::uint8_t> WaveFormatEx(std::uint16_t formatTag, std::uint16_t channels,
                                       std::uint32_t samplesPerSec, std::uint16_t blockAlign,
                                       std::uint16_t bitsPerSample,
                                       const std::vector<std::uint8_t>& extra) {
    std::vector<std::uint8_t> bytes = PcmWaveFormat(channels, samplesPerSec, bitsPerSample);
    Writer w;
    w.bytes = std::move(bytes);
    w.put32(0, static_cast<std::uint32_t>(formatTag) | static_cast<std::uint32_t>(channels) << 16);
    w.put32(8, samplesPerSec * blockAlign);
    w.put32(12, static_cast<std::uint32_t>(blockAlign) | static_cast<std::uint32_t>(bitsPerSample)
                                                             << 16);
    w.u16(static_cast<std::uint16_t>(extra.size()));
    w.append(extra);
    return w.bytes;
}

std::vector<std::uint8_t> PcmWaveFormat(std::uint16_t channels, std::uint32_t samplesPerSec,
                                        std::uint16_t bitsPerSample) {
    const std::uint16_t blockAlign = static_cast<std::uint16_t>(channels * bitsPerSample / 8);
    Writer w;
    w.u16(1);
    w.u16(channels);
    w.u32(samplesPerSec);
    w.u32(samplesPerSec * blockAlign);
    w.u16(blockAlign);
    w.u16(bitsPerSample);
    return w.bytes;
}

StreamDesc VideoStream(std::int32_t width, std::int32_t height, std::uint32_t handler,
                       std::uint32_t rate, std::uint32_t scale) {
    StreamDesc s;
    s.type = streamtypeVIDEO;
    s.handler = handler;
    s.rate = rate;
    s.scale = scale;
    s.frame[2] = static_cast<std::int16_t>(width);
    s.frame[3] = static_cast<std::int16_t>(height);
    const bool rgb = handler == 0 || handler == FourCC("DIB ");
    s.format = BitmapInfoHeader(width, height, rgb ? 0 : handler);
    return s;
}

StreamDesc PcmAudioStream(std::uint16_t channels, std::uint32_t sampleRate,
                          std::uint16_t bitsPerSample) {
    StreamDesc s;
    s.type = streamtypeAUDIO;
    s.handler = 1;
    s.rate = sampleRate;
    s.scale = 1;
    s.sampleSize = static_cast<std::uint32_t>(channels * bitsPerSample / 8);
    s.format = WaveFormatEx(1, channels, sampleRate, static_cast<std::uint16_t>(s.sampleSize),
                            bitsPerSample);
    return s;
}

int AviBuilder::addStream(StreamDesc desc) {
    m_streams.push_back(std::move(desc));
    return static_cast<int>(m_streams.size()) - 1;
}

AviBuilder& AviBuilder::chunk(int stream, std::vector<std::uint8_t> payload, bool key) {
    ChunkDesc desc;
    desc.stream = stream;
    desc.payload = std::move(payload);
    desc.key = key;
    return add(std::move(desc));
}

AviBuilder& AviBuilder::add(ChunkDesc desc) {
    if (desc.stream >= static_cast<int>(m_streams.size()))
        throw std::logic_error("AviBuilder: chunk of a stream that was not added");
    if (desc.stream < 0 && desc.id == 0)
        throw std::logic_error("AviBuilder: a chunk without a stream needs an id");
    m_items.push_back(Item{ItemKind::Chunk, std::move(desc)});
    return *this;
}

AviBuilder& AviBuilder::junk(std::uint32_t size) {
    ChunkDesc desc;
    desc.payload.resize(size);
    m_items.push_back(Item{ItemKind::Junk, std::move(desc)});
    return *this;
}

AviBuilder& AviBuilder::raw(std::vector<std::uint8_t> bytes) {
    ChunkDesc desc;
    desc.payload = std::move(bytes);
    m_items.push_back(Item{ItemKind::Raw, std::move(desc)});
    return *this;
}

AviBuilder& AviBuilder::beginRec() {
    m_items.push_back(Item{ItemKind::BeginRec, {}});
    return *this;
}

AviBuilder& AviBuilder::endRec() {
    m_items.push_back(Item{ItemKind::EndRec, {}});
    return *this;
}

AviBuilder& AviBuilder::newRiff() {
    m_items.push_back(Item{ItemKind::NewRiff, {}});
    return *this;
}

std::uint32_t AviBuilder::chunkId(const ChunkDesc& desc) const {
    if (desc.id != 0)
        return desc.id;
    const std::uint32_t type = m_streams[static_cast<std::size_t>(desc.stream)].type;
    if (type == streamtypeAUDIO)
        return StreamFourCC(desc.stream, 'w', 'b');
    if (type == streamtypeTEXT)
        return StreamFourCC(desc.stream, 't', 'x');
    return StreamFourCC(desc.stream, 'd', 'c');
}

std::vector<std::uint8_t> AviBuilder::build(Layout* layoutOut) const {
    const std::size_t streamCount = m_streams.size();
    const BuildOptions& o = m_options;

    // Counts the index and the headers need before anything is written.
    std::size_t partCount = 1;
    std::vector<std::vector<bool>> streamInPart(streamCount);  // indexed chunks per part
    std::vector<std::uint64_t> samples(streamCount, 0);
    std::vector<std::uint32_t> videoInPart0(streamCount, 0);
    std::uint32_t largest = 0;
    for (const Item& item : m_items) {
        if (item.kind == ItemKind::NewRiff)
            ++partCount;
        if (item.kind != ItemKind::Chunk || item.chunk.stream < 0)
            continue;
        const auto s = static_cast<std::size_t>(item.chunk.stream);
        const auto size = static_cast<std::uint32_t>(item.chunk.payload.size());
        largest = std::max(largest, size);
        samples[s] += m_streams[s].sampleSize == 0 ? 1 : size / m_streams[s].sampleSize;
        if (partCount == 1)
            ++videoInPart0[s];
        if (item.chunk.indexed) {
            streamInPart[s].resize(partCount, false);
            streamInPart[s][partCount - 1] = true;
        }
    }
    std::vector<std::size_t> ixCount(streamCount, 0);
    for (std::size_t s = 0; s < streamCount; ++s)
        ixCount[s] = static_cast<std::size_t>(
            std::count(streamInPart[s].begin(), streamInPart[s].end(), true));
    int firstVideo = -1;
    for (std::size_t s = 0; s < streamCount && firstVideo < 0; ++s)
        if (IsVideo(m_streams[s]))
            firstVideo = static_cast<int>(s);
    const std::uint64_t videoTotal = firstVideo < 0 ? 0 : samples[firstVideo];
    const std::uint64_t videoFirstRiff = firstVideo < 0 ? 0 : videoInPart0[firstVideo];

    Layout layout;
    layout.indxHeader.assign(streamCount, 0);
    layout.ixHeader.assign(streamCount, {});
    Writer w;

    // ---- First RIFF: headers ----
    std::uint64_t riff = w.begin(FourCC("RIFF"), FourCC("AVI "));
    layout.riffStart.push_back(riff);
    const std::uint64_t hdrl = w.begin(FourCC("LIST"), FourCC("hdrl"));
    {
        const std::uint64_t avih = w.begin(FourCC("avih"));
        layout.avihPayload = w.pos();
        const StreamDesc* video = firstVideo < 0 ? nullptr : &m_streams[firstVideo];
        w.u32(video && video->rate != 0
                  ? static_cast<std::uint32_t>(1000000ull * video->scale / video->rate)
                  : 0);
        w.u32(0);
        w.u32(0);
        w.u32((o.idx1 != Idx1::None ? kAvifHasIndex : 0) | kAvifIsInterleaved | kAvifTrustCkType);
        w.u32(o.totalFrames.value_or(
            static_cast<std::uint32_t>(o.openDml ? videoFirstRiff : videoTotal)));
        w.u32(0);
        w.u32(o.avihStreams.value_or(static_cast<std::uint32_t>(streamCount)));
        w.u32(largest + 8);
        // The movie rectangle: the first video format's size, as writers take it.
        const bool bitmap = video != nullptr && video->format.size() >= 12;
        const std::uint32_t height = bitmap ? LoadSize(video->format, 8) : 0;
        w.u32(bitmap ? LoadSize(video->format, 4) : 0);
        w.u32(static_cast<std::int32_t>(height) < 0 ? 0 - height : height);
        w.zeros(16);
        w.end(avih);
    }
    std::vector<std::uint64_t> indxPayload(streamCount, 0);
    for (std::size_t s = 0; s < streamCount; ++s) {
        const StreamDesc& desc = m_streams[s];
        const std::uint64_t strl = w.begin(FourCC("LIST"), FourCC("strl"));
        const std::uint64_t strh = w.begin(FourCC("strh"));
        layout.strhPayload.push_back(w.pos());
        Writer h;
        h.u32(desc.type);
        h.u32(desc.handler);
        h.u32(desc.flags);
        h.u16(desc.priority);
        h.u16(desc.language);
        h.u32(desc.initialFrames);
        h.u32(desc.scale);
        h.u32(desc.rate);
        h.u32(desc.start);
        h.u32(desc.length.value_or(static_cast<std::uint32_t>(samples[s])));
        h.u32(desc.suggestedBufferSize);
        h.u32(desc.quality);
        h.u32(desc.sampleSize);
        for (std::int16_t v : desc.frame)
            h.u16(static_cast<std::uint16_t>(v));
        h.bytes.resize(desc.strhSize, 0);
        w.append(h.bytes);
        w.end(strh);
        w.chunk(FourCC("strf"), desc.format);
        if (!desc.codecData.empty())
            w.chunk(FourCC("strd"), desc.codecData);
        if (!desc.name.empty())
            w.chunk(FourCC("strn"), desc.name);
        if (!desc.videoProperties.empty())
            w.chunk(FourCC("vprp"), desc.videoProperties);
        if (o.openDml) {
            layout.indxHeader[s] = w.begin(FourCC("indx"));
            indxPayload[s] = w.pos();
            std::size_t entries = ixCount[s];
            std::size_t entryBytes = 16;
            if (o.indxIsChunkIndex) {
                entries = static_cast<std::size_t>(
                    std::count_if(m_items.begin(), m_items.end(), [&](const Item& item) {
                        return item.kind == ItemKind::Chunk &&
                               item.chunk.stream == static_cast<int>(s) && item.chunk.indexed;
                    }));
                entryBytes = o.fieldIndex ? 12 : 8;
            }
            w.zeros(24 + entries * entryBytes);  // filled in once the chunks are placed
            w.end(layout.indxHeader[s]);
        }
        w.end(strl);
    }
    if (o.openDml) {
        const std::uint64_t odml = w.begin(FourCC("LIST"), FourCC("odml"));
        const std::uint64_t dmlh = w.begin(FourCC("dmlh"));
        w.u32(o.grandFrames.value_or(static_cast<std::uint32_t>(videoTotal)));
        w.zeros(244);
        w.end(dmlh);
        w.end(odml);
    }
    w.end(hdrl);

    // ---- movi lists ----
    struct Placed {
        std::size_t part;
        std::uint64_t header;
        std::uint32_t id;
        const ChunkDesc* desc;
    };
    std::vector<Placed> placed;
    std::uint64_t movi = w.begin(FourCC("LIST"), FourCC("movi"));
    layout.moviFourcc.push_back(movi + 8);
    std::vector<std::uint64_t> recStack;
    std::size_t part = 0;

    // Index entry of one chunk: offset from `base` to the payload, size with the delta bit.
    auto writeIxEntry = [&](Writer& out, const Placed& p, std::uint64_t base) {
        out.u32(static_cast<std::uint32_t>(p.header + 8 - base));
        out.u32(static_cast<std::uint32_t>(p.desc->payload.size()) |
                (p.desc->key ? 0u : 0x80000000u));
        if (o.fieldIndex)
            out.u32(static_cast<std::uint32_t>(p.header + 8 - base));
    };
    auto ixBaseOf = [&](std::size_t inPart) {
        return o.ixBase == IxBase::MoviFourcc ? layout.moviFourcc[inPart]
                                              : layout.riffStart[inPart];
    };
    auto writeIxChunks = [&]() {
        if (!o.openDml || o.indxIsChunkIndex)
            return;
        for (std::size_t s = 0; s < streamCount; ++s) {
            std::vector<const Placed*> mine;
            for (const Placed& p : placed)
                if (p.part == part && p.desc->stream == static_cast<int>(s) && p.desc->indexed)
                    mine.push_back(&p);
            if (mine.empty())
                continue;
            const std::uint32_t id =
                o.ixStreamFirst ? StreamFourCC(static_cast<int>(s), 'i', 'x')
                                : MakeFourCC('i', 'x', Digit(int(s) / 10 % 10), Digit(int(s) % 10));
            const std::uint64_t at = w.begin(id);
            layout.ixHeader[s].push_back(at);
            w.u16(o.fieldIndex ? 3 : 2);
            w.u8(o.fieldIndex ? 1 : 0);
            w.u8(1);
            w.u32(static_cast<std::uint32_t>(mine.size()));
            w.u32(chunkId(*mine.front()->desc));
            w.u64(ixBaseOf(part));
            w.u32(0);
            for (const Placed* p : mine)
                writeIxEntry(w, *p, ixBaseOf(part));
            w.end(at);
        }
    };

    // The legacy index, written after the first movi only.
    auto writeIdx1 = [&]() {
        if (part != 0 || o.idx1 == Idx1::None)
            return;
        layout.idx1Header = w.begin(FourCC("idx1"));
        for (const Placed& p : placed) {
            if (!p.desc->indexed)
                continue;
            const bool palette = (p.id >> 16) == MakeFourCC(0, 0, 'p', 'c') >> 16;
            w.u32(p.id);
            w.u32((p.desc->key ? kIdx1Key : 0) | (palette ? kIdx1NoTime : 0));
            w.u32(static_cast<std::uint32_t>(
                o.idx1 == Idx1::Relative ? p.header - layout.moviFourcc[0] : p.header));
            w.u32(static_cast<std::uint32_t>(p.desc->payload.size()));
        }
        w.end(layout.idx1Header);
    };

    for (const Item& item : m_items) {
        switch (item.kind) {
            case ItemKind::Chunk: {
                const ChunkDesc& c = item.chunk;
                const std::uint64_t at = w.pos();
                const std::uint32_t id = chunkId(c);
                w.u32(id);
                w.u32(c.declaredSize.value_or(static_cast<std::uint32_t>(c.payload.size())));
                w.append(c.payload);
                if (c.payload.size() % 2 != 0 && c.pad.value_or(o.padOddChunks))
                    w.u8(0);
                layout.chunkHeader.push_back(at);
                placed.push_back(Placed{part, at, id, &c});
                break;
            }
            case ItemKind::Junk:
                w.chunk(FourCC("JUNK"), item.chunk.payload);
                break;
            case ItemKind::Raw:
                w.append(item.chunk.payload);
                break;
            case ItemKind::BeginRec:
                recStack.push_back(w.begin(FourCC("LIST"), FourCC("rec ")));
                break;
            case ItemKind::EndRec:
                if (recStack.empty())
                    throw std::logic_error("AviBuilder: endRec without beginRec");
                w.end(recStack.back());
                recStack.pop_back();
                break;
            case ItemKind::NewRiff:
                if (!recStack.empty())
                    throw std::logic_error("AviBuilder: newRiff inside a rec list");
                writeIxChunks();
                w.end(movi);
                writeIdx1();
                w.end(riff);
                ++part;
                riff = w.begin(FourCC("RIFF"), FourCC("AVIX"));
                layout.riffStart.push_back(riff);
                movi = w.begin(FourCC("LIST"), FourCC("movi"));
                layout.moviFourcc.push_back(movi + 8);
                break;
        }
    }
    if (!recStack.empty())
        throw std::logic_error("AviBuilder: beginRec without endRec");
    writeIxChunks();
    w.end(movi);
    writeIdx1();
    w.end(riff);

    // ---- indx contents, now that every chunk has its place ----
    if (o.openDml) {
        for (std::size_t s = 0; s < streamCount; ++s) {
            Writer x;
            const int stream = static_cast<int>(s);
            const ChunkDesc probe{stream, 0, {}, true, true, {}, {}};
            if (o.indxIsChunkIndex) {
                std::vector<const Placed*> mine;
                for (const Placed& p : placed)
                    if (p.desc->stream == stream && p.desc->indexed)
                        mine.push_back(&p);
                x.u16(o.fieldIndex ? 3 : 2);
                x.u8(o.fieldIndex ? 1 : 0);
                x.u8(1);
                x.u32(static_cast<std::uint32_t>(mine.size()));
                x.u32(chunkId(probe));
                x.u64(ixBaseOf(0));
                x.u32(0);
                for (const Placed* p : mine)
                    writeIxEntry(x, *p, ixBaseOf(0));
            } else {
                x.u16(4);
                x.u8(0);
                x.u8(0);
                x.u32(static_cast<std::uint32_t>(layout.ixHeader[s].size()));
                x.u32(chunkId(probe));
                x.zeros(12);
                std::size_t ix = 0;
                for (std::size_t p = 0; p < partCount; ++p) {
                    if (p >= streamInPart[s].size() || !streamInPart[s][p])
                        continue;
                    const std::uint64_t at = layout.ixHeader[s][ix++];
                    std::uint32_t duration = 0;
                    for (const Placed& c : placed)
                        if (c.part == p && c.desc->stream == stream && c.desc->indexed)
                            duration += m_streams[s].sampleSize == 0
                                            ? 1
                                            : static_cast<std::uint32_t>(c.desc->payload.size()) /
                                                  m_streams[s].sampleSize;
                    x.u64(at);
                    x.u32(8 + LoadSize(w.bytes, at + 4));
                    x.u32(duration);
                }
            }
            std::copy(x.bytes.begin(), x.bytes.end(),
                      w.bytes.begin() + static_cast<std::ptrdiff_t>(indxPayload[s]));
        }
    }

    if (layoutOut != nullptr)
        *layoutOut = std::move(layout);
    return std::move(w.bytes);
}

TempFile::TempFile(const std::vector<std::uint8_t>& bytes, const std::string& name) {
    namespace fs = std::filesystem;
    static std::atomic<std::uint32_t> counter{0};
    const auto stamp =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; m_folder.empty(); ++attempt) {
        const fs::path folder =
            fs::temp_directory_path() / ("vantrel-test-" + std::to_string(stamp) + "-" +
                                         std::to_string(counter++) + "-" + std::to_string(attempt));
        std::error_code error;
        if (fs::create_directory(folder, error))
            m_folder = folder.string();
        else if (attempt > 100)
            throw std::runtime_error("TempFile: cannot create a temporary folder");
    }
    m_path = (fs::path(m_folder) / name).string();
    std::ofstream out(m_path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("TempFile: cannot write " + m_path);
}

TempFile::~TempFile() {
    std::error_code error;
    std::filesystem::remove_all(m_folder, error);
}

}  // namespace avitest
