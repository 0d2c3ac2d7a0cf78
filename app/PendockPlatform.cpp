#include "FormPendock.h"
#include "platform/drive_watch.h"
#include "platform/logical_drives.h"
#include "platform/program_folder.h"
#include "platform/roots.h"
#include "platform/shell.h"

TPendockPlatform DefaultPendockPlatform() {
    platform::UseRootsFromEnvironment();
    return {
        .ProgramFolder = platform::GetProgramFolder,
        .ConnectedDrives = [] { return GetConnectedDrives(); },
        .DriveUsbInfo =
            [](const std::string& Drive, std::string& UsbVID, std::string& UsbPID,
               std::string& UsbSN) { return GetDriveUsbInfo(Drive, UsbVID, UsbPID, UsbSN); },
        .DriveFolder = [](char Letter) { return platform::DriveRootPath(Letter); },
        .ShellOpen = [](const std::string& Url) { return platform::OpenInBrowser(Url); },
        .SearchPackageId = FindPackageId,
        .DriveWatch = [] { return platform::MakeDriveWatch(); },
    };
}
