#pragma once
// The logical drives of the machine: which letters exist and where a letter's files live.

#include <cstdint>
#include <string>

namespace platform {

// Bit mask of the drive letters present: bit n stands for the letter 'A' + n.
std::uint32_t GetLogicalDrives();

// The folder at the root of the drive `letter` (upper or lower case) while that letter is in
// use, without a trailing slash ("/" itself for the root filesystem); empty when the letter
// is not in use.
std::string DriveRootPath(char letter);

} // namespace platform
