// Drive letters over the mount table of a simulated machine.

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "mod_DriveUsbInfo.h"
#include "platform/linux/drive_letters.h"
#include "platform/linux/roots.h"
#include "platform/linux/sysfs.h"
#include "platform/logical_drives.h"
#include "platform/roots.h"
#include "sim_machine.h"

using platform::lnx::TDriveLetterMap;
using platform::lnx::TLetteredDrive;

namespace {

std::string Letters(TDriveLetterMap& map) {
    std::string s;
    for (const TLetteredDrive& d : map.Refresh())
        s += d.Letter;
    return s;
}

std::string MountPointOf(TDriveLetterMap& map, char letter) {
    const auto d = map.Find(letter);
    return d ? d->MountPoint : "<none>";
}

TEST(DriveLetters, RootIsCAndNewMountsTakeTheLowestFreeLetter) {
    SimMachine m;
    auto map = m.NewMap();
    EXPECT_EQ(Letters(*map), "C") << "only / is on a block device; proc, sysfs, tmpfs are not";
    EXPECT_EQ(MountPointOf(*map, 'C'), "/");
    EXPECT_EQ(map->Find('C')->Name, "sda1");

    m.Simkey("mount", {"sda2", m.Media("data")});
    m.Simkey("plug");
    EXPECT_EQ(Letters(*map), "CDE");
    EXPECT_EQ(MountPointOf(*map, 'D'), m.Media("data"));
    EXPECT_EQ(MountPointOf(*map, 'E'), m.Media("KEY"));
    EXPECT_EQ(map->LogicalDrives(), (1u << 2) | (1u << 3) | (1u << 4));

    // Pulling the key frees E; the next drive takes it again.
    m.Simkey("pull");
    EXPECT_EQ(Letters(*map), "CD");
    m.Simkey("plug", {"--name", "sdc"});
    EXPECT_EQ(Letters(*map), "CDE");
    EXPECT_EQ(map->Find('E')->Name, "sdc1");
}

TEST(DriveLetters, ALetterSurvivesOtherMountsComingAndGoing) {
    SimMachine m;
    m.Simkey("add-disk", {"sdb", "--parts", "3"});
    m.Simkey("mount", {"sdb1", m.Media("one")});
    m.Simkey("mount", {"sdb2", m.Media("two")});
    auto map = m.NewMap();
    ASSERT_EQ(Letters(*map), "CDE");

    m.Simkey("umount", {m.Media("one")});
    EXPECT_EQ(Letters(*map), "CE");
    EXPECT_EQ(MountPointOf(*map, 'E'), m.Media("two")) << "E keeps its letter";

    m.Simkey("mount", {"sdb3", m.Media("three")});
    EXPECT_EQ(MountPointOf(*map, 'D'), m.Media("three")) << "the freed D is the lowest";
    EXPECT_EQ(MountPointOf(*map, 'E'), m.Media("two"));

    // A fresh map sees the same table in mount-table order.
    auto fresh = m.NewMap();
    EXPECT_EQ(MountPointOf(*fresh, 'D'), m.Media("two"));
    EXPECT_EQ(MountPointOf(*fresh, 'E'), m.Media("three"));
}

TEST(DriveLetters, BindMountsRepeatsLoopsAndBlanks) {
    SimMachine m;
    m.Simkey("plug", {"--at", m.Media("my key\tx")});
    m.Simkey("mount", {"sdb1", m.Media("again")});                         // repeated mount
    m.Simkey("mount", {"sdb1", m.Media("bound"), "--root", "/Quorvento"}); // bind mount
    m.Simkey("mount", {"sda1", m.Media("root-bind"), "--root", "/srv"});
    m.Simkey("add-loop", {"loop1"});
    m.Simkey("mount", {"loop1", m.Media("snap"), "--fstype", "squashfs"});
    auto map = m.NewMap();
    EXPECT_EQ(Letters(*map), "CD");
    EXPECT_EQ(MountPointOf(*map, 'D'), m.Media("my key\tx")) << "the first mount point, decoded";
}

TEST(DriveLetters, AnonymousDeviceNumbersAreFollowedToTheSource) {
    SimMachine m;
    m.Simkey("add-disk", {"sdb", "--bus", "sata"});
    m.Simkey("mount", {"sdb1", m.Media("btrfs"), "--fstype", "btrfs", "--anon"});
    auto map = m.NewMap();
    ASSERT_EQ(Letters(*map), "CD");
    const auto d = map->Find('d');
    ASSERT_TRUE(d);
    EXPECT_EQ(d->Major, 8u);
    EXPECT_EQ(d->Minor, 17u);
}

TEST(DriveLetters, DrivesBeyondZGetNoLetter) {
    SimMachine m;
    // sda1 is C:; 24 more drives fill D to Z, the last two get none.
    for (int i = 0; i < 25; ++i) {
        const std::string disk = "sd" + std::string(1, static_cast<char>('b' + i / 26)) +
                                 std::string(1, static_cast<char>('a' + i % 26));
        m.Simkey("add-disk", {disk, "--bus", "sata"});
        m.Simkey("mount", {disk + "1", m.Media(disk)});
    }
    auto map = m.NewMap();
    const auto drives = map->Refresh();
    ASSERT_EQ(drives.size(), 24u);
    EXPECT_EQ(drives.back().Letter, 'Z');
    EXPECT_EQ(drives.back().MountPoint, m.Media("sdbw"));
    EXPECT_EQ(map->LogicalDrives(), 0x03FFFFFCu);

    // Once one goes, the drive without a letter takes the freed one.
    m.Simkey("umount", {m.Media("sdbb")});
    EXPECT_EQ(MountPointOf(*map, 'E'), m.Media("sdbx"));
    EXPECT_FALSE(map->Find('E')->Name.empty());
}

TEST(DriveLetters, BrokenOrMissingMountTable) {
    SimMachine m;
    {
        std::ofstream out(m.MountInfo(), std::ios::app);
        out << "garbage line\n"
            << "40 1 8:x / /media/bad rw - vfat /dev/sdb1 rw\n"
            << "41 1 8:16 / relative rw - vfat /dev/sdb rw\n"
            << "42 1 8:16 / /media/short rw\n"
            << "\n";
    }
    auto map = m.NewMap();
    EXPECT_EQ(Letters(*map), "C");

    TDriveLetterMap none((m.Folder() / "no-such-file").string(), m.Sys().string());
    EXPECT_EQ(none.LogicalDrives(), 0u);
    TDriveLetterMap folder(m.Folder().string(), m.Sys().string()); // a folder, not a file
    EXPECT_EQ(folder.LogicalDrives(), 0u);
    TDriveLetterMap noSys(m.MountInfo().string(), (m.Folder() / "nosys").string());
    EXPECT_EQ(noSys.LogicalDrives(), 0u);
}

TEST(DriveLetters, ASymlinkLoopInSysfsIsNoDrive) {
    SimMachine m;
    m.Simkey("plug");
    const auto node = m.Sys() / "dev" / "block" / "8:17";
    std::filesystem::remove(node);
    std::filesystem::create_symlink("8:17", node);
    auto map = m.NewMap();
    EXPECT_EQ(Letters(*map), "C");
}

TEST(DriveLetters, PullingKeepsTheMountTableFileInPlace) {
    // A watch on the mount-info file must see plugging and pulling as changes of the file.
    SimMachine m;
    struct stat before {
    }, plugged{}, pulled{};
    ASSERT_EQ(::stat(m.MountInfo().c_str(), &before), 0);
    m.Simkey("plug");
    ASSERT_EQ(::stat(m.MountInfo().c_str(), &plugged), 0);
    m.Simkey("pull");
    ASSERT_EQ(::stat(m.MountInfo().c_str(), &pulled), 0);
    EXPECT_EQ(before.st_ino, plugged.st_ino);
    EXPECT_EQ(before.st_ino, pulled.st_ino);
    EXPECT_GT(plugged.st_size, before.st_size);
    EXPECT_EQ(pulled.st_size, before.st_size);
    EXPECT_TRUE(std::filesystem::is_regular_file(m.Media("KEY") + "/Quorvento/package.id"));
}

TEST(DriveLetters, ProcessMapFollowsTheEnvironment) {
    SimMachine m;
    m.Simkey("mount", {"sda2", m.Media("data")});
    m.Simkey("plug", {"--at", m.Media("the key")});
    ::setenv("PENDOCK_MOUNTINFO", m.MountInfo().c_str(), 1);
    ::setenv("PENDOCK_SYSFS", m.Sys().c_str(), 1);
    platform::UseRootsFromEnvironment();

    TDriveConn expected{};
    expected[0] = expected[1] = expected[2] = true; // C D E
    EXPECT_EQ(GetConnectedDrives(), expected);
    EXPECT_EQ(platform::DriveRootPath('E'), m.Media("the key"));
    EXPECT_EQ(platform::DriveRootPath('e'), m.Media("the key"));
    EXPECT_EQ(platform::DriveRootPath('C'), "/");
    EXPECT_EQ(platform::DriveRootPath('F'), "");
    EXPECT_EQ(platform::DriveRootPath('?'), "");

    m.Simkey("pull");
    expected[2] = false;
    EXPECT_EQ(GetConnectedDrives(), expected);
    EXPECT_EQ(platform::DriveRootPath('E'), "");

    ::unsetenv("PENDOCK_MOUNTINFO");
    ::unsetenv("PENDOCK_SYSFS");
    platform::lnx::UseRoots({});
}

TEST(MountInfo, DecodesEscapes) {
    using platform::lnx::DecodeMountField;
    EXPECT_EQ(DecodeMountField(R"(/media/a\040b\011c\012d\134e)"), "/media/a b\tc\nd\\e");
    EXPECT_EQ(DecodeMountField(R"(/x\04)"), R"(/x\04)") << "cut escape kept";
    EXPECT_EQ(DecodeMountField(R"(/x\999)"), R"(/x\999)") << "not octal";
    const auto entries = platform::lnx::ParseMountInfo(
        "36 35 98:0 /mnt1 /mnt/p\\040q rw,noatime master:1 shared:2 - ext3 /dev/root rw\n"
        "37 35 0:5 / /dev rw - devtmpfs udev rw");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].Major, 98u);
    EXPECT_EQ(entries[0].Root, "/mnt1");
    EXPECT_EQ(entries[0].MountPoint, "/mnt/p q");
    EXPECT_EQ(entries[0].FsType, "ext3");
    EXPECT_EQ(entries[0].Source, "/dev/root");
    EXPECT_EQ(entries[1].Source, "udev");
}

TEST(Crc32, KnownValues) {
    EXPECT_EQ(platform::lnx::Crc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(platform::lnx::Crc32(""), 0u);
}

} // namespace
