// The AVI services' handles and edit operations over the reader and the writer.
//
// A stream, whether it comes from a file or was made editable, is a list of segments over the
// streams of opened files. Editing splices those lists; media bytes are touched only by a save.
// Positions in edit operations count samples from the stream's first sample; a stream's start
// delay (dwStart) is kept as part of its header.
#include "avifile.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <new>
#include <vector>

#include "avi_writer.h"
#include "byte_io.h"
#include "save_progress.h"
#include "stream_data.h"

using avi::Segment;
using avi::StreamData;

// The handles' reference count: an object is deleted with its last reference. `Derived` keeps its
// destructor private, so nothing but the last release ends it.
template <typename Derived>
class ReferenceCounted {
public:
    std::uint32_t addRef() { return ++m_references; }
    std::uint32_t release() {
        const std::uint32_t left = --m_references;
        if (left == 0)
            delete static_cast<Derived*>(this);
        return left;
    }

private:
    std::uint32_t m_references = 1;
};

class AviStream : public ReferenceCounted<AviStream> {
public:
    AviStream(std::shared_ptr<const StreamData> prototype, std::vector<Segment> segments,
              bool editable)
        : m_prototype(std::move(prototype)),
          m_segments(std::move(segments)),
          m_editable(editable) {}

    const StreamData& prototype() const { return *m_prototype; }
    const std::shared_ptr<const StreamData>& prototypePointer() const { return m_prototype; }
    const std::vector<Segment>& segments() const { return m_segments; }
    bool isEditable() const { return m_editable; }
    std::uint32_t editCount() const { return m_editCount; }

    std::int64_t length() const {
        std::int64_t total = 0;
        for (const Segment& segment : m_segments)
            total += segment.count;
        return total;
    }

    // The segments covering samples [first, first + count); both must lie within the stream.
    std::vector<Segment> slice(std::int64_t first, std::int64_t count) const {
        std::vector<Segment> out;
        std::int64_t position = 0;
        for (const Segment& segment : m_segments) {
            const std::int64_t begin = std::max(first, position);
            const std::int64_t end = std::min(first + count, position + segment.count);
            if (begin < end) {
                out.push_back(Segment{segment.source,
                                      segment.first + static_cast<std::uint32_t>(begin - position),
                                      static_cast<std::uint32_t>(end - begin)});
            }
            position += segment.count;
        }
        return out;
    }

    void insert(std::int64_t position, const std::vector<Segment>& inserted) {
        std::vector<Segment> result = slice(0, position);
        for (const Segment& segment : inserted)
            appendMerged(result, segment);
        for (const Segment& segment : slice(position, length() - position)) {
            appendMerged(result, segment);
        }
        m_segments = std::move(result);
        ++m_editCount;
    }

    void erase(std::int64_t first, std::int64_t count) {
        std::vector<Segment> result = slice(0, first);
        for (const Segment& segment : slice(first + count, length() - first - count)) {
            appendMerged(result, segment);
        }
        m_segments = std::move(result);
        ++m_editCount;
    }

private:
    friend class ReferenceCounted<AviStream>;
    ~AviStream() = default;

    // Joins a segment to the last one when it continues it, so repeated edits do not fragment
    // the list.
    static void appendMerged(std::vector<Segment>& list, const Segment& segment) {
        if (segment.count == 0)
            return;
        if (!list.empty()) {
            Segment& last = list.back();
            if (last.source == segment.source &&
                std::uint64_t{last.first} + last.count == segment.first &&
                std::uint64_t{last.count} + segment.count <=
                    std::numeric_limits<std::uint32_t>::max()) {
                last.count += segment.count;
                return;
            }
        }
        list.push_back(segment);
    }

    std::shared_ptr<const StreamData> m_prototype;
    std::vector<Segment> m_segments;
    bool m_editable;
    std::uint32_t m_editCount = 0;
};

class AviFile : public ReferenceCounted<AviFile> {
public:
    explicit AviFile(std::vector<PAVISTREAM> streams) : m_streams(std::move(streams)) {}

    const std::vector<PAVISTREAM>& streams() const { return m_streams; }

private:
    friend class ReferenceCounted<AviFile>;
    ~AviFile() {
        for (PAVISTREAM stream : m_streams)
            stream->release();
    }

