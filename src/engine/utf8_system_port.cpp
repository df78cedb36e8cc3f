#include "engine/utf8_system_port.h"

#include <cstdint>
#include <string>

namespace vantrel {

int Utf8SystemPort::platformId() {
#ifdef _WIN32
    return 1;
#else
    return 2;
#endif
}

bool Utf8SystemPort::ansiToWide(const char* ansi, char16_t* wide, std::size_t capacity) {
    return Utf8ToUtf16(ansi, wide, capacity);
}

bool Utf8ToUtf16(const char* utf8, char16_t* wide, std::size_t capacity) {
    if (utf8 == nullptr || wide == nullptr)
        return false;
    std::u16string out;
    const auto* p = reinterpret_cast<const unsigned char*>(utf8);
    while (*p != 0) {
        const unsigned char lead = *p;
        std::uint32_t code;
        int extra;
        if (lead < 0x80) {
            code = lead;
            extra = 0;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            code = lead & 0x1Fu;
            extra = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            code = lead & 0x0Fu;
            extra = 2;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            code = lead & 0x07u;
            extra = 3;
        } else {
            return false;
        }
        ++p;
        for (int k = 0; k < extra; ++k, ++p) {
            if ((*p & 0xC0u) != 0x80u)  // also stops at the terminator
                return false;
            code = code << 6 | (*p & 0x3Fu);
        }
        const bool overlong = (extra == 2 && code < 0x800) || (extra == 3 && code < 0x10000);
        if (overlong || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FFu)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
    }
    if (out.size() + 1 > capacity)
        return false;
    out.copy(wide, out.size());
    wide[out.size()] = u'\0';
    return true;
}

}  // namespace vantrel
