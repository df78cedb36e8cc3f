// Path texts of the file list: the row text of a path, the folder of a path, and the name test
// for dropped files. All of them work on ANSI bytes and never split a double-byte character.
#pragma once

#include <cstddef>
#include <string>

#include "platform/code_page.h"

namespace vantrel {

// The longest path the list holds; one more byte is its terminator in the system's buffers.
constexpr std::size_t kMaxPathLength = 259;

// The file name with its extension: `path` less its drive ("X:") and its directory (up to the
// last "\" or "/"). Returns false and leaves `text` alone when `path` is empty.
bool FileTitleOf(const std::string& path, std::string& text, const AnsiCodePage& codePage);

// `path` up to and including its last backslash, or the empty text. A "/" does not count.
std::string DirectoryOf(const std::string& path, const AnsiCodePage& codePage);

// True when `path`, with A to Z lower-cased, contains ".avi" anywhere.
bool HasAviInName(const std::string& path, const AnsiCodePage& codePage);

}  // namespace vantrel
