#include "platform/linux/disk_model.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>

#include "base/TextUtil.h"
#include "platform/linux/sysfs.h"

using textutil::UpperAscii;

namespace platform::lnx {

namespace fs = std::filesystem;

namespace {

// A SCSI inquiry text as Windows puts it into an identifier.
std::string InquiryText(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n'))
        text.pop_back();
    for (char& c : text) {
        const auto u = static_cast<unsigned char>(c);
        c = (u <= 0x20 || u > 0x7F || c == ',') ? '_' : UpperAscii(c);
    }
    return text;
}

// The serial as an instance identifier, upper-cased; nothing where Windows would refuse it:
// missing, empty, or holding a control character, a blank, a byte from 0x7F up or a comma.
std::optional<std::string> UsableSerial(const std::optional<std::string>& serial) {
    if (!serial || serial->empty())
        return std::nullopt;
    std::string out;
    for (const char c : *serial) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F || c == ',')
            return std::nullopt;
        out += UpperAscii(c);
    }
    return out;
}

// The last number of a SCSI address H:C:T:L; 0 for a device that is not on SCSI at all
// (virtio, MMC), whose name holds no colon.
unsigned Lun(const std::string& address) {
    if (address.find(':') == std::string::npos)
        return 0;
    unsigned parts[4];
    std::string_view rest = address;
    for (int i = 0; i < 4; ++i) {
        const auto colon = rest.find(':');
        const auto field = rest.substr(0, colon);
        if (!ParseDecimal(field, parts[i]) || (i < 3) == (colon == std::string_view::npos))
            throw ESysfsError("not a SCSI address: " + address);
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
    return parts[3];
}

} // namespace

bool ParseDecimal(std::string_view text, unsigned& value) {
    return text.size() <= 9 && textutil::ParseInteger(text, value);
}

std::vector<unsigned> TDiskNumberMap::Assign(const std::vector<std::string>& present) {
    std::lock_guard lock(FLock);
    for (auto it = FNumbers.begin(); it != FNumbers.end();)
        it = std::find(present.begin(), present.end(), it->first) == present.end()
                 ? FNumbers.erase(it)
                 : std::next(it);
    std::vector<unsigned> numbers;
    for (const std::string& key : present) {
        auto it = FNumbers.find(key);
        if (it == FNumbers.end()) {
            unsigned n = 0;
            while (std::any_of(FNumbers.begin(), FNumbers.end(),
                               [n](const auto& e) { return e.second == n; }))
                ++n;
            it = FNumbers.emplace(key, n).first;
        }
        numbers.push_back(it->second);
    }
    return numbers;
}

TDiskModel::TDiskModel(std::shared_ptr<TDriveLetterMap> drives,
                       std::shared_ptr<TDiskNumberMap> numbers)
    : FDrives(std::move(drives)), FNumbers(std::move(numbers)), FSysfs(FDrives->SysfsRoot()) {}

const std::map<unsigned, std::string>& TDiskModel::Disks() {
    if (FDisks)
        return *FDisks;
    struct TEntry {
        bool HasSeq;
        unsigned long long Seq;
        std::string Name;
    };
    std::vector<TEntry> entries;
    std::error_code ec;
    fs::directory_iterator it(FSysfs + "/block", ec), end;
    if (ec)
        throw ESysfsError("no block devices in sysfs");
    for (; it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (!IsDiskDrive(name))
            continue;
        TEntry e{false, 0, name};
        if (const auto seq = TryReadAttribute(FSysfs + "/block/" + name + "/diskseq")) {
            unsigned long long v = 0;
            if (textutil::ParseInteger(*seq, v)) {
                e.HasSeq = true;
                e.Seq = v;
            }
        }
        entries.push_back(std::move(e));
    }
    if (ec)
        throw ESysfsError("block devices of sysfs cannot be listed");
    std::sort(entries.begin(), entries.end(), [](const TEntry& a, const TEntry& b) {
        if (a.HasSeq != b.HasSeq)
            return a.HasSeq;
        if (a.HasSeq && a.Seq != b.Seq)
            return a.Seq < b.Seq;
        return a.Name < b.Name;
    });
    std::vector<std::string> keys;
    for (const auto& e : entries)
        keys.push_back(e.HasSeq ? e.Name + "#" + std::to_string(e.Seq) : e.Name);
    FDisks.emplace();
    const auto numbers = FNumbers->Assign(keys);
    for (std::size_t i = 0; i < entries.size(); ++i)
        (*FDisks)[numbers[i]] = std::move(entries[i].Name);
    return *FDisks;
}

std::optional<unsigned> TDiskModel::DiskNumber(const std::string& name) {
    for (const auto& [n, disk] : Disks())
        if (disk == name)
            return n;
    return std::nullopt;
}

const std::string* TDiskModel::DiskName(unsigned number) {
    const auto& disks = Disks();
    const auto it = disks.find(number);
    return it == disks.end() ? nullptr : &it->second;
}

