// Appending a further file to the base set through the AVI clipboard.
#pragma once

#include "avifile.h"
#include "platform/window_id.h"

namespace vantrel {

// Appends every stream of `path` to the end of the matching base stream. 0 when the file cannot
// be opened or yields no stream (the base set is untouched); 1 in every other case, whatever
// failed later (each failure was shown).
int AppendFileViaClipboard(WindowId engineWindow, const char* path);

// Opens `path` and wraps its streams as the SourceSet. 1 when it holds at least one.
int OpenSourceFile(const char* path);

// Pastes each stream of `file` at the end of the base stream whose source counterpart has the
// same type, and releases `file`.
void PasteClipboardStreams(PAVIFILE file);

}  // namespace vantrel
