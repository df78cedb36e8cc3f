// The application-wide wait cursor: a nesting count; the arrow comes back when it returns to 0.
#pragma once

namespace vantrel {

class WaitCursorPort {
public:
    virtual ~WaitCursorPort() = default;
    virtual void begin() = 0;
    virtual void end() = 0;
};

// Raises the wait cursor for the life of the object, so that every exit lowers it again.
class WaitCursorScope {
public:
    explicit WaitCursorScope(WaitCursorPort& cursor) : m_cursor(cursor) { m_cursor.begin(); }
    ~WaitCursorScope() { release(); }
    // Lowers the cursor early, e.g. before a warning box that must not show the hourglass.
    void release() {
        if (m_active)
            m_cursor.end();
        m_active = false;
    }
    WaitCursorScope(const WaitCursorScope&) = delete;
    WaitCursorScope& operator=(const WaitCursorScope&) = delete;

private:
    WaitCursorPort& m_cursor;
    bool m_active = true;
};

}  // namespace vantrel
