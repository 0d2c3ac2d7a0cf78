#pragma once
// The machine the window-preview tools (screenshots, not tests) run the wizard on: C: is always
// there, E: while `Plugged`, and E: is a key that identification knows while `Identified`.
// Nothing is opened and no package is found.

#include <string>

#include "FormPendock.h"
#include "IdlePlatform.h"

struct TPreviewMachine {
    bool Plugged = false;
    bool Identified = false;

    // The wizard's platform calls on this machine, with locale.db and locale.xml in `folder`
    // (ending in a separator). The machine must outlive the window that uses them.
    TPendockPlatform Platform(const std::string& folder) {
        TPendockPlatform p = IdlePlatform();
        p.ProgramFolder = [folder] { return folder; };
        p.ConnectedDrives = [this] {
            TDriveConn d{};
            d[0] = true;    // C:
            d[2] = Plugged; // E:
            return d;
        };
        p.DriveUsbInfo = [this](const std::string&, std::string& vid, std::string& pid,
                                std::string& sn) {
            if (Identified) {
                vid = "ACME";
                pid = "FLASH_DRIVE";
                sn = "0123456789AB";
            }
            return Identified;
        };
        // A root that holds no product folder, so that the key stays there for the waiting page.
        p.DriveFolder = [this](char letter) {
            return letter == 'E' && Plugged ? std::string("/nonexistent-preview-key")
                                            : std::string();
        };
        p.ShellOpen = [](const std::string&) { return true; };
        p.SearchPackageId = [](const std::string&, std::string&, const TProcessMessages&,
                               const TSearchStopped&) { return false; };
        return p;
    }
};
