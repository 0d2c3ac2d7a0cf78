#include "platform/linux/device_notice.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr long ProcSuperMagic = 0x9fa0;

constexpr uint32_t FileEvents =
    IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;

std::string SystemError(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

} // namespace

TDeviceNotice::TDeviceNotice(const std::string& path) : FPath(path) {
    if (path.empty() || path.back() == '/') {
        FError = "No mount table file named: \"" + path + "\"";
        return;
    }
    lnx::TUniqueFd table(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (table.IsOpen()) {
        const int fd = table.Get();
        struct statfs fs;
        if (::fstatfs(fd, &fs) == 0 && static_cast<long>(fs.f_type) == ProcSuperMagic) {
            // The kernel's mount tables answer poll() themselves and never as writable; a
            // file that does not (the kernel's default answer says readable and writable at
            // once) will never signal a change.
            pollfd p{fd, static_cast<short>(POLLIN | POLLOUT | POLLPRI), 0};
            int ready;
            while ((ready = ::poll(&p, 1, 0)) < 0 && errno == EINTR) {
            }
            if (ready < 0 || (p.revents & (POLLOUT | POLLNVAL)) != 0) {
                FError = "\"" + path + "\" gives no notice of changes";
                return;
            }
            FFd = std::move(table);
            FKind = EKind::Priority;
            return;
        }
    }

    // A plain file: watch its folder for events that name it, so that the watch outlives the
    // file being replaced or removed and created again.
    std::string target = path;
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        target = real;
        std::free(real);
    }
    const std::size_t slash = target.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    FName = slash == std::string::npos ? target : target.substr(slash + 1);

    lnx::TUniqueFd in(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!in.IsOpen()) {
        FError = SystemError("Cannot start watching \"" + path + "\"", errno);
        return;
    }
    if (::inotify_add_watch(in.Get(), folder.c_str(), FileEvents | IN_ONLYDIR) < 0) {
        FError = SystemError("Cannot watch \"" + folder + "\"", errno);
        return;
    }
    FFd = std::move(in);
    FKind = EKind::Readable;
}

short TDeviceNotice::PollEvents() const {
    switch (FKind) {
    case EKind::Priority:
        return POLLPRI;
    case EKind::Readable:
        return POLLIN;
    case EKind::None:
        break;
    }
    return 0;
}

bool TDeviceNotice::Acknowledge() {
    if (FKind == EKind::Priority) {
        // Polling the kernel's table hands over (and so clears) a pending change.
        pollfd p{FFd.Get(), POLLPRI, 0};
        while (::poll(&p, 1, 0) < 0 && errno == EINTR) {
        }
        return true;
    }
    if (FKind != EKind::Readable)
        return false;

    bool aboutFile = false;
    alignas(inotify_event) char buf[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
    for (;;) {
        const ssize_t got = ::read(FFd.Get(), buf, sizeof buf);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break; // drained (EAGAIN), or the watch is gone
        for (ssize_t at = 0; at < got;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buf + at);
            if (ev->mask & IN_Q_OVERFLOW)
                aboutFile = true; // events were lost: assume the file was among them
            else if (ev->len > 0 && FName == ev->name)
                aboutFile = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
        }
    }
    return aboutFile;
}

} // namespace platform
