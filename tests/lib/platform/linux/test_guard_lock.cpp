// The Linux named counting lock, within one process: every handle is a holder of its own.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "MaxInstance.h"
#include "guard_test_util.h"
#include "mod_FirstInstance.h"
#include "platform/semaphore.h"

using namespace platform;
using guardtest::TempLockFolders;
using guardtest::UniqueName;
namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class Lock : public ::testing::Test {
protected:
    void TearDown() override {
        for (SemHandle h : handles)
            platform::CloseHandle(h);
    }
    // Opens and remembers the handle for closing at the end.
    SemHandle Open(const std::string& name, LONG max = 1, LONG initial = -1) {
        const SemHandle h =
            platform::CreateSemaphoreW(nullptr, initial < 0 ? max : initial, max, name);
        if (h != 0)
            handles.push_back(h);
        return h;
    }
    void Close(SemHandle h) {
        EXPECT_TRUE(platform::CloseHandle(h));
        handles.erase(std::remove(handles.begin(), handles.end(), h), handles.end());
    }

    TempLockFolders folders;
    std::vector<SemHandle> handles;
};

TEST_F(Lock, SecondHandleIsRefusedUntilTheFirstGivesBack) {
    const std::string name = "Global\\" + UniqueName("a");
    const SemHandle a = Open(name);
    ASSERT_NE(a, 0u);
    EXPECT_EQ(platform::GetLastError(), ERROR_SUCCESS);
    const SemHandle b = Open(name);
    ASSERT_NE(b, 0u);
    EXPECT_NE(a, b);
    EXPECT_EQ(platform::GetLastError(), ERROR_ALREADY_EXISTS);

    EXPECT_EQ(platform::WaitForSingleObject(a, 0), WAIT_OBJECT_0);
    EXPECT_EQ(platform::WaitForSingleObject(b, 0), WAIT_TIMEOUT);
    EXPECT_EQ(platform::WaitForSingleObject(a, 0), WAIT_TIMEOUT); // one unit only
    LONG previous = -1;
    ASSERT_TRUE(platform::ReleaseSemaphore(a, 1, &previous));
    EXPECT_EQ(previous, 0);
    EXPECT_EQ(platform::WaitForSingleObject(b, 0), WAIT_OBJECT_0);
    EXPECT_EQ(platform::WaitForSingleObject(a, 0), WAIT_TIMEOUT);
}

