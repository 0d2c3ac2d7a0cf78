#include "platform/linux/drive_watch.h"

#include <sys/epoll.h>

#include "platform/linux/automount.h"
#include "platform/linux/device_notice.h"
#include "platform/linux/roots.h"

namespace platform {
namespace lnx {
namespace {

// The mount table's change notice, with the automounter beside it on the real machine: a
// simulated table has no devices behind it to mount. With the automounter, one epoll descriptor
// stands for both its notice and the table's.
class TMountTableWatch : public IDriveWatch {
public:
    explicit TMountTableWatch(const std::string& mountInfo) : FNotice(mountInfo) {
        if (mountInfo != KernelMountInfo || FNotice.Kind() != EKind::Priority)
            return;
        FAutoMounter = std::make_unique<TAutoMounter>(mountInfo);
        if (FAutoMounter->NoticeFd() < 0)
            return;
        FBoth.Reset(::epoll_create1(EPOLL_CLOEXEC));
        epoll_event table{}, unopened{};
        table.events = EPOLLPRI;
        table.data.fd = FNotice.Fd();
        unopened.events = EPOLLIN;
        unopened.data.fd = FAutoMounter->NoticeFd();
        if (FBoth.IsOpen() &&
            (::epoll_ctl(FBoth.Get(), EPOLL_CTL_ADD, FNotice.Fd(), &table) < 0 ||
             ::epoll_ctl(FBoth.Get(), EPOLL_CTL_ADD, FAutoMounter->NoticeFd(), &unopened) < 0))
            FBoth.Reset(-1);
    }

    EKind Kind() const override { return FBoth.IsOpen() ? EKind::Readable : FNotice.Kind(); }
    int Fd() const override { return FBoth.IsOpen() ? FBoth.Get() : FNotice.Fd(); }
    TNotice Acknowledge() override {
        if (!FBoth.IsOpen())
            return {.Drives = FNotice.Acknowledge()};
        // Polling the epoll descriptor already takes a change of the table (epoll asks the
        // table itself), so which of the two woke it cannot be told afterwards: every notice
        // counts as one about the drives, as every notice of the kernel's table does anyway.
        // Once both are taken, the epoll descriptor is quiet again.
        FNotice.Acknowledge();
        return {.Drives = true, .Unopened = FAutoMounter->TakeUnopened()};
    }
    void SetArmed(bool armed) override {
        if (FAutoMounter)
            FAutoMounter->SetArmed(armed);
    }

private:
    TDeviceNotice FNotice;
    std::unique_ptr<TAutoMounter> FAutoMounter;
    TUniqueFd FBoth;
};

} // namespace

std::unique_ptr<IDriveWatch> MakeDriveWatch(const std::string& mountInfo) {
    return std::make_unique<TMountTableWatch>(mountInfo);
}

} // namespace lnx

std::unique_ptr<IDriveWatch> MakeDriveWatch() {
    return lnx::MakeDriveWatch(lnx::Roots().MountInfo);
}

} // namespace platform
