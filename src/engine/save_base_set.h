// Writing the base set as the joined file.
#pragma once

#include <string>

#include "avifile.h"
#include "platform/window_id.h"

namespace vantrel {

// Saves every base stream with its save options to `path`: the ANSI save on platform 0 or 1, the
// wide save otherwise. A failure is shown by the name of its error code. Returns 1 when the file
// was written, 0 when the save failed; either way every options record keeps its fccHandler.
int SaveBaseSet(WindowId engineWindow, const char* path);

// The text a failed save shows for `result` (not 0).
std::string SaveErrorText(AviResult result);

}  // namespace vantrel
