// The engine's one global state, the stream workspace, and the routines that load the first file
// of a join as the base set, give its streams their save options and take streams out again.
#pragma once

#include <cstddef>
#include <cstdint>

#include "avifile.h"
#include "platform/window_id.h"

namespace vantrel {

// Capacity of each stream set; a file's streams past this one are not joined.
constexpr std::int32_t MAX_STREAMS = 25;
constexpr std::size_t kTextBufferSize = 260;

struct BaseStreamSet {
    PAVISTREAM streams[MAX_STREAMS];  // entries 0 to count-1 are live, one reference each
    std::int32_t count;
    AVICOMPRESSOPTIONS options[MAX_STREAMS];  // never move; reach them by optionPointers only
    AVICOMPRESSOPTIONS* optionPointers[MAX_STREAMS];  // move with their streams
};

struct SourceStreamSet {
    PAVISTREAM streams[MAX_STREAMS];
    std::int32_t count;
    std::int32_t start[MAX_STREAMS];  // copy range of each stream; -1 once wrapped
    std::int32_t length[MAX_STREAMS];
};

struct StreamWorkspace {
    BaseStreamSet BaseSet;
    SourceStreamSet SourceSet;
    PAVISTREAM copies[MAX_STREAMS];  // the copies of one append, empty between appends
    WindowId engineWindow;
    std::uintptr_t instance;
    char textBuffer[kTextBufferSize];  // the one string-table entry in use
};

StreamWorkspace& GetWorkspace();

// Loads string-table entry `id` into the workspace's textBuffer and returns that buffer.
const char* LoadEngineText(std::uint32_t id);

// Formats a printf-style message into a 1024-byte buffer and shows it task-modal, with the
// warning icon, no owner and the default caption. Always returns 0.
int ShowWarning(const char* format, ...);

// 1 when the BaseSet holds the streams of `path`, 0 otherwise (the reason was shown). A file
// that cannot be opened leaves the previous base set as it was.
int LoadBaseFile(WindowId engineWindow, const char* path);

// Wraps up to MAX_STREAMS streams of the open `file` as editable streams into the empty set and
// releases the file. 1 when at least one stream was taken.
int WrapFileStreams(PAVIFILE file, BaseStreamSet& set, const char* path);
int WrapFileStreams(PAVIFILE file, SourceStreamSet& set, const char* path);

// Gives every base stream its default save options (stream copy; audio keeps its format).
void BuildDefaultSaveOptions();

// Takes base stream `index` out of the join with its save options; other indices change nothing.
void RemoveBaseStream(std::int32_t index);

// Empties the BaseSet, freeing the options' buffers and releasing the streams.
void ReleaseWorkspace();

// Releases the streams the last append took from its file.
void ReleaseSourceSet();

}  // namespace vantrel
