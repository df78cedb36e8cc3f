// The file probe: the stream headers of one AVI file, read without touching formats or data.
#pragma once

#include <cstdint>

#include "avifile.h"
#include "engine/stream_workspace.h"
#include "platform/message_box.h"

namespace vantrel {

struct HeaderTable {
    std::int32_t count;                   // streams found by the last probe, 0 to MAX_STREAMS
    AVISTREAMINFOA headers[MAX_STREAMS];  // entries from count on are stale
};

// The headers of the file most recently probed while the list was empty: the reference every
// later candidate is compared with.
extern HeaderTable ReferenceTable;
// The headers of the file most recently probed while the list held entries.
extern HeaderTable CandidateTable;

// The probe's error box text.
extern const char* const kProbeErrorText;

// Reads the header of each stream of `path`, up to MAX_STREAMS, into `table`. True when the file
// opened and every header was read; otherwise the error box was shown (once per failure), owned
// by `owner` so that no second check can start while it is open. Sets table.count in every case.
bool ProbeAviFile(const char* path, HeaderTable& table, MessageBoxPort& boxes, WindowId owner);

}  // namespace vantrel
