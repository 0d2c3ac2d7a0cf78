#include "FormPendock.h"

#include <exception>
#include <stdexcept>

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
           p.SearchPackageId && p.DeviceNoticePath;
}

} // namespace

TPendockForm::TPendockForm(IWizardView& View, TPendockPlatform Platform)
    : Platform(std::move(Platform)), View(View) {
    if (!Complete(this->Platform))
        throw std::invalid_argument("TPendockPlatform: every platform call must be set");
    for (const char* line : wizard_resource::StrDataAtStart)
        StrData.Add(line);
}

TPendockForm::~TPendockForm() = default;

bool TPendockForm::Dispatch(const std::function<void()>& Handler) {
    try {
        Handler();
        return true;
    } catch (const std::exception& e) {
        View.ShowException(e.what());
    } catch (...) {
        View.ShowException("unknown error");
    }
    return false;
}

std::string TPendockForm::LocaleText(const std::string& Key) {
    return SQLocale ? SQLocale->GetString(Key) : std::string();
}

TDialogCaptions TPendockForm::Captions(EDialogKind Kind) const {
    TDialogCaptions c;
    c.Title = StrData.Value(Kind == EDialogKind::Error ? "MSG_CAP_ERROR" : "MSG_CAP_CONFIRM");
    c.Yes = StrData.Value("MSG_BTN_YES");
    c.No = StrData.Value("MSG_BTN_NO");
    c.OK = StrData.Value("MSG_BTN_OK");
    return c;
}

// ---- Creation and destruction -------------------------------------------------------------------

void TPendockForm::FormCreate() {
    const std::string folder = Platform.ProgramFolder();
    View.SetBorderIcons(biSystemMenu | biMinimize);

    SQLocale = std::make_unique<TSQLocale>();
    SQLocale->InitLocalize(folder + "locale.db", folder + "locale.xml");
    SQLocale->LoadLocalizedStrings(&StrData, "", "", "Skin");

    View.SetClientSize(wizard_resource::ClientWidth, wizard_resource::ClientHeight);
    LayoutWizard();
    LocalizeForm();

    Drive.clear();
    UsbVID.clear();
    UsbPID.clear();
    UsbSN.clear();
    CheckDeviceChange = false;
    Drives.fill(false);

    View.ShowPage(EPage::Briefing);
}

void TPendockForm::FormDestroy() {
    SQLocale.reset();
}

void TPendockForm::LayoutWizard() {
    // The page control overlaps the client area by one pixel at the left and top; with its
    // tabs on the right the tab strip then lies against and partly beyond the right edge.
    View.SetBounds(EControl::Wizard, -1, -1, View.ClientWidth() + 20, View.ClientHeight() + 4);
}

void TPendockForm::LocalizeForm() {
    SQLocale->SetGroup("Restore");

    const std::string caption = LocaleText("CAPTION_UPGRADE");
    View.SetCaption(caption);
    View.SetApplicationTitle(caption);

    View.SetText(EControl::MessageBriefing, LocaleText("MESSAGE_BRIEFING"));
    View.SetText(EControl::BriefingText, SubstOperation(LocaleText("BRIEFING")));
    View.SetText(EControl::ButtonNext, LocaleText("NEXT"));
    View.SetText(EControl::ButtonCancel, LocaleText("CANCEL"));
    View.SetText(EControl::MessageWaitBrowser, SubstOperation(LocaleText("MESSAGE_WAITBROWSER")));
    View.SetText(EControl::WaitBrowserText, LocaleText("WAITBROWSER"));
}

std::string TPendockForm::SubstOperation(const std::string& Source) {
    const std::string operation = LocaleText("OPERATION_UPGRADE");
    std::string result = Source;
    ReplaceFirst(result, "%Operation", operation);
    ReplaceFirst(result, "%operation", platform::LowerCaseUtf8(operation));
    return result;
}

// ---- Navigation and dialogs ---------------------------------------------------------------------

void TPendockForm::ButtonNextClick() {
    View.ShowPage(EPage::DetectKey);
    View.SetEnabled(EControl::ButtonCancel, true);
    View.SetText(EControl::MessageDetectKey, LocaleText("PLEASE_WAIT"));
    Drives = Platform.ConnectedDrives();
    View.SetText(EControl::MessageDetectKey, LocaleText("MESSAGE_NOKEY"));
    View.SetImage(EControl::Image, EImage::Insert1);
    ArmDetection();
}

void TPendockForm::ButtonCancelClick() {
    CheckDeviceChange = false;
    View.StopTimer(ETimer::TimerCheck);
    View.ShowPage(EPage::Briefing);
}

void TPendockForm::WizardChanging(bool& AllowChange) {
    AllowChange = false;
}

void TPendockForm::FormCloseQuery(bool& CanClose) {
    // CanClose is decided by the answer only: should the text itself fail to load, the
    // error goes to the standard error box and the caller's value stands.
    const std::string text = LocaleText("MESSAGE_WANTEXIT");
    const EDialogButton answer =
        View.ShowDialog(EDialogKind::Confirmation, text, Captions(EDialogKind::Confirmation));
    CanClose = answer == EDialogButton::Yes;
    if (CanClose)
        Ending = true;
}

