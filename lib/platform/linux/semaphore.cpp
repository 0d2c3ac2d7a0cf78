// Named counting semaphores over lock files.
//
// Every open handle has its own open file description of the semaphore's lock file. Byte 0
// of the file is the marker: each open handle keeps a shared lock on it, so an exclusive lock
// on it means "no one else has the semaphore open". Whoever gets that exclusive lock while
// opening (re)starts the semaphore: it writes the maximum count into the file and turns its
// lock into a shared one. Unit i of the count is an exclusive lock on byte 1 + i. All locks
// are open-file-description locks, which the kernel drops when the description is closed, so
// a process that dies gives its units back.
//
// The file stays when the last handle is closed: the next start only opens it, which costs a
// fraction of creating and removing a file each time, and removal would race with openers.
// Should someone else remove or replace it, an opener notices that the name no longer leads
// to the file it has locked and opens afresh.

#include "platform/semaphore.h"

#include "platform/linux/roots.h"
#include "platform/linux/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "base/TextUtil.h"

namespace platform {
namespace {

using lnx::TUniqueFd;

thread_local DWORD tLastError = 0;

constexpr off_t MarkerByte = 0;
constexpr off_t FirstUnitByte = 1;
constexpr char HeaderMagic[] = "pendock-semaphore ";
constexpr const char* FilePrefix = "pendock-sem-";
constexpr std::size_t MaxFileName = 255;
// How long an open waits for another process that is setting up or removing the file.
constexpr auto SetupPatience = std::chrono::seconds(2);
constexpr int OpenAttempts = 1000;

// One open handle. Closing its file gives up the semaphore: the kernel drops the handle's
// locks with it.
struct TSemaphore {
    TUniqueFd folderFd;
    TUniqueFd fd;
    std::string fileName;
    LONG maximum = 0;
    std::vector<bool> held;
    LONG heldCount = 0;
};

struct THandleTable {
    std::mutex mutex;
    std::unordered_map<SemHandle, std::unique_ptr<TSemaphore>> open;
    SemHandle next = 1;
};

// Never destroyed: handles may still be closed by objects that outlive static destruction.
THandleTable& Table() {
    static THandleTable* t = new THandleTable;
    return *t;
}

DWORD Fail(DWORD code) {
    tLastError = code;
    return code;
}

// The open semaphore behind `handle` (the table's mutex held), or the end of the table with
// the last error set to ERROR_INVALID_HANDLE.
auto FindOpen(THandleTable& t, SemHandle handle) {
    const auto it = handle == 0 ? t.open.end() : t.open.find(handle);
    if (it == t.open.end())
        Fail(ERROR_INVALID_HANDLE);
    return it;
}

DWORD ErrorFromErrno(int e) {
    switch (e) {
    case EACCES:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    case ENOENT:
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
    case ENOLCK:
        return ERROR_NOT_ENOUGH_MEMORY;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case ELOOP:
    case EISDIR:
    case ENXIO:
        return ERROR_INVALID_HANDLE;
    default:
        return ERROR_GEN_FAILURE;
    }
}

bool LockBusy(int e) {
    return e == EAGAIN || e == EACCES;
}

// A lock of `type` on the one byte at `offset`.
struct flock OneByte(short type, off_t offset) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = offset;
    fl.l_len = 1;
    fl.l_pid = 0;
    return fl;
}

int SetLock(int fd, short type, off_t offset) {
    struct flock fl = OneByte(type, offset);
    return fcntl(fd, F_OFD_SETLK, &fl);
}

// True when another open file description holds a lock on the byte at `offset`.
bool LockedByOther(int fd, off_t offset) {
    struct flock fl = OneByte(F_WRLCK, offset);
    if (fcntl(fd, F_OFD_GETLK, &fl) != 0)
        return true;
    return fl.l_type != F_UNLCK;
}

std::string LockFileName(const std::string& objectName) {
    return FilePrefix + textutil::PercentEncode(objectName, [&objectName](std::size_t i) {
               const char c = objectName[i];
               return textutil::IsAsciiAlnum(c) || c == '{' || c == '}' || c == '.' || c == '_' ||
                      c == '-';
           });
}

// The machine-wide folder, or none with ERROR_INVALID_NAME when it cannot be used.
TUniqueFd OpenGlobalFolder() {
    const std::string path = lnx::Roots().LockFolderGlobal;
    TUniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.IsOpen())
        Fail(errno == EMFILE || errno == ENFILE ? ERROR_TOO_MANY_OPEN_FILES : ERROR_INVALID_NAME);
    return fd;
}

