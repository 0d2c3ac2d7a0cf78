// Mounting keys that nothing else mounts: which devices, when and how often, on udev
// properties recorded from Debian's kernel with a USB stick and a USB CD-ROM plugged in; and
// the call to udisks2 against a stand-in on a private bus.

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>

#include <gtest/gtest.h>

#include "platform/linux/automount.h"

extern char** environ;

using namespace platform::lnx;
using namespace std::chrono_literals;

namespace {

TUdevProperties Recorded(const std::string& device) {
    std::ifstream in(std::string(PENDOCK_SOURCE_DIR) + "/tests/data/vm/udev/" + device +
                     ".properties");
    TUdevProperties props;
    std::string line;
    while (std::getline(in, line))
        if (const auto eq = line.find('='); eq != std::string::npos)
            props[line.substr(0, eq)] = line.substr(eq + 1);
    if (props.empty())
        throw std::runtime_error("no recording for " + device);
    return props;
}

const auto T0 = TMountPlanner::TClock::time_point() + 1h;
const auto NotMounted = [](const std::string&) { return false; };

} // namespace

TEST(AutoMount, WhichDevices) {
    EXPECT_TRUE(WantsMount(Recorded("sda1"))) << "the key's FAT partition";
    EXPECT_FALSE(WantsMount(Recorded("sda"))) << "a partition table, no filesystem";
    EXPECT_FALSE(WantsMount(Recorded("vda"))) << "the system disk is not on USB";
    EXPECT_TRUE(WantsMount(Recorded("sr0"))) << "a disc in a USB drive gets a letter too";
    auto ignored = Recorded("sda1");
    ignored["UDISKS_IGNORE"] = "1";
    EXPECT_FALSE(WantsMount(ignored));
}

TEST(AutoMount, OnceAPlugAfterTheDesktopsGraceTime) {
    TMountPlanner p(1500ms);
    const auto key = Recorded("sda1");
    p.OnEvent("add", key, T0);
    EXPECT_FALSE(p.NextDeadline()) << "not armed: a key plugged before Next is left alone";

    p.SetArmed(true);
    p.OnEvent("add", key, T0);
    p.OnEvent("add", Recorded("sda"), T0);
    ASSERT_EQ(p.NextDeadline(), T0 + 1500ms);
    EXPECT_TRUE(p.TakeDue(T0 + 1499ms, NotMounted).empty());
    EXPECT_EQ(p.TakeDue(T0 + 1500ms, NotMounted), std::vector<std::string>{"sda1"});
    p.OnEvent("change", key, T0 + 2s);
    EXPECT_FALSE(p.NextDeadline()) << "the same plug is not mounted twice";

    p.OnEvent("remove", key, T0 + 3s);
    auto again = key;
    again["DISKSEQ"] = "3";
    p.OnEvent("add", again, T0 + 4s);
    std::string asked;
    EXPECT_TRUE(p.TakeDue(T0 + 6s,
                          [&](const std::string& dev) {
                              asked = dev;
                              return true;
                          })
                    .empty())
        << "mounted by the desktop meanwhile";
    EXPECT_EQ(asked, "8:1");

    p.OnEvent("remove", again, T0 + 7s);
    p.OnEvent("add", key, T0 + 8s);
    p.SetArmed(false);
    EXPECT_FALSE(p.NextDeadline()) << "Cancel forgets what was waiting";
}