TEST_F(Lock, CountsUpToItsMaximum) {
    const std::string name = "Global\\" + UniqueName("m");
    std::vector<SemHandle> h;
    for (int i = 0; i < 4; ++i) {
        h.push_back(Open(name, 3));
        ASSERT_NE(h.back(), 0u);
    }
    EXPECT_EQ(platform::WaitForSingleObject(h[0], 0), WAIT_OBJECT_0);
    EXPECT_EQ(platform::WaitForSingleObject(h[0], 0), WAIT_OBJECT_0); // a handle may take two
    EXPECT_EQ(platform::WaitForSingleObject(h[1], 0), WAIT_OBJECT_0);
    EXPECT_EQ(platform::WaitForSingleObject(h[2], 0), WAIT_TIMEOUT);

    // More than the handle holds: refused, nothing given back.
    EXPECT_FALSE(platform::ReleaseSemaphore(h[1], 2, nullptr));
    EXPECT_EQ(platform::GetLastError(), ERROR_TOO_MANY_POSTS);
    EXPECT_FALSE(platform::ReleaseSemaphore(h[3], 1, nullptr));
    EXPECT_EQ(platform::GetLastError(), ERROR_TOO_MANY_POSTS);
    EXPECT_FALSE(platform::ReleaseSemaphore(h[0], 0, nullptr));
    EXPECT_EQ(platform::GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(platform::WaitForSingleObject(h[2], 0), WAIT_TIMEOUT);

    LONG previous = -1;
    ASSERT_TRUE(platform::ReleaseSemaphore(h[0], 2, &previous));
    EXPECT_EQ(previous, 0);
    previous = -1;
    ASSERT_TRUE(platform::ReleaseSemaphore(h[1], 1, &previous));
    EXPECT_EQ(previous, 2);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(platform::WaitForSingleObject(h[3], 0), WAIT_OBJECT_0);
    EXPECT_EQ(platform::WaitForSingleObject(h[2], 0), WAIT_TIMEOUT);
}

TEST_F(Lock, AnOpenSemaphoreKeepsItsMaximumAndCount) {
    const std::string name = "Global\\" + UniqueName("k");
    const SemHandle a = Open(name, 1);
    ASSERT_EQ(platform::WaitForSingleObject(a, 0), WAIT_OBJECT_0);
    const SemHandle b = Open(name, 5);
    ASSERT_NE(b, 0u);
    EXPECT_EQ(platform::GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(platform::WaitForSingleObject(b, 0), WAIT_TIMEOUT);

    // Once every handle is closed the name starts afresh with the next maximum.
    Close(a);
    Close(b);
    const SemHandle c = Open(name, 2);
    EXPECT_EQ(platform::GetLastError(), ERROR_SUCCESS);
    const SemHandle d = Open(name, 1);
    EXPECT_EQ(platform::WaitForSingleObject(c, 0), WAIT_OBJECT_0);
    EXPECT_EQ(platform::WaitForSingleObject(d, 0), WAIT_OBJECT_0);
}

TEST_F(Lock, FewerInitialUnitsAreHeldByTheCreatingHandle) {
    const std::string name = "Global\\" + UniqueName("i");
    const SemHandle a = Open(name, 2, 0);
    ASSERT_NE(a, 0u);
    const SemHandle b = Open(name, 2, 2);
    EXPECT_EQ(platform::WaitForSingleObject(b, 0), WAIT_TIMEOUT);
    ASSERT_TRUE(platform::ReleaseSemaphore(a, 1, nullptr));
    EXPECT_EQ(platform::WaitForSingleObject(b, 0), WAIT_OBJECT_0);
    EXPECT_EQ(platform::WaitForSingleObject(b, 0), WAIT_TIMEOUT);
}

TEST_F(Lock, ClosingGivesBackAndTheFileStaysForTheNextStart) {
    const std::string name = UniqueName("c");
    const SemHandle a = Open("Global\\" + name);
    const SemHandle b = Open("Global\\" + name);
    ASSERT_EQ(platform::WaitForSingleObject(a, 0), WAIT_OBJECT_0);
    const fs::path file = folders.Global() / ("pendock-sem-" + name);
    EXPECT_TRUE(fs::is_regular_file(file));
    Close(a); // without giving back
    EXPECT_EQ(platform::WaitForSingleObject(b, 0), WAIT_OBJECT_0);
    Close(b);
    EXPECT_TRUE(fs::is_regular_file(file));
    EXPECT_EQ(TempLockFolders::List(folders.Global()).size(), 1u);
    // Reopened, it is a new semaphore: it starts with the maximum now given.
    const SemHandle c = Open("Global\\" + name, 2);
    EXPECT_EQ(platform::GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(platform::WaitForSingleObject(c, 0), WAIT_OBJECT_0);
    EXPECT_EQ(platform::WaitForSingleObject(c, 0), WAIT_OBJECT_0);
    EXPECT_EQ(platform::WaitForSingleObject(c, 0), WAIT_TIMEOUT);
}

TEST_F(Lock, NamesWithoutGlobalLiveInTheUsersDirectory) {
    const std::string name = UniqueName("u");
    const SemHandle bare = Open(name);
    const SemHandle local = Open("Local\\" + name);
    const SemHandle global = Open("global\\" + name); // the prefix in any case
    ASSERT_NE(bare, 0u);
    ASSERT_NE(local, 0u);
    ASSERT_NE(global, 0u);
    EXPECT_TRUE(fs::exists(folders.User() / ("pendock-sem-" + name)));
    EXPECT_TRUE(fs::exists(folders.Global() / ("pendock-sem-" + name)));
    EXPECT_EQ(platform::WaitForSingleObject(bare, 0), WAIT_OBJECT_0);
    EXPECT_EQ(platform::WaitForSingleObject(local, 0), WAIT_TIMEOUT);   // the same semaphore
    EXPECT_EQ(platform::WaitForSingleObject(global, 0), WAIT_OBJECT_0); // another one
    // Names are case-sensitive.
    const SemHandle upper = Open("Global\\" + name + "X");
    EXPECT_EQ(platform::WaitForSingleObject(upper, 0), WAIT_OBJECT_0);
}

TEST_F(Lock, LockFileIsReadableAndWritableByAllWhateverTheUmask) {
    const mode_t old = ::umask(077);
    const std::string name = UniqueName("p");
    const SemHandle h = Open("Global\\" + name);
    ::umask(old);
    ASSERT_NE(h, 0u);
    struct stat st {};
    ASSERT_EQ(::lstat((folders.Global() / ("pendock-sem-" + name)).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0666u);
}

TEST_F(Lock, OddNamesStayInsideTheDirectory) {
    const std::vector<std::string> names = {"../escape",
                                            "a/b",
                                            "..",
                                            ".",
                                            "x\\y",
                                            "sp ace",
                                            "\xC3\xA9t\xC3\xA9",
                                            std::string("nul\0in", 6)};
    for (const std::string& n : names) {
        const SemHandle h = Open("Global\\" + n);
        ASSERT_NE(h, 0u) << n;
        EXPECT_EQ(platform::WaitForSingleObject(h, 0), WAIT_OBJECT_0) << n;
    }
    const auto entries = TempLockFolders::List(folders.Global());
    EXPECT_EQ(entries.size(), names.size());
    for (const std::string& e : entries) {
        EXPECT_EQ(e.rfind("pendock-sem-", 0), 0u) << e;
        EXPECT_EQ(e.find('/'), std::string::npos);
    }
    EXPECT_TRUE(fs::exists(folders.Global() / "pendock-sem-..%2Fescape"));
    EXPECT_EQ(TempLockFolders::List(folders.Root()).size(), 2u); // global and user only
    // Different names never share a file: "a/b" and "a%2Fb" are two semaphores.
    const SemHandle lookalike = Open("Global\\a%2Fb");
    EXPECT_EQ(platform::WaitForSingleObject(lookalike, 0), WAIT_OBJECT_0);
}

TEST_F(Lock, RejectsBadArguments) {
    const std::string name = "Global\\" + UniqueName("bad");
    int dummy = 0;
    EXPECT_EQ(platform::CreateSemaphoreW(&dummy, 1, 1, name), 0u);
    EXPECT_EQ(platform::GetLastError(), ERROR_INVALID_PARAMETER);
    for (auto [initial, max] : std::vector<std::pair<LONG, LONG>>{
             {0, 0}, {1, 0}, {-1, 1}, {2, 1}, {1, -5}, {1, MaxSemaphoreCount + 1}}) {
        platform::SetLastError(0);
        EXPECT_EQ(platform::CreateSemaphoreW(nullptr, initial, max, name), 0u);
        EXPECT_EQ(platform::GetLastError(), ERROR_INVALID_PARAMETER) << initial << "/" << max;
    }
    for (const std::string& empty :
         {std::string(), std::string("Global\\"), std::string("Local\\")}) {
        EXPECT_EQ(platform::CreateSemaphoreW(nullptr, 1, 1, empty), 0u);
        EXPECT_EQ(platform::GetLastError(), ERROR_INVALID_NAME);
    }
    EXPECT_EQ(platform::CreateSemaphoreW(nullptr, 1, 1, "Global\\" + std::string(300, 'n')), 0u);
    EXPECT_EQ(platform::GetLastError(), ERROR_FILENAME_EXCED_RANGE);
    EXPECT_TRUE(TempLockFolders::List(folders.Global()).empty());
}

TEST_F(Lock, UnknownHandlesFail) {
    for (SemHandle h : {SemHandle(0), SemHandle(0xDEADBEEF)}) {
        platform::SetLastError(0);
        EXPECT_EQ(platform::WaitForSingleObject(h, 0), WAIT_FAILED);
        EXPECT_EQ(platform::GetLastError(), ERROR_INVALID_HANDLE);
        platform::SetLastError(0);
        EXPECT_FALSE(platform::ReleaseSemaphore(h, 1, nullptr));
        EXPECT_EQ(platform::GetLastError(), ERROR_INVALID_HANDLE);
        platform::SetLastError(0);
        EXPECT_FALSE(platform::CloseHandle(h));
        EXPECT_EQ(platform::GetLastError(), ERROR_INVALID_HANDLE);
    }
    const SemHandle h = Open("Global\\" + UniqueName("twice"));
    Close(h);
    EXPECT_FALSE(platform::CloseHandle(h));
    EXPECT_EQ(platform::WaitForSingleObject(h, 0), WAIT_FAILED);
}

TEST_F(Lock, SymbolicLinkAtTheLockPathIsNotFollowed) {
    const std::string name = UniqueName("link");
    const fs::path lockPath = folders.Global() / ("pendock-sem-" + name);
    const fs::path existing = folders.Root() / "victim";
    { std::ofstream(existing) << "precious"; }
    const fs::path missing = folders.Root() / "would-be-created";

    for (const fs::path& target : {existing, missing}) {
        fs::remove(lockPath);
        fs::create_symlink(target, lockPath);
        platform::SetLastError(0);
        EXPECT_EQ(platform::CreateSemaphoreW(nullptr, 1, 1, "Global\\" + name), 0u);
        EXPECT_EQ(platform::GetLastError(), ERROR_INVALID_NAME);
        EXPECT_TRUE(fs::is_symlink(lockPath));
    }
    EXPECT_EQ(ReadFile(existing), "precious");
    EXPECT_FALSE(fs::exists(missing));

    // Anyone may plant a link in the shared directory: the guard takes the user's own name
    // instead, as it does without a machine-wide directory, rather than refusing every copy.
    TMaxInstance g;
    g.SetAutoKill(false);
    g.SetSemName(name);
    g.GetSem();
    EXPECT_TRUE(g.IsSemHeld());
    EXPECT_EQ(g.SemName(), name);
    EXPECT_EQ(TempLockFolders::List(folders.User()),
              std::vector<std::string>{"pendock-sem-" + name});
    EXPECT_TRUE(fs::is_symlink(lockPath));
    EXPECT_EQ(ReadFile(existing), "precious");
}

TEST_F(Lock, OtherThingsAtTheLockPathAreNotLockFiles) {
    for (const bool fifo : {false, true}) {
        SCOPED_TRACE(fifo ? "fifo" : "folder");
        const std::string name = UniqueName(fifo ? "fifo" : "dir");
        const std::string file = "pendock-sem-" + name;
        for (const fs::path& folder : {folders.Global(), folders.User()}) {
            if (fifo)
                ASSERT_EQ(::mkfifo((folder / file).c_str(), 0666), 0);
            else
                fs::create_directory(folder / file);
        }
        // In the shared directory the name cannot be used; in the user's own it is taken.
        EXPECT_EQ(platform::CreateSemaphoreW(nullptr, 1, 1, "Global\\" + name), 0u);
        EXPECT_EQ(platform::GetLastError(), ERROR_INVALID_NAME);
        EXPECT_EQ(platform::CreateSemaphoreW(nullptr, 1, 1, name), 0u);
        EXPECT_EQ(platform::GetLastError(), ERROR_INVALID_HANDLE);

        // The guard falls back to the user's name, which then keeps a second copy out.
        fs::remove(folders.User() / file);
        TMaxInstance* first = nullptr;
        TMaxInstance* second = nullptr;
        EXPECT_TRUE(FirstInstance(name, first));
        EXPECT_EQ(first->SemName(), name);
        EXPECT_FALSE(FirstInstance(name, second));
        FreeFirstInstance(second);
        FreeFirstInstance(first);
    }
}

TEST_F(Lock, LeftOverFileFromAnEarlierRunIsTakenOver) {
    const std::string name = UniqueName("stale");
    const fs::path file = folders.Global() / ("pendock-sem-" + name);
    { std::ofstream(file) << "garbage that is no header"; }
    const SemHandle a = Open("Global\\" + name, 2);
    ASSERT_NE(a, 0u);
    EXPECT_EQ(platform::GetLastError(), ERROR_SUCCESS);
    const SemHandle b = Open("Global\\" + name, 7);
    EXPECT_EQ(platform::WaitForSingleObject(a, 0), WAIT_OBJECT_0);
    EXPECT_EQ(platform::WaitForSingleObject(b, 0), WAIT_OBJECT_0);
    EXPECT_EQ(platform::WaitForSingleObject(b, 0), WAIT_TIMEOUT);
}

TEST_F(Lock, FileScribbledOverWhileOpenIsRefused) {
    const std::string name = UniqueName("scribble");
    const SemHandle a = Open("Global\\" + name);
    ASSERT_NE(a, 0u);
    { std::ofstream(folders.Global() / ("pendock-sem-" + name)) << "junk"; }
    EXPECT_EQ(platform::CreateSemaphoreW(nullptr, 1, 1, "Global\\" + name), 0u);
    EXPECT_EQ(platform::GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(Lock, UnusableMachineWideDirectoryIsAnInvalidName) {
    const std::string name = "Global\\" + UniqueName("nodir");
    TempLockFolders::Set("PENDOCK_LOCK_DIR_GLOBAL", folders.Root() / "missing");
    EXPECT_EQ(platform::CreateSemaphoreW(nullptr, 1, 1, name), 0u);
    EXPECT_EQ(platform::GetLastError(), ERROR_INVALID_NAME);

    const fs::path plainFile = folders.Root() / "file";
    { std::ofstream(plainFile) << "x"; }
    TempLockFolders::Set("PENDOCK_LOCK_DIR_GLOBAL", plainFile);
    EXPECT_EQ(platform::CreateSemaphoreW(nullptr, 1, 1, name), 0u);
    EXPECT_EQ(platform::GetLastError(), ERROR_INVALID_NAME);
}

TEST_F(Lock, UsersDirectoryMustBeTheUsersAlone) {
    const std::string name = UniqueName("shared");
    ::chmod(folders.User().c_str(), 0777);
    EXPECT_EQ(platform::CreateSemaphoreW(nullptr, 1, 1, name), 0u);
    EXPECT_EQ(platform::GetLastError(), ERROR_ACCESS_DENIED);
    ::chmod(folders.User().c_str(), 0700);

    // A directory given by link is judged by the directory it leads to.
    const fs::path open = folders.Root() / "open";
    fs::create_directory(open);
    ::chmod(open.c_str(), 01777);
    const fs::path link = folders.Root() / "userlink";
    fs::create_directory_symlink(open, link);
    TempLockFolders::Set("PENDOCK_LOCK_DIR_USER", link);
    EXPECT_EQ(platform::CreateSemaphoreW(nullptr, 1, 1, name), 0u);
    EXPECT_EQ(platform::GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(TempLockFolders::List(open).empty());
    fs::remove(link);
    fs::create_directory_symlink(folders.User(), link);
    const SemHandle h = platform::CreateSemaphoreW(nullptr, 1, 1, name);
    EXPECT_NE(h, 0u);
    platform::CloseHandle(h);
    EXPECT_EQ(TempLockFolders::List(folders.User()),
              std::vector<std::string>{"pendock-sem-" + name});

    TempLockFolders::Set("PENDOCK_LOCK_DIR_USER", folders.Root() / "none");
    EXPECT_EQ(platform::CreateSemaphoreW(nullptr, 1, 1, name), 0u);
    EXPECT_EQ(platform::GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(fs::exists(folders.Root() / "none"));
}

TEST_F(Lock, GuardFallsBackToTheBareNameWithoutMachineWideDirectory) {
    const std::string name = UniqueName("fallback");
    TempLockFolders::Set("PENDOCK_LOCK_DIR_GLOBAL", folders.Root() / "missing");
    TMaxInstance* first = nullptr;
    TMaxInstance* second = nullptr;
    EXPECT_TRUE(FirstInstance(name, first));
    EXPECT_EQ(first->SemName(), name);
    EXPECT_EQ(first->GetErrorCode(), ERROR_INVALID_NAME);
    EXPECT_TRUE(fs::exists(folders.User() / ("pendock-sem-" + name)));
    EXPECT_FALSE(FirstInstance(name, second));
    EXPECT_EQ(second->SemName(), name);
    ReleaseFirstInstance(first);
    EXPECT_EQ(first->GetErrorCode(), 0u);
    FreeFirstInstance(first);
    FreeFirstInstance(second);
    EXPECT_EQ(TempLockFolders::List(folders.User()).size(), 1u);
    EXPECT_TRUE(TempLockFolders::List(folders.Global()).empty());
}

TEST_F(Lock, WaitWithTimeOutTakesAUnitFreedMeanwhile) {
    const std::string name = "Global\\" + UniqueName("w");
    const SemHandle a = Open(name);
    const SemHandle b = Open(name);
    ASSERT_EQ(platform::WaitForSingleObject(a, 0), WAIT_OBJECT_0);
    EXPECT_EQ(platform::WaitForSingleObject(b, 30), WAIT_TIMEOUT);
    std::thread releaser([a] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        platform::ReleaseSemaphore(a, 1, nullptr);
    });
    EXPECT_EQ(platform::WaitForSingleObject(b, 20000), WAIT_OBJECT_0);
    releaser.join();
    EXPECT_EQ(platform::WaitForSingleObject(a, 0), WAIT_TIMEOUT);
}

TEST_F(Lock, FirstInstanceReleasesAndFreesCleanly) {
    const std::string name = UniqueName("first");
    TMaxInstance* guard = nullptr;
    ASSERT_TRUE(FirstInstance(name, guard));
    EXPECT_EQ(guard->SemName(), "Global\\" + name);
    TMaxInstance* other = nullptr;
    EXPECT_FALSE(FirstInstance(name, other));
    FreeFirstInstance(other);
    ReleaseFirstInstance(guard);
    EXPECT_EQ(guard->GetSemHandle(), 0u);
    FreeFirstInstance(guard);
    ASSERT_TRUE(FirstInstance(name, guard));
    FreeFirstInstance(guard); // destroy alone gives back and closes too
    ASSERT_TRUE(FirstInstance(name, guard));
    FreeFirstInstance(guard);
    EXPECT_EQ(TempLockFolders::List(folders.Global()),
              std::vector<std::string>{"pendock-sem-" + name});

    EXPECT_FALSE(FirstInstance("", guard));
    EXPECT_EQ(guard, nullptr);
    EXPECT_EQ(TempLockFolders::List(folders.Global()).size(), 1u);
    EXPECT_TRUE(TempLockFolders::List(folders.User()).empty());
}

} // namespace
