#pragma once
// Mounting keys that nothing else mounts. Windows gives every new volume a drive letter by
// itself; on Linux a filesystem gets a mount point only when something mounts it, and some
// desktops (or none at all) do not. While armed, TAutoMounter watches udev's block devices
// and, for a filesystem on a USB device that nobody has mounted 1.5 s after it appeared, asks
// udisks2 on the system bus to mount it for the user, as a file manager would. The new mount
// then reaches the wizard as any other change of the mount table. Where there is no bus, no
// udisks, no permission or the mount fails, and nothing else mounts any volume of the device
// either, the watcher gives notice of a device that could not be opened.

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/linux/roots.h"

namespace platform::lnx {

using TUdevProperties = std::map<std::string, std::string>;

// Whether a block device that udev describes so is one to mount: a disk or partition on USB
// carrying a filesystem udev recognised, not marked to be ignored.
bool WantsMount(const TUdevProperties& props);

// Which devices to mount and when, apart from udev, the bus and the clock: fed with udev's
// events, it names each wanted device once per plug, `grace` after it appeared, unless it has
// been mounted by then.
class TMountPlanner {
public:
    using TClock = std::chrono::steady_clock;
    explicit TMountPlanner(std::chrono::milliseconds grace = std::chrono::milliseconds(1500))
        : FGrace(grace) {}

    void SetArmed(bool armed);
    bool Armed() const { return FArmed; }
    void OnEvent(const std::string& action, const TUdevProperties& props, TClock::time_point now);
    // When the next device is due, if any.
    std::optional<TClock::time_point> NextDeadline() const;
    // The kernel names of the devices due at `now` that `isMounted` (by MAJOR:MINOR) says
    // nobody has mounted; each is named once.
    std::vector<std::string> TakeDue(TClock::time_point now,
                                     const std::function<bool(const std::string&)>& isMounted);

private:
    struct TPending {
        std::string Name;
        std::string DevNum; // MAJOR:MINOR
        TClock::time_point Due;
    };
    std::chrono::milliseconds FGrace;
    bool FArmed = false;
    std::map<std::string, TPending> FPending; // by DEVPATH
    std::set<std::string> FDone;              // DEVPATH#DISKSEQ: handled for this plug
};

// Which USB devices (a key, a card reader) nothing could open, apart from udev, the bus and the
// clock: a device one of whose block devices appeared while armed is due `settle` after its last
// event and after the last mount attempt for it, and is named then if none of its block devices
// is mounted. A disk without a medium (an empty card slot) and a CD drive do not count. Each plug
// is named once.
class TOpenCheck {
public:
    using TClock = std::chrono::steady_clock;
    explicit TOpenCheck(std::chrono::milliseconds settle = std::chrono::seconds(3))
        : FSettle(settle) {}

    void SetArmed(bool armed);
    // `hasMedium` is false for a disk whose size is 0.
    void OnEvent(const std::string& action, const TUdevProperties& props, TClock::time_point now,
                 bool hasMedium = true);
    // The mount attempt for block device `name` (a kernel name) has ended, however.
    void MountTried(const std::string& name, TClock::time_point now);
    std::optional<TClock::time_point> NextDeadline() const;
    // The USB devices (their sysfs paths) due at `now` none of whose block devices `isMounted`
    // (by MAJOR:MINOR) says is mounted.
    std::vector<std::string> TakeUnopened(TClock::time_point now,
                                          const std::function<bool(const std::string&)>& isMounted);

private:
    struct TDevice {
        std::set<std::string> Names;   // kernel names of its block devices
        std::set<std::string> DevNums; // and their MAJOR:MINOR
        TClock::time_point Due;
    };
    std::chrono::milliseconds FSettle;
    bool FArmed = false;
    std::map<std::string, TDevice> FDevices; // by the sysfs path of the USB device
    std::set<std::string> FDone;             // looked at for this plug
};

// Whether the mount table at `mountInfoPath` holds a mount of block device MAJOR:MINOR.
bool DeviceMounted(const std::string& mountInfoPath, const std::string& devNum);

// Asks udisks2 on the system bus to mount the filesystem of block device `name` (a kernel name
// such as "sdb1") without asking the user anything; udisks2 names the device's object itself.
// Waits at most `timeout` for both; the error text on failure.
std::optional<std::string> RequestMount(const std::string& name, std::chrono::milliseconds timeout);

// The running watcher: a thread of its own that reads udev's monitor and makes the calls, so
// that the window never waits for udev or the bus.
class TAutoMounter {
public:
    // `mountInfoPath` is the table that says what is mounted already.
    explicit TAutoMounter(std::string mountInfoPath = KernelMountInfo,
                          std::chrono::milliseconds grace = std::chrono::milliseconds(1500));
    ~TAutoMounter();
    TAutoMounter(const TAutoMounter&) = delete;
    TAutoMounter& operator=(const TAutoMounter&) = delete;

    // Mounting happens only while armed; disarming forgets devices still waiting.
    void SetArmed(bool armed);
    // Readable when a USB device came while armed that nothing could open (TOpenCheck).
    int NoticeFd() const;
    // Clears that notice; true if there was one.
    bool TakeUnopened();

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

} // namespace platform::lnx
