// The system port of the vantrel tool. Paths arrive as UTF-8 on POSIX systems, so the join takes
// the wide save there (platform 2), converting UTF-8 to UTF-16. On Windows the tool's arguments
// are in the ANSI code page, which the ANSI save (platform 1) takes as they are.
#pragma once

#include "engine/engine_ports.h"

namespace vantrel {

class Utf8SystemPort final : public SystemPort {
public:
    int platformId() override;
    bool ansiToWide(const char* ansi, char16_t* wide, std::size_t capacity) override;
    void errorBeep() override {}
};

// UTF-8 to UTF-16 with the terminator; false on malformed input (bad bytes, overlong forms,
// surrogates, values past U+10FFFF) or when `capacity` is too small. `wide` is written only on
// success.
bool Utf8ToUtf16(const char* utf8, char16_t* wide, std::size_t capacity);

}  // namespace vantrel