    std::vector<PAVISTREAM> m_streams;  // one reference each
};

namespace {

PAVIFILE g_clipboard = nullptr;
avi::SaveProgressFn g_saveObserver;

constexpr std::int64_t kMaxPosition = std::numeric_limits<std::int32_t>::max();

std::uint32_t LoadFormatField32(const std::vector<std::uint8_t>& format, std::size_t offset) {
    return format.size() >= offset + 4 ? avi::LoadLE32(format.data() + offset) : 0;
}

// Audio formats must be identical but for nAvgBytesPerSec: encoders of variable bit rates write
// each file's own average there, and the timing of the joined stream comes from the stream
// header's rate and scale, which must agree exactly.
bool SameWaveFormat(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    constexpr std::size_t kAverageRate = 8, kAverageRateEnd = 12;
    if (a.size() != b.size() || a.size() < kAverageRateEnd)
        return a == b;
    return std::equal(a.begin(), a.begin() + kAverageRate, b.begin()) &&
           std::equal(a.begin() + kAverageRateEnd, a.end(), b.begin() + kAverageRateEnd);
}

// Whether samples of `source` may be pasted into `target` and still play right: same type, rate,
// sample size, and a format a player can decode with the target's header.
bool CanPaste(const StreamData& target, const StreamData& source) {
    const avi::StreamHeader& a = target.header;
    const avi::StreamHeader& b = source.header;
    if (a.fccType != b.fccType || a.sampleSize != b.sampleSize)
        return false;
    if (std::uint64_t{a.rate} * b.scale != std::uint64_t{b.rate} * a.scale)
        return false;
    if (a.fccType == streamtypeAUDIO)
        return SameWaveFormat(target.format, source.format);
    if (a.fccType != streamtypeVIDEO)
        return target.format == source.format;
    // Video: width, height, bit count and compression, and the palette or codec bytes after the
    // 40-byte header. biSizeImage and the pixel densities may differ between files.
    const std::vector<std::uint8_t>& fa = target.format;
    const std::vector<std::uint8_t>& fb = source.format;
    if (fa.size() < 40 || fb.size() < 40)
        return fa == fb;
    for (std::size_t offset : {4u, 8u, 16u}) {
        if (LoadFormatField32(fa, offset) != LoadFormatField32(fb, offset))
            return false;
    }
    if (avi::LoadLE16(fa.data() + 14) != avi::LoadLE16(fb.data() + 14))
        return false;
    return std::equal(fa.begin() + 40, fa.end(), fb.begin() + 40, fb.end());
}

AviResult SaveStreams(const avi::FilePath& path, AVISAVECALLBACK callback, std::int32_t count,
                      PAVISTREAM* streams, AVICOMPRESSOPTIONS** options) {
    if (count < 0 || (count > 0 && streams == nullptr))
        return AVIERR_BADPARAM;
    std::vector<avi::SaveStream> plan;
    plan.reserve(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) {
        if (streams[i] == nullptr)
            return AVIERR_BADHANDLE;
        const std::uint32_t handler = streams[i]->prototype().header.fccHandler;
        AVICOMPRESSOPTIONS* option = options != nullptr ? options[i] : nullptr;
        if (option != nullptr && option->fccHandler != 0 && option->fccHandler != handler) {
            return AVIERR_NOCOMPRESSOR;
        }
        plan.push_back(avi::SaveStream{streams[i]->prototypePointer(), streams[i]->segments()});
    }
    // The record names the handler the stream was written with, as the platform's save does;
    // callers that reuse their options put their own value back.
    for (std::int32_t i = 0; options != nullptr && i < count; ++i) {
        if (options[i] != nullptr)
            options[i]->fccHandler = streams[i]->prototype().header.fccHandler;
    }

    int lastPercent = -1;
    const avi::SaveProgressFn progress = [&](std::uint64_t written, std::uint64_t total) {
        if (g_saveObserver && !g_saveObserver(written, total))
            return false;
        if (callback == nullptr)
            return true;
        const int percent = total == 0 ? 100 : static_cast<int>(written * 100 / total);
        if (percent == lastPercent)
            return true;
        lastPercent = percent;
        return callback(percent) == 0;
    };
    return avi::WriteAviFile(path, plan, progress);
}

}  // namespace

