// Drive letters when a reading of the mount table is no picture of the machine: the table
// cannot be read, is too large, or is caught empty or without its root mount.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <unistd.h>

#include "mod_DriveUsbInfo.h"
#include "platform/linux/drive_letters.h"
#include "platform/linux/roots.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using platform::lnx::TDriveLetterMap;

namespace {

const std::string RootLine = "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n";
const std::string DataLine = "23 22 8:17 / /srv/data rw - ext4 /dev/sdb1 rw\n";
const std::string KeyLine = "97 22 8:33 / /media/KEY rw - vfat /dev/sdc1 rw\n";
const std::string ProcLine = "24 22 0:21 / /proc rw - proc proc rw\n";

class DriveReadings : public ::testing::Test {
protected:
    void SetUp() override {
        for (const auto& [numbers, name] : {std::pair{"8:1", "sda/sda1"},
                                            {"8:17", "sdb/sdb1"},
                                            {"8:33", "sdc/sdc1"},
                                            {"8:34", "sdc/sdc2"},
                                            {"8:42", "sdc/sdc10"}}) {
            fs::create_directories(Sys / "devices" / name);
            fs::create_directories(Sys / "dev" / "block");
            fs::create_symlink(fs::path("../../devices") / name, Sys / "dev" / "block" / numbers);
        }
    }
    void Write(const std::string& text) const { std::ofstream(Table, std::ios::binary) << text; }
    static std::string Letters(TDriveLetterMap& map) {
        std::string s;
        for (const auto& d : map.Refresh())
            s += d.Letter;
        return s;
    }

    TTempDir Tmp{"pendock-letters"};
    const fs::path Sys = Tmp.Path() / "sys";
    const fs::path Table = Tmp.Path() / "mountinfo";
};

TEST_F(DriveReadings, AReadingWithoutTheRootMountKeepsTheLastGoodOne) {
    Write(RootLine + DataLine + KeyLine);
    TDriveLetterMap map(Table.string(), Sys.string());
    ASSERT_EQ(Letters(map), "CDE");

    const std::vector<std::pair<const char*, std::function<void()>>> badReadings = {
        {"empty", [&] { Write(""); }},
        {"no root mount", [&] { Write(ProcLine + DataLine); }},
        {"over the limit",
         [&] {
             Write("");
             ASSERT_EQ(::truncate(Table.c_str(), 17 << 20), 0);
         }},
        {"missing", [&] { fs::remove(Table); }},
        {"a folder", [&] { fs::create_directory(Table); }},
    };
    for (const auto& [what, make] : badReadings) {
        SCOPED_TRACE(what);
        make();
        EXPECT_EQ(Letters(map), "CDE");
        EXPECT_EQ(map.LogicalDrives(), 0x1Cu);
        ASSERT_TRUE(map.Find('E'));
        EXPECT_EQ(map.Find('E')->MountPoint, "/media/KEY");
        fs::remove_all(Table);
    }

    // The next good reading counts again, and the letters are those kept all along.
    Write(RootLine + KeyLine);
    EXPECT_EQ(Letters(map), "CE");
    Write(RootLine + KeyLine + DataLine);
    EXPECT_EQ(Letters(map), "CDE");
}

TEST_F(DriveReadings, PartitionsThatAppearTogetherGetLettersInPartitionOrder) {
    Write(RootLine + DataLine);
    TDriveLetterMap map(Table.string(), Sys.string());
    ASSERT_EQ(Letters(map), "CD");
    // The key's three partitions reach the table last first, as automounters may mount them.
    Write(RootLine + DataLine + "98 22 8:42 / /media/K10 rw - vfat /dev/sdc10 rw\n" +
          "99 22 8:34 / /media/K2 rw - vfat /dev/sdc2 rw\n" + KeyLine);
    for (const auto& [letter, name] : {std::pair{'E', "sdc1"}, {'F', "sdc2"}, {'G', "sdc10"}}) {
        const auto drive = map.Find(letter);
        ASSERT_TRUE(drive) << letter;
        EXPECT_EQ(drive->Name, name) << letter;
    }
}

TEST_F(DriveReadings, TheSystemDriveIsNeverReportedAbsent) {
    // Before any good reading (the table missing at the first look), and where / lies on no
    // block device, C: is there all the same; the drives that come later are new as ever.
    platform::lnx::TRoots roots;
    roots.MountInfo = Table;
    roots.Sysfs = Sys;
    platform::lnx::UseRoots(roots);
    TDriveConn expected{};
    expected[0] = true;
    EXPECT_EQ(GetConnectedDrives(), expected);
    Write("30 1 0:40 / / rw - overlay overlay rw\n" + KeyLine);
    expected[1] = true; // the key, D:
    EXPECT_EQ(GetConnectedDrives(), expected);
    Write("");
    EXPECT_EQ(GetConnectedDrives(), expected);
    platform::lnx::UseRoots({});
}

} // namespace
