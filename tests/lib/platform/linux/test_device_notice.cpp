// The mount-table change notice, on a plain file standing in for the table and on the
// kernel's own table in a mount namespace of its own.
#include "platform/linux/device_notice.h"
#include "platform/linux/roots.h"
#include "platform/roots.h"
#include "support/ChildCheck.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::TDeviceNotice;

namespace {

// Whether the notice's descriptor becomes ready within `ms` milliseconds.
bool Ready(const TDeviceNotice& n, int ms) {
    pollfd p{n.Fd(), n.PollEvents(), 0};
    int r;
    while ((r = ::poll(&p, 1, ms)) < 0 && errno == EINTR) {
    }
    return r > 0 && (p.revents & n.PollEvents()) != 0;
}

const char* const Line1 = "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n";
const char* const Line2 =
    "97 22 8:17 / /media/user/KEY rw,nosuid,nodev shared:50 - vfat /dev/sdb1 rw\n";

class DeviceNoticeFile : public ::testing::Test {
protected:
    void SetUp() override {
        Table = Folder / "mountinfo";
        std::ofstream(Table) << Line1;
    }
    void Append(const fs::path& file, const char* text) const {
        std::ofstream(file, std::ios::app) << text;
    }

    TTempDir Tmp{"pendock-notice"};
    const fs::path Folder = Tmp.Path();
    fs::path Table;
};

TEST_F(DeviceNoticeFile, QuietUntilTheTableChanges) {
    TDeviceNotice n(Table.string());
    ASSERT_TRUE(n.IsOpen()) << n.ErrorText();
    EXPECT_EQ(n.Kind(), TDeviceNotice::EKind::Readable);
    EXPECT_EQ(n.PollEvents(), POLLIN);
    EXPECT_FALSE(Ready(n, 200));

    Append(Table, Line2); // the key is plugged in
    ASSERT_TRUE(Ready(n, 2000));
    EXPECT_TRUE(n.Acknowledge());
    EXPECT_FALSE(Ready(n, 100)) << "acknowledged notice still pending";

    std::ofstream(Table) << Line1; // and pulled out again
    ASSERT_TRUE(Ready(n, 2000));
    EXPECT_TRUE(n.Acknowledge());
    EXPECT_FALSE(Ready(n, 100));
}

TEST_F(DeviceNoticeFile, SurvivesTheFileBeingReplacedOrRemoved) {
    TDeviceNotice n(Table.string());
    ASSERT_TRUE(n.IsOpen()) << n.ErrorText();
    const fs::path fresh = Folder / "mountinfo.new";
    std::ofstream(fresh) << Line1 << Line2;
    fs::rename(fresh, Table);
    ASSERT_TRUE(Ready(n, 2000));
    EXPECT_TRUE(n.Acknowledge());

    Append(Table, Line2); // the new file is watched as well
    ASSERT_TRUE(Ready(n, 2000));
    EXPECT_TRUE(n.Acknowledge());

    fs::remove(Table);
    ASSERT_TRUE(Ready(n, 2000));
    EXPECT_TRUE(n.Acknowledge());
    std::ofstream(Table) << Line1;
    ASSERT_TRUE(Ready(n, 2000));
    EXPECT_TRUE(n.Acknowledge());
    EXPECT_FALSE(Ready(n, 100));
}

TEST_F(DeviceNoticeFile, OtherFilesInTheFolderAreNoNotice) {
    TDeviceNotice n(Table.string());
    ASSERT_TRUE(n.IsOpen()) << n.ErrorText();
    std::ofstream(Folder / "mountinfo.log") << "unrelated\n";
    ASSERT_TRUE(Ready(n, 2000));
    EXPECT_FALSE(n.Acknowledge());
    EXPECT_FALSE(Ready(n, 100));
}

TEST_F(DeviceNoticeFile, TableNotThereYetOrNoFolder) {
    fs::remove(Table);
    TDeviceNotice later(Table.string());
    ASSERT_TRUE(later.IsOpen()) << later.ErrorText();
    EXPECT_FALSE(Ready(later, 100));
    std::ofstream(Table) << Line1;
    ASSERT_TRUE(Ready(later, 2000));
    EXPECT_TRUE(later.Acknowledge());

    TDeviceNotice none((Folder / "no-such-folder" / "mountinfo").string());
    EXPECT_FALSE(none.IsOpen());
    EXPECT_EQ(none.Kind(), TDeviceNotice::EKind::None);
    EXPECT_EQ(none.Fd(), -1);
    EXPECT_EQ(none.PollEvents(), 0);
    EXPECT_NE(none.ErrorText().find("no-such-folder"), std::string::npos) << none.ErrorText();
    EXPECT_FALSE(none.Acknowledge());
}

// A kernel file that answers poll() with the default (it has no notices of its own) cannot be
// watched: the wizard then looks at the table itself instead of waiting for nothing.
TEST(DeviceNoticeKernel, AProcFileWithoutChangeNoticesIsNoWatch) {
    TDeviceNotice table("/proc/self/mountinfo");
    EXPECT_EQ(table.Kind(), TDeviceNotice::EKind::Priority) << table.ErrorText();
    TDeviceNotice stat("/proc/self/stat");
    EXPECT_FALSE(stat.IsOpen());
    EXPECT_EQ(stat.Kind(), TDeviceNotice::EKind::None);
    EXPECT_NE(stat.ErrorText().find("/proc/self/stat"), std::string::npos) << stat.ErrorText();
}

TEST_F(DeviceNoticeFile, PathFromTheEnvironment) {
    ::setenv("PENDOCK_MOUNTINFO", Table.c_str(), 1);
    platform::UseRootsFromEnvironment();
    EXPECT_EQ(platform::lnx::Roots().MountInfo, Table.string());
    TDeviceNotice n(platform::lnx::Roots().MountInfo);
    EXPECT_EQ(n.Kind(), TDeviceNotice::EKind::Readable);
    Append(Table, Line2);
    EXPECT_TRUE(Ready(n, 2000));
    ::unsetenv("PENDOCK_MOUNTINFO");
    EXPECT_EQ(platform::lnx::TRoots::FromEnvironment().MountInfo, "/proc/self/mountinfo");
    platform::lnx::UseRoots({});
}

constexpr const char* NoNamespace = "no mount namespace";

// In a mount namespace of the calling process's own: watches the kernel's table while a tmpfs
// is mounted on `folder` and taken off again. The check that failed first, empty when all held,
// or NoNamespace where the machine gives no namespace to mount in.
std::string MountOnceInOwnNamespace(const std::string& folder) {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return NoNamespace;
    TDeviceNotice n("/proc/self/mountinfo");
    if (n.Kind() != TDeviceNotice::EKind::Priority)
        return "the kernel's table is watched for urgent data";
    if (Ready(n, 100))
        return "no notice before the mount";
    if (::mount("pendock-test", folder.c_str(), "tmpfs", 0, "size=64k") != 0)
        return NoNamespace;
    if (!Ready(n, 2000))
        return "a notice after the mount";
    if (!n.Acknowledge())
        return "the notice is about the table";
    if (Ready(n, 100))
        return "quiet once acknowledged";
    ::umount(folder.c_str());
    if (!Ready(n, 2000))
        return "a notice after the unmount";
    return "";
}

TEST(DeviceNoticeKernel, MountInOwnNamespaceGivesOneNotice) {
    {
        TDeviceNotice n("/proc/self/mountinfo");
        ASSERT_TRUE(n.IsOpen()) << n.ErrorText();
        EXPECT_EQ(n.Kind(), TDeviceNotice::EKind::Priority);
        EXPECT_EQ(n.PollEvents(), POLLPRI);
        EXPECT_FALSE(Ready(n, 200));
    }
    const TTempDir folder("pendock-notice-mnt");
    // In a child: it mounts in a namespace of its own, so nothing reaches the machine's table.
    const std::string failed =
        RunInChild([&] { return MountOnceInOwnNamespace(folder.Path().string()); });
    if (failed == NoNamespace)
        GTEST_SKIP() << "no mount namespace for this test here";
    EXPECT_EQ(failed, "");
}

} // namespace
