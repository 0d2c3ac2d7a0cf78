#include "FormPendock.h"
#include "platform/program_folder.h"
#if !defined(_WIN32)
#include "platform/linux/device_notice.h"
#endif
#include "platform/logical_drives.h"
#include "platform/shell.h"

namespace {

std::string DeviceNoticePath() {
#if defined(_WIN32)
    return {}; // Windows delivers WM_DEVICECHANGE to the window itself.
#else
    return platform::TDeviceNotice::DefaultPath();
#endif
}

} // namespace

TPendockPlatform DefaultPendockPlatform() {
    return {
        .ProgramFolder = platform::GetProgramFolder,
        .ConnectedDrives = [] { return GetConnectedDrives(); },
        .DriveUsbInfo =
            [](const std::string& Drive, std::string& UsbVID, std::string& UsbPID,
               std::string& UsbSN) { return GetDriveUsbInfo(Drive, UsbVID, UsbPID, UsbSN); },
        .DriveFolder = [](char Letter) { return platform::DriveRootPath(Letter); },
        .ShellOpen = [](const std::string& Url) { return platform::OpenInBrowser(Url); },
        .SearchPackageId = FindPackageId,
        .DeviceNoticePath = DeviceNoticePath,
    };
}
