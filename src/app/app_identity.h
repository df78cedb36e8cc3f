// The identity values the program derives from its own file: the application name, which names
// its registry key and captions its application message boxes, and the help-file path.
#pragma once

#include <cstdint>
#include <string>

#include "platform/code_page.h"
#include "platform/string_table.h"

namespace vantrel {

// The string-table entry that, when present, overrides the application name.
constexpr std::uint32_t kAppNameStringId = 0xE000;

struct AppIdentity {
    std::string programFileName;  // file-name part of the program path, without its extension
    std::string applicationName;
    std::string helpFilePath;  // the program path with ".HLP" in place of its extension
};

AppIdentity DeriveAppIdentity(const std::string& programPath, StringTablePort& strings,
                              const AnsiCodePage& codePage);

}  // namespace vantrel
