// Folder listing and file reading on POSIX descriptors: sub-folders are opened relative to
// their parent (openat), and a suspended parent is opened again as the ".." of its sub-folder,
// so neither depth nor path length limits the walk and it holds two descriptors at most.
#include "platform/folder_walk.h"

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

struct TFolderState {
    int fd = -1;           // the folder, while it is not suspended
    DIR* stream = nullptr; // its listing, from the first Read to its end; owns `fd` then
    bool listed = false;   // the listing has been read to its end
    dev_t dev{};
    ino_t ino{};

    void Close() {
        if (stream)
            ::closedir(stream);
        else if (fd >= 0)
            ::close(fd);
        stream = nullptr;
        fd = -1;
    }
    ~TFolderState() { Close(); }
};

namespace {

EOpenResult OpenFolderAt(int parentFd, const char* name, std::unique_ptr<TFolderState>& out,
                         int& error) {
    out.reset();
    const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        switch (errno) {
        case ENOENT:
        case ENOTDIR:
        case ELOOP: // O_NOFOLLOW on a link
            return EOpenResult::NotThere;
        case EACCES:
        case EPERM:
            return EOpenResult::Denied;
        default:
            error = errno;
            return EOpenResult::Failed;
        }
    }
    out = std::make_unique<TFolderState>();
    out->fd = fd;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        error = errno;
        out.reset();
        return EOpenResult::Failed;
    }
    out->dev = st.st_dev;
    out->ino = st.st_ino;
    return EOpenResult::Opened;
}

} // namespace

TFolder::TFolder() = default;
TFolder::~TFolder() = default;
TFolder::TFolder(TFolder&&) noexcept = default;
TFolder& TFolder::operator=(TFolder&&) noexcept = default;

EOpenResult TFolder::Open(const std::string& path, int& error) {
    // A trailing slash would have a linked folder followed.
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    if (p.empty()) {
        F.reset();
        return EOpenResult::NotThere;
    }
    return OpenFolderAt(AT_FDCWD, p.c_str(), F, error);
}

EOpenResult TFolder::OpenChild(const TFolder& parent, const std::string& name, int& error) {
    if (!parent.F || parent.F->fd < 0) {
        F.reset();
        error = EBADF;
        return EOpenResult::Failed;
    }
    return OpenFolderAt(parent.F->fd, name.c_str(), F, error);
}

bool TFolder::Read(std::vector<TEntry>& entries, std::size_t most, int& error) {
    error = 0;
    if (!F || F->listed)
        return false;
    if (!F->stream) {
        if (F->fd < 0) {
            error = EBADF;
            return false;
        }
        F->stream = ::fdopendir(F->fd);
        if (!F->stream) {
            error = errno;
            return false;
        }
    }
    for (std::size_t n = 0; n < most;) {
        errno = 0;
        const dirent* entry = ::readdir(F->stream);
        if (!entry) {
            // The end of the listing leaves errno alone; a failure (EIO from a damaged or
            // removed key) sets it.
            error = errno;
            F->listed = true;
            return false;
        }
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st;
            if (::fstatat(F->fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == ENOENT)
                    continue; // gone since it was listed
                error = errno;
                F->listed = true;
                return false;
            }
            type = S_ISDIR(st.st_mode)   ? DT_DIR
                   : S_ISREG(st.st_mode) ? DT_REG
                   : S_ISLNK(st.st_mode) ? DT_LNK
                                         : DT_UNKNOWN;
        }
        const EEntryKind kind = type == DT_DIR   ? EEntryKind::Folder
                                : type == DT_REG ? EEntryKind::File
                                : type == DT_LNK ? EEntryKind::Link
                                                 : EEntryKind::Other;
        entries.push_back({name, kind});
        ++n;
    }
    return true;
}

void TFolder::Suspend() {
    if (F)
        F->Close();
}

bool TFolder::Resume(const TFolder& child, int& error) {
    if (!F || !child.F || child.F->fd < 0) {
        error = EBADF;
        return false;
    }
    if (F->fd >= 0)
        return true;
    const int fd = ::openat(child.F->fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        error = errno;
        ::close(fd);
        return false;
    }
    if (st.st_dev != F->dev || st.st_ino != F->ino) {
        // The sub-folder was moved away while it was searched.
        error = ESTALE;
        ::close(fd);
        return false;
    }
    F->fd = fd;
    return true;
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
    const int folderFd = folder && folder->F ? folder->F->fd : AT_FDCWD;
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