namespace avi {

void SetSaveProgressObserver(SaveProgressFn observer) {
    g_saveObserver = std::move(observer);
}

}  // namespace avi

const char* AviErrorName(AviResult result) {
    switch (result) {
        case AVIERR_UNSUPPORTED:
            return "AVIERR_UNSUPPORTED";
        case AVIERR_BADFORMAT:
            return "AVIERR_BADFORMAT";
        case AVIERR_MEMORY:
            return "AVIERR_MEMORY";
        case AVIERR_INTERNAL:
            return "AVIERR_INTERNAL";
        case AVIERR_BADFLAGS:
            return "AVIERR_BADFLAGS";
        case AVIERR_BADPARAM:
            return "AVIERR_BADPARAM";
        case AVIERR_BADSIZE:
            return "AVIERR_BADSIZE";
        case AVIERR_BADHANDLE:
            return "AVIERR_BADHANDLE";
        case AVIERR_FILEREAD:
            return "AVIERR_FILEREAD";
        case AVIERR_FILEWRITE:
            return "AVIERR_FILEWRITE";
        case AVIERR_FILEOPEN:
            return "AVIERR_FILEOPEN";
        case AVIERR_COMPRESSOR:
            return "AVIERR_COMPRESSOR";
        case AVIERR_NOCOMPRESSOR:
            return "AVIERR_NOCOMPRESSOR";
        case AVIERR_READONLY:
            return "AVIERR_READONLY";
        case AVIERR_NODATA:
            return "AVIERR_NODATA";
        case AVIERR_BUFFERTOOSMALL:
            return "AVIERR_BUFFERTOOSMALL";
        case AVIERR_CANTCOMPRESS:
            return "AVIERR_CANTCOMPRESS";
        case AVIERR_USERABORT:
            return "AVIERR_USERABORT";
        case AVIERR_ERROR:
            return "AVIERR_ERROR";
        default:
            return nullptr;
    }
}

void* AviAllocOptionBuffer(std::uint32_t size) {
    return std::calloc(size == 0 ? 1 : size, 1);
}

void AviFreeOptionBuffer(void* buffer) {
    std::free(buffer);
}

std::uint32_t VideoForWindowsVersion() {
    return 0x010A0000u;
}

void AVIFileInit() {}

void AVIFileExit() {}

AviResult AVIFileOpenA(PAVIFILE* file, const char* path, std::uint32_t mode, const void*) {
    if (file == nullptr)
        return AVIERR_BADPARAM;
    *file = nullptr;
    if (path == nullptr)
        return AVIERR_BADPARAM;
    if (mode != OF_READ)
        return AVIERR_READONLY;
    std::shared_ptr<avi::ByteSource> source;
    if (const AviResult opened = avi::OpenFileSource(avi::FilePath::Narrow(path), &source);
        opened != AVIERR_OK) {
        return opened;
    }
    avi::AviContents contents;
    std::string problem;
    if (const AviResult read = avi::ReadAviContents(source, &contents, &problem);
        read != AVIERR_OK) {
        return read;
    }
    std::vector<PAVISTREAM> streams;
    streams.reserve(contents.streams.size());
    for (std::shared_ptr<StreamData>& data : contents.streams) {
        const std::uint32_t samples = data->sampleCount();
        std::vector<Segment> whole;
        if (samples > 0)
            whole.push_back(Segment{data, 0, samples});
        streams.push_back(new AviStream(std::move(data), std::move(whole), false));
    }
    *file = new AviFile(std::move(streams));
    return AVIERR_OK;
}

AviResult AVIFileGetStream(PAVIFILE file, PAVISTREAM* stream, std::uint32_t fccType,
                           std::int32_t index) {
    if (stream == nullptr)
        return AVIERR_BADPARAM;
    *stream = nullptr;
    if (file == nullptr)
        return AVIERR_BADHANDLE;
    if (index < 0)
        return AVIERR_NODATA;
    std::int32_t seen = 0;
    for (PAVISTREAM candidate : file->streams()) {
        if (fccType != 0 && candidate->prototype().header.fccType != fccType)
            continue;
        if (seen++ == index) {
            candidate->addRef();
            *stream = candidate;
            return AVIERR_OK;
        }
    }
    return AVIERR_NODATA;
}

