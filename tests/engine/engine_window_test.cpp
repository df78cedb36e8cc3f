// The hidden engine window of the desktop program, under Windows (or Wine).
#include "engine_test_support.h"  // before <windows.h>: the AVI services declare OF_READ

#include "platform/win32/engine_window.h"

#include <gtest/gtest.h>

#include <string>

namespace vantrel::testing {
namespace {

TEST(EngineWindow, StartsHiddenAndTheDestroyMessageTearsTheEngineDown) {
    FakeMessageBox boxes;
    BuiltinStringTable strings;
    FakeSystem system;
    SetEnginePorts(EnginePorts{&boxes, &strings, &system});
    HINSTANCE instance = GetModuleHandleA(nullptr);
    HWND probe =
        CreateWindowExA(0, "STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr, instance, nullptr);
    if (probe == nullptr)
        GTEST_SKIP() << "no display to create windows on (run it under Xvfb)";
    DestroyWindow(probe);

    ASSERT_EQ(CreateEngineWindow(instance, SW_HIDE), 1);
    HWND window = reinterpret_cast<HWND>(GetWorkspace().engineWindow);
    ASSERT_TRUE(IsWindow(window));
    EXPECT_FALSE(IsWindowVisible(window));
    char title[64] = {};
    GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ(title, "AVIVANTREL");
    EXPECT_EQ(GetClassLongPtrA(window, GCW_ATOM), 130);
    EXPECT_EQ(GetClassLongPtrA(window, GCL_STYLE), 0x100B);
    EXPECT_TRUE(boxes.calls().empty());

    std::unique_ptr<avitest::TempFile> file =
        std::make_unique<avitest::TempFile>(BuildFile({Video(2), Audio(2)}));
    ASSERT_EQ(LoadBaseFile(kNoWindow, file->path().c_str()), 1);
    PAVIFILE held = nullptr;
    ASSERT_EQ(AVIMakeFileFromStreams(&held, 1, GetWorkspace().BaseSet.streams), AVIERR_OK);
    ASSERT_EQ(AVIPutFileOnClipboard(held), AVIERR_OK);
    AVIFileRelease(held);

    SendMessageA(window, WM_DESTROY, 0, 0);
    EXPECT_EQ(GetWorkspace().BaseSet.count, 0);
    PAVIFILE fetched = nullptr;
    EXPECT_NE(AVIGetFromClipboard(&fetched), AVIERR_OK);
    EXPECT_TRUE(IsWindow(window));  // sent directly: the window itself stays

    DestroyWindow(window);
    UnregisterClassA(MAKEINTATOM(130), instance);
    SetEnginePorts(EnginePorts{});
}

}  // namespace
}  // namespace vantrel::testing
