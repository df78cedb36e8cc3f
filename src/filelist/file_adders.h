// The two ways files reach the list: the "Add AVI" open-file dialog and files dropped from the
// shell. Every path is put to the candidate filter and appended when admitted, in the order the
// dialog or the shell delivers the names; the rows are rebuilt once per batch.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "filelist/candidate_filter.h"
#include "filelist/file_list.h"
#include "filelist/file_list_commands.h"
#include "platform/app_message_box.h"
#include "platform/code_page.h"
#include "platform/dropped_names.h"
#include "platform/file_attributes.h"
#include "platform/open_file_dialog.h"
#include "platform/window_id.h"

namespace vantrel {

// The selection buffer holds as much as the list's slots.
constexpr std::uint32_t kSelectionBufferSize = MAX_LIST_FILES * 260;
constexpr const char* kOptionSection = "Option";
constexpr const char* kLastFolderKey = "LastFolder";
constexpr const char* kListFullText = "The list is full. No more than 1000 files can be merged.";
constexpr const char* kPathTooLongFormat = "%s is too long a path. It can not be merged.";

// The paths a confirmed open-file dialog returned in `selection`: one full path, or a folder and
// several names joined into paths, in the dialog's order. Joined paths are not cut to any length.
std::vector<std::string> SelectedPaths(const std::vector<char>& selection,
                                       std::uint16_t fileOffset);

class FileAdders {
public:
    struct Ports {
        CandidateFilter& filter;
        SettingsStore& settings;
        OpenFileDialogPort& openDialog;
        FileAttributesPort& attributes;
        AppMessageBoxPort& appBox;
        const AnsiCodePage& codePage;
    };

    FileAdders(FileList& list, FileListCommands& commands, const Ports& ports);
    void setMainWindow(WindowId window) { m_mainWindow = window; }

    void OnAddAvi();
    // Reads every name, gives the drop back, then tests and appends the names.
    void OnDropFiles(DroppedNamesPort& drop);

private:
    // The per-batch part both adders share: the full-list and length checks, the filter and the
    // append. Returns false once the list is full, which ends the batch.
    bool AddCandidate(const std::string& path);

    FileList& m_list;
    FileListCommands& m_commands;
    Ports m_ports;
    WindowId m_mainWindow = kNoWindow;
};

}  // namespace vantrel