std::uint32_t AVIFileAddRef(PAVIFILE file) {
    return file != nullptr ? file->addRef() : 0;
}

std::uint32_t AVIFileRelease(PAVIFILE file) {
    return file != nullptr ? file->release() : 0;
}

std::uint32_t AVIStreamAddRef(PAVISTREAM stream) {
    return stream != nullptr ? stream->addRef() : 0;
}

std::uint32_t AVIStreamRelease(PAVISTREAM stream) {
    return stream != nullptr ? stream->release() : 0;
}

AviResult AVIStreamInfoA(PAVISTREAM stream, AVISTREAMINFOA* info, std::int32_t size) {
    if (stream == nullptr)
        return AVIERR_BADHANDLE;
    if (info == nullptr || size < 0)
        return AVIERR_BADPARAM;
    const avi::StreamHeader& header = stream->prototype().header;
    AVISTREAMINFOA record{};
    record.fccType = header.fccType;
    record.fccHandler = header.fccHandler;
    record.dwFlags = header.flags & (AVISTREAMINFO_DISABLED | AVISTREAMINFO_FORMATCHANGES);
    record.wPriority = header.priority;
    record.wLanguage = header.language;
    record.dwScale = header.scale;
    record.dwRate = header.rate;
    record.dwStart = header.start;
    record.dwLength = static_cast<std::uint32_t>(stream->length());
    record.dwInitialFrames = header.initialFrames;
    record.dwSuggestedBufferSize = header.suggestedBufferSize;
    record.dwQuality = header.quality;
    record.dwSampleSize = header.sampleSize;
    record.rcFrame =
        AviRect{header.frameLeft, header.frameTop, header.frameRight, header.frameBottom};
    record.dwEditCount = stream->editCount();
    const std::vector<std::uint8_t>& name = stream->prototype().name;
    const std::size_t nameLength = std::min<std::size_t>(
        std::find(name.begin(), name.end(), 0) - name.begin(), sizeof(record.szName) - 1);
    std::copy_n(name.begin(), nameLength, record.szName);
    std::copy_n(reinterpret_cast<const std::uint8_t*>(&record),
                std::min<std::size_t>(static_cast<std::size_t>(size), sizeof(record)),
                reinterpret_cast<std::uint8_t*>(info));
    return AVIERR_OK;
}

// Positions count from the stream's first sample, for file streams and editable streams alike, so
// that a copy from 0 over the whole length takes every sample. A start delay stays in the header
// (dwStart of the information record) and goes with the stream into a save.
std::int32_t AVIStreamStart(PAVISTREAM stream) {
    return stream != nullptr ? 0 : -1;
}

std::int32_t AVIStreamLength(PAVISTREAM stream) {
    return stream != nullptr ? static_cast<std::int32_t>(stream->length()) : -1;
}

AviResult AVIStreamReadFormat(PAVISTREAM stream, std::int32_t, void* format, std::int32_t* size) {
    if (stream == nullptr)
        return AVIERR_BADHANDLE;
    if (size == nullptr)
        return AVIERR_BADPARAM;
    const std::vector<std::uint8_t>& bytes = stream->prototype().format;
    if (format != nullptr) {
        const std::size_t room = static_cast<std::size_t>(std::max<std::int32_t>(*size, 0));
        std::copy_n(bytes.begin(), std::min(room, bytes.size()),
                    static_cast<std::uint8_t*>(format));
    }
    *size = static_cast<std::int32_t>(bytes.size());
    return AVIERR_OK;
}

