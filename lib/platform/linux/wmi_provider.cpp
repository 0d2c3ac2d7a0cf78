#include "platform/linux/wmi_provider.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "platform/linux/sysfs.h"
#include "platform/linux/wql.h"
#include "platform/wmi.h"

namespace platform::lnx {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t wbemErrLocalCredentials = 0x80041064;

bool ParseDecimal(std::string_view text, unsigned& value) {
    if (text.empty() || text.size() > 9)
        return false;
    const auto res = std::from_chars(text.data(), text.data() + text.size(), value);
    return res.ec == std::errc() && res.ptr == text.data() + text.size();
}

[[noreturn]] void InvalidQuery(const std::string& why) {
    throw EWbemError(wbemErrInvalidQuery, "Invalid query: " + why);
}

// ---------------------------------------------------------------- objects

class PropertySet : public ISWbemPropertySet {
public:
    explicit PropertySet(std::vector<std::shared_ptr<ISWbemProperty>> props)
        : FProps(std::move(props)) {}
    std::shared_ptr<ISWbemProperty> Item(const std::string& name, int) override {
        for (const auto& p : FProps)
            if (IEquals(p->Name(), name)) // property names are not case-sensitive
                return p;
        throw EWbemError(wbemErrNotFound, "Not found: " + name);
    }
    int Count() override { return static_cast<int>(FProps.size()); }

private:
    std::vector<std::shared_ptr<ISWbemProperty>> FProps;
};

class Object : public ISWbemObject {
public:
    explicit Object(std::shared_ptr<PropertySet> props) : FProps(std::move(props)) {}
    std::shared_ptr<ISWbemPropertySet> Properties_() override { return FProps; }

private:
    std::shared_ptr<PropertySet> FProps;
};

// ---------------------------------------------------------------- object paths

std::string ObjectPath(std::string_view className, std::string_view id) {
    return "\\\\" + WbemHostName() + "\\root\\cimv2:" + std::string(className) + ".DeviceID=\"" +
           EscapePathValue(id) + "\"";
}

// ---------------------------------------------------------------- the machine

std::string PartitionId(unsigned disk, unsigned part) {
    return "Disk #" + std::to_string(disk) + ", Partition #" + std::to_string(part);
}

std::string DiskId(unsigned disk) {
    return "\\\\.\\PHYSICALDRIVE" + std::to_string(disk);
}

std::optional<std::pair<unsigned, unsigned>> ParsePartitionId(std::string_view id) {
    if (!IStartsWith(id, "Disk #"))
        return std::nullopt;
    id.remove_prefix(6);
    const auto comma = id.find(',');
    if (comma == std::string_view::npos)
        return std::nullopt;
    unsigned disk = 0, part = 0;
    if (!ParseDecimal(id.substr(0, comma), disk))
        return std::nullopt;
    id.remove_prefix(comma);
    if (!IStartsWith(id, ", Partition #") || !ParseDecimal(id.substr(13), part))
        return std::nullopt;
    return std::make_pair(disk, part);
}

std::optional<unsigned> ParseDiskId(std::string_view id) {
    unsigned disk = 0;
    if (!IStartsWith(id, "\\\\.\\PHYSICALDRIVE") || !ParseDecimal(id.substr(17), disk))
        return std::nullopt;
    return disk;
}

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

struct DiskIdentity {
    std::string PnpDeviceId;
    std::string InterfaceType;
};

class Machine {
public:
    Machine(std::shared_ptr<DriveLetterMap> drives, std::shared_ptr<DiskNumberMap> numbers)
        : FDrives(std::move(drives)), FNumbers(std::move(numbers)),
          FSysfs(FDrives->SysfsRoot()) {}

    DriveLetterMap& Drives() { return *FDrives; }

