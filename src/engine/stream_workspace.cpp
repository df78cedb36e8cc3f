#include "engine/stream_workspace.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/avi_calls.h"
#include "engine/engine_ports.h"
#include "res/strings.h"

namespace vantrel {

namespace {

StreamWorkspace g_workspace{};
EnginePorts g_ports;

constexpr const char* kCannotMakeEditable = "CreateEditableStream is wrong!";

// What differs between wrapping the base file and wrapping a file to append.
void AfterStreamTaken(BaseStreamSet&, std::int32_t) {}
void AfterStreamTaken(SourceStreamSet& set, std::int32_t index) {
    set.start[index] = -1;
    set.length[index] = -1;
}
void ReportNotEditable(BaseStreamSet&) {
    ShowWarning(kCannotMakeEditable);
}
void ReportNotEditable(SourceStreamSet&) {}
void AfterSetFilled(BaseStreamSet&) {
    BuildDefaultSaveOptions();
}
void AfterSetFilled(SourceStreamSet&) {}

template <typename Set>
int WrapStreams(PAVIFILE file, Set& set, const char* path) {
    std::int32_t taken = 0;
    for (std::int32_t i = 0;; ++i) {
        PAVISTREAM stream = nullptr;
        if (AVIFileGetStream(file, &stream, 0, i) != AVIERR_OK)
            break;
        if (i == MAX_STREAMS) {
            AVIStreamRelease(stream);
            ShowWarning(LoadEngineText(IDS_TOO_MANY_STREAMS));
            break;
        }
        set.streams[i] = nullptr;
        const AviResult made = AviCalls().createEditableStream(&set.streams[i], stream);
        AVIStreamRelease(stream);
        if (made != AVIERR_OK) {
            // A failed call may still have left something in the slot; nothing owns it.
            set.streams[i] = nullptr;
            ReportNotEditable(set);
            break;
        }
        AfterStreamTaken(set, i);
        ++taken;
    }
    AVIFileRelease(file);
    if (taken == 0) {
        ShowWarning(LoadEngineText(IDS_CANNOT_OPEN), path);
        return 0;
    }
    set.count = taken;
    AfterSetFilled(set);
    return 1;
}

void FreeFormatBuffer(AVICOMPRESSOPTIONS& options) {
    AviFreeOptionBuffer(options.lpFormat);
    options.lpFormat = nullptr;
    options.cbFormat = 0;
}

}  // namespace

void SetEnginePorts(const EnginePorts& ports) {
    g_ports = ports;
}

const EnginePorts& GetEnginePorts() {
    return g_ports;
}

StreamWorkspace& GetWorkspace() {
    return g_workspace;
}

const char* LoadEngineText(std::uint32_t id) {
    char* buffer = g_workspace.textBuffer;
    const std::string text = g_ports.strings != nullptr ? g_ports.strings->load(id) : std::string();
    const std::size_t length = std::min(text.size(), kTextBufferSize - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return buffer;
}

int ShowWarning(const char* format, ...) {
    static char message[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    if (g_ports.messageBox != nullptr) {
        g_ports.messageBox->show(kNoWindow, message, nullptr,
                                 kMbOk | kMbIconWarning | kMbTaskModal);
    }
    return 0;
}

int LoadBaseFile(WindowId, const char* path) {
    PAVIFILE file = nullptr;
    if (AVIFileOpenA(&file, path, OF_READ, nullptr) != AVIERR_OK) {
        ShowWarning(LoadEngineText(IDS_CANNOT_OPEN), path);
        return 0;
    }
    ReleaseWorkspace();
    return WrapFileStreams(file, g_workspace.BaseSet, path);
}

int WrapFileStreams(PAVIFILE file, BaseStreamSet& set, const char* path) {
    return WrapStreams(file, set, path);
}

int WrapFileStreams(PAVIFILE file, SourceStreamSet& set, const char* path) {
    return WrapStreams(file, set, path);
}

void BuildDefaultSaveOptions() {
    BaseStreamSet& base = g_workspace.BaseSet;
    for (std::int32_t i = 0; i < base.count; ++i) {
        PAVISTREAM stream = base.streams[i];
        AVISTREAMINFOA info{};
        AviCalls().streamInfo(stream, &info, sizeof info);

        AVICOMPRESSOPTIONS& options = base.options[i];
        base.optionPointers[i] = &options;
        options = AVICOMPRESSOPTIONS{};
        options.fccType = info.fccType;
        if (info.fccType == streamtypeVIDEO) {
            options.fccHandler = 0;
            options.dwKeyFrameEvery = 0xFFFFFFFFu;
            options.dwQuality = 0xFFFFFFFFu;  // ICQUALITY_DEFAULT
            options.dwBytesPerSecond = 0;
            options.dwFlags = AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_DATARATE | AVICOMPRESSF_VALID;
            options.dwInterleaveEvery = 1;
        } else if (info.fccType == streamtypeAUDIO) {
            options.dwFlags = AVICOMPRESSF_VALID;
            options.dwInterleaveEvery = 1;
            const std::int32_t start = AVIStreamStart(stream);
            std::int32_t size = 0;
            AVIStreamReadFormat(stream, start, nullptr, &size);
            if (size < 0)
                size = 0;
            options.cbFormat = static_cast<std::uint32_t>(size);
            if (size != 0) {
                options.lpFormat = AviAllocOptionBuffer(options.cbFormat);
                if (options.lpFormat != nullptr)
                    AVIStreamReadFormat(stream, start, options.lpFormat, &size);
            }
        }
    }
}

void RemoveBaseStream(std::int32_t index) {
    BaseStreamSet& base = g_workspace.BaseSet;
    if (index < 0 || index >= base.count)
        return;
    AVIStreamRelease(base.streams[index]);
    if (base.optionPointers[index] != nullptr)
        FreeFormatBuffer(*base.optionPointers[index]);
    for (std::int32_t i = index; i < base.count - 1; ++i) {
        base.streams[i] = base.streams[i + 1];
        base.optionPointers[i] = base.optionPointers[i + 1];
    }
    --base.count;
    base.streams[base.count] = nullptr;
    base.optionPointers[base.count] = nullptr;
}

void ReleaseWorkspace() {
    BaseStreamSet& base = g_workspace.BaseSet;
    AVISaveOptionsFree(base.count, base.optionPointers);
    for (std::int32_t i = 0; i < base.count; ++i) {
        AVIStreamRelease(base.streams[i]);
        base.streams[i] = nullptr;
    }
    base.count = 0;
}

void ReleaseSourceSet() {
    SourceStreamSet& source = g_workspace.SourceSet;
    for (PAVISTREAM& stream : source.streams) {
        AVIStreamRelease(stream);
        stream = nullptr;
    }
    source.count = 0;
}

}  // namespace vantrel
