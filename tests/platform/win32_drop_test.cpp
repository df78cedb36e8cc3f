// A drop through the real drop handle and file attributes: the names come whole from the handle,
// and the attribute test sees the files as the file system has them.
#include <windows.h>

#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "fake_app_message_box.h"
#include "fake_candidate_filter.h"
#include "fake_list_view.h"
#include "fake_open_file_dialog.h"
#include "fake_registry.h"
#include "filelist/file_adders.h"
#include "win32_code_page.h"
#include "win32_dropped_names.h"
#include "win32_file_attributes.h"

namespace vantrel {
namespace {

// A drop handle as the shell makes one: a DROPFILES header and the ANSI names, each
// zero-terminated, with an empty name after the last.
HDROP MakeDrop(const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names)
        list += name + '\0';
    list += '\0';
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + list.size());
    auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = FALSE;
    std::memcpy(reinterpret_cast<char*>(header) + sizeof(DROPFILES), list.data(), list.size());
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

class TempFolder {
public:
    TempFolder() {
        char base[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, base);
        m_path = std::string(base) + "vantrel_drop_" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(m_path.c_str(), nullptr);
    }
    ~TempFolder() {
        for (const std::string& file : m_files) {
            SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(file.c_str());
        }
        for (auto it = m_folders.rbegin(); it != m_folders.rend(); ++it) {
            RemoveDirectoryA(it->c_str());
        }
        RemoveDirectoryA(m_path.c_str());
    }
    std::string file(const std::string& name, DWORD attributes) {
        const std::string path = m_path + "\\" + name;
        HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        CloseHandle(handle);
        SetFileAttributesA(path.c_str(), attributes);
        m_files.push_back(path);
        return path;
    }
    std::string folder(const std::string& name) {
        const std::string path = m_path + "\\" + name;
        CreateDirectoryA(path.c_str(), nullptr);
        m_folders.push_back(path);
        return path;
    }

private:
    std::string m_path;
    std::vector<std::string> m_files;
    std::vector<std::string> m_folders;
};

TEST(Win32DropTest, LongNamesComeWholeFromTheDropHandle) {
    const std::string longName = "C:\\" + std::string(300, 'n') + ".avi";
    Win32DroppedNames drop(MakeDrop({"C:\\a.avi", longName}));
    ASSERT_EQ(drop.count(), 2u);
    EXPECT_EQ(drop.name(0), "C:\\a.avi");
    EXPECT_EQ(drop.name(1), longName);
    drop.release();
    EXPECT_EQ(drop.count(), 0u);  // given back: nothing is read from a freed handle
}

// A cleared archive bit is left to the native tests: Wine reports every plain file as archived.
TEST(Win32DropTest, AttributeAndNameTestsOnRealFiles) {
    TempFolder temp;
    const std::string archived = temp.file("CLIP.AVI", FILE_ATTRIBUTE_ARCHIVE);
    const std::string folder = temp.folder("holiday.avi");
    const std::string other = temp.file("clip.mpg", FILE_ATTRIBUTE_ARCHIVE);
    const std::string missing = archived + ".missing.avi";

    FileList list;
    FakeListView listView;
    FakeAppMessageBox appBox;
    Win32CodePage codePage;
    FileListCommands commands(list, listView, appBox, codePage);
    FakeRegistry registry;
    SettingsStore settings(registry, "AVIVantrel");
    FakeCandidateFilter filter;
    FakeOpenFileDialog openDialog;
    Win32FileAttributes attributes;
    FileAdders adders(list, commands, {filter, settings, openDialog, attributes, appBox, codePage});

    Win32DroppedNames drop(MakeDrop({archived, folder, other, missing}));
    adders.OnDropFiles(drop);

    EXPECT_EQ(filter.asked(), (std::vector<std::string>{archived, folder}));
    EXPECT_EQ(listView.texts(), (std::vector<std::string>{"CLIP.AVI", "holiday.avi"}));
    EXPECT_EQ(drop.count(), 0u);  // the handle was given back
}

}  // namespace
}  // namespace vantrel