    // Kernel names of the disks present, by their number.
    const std::map<unsigned, std::string>& Disks() {
        if (FDisks)
            return *FDisks;
        struct Entry {
            bool HasSeq;
            unsigned long long Seq;
            std::string Name;
        };
        std::vector<Entry> entries;
        std::error_code ec;
        fs::directory_iterator it(FSysfs + "/block", ec), end;
        if (ec)
            throw SysfsError("no block devices in sysfs");
        for (; it != end; it.increment(ec)) {
            std::string name = it->path().filename().string();
            if (!IsDiskDrive(name))
                continue;
            Entry e{false, 0, name};
            if (const auto seq = TryReadAttribute(FSysfs + "/block/" + name + "/diskseq")) {
                unsigned long long v = 0;
                const auto r = std::from_chars(seq->data(), seq->data() + seq->size(), v);
                if (r.ec == std::errc() && r.ptr == seq->data() + seq->size()) {
                    e.HasSeq = true;
                    e.Seq = v;
                }
            }
            entries.push_back(std::move(e));
        }
        if (ec)
            throw SysfsError("block devices of sysfs cannot be listed");
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
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

    std::optional<unsigned> DiskNumber(const std::string& name) {
        for (const auto& [n, disk] : Disks())
            if (disk == name)
                return n;
        return std::nullopt;
    }

    const std::string* DiskName(unsigned number) {
        const auto& disks = Disks();
        const auto it = disks.find(number);
        return it == disks.end() ? nullptr : &it->second;
    }

    // Kernel names of the partitions of a disk by number, MBR extended containers left out.
    std::vector<std::string> Partitions(const std::string& disk) {
        struct Entry {
            unsigned Number;
            std::string Name;
        };
        std::vector<Entry> entries;
        const std::string diskDir = FSysfs + "/block/" + disk;
        std::error_code ec;
        fs::directory_iterator it(diskDir, ec), end;
        if (ec)
            throw SysfsError("disk " + disk + " cannot be listed");
        for (; it != end; it.increment(ec)) {
            // the kernel names a disk's partitions after the disk
            std::string name = it->path().filename().string();
            if (name.size() <= disk.size() || !name.starts_with(disk))
                continue;
            const std::string dir = diskDir + "/" + name;
            const auto number = TryReadAttribute(dir + "/partition");
            if (!number)
                continue;
            unsigned n = 0, size = 0;
            if (!ParseDecimal(*number, n))
                throw SysfsError("bad partition number in " + dir);
            const std::string sizeText = ReadAttribute(dir + "/size");
            if (sizeText.size() <= 2 && ParseDecimal(sizeText, size) && size <= 2)
                continue; // the container of logical partitions
            entries.push_back({n, std::move(name)});
        }
        if (ec)
            throw SysfsError("disk " + disk + " cannot be listed");
        std::sort(entries.begin(), entries.end(),
                  [](const Entry& a, const Entry& b) { return a.Number < b.Number; });
        std::vector<std::string> names;
        for (auto& e : entries)
            names.push_back(std::move(e.Name));
        return names;
    }

    // The partition (disk rank, partition rank) that carries a drive, or nothing for a drive
    // that is not on a disk's partition or whole disk.
    std::optional<std::pair<unsigned, unsigned>> PartitionOfDrive(const LetteredDrive& drive) {
        const auto dir = ResolveLink(DevBlockNode(FSysfs, drive.Major, drive.Minor));
        if (!dir)
            throw SysfsError("device of drive " + std::string(1, drive.Letter) + " not found");
        const bool isPartition = PathExists(*dir + "/partition");
        const std::string name = BaseName(*dir);
        const std::string disk = isPartition ? BaseName(dir->substr(0, dir->rfind('/'))) : name;
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

    bool PartitionExists(unsigned disk, unsigned part) {
        const std::string* name = DiskName(disk);
        if (!name)
            return false;
        const auto parts = Partitions(*name);
        return parts.empty() ? part == 0 : part < parts.size();
    }

    DiskIdentity Identity(const std::string& disk) {
        const auto dir = ResolveLink(FSysfs + "/block/" + disk);
        if (!dir || !Below(*dir))
            throw SysfsError("disk " + disk + " not found");

        std::optional<std::string> usbInterface, usbDevice;
        for (std::string p = dir->substr(0, dir->rfind('/')); Below(p);
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
        const auto deviceDir = ResolveLink(*dir + "/device");
        std::error_code ec;
        if (!deviceDir || !Below(*deviceDir) || !fs::is_directory(*deviceDir, ec))
            throw SysfsError("device of disk " + disk + " not found");
        // Descriptive attributes that the kernel does not give (virtio, MMC) are empty fields.
        auto text = [&](const char* attribute) {
            return InquiryText(TryReadAttribute(*deviceDir + "/" + attribute).value_or(""));
        };
        const std::string vendor = nvme ? "NVME" : text("vendor");
        const std::string product = text("model");
        const unsigned lun = nvme ? 0 : Lun(BaseName(*deviceDir));

        auto madeUp = [&] {
            const std::string& port = usbDevice ? *usbDevice : *deviceDir;
            char hex[9];
            std::snprintf(
                hex, sizeof hex, "%08X",
                static_cast<unsigned>(Crc32(FSysfs == "/" ? port : port.substr(FSysfs.size()))));
            return "6&" + std::string(hex) + "&" + std::to_string(lun);
        };

        DiskIdentity id;
        if (massStorage) {
            const std::string rev = text("rev");
            const auto serial =
                usbDevice ? UsableSerial(TryReadAttribute(*usbDevice + "/serial")) : std::nullopt;
            std::string instance = serial ? *serial + "&" + std::to_string(lun) : madeUp();
            if (instance.size() > 63)
                instance.resize(63);
            id.PnpDeviceId = "USBSTOR\\DISK&VEN_" + vendor + "&PROD_" + product + "&REV_" + rev +
                             "\\" + instance;
            id.InterfaceType = "USB";
        } else {
            id.PnpDeviceId = "SCSI\\DISK&VEN_" + vendor + "&PROD_" + product + "\\" + madeUp();
            id.InterfaceType = "SCSI";
        }
        return id;
    }

private:
    // Whether `p` lies inside the sysfs tree (and is not its root).
    bool Below(const std::string& p) const {
        return p.size() > FSysfs.size() && p.compare(0, FSysfs.size(), FSysfs) == 0 &&
               (FSysfs == "/" || p[FSysfs.size()] == '/');
    }
    // The last number of a SCSI address H:C:T:L; 0 for a device that is not on SCSI at all
    // (virtio, MMC), whose name holds no colon.
    static unsigned Lun(const std::string& address) {
        if (address.find(':') == std::string::npos)
            return 0;
        unsigned parts[4];
        std::string_view rest = address;
        for (int i = 0; i < 4; ++i) {
            const auto colon = rest.find(':');
            const auto field = rest.substr(0, colon);
            if (!ParseDecimal(field, parts[i]) || (i < 3) == (colon == std::string_view::npos))
                throw SysfsError("not a SCSI address: " + address);
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
        return parts[3];
    }

    // Windows lists optical drives apart from disk drives, and has no disks for loop, RAM,
    // device-mapper or md devices.
    bool IsDiskDrive(const std::string& name) const {
        if (IsVirtualBlockName(name) || name.starts_with("dm-") || name.starts_with("md") ||
            name.starts_with("sr"))
            return false;
        const auto type = TryReadAttribute(FSysfs + "/block/" + name + "/device/type");
        return !(type && *type == "5");
    }

    std::shared_ptr<DriveLetterMap> FDrives;
    std::shared_ptr<DiskNumberMap> FNumbers;
    std::string FSysfs;
    std::optional<std::map<unsigned, std::string>> FDisks;
};

// ---------------------------------------------------------------- the classes

struct ClassDef {
    const char* Name;
    std::vector<std::pair<const char*, int>> Properties;
};

const ClassDef LogicalDiskToPartition{
    "Win32_LogicalDiskToPartition",
    {{"Antecedent", wbemCimtypeReference}, {"Dependent", wbemCimtypeReference}}};
const ClassDef DiskDriveToDiskPartition{
    "Win32_DiskDriveToDiskPartition",
    {{"Antecedent", wbemCimtypeReference}, {"Dependent", wbemCimtypeReference}}};
const ClassDef DiskDrive{"Win32_DiskDrive",
                         {{"DeviceID", wbemCimtypeString},
                          {"Index", wbemCimtypeUint32},
                          {"InterfaceType", wbemCimtypeString},
                          {"PNPDeviceID", wbemCimtypeString}}};

using Values = std::vector<TWbemScalar>; // in the order of the class's properties

class Builder {
public:
    Builder(const ClassDef& cls, const std::vector<std::string>& select) : FClass(cls) {
        if (select.empty()) {
            for (std::size_t i = 0; i < cls.Properties.size(); ++i)
                FPick.push_back(i);
            return;
        }
        for (const auto& name : select) {
            std::size_t i = 0;
            while (i < cls.Properties.size() && !IEquals(cls.Properties[i].first, name))
                ++i;
            if (i == cls.Properties.size())
                InvalidQuery("no property " + name + " in " + cls.Name);
            FPick.push_back(i);
        }
    }
    void Add(const Values& values) {
        std::vector<std::shared_ptr<ISWbemProperty>> props;
        for (const std::size_t i : FPick)
            props.push_back(MakeWbemProperty(FClass.Properties[i].first,
                                             FClass.Properties[i].second, values[i]));
        FObjects.push_back(std::make_shared<Object>(std::make_shared<PropertySet>(props)));
    }
    std::shared_ptr<ISWbemObjectSet> Result() { return MakeWbemObjectSet(FObjects); }

private:
    const ClassDef& FClass;
    std::vector<std::size_t> FPick;
    std::vector<std::shared_ptr<ISWbemObject>> FObjects;
};

// The reference a WHERE clause on an association compares with: only `Dependent` is asked
// for, always by the DeviceID key of the expected class.
std::optional<std::string> DependentKey(const WqlQuery& q, const char* dependentClass) {
    if (!IEquals(q.WhereProperty, "Dependent"))
        InvalidQuery("condition on " + q.WhereProperty + " not supported");
    const ObjectRef ref = ParseObjectPath(q.WhereValue, WbemHostName());
    if (!IEquals(ref.ClassName, dependentClass) || !IEquals(ref.Key, "DeviceID"))
        return std::nullopt;
    return ref.Value;
}

std::shared_ptr<ISWbemObjectSet> QueryLogicalDiskToPartition(Machine& m, const WqlQuery& q) {
    Builder out(LogicalDiskToPartition, q.Select);
    std::optional<char> only;
    if (q.HasWhere) {
        const auto key = DependentKey(q, "Win32_LogicalDisk");
        if (!key || key->size() != 2 || (*key)[1] != ':')
            return out.Result();
        only = UpperAscii((*key)[0]);
    }
    for (const LetteredDrive& d : m.Drives().Refresh()) {
        if (only && d.Letter != *only)
            continue;
        if (const auto part = m.PartitionOfDrive(d))
            out.Add({ObjectPath("Win32_DiskPartition", PartitionId(part->first, part->second)),
                     ObjectPath("Win32_LogicalDisk", std::string(1, d.Letter) + ":")});
    }
    return out.Result();
}

std::shared_ptr<ISWbemObjectSet> QueryDiskDriveToDiskPartition(Machine& m, const WqlQuery& q) {
    Builder out(DiskDriveToDiskPartition, q.Select);
    auto add = [&](unsigned disk, unsigned part) {
        out.Add({ObjectPath("Win32_DiskDrive", DiskId(disk)),
                 ObjectPath("Win32_DiskPartition", PartitionId(disk, part))});
    };
    if (q.HasWhere) {
        const auto key = DependentKey(q, "Win32_DiskPartition");
        const auto id = key ? ParsePartitionId(*key) : std::nullopt;
        if (id && m.PartitionExists(id->first, id->second))
            add(id->first, id->second);
        return out.Result();
    }
    const auto disks = m.Disks();
    for (const auto& [n, disk] : disks) {
        const auto count = std::max<std::size_t>(m.Partitions(disk).size(), 1);
        for (unsigned k = 0; k < count; ++k)
            add(n, k);
    }
    return out.Result();
}

std::shared_ptr<ISWbemObjectSet> QueryDiskDrive(Machine& m, const WqlQuery& q) {
    Builder out(DiskDrive, q.Select);
    auto add = [&](unsigned n, const std::string& disk) {
        const DiskIdentity id = m.Identity(disk);
        out.Add({DiskId(n), std::int64_t{n}, id.InterfaceType, id.PnpDeviceId});
    };
    if (q.HasWhere) {
        if (!IEquals(q.WhereProperty, "DeviceID"))
            InvalidQuery("condition on " + q.WhereProperty + " not supported");
        const auto n = ParseDiskId(q.WhereValue);
        if (const std::string* name = n ? m.DiskName(*n) : nullptr)
            add(*n, *name);
        return out.Result();
    }
    for (const auto& [n, disk] : m.Disks())
        add(n, disk);
    return out.Result();
}

// ---------------------------------------------------------------- services and locator

class Services : public ISWbemServices {
public:
    Services(std::shared_ptr<DriveLetterMap> drives, std::shared_ptr<DiskNumberMap> numbers)
        : FDrives(std::move(drives)), FNumbers(std::move(numbers)) {}

    std::shared_ptr<ISWbemObjectSet> ExecQuery(const std::string& strQuery,
                                               const std::string& strQueryLanguage, int,
                                               ISWbemNamedValueSet*) override {
        if (!IEquals(strQueryLanguage, "WQL"))
            throw EWbemError(wbemErrInvalidQueryType, "Invalid query language");
        const WqlQuery q = ParseWql(strQuery);
        Machine machine(FDrives, FNumbers);
        try {
            if (IEquals(q.ClassName, LogicalDiskToPartition.Name))
                return QueryLogicalDiskToPartition(machine, q);
            if (IEquals(q.ClassName, DiskDriveToDiskPartition.Name))
                return QueryDiskDriveToDiskPartition(machine, q);
            if (IEquals(q.ClassName, DiskDrive.Name))
                return QueryDiskDrive(machine, q);
        } catch (const SysfsError& e) {
            throw EWbemError(wbemErrFailed, e.what());
        } catch (const fs::filesystem_error& e) {
            throw EWbemError(wbemErrFailed, e.what());
        }
        throw EWbemError(wbemErrInvalidClass, "Invalid class: " + q.ClassName);
    }

private:
    std::shared_ptr<DriveLetterMap> FDrives;
    std::shared_ptr<DiskNumberMap> FNumbers;
};

class Locator : public ISWbemLocator {
public:
    Locator(std::shared_ptr<DriveLetterMap> drives, std::shared_ptr<DiskNumberMap> numbers)
        : FDrives(std::move(drives)), FNumbers(std::move(numbers)) {}

    std::shared_ptr<ISWbemServices>
    ConnectServer(const std::string& strServer, const std::string& strNamespace,
                  const std::string& strUser, const std::string& strPassword, const std::string&,
                  const std::string&, int, ISWbemNamedValueSet*) override {
        if (!strServer.empty() && strServer != "." && !IEquals(strServer, "localhost") &&
            !IEquals(strServer, WbemHostName()))
            throw EWbemError(wbemErrFailed, "The RPC server is unavailable: " + strServer);
        if (!strUser.empty() || !strPassword.empty())
            throw EWbemError(wbemErrLocalCredentials,
                             "User credentials cannot be used for local connections");
        if (!IEquals(strNamespace, "root\\cimv2"))
            throw EWbemError(wbemErrInvalidNamespace, "Invalid namespace: " + strNamespace);
        return std::make_shared<Services>(FDrives, FNumbers);
    }

private:
    std::shared_ptr<DriveLetterMap> FDrives;
    std::shared_ptr<DiskNumberMap> FNumbers;
};

} // namespace

const std::string& WbemHostName() {
    static const std::string name = [] {
        char buf[256] = {};
        if (::gethostname(buf, sizeof buf - 1) != 0 || buf[0] == 0)
            return std::string("localhost");
        return std::string(buf);
    }();
    return name;
}

std::vector<unsigned> DiskNumberMap::Assign(const std::vector<std::string>& present) {
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

std::shared_ptr<ISWbemLocator> MakeWbemLocator(std::shared_ptr<DriveLetterMap> drives,
                                               std::shared_ptr<DiskNumberMap> numbers) {
    if (!numbers)
        numbers = std::make_shared<DiskNumberMap>();
    return std::make_shared<Locator>(std::move(drives), std::move(numbers));
}

} // namespace platform::lnx

namespace platform {
std::shared_ptr<ISWbemLocator> CreatePlatformWbemLocator() {
    // Disk numbers live as long as the process, as Windows keeps them while a disk is present.
    static const auto numbers = std::make_shared<lnx::DiskNumberMap>();
    return lnx::MakeWbemLocator(lnx::ProcessDriveLetters(), numbers);
}
} // namespace platform
