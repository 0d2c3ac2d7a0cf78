// Kept apart from mod_WebShop.cpp so that the package search and the address builder do not
// pull in the drive-letter map.
#include "mod_WebShop.h"

#include "platform/logical_drives.h"

std::string ProductFolderOfDrive(const std::string& drive) {
    return ProductFolderOf(drive, [](char letter) { return platform::DriveRootPath(letter); });
}