std::vector<std::string> TDiskModel::Partitions(const std::string& disk) {
    struct TEntry {
        unsigned Number;
        std::string Name;
    };
    std::vector<TEntry> entries;
    const std::string diskFolder = FSysfs + "/block/" + disk;
    std::error_code ec;
    fs::directory_iterator it(diskFolder, ec), end;
    if (ec)
        throw ESysfsError("disk " + disk + " cannot be listed");
    for (; it != end; it.increment(ec)) {
        // the kernel names a disk's partitions after the disk
        std::string name = it->path().filename().string();
        if (name.size() <= disk.size() || !name.starts_with(disk))
            continue;
        const std::string folder = diskFolder + "/" + name;
        const auto number = TryReadAttribute(folder + "/partition");
        if (!number)
            continue;
        unsigned n = 0, size = 0;
        if (!ParseDecimal(*number, n))
            throw ESysfsError("bad partition number in " + folder);
        const std::string sizeText = ReadAttribute(folder + "/size");
        if (sizeText.size() <= 2 && ParseDecimal(sizeText, size) && size <= 2)
            continue; // the container of logical partitions
        entries.push_back({n, std::move(name)});
    }
    if (ec)
        throw ESysfsError("disk " + disk + " cannot be listed");
    std::sort(entries.begin(), entries.end(),
              [](const TEntry& a, const TEntry& b) { return a.Number < b.Number; });
    std::vector<std::string> names;
    for (auto& e : entries)
        names.push_back(std::move(e.Name));
    return names;
}

std::optional<std::pair<unsigned, unsigned>>
TDiskModel::PartitionOfDrive(const TLetteredDrive& drive) {
    const auto folder = ResolveLink(DevBlockNode(FSysfs, drive.Major, drive.Minor));
    if (!folder)
        throw ESysfsError("device of drive " + std::string(1, drive.Letter) + " not found");
    const bool isPartition = PathExists(*folder + "/partition");
    const std::string name = BaseName(*folder);
    const std::string disk = isPartition ? BaseName(folder->substr(0, folder->rfind('/'))) : name;
    if (!IsDiskDrive(disk))
        return std::nullopt;
    const auto rank = DiskNumber(disk);
    if (!rank)
        return std::nullopt;
    if (!isPartition)
        return std::make_pair(*rank, 0u);
    const auto parts = Partitions(disk);
    const auto it = std::find(parts.begin(), parts.end(), name);
    if (it == parts.end())
        return std::nullopt;
    return std::make_pair(*rank, static_cast<unsigned>(it - parts.begin()));
}

bool TDiskModel::PartitionExists(unsigned disk, unsigned part) {
    const std::string* name = DiskName(disk);
    if (!name)
        return false;
    const auto parts = Partitions(*name);
    return parts.empty() ? part == 0 : part < parts.size();
}

TDiskIdentity TDiskModel::Identity(const std::string& disk) {
    const auto folder = ResolveLink(FSysfs + "/block/" + disk);
    if (!folder || !Below(*folder))
        throw ESysfsError("disk " + disk + " not found");

    std::optional<std::string> usbInterface, usbDevice;
    for (std::string p = folder->substr(0, folder->rfind('/')); Below(p);
         p = p.substr(0, p.rfind('/'))) {
        if (!usbInterface && PathExists(p + "/bInterfaceClass"))
            usbInterface = p;
        if (PathExists(p + "/idVendor")) {
            usbDevice = p;
            break;
        }
    }
    bool massStorage = false;
    if (usbInterface) {
        const std::string cls = ReadAttribute(*usbInterface + "/bInterfaceClass");
        const std::string protocol = ReadAttribute(*usbInterface + "/bInterfaceProtocol");
        massStorage = cls == "08" && protocol != "62";
    }

    const bool nvme = disk.starts_with("nvme");
    const auto deviceFolder = ResolveLink(*folder + "/device");
    std::error_code ec;
    if (!deviceFolder || !Below(*deviceFolder) || !fs::is_directory(*deviceFolder, ec))
        throw ESysfsError("device of disk " + disk + " not found");
    // Descriptive attributes that the kernel does not give (virtio, MMC) are empty fields.
    auto text = [&](const char* attribute) {
        return InquiryText(TryReadAttribute(*deviceFolder + "/" + attribute).value_or(""));
    };
    const std::string vendor = nvme ? "NVME" : text("vendor");
    const std::string product = text("model");
    const unsigned lun = nvme ? 0 : Lun(BaseName(*deviceFolder));

    // Windows writes the hash in hex without leading zeros: 7&6A1CA24&0 is a real instance.
    auto madeUp = [&] {
        const std::string& port = usbDevice ? *usbDevice : *deviceFolder;
        char hex[9];
        std::snprintf(
            hex, sizeof hex, "%X",
            static_cast<unsigned>(Crc32(FSysfs == "/" ? port : port.substr(FSysfs.size()))));
        return "6&" + std::string(hex) + "&" + std::to_string(lun);
    };

    TDiskIdentity id;
    if (massStorage) {
        const std::string rev = text("rev");
        const auto serial =
            usbDevice ? UsableSerial(TryReadAttribute(*usbDevice + "/serial")) : std::nullopt;
        std::string instance = serial ? *serial + "&" + std::to_string(lun) : madeUp();
        if (instance.size() > 63)
            instance.resize(63);
        id.PnpDeviceId =
            "USBSTOR\\DISK&VEN_" + vendor + "&PROD_" + product + "&REV_" + rev + "\\" + instance;
        id.InterfaceType = "USB";
    } else {
        id.PnpDeviceId = "SCSI\\DISK&VEN_" + vendor + "&PROD_" + product + "\\" + madeUp();
        id.InterfaceType = "SCSI";
    }
    return id;
}

bool TDiskModel::Below(const std::string& p) const {
    return p.size() > FSysfs.size() && p.compare(0, FSysfs.size(), FSysfs) == 0 &&
           (FSysfs == "/" || p[FSysfs.size()] == '/');
}

bool TDiskModel::IsDiskDrive(const std::string& name) const {
    if (IsVirtualBlockName(name) || name.starts_with("dm-") || name.starts_with("md") ||
        name.starts_with("sr"))
        return false;
    const auto type = TryReadAttribute(FSysfs + "/block/" + name + "/device/type");
    return !(type && *type == "5");
}

} // namespace platform::lnx
