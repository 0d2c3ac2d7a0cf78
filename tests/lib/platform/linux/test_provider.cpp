// The key identification end to end through the Linux provider, on simulated machines laid
// out as real sysfs trees are.

#include <fstream>

#include <gtest/gtest.h>

#include "mod_DriveUsbInfo.h"
#include "platform/linux/wmi_provider.h"
#include "sim_machine.h"

namespace fs = std::filesystem;

namespace {

struct Identity {
    bool Ok = false;
    std::string Vendor = "-", Product = "-", Serial = "-";
    bool operator==(const Identity&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Identity& i) {
    return os << (i.Ok ? "ok " : "failed ") << '[' << i.Vendor << "] [" << i.Product << "] ["
              << i.Serial << ']';
}

Identity Id(const std::string& v, const std::string& p, const std::string& s) {
    return {true, v, p, s};
}
const Identity Failed{};

// A disk without a serial number gets the instance Windows makes up from its port:
// 6&<CRC-32 of the port's device path, hex without leading zeros>&<lun>; all of it but the
// "&<lun>" stands in for the serial. The CRCs of the ports below, under /devices/pci0000:00/:
//   920FF741 0000:00:17.0/ata2/host1/target1:0:0/1:0:0:0 (the root filesystem's SATA disk)
//   3D510F99 0000:00:17.0/ata4/host3/target3:0:0/3:0:0:0
//   55763AEA, 22710A7C, BC159FDF, CB12AF49, 521BFEF3  0000:00:14.0/usb1/1-2 to 1-6
//   0675A004 0000:00:14.0/usb1/1-13
//   A2B30033 0000:00:1d.0/0000:3d:00.0/nvme/nvme0

class Provider : public ::testing::Test {
protected:
    void SetUp() override {
        Map = M.NewMap();
        Scope = std::make_unique<ScopedProvider>(Map);
    }

    Identity Identify(char letter) {
        Identity i;
        i.Ok = GetDriveUsbInfo(std::string(1, letter), i.Vendor, i.Product, i.Serial);
        return i;
    }
    // The letter of the drive mounted at `mountPoint`, or 0.
    char LetterAt(const std::string& mountPoint) {
        for (const auto& d : Map->Refresh())
            if (d.MountPoint == mountPoint)
                return d.Letter;
        return 0;
    }
    std::string Get(const std::string& query, const std::string& prop, int expectCount = 1) {
        std::string value;
        EXPECT_EQ(WmiGetOneProperty(query, prop, value), expectCount) << query;
        return value;
    }
    static std::string Q1(char letter) {
        return LogicalDiskToPartitionQuery(std::string(1, letter));
    }
    static std::string Q3(int disk) {
        return DiskDriveQuery(R"(\\\\.\\PHYSICALDRIVE)" + std::to_string(disk));
    }
    std::string Host() const { return platform::lnx::WbemHostName(); }
    fs::path KeyScsi() const { return fs::canonical(M.Sys() / "block" / "sdb" / "device"); }

