#include "engine/append_via_clipboard.h"

#include <algorithm>
#include <cstdint>

#include "engine/avi_calls.h"
#include "engine/stream_workspace.h"
#include "res/strings.h"

namespace vantrel {

namespace {

std::uint32_t StreamType(PAVISTREAM stream) {
    AVISTREAMINFOA info{};
    AviCalls().streamInfo(stream, &info, sizeof info);
    return info.fccType;
}

// Copies every source stream into `copies`; returns how many copies were made.
std::int32_t CopySourceStreams() {
    StreamWorkspace& workspace = GetWorkspace();
    SourceStreamSet& source = workspace.SourceSet;
    std::int32_t made = 0;
    for (std::int32_t j = 0; j < source.count; ++j) {
        source.start[j] = 0;
        source.length[j] = AVIStreamLength(source.streams[j]);
        PAVISTREAM& slot = workspace.copies[made];
        slot = nullptr;
        if (AviCalls().editStreamCopy(source.streams[j], &source.start[j], &source.length[j],
                                      &slot) == AVIERR_OK) {
            ++made;
        } else {
            slot = nullptr;
            ShowWarning(LoadEngineText(IDS_COPY_FAILED));
        }
    }
    return made;
}

// Puts the copies on the AVI clipboard as one in-memory file. True when the put succeeded.
bool PutCopiesOnClipboard(std::int32_t count) {
    PAVISTREAM clones[MAX_STREAMS] = {};
    for (std::int32_t m = 0; m < count; ++m)
        EditStreamClone(GetWorkspace().copies[m], &clones[m]);
    PAVIFILE memoryFile = nullptr;
    AVIMakeFileFromStreams(&memoryFile, count, clones);
    const bool put = AviCalls().putFileOnClipboard(memoryFile) == AVIERR_OK;
    if (!put)
        ShowWarning(LoadEngineText(IDS_CLIPBOARD_PUT_FAILED));
    for (std::int32_t m = 0; m < count; ++m)
        AVIStreamRelease(clones[m]);
    AVIFileRelease(memoryFile);
    return put;
}

}  // namespace

int OpenSourceFile(const char* path) {
    PAVIFILE file = nullptr;
    if (AVIFileOpenA(&file, path, OF_READ, nullptr) != AVIERR_OK) {
        ShowWarning(LoadEngineText(IDS_CANNOT_OPEN), path);
        return 0;
    }
    ReleaseSourceSet();
    return WrapFileStreams(file, GetWorkspace().SourceSet, path);
}

int AppendFileViaClipboard(WindowId, const char* path) {
    if (!OpenSourceFile(path))
        return 0;
    StreamWorkspace& workspace = GetWorkspace();
    const SourceStreamSet& source = workspace.SourceSet;

    const std::int32_t copied = CopySourceStreams();

    // An empty stream of the appended file takes the base stream of the same index out of the
    // join. From the top down, so that each removal leaves the lower indices where they were.
    for (std::int32_t j = source.count - 1; j >= 0; --j) {
        if (AVIStreamLength(source.streams[j]) == 0)
            RemoveBaseStream(j);
    }

    const bool put = copied > 0 && PutCopiesOnClipboard(copied);
    for (std::int32_t m = 0; m < copied; ++m) {
        AVIStreamRelease(workspace.copies[m]);
        workspace.copies[m] = nullptr;
    }

    // Only the file this append put there is pasted: when nothing was put, the clipboard still
    // holds an earlier append's file, and pasting that again would join its streams twice.
    if (put) {
        PAVIFILE clipboardFile = nullptr;
        if (AVIGetFromClipboard(&clipboardFile) == AVIERR_OK && clipboardFile != nullptr)
            PasteClipboardStreams(clipboardFile);
    }
    ReleaseSourceSet();
    return 1;
}

void PasteClipboardStreams(PAVIFILE file) {
    StreamWorkspace& workspace = GetWorkspace();
    const SourceStreamSet& source = workspace.SourceSet;
    BaseStreamSet& base = workspace.BaseSet;
    // Video streams and all others are matched by separate cursors into the source set, so
    // that each kind keeps its own order.
    std::int32_t videoCursor = 0;
    std::int32_t otherCursor = 0;
    for (std::int32_t i = 0; i < MAX_STREAMS; ++i) {
        PAVISTREAM clip = nullptr;
        if (AVIFileGetStream(file, &clip, 0, i) != AVIERR_OK)
            break;
        const std::uint32_t type = StreamType(clip);
        std::int32_t& cursor = type == streamtypeVIDEO ? videoCursor : otherCursor;

        std::int32_t match = -1;
        for (std::int32_t j = cursor; j < source.count; ++j) {
            if (StreamType(source.streams[j]) == type && source.start[j] != -1) {
                match = j;
                break;
            }
        }
        if (match < 0) {
            cursor = std::max(cursor, source.count) + 1;
        } else {
            // A removal by an empty stream may have left no base stream at this index; the
            // clipboard stream then has nowhere to go.
            if (match < base.count) {
                const std::int32_t clipLength = AVIStreamLength(clip);
                std::int32_t position = AVIStreamLength(base.streams[match]);
                std::int32_t length = clipLength;
                if (EditStreamPaste(base.streams[match], &position, &length, clip,
                                    AVIStreamStart(clip), clipLength) != AVIERR_OK) {
                    ShowWarning(LoadEngineText(IDS_CANNOT_PASTE));
                }
            }
            cursor = match + 1;
        }
        AVIStreamRelease(clip);
    }
    AVIFileRelease(file);
}

}  // namespace vantrel
