#include "platform/linux/automount.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <thread>
#include <unistd.h>

#include <libudev.h>

#include "platform/linux/sysfs.h"

namespace platform::lnx {

namespace {

std::string Get(const TUdevProperties& props, const char* key) {
    const auto it = props.find(key);
    return it == props.end() ? std::string() : it->second;
}

// The kernel name ("sdb1") and MAJOR:MINOR of the block device udev describes.
std::string KernelName(const TUdevProperties& props) {
    const std::string node = Get(props, "DEVNAME");
    return node.substr(node.rfind('/') + 1);
}
std::string DevNum(const TUdevProperties& props) {
    return Get(props, "MAJOR") + ":" + Get(props, "MINOR");
}

// The sysfs path of the USB interface a block device hangs below, the same for every LUN and
// partition of the device; empty for a device that is not on USB storage.
std::string UsbInterfaceOf(const TUdevProperties& props) {
    const std::string devPath = Get(props, "DEVPATH");
    const auto host = devPath.find("/host");
    if (Get(props, "ID_BUS") != "usb" || host == std::string::npos)
        return {};
    return devPath.substr(0, host);
}

// The earliest Due among the map's values, if any.
template <class TMap>
std::optional<std::chrono::steady_clock::time_point> EarliestDue(const TMap& map) {
    std::optional<std::chrono::steady_clock::time_point> next;
    for (const auto& [key, value] : map)
        if (!next || value.Due < *next)
            next = value.Due;
    return next;
}

} // namespace

bool WantsMount(const TUdevProperties& props) {
    const std::string type = Get(props, "DEVTYPE");
    return Get(props, "SUBSYSTEM") == "block" && (type == "disk" || type == "partition") &&
           Get(props, "ID_BUS") == "usb" && Get(props, "ID_FS_USAGE") == "filesystem" &&
           Get(props, "UDISKS_IGNORE") != "1" && !Get(props, "DEVNAME").empty();
}

void TMountPlanner::SetArmed(bool armed) {
    FArmed = armed;
    if (!armed)
        FPending.clear();
}

void TMountPlanner::OnEvent(const std::string& action, const TUdevProperties& props,
                            TClock::time_point now) {
    const std::string devPath = Get(props, "DEVPATH");
    if (devPath.empty())
        return;
    if (action == "remove") {
        // Pulled out: the next plug of the same device is a new one.
        FPending.erase(devPath);
        for (auto it = FDone.begin(); it != FDone.end();)
            it = it->starts_with(devPath + "#") ? FDone.erase(it) : std::next(it);
        return;
    }
    if (!FArmed || (action != "add" && action != "change") || !WantsMount(props))
        return;
    const std::string plug = devPath + "#" + Get(props, "DISKSEQ");
    if (FDone.count(plug) || FPending.count(devPath))
        return;
    FPending[devPath] = {KernelName(props), DevNum(props), now + FGrace};
    FDone.insert(plug);
}

std::optional<TMountPlanner::TClock::time_point> TMountPlanner::NextDeadline() const {
    return EarliestDue(FPending);
}

std::vector<std::string>
TMountPlanner::TakeDue(TClock::time_point now,
                       const std::function<bool(const std::string&)>& isMounted) {
    std::vector<std::string> due;
    for (auto it = FPending.begin(); it != FPending.end();) {
        if (it->second.Due > now) {
            ++it;
            continue;
        }
        if (!isMounted(it->second.DevNum)) // the desktop may have mounted it meanwhile
            due.push_back(it->second.Name);
        it = FPending.erase(it);
    }
    return due;
}

void TOpenCheck::SetArmed(bool armed) {
    FArmed = armed;
    if (!armed)
        FDevices.clear();
}

void TOpenCheck::OnEvent(const std::string& action, const TUdevProperties& props,
                         TClock::time_point now, bool hasMedium) {
    const std::string usb = UsbInterfaceOf(props);
    if (usb.empty() || Get(props, "SUBSYSTEM") != "block")
        return;
    if (action == "remove") {
        // Pulled out: nothing to tell, and the next plug is a new one.
        FDevices.erase(usb);
        FDone.erase(usb);
        return;
    }
    const std::string type = Get(props, "DEVTYPE");
    if (!FArmed || (action != "add" && action != "change") ||
        (type != "disk" && type != "partition") || Get(props, "ID_CDROM") == "1" || !hasMedium ||
        FDone.count(usb) || Get(props, "DEVNAME").empty())
        return;
    TDevice& d = FDevices[usb];
    d.Names.insert(KernelName(props));
    d.DevNums.insert(DevNum(props));
    d.Due = now + FSettle;
}

void TOpenCheck::MountTried(const std::string& name, TClock::time_point now) {
    for (auto& [usb, d] : FDevices)
        if (d.Names.count(name))
            d.Due = std::max(d.Due, now + FSettle);
}

std::optional<TOpenCheck::TClock::time_point> TOpenCheck::NextDeadline() const {
    return EarliestDue(FDevices);
}

std::vector<std::string>
TOpenCheck::TakeUnopened(TClock::time_point now,
                         const std::function<bool(const std::string&)>& isMounted) {
    std::vector<std::string> unopened;
    for (auto it = FDevices.begin(); it != FDevices.end();) {
        if (it->second.Due > now) {
            ++it;
            continue;
        }
        const auto& nums = it->second.DevNums;
        if (std::none_of(nums.begin(), nums.end(), isMounted))
            unopened.push_back(it->first);
        FDone.insert(it->first);
        it = FDevices.erase(it);
    }
    return unopened;
}

bool DeviceMounted(const std::string& mountInfoPath, const std::string& devNum) {
    const auto table = ReadMountTable(mountInfoPath);
    if (!table)
        return false;
    for (const TMountEntry& m : *table)
        if (std::to_string(m.Major) + ":" + std::to_string(m.Minor) == devNum)
            return true;
    return false;
}

namespace {

struct TBusDeleter {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct TMessageDeleter {
    void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
struct TSlotDeleter {
    void operator()(sd_bus_slot* s) const { sd_bus_slot_unref(s); }
};

using TMessagePtr = std::unique_ptr<sd_bus_message, TMessageDeleter>;
using TClock = std::chrono::steady_clock;

struct TCallState {
    bool Done = false;
    TMessagePtr Reply;
};

int OnReply(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    auto* state = static_cast<TCallState*>(userdata);
    state->Done = true;
    state->Reply.reset(sd_bus_message_ref(reply));
    return 0;
}

std::string ErrnoText(const char* what, int r) {
    return std::string(what) + ": " + std::strerror(-r);
}

// A call of udisks2's method `member` on its object `path`, still without arguments.
std::optional<std::string> NewCall(sd_bus* bus, const char* path, const char* interface,
                                   const char* member, TMessagePtr& message) {
    sd_bus_message* raw = nullptr;
    const int r = sd_bus_message_new_method_call(bus, &raw, "org.freedesktop.UDisks2", path,
                                                 interface, member);
    message.reset(raw);
    return r < 0 ? std::optional(ErrnoText("bad call", r)) : std::nullopt;
}

// Sends `message` and waits for its answer until `until`; `cancelFd` becoming readable with
// `cancelled` true cuts the wait short. The error text, or nothing with `reply` set.
std::optional<std::string> Call(sd_bus* bus, sd_bus_message* message, TClock::time_point until,
                                int cancelFd, const std::atomic<bool>* cancelled,
                                TMessagePtr& reply) {
    TCallState state;
    sd_bus_slot* rawSlot = nullptr;
    const auto usec = std::max<long long>(
        1, std::chrono::duration_cast<std::chrono::microseconds>(until - TClock::now()).count());
    int r = sd_bus_call_async(bus, &rawSlot, message, OnReply, &state, static_cast<uint64_t>(usec));
    if (r < 0)
        return ErrnoText("call not sent", r);
    std::unique_ptr<sd_bus_slot, TSlotDeleter> slot(rawSlot);
    // sd-bus answers with a time-out error itself; the wait allows it a second more.
    const auto giveUp = until + std::chrono::seconds(1);
    while (!state.Done) {
        r = sd_bus_process(bus, nullptr);
        if (r < 0)
            return ErrnoText("bus", r);
        if (r > 0)
            continue;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - TClock::now());
        if (left.count() <= 0)
            return std::string("no answer");
        pollfd fds[2] = {{sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)), 0},
                         {cancelFd, POLLIN, 0}};
        if (::poll(fds, cancelFd >= 0 ? 2 : 1, static_cast<int>(left.count())) < 0 &&
            errno != EINTR)
            return ErrnoText("poll", -errno);
        if (cancelFd >= 0 && (fds[1].revents & POLLIN)) {
            if (cancelled && *cancelled)
                return std::string("cancelled");
            uint64_t count = 0; // a wake-up for something else: taken, the wait goes on
            [[maybe_unused]] const auto n = ::read(cancelFd, &count, sizeof count);
        }
    }
    if (const sd_bus_error* e = sd_bus_message_get_error(state.Reply.get()))
        return std::string(e->name ? e->name : "error") + ": " + (e->message ? e->message : "");
    reply = std::move(state.Reply);
    return std::nullopt;
}

// The object udisks2 gives block device `name`, as udisks2 itself names it.
std::optional<std::string> ResolveBlock(sd_bus* bus, const std::string& name,
                                        TClock::time_point until, int cancelFd,
                                        const std::atomic<bool>* cancelled, std::string& object) {
    TMessagePtr message;
    if (auto e = NewCall(bus, "/org/freedesktop/UDisks2/Manager", "org.freedesktop.UDisks2.Manager",
                         "ResolveDevice", message))
        return e;
    const std::string device = "/dev/" + name;
    int r = sd_bus_message_append(message.get(), "a{sv}a{sv}", 1, "path", "s", device.c_str(), 0);
    if (r < 0)
        return ErrnoText("bad call", r);
    TMessagePtr reply;
    if (auto e = Call(bus, message.get(), until, cancelFd, cancelled, reply))
        return e;
    const char* path = nullptr;
    r = sd_bus_message_enter_container(reply.get(), 'a', "o");
    if (r >= 0)
        r = sd_bus_message_read(reply.get(), "o", &path);
    if (r <= 0 || !path)
        return "udisks knows no block device " + device;
    object = path;
    return std::nullopt;
}

// Asks udisks2 for the device's object, then has it mount the filesystem there: one time-out for
// both calls on the one connection.
std::optional<std::string> CallMount(const std::string& name, std::chrono::milliseconds timeout,
                                     int cancelFd, const std::atomic<bool>* cancelled) {
    const auto until = TClock::now() + timeout;
    sd_bus* raw = nullptr;
    if (const int r = sd_bus_open_system(&raw); r < 0)
        return ErrnoText("no system bus", r);
    std::unique_ptr<sd_bus, TBusDeleter> bus(raw);
    std::string object;
    if (auto e = ResolveBlock(bus.get(), name, until, cancelFd, cancelled, object))
        return e;
    TMessagePtr message;
    if (auto e = NewCall(bus.get(), object.c_str(), "org.freedesktop.UDisks2.Filesystem", "Mount",
                         message))
        return e;
    // No password prompt: where the user may not mount without one, the wizard just waits.
    const int r =
        sd_bus_message_append(message.get(), "a{sv}", 1, "auth.no_user_interaction", "b", 1);
    if (r < 0)
        return ErrnoText("bad call", r);
    TMessagePtr reply;
    return Call(bus.get(), message.get(), until, cancelFd, cancelled, reply);
}

} // namespace