void TPendockForm::ShowError(const std::string& Key) {
    const std::string text = SubstOperation(LocaleText(Key));
    View.ShowDialog(EDialogKind::Error, text, Captions(EDialogKind::Error));
}

// ---- Pictures -----------------------------------------------------------------------------------

void TPendockForm::TimerAnimTimer() {
    switch (View.ImageOf(EControl::BriefingImage)) {
    case EImage::Extract1:
        View.SetImage(EControl::BriefingImage, EImage::Extract2);
        break;
    case EImage::Extract2:
        View.SetImage(EControl::BriefingImage, EImage::Extract3);
        break;
    case EImage::Extract3:
        View.SetImage(EControl::BriefingImage, EImage::Extract4);
        break;
    default:
        View.SetImage(EControl::BriefingImage, EImage::Extract1);
        break;
    }

    switch (View.ImageOf(EControl::Image)) {
    case EImage::Insert1:
        View.SetImage(EControl::Image, EImage::Insert2);
        break;
    case EImage::Insert2:
        View.SetImage(EControl::Image, EImage::Insert3);
        break;
    case EImage::Insert3:
        View.SetImage(EControl::Image, EImage::Insert1);
        break;
    default: // Inserted stays until Next shows Insert1 again
        break;
    }
}

// ---- Key detection and the web shop -------------------------------------------------------------

void TPendockForm::WMDeviceChange() {
    // The first notice after arming starts one scan a second later; the notices that follow
    // (a plug-in brings several) find detection disarmed until that scan has run.
    if (CheckDeviceChange) {
        CheckDeviceChange = false;
        View.StartTimer(ETimer::TimerCheck);
    }
}

void TPendockForm::ArmDetection() {
    CheckDeviceChange = true;
    if (PollDrives)
        WMDeviceChange(); // no notice will come: the next scan is due a second from now
}

void TPendockForm::TimerCheckTimer() {
    View.StopTimer(ETimer::TimerCheck); // one shot per start
    ScanForKey();
}

void TPendockForm::ScanForKey() {
    const TDriveConn present = Platform.ConnectedDrives();
    bool candidate = false;
    for (std::size_t i = 0; i < present.size(); ++i) {
        if (present[i] && !Drives[i]) {
            // The lowest new letter is the only one looked at in this scan.
            Drive = std::string(1, static_cast<char>('C' + i));
            Platform.DriveUsbInfo(Drive, UsbVID, UsbPID, UsbSN);
            candidate = true;
            break;
        }
    }
    if (candidate) {
        if (!UsbVID.empty() || !UsbPID.empty() || !UsbSN.empty()) {
            KeyFound(); // detection stays disarmed for good
            return;
        }
        // Detection is still disarmed here, so notices that arrive while the dialog is open
        // are ignored.
        ShowError("ERR_CANNOTREADUSBINFO");
    }
    // Taken after the dialog: a drive that failed stays in the snapshot and is not tried
    // again until it has been removed and plugged in again.
    Drives = Platform.ConnectedDrives();
    ArmDetection();
}

void TPendockForm::KeyFound() {
    if (Drive.empty())
        return;
    View.SetImage(EControl::Image, EImage::Inserted);
    View.SetText(EControl::MessageDetectKey, LocaleText("MESSAGE_KEYFOUND"));
    View.SetEnabled(EControl::ButtonCancel, false);
    View.StartTimer(ETimer::TimerCont);
    Drive += ":"; // ScanForKey set the upper-case letter alone
}

void TPendockForm::TimerContTimer() {
    View.StopTimer(ETimer::TimerCont);
    View.ShowPage(EPage::WaitBrowser);
    ButtonUpgradeClick();
    // Not reached when reading the package id failed: the error box has shown why, and the
    // waiting page stays until the user closes the window.
    if (!Ending)
        View.StartTimer(ETimer::TimerWait);
}

void TPendockForm::ButtonUpgradeClick() {
    std::string id;
    // Empty when the drive has gone: nothing to search.
    const std::string folder = ProductFolderOf(Drive, Platform.DriveFolder);
    // The window stays responsive: pending messages are processed after each folder, and the
    // search stops once they have asked the program to end.
    if (!folder.empty()) {
        Platform.SearchPackageId(
            folder, id, [this] { View.ProcessMessages(); }, [this] { return Ending; });
    }
    // The user may have chosen to leave while the key was searched.
    if (Ending)
        return;
    const std::string address = BuildShopAddress(UsbVID, UsbSN, UsbPID, id);
    if (!Platform.ShellOpen(address))
        ShowError("ERR_CANNOTOPENBROWSER");
}

void TPendockForm::TimerWaitTimer() {
    View.StopTimer(ETimer::TimerWait);
    Ending = true;
    View.Terminate(); // no close question on this way out
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
