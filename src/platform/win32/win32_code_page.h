// The system's ANSI code page through IsDBCSLeadByte.
#pragma once

#include <windows.h>

#include "platform/code_page.h"

namespace vantrel {

class Win32CodePage : public AnsiCodePage {
public:
    bool isLeadByte(unsigned char byte) const override { return IsDBCSLeadByte(byte) != 0; }
};

}  // namespace vantrel
