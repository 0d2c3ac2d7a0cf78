#include "FormPendock.h"

#include <exception>
#include <stdexcept>

#include "WizardPictureTexts.h"
#include "WizardResource.h"
#include "mod_SQLocalize.h"
#include "mod_WebShop.h"
#include "platform/text_case.h"

namespace {

void ReplaceFirst(std::string& text, const std::string& what, const std::string& with) {
    const auto pos = text.find(what);
    if (pos != std::string::npos)
        text.replace(pos, what.size(), with);
}

bool Complete(const TPendockPlatform& p) {
    return p.ProgramFolder && p.ConnectedDrives && p.DriveUsbInfo && p.DriveFolder && p.ShellOpen &&
           p.SearchPackageId && p.DriveWatch;
}

} // namespace

TPendockForm::TPendockForm(IWizardView& View, TPendockPlatform Platform)
    : FPlatform(std::move(Platform)), FView(View) {
    if (!Complete(FPlatform))
        throw std::invalid_argument("TPendockPlatform: every platform call must be set");
    FDriveWatch = FPlatform.DriveWatch();
    FPollDrives = FDriveWatch && FDriveWatch->Kind() == platform::IDriveWatch::EKind::None;
    for (const char* line : wizard_resource::StrDataAtStart)
        FStrData.Add(line);
}

TPendockForm::~TPendockForm() = default;

bool TPendockForm::Dispatch(const std::function<void()>& Handler) {
    try {
        Handler();
        return true;
    } catch (const std::exception& e) {
        FView.ShowException(e.what());
    } catch (...) {
        FView.ShowException("unknown error");
    }
    return false;
}

std::string TPendockForm::LocaleText(const std::string& Key) {
    return FSQLocale ? FSQLocale->GetString(Key) : std::string();
}

TDialogCaptions TPendockForm::Captions(EDialogKind Kind) const {
    TDialogCaptions c;
    c.Title = FStrData.Value(Kind == EDialogKind::Error ? "MSG_CAP_ERROR" : "MSG_CAP_CONFIRM");
    c.Yes = FStrData.Value("MSG_BTN_YES");
    c.No = FStrData.Value("MSG_BTN_NO");
    c.OK = FStrData.Value("MSG_BTN_OK");
    return c;
}

// ---- Creation and destruction -------------------------------------------------------------------

void TPendockForm::FormCreate() {
    const std::string folder = FPlatform.ProgramFolder();
    FView.SetBorderIcons(biSystemMenu | biMinimize);

    FSQLocale = std::make_unique<TSQLocale>();
    FSQLocale->InitLocalize(folder + "locale.db", folder + "locale.xml");
    FSQLocale->LoadLocalizedStrings(&FStrData, "", "", "Skin");

    FView.SetClientSize(wizard_resource::ClientWidth, wizard_resource::ClientHeight);
    LayoutWizard();
    LocalizeForm();
    FView.SetPictureTexts(LookUpPictureTexts(FSQLocale.get()));
    // The image views take their pictures' names, now that the texts are known.
    for (EControl view : {EControl::BriefingImage, EControl::Image})
        FView.SetImage(view, FView.ImageOf(view));

    FDrive = 0;
    FUsbVID.clear();
    FUsbPID.clear();
    FUsbSN.clear();
    FCheckDeviceChange = false;
    FDrives.fill(false);

    ShowPage(EPage::Briefing);
}

void TPendockForm::FormDestroy() {
    FSQLocale.reset();
}

void TPendockForm::LayoutWizard() {
    // The page control overlaps the client area by one pixel at the left and top; with its
    // tabs on the right the tab strip then lies against and partly beyond the right edge.
    FView.SetBounds(EControl::Wizard, -1, -1, FView.ClientWidth() + 20, FView.ClientHeight() + 4);
}

void TPendockForm::LocalizeForm() {
    FSQLocale->SetGroup("Restore");

    const std::string caption = LocaleText("CAPTION_UPGRADE");
    FView.SetCaption(caption);
    FView.SetApplicationTitle(caption);

    FView.SetText(EControl::MessageBriefing, LocaleText("MESSAGE_BRIEFING"));
    FView.SetText(EControl::BriefingText, SubstOperation(LocaleText("BRIEFING")));
    FView.SetText(EControl::ButtonNext, LocaleText("NEXT"));
    FView.SetText(EControl::ButtonCancel, LocaleText("CANCEL"));
    FView.SetText(EControl::MessageWaitBrowser, SubstOperation(LocaleText("MESSAGE_WAITBROWSER")));
    FView.SetText(EControl::WaitBrowserText, LocaleText("WAITBROWSER"));
}

std::string TPendockForm::SubstOperation(const std::string& Source) {
    const std::string operation = LocaleText("OPERATION_UPGRADE");
    std::string result = Source;
    ReplaceFirst(result, "%Operation", operation);
    ReplaceFirst(result, "%operation", platform::LowerCaseUtf8(operation));
    return result;
}

// ---- Navigation and dialogs ---------------------------------------------------------------------

