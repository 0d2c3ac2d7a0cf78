#pragma once
// Checks run in a child process, for what must not touch the test process itself: dropped
// rights, a mount namespace of its own.

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

// Runs `check` in a forked child process and returns what it returned there: the check that
// failed, empty when all held. A child that ends without its report gives a text saying so.
template <typename Check> std::string RunInChild(Check check) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return "no pipe to a child process";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        const std::string failed = check();
        const bool written =
            ::write(pipeFds[1], failed.data(), failed.size()) == ssize_t(failed.size());
        ::_exit(written ? 0 : 1);
    }
    ::close(pipeFds[1]);
    if (pid < 0) {
        ::close(pipeFds[0]);
        return "no child process";
    }
    std::string failed;
    char buf[256];
    ssize_t got;
    while ((got = ::read(pipeFds[0], buf, sizeof buf)) != 0) {
        if (got > 0)
            failed.append(buf, std::size_t(got));
        else if (errno != EINTR)
            break;
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "the child process ended without its report";
    return failed;
}
