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
#include "platform/drive_watch.h"

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
    // The watch whose notices stand for the device-change message (the window waits on it and
    // calls WMDeviceChange); null where the system sends that message to the window itself.
    std::function<std::unique_ptr<platform::IDriveWatch>()> DriveWatch;
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
    // The drive watch's notice of a USB device that came while the wizard waits and that
    // nothing could open.
    void DeviceNotOpened();
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

    // The form's drive watch, armed while page DetectKey is shown; null when the window gets
    // the device-change message from the system.
    platform::IDriveWatch* DriveWatch() const { return FDriveWatch.get(); }

    // The wizard's state, as the handlers leave it.
    // The locale object, from the create handler to the destroy handler.
    TSQLocale* SQLocale() const { return FSQLocale.get(); }
    const TStrData& StrData() const { return FStrData; }
    // Detection is armed: the next device-change notice starts a scan.
    bool CheckDeviceChange() const { return FCheckDeviceChange; }
    // The letter of the drive the last scan looked at ('E'), then the key's; 0 before.
    char Drive() const { return FDrive; }
    const std::string& UsbVID() const { return FUsbVID; }
    const std::string& UsbPID() const { return FUsbPID; }
    const std::string& UsbSN() const { return FUsbSN; }
    // The drives present when detection was last armed.
    const TDriveConn& Drives() const { return FDrives; }

protected:
    // Shows `page`; the drive watch is armed while the page is DetectKey.
    void ShowPage(EPage page);
    void LayoutWizard();
    void LocalizeForm();
    std::string SubstOperation(const std::string& Text);
    void ShowError(const std::string& Key);
    void ArmDetection();
    void ScanForKey();
    void KeyFound();
    // Searches the key for its package id and opens the shop's page; false when no page was
    // opened because the key could not be read or was taken out (the wizard waits for the key
    // again) or the program is ending.
    bool OpenShopPage();
    // The desktop may mount the other partitions of a key some seconds after the first: while no
    // product folder is in sight on any of them, TimerCont is started once more (at most
    // MaxFolderWaits times) and true returned.
    bool WaitForProductFolder();
    // The product folder on the key: on its drive, or else on another drive that came since
    // detection was armed and belongs to the same disk (a key with several partitions). Empty
    // when the drive has gone.
    std::string KeyProductFolder();
    // The key's search failed or the key has gone: says so and waits on page DetectKey again.
    void KeyLost();

    // The text of a locale key in the current group; empty before a database is open.
    std::string LocaleText(const std::string& Key);
    TDialogCaptions Captions(EDialogKind Kind) const;

private:
    TPendockPlatform FPlatform;
    IWizardView& FView;
    std::unique_ptr<platform::IDriveWatch> FDriveWatch;
    std::unique_ptr<TSQLocale> FSQLocale;
    TStrData FStrData;
    bool FCheckDeviceChange = false;
    char FDrive = 0;
    std::string FUsbVID;
    std::string FUsbPID;
    std::string FUsbSN;
    TDriveConn FDrives{};
    // How often the search has waited for the key's other partitions (TimerContTimer).
    int FFolderWaits = 0;
    static constexpr int MaxFolderWaits = 2;
    // Device-change notices cannot arrive (no watch could be set up): while detection is
    // armed, the drives are looked at once a second instead.
    bool FPollDrives = false;
    // The program has been asked to end (the close question answered Yes, or the end after the
    // shop page): a package search still running stops, and no address is opened any more.
    bool FEnding = false;
};