void TPendockForm::ShowPage(EPage page) {
    FView.ShowPage(page);
    if (FDriveWatch)
        FDriveWatch->SetArmed(page == EPage::DetectKey);
}

void TPendockForm::ButtonNextClick() {
    ShowPage(EPage::DetectKey);
    FView.SetEnabled(EControl::ButtonCancel, true);
    FView.SetText(EControl::MessageDetectKey, LocaleText("PLEASE_WAIT"));
    FDrives = FPlatform.ConnectedDrives();
    FView.SetText(EControl::MessageDetectKey, LocaleText("MESSAGE_NOKEY"));
    FView.SetImage(EControl::Image, EImage::Insert1);
    ArmDetection();
}

void TPendockForm::ButtonCancelClick() {
    FCheckDeviceChange = false;
    FView.StopTimer(ETimer::TimerCheck);
    ShowPage(EPage::Briefing);
}

void TPendockForm::WizardChanging(bool& AllowChange) {
    AllowChange = false;
}

void TPendockForm::FormCloseQuery(bool& CanClose) {
    // CanClose is decided by the answer only: should the text itself fail to load, the
    // error goes to the standard error box and the caller's value stands.
    const std::string text = LocaleText("MESSAGE_WANTEXIT");
    const EDialogButton answer =
        FView.ShowDialog(EDialogKind::Confirmation, text, Captions(EDialogKind::Confirmation));
    CanClose = answer == EDialogButton::Yes;
    if (CanClose)
        FEnding = true;
}

void TPendockForm::ShowError(const std::string& Key) {
    const std::string text = SubstOperation(LocaleText(Key));
    FView.ShowDialog(EDialogKind::Error, text, Captions(EDialogKind::Error));
}

// ---- Pictures -----------------------------------------------------------------------------------

void TPendockForm::TimerAnimTimer() {
    switch (FView.ImageOf(EControl::BriefingImage)) {
    case EImage::Extract1:
        FView.SetImage(EControl::BriefingImage, EImage::Extract2);
        break;
    case EImage::Extract2:
        FView.SetImage(EControl::BriefingImage, EImage::Extract3);
        break;
    case EImage::Extract3:
        FView.SetImage(EControl::BriefingImage, EImage::Extract4);
        break;
    default:
        FView.SetImage(EControl::BriefingImage, EImage::Extract1);
        break;
    }

    switch (FView.ImageOf(EControl::Image)) {
    case EImage::Insert1:
        FView.SetImage(EControl::Image, EImage::Insert2);
        break;
    case EImage::Insert2:
        FView.SetImage(EControl::Image, EImage::Insert3);
        break;
    case EImage::Insert3:
        FView.SetImage(EControl::Image, EImage::Insert1);
        break;
    default: // Inserted stays until Next shows Insert1 again
        break;
    }
}

// ---- Key detection and the web shop -------------------------------------------------------------

void TPendockForm::WMDeviceChange() {
    // The first notice after arming starts one scan a second later; the notices that follow
    // (a plug-in brings several) find detection disarmed until that scan has run.
    if (FCheckDeviceChange) {
        FCheckDeviceChange = false;
        FView.StartTimer(ETimer::TimerCheck);
    }
}

void TPendockForm::DeviceNotOpened() {
    // Said only while the wizard waits, not while a scan is due or another dialog is open.
    if (!FCheckDeviceChange)
        return;
    FCheckDeviceChange = false;
    ShowError("ERR_CANNOTOPENKEY");
    // The device has no drive letter to keep out of the snapshot: the drives are looked at
    // again, so that a key plugged in while the dialog was open is not missed.
    FCheckDeviceChange = true;
    WMDeviceChange();
}

void TPendockForm::ArmDetection() {
    FCheckDeviceChange = true;
    if (FPollDrives)
        WMDeviceChange(); // no notice will come: the next scan is due a second from now
}

void TPendockForm::TimerCheckTimer() {
    FView.StopTimer(ETimer::TimerCheck); // one shot per start
    ScanForKey();
}

void TPendockForm::ScanForKey() {
    const TDriveConn present = FPlatform.ConnectedDrives();
    bool candidate = false;
    for (std::size_t i = 0; i < present.size(); ++i) {
        if (present[i] && !FDrives[i]) {
            // The lowest new letter is the only one looked at in this scan.
            FDrive = static_cast<char>('C' + i);
            FPlatform.DriveUsbInfo(std::string(1, FDrive), FUsbVID, FUsbPID, FUsbSN);
            candidate = true;
            break;
        }
    }
    if (candidate) {
        if (!FUsbVID.empty() || !FUsbPID.empty() || !FUsbSN.empty()) {
            KeyFound(); // detection stays disarmed for good
            return;
        }
        // Detection is still disarmed here, so notices that arrive while the dialog is open
        // are ignored.
        ShowError("ERR_CANNOTREADUSBINFO");
    }
    // Taken after the dialog: a drive that failed stays in the snapshot and is not tried
    // again until it has been removed and plugged in again.
    FDrives = FPlatform.ConnectedDrives();
    ArmDetection();
}

