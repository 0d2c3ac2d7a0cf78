#include "platform/linux/wmi_provider.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "base/TextUtil.h"
#include "platform/linux/disk_model.h"
#include "platform/linux/sysfs.h"
#include "platform/linux/wql.h"
#include "platform/wmi.h"

using textutil::IEquals;
using textutil::IStartsWith;
using textutil::UpperAscii;

namespace platform::lnx {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t wbemErrLocalCredentials = 0x80041064;

[[noreturn]] void InvalidQuery(const std::string& why) {
    throw EWbemError(wbemErrInvalidQuery, "Invalid query: " + why);
}

// ---- objects ------------------------------------------------------------------------------------

class TPropertySet : public ISWbemPropertySet {
public:
    explicit TPropertySet(std::vector<std::shared_ptr<ISWbemProperty>> props)
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

class TObject : public ISWbemObject {
public:
    explicit TObject(std::shared_ptr<TPropertySet> props) : FProps(std::move(props)) {}
    std::shared_ptr<ISWbemPropertySet> Properties_() override { return FProps; }

private:
    std::shared_ptr<TPropertySet> FProps;
};

// ---- object paths -------------------------------------------------------------------------------

std::string ObjectPath(std::string_view className, std::string_view id) {
    return "\\\\" + WbemHostName() + "\\root\\cimv2:" + std::string(className) + ".DeviceID=\"" +
           EscapePathValue(id) + "\"";
}

// ---- identifiers --------------------------------------------------------------------------------

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

// ---- the classes --------------------------------------------------------------------------------

struct TClassDef {
    const char* Name;
    std::vector<std::pair<const char*, int>> Properties;
};

const TClassDef LogicalDiskToPartition{
    "Win32_LogicalDiskToPartition",
    {{"Antecedent", wbemCimtypeReference}, {"Dependent", wbemCimtypeReference}}};
const TClassDef DiskDriveToDiskPartition{
    "Win32_DiskDriveToDiskPartition",
    {{"Antecedent", wbemCimtypeReference}, {"Dependent", wbemCimtypeReference}}};
const TClassDef DiskDrive{"Win32_DiskDrive",
                          {{"DeviceID", wbemCimtypeString},
                           {"Index", wbemCimtypeUint32},
                           {"InterfaceType", wbemCimtypeString},
                           {"PNPDeviceID", wbemCimtypeString}}};

using Values = std::vector<TWbemScalar>; // in the order of the class's properties

class TBuilder {
public:
    TBuilder(const TClassDef& cls, const std::vector<std::string>& select) : FClass(cls) {
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
        FObjects.push_back(std::make_shared<TObject>(std::make_shared<TPropertySet>(props)));
    }
    std::shared_ptr<ISWbemObjectSet> Result() { return MakeWbemObjectSet(FObjects); }

private:
    const TClassDef& FClass;
    std::vector<std::size_t> FPick;
    std::vector<std::shared_ptr<ISWbemObject>> FObjects;
};

// The reference a WHERE clause on an association compares with: only `Dependent` is asked
// for, always by the DeviceID key of the expected class.
std::optional<std::string> DependentKey(const TWqlQuery& q, const char* dependentClass) {
    if (!IEquals(q.WhereProperty, "Dependent"))
        InvalidQuery("condition on " + q.WhereProperty + " not supported");
    const TObjectRef ref = ParseObjectPath(q.WhereValue, WbemHostName());
    if (!IEquals(ref.ClassName, dependentClass) || !IEquals(ref.Key, "DeviceID"))
        return std::nullopt;
    return ref.Value;
}

std::shared_ptr<ISWbemObjectSet> QueryLogicalDiskToPartition(TDiskModel& m, const TWqlQuery& q) {
    TBuilder out(LogicalDiskToPartition, q.Select);
    std::optional<char> only;
    if (q.HasWhere) {
        const auto key = DependentKey(q, "Win32_LogicalDisk");
        if (!key || key->size() != 2 || (*key)[1] != ':')
            return out.Result();
        only = UpperAscii((*key)[0]);
    }
    for (const TLetteredDrive& d : m.Drives().Refresh()) {
        if (only && d.Letter != *only)
            continue;
        if (const auto part = m.PartitionOfDrive(d))
            out.Add({ObjectPath("Win32_DiskPartition", PartitionId(part->first, part->second)),
                     ObjectPath("Win32_LogicalDisk", std::string(1, d.Letter) + ":")});
    }
    return out.Result();
}

std::shared_ptr<ISWbemObjectSet> QueryDiskDriveToDiskPartition(TDiskModel& m, const TWqlQuery& q) {
    TBuilder out(DiskDriveToDiskPartition, q.Select);
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

std::shared_ptr<ISWbemObjectSet> QueryDiskDrive(TDiskModel& m, const TWqlQuery& q) {
    TBuilder out(DiskDrive, q.Select);
    auto add = [&](unsigned n, const std::string& disk) {
        const TDiskIdentity id = m.Identity(disk);
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

// ---- services and locator -----------------------------------------------------------------------

class TServices : public ISWbemServices {
public:
    TServices(std::shared_ptr<TDriveLetterMap> drives, std::shared_ptr<TDiskNumberMap> numbers)
        : FDrives(std::move(drives)), FNumbers(std::move(numbers)) {}

    std::shared_ptr<ISWbemObjectSet> ExecQuery(const std::string& strQuery,
                                               const std::string& strQueryLanguage, int,
                                               ISWbemNamedValueSet*) override {
        if (!IEquals(strQueryLanguage, "WQL"))
            throw EWbemError(wbemErrInvalidQueryType, "Invalid query language");
        const TWqlQuery q = ParseWql(strQuery);
        TDiskModel machine(FDrives, FNumbers);
        try {
            if (IEquals(q.ClassName, LogicalDiskToPartition.Name))
                return QueryLogicalDiskToPartition(machine, q);
            if (IEquals(q.ClassName, DiskDriveToDiskPartition.Name))
                return QueryDiskDriveToDiskPartition(machine, q);
            if (IEquals(q.ClassName, DiskDrive.Name))
                return QueryDiskDrive(machine, q);
        } catch (const ESysfsError& e) {
            throw EWbemError(wbemErrFailed, e.what());
        } catch (const fs::filesystem_error& e) {
            throw EWbemError(wbemErrFailed, e.what());
        }
        throw EWbemError(wbemErrInvalidClass, "Invalid class: " + q.ClassName);
    }

private:
    std::shared_ptr<TDriveLetterMap> FDrives;
    std::shared_ptr<TDiskNumberMap> FNumbers;
};

class TLocator : public ISWbemLocator {
public:
    TLocator(std::shared_ptr<TDriveLetterMap> drives, std::shared_ptr<TDiskNumberMap> numbers)
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
        return std::make_shared<TServices>(FDrives, FNumbers);
    }

private:
    std::shared_ptr<TDriveLetterMap> FDrives;
    std::shared_ptr<TDiskNumberMap> FNumbers;
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

std::shared_ptr<ISWbemLocator> MakeWbemLocator(std::shared_ptr<TDriveLetterMap> drives,
                                               std::shared_ptr<TDiskNumberMap> numbers) {
    if (!numbers)
        numbers = std::make_shared<TDiskNumberMap>();
    return std::make_shared<TLocator>(std::move(drives), std::move(numbers));
}

} // namespace platform::lnx

namespace platform {
std::shared_ptr<ISWbemLocator> CreatePlatformWbemLocator() {
    // Disk numbers live as long as the process, as Windows keeps them while a disk is present.
    static const auto numbers = std::make_shared<lnx::TDiskNumberMap>();
    return lnx::MakeWbemLocator(lnx::ProcessDriveLetters(), numbers);
}
} // namespace platform
