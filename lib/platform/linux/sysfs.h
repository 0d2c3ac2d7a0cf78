#pragma once
// Reading the mount table and the block-device tree of sysfs.

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform::lnx {

// A sysfs attribute or node that is missing, unreadable or malformed.
class ESysfsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One line of a mount-info file (proc(5)), with the mount point and source decoded.
struct TMountEntry {
    unsigned Major = 0;
    unsigned Minor = 0;
    std::string Root;
    std::string MountPoint;
    std::string FsType;
    std::string Source;
};

// Undoes the octal escapes of mount-info fields ("\040" for a blank and so on).
std::string DecodeMountField(std::string_view field);

// The well-formed lines of a mount-info text, in order; malformed lines are skipped.
std::vector<TMountEntry> ParseMountInfo(std::string_view text);

// The mount table at `path`, read whole. Nothing when it cannot be read or is larger than any
// real table (16 MiB).
std::optional<std::vector<TMountEntry>> ReadMountTable(const std::string& path);

// The whole text of a file of at most `limit` bytes (also files whose size the kernel gives
// as 0). Nothing when the file cannot be read or is larger.
std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t limit);

// A sysfs attribute's text without its line end. Throws ESysfsError when it is missing,
// unreadable or longer than a page.
std::string ReadAttribute(const std::string& path);
// The same, or nothing when the attribute does not exist or cannot be read.
std::optional<std::string> TryReadAttribute(const std::string& path);

// Whether anything (following links) is at `path`.
bool PathExists(const std::string& path);

// The folder a sysfs node stands for: where its link points, resolved against the folder
// holding it (sysfs links are relative and stay inside the tree), or the node itself when it
// is a folder and no link. Nothing when there is no such node. `path` must not pass through
// other links before its last part.
std::optional<std::string> ResolveLink(const std::string& path);

// Kernel names of block devices that are never drives or disks.
bool IsVirtualBlockName(std::string_view name); // loop, ram, zram

// The node `dev/block/MAJ:MIN` under `sysfsRoot` as a path, whether it exists or not.
std::string DevBlockNode(const std::string& sysfsRoot, unsigned major, unsigned minor);

// The device numbers of the block device with kernel name `name` (its `dev` attribute under
// class/block), or nothing.
std::optional<std::pair<unsigned, unsigned>> BlockDeviceNumbers(const std::string& sysfsRoot,
                                                                const std::string& name);

// The last part of a path.
std::string BaseName(const std::string& path);

// CRC-32 (the polynomial of zlib and Ethernet) of `data`.
std::uint32_t Crc32(std::string_view data);

} // namespace platform::lnx
