// Opening an input for the commands, with the reason for a failure in words.
#pragma once

#include <string>

#include "stream_data.h"

namespace vantrel {

// Reads headers and index of `path`. On failure `problem` says why, e.g. "not an AVI file".
bool ReadInput(const std::string& path, avi::AviContents* contents, std::string* problem);

// "vantrel: PATH: PROBLEM" on stderr.
void ReportBadInput(const std::string& path, const std::string& problem);

}  // namespace vantrel