TEST(AutoMount, AUsbDeviceNothingCouldOpenIsNamedOnceAPlug) {
    TOpenCheck c(3s);
    const auto disk = Recorded("sda"), part = Recorded("sda1");
    const std::string usb = "/devices/pci0000:00/0000:00:04.0/usb2/2-1/2-1:1.0";
    c.SetArmed(true);
    c.OnEvent("add", disk, T0);
    c.OnEvent("add", part, T0);
    c.MountTried("sda1", T0 + 2s); // the wizard's own attempt failed after two seconds
    EXPECT_TRUE(c.TakeUnopened(T0 + 4s, NotMounted).empty()) << "due 3 s after the attempt";
    std::set<std::string> asked;
    const auto record = [&](const std::string& dev) {
        asked.insert(dev);
        return false;
    };
    EXPECT_EQ(c.TakeUnopened(T0 + 5s, record), std::vector<std::string>{usb});
    EXPECT_EQ(asked, (std::set<std::string>{"8:0", "8:1"})) << "every block device of the key";
    c.OnEvent("change", part, T0 + 6s);
    EXPECT_FALSE(c.NextDeadline()) << "named once a plug";

    // Plugged in again: one volume mounted is enough; a CD drive or an empty slot never counts.
    c.OnEvent("remove", part, T0 + 7s);
    c.OnEvent("add", disk, T0 + 8s);
    c.OnEvent("add", part, T0 + 8s);
    EXPECT_TRUE(
        c.TakeUnopened(T0 + 11s, [](const std::string& dev) { return dev == "8:1"; }).empty());
    c.OnEvent("add", Recorded("sr0"), T0 + 12s);
    auto slot = disk;
    slot["DEVPATH"] = "/devices/pci0000:00/0000:00:04.0/usb2/2-2/2-2:1.0/host3/target3:0:0/"
                      "3:0:0:0/block/sdc";
    c.OnEvent("add", slot, T0 + 12s, false);
    EXPECT_FALSE(c.NextDeadline());

    c.OnEvent("remove", disk, T0 + 13s);
    c.OnEvent("add", disk, T0 + 14s);
    c.SetArmed(false);
    EXPECT_FALSE(c.NextDeadline()) << "Cancel forgets what was waiting";
}

// A private bus with the udisks2 stand-in on it, as the system bus for this process.
class FakeUDisks : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("command -v dbus-daemon >/dev/null && /usr/bin/python3 -c 'import "
                        "dbusmock' 2>/dev/null") != 0)
            GTEST_SKIP() << "dbus-daemon or python3-dbusmock missing (tools/install-deps)";
        FILE* daemon = ::popen("dbus-daemon --session --fork --print-address=1 --print-pid=1 "
                               "--nopidfile --address=unix:tmpdir=/tmp",
                               "r");
        char address[512] = {}, pid[32] = {};
        ASSERT_TRUE(daemon && std::fgets(address, sizeof address, daemon) &&
                    std::fgets(pid, sizeof pid, daemon));
        ::pclose(daemon);
        FDaemon = std::atoi(pid);
        std::string a = address;
        a.pop_back();
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", a.c_str(), 1);
        const std::string tmpl =
            std::string(PENDOCK_SOURCE_DIR) + "/tests/lib/platform/linux/udisks2_mock.py";
        const char* argv[] = {"/usr/bin/python3", "-m",         "dbusmock",
                              "--template",       tmpl.c_str(), nullptr};
        ASSERT_EQ(
            ::posix_spawn(&FMock, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ), 0);
        for (int i = 0; i < 100; ++i) {
            if (std::system("dbus-send --system --print-reply --dest=org.freedesktop.UDisks2 "
                            "/org/freedesktop/UDisks2/block_devices/sdb1 "
                            "org.freedesktop.DBus.Introspectable.Introspect >/dev/null 2>&1") == 0)
                return;
            std::this_thread::sleep_for(100ms);
        }
        FAIL() << "the stand-in did not come up";
    }
    void TearDown() override {
        if (FMock > 0) {
            ::kill(FMock, SIGTERM);
            ::waitpid(FMock, nullptr, 0);
        }
        if (FDaemon > 0)
            ::kill(FDaemon, SIGTERM);
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
    pid_t FMock = -1;
    pid_t FDaemon = -1;
};

TEST_F(FakeUDisks, MountIsAskedWithoutPromptAndFailuresAreReported) {
    EXPECT_EQ(RequestMount("sdb1", 5s), std::nullopt);
    const auto refused = RequestMount("sdc1", 5s);
    ASSERT_TRUE(refused);
    EXPECT_NE(refused->find("NotAuthorized"), std::string::npos) << *refused;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(RequestMount("sdd1", 500ms)) << "no answer in time";
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2500ms);
    EXPECT_TRUE(RequestMount("sdz9", 5s)) << "a device udisks does not know";
}

TEST_F(FakeUDisks, TheDeviceIsFoundUnderTheObjectNameUDisksGivesIt) {
    // udisks writes "-" as "_2d" and keeps "_" in its object paths.
    EXPECT_EQ(RequestMount("dm-1", 5s), std::nullopt);
    EXPECT_EQ(RequestMount("odd_1", 5s), std::nullopt);
}

TEST(AutoMountBus, NoSystemBusIsAnErrorAtOnce) {
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(RequestMount("sdb1", 5s));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}
