// A wait cursor that only counts: the nesting depth and every begin and end.
#pragma once

#include "platform/wait_cursor.h"

namespace vantrel {

class FakeWaitCursor : public WaitCursorPort {
public:
    void begin() override {
        ++m_begins;
        ++m_depth;
        if (m_depth > m_maxDepth)
            m_maxDepth = m_depth;
    }
    void end() override {
        ++m_ends;
        --m_depth;  // may go negative, so that an unbalanced end shows in a test
    }

    int depth() const { return m_depth; }
    int maxDepth() const { return m_maxDepth; }
    int begins() const { return m_begins; }
    int ends() const { return m_ends; }

private:
    int m_depth = 0;
    int m_maxDepth = 0;
    int m_begins = 0;
    int m_ends = 0;
};

}  // namespace vantrel
