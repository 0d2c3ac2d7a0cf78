// Folder listing and file reading on POSIX descriptors: sub-folders are opened relative to
// their parent (openat), so neither depth nor path length limits the walk.
#include "platform/folder_walk.h"

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

struct TFolderState {
    DIR* stream = nullptr;
    ~TFolderState() {
        if (stream)
            ::closedir(stream);
    }
};

namespace {

DIR* OpenFolderAt(int parentFd, const char* name) {
    const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    DIR* d = ::fdopendir(fd);
    if (d == nullptr)
        ::close(fd);
    return d;
}

} // namespace

TFolder::TFolder() = default;
TFolder::~TFolder() = default;
TFolder::TFolder(TFolder&&) noexcept = default;
TFolder& TFolder::operator=(TFolder&&) noexcept = default;

bool TFolder::Open(const std::string& path) {
    F.reset();
    // A trailing slash would have a linked folder followed.
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    DIR* d = OpenFolderAt(AT_FDCWD, p.c_str());
    if (!d)
        return false;
    F = std::make_unique<TFolderState>();
    F->stream = d;
    return true;
}

bool TFolder::OpenChild(const TFolder& parent, const std::string& name) {
    F.reset();
    if (!parent.F)
        return false;
    DIR* d = OpenFolderAt(::dirfd(parent.F->stream), name.c_str());
    if (!d)
        return false;
    F = std::make_unique<TFolderState>();
    F->stream = d;
    return true;
}

bool TFolder::Next(std::string& name, EEntryKind& kind) {
    if (!F)
        return false;
    while (const dirent* entry = ::readdir(F->stream)) {
        const char* n = entry->d_name;
        if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0')))
            continue;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st;
            if (::fstatat(::dirfd(F->stream), n, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue; // gone since it was listed
            type = S_ISDIR(st.st_mode)   ? DT_DIR
                   : S_ISREG(st.st_mode) ? DT_REG
                   : S_ISLNK(st.st_mode) ? DT_LNK
                                         : DT_UNKNOWN;
        }
        kind = type == DT_DIR   ? EEntryKind::Folder
               : type == DT_REG ? EEntryKind::File
               : type == DT_LNK ? EEntryKind::Link
                                : EEntryKind::Other;
        name = n;
        return true;
    }
    return false;
}

TInputFile::~TInputFile() {
    if (FHandle >= 0)
        ::close(static_cast<int>(FHandle));
}

EOpenResult TInputFile::Open(const TFolder* folder, const std::string& name, bool listedAsFile,
                             int& error) {
    if (FHandle >= 0) {
        ::close(static_cast<int>(FHandle));
        FHandle = -1;
    }
    const int folderFd = folder && folder->F ? ::dirfd(folder->F->stream) : AT_FDCWD;
    if (!listedAsFile) {
        struct stat st;
        if (::fstatat(folderFd, name.c_str(), &st, 0) != 0)
            return EOpenResult::NotThere; // gone, or a dangling or looping link
        if (!S_ISREG(st.st_mode))
            return EOpenResult::NotRegular; // never open devices or pipes
    }
    const int fd = ::openat(folderFd, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ELOOP)
            return EOpenResult::NotThere;
        error = errno;
        return EOpenResult::Failed;
    }
    FHandle = fd;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        error = errno;
        return EOpenResult::Failed;
    }
    if (!S_ISREG(st.st_mode))
        return EOpenResult::NotRegular; // replaced since it was looked at
    return EOpenResult::Opened;
}

long long TInputFile::Read(char* buffer, std::size_t size, int& error) {
    if (FHandle < 0) {
        error = EBADF;
        return -1;
    }
    ssize_t got;
    do {
        got = ::read(static_cast<int>(FHandle), buffer, size);
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        error = errno;
    return got;
}

std::string FileErrorText(int error) {
    return std::strerror(error);
}

} // namespace platform