void TPendockForm::KeyFound() {
    if (!FDrive)
        return;
    FFolderWaits = 0;
    FView.SetImage(EControl::Image, EImage::Inserted);
    FView.SetText(EControl::MessageDetectKey, LocaleText("MESSAGE_KEYFOUND"));
    FView.SetEnabled(EControl::ButtonCancel, false);
    FView.StartTimer(ETimer::TimerCont);
}

void TPendockForm::TimerContTimer() {
    FView.StopTimer(ETimer::TimerCont);
    if (WaitForProductFolder())
        return;
    ShowPage(EPage::WaitBrowser);
    // Not past this when reading the package id failed: the error box has shown why, and the
    // waiting page stays until the user closes the window.
    const bool opened = OpenShopPage();
    if (opened && !FEnding)
        FView.StartTimer(ETimer::TimerWait);
}

bool TPendockForm::WaitForProductFolder() {
    if (FFolderWaits >= MaxFolderWaits)
        return false;
    try {
        const std::string folder = KeyProductFolder();
        if (folder.empty() || IsFolder(folder))
            return false;
    } catch (const EPackageSearchError&) {
        return false; // the search meets the same error and says so
    }
    ++FFolderWaits;
    FView.StartTimer(ETimer::TimerCont);
    return true;
}

void TPendockForm::ButtonUpgradeClick() {
    OpenShopPage();
}

bool TPendockForm::OpenShopPage() {
    std::string id;
    try {
        // Empty when the drive has gone: the key was taken out.
        const std::string folder = KeyProductFolder();
        if (folder.empty()) {
            KeyLost();
            return false;
        }
        // The window stays responsive: pending messages are processed during the search,
        // which stops once they have asked the program to end.
        const bool found = FPlatform.SearchPackageId(
            folder, id, [this] { FView.ProcessMessages(); }, [this] { return FEnding; });
        // Nothing found on a drive that has meanwhile gone: the key was taken out.
        if (!found && !FEnding && FPlatform.DriveFolder(FDrive).empty()) {
            KeyLost();
            return false;
        }
    } catch (const EPackageSearchError&) {
        if (!FEnding)
            KeyLost();
        return false;
    } catch (const EPackageIdReadError&) {
        // A file that cannot be read on a key that is still there goes to the error box; on a
        // key that has meanwhile gone, it is the key that is missing.
        if (FEnding || !FPlatform.DriveFolder(FDrive).empty())
            throw;
        KeyLost();
        return false;
    }
    // The user may have chosen to leave while the key was searched.
    if (FEnding)
        return false;
    const std::string address = BuildShopAddress(FUsbVID, FUsbSN, FUsbPID, id);
    if (!FPlatform.ShellOpen(address))
        ShowError("ERR_CANNOTOPENBROWSER");
    return true;
}

std::string TPendockForm::KeyProductFolder() {
    const std::string folder = ProductFolderOf(std::string(1, FDrive), FPlatform.DriveFolder);
    if (folder.empty() || IsFolder(folder))
        return folder;
    // The identity is the disk's: a drive that came since detection was armed and gives the
    // same one is another partition of the key.
    const TDriveConn present = FPlatform.ConnectedDrives();
    for (std::size_t i = 0; i < present.size(); ++i) {
        const char letter = static_cast<char>('C' + i);
        if (!present[i] || FDrives[i] || letter == FDrive)
            continue;
        std::string vid, pid, sn;
        FPlatform.DriveUsbInfo(std::string(1, letter), vid, pid, sn);
        if (vid != FUsbVID || pid != FUsbPID || sn != FUsbSN)
            continue;
        const std::string other = ProductFolderOf(std::string(1, letter), FPlatform.DriveFolder);
        if (!other.empty() && IsFolder(other))
            return other;
    }
    return folder;
}

void TPendockForm::KeyLost() {
    FUsbVID.clear();
    FUsbPID.clear();
    FUsbSN.clear();
    ShowPage(EPage::DetectKey);
    FView.SetImage(EControl::Image, EImage::Insert1);
    FView.SetText(EControl::MessageDetectKey, LocaleText("MESSAGE_NOKEY"));
    FView.SetEnabled(EControl::ButtonCancel, true);
    // Detection is disarmed while the dialog is open; the snapshot is taken after it, so a key
    // still plugged in is taken again only once it has been plugged in anew.
    ShowError("ERR_KEYUNREADABLE");
    FDrives = FPlatform.ConnectedDrives();
    ArmDetection();
}

void TPendockForm::TimerWaitTimer() {
    FView.StopTimer(ETimer::TimerWait);
    FEnding = true;
    FView.Terminate(); // no close question on this way out
}

void TPendockForm::OnTimer(ETimer Timer) {
    switch (Timer) {
    case ETimer::TimerCheck:
        TimerCheckTimer();
        break;
    case ETimer::TimerAnim:
        TimerAnimTimer();
        break;
    case ETimer::TimerCont:
        TimerContTimer();
        break;
    case ETimer::TimerWait:
        TimerWaitTimer();
        break;
    }
}
