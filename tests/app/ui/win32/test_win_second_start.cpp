// A second start of Pendock.exe while a first copy runs: the second ends at once with exit code
// 0 and makes no window of its own, and the first copy's window is in front afterwards, whether
// it was minimised or covered by another program's window; when the first copy shows its close
// question, the question is in front.

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

// The program in the build tree, by the name Wine's drive Z: gives the Unix path.
const std::wstring Program = [] {
    std::wstring path = PENDOCK_EXE[0] == '/' ? L"Z:" : L"";
    for (const char* c = PENDOCK_EXE; *c; ++c)
        path += static_cast<wchar_t>(*c == '/' ? '\\' : *c);
    return path;
}();

// Polls `condition` until it holds, for at most `limit`.
template <typename Condition> bool WaitFor(Condition condition, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        Sleep(50);
    }
    return true;
}

// The first visible top-level window of process `pid` (of class `cls` when not null).
HWND WindowOf(DWORD pid, const wchar_t* cls) {
    struct TSearch {
        DWORD Pid;
        const wchar_t* Class;
        HWND Found;
    } search{pid, cls, nullptr};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            auto& s = *reinterpret_cast<TSearch*>(p);
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            wchar_t name[64] = L"";
            GetClassNameW(w, name, 64);
            if (owner == s.Pid && IsWindowVisible(w) &&
                (!s.Class || std::wstring(name) == s.Class)) {
                s.Found = w;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

// Starts Pendock.exe, suspended when asked.
PROCESS_INFORMATION Start(bool suspended) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring commandLine = L"\"" + Program + L"\"";
    if (!CreateProcessW(Program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        suspended ? CREATE_SUSPENDED : 0, nullptr, nullptr, &si, &pi))
        ADD_FAILURE() << "cannot start " << PENDOCK_EXE << " (error " << GetLastError() << ")";
    return pi;
}

void End(PROCESS_INFORMATION& pi) {
    if (pi.hProcess) {
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, 30000);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    pi = {};
}

// Wine draws windows on an X display; without one the program cannot make its window.
bool HaveDisplay() {
    return GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) > 0;
}

class WinSecondStart : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!HaveDisplay())
            return;
        First = Start(false);
        FirstWindow = nullptr;
        WaitFor([] { return (FirstWindow = WindowOf(First.dwProcessId, L"TPendockForm")); }, 60s);
    }
    static void TearDownTestSuite() { End(First); }

    void SetUp() override {
        if (!HaveDisplay())
            GTEST_SKIP() << "no display: these cases run in test_win_second_start_xvfb";
        ASSERT_NE(FirstWindow, nullptr) << "the first copy showed no window within 60 s";
        ASSERT_EQ(WaitForSingleObject(First.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT))
            << "the first copy has ended";
        // Another program's window, the one the user works in meanwhile.
        Cover = CreateWindowExW(0, L"STATIC", L"cover", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800,
                                600, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(Cover, nullptr);
    }
    void TearDown() override {
        if (Cover)
            DestroyWindow(Cover);
    }

    // Makes the cover window the foreground window.
    void CoverUp() {
        SetForegroundWindow(Cover);
        ASSERT_TRUE(WaitFor([&] { return Pumped() && GetForegroundWindow() == Cover; }, 20s))
            << "the cover window did not become the foreground";
    }

    // Dispatches the messages of the test's own window; true.
    static bool Pumped() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        return true;
    }

    // Runs a second copy to its end, which must come within 60 s, with exit code 0 and without
    // a window of its own shown meanwhile.
    static void RunSecondCopy() {
        PROCESS_INFORMATION second = Start(true);
        ASSERT_NE(second.hProcess, nullptr);
        std::atomic<bool> ended{false};
        std::atomic<bool> showedWindow{false};
        std::thread watcher([&] {
            while (!ended) {
                if (WindowOf(second.dwProcessId, nullptr))
                    showedWindow = true;
                Sleep(5);
            }
        });
        ResumeThread(second.hThread);
        const DWORD waited = WaitForSingleObject(second.hProcess, 60000);
        ended = true;
        watcher.join();
        DWORD exitCode = STILL_ACTIVE;
        GetExitCodeProcess(second.hProcess, &exitCode);
        if (waited != WAIT_OBJECT_0)
            TerminateProcess(second.hProcess, 1);
        CloseHandle(second.hProcess);
        CloseHandle(second.hThread);
        ASSERT_EQ(waited, static_cast<DWORD>(WAIT_OBJECT_0)) << "the second copy ran for 60 s";
        EXPECT_EQ(exitCode, 0u);
        EXPECT_FALSE(showedWindow) << "the second copy showed a window";
    }

    // The first copy's window is shown, not minimised, and the foreground window.
    static bool FirstInFront() {
        return Pumped() && GetForegroundWindow() == FirstWindow && !IsIconic(FirstWindow) &&
               IsWindowVisible(FirstWindow);
    }

    HWND Cover = nullptr;
    static PROCESS_INFORMATION First;
    static HWND FirstWindow;
};

PROCESS_INFORMATION WinSecondStart::First{};
HWND WinSecondStart::FirstWindow = nullptr;

TEST_F(WinSecondStart, RestoresAMinimisedFirstCopy) {
    ShowWindow(FirstWindow, SW_MINIMIZE);
    ASSERT_TRUE(WaitFor([] { return IsIconic(FirstWindow) != FALSE; }, 20s));
    CoverUp();

    RunSecondCopy();
    EXPECT_TRUE(WaitFor(FirstInFront, 20s))
        << "minimised " << IsIconic(FirstWindow) << ", foreground " << GetForegroundWindow()
        << ", the first copy's window " << FirstWindow;
}

TEST_F(WinSecondStart, BringsACoveredFirstCopyToTheFront) {
    CoverUp();

    RunSecondCopy();
    EXPECT_TRUE(WaitFor(FirstInFront, 20s))
        << "foreground " << GetForegroundWindow() << ", the first copy's window " << FirstWindow;
}

TEST_F(WinSecondStart, BringsTheFirstCopysQuestionToTheFront) {
    PostMessageW(FirstWindow, WM_CLOSE, 0, 0);
    HWND question = nullptr;
    ASSERT_TRUE(
        WaitFor([&] { return (question = WindowOf(First.dwProcessId, L"TPendockDialog")); }, 20s))
        << "closing the first copy's window asked no question";
    CoverUp();

    RunSecondCopy();
    EXPECT_TRUE(WaitFor([&] { return Pumped() && GetForegroundWindow() == question; }, 20s))
        << "foreground " << GetForegroundWindow() << ", the question " << question;
    // No: the first copy goes on.
    PostMessageW(GetDlgItem(question, IDNO), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(question); }, 20s));
}

} // namespace
