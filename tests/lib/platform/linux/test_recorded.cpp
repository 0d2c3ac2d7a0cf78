// Identification on sysfs trees and mount tables recorded from Debian's kernel in a virtual
// machine with USB devices hot-plugged into its xHCI controller (tests/vm, --record). The
// system disk there is a virtio disk, which has neither model nor SCSI address.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "mod_DriveUsbInfo.h"
#include "platform/linux/drive_letters.h"
#include "sim_machine.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// Undoes the \xNN escapes of a recorded attribute.
std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
            out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

// A recorded machine unpacked into a temporary folder: sys/ and mountinfo.
class RecordedMachine {
public:
    explicit RecordedMachine(const std::string& name) {
        const fs::path from = fs::path(PENDOCK_SOURCE_DIR) / "tests/data/vm" / name;
        std::ifstream in(from / "sysfs.txt");
        if (!in)
            throw std::runtime_error("no recording " + from.string());
        const fs::path sys = FFolder.Path() / "sys";
        std::string line;
        while (std::getline(in, line)) {
            if (line.empty() || line[0] == '#')
                continue;
            std::istringstream fields(line.substr(2));
            std::string path, value;
            fields >> path >> value;
            if (line[0] == 'D')
                fs::create_directories(sys / path);
            else if (line[0] == 'F')
                std::ofstream(sys / path) << Unescape(value) << '\n';
            else if (line[0] == 'L')
                fs::create_symlink(value, sys / path);
        }
        fs::copy_file(from / "mountinfo", FFolder.Path() / "mountinfo");
        FMap = std::make_shared<platform::lnx::TDriveLetterMap>(
            (FFolder.Path() / "mountinfo").string(), sys.string());
        FProvider = std::make_unique<ScopedProvider>(FMap);
    }

    std::string Identify(char letter) {
        std::string vendor, product, serial;
        if (!GetDriveUsbInfo(std::string(1, letter), vendor, product, serial))
            return "failed";
        return vendor + " | " + product + " | " + serial;
    }
    int Count(const std::string& query) {
        std::string value;
        return WmiGetOneProperty(query, "PNPDeviceID", value);
    }
    std::string Antecedent(char letter) {
        std::string value;
        WmiGetOneProperty(LogicalDiskToPartitionQuery(std::string(1, letter)), "Antecedent", value);
        return value.substr(value.find(':') + 1);
    }

private:
    TTempDir FFolder{"pendock-recorded"};
    std::shared_ptr<platform::lnx::TDriveLetterMap> FMap;
    std::unique_ptr<ScopedProvider> FProvider;
};

const char* const AllDisks = "SELECT PNPDeviceID FROM Win32_DiskDrive";

} // namespace

TEST(RecordedKernel, PartitionedKeyWithASerialAndTheVirtioSystemDisk) {
    RecordedMachine m("stick");
    EXPECT_EQ(m.Identify('D'), "SANDISK | CRUZER_BLADE | 4C530001230615110171");
    EXPECT_EQ(m.Antecedent('D'), R"(Win32_DiskPartition.DeviceID="Disk #1, Partition #0")");
    // The virtio disk has no model and no SCSI address: its fields are what the kernel gives.
    EXPECT_EQ(m.Identify('C'), R"(0X1AF4 | \6 | 6&A4F5AEBC)");
    EXPECT_EQ(m.Count(AllDisks), 2);
}

TEST(RecordedKernel, CardReaderWithTheKeyOnItsSecondLun) {
    RecordedMachine m("reader");
    EXPECT_EQ(m.Identify('D'), "GENERIC | MS/MS-PRO | 000000000819&1");
    EXPECT_EQ(m.Antecedent('D'), R"(Win32_DiskPartition.DeviceID="Disk #2, Partition #0")")
        << "the empty first LUN is disk 1";
    EXPECT_EQ(m.Count(AllDisks), 3);
}

TEST(RecordedKernel, KeyWithoutSerialOrPartitionTable) {
    RecordedMachine m("noserial");
    // 6&<CRC-32 of "/devices/pci0000:00/0000:00:04.0/usb2/2-3">
    EXPECT_EQ(m.Identify('D'), "ACME | FLASH_DRIVE | 6&BA011770");
    EXPECT_EQ(m.Antecedent('D'), R"(Win32_DiskPartition.DeviceID="Disk #1, Partition #0")");
}

TEST(RecordedKernel, UasDiskInTheScsiForm) {
    RecordedMachine m("uas");
    EXPECT_EQ(m.Identify('D'), R"(SAMSUNG | PSSD_T7\6 | 6&5362B245)");
}

TEST(RecordedKernel, OpticalDriveIsNoDisk) {
    RecordedMachine m("cdrom");
    EXPECT_EQ(m.Identify('D'), "failed");
    EXPECT_EQ(m.Count(AllDisks), 1) << "only the system disk";
    EXPECT_EQ(m.Identify('C'), R"(0X1AF4 | \6 | 6&A4F5AEBC)");
}
