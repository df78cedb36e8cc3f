// An open-file dialog that answers from a script, filling the selection buffer the way the
// system does: one full path, or a folder followed by names, each zero-terminated, and an empty
// name after the last. Without a scripted answer it is cancelled. Every request is recorded.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "platform/open_file_dialog.h"

namespace vantrel {

class FakeOpenFileDialog : public OpenFileDialogPort {
public:
    struct Answer {
        bool confirmed = false;
        std::string content;  // what the dialog writes, zeros included
        std::uint16_t fileOffset = 0;
    };
    struct Request {
        OpenFileRequest fields;
        std::size_t bufferSize = 0;
        bool bufferStartsEmpty = false;
    };

    static Answer cancel() { return {}; }
    static Answer single(const std::string& path) {
        const std::size_t slash = path.find_last_of('\\');
        return {true, path + '\0',
                static_cast<std::uint16_t>(slash == std::string::npos ? 0 : slash + 1)};
    }
    static Answer multiple(const std::string& folder, const std::vector<std::string>& names) {
        Answer answer{true, folder + '\0', static_cast<std::uint16_t>(folder.size() + 1)};
        for (const std::string& name : names)
            answer.content += name + '\0';
        answer.content += '\0';
        return answer;
    }
    static Answer raw(std::string content, std::uint16_t fileOffset) {
        return {true, std::move(content), fileOffset};
    }

    void script(const Answer& answer) { m_answers.push_back(answer); }

    bool show(const OpenFileRequest& request, std::vector<char>& selection,
              std::uint16_t& fileOffset) override {
        m_requests.push_back({request, selection.size(), !selection.empty() && selection[0] == 0});
        if (m_answers.empty())
            return false;
        const Answer answer = m_answers.front();
        m_answers.pop_front();
        // The system refuses a selection that does not fit its buffer.
        if (!answer.confirmed || answer.content.size() > selection.size())
            return false;
        std::copy(answer.content.begin(), answer.content.end(), selection.begin());
        fileOffset = answer.fileOffset;
        return true;
    }

    const std::vector<Request>& requests() const { return m_requests; }

private:
    std::deque<Answer> m_answers;
    std::vector<Request> m_requests;
};

}  // namespace vantrel
