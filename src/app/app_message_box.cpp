#include "app_message_box.h"

#include <utility>

namespace vantrel {

AppMessageBox::AppMessageBox(MessageBoxPort& box, std::string applicationName)
    : m_box(box), m_applicationName(std::move(applicationName)) {}

void AppMessageBox::show(const std::string& text) {
    m_box.show(m_mainWindow, text, m_applicationName.c_str(), kMbOk | kMbIconWarning);
}

}  // namespace vantrel
