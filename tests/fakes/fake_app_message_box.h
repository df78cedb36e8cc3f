// The application message box, recorded.
#pragma once

#include <string>
#include <vector>

#include "platform/app_message_box.h"

namespace vantrel {

class FakeAppMessageBox : public AppMessageBoxPort {
public:
    void show(const std::string& text) override { m_texts.push_back(text); }
    const std::vector<std::string>& texts() const { return m_texts; }
    void clear() { m_texts.clear(); }

private:
    std::vector<std::string> m_texts;
};

}  // namespace vantrel
