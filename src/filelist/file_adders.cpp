#include "file_adders.h"

#include <cstring>

#include "filelist/path_text.h"

namespace vantrel {

std::vector<std::string> SelectedPaths(const std::vector<char>& selection,
                                       std::uint16_t fileOffset) {
    std::vector<std::string> paths;
    const char* const begin = selection.data();
    const std::size_t size = selection.size();
    // The length of the text at `at`, or what is left of the buffer when it has no terminator.
    const auto textLength = [&](std::size_t at) {
        const void* zero = std::memchr(begin + at, 0, size - at);
        return zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - (begin + at))
                    : size - at;
    };
    const std::size_t first = textLength(0);
    if (first == 0 || first == size)
        return paths;
    if (first + 1 != fileOffset) {
        paths.emplace_back(begin, first);
        return paths;
    }
    // Several files: a folder, then one name after another, up to an empty name.
    const std::string folder(begin, first);
    // A drive root such as D:\ already ends in its backslash.
    const char* const separator = folder.size() == 3 ? "" : "\\";
    for (std::size_t at = fileOffset; at < size;) {
        const std::size_t length = textLength(at);
        if (length == 0 || at + length == size)
            break;  // the end, or a name without terminator
        paths.push_back(folder + separator + std::string(begin + at, length));
        at += length + 1;
    }
    return paths;
}

FileAdders::FileAdders(FileList& list, FileListCommands& commands, const Ports& ports)
    : m_list(list), m_commands(commands), m_ports(ports) {}

bool FileAdders::AddCandidate(const std::string& path) {
    if (m_list.isFull()) {
        m_ports.appBox.show(kListFullText);
        return false;
    }
    if (path.size() > kMaxPathLength) {
        const std::string format = kPathTooLongFormat;
        const std::size_t at = format.find("%s");
        m_ports.appBox.show(format.substr(0, at) + path + format.substr(at + 2));
        return true;
    }
    if (m_ports.filter.IsCompatibleCandidate(path))
        m_list.AppendListEntry(path);
    return true;
}

void FileAdders::OnAddAvi() {
    std::vector<char> selection(kSelectionBufferSize, '\0');
    OpenFileRequest request;
    request.owner = m_mainWindow;
    request.filter = std::string("AVI Files (*.avi)\0*.avi\0", 24);
    request.filterIndex = 1;
    // A stored folder too long for the dialog's buffer is not cut into another folder; the dialog
    // then starts where it chooses.
    request.initialDir = m_ports.settings.ReadSettingString(kOptionSection, kLastFolderKey, "");
    if (request.initialDir.size() > kMaxPathLength)
        request.initialDir.clear();
    request.title = "Select AVI Files...";
    request.flags =
        kOfnExplorer | kOfnFileMustExist | kOfnPathMustExist | kOfnAllowMultiSelect | kOfnReadOnly;

    std::uint16_t fileOffset = 0;
    if (!m_ports.openDialog.show(request, selection, fileOffset))
        return;

    for (const std::string& path : SelectedPaths(selection, fileOffset)) {
        if (!AddCandidate(path))
            break;
    }
    m_commands.RefreshFileList();
    // With no entry there is no folder to remember; the setting keeps what it had.
    if (m_list.count() > 0) {
        m_ports.settings.WriteSettingString(
            kOptionSection, kLastFolderKey,
            DirectoryOf(m_list.path(m_list.count() - 1), m_ports.codePage));
    }
}

void FileAdders::OnDropFiles(DroppedNamesPort& drop) {
    std::vector<std::string> names;
    const std::uint32_t count = drop.count();
    for (std::uint32_t i = 0; i < count; ++i)
        names.push_back(drop.name(i));
    drop.release();

    for (const std::string& name : names) {
        const std::uint32_t attributes = m_ports.attributes.attributesOf(name);
        if (attributes == kInvalidFileAttributes ||
            (attributes & (kFileAttributeDirectory | kFileAttributeArchive)) == 0) {
            continue;
        }
        if (!HasAviInName(name, m_ports.codePage))
            continue;
        if (!AddCandidate(name))
            break;
    }
    m_commands.RefreshFileList();
}

}  // namespace vantrel
