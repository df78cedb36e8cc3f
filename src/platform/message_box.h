// Message boxes, as the program's layers ask for them: an owner (or none), a text, a caption (or
// the system's default) and the platform's MB_* flags; the answer is the platform's ID* value.
#pragma once

#include <cstdint>
#include <string>

#include "window_id.h"

namespace vantrel {

// MB_* flags and ID* answers, with the platform's values.
constexpr std::uint32_t kMbOk = 0x0;
constexpr std::uint32_t kMbYesNo = 0x4;
constexpr std::uint32_t kMbIconError = 0x10;
constexpr std::uint32_t kMbIconQuestion = 0x20;
constexpr std::uint32_t kMbIconWarning = 0x30;  // also the exclamation mark
constexpr std::uint32_t kMbIconInformation = 0x40;
constexpr std::uint32_t kMbTaskModal = 0x2000;

constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

class MessageBoxPort {
public:
    virtual ~MessageBoxPort() = default;
    // `caption` nullptr means the system's default caption.
    virtual int show(WindowId owner, const std::string& text, const char* caption,
                     std::uint32_t flags) = 0;
};

}  // namespace vantrel
