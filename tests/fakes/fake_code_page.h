// A double-byte ANSI code page with the lead bytes of Japanese Shift-JIS (0x81-0x9F, 0xE0-0xFC),
// whose second bytes include the values of "\" (0x5C) and of letters.
#pragma once

#include "platform/code_page.h"

namespace vantrel {

class ShiftJisCodePage : public AnsiCodePage {
public:
    bool isLeadByte(unsigned char byte) const override {
        return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    }
};

}  // namespace vantrel
