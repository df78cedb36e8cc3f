#include "filelist/compat_rule.h"

#include <cstdio>

#include "filelist/probe.h"

namespace vantrel {

namespace {

constexpr const char* kDifferentStreamNumber =
    "%s has the different stream number with previous avi files. It can not be merged.";
constexpr const char* kDifferentFormat =
    "%s has the different format with previous avi files. It can not be merged.";

// The fields a join needs to agree on, in the order they are compared: the handler (codec) and
// the frame rectangle. Four-character codes compare as numbers, so letter case counts.
bool SameFormat(const AVISTREAMINFOA& candidate, const AVISTREAMINFOA& reference) {
    return candidate.fccHandler == reference.fccHandler &&
           candidate.rcFrame.left == reference.rcFrame.left &&
           candidate.rcFrame.top == reference.rcFrame.top &&
           candidate.rcFrame.right == reference.rcFrame.right &&
           candidate.rcFrame.bottom == reference.rcFrame.bottom;
}

}  // namespace

bool CompatibilityRule::IsCompatibleCandidate(const std::string& path) {
    WaitCursorScope wait(m_cursor);
    if (m_list.count() == 0)
        return ProbeAviFile(path.c_str(), ReferenceTable, m_boxes, m_owner);

    if (!ProbeAviFile(path.c_str(), CandidateTable, m_boxes, m_owner))
        return false;
    if (CandidateTable.count != ReferenceTable.count) {
        wait.release();
        warn(kDifferentStreamNumber, path);
        return false;
    }
    for (std::int32_t i = 0; i < CandidateTable.count; ++i) {
        if (!SameFormat(CandidateTable.headers[i], ReferenceTable.headers[i])) {
            wait.release();
            warn(kDifferentFormat, path);
            return false;
        }
    }
    return true;
}

void CompatibilityRule::warn(const char* format, const std::string& path) {
    char text[512];
    std::snprintf(text, sizeof text, format, path.c_str());
    m_boxes.show(m_owner, text, "Warning", kMbOk);
}

}  // namespace vantrel