AviResult AVIStreamRead(PAVISTREAM stream, std::int32_t start, std::int32_t samples, void* buffer,
                        std::int32_t bufferSize, std::int32_t* bytesRead,
                        std::int32_t* samplesRead) {
    if (bytesRead != nullptr)
        *bytesRead = 0;
    if (samplesRead != nullptr)
        *samplesRead = 0;
    if (stream == nullptr)
        return AVIERR_BADHANDLE;
    if (start < 0 || start >= stream->length())
        return AVIERR_NODATA;
    if (buffer != nullptr && bufferSize < 0)
        return AVIERR_BADPARAM;
    const std::uint32_t sampleSize = stream->prototype().header.sampleSize;
    // Variable-size samples are read one at a time; fixed-size ones as many as were asked for,
    // as far as they lie in one chunk and fit the buffer.
    const std::vector<Segment> run = stream->slice(start, 1);
    const Segment& segment = run.front();
    const StreamData& data = *segment.source;
    const std::size_t chunkIndex = data.chunkOfSample(segment.first);
    if (chunkIndex >= data.chunks.size())
        return AVIERR_FILEREAD;
    const avi::ChunkRef& chunk = data.chunks[chunkIndex];
    std::uint64_t offset = chunk.offset();
    std::uint32_t count = 1;
    std::uint32_t bytes = chunk.size();
    if (sampleSize > 0) {
        const std::uint32_t skip = segment.first - chunk.firstSample();
        const std::uint32_t inChunk = data.samplesInChunk(chunkIndex) - skip;
        const std::uint32_t wanted = samples == AVISTREAMREAD_CONVENIENT
                                         ? inChunk
                                         : static_cast<std::uint32_t>(std::max(samples, 1));
        count = std::min(wanted, inChunk);
        if (buffer != nullptr) {
            count = std::min(count, static_cast<std::uint32_t>(bufferSize) / sampleSize);
            if (count == 0)
                return AVIERR_BUFFERTOOSMALL;
        }
        offset += std::uint64_t{skip} * sampleSize;
        bytes = count * sampleSize;
    } else if (buffer != nullptr && bytes > static_cast<std::uint32_t>(bufferSize)) {
        return AVIERR_BUFFERTOOSMALL;
    }
    if (buffer != nullptr && bytes > 0 && !data.source->readAt(offset, buffer, bytes)) {
        return AVIERR_FILEREAD;
    }
    if (bytesRead != nullptr)
        *bytesRead = static_cast<std::int32_t>(bytes);
    if (samplesRead != nullptr)
        *samplesRead = static_cast<std::int32_t>(count);
    return AVIERR_OK;
}

AviResult CreateEditableStream(PAVISTREAM* editable, PAVISTREAM source) {
    if (editable == nullptr)
        return AVIERR_BADPARAM;
    *editable = nullptr;
    if (source == nullptr)
        return AVIERR_BADHANDLE;
    *editable = new (std::nothrow) AviStream(source->prototypePointer(), source->segments(), true);
    return *editable != nullptr ? AVIERR_OK : AVIERR_MEMORY;
}

namespace {

// Clamps a range to the stream; false when it is empty or the arguments are missing.
bool ClampRange(PAVISTREAM stream, std::int32_t* start, std::int32_t* length) {
    if (start == nullptr || length == nullptr)
        return false;
    const std::int64_t total = stream->length();
    const std::int64_t first = std::clamp<std::int64_t>(*start, 0, total);
    const std::int64_t count =
        *length < 0 ? total - first : std::min<std::int64_t>(*length, total - first);
    *start = static_cast<std::int32_t>(first);
    *length = static_cast<std::int32_t>(count);
    return true;
}

}  // namespace

AviResult EditStreamCopy(PAVISTREAM stream, std::int32_t* start, std::int32_t* length,
                         PAVISTREAM* result) {
    if (result == nullptr)
        return AVIERR_BADPARAM;
    *result = nullptr;
    if (stream == nullptr)
        return AVIERR_BADHANDLE;
    if (!ClampRange(stream, start, length))
        return AVIERR_BADPARAM;
    *result = new (std::nothrow)
        AviStream(stream->prototypePointer(), stream->slice(*start, *length), true);
    return *result != nullptr ? AVIERR_OK : AVIERR_MEMORY;
}

AviResult EditStreamCut(PAVISTREAM stream, std::int32_t* start, std::int32_t* length,
                        PAVISTREAM* result) {
    if (stream != nullptr && !stream->isEditable())
        return AVIERR_READONLY;
    const AviResult copied = EditStreamCopy(stream, start, length, result);
    if (copied == AVIERR_OK)
        stream->erase(*start, *length);
    return copied;
}

