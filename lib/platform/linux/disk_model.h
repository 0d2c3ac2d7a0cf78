#pragma once
// The disks of the machine as the WMI provider describes them, read from sysfs: which block
// devices count as disk drives, their numbers, their partitions, the partition that carries a
// lettered drive, and the Plug and Play identity Windows would give each disk.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/linux/drive_letters.h"

namespace platform::lnx {

// Disk numbers as Windows keeps them: a disk keeps its number while it is present, and a new
// disk takes the lowest number that is free.
class TDiskNumberMap {
public:
    // The numbers of the disks `present` (keys that name one attachment of a disk), in the
    // order given; disks no longer present give their numbers back first.
    std::vector<unsigned> Assign(const std::vector<std::string>& present);

private:
    std::mutex FLock;
    std::map<std::string, unsigned> FNumbers;
};

// A decimal number of at most 9 digits and nothing else.
bool ParseDecimal(std::string_view text, unsigned& value);

struct TDiskIdentity {
    std::string PnpDeviceId;
    std::string InterfaceType;
};

// One look at the disks under the sysfs root of `drives`, numbered through `numbers`. Reads
// sysfs when asked; throws ESysfsError for a tree it cannot read.
class TDiskModel {
public:
    TDiskModel(std::shared_ptr<TDriveLetterMap> drives, std::shared_ptr<TDiskNumberMap> numbers);

    TDriveLetterMap& Drives() { return *FDrives; }

    // Kernel names of the disks present, by their number.
    const std::map<unsigned, std::string>& Disks();
    std::optional<unsigned> DiskNumber(const std::string& name);
    const std::string* DiskName(unsigned number);

    // Kernel names of the partitions of a disk by number, MBR extended containers left out.
    std::vector<std::string> Partitions(const std::string& disk);

    // The partition (disk rank, partition rank) that carries a drive, or nothing for a drive
    // that is not on a disk's partition or whole disk.
    std::optional<std::pair<unsigned, unsigned>> PartitionOfDrive(const TLetteredDrive& drive);

    bool PartitionExists(unsigned disk, unsigned part);

    TDiskIdentity Identity(const std::string& disk);

private:
    // Whether `p` lies inside the sysfs tree (and is not its root).
    bool Below(const std::string& p) const;
    // Windows lists optical drives apart from disk drives, and has no disks for loop, RAM,
    // device-mapper or md devices.
    bool IsDiskDrive(const std::string& name) const;

    std::shared_ptr<TDriveLetterMap> FDrives;
    std::shared_ptr<TDiskNumberMap> FNumbers;
    std::string FSysfs;
    std::optional<std::map<unsigned, std::string>> FDisks;
};

} // namespace platform::lnx
