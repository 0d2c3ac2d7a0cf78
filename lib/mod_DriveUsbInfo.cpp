#include "mod_DriveUsbInfo.h"

#include <charconv>
#include <cstdint>
#include <exception>
#include <type_traits>

#include "mod_WbemScripting_TLB.h"
#include "platform/logical_drives.h"

TDriveConn GetConnectedDrives() {
    const std::uint32_t mask = platform::GetLogicalDrives();
    TDriveConn drives{};
    for (std::size_t i = 0; i < drives.size(); ++i)
        drives[i] = (mask >> (i + 2)) & 1u;
    return drives;
}

namespace {

template <typename T> std::string RealText(T value) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    return res.ec == std::errc() ? std::string(buf, res.ptr) : std::string();
}

// The text of one value of a property of type `cimType`.
std::string ScalarText(const TWbemScalar& value, int cimType) {
    return std::visit(
        [cimType](const auto& v) -> std::string {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, bool>)
                return v ? "True" : "False";
            else if constexpr (std::is_same_v<V, std::int64_t> || std::is_same_v<V, std::uint64_t>)
                return std::to_string(v);
            else if constexpr (std::is_same_v<V, double>)
                return cimType == wbemCimtypeReal32 ? RealText(static_cast<float>(v)) : RealText(v);
            else if constexpr (std::is_same_v<V, std::string>)
                return v;
            else
                return "<CIM Object>";
        },
        value);
}

bool RendersByValue(int cimType) {
    switch (cimType) {
    case wbemCimtypeSint8:
    case wbemCimtypeSint16:
    case wbemCimtypeSint32:
    case wbemCimtypeSint64:
    case wbemCimtypeUint8:
    case wbemCimtypeUint16:
    case wbemCimtypeUint32:
    case wbemCimtypeReal32:
    case wbemCimtypeReal64:
    case wbemCimtypeString:
    case wbemCimtypeUint64:
    case wbemCimtypeBoolean:
    case wbemCimtypeDatetime:
    case wbemCimtypeReference:
        return true;
    default:
        return false;
    }
}

// The text after the first `DeviceID="` of an object path, less its last character (the
// closing quote), at most 999 characters taken. False when the marker does not occur.
bool CutDeviceId(const std::string& path, std::string& id) {
    static const std::string marker = "DeviceID=\"";
    const auto pos = path.find(marker);
    if (pos == std::string::npos)
        return false;
    std::string rest = path.substr(pos + marker.size(), 999);
    if (!rest.empty())
        rest.pop_back();
    id = std::move(rest);
    return true;
}

bool IsDriveLetter(const std::string& drive) {
    if (drive.size() != 1)
        return false;
    const char c = drive[0];
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

std::string WmiPropertyToString(const ISWbemProperty& Prop) {
    const TWbemVariant value = Prop.Value();
    if (value.IsNull())
        return "NULL";
    const int type = Prop.CIMType();
    if (type == wbemCimtypeObject)
        return "<CIM Object>";
    if (type == wbemCimtypeChar16)
        return "<16-bit character>";
    if (!RendersByValue(type))
        return {};
    if (!value.IsArray())
        return ScalarText(value.Scalar(), type);
    std::string text;
    bool first = true;
    for (const auto& item : value.Elements()) {
        if (!first)
            text += '|';
        first = false;
        text += ScalarText(item, type);
    }
    return text;
}

int WmiGetOneProperty(const std::string& Query, const std::string& PropName,
                      std::string& PropValue) {
    return WmiGetOneProperty(Query, PropName, PropValue, nullptr);
}

int WmiGetOneProperty(const std::string& Query, const std::string& PropName, std::string& PropValue,
                      std::string* Error) {
    PropValue.clear();
    TSWbemLocator locator; // released on every way out
    try {
        auto services = locator.ConnectServer("", "root\\CIMV2", "", "", "", "", 0, nullptr);
        if (!services)
            return -1;
        auto objects = services->ExecQuery(Query, "WQL", wbemFlagReturnImmediately, nullptr);
        if (!objects)
            return -1;
        const int count = objects->Count();
        if (count != 1)
            return count;
        auto items = objects->NewEnum();
        if (!items)
            return -1;
        std::string value;
        while (auto object = items->Next()) {
            auto props = object->Properties_();
            if (!props)
                return -1;
            auto prop = props->Item(PropName, 0);
            if (!prop)
                return -1;
            if (prop->Name() != PropName)
                return 1;
            value = WmiPropertyToString(*prop);
        }
        PropValue = std::move(value);
        return 1;
    } catch (const std::exception& e) {
        PropValue.clear();
        if (Error)
            *Error = e.what();
        return -1;
    } catch (...) {
        PropValue.clear();
        if (Error)
            *Error = "unknown error";
        return -1;
    }
}

// Two blanks after FROM; WQL reads each doubled backslash of the object paths as one.
std::string LogicalDiskToPartitionQuery(const std::string& drive) {
    return R"(SELECT * FROM  Win32_LogicalDiskToPartition WHERE Dependent='\\\\.\\root\\cimv2:Win32_LogicalDisk.DeviceID=")" +
           drive + R"(:"')";
}

