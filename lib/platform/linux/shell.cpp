#include "platform/shell.h"

#include "platform/linux/unique_fd.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {
namespace {

using lnx::TUniqueFd;

// The first executable regular file named `program` in the folders of PATH, as execvp finds it.
std::string FindInPath(const std::string& program) {
    const char* env = std::getenv("PATH");
    const std::string path = env != nullptr ? env : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(':', start);
        if (end == std::string::npos)
            end = path.size();
        // An empty entry is the current folder.
        const std::string folder = end > start ? path.substr(start, end - start) : std::string(".");
        const std::string candidate = folder + "/" + program;
        struct stat st;
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

// `fd` moved to a descriptor above the standard three, close-on-exec; none on failure.
TUniqueFd AboveStandard(TUniqueFd fd) {
    if (!fd.IsOpen() || fd.Get() > STDERR_FILENO)
        return fd;
    return TUniqueFd(::fcntl(fd.Get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
}

void ReportAndExit(int fd, int error) {
    [[maybe_unused]] const ssize_t n = ::write(fd, &error, sizeof error);
    ::_exit(127);
}

} // namespace

bool OpenInBrowser(const std::string& address) {
    const std::string program = FindInPath("xdg-open");
    if (program.empty())
        return false;

    // Everything the child needs is made before fork(): after it, only async-signal-safe calls.
    TUniqueFd devNull = AboveStandard(TUniqueFd(::open("/dev/null", O_RDWR | O_CLOEXEC)));
    if (!devNull.IsOpen())
        return false;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return false;
    TUniqueFd readEnd = AboveStandard(TUniqueFd(pipeFds[0]));
    TUniqueFd writeEnd = AboveStandard(TUniqueFd(pipeFds[1]));
    if (!readEnd.IsOpen() || !writeEnd.IsOpen())
        return false;
    char* const argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(address.c_str()),
                          nullptr};

    const pid_t child = ::fork();
    if (child == 0) {
        // The go-between: starts the opener and ends at once, so that the opener is adopted
        // by the system and never becomes our zombie.
        const pid_t opener = ::fork();
        if (opener < 0)
            ReportAndExit(writeEnd.Get(), errno);
        if (opener > 0)
            ::_exit(0);
        ::setsid();
        if (::dup2(devNull.Get(), STDIN_FILENO) < 0 || ::dup2(devNull.Get(), STDOUT_FILENO) < 0)
            ReportAndExit(writeEnd.Get(), errno);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        struct sigaction dfl = {};
        dfl.sa_handler = SIG_DFL;
        ::sigaction(SIGPIPE, &dfl, nullptr);
        ::sigaction(SIGCHLD, &dfl, nullptr);
        ::execve(program.c_str(), argv, environ);
        ReportAndExit(writeEnd.Get(), errno);
    }
    // Only the opener may hold the write end now, so that the read below ends with its exec.
    writeEnd.Reset();
    devNull.Reset();
    if (child < 0)
        return false;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // The pipe closes without data when the opener's exec succeeded.
    int error = 0;
    ssize_t got;
    do {
        got = ::read(readEnd.Get(), &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    return got == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace platform
