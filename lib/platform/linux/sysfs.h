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
class SysfsError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// One line of a mount-info file (proc(5)), with the mount point and source decoded.
struct MountEntry {
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
std::vector<MountEntry> ParseMountInfo(std::string_view text);

// The whole text of a file of at most `limit` bytes (also files whose size the kernel gives
// as 0). Nothing when the file cannot be read or is larger.
std::optional<std::string> ReadSmallFile(const std::filesystem::path& path,
                                         std::size_t limit);

// A sysfs attribute's text without its line end. Throws SysfsError when it is missing,
// unreadable or longer than a page.
std::string ReadAttribute(const std::filesystem::path& path);
// The same, or nothing when the attribute does not exist or cannot be read.
std::optional<std::string> TryReadAttribute(const std::filesystem::path& path);

// Kernel names of block devices that are never drives or disks.
bool IsVirtualBlockName(std::string_view name); // loop, ram, zram

// The node `dev/block/MAJ:MIN` under `sysfsRoot` as a path, whether it exists or not.
std::filesystem::path DevBlockNode(const std::filesystem::path& sysfsRoot, unsigned major,
                                   unsigned minor);

// The kernel name of the block device MAJ:MIN (the last part of the node's link), or nothing
// when sysfs has no such device.
std::optional<std::string> BlockDeviceName(const std::filesystem::path& sysfsRoot,
                                           unsigned major, unsigned minor);

// The device numbers of the block device with kernel name `name` (its `dev` attribute under
// class/block), or nothing.
std::optional<std::pair<unsigned, unsigned>>
BlockDeviceNumbers(const std::filesystem::path& sysfsRoot, const std::string& name);

// CRC-32 (the polynomial of zlib and Ethernet) of `data`.
std::uint32_t Crc32(std::string_view data);

} // namespace platform::lnx
