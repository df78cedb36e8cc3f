// The file list's commands on a real list-view control (Wine's, under Xvfb): the same examples the
// native tests run on the fake, here with the control's own selection states and focus.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

#include "fake_app_message_box.h"
#include "filelist/file_list_commands.h"
#include "list_command_cases.h"
#include "win32_list_view.h"

namespace vantrel {
namespace {

// Lets the window system's activation and focus messages arrive before a test looks at the focus.
void PumpMessages() {
    const DWORD end = GetTickCount() + 50;
    MSG message;
    while (GetTickCount() < end) {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(10);
    }
}

// A visible top-level window with a report-view list like the main dialog's (several rows
// selectable, no sorting, selection shown only with the focus) and a button to take the focus.
class ListWindow {
public:
    ListWindow() {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        m_frame = CreateWindowExA(0, "STATIC", "list view test", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  0, 0, 400, 300, nullptr, nullptr, nullptr, nullptr);
        m_list = CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
                                 WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT, 10, 10, 300, 200,
                                 m_frame, nullptr, nullptr, nullptr);
        m_button = CreateWindowExA(0, "BUTTON", "other", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 10,
                                   220, 80, 24, m_frame, nullptr, nullptr, nullptr);
        SetForegroundWindow(m_frame);
        PumpMessages();
    }
    ~ListWindow() { DestroyWindow(m_frame); }

    HWND list() const { return m_list; }
    HWND button() const { return m_button; }

private:
    HWND m_frame = nullptr;
    HWND m_list = nullptr;
    HWND m_button = nullptr;
};

TEST(Win32ListViewTest, MovesAndDeletesFollowTheControlsSelection) {
    ListWindow window;
    ASSERT_NE(window.list(), nullptr);
    Win32ListView listView(window.list());
    CheckListCommandCases(
        listView, [&] { SetFocus(window.button()); }, [&] { return GetFocus() == window.list(); });
}

TEST(Win32ListViewTest, InitSetsCompleteExtendedStyleAndOneColumn) {
    ListWindow window;
    SendMessageA(window.list(), LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_CHECKBOXES);
    Win32ListView listView(window.list());
    FileList list;
    FakeAppMessageBox appBox;
    SingleByteCodePage codePage;
    FileListCommands commands(list, listView, appBox, codePage);

    commands.InitFileListView();

    EXPECT_EQ(SendMessageA(window.list(), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0),
              LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    char heading[64] = {};
    LVCOLUMNA column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    column.pszText = heading;
    column.cchTextMax = sizeof heading;
    ASSERT_TRUE(SendMessageA(window.list(), LVM_GETCOLUMNA, 0, reinterpret_cast<LPARAM>(&column)));
    EXPECT_STREQ(heading, "AVI File Name");
    EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_CENTER);
    EXPECT_EQ(column.cx, 250);
    EXPECT_FALSE(SendMessageA(window.list(), LVM_GETCOLUMNA, 1, reinterpret_cast<LPARAM>(&column)));
    EXPECT_EQ(listView.rowCount(), 0);
}

}  // namespace
}  // namespace vantrel
