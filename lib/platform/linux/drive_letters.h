#pragma once
// Drive letters over the mount table: one letter per mounted block device, the root
// filesystem's device as C:, every other drive the lowest free letter from D: to Z: when it
// is first seen, kept while it stays mounted.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform::lnx {

struct TLetteredDrive {
    char Letter = 0; // 'C' to 'Z'
    unsigned Major = 0;
    unsigned Minor = 0;
    std::string Name;       // kernel name of the block device, such as "sdb1"
    std::string MountPoint; // its first mount point in the mount table
};

class TDriveLetterMap {
public:
    TDriveLetterMap(std::string mountInfoPath, std::string sysfsRoot);

    // Reads the mount table afresh and returns the drives that have a letter, by letter.
    // A reading that is no picture of the machine (the table cannot be read, is too large, or
    // holds no mount on /) changes nothing: the drives of the last good reading are returned,
    // none before the first.
    std::vector<TLetteredDrive> Refresh();

    // Bit n set for the letter 'A' + n in use (after a fresh read).
    std::uint32_t LogicalDrives();
    // The drive with that letter now (upper or lower case), or nothing.
    std::optional<TLetteredDrive> Find(char letter);

    const std::string& MountInfoPath() const { return FMountInfoPath; }
    const std::string& SysfsRoot() const { return FSysfsRoot; }

private:
    std::optional<std::string> DeviceName(unsigned major, unsigned minor);

    std::string FMountInfoPath;
    std::string FSysfsRoot;
    std::mutex FLock;
    std::map<std::pair<unsigned, unsigned>, char> FLetters; // device numbers -> letter
    std::vector<TLetteredDrive> FLastDrives;                // of the last good reading
    // device numbers -> (text of its dev/block link, kernel name), for links seen to resolve
    std::map<std::pair<unsigned, unsigned>, std::pair<std::string, std::string>> FNodes;
};

// The drive letters of this process, over the roots handed to the layer (Roots(),
// platform/linux/roots.h): one map from the first use until other roots are handed in.
std::shared_ptr<TDriveLetterMap> ProcessDriveLetters();

} // namespace platform::lnx
