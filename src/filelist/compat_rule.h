// The compatibility rule: a file joins the list only when its streams agree with those of the
// file that was admitted into the empty list.
#pragma once

#include <string>

#include "filelist/candidate_filter.h"
#include "platform/message_box.h"
#include "platform/wait_cursor.h"
#include "platform/window_id.h"

namespace vantrel {

class CompatibilityRule final : public CandidateFilter {
public:
    // `owner` owns the rule's warnings (the main dialog); the probe's error boxes have none.
    CompatibilityRule(const ListCountSource& list, MessageBoxPort& boxes, WaitCursorPort& cursor,
                      WindowId owner)
        : m_list(list), m_boxes(boxes), m_cursor(cursor), m_owner(owner) {}

    // While the list is empty the candidate becomes the reference when it can be probed. Later
    // it must have as many streams as the reference and, stream by stream, the same handler and
    // frame rectangle. A refused file has had its box.
    bool IsCompatibleCandidate(const std::string& path) override;

private:
    void warn(const char* format, const std::string& path);

    const ListCountSource& m_list;
    MessageBoxPort& m_boxes;
    WaitCursorPort& m_cursor;
    WindowId m_owner;
};

}  // namespace vantrel
