// A message box that records every call and answers from a script (kIdOk once the script is used
// up). When it watches a wait cursor, each call also records the cursor's depth at that moment, so
// a test can tell a box shown under the hourglass from one shown after it.
#pragma once

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fake_wait_cursor.h"
#include "platform/message_box.h"

namespace vantrel {

class FakeMessageBox : public MessageBoxPort {
public:
    struct Call {
        WindowId owner = kNoWindow;
        std::string text;
        std::optional<std::string> caption;  // nullopt: the system's default caption
        std::uint32_t flags = 0;
        int cursorDepth = 0;  // 0 unless a cursor is watched
    };

    int show(WindowId owner, const std::string& text, const char* caption,
             std::uint32_t flags) override {
        Call call{owner, text, std::nullopt, flags, m_cursor ? m_cursor->depth() : 0};
        if (caption)
            call.caption = caption;
        m_calls.push_back(std::move(call));
        if (m_answers.empty())
            return kIdOk;
        int answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }

    // Answers for the next calls, in order.
    void script(std::initializer_list<int> answers) {
        m_answers.insert(m_answers.end(), answers.begin(), answers.end());
    }
    void watchCursor(const FakeWaitCursor* cursor) { m_cursor = cursor; }

    const std::vector<Call>& calls() const { return m_calls; }
    std::vector<std::string> texts() const {
        std::vector<std::string> result;
        for (const Call& call : m_calls)
            result.push_back(call.text);
        return result;
    }
    void clear() { m_calls.clear(); }

private:
    std::vector<Call> m_calls;
    std::deque<int> m_answers;
    const FakeWaitCursor* m_cursor = nullptr;
};

}  // namespace vantrel
