// Kept apart from mod_WebShop.cpp so that the package search and the address builder do not
// pull in the drive-letter map.
#include "mod_WebShop.h"

#include "platform/logical_drives.h"

std::string ProductFolderOfDrive(const std::string& drive) {
    if (drive.empty() || drive.size() > 2 || (drive.size() == 2 && drive[1] != ':'))
        return {};
    char letter = drive[0];
    if (letter >= 'a' && letter <= 'z')
        letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'Z')
        return {};
    std::string root = platform::DriveRootPath(letter);
    if (root.empty())
        return {};
    if (root.back() != '/')
        root += '/';
    return root + "Quorvento";
}
