#pragma once
// The map of drive letters in use and the identification of the USB disk behind a letter.

#include <array>
#include <string>

// One flag per drive letter C to Z: element 0 is C:, element 23 is Z:.
using TDriveConn = std::array<bool, 24>;

// The drive letters present now (bits 2 to 25 of the platform's logical-drive mask).
TDriveConn GetConnectedDrives();

// Identifies the disk behind `Drive` (one upper-case letter, no colon). True with all three
// outputs assigned; false with the outputs left exactly as they were.
bool GetDriveUsbInfo(const std::string& Drive, std::string& UsbVID, std::string& UsbPID,
                     std::string& UsbSN);