    SimMachine M;
    std::shared_ptr<platform::lnx::TDriveLetterMap> Map;
    std::unique_ptr<ScopedProvider> Scope;
};

TEST_F(Provider, UsbKeyWithOnePartition) {
    M.Simkey("mount", {"sda2", M.Media("data")});
    M.Simkey("plug");
    ASSERT_EQ(LetterAt(M.Media("KEY")), 'E');
    EXPECT_EQ(Identify('E'), Id("ACME", "FLASH_DRIVE", "0123456789AB"));

    // The values on the way, as Windows renders them.
    EXPECT_EQ(Get(Q1('E'), "Antecedent"),
              R"(\\)" + Host() +
                  R"(\root\cimv2:Win32_DiskPartition.DeviceID="Disk #1, Partition #0")");
    EXPECT_EQ(Get(Q1('E'), "Dependent"),
              R"(\\)" + Host() + R"(\root\cimv2:Win32_LogicalDisk.DeviceID="E:")");
    EXPECT_EQ(Get(DiskDriveToDiskPartitionQuery("Disk #1, Partition #0"), "Antecedent"),
              R"(\\)" + Host() + R"(\root\cimv2:Win32_DiskDrive.DeviceID="\\\\.\\PHYSICALDRIVE1")");
    EXPECT_EQ(Get(Q3(1), "PNPDeviceID"),
              R"(USBSTOR\DISK&VEN_ACME&PROD_FLASH_DRIVE&REV_1.00\0123456789AB&0)");
    EXPECT_EQ(Get(Q3(1), "InterfaceType"), "USB");
    EXPECT_EQ(Get(Q3(1), "Index"), "1");

    // The root filesystem's drive is a SATA disk: the SCSI form with a made-up instance.
    EXPECT_EQ(Get(Q3(0), "PNPDeviceID"), R"(SCSI\DISK&VEN_ATA&PROD_SAMSUNG_SSD_860\6&920FF741&0)");
    // Without a revision part, the product runs on to the "&" inside the instance.
    EXPECT_EQ(Identify('C'), Id("ATA", "SAMSUNG_SSD_860\\6", "6&920FF741"));
    EXPECT_EQ(Get(Q1('C'), "Antecedent"),
              R"(\\)" + Host() +
                  R"(\root\cimv2:Win32_DiskPartition.DeviceID="Disk #0, Partition #0")");
    EXPECT_EQ(Get(Q1('D'), "Antecedent"),
              R"(\\)" + Host() +
                  R"(\root\cimv2:Win32_DiskPartition.DeviceID="Disk #0, Partition #1")");

    // Pulled out: the letter is gone and the identification fails, outputs untouched.
    M.Simkey("pull");
    EXPECT_EQ(Identify('E'), Failed);
}

TEST_F(Provider, KeyWithoutPartitionTable) {
    M.Simkey("plug", {"--parts", "0", "--serial", "AA55"});
    ASSERT_EQ(LetterAt(M.Media("KEY")), 'D');
    EXPECT_EQ(Get(Q1('D'), "Antecedent"),
              R"(\\)" + Host() +
                  R"(\root\cimv2:Win32_DiskPartition.DeviceID="Disk #1, Partition #0")");
    EXPECT_EQ(Identify('D'), Id("ACME", "FLASH_DRIVE", "AA55"));
}

TEST_F(Provider, CardReaderWithTwoLuns) {
    M.Simkey("add-disk", {"sdc", "--port", "1-5", "--lun", "0", "--serial", "CR123", "--vendor",
                          "Generic", "--model", "SD/MMC"});
    M.Simkey("add-disk", {"sdd", "--port", "1-5", "--lun", "1", "--serial", "CR123", "--vendor",
                          "Generic", "--model", "MS/MS-Pro"});
    M.Simkey("mount", {"sdc1", M.Media("sd")});
    M.Simkey("mount", {"sdd1", M.Media("ms")});
    EXPECT_EQ(Identify(LetterAt(M.Media("sd"))), Id("GENERIC", "SD/MMC", "CR123"));
    EXPECT_EQ(Identify(LetterAt(M.Media("ms"))), Id("GENERIC", "MS/MS-PRO", "CR123&1"));
    EXPECT_EQ(Get(Q3(2), "PNPDeviceID"),
              R"(USBSTOR\DISK&VEN_GENERIC&PROD_MS/MS-PRO&REV_1.00\CR123&1)");
}

TEST_F(Provider, InquiryTextsAsWindowsWritesThem) {
    M.Simkey("plug", {"--vendor", " USB", "--model", "Flash, Disk\x01", "--rev", "pmap"});
    EXPECT_EQ(Get(Q3(1), "PNPDeviceID"),
              R"(USBSTOR\DISK&VEN__USB&PROD_FLASH__DISK_&REV_PMAP\0123456789AB&0)");
    EXPECT_EQ(Identify('D'), Id("USB", "FLASH__DISK_", "0123456789AB"));

    M.Simkey("plug", {"--name", "sdc", "--at", M.Media("blank"), "--vendor", "        "});
    EXPECT_EQ(Identify(LetterAt(M.Media("blank"))), Id("", "FLASH_DRIVE", "0123456789AB"));
}

TEST_F(Provider, SerialsAndTheirStandIns) {
    M.Simkey("plug", {"--no-serial"}); // port 1-2
    EXPECT_EQ(Get(Q3(1), "PNPDeviceID"),
              R"(USBSTOR\DISK&VEN_ACME&PROD_FLASH_DRIVE&REV_1.00\6&55763AEA&0)");
    EXPECT_EQ(Identify('D'), Id("ACME", "FLASH_DRIVE", "6&55763AEA"));

    M.Simkey("plug", {"--name", "sdc", "--at", M.Media("c"), "--serial", "x,y"}); // port 1-3
    EXPECT_EQ(Identify('E').Serial, "6&22710A7C") << "a comma";
    M.Simkey("plug", {"--name", "sdd", "--at", M.Media("d"), "--serial", "ab c"});
    EXPECT_EQ(Identify('F').Serial, "6&BC159FDF") << "a blank";
    M.Simkey("plug", {"--name", "sde", "--at", M.Media("e"), "--serial", ""});
    EXPECT_EQ(Identify('G').Serial, "6&CB12AF49") << "empty";
    M.Simkey("plug", {"--name", "sdf", "--at", M.Media("f"), "--serial", "caf\xc3\xa9"});
    EXPECT_EQ(Identify('H').Serial, "6&521BFEF3") << "not ASCII";
    const std::string longSerial(80, 'S');
    M.Simkey("plug", {"--name", "sdg", "--at", M.Media("g"), "--serial", longSerial});
    EXPECT_EQ(Get(Q3(6), "PNPDeviceID"),
              R"(USBSTOR\DISK&VEN_ACME&PROD_FLASH_DRIVE&REV_1.00\)" + std::string(63, 'S'));
    EXPECT_EQ(Identify('I').Serial, std::string(63, 'S')) << "the lun is cut off too";
    M.Simkey("plug", {"--name", "sdh", "--at", M.Media("h"), "--no-serial", "--port", "1-13"});
    EXPECT_EQ(Identify('J').Serial, "6&675A004") << "the hash without its leading zero";
}

TEST_F(Provider, DisksThatAreNotUsbMassStorage) {
    M.Simkey("add-disk", {"nvme0n1", "--bus", "nvme", "--model", "Samsung SSD 970 EVO 1TB"});
    M.Simkey("mount", {"nvme0n1p1", M.Media("nvme")});
    M.Simkey("plug", {"--bus", "uas", "--name", "sdb"});
    EXPECT_EQ(Identify(LetterAt(M.Media("nvme"))),
              Id("NVME", "SAMSUNG_SSD_970_EVO_1TB\\6", "6&A2B30033"));
    // nvme0n1 sorts before sda and sdb
    EXPECT_EQ(Get(Q3(0), "PNPDeviceID"),
              R"(SCSI\DISK&VEN_NVME&PROD_SAMSUNG_SSD_970_EVO_1TB\6&A2B30033&0)");
    EXPECT_EQ(Get(Q3(2), "PNPDeviceID"), R"(SCSI\DISK&VEN_ACME&PROD_FLASH_DRIVE\6&55763AEA&0)");
    EXPECT_EQ(Get(Q3(2), "InterfaceType"), "SCSI");
    EXPECT_EQ(Identify(LetterAt(M.Media("KEY"))), Id("ACME", "FLASH_DRIVE\\6", "6&55763AEA"));
}

TEST_F(Provider, LoopDevicesBindMountsAndOpticalDrivesAreNotIdentified) {
    M.Simkey("add-loop", {"loop1"});
    M.Simkey("mount", {"loop1", M.Media("snap"), "--fstype", "squashfs"});
    M.Simkey("mount", {"sda1", M.Media("bind"), "--root", "/home"});
    M.Simkey("add-disk", {"sr0", "--bus", "sata", "--type", "5", "--parts", "0"});
    M.Simkey("mount", {"sr0", M.Media("cdrom"), "--fstype", "iso9660"});
    M.Simkey("add-disk", {"sdc", "--bus", "sata", "--type", "5", "--parts", "0"});
    M.Simkey("mount", {"sdc", M.Media("dvd"), "--fstype", "udf"});
    EXPECT_EQ(LetterAt(M.Media("snap")), 0);
    EXPECT_EQ(LetterAt(M.Media("bind")), 0);
    EXPECT_EQ(LetterAt(M.Media("cdrom")), 'D');
    EXPECT_EQ(LetterAt(M.Media("dvd")), 'E');
    EXPECT_EQ(Get(Q1('D'), "Antecedent", 0), "");
    EXPECT_EQ(Identify('D'), Failed);
    EXPECT_EQ(Identify('E'), Failed);
    EXPECT_EQ(Identify('F'), Failed) << "no drive";
}

TEST_F(Provider, ExtendedPartitionsDiskOrderAndBtrfs) {
    M.Simkey("add-disk", {"sdc", "--extended", "--serial", "EXT1"});
    M.Simkey("mount", {"sdc5", M.Media("logical")});
    const char l = LetterAt(M.Media("logical"));
    EXPECT_EQ(Get(Q1(l), "Antecedent"),
              R"(\\)" + Host() +
                  R"(\root\cimv2:Win32_DiskPartition.DeviceID="Disk #1, Partition #1")")
        << "the extended container is not counted";
    EXPECT_EQ(Identify(l), Id("ACME", "FLASH_DRIVE", "EXT1"));

    // A disk with a sequence number ranks before those without.
    M.Simkey("plug", {"--diskseq", "9", "--serial", "SEQ9", "--at", M.Media("seq")});
    EXPECT_EQ(Get(Q3(0), "PNPDeviceID"),
              R"(USBSTOR\DISK&VEN_ACME&PROD_FLASH_DRIVE&REV_1.00\SEQ9&0)");
    EXPECT_EQ(Identify(LetterAt(M.Media("seq"))), Id("ACME", "FLASH_DRIVE", "SEQ9"));
    EXPECT_EQ(Identify(l), Id("ACME", "FLASH_DRIVE", "EXT1"));

    M.Simkey("add-disk", {"sdd", "--serial", "BTR"});
    M.Simkey("mount", {"sdd1", M.Media("btrfs"), "--fstype", "btrfs", "--anon"});
    EXPECT_EQ(Identify(LetterAt(M.Media("btrfs"))), Id("ACME", "FLASH_DRIVE", "BTR"));
}

TEST_F(Provider, BlankInMountPointAndMoreThan24Drives) {
    M.Simkey("plug", {"--at", M.Media("my key"), "--serial", "BLANK"});
    EXPECT_EQ(LetterAt(M.Media("my key")), 'D');
    EXPECT_EQ(Identify('D'), Id("ACME", "FLASH_DRIVE", "BLANK"));

    // 24 partitions of one SATA disk take E to Z, then a second key finds no letter.
    M.Simkey("add-disk", {"sdc", "--bus", "sata", "--parts", "24"});
    {
        std::ofstream mi(M.MountInfo(), std::ios::app);
        for (int i = 1; i <= 24; ++i)
            mi << 100 + i << " 1 8:" << 32 + i << " / " << M.Media("p" + std::to_string(i))
               << " rw - ext4 /dev/sdc" << i << " rw\n";
    }
    M.Simkey("plug", {"--name", "sdd", "--at", M.Media("late"), "--serial", "LATE"});
    EXPECT_EQ(LetterAt(M.Media("p22")), 'Z');
    EXPECT_EQ(LetterAt(M.Media("late")), 0);
    EXPECT_EQ(Get(Q1('Z'), "Antecedent"),
              R"(\\)" + Host() +
                  R"(\root\cimv2:Win32_DiskPartition.DeviceID="Disk #2, Partition #21")");
    EXPECT_EQ(Identify('Z'), Id("ACME", "FLASH_DRIVE\\6", "6&3D510F99"));
    EXPECT_EQ(Identify('D'), Id("ACME", "FLASH_DRIVE", "BLANK"));
}

TEST_F(Provider, MissingOrUnreadableAttributesFailCleanly) {
    M.Simkey("plug");
    ASSERT_EQ(Identify('D'), Id("ACME", "FLASH_DRIVE", "0123456789AB"));
    const fs::path scsi = KeyScsi();
    const fs::path usbIf = M.Sys() / "devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0";
    std::string value;

    struct Breakage {
        const char* What;
        fs::path Path;
        bool AsFolder; // replace by a folder (unreadable) rather than remove
        Identity Expected;
    };
    // Descriptive texts the kernel lacks are empty fields; what the chain needs is an error.
    const std::vector<Breakage> breakages = {
        {"model missing", scsi / "model", false, Id("ACME", "", "0123456789AB")},
        {"vendor unreadable", scsi / "vendor", true, Id("", "FLASH_DRIVE", "0123456789AB")},
        {"revision missing", scsi / "rev", false, Id("ACME", "FLASH_DRIVE", "0123456789AB")},
        {"interface protocol missing", usbIf / "bInterfaceProtocol", false, Failed},
        {"partition size missing", M.Sys() / "block/sdb/sdb1/size", false, Failed},
    };
    for (const auto& b : breakages) {
        SCOPED_TRACE(b.What);
        const fs::path saved = b.Path.string() + ".saved";
        fs::rename(b.Path, saved);
        if (b.AsFolder)
            fs::create_directory(b.Path);
        Identity i = Identify('D');
        EXPECT_EQ(i, b.Expected);
        if (b.AsFolder)
            fs::remove(b.Path);
        fs::rename(saved, b.Path);
        EXPECT_EQ(Identify('D'), Id("ACME", "FLASH_DRIVE", "0123456789AB")) << "mended";
    }
    fs::remove(usbIf / "bInterfaceClass");
    fs::remove(usbIf / "bInterfaceProtocol");
    fs::remove(scsi / "model");
    EXPECT_EQ(WmiGetOneProperty(Q3(1), "PNPDeviceID", value), 1);
    EXPECT_EQ(value, R"(SCSI\DISK&VEN_ACME&PROD_\6&55763AEA&0)")
        << "without a USB interface, a SCSI disk without a model";

    // A link that loops back on itself.
    fs::remove(M.Sys() / "block/sdb/device");
    fs::create_symlink("device", M.Sys() / "block/sdb/device");
    EXPECT_EQ(WmiGetOneProperty(Q3(1), "PNPDeviceID", value), -1);
    EXPECT_EQ(Identify('D'), Failed);
}

TEST_F(Provider, QueriesAreReadStrictly) {
    M.Simkey("plug");
    const std::string h = Host();
    std::string v;
    auto run = [&](const std::string& q, const std::string& prop = "Antecedent") {
        return WmiGetOneProperty(q, prop, v);
    };
    // WQL's keywords without case, blanks of any number, the host by name or as ".".
    EXPECT_EQ(run("select *\tfrom Win32_LogicalDiskToPartition where Dependent = "
                  "\"\\\\\\\\" +
                  h + "\\\\ROOT\\\\CIMV2:win32_logicaldisk.deviceid=\\\"d:\\\"\""),
              1);
    EXPECT_EQ(run("SELECT Antecedent FROM Win32_LogicalDiskToPartition"), 2) << "all drives";
    EXPECT_EQ(run("SELECT PNPDeviceID, Index FROM Win32_DiskDrive", "PNPDeviceID"), 2);
    EXPECT_EQ(run("SELECT * FROM Win32_DiskDriveToDiskPartition"), 3) << "sda1 sda2 sdb1";
    EXPECT_EQ(run("SELECT Index FROM Win32_DiskDrive WHERE DeviceID='\\\\\\\\.\\\\PHYSICALDRIVE1'",
                  "PNPDeviceID"),
              -1)
        << "a property not selected";
    // Another class in the reference, a disk that does not exist: no objects.
    EXPECT_EQ(
        run(R"(SELECT * FROM Win32_LogicalDiskToPartition WHERE Dependent='\\\\.\\root\\cimv2:Win32_Volume.DeviceID="D:"')"),
        0);
    EXPECT_EQ(run(Q3(7), "PNPDeviceID"), 0);
    EXPECT_EQ(
        run(R"(SELECT * FROM Win32_DiskDriveToDiskPartition WHERE Dependent='\\\\.\\root\\cimv2:Win32_DiskPartition.DeviceID="Disk #1, Partition #1"')"),
        0);

    const std::vector<std::string> bad = {
        "",
        "SELECT",
        "SELECT * FROM",
        "DELETE FROM Win32_DiskDrive",
        "SELECT * FROM Win32_Process",
        "SELECT * FROM Win32_DiskDrive WHERE",
        "SELECT * FROM Win32_DiskDrive WHERE DeviceID=\"\\\\\\\\.\\\\PHYSICALDRIVE1\" AND 1=1",
        "SELECT * FROM Win32_DiskDrive WHERE DeviceID=\"\\\\\\\\.\\\\PHYSICALDRIVE1",
        "SELECT * FROM Win32_DiskDrive WHERE DeviceID=\"\\q\"",
        "SELECT * FROM Win32_DiskDrive WHERE Model=\"x\"",
        "SELECT Size FROM Win32_DiskDrive",
        "SELECT * FROM Win32_DiskDrive; SELECT 1",
        R"(SELECT * FROM Win32_LogicalDiskToPartition WHERE Dependent='\\\\OTHERHOST\\root\\cimv2:Win32_LogicalDisk.DeviceID="D:"')",
        R"(SELECT * FROM Win32_LogicalDiskToPartition WHERE Dependent='\\\\.\\root\\default:Win32_LogicalDisk.DeviceID="D:"')",
        R"(SELECT * FROM Win32_LogicalDiskToPartition WHERE Dependent='Win32_LogicalDisk.DeviceID="D:"')",
        R"(SELECT * FROM Win32_LogicalDiskToPartition WHERE Dependent='\\\\.\\root\\cimv2:Win32_LogicalDisk.DeviceID=D:')",
        R"(SELECT * FROM Win32_LogicalDiskToPartition WHERE Antecedent='\\\\.\\root\\cimv2:Win32_DiskPartition.DeviceID="Disk #1, Partition #0"')",
    };
    for (const auto& q : bad)
        EXPECT_EQ(run(q), -1) << q;

    // The connection itself.
    auto locator = platform::lnx::MakeWbemLocator(Map);
    EXPECT_THROW(locator->ConnectServer("", "root\\default", "", "", "", "", 0, nullptr),
                 EWbemError);
    EXPECT_THROW(locator->ConnectServer("", "root\\cimv2", "admin", "pw", "", "", 0, nullptr),
                 EWbemError);
    EXPECT_THROW(locator->ConnectServer("faraway", "root\\cimv2", "", "", "", "", 0, nullptr),
                 EWbemError);
    auto services = locator->ConnectServer(".", "ROOT\\CIMV2", "", "", "", "", 0, nullptr);
    ASSERT_TRUE(services);
    EXPECT_THROW(services->ExecQuery(Q3(1), "SQL", 16, nullptr), EWbemError);
    auto set = services->ExecQuery(Q3(1), "wql", 16, nullptr);
    ASSERT_EQ(set->Count(), 1);
    auto e = set->NewEnum();
    auto obj = e->Next();
    ASSERT_TRUE(obj);
    EXPECT_FALSE(e->Next());
    auto prop = obj->Properties_()->Item("pnpdeviceid", 0);
    EXPECT_EQ(prop->Name(), "PNPDeviceID") << "the property's own spelling";
    EXPECT_EQ(prop->CIMType(), wbemCimtypeString);
    EXPECT_THROW(obj->Properties_()->Item("NoSuch", 0), EWbemError);
}

} // namespace

TEST(DiskNumbers, KeptWhilePresentAndTheLowestFreeForANewDisk) {
    platform::lnx::TDiskNumberMap numbers;
    using V = std::vector<unsigned>;
    EXPECT_EQ(numbers.Assign({"vda", "sda#7", "sdb#9"}), (V{0, 1, 2}));
    EXPECT_EQ(numbers.Assign({"sda#7", "sdb#9"}), (V{1, 2})) << "vda gone: the others keep theirs";
    EXPECT_EQ(numbers.Assign({"sda#7", "sdb#9", "sdc#12"}), (V{1, 2, 0})) << "the free 0";
    EXPECT_EQ(numbers.Assign({"sdc#12", "sda#13", "sdb#9"}), (V{0, 1, 2}))
        << "sda plugged again (new sequence number) takes the free 1";
    EXPECT_EQ(numbers.Assign({"sdd#14", "sde#15"}), (V{0, 1}));
}
