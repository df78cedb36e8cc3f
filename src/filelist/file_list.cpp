#include "file_list.h"

#include <utility>

#include "filelist/path_text.h"

namespace vantrel {

bool FileList::AppendListEntry(const std::string& path) {
    if (isFull() || path.empty() || path.size() > kMaxPathLength)
        return false;
    m_paths.push_back(path);
    return true;
}

void FileList::RemoveListEntry(int index) {
    if (index < 0 || index >= count())
        return;
    m_paths.erase(m_paths.begin() + index);
}

void FileList::SwapEntries(int first, int second) {
    std::swap(m_paths.at(static_cast<std::size_t>(first)),
              m_paths.at(static_cast<std::size_t>(second)));
}

}  // namespace vantrel
