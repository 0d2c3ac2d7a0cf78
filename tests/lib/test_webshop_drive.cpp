// The product folder of a drive letter: on Linux over a simulated machine (a mount-info file and
// a sysfs tree with two block devices, the root filesystem and a key mounted at a folder whose
// name holds a blank); on Windows over the machine's own drive letters.
#include "mod_WebShop.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

#if defined(_WIN32)

TEST(ProductFolder, DriveRootAndBackslash) {
    const auto root = [](char letter) { return std::string{letter, ':'}; };
    EXPECT_EQ(ProductFolderOf("E:", root), "E:\\Quorvento");
    EXPECT_EQ(ProductFolderOf("e", root), "E:\\Quorvento");
    // A root that already ends with a separator gets no second one.
    EXPECT_EQ(ProductFolderOf("E:", [](char) { return std::string("E:\\"); }), "E:\\Quorvento");
    EXPECT_EQ(ProductFolderOf("E:", [](char) { return std::string(); }), "");

    // The system's drive C: is always there; a letter without a drive gives nothing.
    EXPECT_EQ(ProductFolderOfDrive("C:"), "C:\\Quorvento");
    EXPECT_EQ(ProductFolderOfDrive("c"), "C:\\Quorvento");
    std::string unused;
    for (char letter = 'Z'; letter > 'C'; --letter) {
        if (!fs::exists(std::string{letter, ':', '\\'})) {
            unused = std::string{letter, ':'};
            break;
        }
    }
    ASSERT_FALSE(unused.empty());
    EXPECT_EQ(ProductFolderOfDrive(unused), "");
    for (const char* bad : {"", ":", "D:\\", "DD", "1:"})
        EXPECT_EQ(ProductFolderOfDrive(bad), "") << bad;
}

TEST(ProductFolder, KeysPackageIdThroughTheDriveForm) {
    // The test's own folder, named from its drive: "X:\...\Quorvento".
    TTempDir tmp{"pendock-drive"};
    const fs::path product = tmp.Path() / "Quorvento";
    fs::create_directories(product / "sub");
    std::ofstream(product / "sub" / "Package.ID") << "QV-KEY-1\r\n";
    const std::string folder = fs::absolute(product).string();
    ASSERT_GE(folder.size(), 3u);
    ASSERT_EQ(folder.substr(1, 2), ":\\");
    std::string id;
    ASSERT_TRUE(FindPackageId(folder, id));
    EXPECT_EQ(id, "QV-KEY-1");
}

#else

class ProductFolder : public ::testing::Test {
protected:
    void SetUp() override {
        const fs::path sys = Dir / "sys";
        for (const char* dev : {"sda/sda1", "sdb/sdb1"})
            fs::create_directories(sys / "devices/pci0000:00/block" / dev);
        fs::create_directories(sys / "dev/block");
        fs::create_symlink("../../devices/pci0000:00/block/sda/sda1", sys / "dev/block/8:1");
        fs::create_symlink("../../devices/pci0000:00/block/sdb/sdb1", sys / "dev/block/8:17");
        Key = Dir / "media" / "USB KEY";
        fs::create_directories(Key / "Quorvento" / "sub");
        std::ofstream(Key / "Quorvento" / "sub" / "Package.ID") << "QV-KEY-1\r\n";
        const std::string encoded = (Dir / "media").string() + "/USB\\040KEY";
        std::ofstream(Dir / "mountinfo")
            << "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
            << "97 22 8:17 / " << encoded << " rw,nosuid shared:50 - vfat /dev/sdb1 rw\n";
        ::setenv("PENDOCK_MOUNTINFO", (Dir / "mountinfo").c_str(), 1);
        ::setenv("PENDOCK_SYSFS", sys.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("PENDOCK_MOUNTINFO");
        ::unsetenv("PENDOCK_SYSFS");
    }

    TTempDir Tmp{"pendock-drive"};
    const fs::path Dir = Tmp.Path();
    fs::path Key;
};

TEST_F(ProductFolder, DriveFormsAndTheKeysPackageId) {
    const std::string expected = (Key / "Quorvento").string();
    EXPECT_EQ(ProductFolderOfDrive("D:"), expected);
    EXPECT_EQ(ProductFolderOfDrive("D"), expected);
    EXPECT_EQ(ProductFolderOfDrive("d:"), expected);
    EXPECT_EQ(ProductFolderOfDrive("C:"), "/Quorvento"); // the root gets no doubled slash
    EXPECT_EQ(ProductFolderOfDrive("E:"), "");           // no such drive
    for (const char* bad : {"", ":", "D:\\", "DD", "1:", "\xC3\x84:"})
        EXPECT_EQ(ProductFolderOfDrive(bad), "") << bad;

    std::string id;
    ASSERT_TRUE(FindPackageId(ProductFolderOfDrive("D:"), id));
    EXPECT_EQ(id, "QV-KEY-1");
}

#endif

} // namespace
