// A one-line progress display for saves on a terminal: bytes written, rate and time left.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace vantrel {

class ProgressBar {
public:
    // Draws on `out` only when it is a terminal and `enabled` is true.
    ProgressBar(std::FILE* out, bool enabled);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // Reports progress; redraws at most ten times a second, and always at the end.
    void update(std::uint64_t written, std::uint64_t total);
    // Clears the line, e.g. before a message is printed.
    void finish();

private:
    using Clock = std::chrono::steady_clock;
    std::FILE* m_out;
    bool m_enabled;
    bool m_drawn = false;
    Clock::time_point m_started;
    Clock::time_point m_lastDraw;
};

// Installs a progress bar as the observer of the saves made while it lives.
class SaveProgressScope {
public:
    explicit SaveProgressScope(ProgressBar& bar);
    ~SaveProgressScope();
    SaveProgressScope(const SaveProgressScope&) = delete;
    SaveProgressScope& operator=(const SaveProgressScope&) = delete;
};

}  // namespace vantrel