// The user's own folder: it must belong to the user and be writable by no one else.
TUniqueFd OpenUserFolder() {
    std::string path = lnx::Roots().LockFolderUser;
    int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    if (path.empty() || path[0] != '/') {
        // In the shared /tmp: never through a link someone else may have put there.
        path = "/tmp/pendock-" + std::to_string(::geteuid());
        flags |= O_NOFOLLOW;
        if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
            Fail(ErrorFromErrno(errno));
            return {};
        }
    }
    TUniqueFd fd(::open(path.c_str(), flags));
    if (!fd.IsOpen()) {
        struct stat st {};
        const bool link = ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
        Fail(link ? ERROR_ACCESS_DENIED : ErrorFromErrno(errno));
        return {};
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || st.st_uid != ::geteuid() || (st.st_mode & 022) != 0) {
        Fail(ERROR_ACCESS_DENIED);
        return {};
    }
    return fd;
}

// Creates the lock file with mode 0666 whatever the umask. The file appears under its name
// only once its mode is set, so another user never finds it unopenable. None with errno set
// (EEXIST when someone else created it first).
TUniqueFd CreateLockFile(int folderFd, const std::string& fileName) {
    TUniqueFd fd(::openat(folderFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
    if (fd.IsOpen()) {
        if (::fchmod(fd.Get(), 0666) != 0)
            return {};
        char procPath[64];
        std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fd.Get());
        if (::linkat(AT_FDCWD, procPath, folderFd, fileName.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return fd;
        if (errno != ENOENT) // ENOENT: no /proc; create the plain way below
            return {};
        fd.Reset();
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return {};
    }
    fd.Reset(::openat(folderFd, fileName.c_str(),
                      O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (fd.IsOpen() && ::fchmod(fd.Get(), 0666) != 0) {
        const int e = errno;
        fd.Reset();
        ::unlinkat(folderFd, fileName.c_str(), 0);
        errno = e;
        return {};
    }
    return fd;
}

// Something at the lock file's name that is no lock file this process may use: a symbolic
// link, a folder, a pipe, a socket or device, or a file it may not open. In the machine-wide
// folder anyone can put such a thing there, so it says only that this name cannot be used
// there (ERROR_INVALID_NAME, which sends the guard to the user's own name); in the user's
// folder it is refused as a name taken by another kind of object.
DWORD NotALockFile(bool global, DWORD otherwise) {
    return Fail(global ? ERROR_INVALID_NAME : otherwise);
}

// Opens the lock file, creating it when missing. Never follows a symbolic link at the name,
// and opens an existing file without O_CREAT (sticky directories refuse O_CREAT on another
// user's file). None with the last error set.
TUniqueFd OpenLockFile(int folderFd, const std::string& fileName, bool global) {
    for (int attempt = 0; attempt < OpenAttempts; ++attempt) {
        TUniqueFd fd(::openat(folderFd, fileName.c_str(),
                              O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (fd.IsOpen()) {
            struct stat st {};
            if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
                NotALockFile(global, ERROR_INVALID_HANDLE);
                return {};
            }
            return fd;
        }
        const int openError = errno;
        if (openError == EROFS && global) {
            Fail(ERROR_INVALID_NAME);
            return {};
        }
        if (openError == ELOOP || openError == EISDIR || openError == ENXIO ||
            openError == EACCES || openError == EPERM) {
            NotALockFile(global, ErrorFromErrno(openError));
            return {};
        }
        if (openError != ENOENT) {
            Fail(ErrorFromErrno(openError));
            return {};
        }
        fd = CreateLockFile(folderFd, fileName);
        if (fd.IsOpen())
            return fd;
        if (errno == EEXIST)
            continue;
        const int e = errno;
        const bool cannotCreate =
            e == EACCES || e == EPERM || e == EROFS || e == ENOSPC || e == EDQUOT;
        Fail(global && cannotCreate ? ERROR_INVALID_NAME : ErrorFromErrno(e));
        return {};
    }
    Fail(ERROR_GEN_FAILURE);
    return {};
}

bool SameFile(int folderFd, const std::string& fileName, int fd) {
    struct stat byName {
    }, byFd{};
    if (::fstatat(folderFd, fileName.c_str(), &byName, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (::fstat(fd, &byFd) != 0)
        return false;
    return byName.st_dev == byFd.st_dev && byName.st_ino == byFd.st_ino;
}

bool WriteHeader(int fd, LONG maximum) {
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, "%s%d\n", HeaderMagic, int(maximum));
    return ::pwrite(fd, buf, std::size_t(n), 0) == n && ::ftruncate(fd, n) == 0;
}

// The maximum count written by the process that started the semaphore; 0 when the file
// does not hold one.
LONG ReadHeader(int fd) {
    char buf[64] = {};
    const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
    const std::size_t magicLen = sizeof HeaderMagic - 1;
    if (n <= ssize_t(magicLen) || std::memcmp(buf, HeaderMagic, magicLen) != 0)
        return 0;
    long value = 0;
    const char* p = buf + magicLen;
    if (*p < '0' || *p > '9')
        return 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > MaxSemaphoreCount)
            return 0;
    }
    if (*p != '\n' || value < 1)
        return 0;
    return LONG(value);
}

SemHandle RegisterHandle(std::unique_ptr<TSemaphore> s) {
    THandleTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    while (t.next == 0 || t.open.count(t.next) != 0)
        ++t.next;
    const SemHandle h = t.next++;
    t.open.emplace(h, std::move(s));
    return h;
}

bool ValidArguments(const void* attributes, LONG initialCount, LONG maximumCount) {
    return attributes == nullptr && maximumCount >= 1 && maximumCount <= MaxSemaphoreCount &&
           initialCount >= 0 && initialCount <= maximumCount;
}

// A semaphore's name without its Global\ or Local\ prefix (any case), and whether it lives
// in the machine-wide folder.
struct TObjectName {
    bool global = false;
    std::string name;
};

TObjectName SplitName(const std::string& name) {
    if (textutil::IStartsWith(name, "global\\"))
        return {true, name.substr(7)};
    if (textutil::IStartsWith(name, "local\\"))
        return {false, name.substr(6)};
    return {false, name};
}

enum class EJoined { AsStarter, AsMember, Failed };

// Joins the semaphore through `fd`: with the exclusive marker when no one else has it open,
// the shared one otherwise. Someone holds it exclusively only for the moment of starting the
// semaphore, so a busy marker is tried again for a while.
EJoined JoinMarker(int fd) {
    const auto giveUp = std::chrono::steady_clock::now() + SetupPatience;
    for (;;) {
        if (SetLock(fd, F_WRLCK, MarkerByte) == 0)
            return EJoined::AsStarter;
        if (!LockBusy(errno))
            break;
        if (SetLock(fd, F_RDLCK, MarkerByte) == 0)
            return EJoined::AsMember;
        if (!LockBusy(errno) || std::chrono::steady_clock::now() > giveUp)
            break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    Fail(LockBusy(errno) ? ERROR_TIMEOUT : ErrorFromErrno(errno));
    return EJoined::Failed;
}

// (Re)starts the semaphore: its file holds `maximumCount` from now on, and the marker is
// shared again so that others may join.
bool Start(TSemaphore& s, LONG maximumCount) {
    const bool headerOk =
        ReadHeader(s.fd.Get()) == maximumCount || WriteHeader(s.fd.Get(), maximumCount);
    if (!headerOk || SetLock(s.fd.Get(), F_RDLCK, MarkerByte) != 0) {
        Fail(ErrorFromErrno(errno));
        return false;
    }
    s.maximum = maximumCount;
    return true;
}

// Takes the first `count` units for this handle: a new semaphore with fewer free units than
// its maximum.
bool HoldUnits(TSemaphore& s, LONG count) {
    for (LONG i = 0; i < count; ++i) {
        if (SetLock(s.fd.Get(), F_WRLCK, FirstUnitByte + i) != 0) {
            Fail(ErrorFromErrno(errno));
            return false;
        }
        s.held[std::size_t(i)] = true;
        ++s.heldCount;
    }
    return true;
}

// Sets up the handle whose lock file is open: as the one who starts the semaphore, or as one
// more handle of a semaphore already running, whose maximum its file tells.
bool SetUp(TSemaphore& s, bool starter, LONG initialCount, LONG maximumCount) {
    if (starter) {
        if (!Start(s, maximumCount))
            return false;
    } else {
        s.maximum = ReadHeader(s.fd.Get());
        if (s.maximum == 0) {
            Fail(ERROR_INVALID_HANDLE);
            return false;
        }
    }
    s.held.assign(std::size_t(s.maximum), false);
    return !starter || HoldUnits(s, maximumCount - initialCount);
}

} // namespace

SemHandle CreateSemaphoreW(const void* attributes, LONG initialCount, LONG maximumCount,
                           const std::string& name) {
    if (!ValidArguments(attributes, initialCount, maximumCount)) {
        Fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const TObjectName object = SplitName(name);
    if (object.name.empty()) {
        Fail(ERROR_INVALID_NAME);
        return 0;
    }
    auto s = std::make_unique<TSemaphore>();
    s->fileName = LockFileName(object.name);
    if (s->fileName.size() > MaxFileName) {
        Fail(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    s->folderFd = object.global ? OpenGlobalFolder() : OpenUserFolder();
    if (!s->folderFd.IsOpen())
        return 0;

    for (int attempt = 0; attempt < OpenAttempts; ++attempt) {
        s->fd = OpenLockFile(s->folderFd.Get(), s->fileName, object.global);
        if (!s->fd.IsOpen())
            return 0;
        const EJoined joined = JoinMarker(s->fd.Get());
        if (joined == EJoined::Failed)
            return 0;
        // Someone may have removed or replaced the file since it was opened.
        if (!SameFile(s->folderFd.Get(), s->fileName, s->fd.Get())) {
            s->fd.Reset();
            continue;
        }
        const bool starter = joined == EJoined::AsStarter;
        if (!SetUp(*s, starter, initialCount, maximumCount))
            return 0;
        const SemHandle h = RegisterHandle(std::move(s));
        tLastError = starter ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS;
        return h;
    }
    Fail(ERROR_GEN_FAILURE);
    return 0;
}

DWORD WaitForSingleObject(SemHandle handle, DWORD milliseconds) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto pause = std::chrono::microseconds(250);
    for (;;) {
        {
            THandleTable& t = Table();
            std::lock_guard<std::mutex> lock(t.mutex);
            const auto it = FindOpen(t, handle);
            if (it == t.open.end())
                return WAIT_FAILED;
            TSemaphore& s = *it->second;
            for (LONG i = 0; i < s.maximum; ++i) {
                if (s.held[std::size_t(i)])
                    continue;
                if (SetLock(s.fd.Get(), F_WRLCK, FirstUnitByte + i) == 0) {
                    s.held[std::size_t(i)] = true;
                    ++s.heldCount;
                    return WAIT_OBJECT_0;
                }
                if (!LockBusy(errno)) {
                    Fail(ErrorFromErrno(errno));
                    return WAIT_FAILED;
                }
            }
        }
        if (milliseconds != INFINITE) {
            const auto limit = std::chrono::milliseconds(milliseconds);
            const auto spent = Clock::now() - start;
            if (spent >= limit)
                return WAIT_TIMEOUT;
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(limit - spent);
            std::this_thread::sleep_for(std::min(pause, left));
        } else {
            std::this_thread::sleep_for(pause);
        }
        pause = std::min(pause * 2, std::chrono::microseconds(10000));
    }
}

bool ReleaseSemaphore(SemHandle handle, LONG releaseCount, LONG* previousCount) {
    THandleTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    const auto it = FindOpen(t, handle);
    if (it == t.open.end())
        return false;
    TSemaphore& s = *it->second;
    if (releaseCount < 1) {
        Fail(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (releaseCount > s.heldCount) {
        Fail(ERROR_TOO_MANY_POSTS);
        return false;
    }
    if (previousCount != nullptr) {
        LONG free = 0;
        for (LONG i = 0; i < s.maximum; ++i)
            if (!s.held[std::size_t(i)] && !LockedByOther(s.fd.Get(), FirstUnitByte + i))
                ++free;
        *previousCount = free;
    }
    LONG left = releaseCount;
    for (LONG i = s.maximum - 1; i >= 0 && left > 0; --i) {
        if (!s.held[std::size_t(i)])
            continue;
        if (SetLock(s.fd.Get(), F_UNLCK, FirstUnitByte + i) != 0) {
            Fail(ErrorFromErrno(errno));
            return false;
        }
        s.held[std::size_t(i)] = false;
        --s.heldCount;
        --left;
    }
    return true;
}

bool CloseHandle(SemHandle handle) {
    std::unique_ptr<TSemaphore> s;
    {
        THandleTable& t = Table();
        std::lock_guard<std::mutex> lock(t.mutex);
        const auto it = FindOpen(t, handle);
        if (it == t.open.end())
            return false;
        s = std::move(it->second);
        t.open.erase(it);
    }
    s.reset(); // outside the table's lock
    return true;
}

DWORD GetLastError() {
    return tLastError;
}

void SetLastError(DWORD code) {
    tLastError = code;
}

} // namespace platform
