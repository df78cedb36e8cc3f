// The application's own message box: owned by the main window, captioned with the application
// name, an OK button and the exclamation-mark icon.
#pragma once

#include <string>

namespace vantrel {

class AppMessageBoxPort {
public:
    virtual ~AppMessageBoxPort() = default;
    virtual void show(const std::string& text) = 0;
};

}  // namespace vantrel
