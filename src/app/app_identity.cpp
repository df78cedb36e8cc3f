#include "app_identity.h"

#include <cstddef>

namespace vantrel {
namespace {

// Where the extension starts: the last "." that no later "\" or blank follows, else the end.
std::size_t ExtensionStart(const std::string& path, const AnsiCodePage& codePage) {
    std::size_t dot = std::string::npos;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char c = path[i];
        if (c == '\\' || c == ' ') {
            dot = std::string::npos;
        } else if (c == '.') {
            dot = i;
        } else if (codePage.isLeadByte(static_cast<unsigned char>(c)) && i + 1 < path.size()) {
            ++i;
        }
    }
    return dot == std::string::npos ? path.size() : dot;
}

// Where the file-name part starts: after the last "\", "/" or ":" that is followed by more than
// another separator.
std::size_t FileNameStart(const std::string& path, const AnsiCodePage& codePage) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char c = path[i];
        if (c == '\\' || c == '/' || c == ':') {
            if (i + 1 < path.size() && path[i + 1] != '\\' && path[i + 1] != '/')
                start = i + 1;
        } else if (codePage.isLeadByte(static_cast<unsigned char>(c)) && i + 1 < path.size()) {
            ++i;
        }
    }
    return start;
}

}  // namespace

AppIdentity DeriveAppIdentity(const std::string& programPath, StringTablePort& strings,
                              const AnsiCodePage& codePage) {
    const std::string stem = programPath.substr(0, ExtensionStart(programPath, codePage));
    AppIdentity identity;
    identity.programFileName = stem.substr(FileNameStart(stem, codePage));
    identity.applicationName = strings.load(kAppNameStringId);
    if (identity.applicationName.empty())
        identity.applicationName = identity.programFileName;
    identity.helpFilePath = stem + ".HLP";
    return identity;
}

}  // namespace vantrel
