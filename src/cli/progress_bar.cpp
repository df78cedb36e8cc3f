#include "progress_bar.h"

#include <string>

#include "save_progress.h"

#ifdef _WIN32
#include <io.h>
#define VANTREL_ISATTY _isatty
#define VANTREL_FILENO _fileno
#else
#include <unistd.h>
#define VANTREL_ISATTY isatty
#define VANTREL_FILENO fileno
#endif

namespace vantrel {

namespace {

std::string Megabytes(double bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
    return text;
}

}  // namespace

ProgressBar::ProgressBar(std::FILE* out, bool enabled)
    : m_out(out),
      m_enabled(enabled && VANTREL_ISATTY(VANTREL_FILENO(out)) != 0),
      m_started(Clock::now()) {}

ProgressBar::~ProgressBar() {
    finish();
}

void ProgressBar::update(std::uint64_t written, std::uint64_t total) {
    if (!m_enabled)
        return;
    const Clock::time_point now = Clock::now();
    const bool done = written >= total;
    if (m_drawn && !done && now - m_lastDraw < std::chrono::milliseconds(100))
        return;
    m_lastDraw = now;
    m_drawn = true;

    const double seconds = std::chrono::duration<double>(now - m_started).count();
    const double rate = seconds > 0 ? static_cast<double>(written) / seconds : 0;
    const double fraction =
        total > 0 ? static_cast<double>(written) / static_cast<double>(total) : 1;
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(fraction * kWidth);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(kWidth, '.');
    char left[32] = "--:--";
    if (rate > 0 && !done) {
        const long remaining = static_cast<long>(static_cast<double>(total - written) / rate);
        std::snprintf(left, sizeof left, "%02ld:%02ld", remaining / 60, remaining % 60);
    } else if (done) {
        std::snprintf(left, sizeof left, "00:00");
    }
    std::fprintf(m_out, "\r[%s] %3d%%  %s of %s  %s/s  %s left ", bar.c_str(),
                 static_cast<int>(fraction * 100), Megabytes(static_cast<double>(written)).c_str(),
                 Megabytes(static_cast<double>(total)).c_str(), Megabytes(rate).c_str(), left);
    std::fflush(m_out);
}

void ProgressBar::finish() {
    if (!m_drawn)
        return;
    std::fputs("\r\033[K", m_out);
    std::fflush(m_out);
    m_drawn = false;
}

SaveProgressScope::SaveProgressScope(ProgressBar& bar) {
    avi::SetSaveProgressObserver([&bar](std::uint64_t written, std::uint64_t total) {
        bar.update(written, total);
        return true;
    });
}

SaveProgressScope::~SaveProgressScope() {
    avi::SetSaveProgressObserver({});
}

}  // namespace vantrel
