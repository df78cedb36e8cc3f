// The system's ANSI code page, as far as path splitting needs it: in a double-byte code page the
// second byte of a character may have the value of "\" or "/" and must not be taken for one.
#pragma once

namespace vantrel {

class AnsiCodePage {
public:
    virtual ~AnsiCodePage() = default;
    virtual bool isLeadByte(unsigned char byte) const = 0;
};

// A code page of single-byte characters only.
class SingleByteCodePage : public AnsiCodePage {
public:
    bool isLeadByte(unsigned char) const override { return false; }
};

}  // namespace vantrel
