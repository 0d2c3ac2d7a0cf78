// The program's run when its window cannot be created: it ends by itself, with exit code 0,
// and gives the instance slot back.

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>

#include "MaxInstance.h"
#include "main_windows.h"
#include "mod_FirstInstance.h"

namespace {

std::atomic<int> Refusals{0};

// Registered first under the window's class name, its windows refuse to be made: the program's
// own class registration then fails and so does the creation of its window.
LRESULT CALLBACK RefusingWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        ++Refusals;
        return FALSE;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

TEST(WinEntry, WithoutItsWindowTheProgramEndsAndGivesTheSlotBack) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = RefusingWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TPendockForm";
    ASSERT_NE(RegisterClassExW(&wc), 0);

    // Should the run wait for messages that never come, the quit message ends the test's wait.
    const DWORD mainThread = GetCurrentThreadId();
    std::atomic<bool> returned{false};
    std::atomic<bool> rescued{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 150 && !returned; ++i)
            Sleep(100);
        if (!returned) {
            rescued = true;
            PostThreadMessageW(mainThread, WM_QUIT, 0, 0);
        }
    });
    const int exitCode = RunPendock(SW_SHOWNORMAL);
    returned = true;
    watchdog.join();

    EXPECT_GE(Refusals.load(), 1) << "the run got as far as making its window";
    EXPECT_FALSE(rescued) << "the run kept waiting without a window";
    EXPECT_EQ(exitCode, 0);
    TMaxInstance* next = nullptr;
    EXPECT_TRUE(FirstInstance("{888D4D22-EDB2-4D13-A098-88CF11E0EECB}", next));
    FreeFirstInstance(next);
}

} // namespace
