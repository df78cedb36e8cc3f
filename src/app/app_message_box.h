// The application message box over the plain message box: owner the main window, caption the
// application name, OK with the exclamation mark.
#pragma once

#include <string>

#include "platform/app_message_box.h"
#include "platform/message_box.h"

namespace vantrel {

class AppMessageBox : public AppMessageBoxPort {
public:
    AppMessageBox(MessageBoxPort& box, std::string applicationName);
    // The main window exists only once the dialog does; until then the box has no owner.
    void setMainWindow(WindowId window) { m_mainWindow = window; }
    void show(const std::string& text) override;

private:
    MessageBoxPort& m_box;
    std::string m_applicationName;
    WindowId m_mainWindow = kNoWindow;
};

}  // namespace vantrel
