// Message boxes through MessageBoxA.
#pragma once

#include "platform/message_box.h"

namespace vantrel {

class Win32MessageBox : public MessageBoxPort {
public:
    int show(WindowId owner, const std::string& text, const char* caption,
             std::uint32_t flags) override;
};

}  // namespace vantrel
