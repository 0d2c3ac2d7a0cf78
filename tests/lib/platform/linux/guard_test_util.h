#pragma once
// Helpers of the lock and process tests: a fresh temporary directory that points the lock
// directories at itself, and child processes of the guard helper with pipes to talk to them.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/roots.h"
#include "support/TempDir.h"

extern char** environ;

namespace guardtest {

namespace fs = std::filesystem;

// A fresh directory under the temporary directory, removed with everything in it at the end.
// Global() and User() are set as the machine-wide and the user's lock directories.
class TempLockFolders {
public:
    TempLockFolders() {
        // Reachable by every user, as the machine-wide directory must be.
        ::chmod(Root().c_str(), 0755);
        fs::create_directory(Global());
        ::chmod(Global().c_str(), 01777);
        fs::create_directory(User());
        ::chmod(User().c_str(), 0700);
        Set("PENDOCK_LOCK_DIR_GLOBAL", Global());
        Set("PENDOCK_LOCK_DIR_USER", User());
    }
    ~TempLockFolders() {
        ::unsetenv("PENDOCK_LOCK_DIR_GLOBAL");
        ::unsetenv("PENDOCK_LOCK_DIR_USER");
        platform::UseRootsFromEnvironment();
    }
    TempLockFolders(const TempLockFolders&) = delete;
    TempLockFolders& operator=(const TempLockFolders&) = delete;

    const fs::path& Root() const { return folder_.Path(); }
    fs::path Global() const { return Root() / "global"; }
    fs::path User() const { return Root() / "user"; }

    // Points the lock folder `variable` names at `folder`, for this process and its children.
    static void Set(const char* variable, const fs::path& folder) {
        ::setenv(variable, folder.c_str(), 1);
        platform::UseRootsFromEnvironment();
    }

    // The entries of a directory, by name.
    static std::vector<std::string> List(const fs::path& folder) {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder))
            names.push_back(e.path().filename().string());
        return names;
    }

private:
    TTempDir folder_{"pendock-guard"};
};

// A name of its own for each test, so parallel runs never meet.
inline std::string UniqueName(const std::string& stem) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return stem + "-" + (info ? info->name() : "x") + "-" + std::to_string(::getpid());
}

// A child process with its standard input and output on pipes.
class Child {
public:
    explicit Child(const std::vector<std::string>& argv) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        const int rc = ::posix_spawn(&pid_, args[0], &fa, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = in[1];
        stdout_ = out[0];
        if (rc != 0) {
            pid_ = -1;
            throw std::runtime_error("posix_spawn failed for " + argv[0]);
        }
    }
    ~Child() {
        CloseStdin();
        if (stdout_ >= 0)
            ::close(stdout_);
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t Pid() const { return pid_; }

    // The next line the child writes, without its line end; nothing when none came within
    // `timeoutMs` or the child closed its output.
    std::optional<std::string> ReadLine(int timeoutMs = 20000) {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                std::string line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                giveUp - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return std::nullopt;
            pollfd p{stdout_, POLLIN, 0};
            if (::poll(&p, 1, int(left.count())) <= 0)
                return std::nullopt;
            char chunk[256];
            const ssize_t n = ::read(stdout_, chunk, sizeof chunk);
            if (n <= 0)
                return std::nullopt;
            buffer_.append(chunk, std::size_t(n));
        }
    }

    // Tells the child to go on (its input ends).
    void CloseStdin() {
        if (stdin_ >= 0)
            ::close(stdin_);
        stdin_ = -1;
    }

    // The child's exit code; -signal when a signal ended it.
    int Wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        if (WIFSIGNALED(status))
            return -WTERMSIG(status);
        return WEXITSTATUS(status);
    }

    void Kill(int sig) {
        if (pid_ > 0)
            ::kill(pid_, sig);
    }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    std::string buffer_;
};

} // namespace guardtest
