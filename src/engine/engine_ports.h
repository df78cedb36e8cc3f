// The ports through which the engine reaches the user and the system: message boxes, the string
// table, and the few system services a join needs. The front end installs them before the engine
// starts; the desktop program gives it Win32 adapters, vantrel its console ones, tests fakes.
#pragma once

#include <cstddef>

#include "platform/message_box.h"
#include "platform/string_table.h"

namespace vantrel {

class SystemPort {
public:
    virtual ~SystemPort() = default;
    // dwPlatformId of the system version record: 0 Win32s, 1 Windows 9x, 2 NT. 0 when unknown.
    virtual int platformId() = 0;
    // Converts a zero-terminated path in the ANSI code page, terminator included, into `wide`
    // (room for `capacity` units). False, with `wide` untouched, when it does not convert or fit.
    virtual bool ansiToWide(const char* ansi, char16_t* wide, std::size_t capacity) = 0;
    // The error beep that goes with an error box.
    virtual void errorBeep() = 0;
};

struct EnginePorts {
    MessageBoxPort* messageBox = nullptr;
    StringTablePort* strings = nullptr;
    SystemPort* system = nullptr;
};

// Installs the ports for the engine routines that follow; null ports silence boxes and texts.
void SetEnginePorts(const EnginePorts& ports);
const EnginePorts& GetEnginePorts();

}  // namespace vantrel
