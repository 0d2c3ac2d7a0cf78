#pragma once
// TPendockForm: the wizard's state and event handlers, free of any window toolkit. Everything
// it shows goes through IWizardView; every platform call it makes goes through the replaceable
// function members of TPendockPlatform, so the handlers run in tests without a display.

#include <functional>
#include <memory>
#include <string>

#include "StrData.h"
#include "WizardView.h"
#include "mod_DriveUsbInfo.h"
#include "mod_WebShop.h"

class TSQLocale;

// The platform calls of the wizard. Every member is required: the form calls each one as it is,
// and refuses a platform with an empty member.
struct TPendockPlatform {
    // The program's folder, with a trailing path separator.
    std::function<std::string()> ProgramFolder;
    // The drive letters present now.
    std::function<TDriveConn()> ConnectedDrives;
    // Identifies the disk behind a drive letter (one upper-case letter, no colon).
    std::function<bool(const std::string& Drive, std::string& UsbVID, std::string& UsbPID,
                       std::string& UsbSN)>
        DriveUsbInfo;
    // The folder at the root of a drive letter, without a trailing separator; empty when the
    // drive is not in use.
    std::function<std::string(char Letter)> DriveFolder;
    // Opens an address in the default browser without waiting for it; false when no browser
    // could be started at all.
    std::function<bool(const std::string& Url)> ShellOpen;
    // The search for the installed package identifier below a folder, as FindPackageId: it
    // calls ProcessMessages after each folder and stops once Stopped says so.
    std::function<bool(const std::string& Folder, std::string& Id,
                       const TProcessMessages& ProcessMessages, const TSearchStopped& Stopped)>
        SearchPackageId;
    // The file whose changes stand for the device-change message (the window watches it and
    // calls WMDeviceChange); empty: no notices.
    std::function<std::string()> DeviceNoticePath;
};

// The platform calls of the running system (app/PendockPlatform.cpp).
TPendockPlatform DefaultPendockPlatform();

class TPendockForm {
public:
    TPendockForm(IWizardView& View, TPendockPlatform Platform);
    ~TPendockForm();
    TPendockForm(const TPendockForm&) = delete;
    TPendockForm& operator=(const TPendockForm&) = delete;

    // Event handlers, in this order.
    void FormCreate();
    void FormDestroy();
    void WMDeviceChange();
    void TimerCheckTimer();
    void ButtonNextClick();
    void WizardChanging(bool& AllowChange);
    void ButtonUpgradeClick();
    void FormCloseQuery(bool& CanClose);
    void TimerContTimer();
    void ButtonCancelClick();
    void TimerAnimTimer();
    void TimerWaitTimer();
    // The handler of a timer's tick (one of the four above).
    void OnTimer(ETimer Timer);

    // Runs one handler as the toolkit runs an event handler: an error that escapes it is
    // shown in the toolkit's standard error box and goes no further. Returns false then.
    bool Dispatch(const std::function<void()>& Handler);

    // State.
    std::unique_ptr<TSQLocale> SQLocale;
    TStrData StrData;
    bool CheckDeviceChange = false;
    std::string Drive;
    std::string UsbVID;
    std::string UsbPID;
    std::string UsbSN;
    TDriveConn Drives{};
    // Device-change notices cannot arrive (the window could not watch for them): while
    // detection is armed, the drives are looked at once a second instead.
    bool PollDrives = false;
    // The program has been asked to end (the close question answered Yes, or the end after the
    // shop page): a package search still running stops, and no address is opened any more.
    bool Ending = false;

    TPendockPlatform Platform;

protected:
    void LayoutWizard();
    void LocalizeForm();
    std::string SubstOperation(const std::string& Text);
    void ShowError(const std::string& Key);
    void ArmDetection();
    void ScanForKey();
    void KeyFound();

    // The text of a locale key in the current group; empty before a database is open.
    std::string LocaleText(const std::string& Key);
    TDialogCaptions Captions(EDialogKind Kind) const;

    IWizardView& View;
};
