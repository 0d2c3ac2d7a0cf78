#include "platform/linux/drive_watch.h"

#include "platform/linux/automount.h"
#include "platform/linux/device_notice.h"
#include "platform/linux/roots.h"

namespace platform {
namespace lnx {
namespace {

// The mount table's change notice, with the automounter beside it on the real machine: a
// simulated table has no devices behind it to mount.
class TMountTableWatch : public IDriveWatch {
public:
    explicit TMountTableWatch(const std::string& mountInfo) : FNotice(mountInfo) {
        if (mountInfo == KernelMountInfo)
            FAutoMounter = std::make_unique<TAutoMounter>(mountInfo);
    }

    EKind Kind() const override { return FNotice.Kind(); }
    int Fd() const override { return FNotice.Fd(); }
    bool Acknowledge() override { return FNotice.Acknowledge(); }
    void SetArmed(bool armed) override {
        if (FAutoMounter)
            FAutoMounter->SetArmed(armed);
    }

private:
    TDeviceNotice FNotice;
    std::unique_ptr<TAutoMounter> FAutoMounter;
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
