// The program as a whole: one copy at a time, a refused copy ends at once with exit code 0
// and shows nothing, and once the running copy has ended a new one starts normally.
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const char* const Program = PENDOCK_PROGRAM;

class TProgram : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(Folder / "global");
        fs::create_directory(Folder / "user");
        fs::permissions(Folder / "user", fs::perms::owner_all);
        ASSERT_TRUE(fs::is_regular_file(fs::path(Program).parent_path() / "locale.db"));
    }

    void TearDown() override {
        for (pid_t pid : Running)
            if (pid > 0) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
    }

    // Starts the program with its own lock folders, on the Qt platform `platform`; its output
    // goes to `out` in the test folder.
    pid_t Start(const std::string& platform, const std::string& out) {
        std::map<std::string, std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string kv = *e;
            const auto eq = kv.find('=');
            if (eq != std::string::npos)
                env[kv.substr(0, eq)] = kv.substr(eq + 1);
        }
        env["PENDOCK_LOCK_DIR_GLOBAL"] = (Folder / "global").string();
        env["PENDOCK_LOCK_DIR_USER"] = (Folder / "user").string();
        env["XDG_RUNTIME_DIR"] = (Folder / "user").string();
        env["QT_QPA_PLATFORM"] = platform;
        env.erase("DISPLAY");
        env.erase("WAYLAND_DISPLAY");
        // Nor the session bus, where a second copy would ask a running copy to come forward.
        env.erase("DBUS_SESSION_BUS_ADDRESS");
        std::vector<std::string> kvs;
        for (const auto& [k, v] : env)
            kvs.push_back(k + "=" + v);
        std::vector<char*> envp;
        for (std::string& kv : kvs)
            envp.push_back(kv.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        const std::string outPath = (Folder / out).string();
        posix_spawn_file_actions_addopen(&fa, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_adddup2(&fa, 1, 2);
        char* argv[] = {const_cast<char*>(Program), nullptr};
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, Program, &fa, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&fa);
        EXPECT_EQ(rc, 0);
        Running.push_back(pid);
        return pid;
    }

    // The wait status once the process has ended, or nothing after `limit`.
    std::optional<int> WaitEnd(pid_t pid, std::chrono::milliseconds limit) {
        const auto until = std::chrono::steady_clock::now() + limit;
        do {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                std::erase(Running, pid);
                return status;
            }
            std::this_thread::sleep_for(10ms);
        } while (std::chrono::steady_clock::now() < until);
        return std::nullopt;
    }

    // True once the process has the locale database open, which it does only while creating
    // its window, after it got the instance slot.
    static bool WaitWindowCreated(pid_t pid, std::chrono::milliseconds limit) {
        const fs::path db = fs::canonical(fs::path(Program).parent_path() / "locale.db");
        const auto until = std::chrono::steady_clock::now() + limit;
        do {
            std::error_code ec;
            for (const auto& fd :
                 fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
                std::error_code ec2;
                if (fs::read_symlink(fd.path(), ec2) == db)
                    return true;
            }
            std::this_thread::sleep_for(20ms);
        } while (std::chrono::steady_clock::now() < until);
        return false;
    }

    std::string Output(const std::string& out) const {
        std::ifstream in(Folder / out);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    TTempDir Tmp{"pendock-program"};
    const fs::path Folder = Tmp.Path();
    std::vector<pid_t> Running;
};

// A Qt platform that does not exist: a copy that gets as far as creating its application
// object stops there with an error, so exit code 0 proves it never tried to show anything.
const char* const NoDisplay = "pendock-no-such-platform";

TEST_F(TProgram, ASecondCopyEndsAtOnceWithExitCodeZeroAndNoWindow) {
    const pid_t first = Start("offscreen", "first.log");
    ASSERT_TRUE(WaitWindowCreated(first, 60s)) << Output("first.log");

    const pid_t second = Start(NoDisplay, "second.log");
    const auto status = WaitEnd(second, 30s);
    ASSERT_TRUE(status.has_value()) << "the second copy did not end";
    ASSERT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status) << "\n"
                                    << Output("second.log");
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    EXPECT_EQ(Output("second.log"), "") << "a refused copy says and shows nothing";

    // The first copy is not disturbed.
    EXPECT_FALSE(WaitEnd(first, 200ms).has_value());
}

TEST_F(TProgram, AfterTheFirstCopyEndsANewOneStarts) {
    const pid_t first = Start("offscreen", "first.log");
    ASSERT_TRUE(WaitWindowCreated(first, 60s)) << Output("first.log");
    kill(first, SIGTERM);
    ASSERT_TRUE(WaitEnd(first, 30s).has_value());

    // Now the slot is free: a copy goes on to its window, which on a missing platform fails.
    const pid_t probe = Start(NoDisplay, "probe.log");
    const auto status = WaitEnd(probe, 60s);
    ASSERT_TRUE(status.has_value());
    EXPECT_FALSE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
        << "a copy holding the slot must try to create its window";
    EXPECT_NE(Output("probe.log").find(NoDisplay), std::string::npos) << Output("probe.log");

    const pid_t again = Start("offscreen", "again.log");
    EXPECT_TRUE(WaitWindowCreated(again, 60s)) << Output("again.log");
    EXPECT_FALSE(WaitEnd(again, 200ms).has_value()) << "it keeps running with its window";
}

} // namespace