std::optional<std::string> RequestMount(const std::string& name,
                                        std::chrono::milliseconds timeout) {
    return CallMount(name, timeout, -1, nullptr);
}

struct TAutoMounter::TImpl {
    std::string MountInfo;
    TMountPlanner Planner;
    TOpenCheck Check;
    std::mutex Lock; // guards Planner and Check
    udev* Udev = nullptr;
    udev_monitor* Monitor = nullptr;
    int WakeFd = -1;
    int NoticeFd = -1; // readable: a device could not be opened
    std::atomic<bool> Stop{false};
    std::thread Worker;

    TImpl(std::string mountInfo, std::chrono::milliseconds grace)
        : MountInfo(std::move(mountInfo)), Planner(grace) {}

    void Wake() const {
        const uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(WakeFd, &one, sizeof one);
    }

    void ReadEvents() {
        while (udev_device* dev = udev_monitor_receive_device(Monitor)) {
            TUdevProperties props;
            udev_list_entry* entry = nullptr;
            udev_list_entry_foreach(entry, udev_device_get_properties_list_entry(dev)) {
                const char* value = udev_list_entry_get_value(entry);
                props[udev_list_entry_get_name(entry)] = value ? value : "";
            }
            const char* action = udev_device_get_action(dev);
            const char* size = udev_device_get_sysattr_value(dev, "size");
            const bool hasMedium = !size || std::string(size) != "0";
            {
                std::lock_guard lock(Lock);
                const auto now = TMountPlanner::TClock::now();
                Planner.OnEvent(action ? action : "", props, now);
                Check.OnEvent(action ? action : "", props, now, hasMedium);
            }
            udev_device_unref(dev);
        }
    }

