// The ordered list of input paths: entry 0 is the file the join starts from, the others are
// appended to it in list order. The same path may stand in the list more than once.
#pragma once

#include <string>
#include <vector>

#include "filelist/candidate_filter.h"

namespace vantrel {

constexpr int MAX_LIST_FILES = 1000;

class FileList : public ListCountSource {
public:
    FileList() { m_paths.reserve(MAX_LIST_FILES); }

    int count() const override { return static_cast<int>(m_paths.size()); }
    bool isFull() const { return count() >= MAX_LIST_FILES; }
    // Entry `index`, 0 <= index < count().
    const std::string& path(int index) const { return m_paths.at(static_cast<std::size_t>(index)); }

    // Appends `path`. Refuses (false) a full list and a path that is empty or longer than
    // kMaxPathLength, so that no entry is ever cut into another path.
    bool AppendListEntry(const std::string& path);
    // Removes entry `index`; later entries move up by one. Out of range: no change.
    void RemoveListEntry(int index);
    void SwapEntries(int first, int second);
    void clear() { m_paths.clear(); }

private:
    std::vector<std::string> m_paths;
};

}  // namespace vantrel
