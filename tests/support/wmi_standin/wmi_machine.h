#pragma once
// The machine a test describes, answered as Windows' WMI answers WQL data queries about its
// disks: the classes Win32_DiskDrive, Win32_DiskPartition, Win32_LogicalDisk,
// Win32_CDROMDrive and the associations Win32_DiskDriveToDiskPartition and
// Win32_LogicalDiskToPartition of root\cimv2, with the properties, CIM types and object paths
// that the Microsoft class pages give them. No Windows header: the COM layer (wbemprox.cpp)
// turns these answers into WMI's objects, and the unit tests read them directly.

#include <cstdint>
#include <istream>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "platform/wbem.h"

namespace wmistandin {

// Errors carry WMI's own codes (wbemErr*), as the program's WMI layer names them.
using EWmiError = ::EWbemError;

// CIM type codes of the properties served (wbemcli.h's CIMTYPE_ENUMERATION has the same).
using ECimType = ::EWbemCimtype;

// A property's value: null, a text (strings, references, 64-bit numbers as WMI hands them
// out), an unsigned number or a Boolean.
using TValue = std::variant<std::monostate, std::string, std::uint64_t, bool>;

struct TProperty {
    std::string Name;
    ECimType Type;
    TValue Value;
};

struct TInstance {
    std::string ClassName;
    std::vector<TProperty> Properties; // in the order of the class, keys included
    std::vector<std::string> Keys;     // the key properties' names
    std::string RelPath;               // Class.Key="value",...
    std::string Path;                  // \\HOST\root\cimv2:RelPath
    const TProperty* Find(const std::string& name) const; // any case; null when absent
};

// ---- object paths -------------------------------------------------------------------------------

// An object path taken apart ("WMI Object Path Requirements"): server and namespace (both empty
// in a relative path), class, and the key values unescaped, numbers as their decimal text.
struct TObjectPath {
    std::string Server;
    std::string Namespace;
    std::string ClassName;
    std::vector<std::pair<std::string, std::string>> Keys;
};

// Throws EWmiError (WBEM_E_INVALID_QUERY... the caller's code) when `text` is no object path.
TObjectPath ParseObjectPath(const std::string& text);

// Whether two object paths name the same object of the machine called `host`: the server ""
// (a relative path), "." and the host's name are this machine; a path without a namespace is in
// root\cimv2; "/" separates like "\"; names and values compare without regard to case, keys in
// any order.
bool SameObjectPath(const std::string& a, const std::string& b, const std::string& host);

// A key value as an object path writes it: in double quotes, with \ and " escaped.
std::string QuotedKey(const std::string& value);

// ---- WQL ----------------------------------------------------------------------------------------

// A WQL string literal's text: the quotes taken off and the escapes \\, \" and \' resolved
// ("WHERE Clause (WMI)"). `literal` starts with its quote; throws on an unterminated one.
std::string UnescapeWqlString(const std::string& literal);

// ---- the machine --------------------------------------------------------------------------------

// The machine file, one item a line ('#' starts a comment):
//
//   disk      INDEX SIZE PNPDEVICEID MODEL...
//   partition DISK INDEX SIZE
//   volume    LETTER: DISK PARTITION FILESYSTEM [LABEL...]
//   cdrom     LETTER: PNPDEVICEID NAME...
//
// A disk whose PNPDeviceID begins with USBSTOR\ is a USB disk (removable media, its volumes
// drive type 2); any other is a fixed disk (drive type 3). A CD-ROM drive's letter is a logical
// disk of drive type 5 on no partition.
class TMachine {
public:
    // Throws EWmiError (WBEM_E_FAILED) naming the line that is not understood.
    static TMachine Read(std::istream& in, const std::string& host);

    // The objects a WQL data query selects, in the order of the machine file. Throws EWmiError:
    // WBEM_E_INVALID_QUERY for a text that is no such query or names a property the class has
    // not, WBEM_E_INVALID_CLASS for a class this machine does not know.
    std::vector<TInstance> ExecQuery(const std::string& wql) const;

    // Every object of the class (any case); throws WBEM_E_INVALID_CLASS for an unknown one.
    std::vector<TInstance> Instances(const std::string& className) const;

    const std::string& Host() const { return FHost; }

private:
    struct TDisk {
        unsigned Index;
        std::uint64_t Size;
        std::string Pnp, Model;
    };
    struct TPartition {
        unsigned Disk, Index;
        std::uint64_t Size;
    };
    struct TVolume {
        char Letter;
        unsigned Disk, Partition;
        std::string FileSystem, Label;
    };
    struct TCdrom {
        char Letter;
        std::string Pnp, Name;
    };

    const TDisk* DiskOf(unsigned index) const;
    const TPartition* PartitionOf(unsigned disk, unsigned index) const;
    TInstance Make(const std::string& className, std::vector<TProperty> props,
                   std::vector<std::string> keys) const;

    std::string FHost;
    std::vector<TDisk> FDisks;
    std::vector<TPartition> FPartitions;
    std::vector<TVolume> FVolumes;
    std::vector<TCdrom> FCdroms;
};

} // namespace wmistandin
