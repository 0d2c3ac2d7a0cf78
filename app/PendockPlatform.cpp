#include "FormPendock.h"
#include "platform/ProgramFolder.h"
#include "platform/logical_drives.h"

TPendockPlatform DefaultPendockPlatform()
{
    TPendockPlatform p;
    p.ProgramFolder = app_platform::GetProgramFolder;
    p.ConnectedDrives = [] { return GetConnectedDrives(); };
    p.DriveUsbInfo = [](const std::string& Drive, std::string& UsbVID, std::string& UsbPID,
                        std::string& UsbSN) { return GetDriveUsbInfo(Drive, UsbVID, UsbPID, UsbSN); };
    p.DriveFolder = [](char Letter) { return platform::DriveRootPath(Letter); };
    return p;
}
