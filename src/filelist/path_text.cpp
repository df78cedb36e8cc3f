#include "path_text.h"

namespace vantrel {
namespace {

// The index after the last byte of `path` that is one of `separators` and not the second byte
// of a double-byte character, or `from` when there is none.
std::size_t AfterLastSeparator(const std::string& path, std::size_t from, const char* separators,
                               const AnsiCodePage& codePage) {
    std::size_t after = from;
    for (std::size_t i = from; i < path.size(); ++i) {
        const char c = path[i];
        if (codePage.isLeadByte(static_cast<unsigned char>(c))) {
            ++i;  // the trail byte is part of this character, whatever its value
        } else if (c == separators[0] || (separators[1] != '\0' && c == separators[1])) {
            after = i + 1;
        }
    }
    return after;
}

}  // namespace

bool FileTitleOf(const std::string& path, std::string& text, const AnsiCodePage& codePage) {
    if (path.empty())
        return false;
    const std::size_t driveEnd = path.size() >= 2 && path[1] == ':' ? 2 : 0;
    text = path.substr(AfterLastSeparator(path, driveEnd, "\\/", codePage));
    return true;
}

std::string DirectoryOf(const std::string& path, const AnsiCodePage& codePage) {
    return path.substr(0, AfterLastSeparator(path, 0, "\\", codePage));
}

bool HasAviInName(const std::string& path, const AnsiCodePage& codePage) {
    std::string lower = path;
    for (std::size_t i = 0; i < lower.size(); ++i) {
        const char c = lower[i];
        if (codePage.isLeadByte(static_cast<unsigned char>(c))) {
            ++i;
        } else if (c >= 'A' && c <= 'Z') {
            lower[i] = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower.find(".avi") != std::string::npos;
}

}  // namespace vantrel