    void Run() {
        while (!Stop) {
            int timeout = -1;
            {
                std::lock_guard lock(Lock);
                auto next = Planner.NextDeadline();
                if (const auto check = Check.NextDeadline(); check && (!next || *check < *next))
                    next = check;
                if (next)
                    timeout = static_cast<int>(std::max<long long>(
                        0, std::chrono::duration_cast<std::chrono::milliseconds>(
                               *next - TMountPlanner::TClock::now())
                                   .count() +
                               1));
            }
            pollfd fds[2] = {{udev_monitor_get_fd(Monitor), POLLIN, 0}, {WakeFd, POLLIN, 0}};
            if (::poll(fds, 2, timeout) < 0 && errno != EINTR)
                break;
            if (fds[1].revents & POLLIN) {
                uint64_t count = 0;
                [[maybe_unused]] const auto n = ::read(WakeFd, &count, sizeof count);
            }
            if (Stop)
                break;
            if (fds[0].revents & POLLIN)
                ReadEvents();
            std::vector<std::string> due;
            {
                std::lock_guard lock(Lock);
                due = Planner.TakeDue(TMountPlanner::TClock::now(), [&](const std::string& dev) {
                    return DeviceMounted(MountInfo, dev);
                });
            }
            // A refusal or failure changes nothing at once: the wizard goes on waiting, and
            // learns of a device none of whose volumes anybody could mount a little later.
            for (const std::string& name : due) {
                CallMount(name, std::chrono::seconds(10), WakeFd, &Stop);
                std::lock_guard lock(Lock);
                Check.MountTried(name, TMountPlanner::TClock::now());
            }
            bool unopened = false;
            {
                std::lock_guard lock(Lock);
                unopened = !Check
                                .TakeUnopened(TMountPlanner::TClock::now(),
                                              [&](const std::string& dev) {
                                                  return DeviceMounted(MountInfo, dev);
                                              })
                                .empty();
            }
            if (unopened && !Stop) {
                const uint64_t one = 1;
                [[maybe_unused]] const auto n = ::write(NoticeFd, &one, sizeof one);
            }
        }
    }
};

