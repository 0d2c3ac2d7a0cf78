// The named semaphores of the Windows layer, in one process and across processes of the same
// machine (helper programs that hold the guard's slot).

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "MaxInstance.h"
#include "mod_FirstInstance.h"
#include "platform/semaphore.h"
#include "platform/windows/wide_text.h"

namespace {

// A name no other test run uses.
std::string UniqueName(const char* what) {
    static std::atomic<int> counter{0};
    return std::string("{pendock-test-") + what + "-" + std::to_string(::GetCurrentProcessId()) +
           "-" + std::to_string(++counter) + "}";
}

// Closes a handle of the layer at the end of a scope.
struct Closer {
    platform::SemHandle h;
    ~Closer() {
        if (h != 0)
            platform::CloseHandle(h);
    }
};

class WinSemaphore : public ::testing::Test {};

TEST_F(WinSemaphore, CreatesThenOpensTheSameObject) {
    const std::string name = UniqueName("open");
    platform::SetLastError(12345);
    const auto first = platform::CreateSemaphoreW(nullptr, 2, 2, name);
    ASSERT_NE(first, 0u);
    Closer c1{first};
    EXPECT_EQ(platform::GetLastError(), 0u);

    // The second open keeps the first one's counts: two units are free, not zero.
    const auto second = platform::CreateSemaphoreW(nullptr, 0, 1, name);
    ASSERT_NE(second, 0u);
    Closer c2{second};
    EXPECT_NE(second, first);
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(platform::WaitForSingleObject(second, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(platform::WaitForSingleObject(first, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(platform::WaitForSingleObject(first, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(platform::WaitForSingleObject(second, 30), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(WinSemaphore, CountsUnitsAndRefusesPostsAboveTheMaximum) {
    const auto h = platform::CreateSemaphoreW(nullptr, 1, 2, UniqueName("count"));
    ASSERT_NE(h, 0u);
    Closer c{h};
    EXPECT_EQ(platform::WaitForSingleObject(h, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(platform::WaitForSingleObject(h, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    LONG previous = -1;
    ASSERT_TRUE(platform::ReleaseSemaphore(h, 2, &previous));
    EXPECT_EQ(previous, 0);
    previous = -1;
    EXPECT_FALSE(platform::ReleaseSemaphore(h, 1, &previous));
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_TOO_MANY_POSTS));
    EXPECT_FALSE(platform::ReleaseSemaphore(h, 0, nullptr));
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    EXPECT_EQ(platform::WaitForSingleObject(h, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(platform::WaitForSingleObject(h, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(platform::WaitForSingleObject(h, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(WinSemaphore, HandlesThatAreNotOpenAreRefused) {
    const auto h = platform::CreateSemaphoreW(nullptr, 1, 1, UniqueName("closed"));
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(platform::CloseHandle(h));

    for (const platform::SemHandle bad :
         {platform::SemHandle(0), h, platform::SemHandle(0xFFFFF0u)}) {
        SCOPED_TRACE(bad);
        platform::SetLastError(0);
        EXPECT_EQ(platform::WaitForSingleObject(bad, 0), static_cast<DWORD>(WAIT_FAILED));
        EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        platform::SetLastError(0);
        EXPECT_FALSE(platform::ReleaseSemaphore(bad, 1, nullptr));
        EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        platform::SetLastError(0);
        EXPECT_FALSE(platform::CloseHandle(bad));
        EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
}

TEST_F(WinSemaphore, BadArgumentsAndNames) {
    const std::string name = UniqueName("args");
    int dummy = 0;
    struct Case {
        const void* attributes;
        LONG initial, maximum;
    };
    for (const Case& k :
         {Case{&dummy, 1, 1}, Case{nullptr, 1, 0}, Case{nullptr, 2, 1}, Case{nullptr, -1, 1},
          Case{nullptr, 1, platform::MaxSemaphoreCount + 1}}) {
        platform::SetLastError(0);
        EXPECT_EQ(platform::CreateSemaphoreW(k.attributes, k.initial, k.maximum, name), 0u);
        EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    for (const std::string& empty :
         {std::string(), std::string("Global\\"), std::string("Local\\")}) {
        SCOPED_TRACE(empty);
        platform::SetLastError(0);
        EXPECT_EQ(platform::CreateSemaphoreW(nullptr, 1, 1, empty), 0u);
        EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    }
}

TEST_F(WinSemaphore, NamesAreCaseSensitiveAndMayHoldAnyCharacter) {
    const std::string base = UniqueName("names");
    const std::string odd = base + " \xC3\xBC\xE5\x90\x8D & %20 / . \xF0\x9F\x94\x91";
    const auto a = platform::CreateSemaphoreW(nullptr, 1, 1, odd);
    ASSERT_NE(a, 0u);
    Closer ca{a};
    EXPECT_EQ(platform::GetLastError(), 0u);
    const auto b = platform::CreateSemaphoreW(nullptr, 1, 1, odd);
    ASSERT_NE(b, 0u);
    Closer cb{b};
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    // The unit taken through one handle is gone for the other: the same object.
    EXPECT_EQ(platform::WaitForSingleObject(a, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(platform::WaitForSingleObject(b, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    std::string upper = base;
    for (char& ch : upper)
        if (ch >= 'a' && ch <= 'z')
            ch = static_cast<char>(ch - 'a' + 'A');
    const auto c = platform::CreateSemaphoreW(nullptr, 1, 1, upper);
    ASSERT_NE(c, 0u);
    Closer cc{c};
    EXPECT_EQ(platform::GetLastError(), 0u);

    const auto g = platform::CreateSemaphoreW(nullptr, 1, 1, "Global\\" + base);
    ASSERT_NE(g, 0u) << platform::GetLastError();
    Closer cg{g};
}

TEST_F(WinSemaphore, GoesAwayWithItsLastHandle) {
    const std::string name = UniqueName("last");
    const auto h = platform::CreateSemaphoreW(nullptr, 1, 1, name);
    ASSERT_NE(h, 0u);
    ASSERT_EQ(platform::WaitForSingleObject(h, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    ASSERT_TRUE(platform::CloseHandle(h));

    const auto again = platform::CreateSemaphoreW(nullptr, 1, 1, name);
    ASSERT_NE(again, 0u);
    Closer c{again};
    EXPECT_EQ(platform::GetLastError(), 0u);
    EXPECT_EQ(platform::WaitForSingleObject(again, 0), static_cast<DWORD>(WAIT_OBJECT_0));
}

TEST_F(WinSemaphore, AWaitingThreadGetsTheUnitReleased) {
    const auto h = platform::CreateSemaphoreW(nullptr, 0, 1, UniqueName("thread"));
    ASSERT_NE(h, 0u);
    Closer c{h};
    std::atomic<DWORD> result{0xDEADu};
    std::thread waiter([&] { result = platform::WaitForSingleObject(h, INFINITE); });
    ::Sleep(50);
    EXPECT_EQ(result.load(), 0xDEADu);
    ASSERT_TRUE(platform::ReleaseSemaphore(h, 1, nullptr));
    waiter.join();
    EXPECT_EQ(result.load(), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(platform::WaitForSingleObject(h, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

// ---- across processes ---------------------------------------------------------------------------

std::wstring HelperPath() {
    wchar_t buf[MAX_PATH * 4];
    const DWORD n = ::GetModuleFileNameW(nullptr, buf, static_cast<DWORD>(std::size(buf)));
    std::wstring path(buf, n);
    path.resize(path.find_last_of(L"\\/") + 1);
    return path + L"pendock_sem_holder.exe";
}

// A helper process that holds (or was refused) a unit of the guard's semaphore.
class Holder {
public:
    Holder(const std::string& name, int maximum) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE childIn = nullptr, childOut = nullptr;
        if (!::CreatePipe(&childIn, &FIn, &inherit, 0) ||
            !::CreatePipe(&FOut, &childOut, &inherit, 0))
            return;
        ::SetHandleInformation(FIn, HANDLE_FLAG_INHERIT, 0);
        ::SetHandleInformation(FOut, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = childIn;
        si.hStdOutput = childOut;
        si.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
        std::wstring command = L"\"" + HelperPath() + L"\" \"" + platform::win::Widen(name) +
                               L"\" " + std::to_wstring(maximum);
        FStarted = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                    nullptr, &si, &FProcess) != FALSE;
        ::CloseHandle(childIn);
        ::CloseHandle(childOut);
    }
    ~Holder() {
        if (FStarted && !FEnded) {
            ::TerminateProcess(FProcess.hProcess, 99);
            ::WaitForSingleObject(FProcess.hProcess, 10000);
        }
        CloseIn();
        if (FOut)
            ::CloseHandle(FOut);
        if (FStarted) {
            ::CloseHandle(FProcess.hProcess);
            ::CloseHandle(FProcess.hThread);
        }
    }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

    bool Started() const { return FStarted; }

    // The helper's one line: "held <name>" or "refused <name>".
    std::string Line() {
        std::string line;
        char ch = 0;
        DWORD got = 0;
        while (::ReadFile(FOut, &ch, 1, &got, nullptr) && got == 1 && ch != '\n')
            if (ch != '\r')
                line += ch;
        return line;
    }

    // Closes the helper's input, so that it gives its unit back and ends; its exit code.
    DWORD Finish() {
        CloseIn();
        return Wait();
    }

    // Ends the helper at once, without its giving anything back.
    DWORD Kill() {
        ::TerminateProcess(FProcess.hProcess, 77);
        return Wait();
    }

private:
    void CloseIn() {
        if (FIn)
            ::CloseHandle(FIn);
        FIn = nullptr;
    }
    DWORD Wait() {
        DWORD code = 0xFFFFu;
        if (::WaitForSingleObject(FProcess.hProcess, 30000) == WAIT_OBJECT_0)
            ::GetExitCodeProcess(FProcess.hProcess, &code);
        FEnded = true;
        return code;
    }

    PROCESS_INFORMATION FProcess{};
    HANDLE FIn = nullptr;
    HANDLE FOut = nullptr;
    bool FStarted = false;
    bool FEnded = false;
};

// This process's own attempt, as the program makes it.
bool OwnFirstInstance(const std::string& name) {
    TMaxInstance* guard = nullptr;
    const bool held = FirstInstance(name, guard);
    EXPECT_NE(guard, nullptr);
    if (held)
        ReleaseFirstInstance(guard);
    FreeFirstInstance(guard);
    return held;
}

class WinGuardProcesses : public ::testing::Test {};

TEST_F(WinGuardProcesses, AHeldSlotRefusesTheNextCopyUntilItsHolderEnds) {
    const std::string name = UniqueName("guard");
    {
        Holder holder(name, 1);
        ASSERT_TRUE(holder.Started());
        ASSERT_EQ(holder.Line(), "held Global\\" + name);

        EXPECT_FALSE(OwnFirstInstance(name));
        Holder second(name, 1);
        ASSERT_TRUE(second.Started());
        EXPECT_EQ(second.Line(), "refused Global\\" + name);
        EXPECT_EQ(second.Finish(), 1u);

        EXPECT_EQ(holder.Finish(), 0u);
    }
    EXPECT_TRUE(OwnFirstInstance(name));
}

TEST_F(WinGuardProcesses, AKilledHolderFreesTheSlot) {
    const std::string name = UniqueName("killed");
    Holder holder(name, 1);
    ASSERT_TRUE(holder.Started());
    ASSERT_EQ(holder.Line(), "held Global\\" + name);
    EXPECT_FALSE(OwnFirstInstance(name));
    EXPECT_EQ(holder.Kill(), 77u);
    // No process has the semaphore open any more: the next copy starts it afresh.
    EXPECT_TRUE(OwnFirstInstance(name));
}

TEST_F(WinGuardProcesses, ThreeSlotsForFourProcesses) {
    const std::string name = UniqueName("three");
    std::vector<std::unique_ptr<Holder>> holders;
    for (int i = 0; i < 3; ++i) {
        holders.push_back(std::make_unique<Holder>(name, 3));
        ASSERT_TRUE(holders.back()->Started());
        ASSERT_EQ(holders.back()->Line(), "held Global\\" + name) << "holder " << i;
    }
    TMaxInstance own(nullptr);
    own.SetAutoKill(false);
    own.SetTimeOut(0);
    own.SetMaxInstances(3);
    own.SetSemName(name);
    own.GetSem();
    EXPECT_FALSE(own.IsSemHeld());
    EXPECT_NE(own.GetSemHandle(), 0u);
    EXPECT_EQ(own.GetErrorCode(), 0u);

    // One holder gives its unit back: it is free for the next one, while the others run.
    EXPECT_EQ(holders[1]->Finish(), 0u);
    TMaxInstance next(nullptr);
    next.SetAutoKill(false);
    next.SetTimeOut(0);
    next.SetMaxInstances(3);
    next.SetSemName(name);
    next.GetSem();
    EXPECT_TRUE(next.IsSemHeld());

    Holder fifth(name, 3);
    ASSERT_TRUE(fifth.Started());
    EXPECT_EQ(fifth.Line(), "refused Global\\" + name);
    EXPECT_EQ(fifth.Finish(), 1u);
}

} // namespace