std::string DiskDriveToDiskPartitionQuery(const std::string& partition) {
    return R"(SELECT * FROM  Win32_DiskDriveToDiskPartition WHERE Dependent='\\\\.\\root\\cimv2:Win32_DiskPartition.DeviceID=")" +
           partition + R"("')";
}

std::string DiskDriveQuery(const std::string& disk) {
    return R"(SELECT * FROM  Win32_DiskDrive WHERE DeviceID=")" + disk + "\"";
}

std::string ExtractPnpField(const std::string& PnpId, const std::string& Marker) {
    const auto pos = PnpId.find(Marker);
    if (pos == std::string::npos)
        return {};
    const auto start = pos + Marker.size();
    const auto end = PnpId.find('&', start);
    return PnpId.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string ExtractPnpSerial(const std::string& PnpId) {
    const auto amp = PnpId.rfind('&');
    if (amp == std::string::npos)
        return {};
    const auto slash = amp == 0 ? std::string::npos : PnpId.rfind('\\', amp - 1);
    const auto start = slash == std::string::npos ? 0 : slash + 1;
    return PnpId.substr(start, amp - start);
}

bool GetDriveUsbInfo(const std::string& Drive, std::string& UsbVID, std::string& UsbPID,
                     std::string& UsbSN) {
    return GetDriveUsbInfo(Drive, UsbVID, UsbPID, UsbSN, nullptr);
}

namespace {
int AskOne(const std::string& query, const std::string& property, std::string& value,
           TUsbInfoTrace* trace) {
    if (!trace)
        return WmiGetOneProperty(query, property, value);
    TUsbInfoStep& step = trace->Steps.emplace_back();
    step.Query = query;
    step.Property = property;
    step.Count = WmiGetOneProperty(query, property, value, &step.Error);
    step.Value = value;
    return step.Count;
}
} // namespace

bool GetDriveUsbInfo(const std::string& Drive, std::string& UsbVID, std::string& UsbPID,
                     std::string& UsbSN, TUsbInfoTrace* Trace) {
    // The letter goes into the query text; anything but one letter could change the query.
    if (!IsDriveLetter(Drive))
        return false;

    std::string value;
    if (AskOne(LogicalDiskToPartitionQuery(Drive), "Antecedent", value, Trace) != 1)
        return false;
    std::string partition;
    if (!CutDeviceId(value, partition))
        return false;

    if (AskOne(DiskDriveToDiskPartitionQuery(partition), "Antecedent", value, Trace) != 1)
        return false;
    std::string disk;
    if (!CutDeviceId(value, disk))
        return false;

    std::string pnpId;
    if (AskOne(DiskDriveQuery(disk), "PNPDeviceID", pnpId, Trace) != 1)
        return false;

    if (Trace)
        Trace->PnpDeviceId = pnpId;
    if (pnpId.size() < 2 || pnpId.compare(pnpId.size() - 2, 2, "&0") != 0)
        pnpId += "&0";

    std::string vendor = ExtractPnpField(pnpId, "VEN__");
    if (vendor.empty())
        vendor = ExtractPnpField(pnpId, "VEN_");
    std::string product = ExtractPnpField(pnpId, "PROD__");
    if (product.empty())
        product = ExtractPnpField(pnpId, "PROD_");
    std::string serial = ExtractPnpSerial(pnpId);

    UsbVID = std::move(vendor);
    UsbPID = std::move(product);
    UsbSN = std::move(serial);
    return true;
}