AviResult EditStreamClone(PAVISTREAM stream, PAVISTREAM* result) {
    if (result == nullptr)
        return AVIERR_BADPARAM;
    *result = nullptr;
    if (stream == nullptr)
        return AVIERR_BADHANDLE;
    *result = new (std::nothrow) AviStream(stream->prototypePointer(), stream->segments(), true);
    return *result != nullptr ? AVIERR_OK : AVIERR_MEMORY;
}

AviResult EditStreamPaste(PAVISTREAM target, std::int32_t* position, std::int32_t* length,
                          PAVISTREAM source, std::int32_t sourceStart, std::int32_t sourceLength) {
    if (target == nullptr || source == nullptr)
        return AVIERR_BADHANDLE;
    if (position == nullptr || length == nullptr)
        return AVIERR_BADPARAM;
    if (!target->isEditable())
        return AVIERR_READONLY;
    if (!CanPaste(target->prototype(), source->prototype()))
        return AVIERR_BADFORMAT;
    if (!ClampRange(source, &sourceStart, &sourceLength))
        return AVIERR_BADPARAM;
    if (target->length() + sourceLength > kMaxPosition)
        return AVIERR_BADSIZE;
    const std::int64_t at = std::clamp<std::int64_t>(*position, 0, target->length());
    // Slice first: the source may be the target itself.
    const std::vector<Segment> inserted = source->slice(sourceStart, sourceLength);
    target->insert(at, inserted);
    *position = static_cast<std::int32_t>(at);
    *length = sourceLength;
    return AVIERR_OK;
}

AviResult AVIMakeFileFromStreams(PAVIFILE* file, std::int32_t count, PAVISTREAM* streams) {
    if (file == nullptr)
        return AVIERR_BADPARAM;
    *file = nullptr;
    if (count < 0 || (count > 0 && streams == nullptr))
        return AVIERR_BADPARAM;
    std::vector<PAVISTREAM> held;
    for (std::int32_t i = 0; i < count; ++i) {
        if (streams[i] == nullptr) {
            for (PAVISTREAM stream : held)
                stream->release();
            return AVIERR_BADHANDLE;
        }
        streams[i]->addRef();
        held.push_back(streams[i]);
    }
    *file = new AviFile(std::move(held));
    return AVIERR_OK;
}

AviResult AVIPutFileOnClipboard(PAVIFILE file) {
    if (file == nullptr)
        return AVIERR_BADHANDLE;
    file->addRef();
    AVIClearClipboard();
    g_clipboard = file;
    return AVIERR_OK;
}

AviResult AVIGetFromClipboard(PAVIFILE* file) {
    if (file == nullptr)
        return AVIERR_BADPARAM;
    *file = g_clipboard;
    if (g_clipboard == nullptr)
        return AVIERR_NODATA;
    g_clipboard->addRef();
    return AVIERR_OK;
}

AviResult AVIClearClipboard() {
    PAVIFILE held = g_clipboard;
    g_clipboard = nullptr;
    if (held != nullptr)
        held->release();
    return AVIERR_OK;
}

AviResult AVISaveVA(const char* path, const void*, AVISAVECALLBACK callback, std::int32_t count,
                    PAVISTREAM* streams, AVICOMPRESSOPTIONS** options) {
    if (path == nullptr)
        return AVIERR_BADPARAM;
    return SaveStreams(avi::FilePath::Narrow(path), callback, count, streams, options);
}

AviResult AVISaveVW(const char16_t* path, const void*, AVISAVECALLBACK callback, std::int32_t count,
                    PAVISTREAM* streams, AVICOMPRESSOPTIONS** options) {
    if (path == nullptr)
        return AVIERR_BADPARAM;
    return SaveStreams(avi::FilePath::Wide(path), callback, count, streams, options);
}

AviResult AVISaveOptionsFree(std::int32_t count, AVICOMPRESSOPTIONS** options) {
    if (count < 0 || (count > 0 && options == nullptr))
        return AVIERR_BADPARAM;
    for (std::int32_t i = 0; i < count; ++i) {
        AVICOMPRESSOPTIONS* option = options[i];
        if (option == nullptr)
            continue;
        AviFreeOptionBuffer(option->lpFormat);
        AviFreeOptionBuffer(option->lpParms);
        option->lpFormat = nullptr;
        option->cbFormat = 0;
        option->lpParms = nullptr;
        option->cbParms = 0;
    }
    return AVIERR_OK;
}
