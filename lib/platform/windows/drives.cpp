// The drive letters of the machine, as the system reports them.

#include <windows.h>

#include "base/TextUtil.h"
#include "platform/logical_drives.h"

namespace platform {

std::uint32_t GetLogicalDrives() {
    return static_cast<std::uint32_t>(::GetLogicalDrives());
}

std::string DriveRootPath(char letter) {
    letter = textutil::UpperAscii(letter);
    if (letter < 'A' || letter > 'Z')
        return {};
    const std::uint32_t mask = GetLogicalDrives();
    if (((mask >> (letter - 'A')) & 1u) == 0)
        return {};
    // "E:" names the drive; a path below it is "E:" followed by a separator and the rest.
    return std::string{letter, ':'};
}

} // namespace platform
