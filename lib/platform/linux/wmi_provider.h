#pragma once
// The WMI provider of this platform: answers the classes Win32_LogicalDiskToPartition,
// Win32_DiskDriveToDiskPartition and Win32_DiskDrive of root\cimv2 from the mount table and
// sysfs, with the object paths and Plug and Play identifiers Windows gives.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/wbem.h"
#include "platform/linux/drive_letters.h"

namespace platform::lnx {

// Disk numbers as Windows keeps them: a disk keeps its number while it is present, and a new
// disk takes the lowest number that is free.
class DiskNumberMap {
public:
    // The numbers of the disks `present` (keys that name one attachment of a disk), in the
    // order given; disks no longer present give their numbers back first.
    std::vector<unsigned> Assign(const std::vector<std::string>& present);

private:
    std::mutex FLock;
    std::map<std::string, unsigned> FNumbers;
};

// A locator whose services read the drives of `drives` and the sysfs tree under its root,
// numbering disks through `numbers` (a map of its own when null).
std::shared_ptr<ISWbemLocator> MakeWbemLocator(std::shared_ptr<DriveLetterMap> drives,
                                               std::shared_ptr<DiskNumberMap> numbers = nullptr);

// The machine's host name as object paths carry it.
const std::string& WbemHostName();

} // namespace platform::lnx
