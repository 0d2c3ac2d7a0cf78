#include "FormPendock.h"
#include "platform/ProgramFolder.h"
#if !defined(_WIN32)
#include "platform/linux/device_notice.h"
#endif
#include "platform/logical_drives.h"
#include "platform/shell.h"

TPendockPlatform DefaultPendockPlatform() {
    TPendockPlatform p;
    p.ProgramFolder = app_platform::GetProgramFolder;
    p.ConnectedDrives = [] { return GetConnectedDrives(); };
    p.DriveUsbInfo = [](const std::string& Drive, std::string& UsbVID, std::string& UsbPID,
                        std::string& UsbSN) {
        return GetDriveUsbInfo(Drive, UsbVID, UsbPID, UsbSN);
    };
    p.DriveFolder = [](char Letter) { return platform::DriveRootPath(Letter); };
    p.ShellOpen = [](const std::string& Url) { return platform::OpenInBrowser(Url); };
#if !defined(_WIN32)
    // Windows delivers WM_DEVICECHANGE to the window itself.
    p.DeviceNoticePath = [] { return platform::TDeviceNotice::DefaultPath(); };
#endif
    return p;
}