TAutoMounter::TAutoMounter(std::string mountInfoPath, std::chrono::milliseconds grace)
    : FImpl(std::make_unique<TImpl>(std::move(mountInfoPath), grace)) {
    TImpl& d = *FImpl;
    d.WakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    d.NoticeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    d.Udev = udev_new();
    if (d.Udev)
        d.Monitor = udev_monitor_new_from_netlink(d.Udev, "udev");
    if (d.WakeFd < 0 || d.NoticeFd < 0 || !d.Monitor ||
        udev_monitor_filter_add_match_subsystem_devtype(d.Monitor, "block", nullptr) < 0 ||
        udev_monitor_enable_receiving(d.Monitor) < 0)
        return; // without udev's events nothing is mounted; detection works as before
    d.Worker = std::thread([&d] { d.Run(); });
}

TAutoMounter::~TAutoMounter() {
    TImpl& d = *FImpl;
    d.Stop = true;
    if (d.Worker.joinable()) {
        d.Wake();
        d.Worker.join();
    }
    if (d.Monitor)
        udev_monitor_unref(d.Monitor);
    if (d.Udev)
        udev_unref(d.Udev);
    if (d.WakeFd >= 0)
        ::close(d.WakeFd);
    if (d.NoticeFd >= 0)
        ::close(d.NoticeFd);
}

void TAutoMounter::SetArmed(bool armed) {
    {
        std::lock_guard lock(FImpl->Lock);
        FImpl->Planner.SetArmed(armed);
        FImpl->Check.SetArmed(armed);
    }
    if (FImpl->Worker.joinable())
        FImpl->Wake();
}

int TAutoMounter::NoticeFd() const {
    return FImpl->Worker.joinable() ? FImpl->NoticeFd : -1;
}

bool TAutoMounter::TakeUnopened() {
    uint64_t count = 0;
    return FImpl->NoticeFd >= 0 && ::read(FImpl->NoticeFd, &count, sizeof count) > 0 && count > 0;
}

} // namespace platform::lnx
