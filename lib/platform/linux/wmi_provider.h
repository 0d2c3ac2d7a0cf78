#pragma once
// The WMI provider of this platform: answers the classes Win32_LogicalDiskToPartition,
// Win32_DiskDriveToDiskPartition and Win32_DiskDrive of root\cimv2 from the mount table and
// sysfs, with the object paths and Plug and Play identifiers Windows gives.

#include <memory>
#include <string>

#include "platform/linux/disk_model.h"
#include "platform/linux/drive_letters.h"
#include "platform/wbem.h"

namespace platform::lnx {

// A locator whose services read the drives of `drives` and the sysfs tree under its root,
// numbering disks through `numbers` (a map of its own when null).
std::shared_ptr<ISWbemLocator> MakeWbemLocator(std::shared_ptr<TDriveLetterMap> drives,
                                               std::shared_ptr<TDiskNumberMap> numbers = nullptr);

// The machine's host name as object paths carry it.
const std::string& WbemHostName();

} // namespace platform::lnx
