#pragma once
// The narrow seam between the wizard's logic (TPendockForm) and the window toolkit.
// The logic names pages, controls, images and timers by the enums below and never touches a
// toolkit object; the Qt window (app/ui/qt) and the Win32 window (app/ui/win32) implement
// IWizardView.

#include <array>
#include <string>

// The pages of the page control `Wizard`, in index order.
enum class EPage { Briefing = 0, DetectKey = 1, WaitBrowser = 2 };

// Every named control of the window. `Wizard` is the page control itself.
enum class EControl {
    Wizard,
    MessageBriefing,
    BriefingText,
    BriefingImage,
    ButtonNext,
    MessageDetectKey,
    PanelImage,
    Image,
    ButtonCancel,
    MessageWaitBrowser,
    WaitBrowserText,
};

// The image store `PngIcons`, by index (file names: wizard_resource::ImageFiles).
enum class EImage { Extract1, Extract2, Extract3, Extract4, Insert1, Insert2, Insert3, Inserted };
constexpr int PngIconsCount = 8;

enum class ETimer { TimerCheck, TimerAnim, TimerCont, TimerWait };

enum class EDialogKind { Error, Confirmation };
enum class EDialogButton { OK, Yes, No };

// Title and button captions of the message dialog, taken from the dialog string store.
struct TDialogCaptions {
    std::string Title;
    std::string Yes;
    std::string No;
    std::string OK;
};

// What a picture of the image store shows, in words, for screen readers.
struct TPictureTexts {
    std::string Name;
    std::string Description;
};

// Caption buttons of the window (a bit set).
enum EBorderIcon : unsigned { biSystemMenu = 1, biMinimize = 2, biMaximize = 4 };

class IWizardView {
public:
    virtual ~IWizardView() = default;

    virtual void ShowPage(EPage page) = 0;
    virtual void SetText(EControl control, const std::string& text) = 0;
    virtual void SetImage(EControl control, EImage image) = 0;
    // The image a PNG image view (BriefingImage or Image) shows now.
    virtual EImage ImageOf(EControl control) const = 0;
    // The names and descriptions of the pictures (by EImage), given once the texts are known;
    // until then a picture has none. A view shown before takes its picture's name at its next
    // SetImage.
    virtual void SetPictureTexts(const std::array<TPictureTexts, PngIconsCount>& texts) = 0;
    virtual void SetEnabled(EControl control, bool enabled) = 0;

    // Starting a running timer restarts its interval; stopping a stopped one does nothing.
    virtual void StartTimer(ETimer timer) = 0;
    virtual void StopTimer(ETimer timer) = 0;

    // A modal message dialog (skinned); Error offers OK, Confirmation offers Yes and No.
    // Closing it without a button gives OK for Error and No for Confirmation.
    virtual EDialogButton ShowDialog(EDialogKind kind, const std::string& text,
                                     const TDialogCaptions& captions) = 0;
    // The toolkit's standard error box for an error that escaped a handler.
    virtual void ShowException(const std::string& message) = 0;
    virtual void ProcessMessages() = 0;
    // Asks the application to end: the running handler finishes, then the message loop
    // returns without a close query.
    virtual void Terminate() = 0;

    virtual void SetCaption(const std::string& text) = 0;
    virtual void SetApplicationTitle(const std::string& text) = 0;
    virtual void SetBorderIcons(unsigned icons) = 0;

    virtual void SetClientSize(int width, int height) = 0;
    virtual int ClientWidth() const = 0;
    virtual int ClientHeight() const = 0;
    virtual void SetBounds(EControl control, int left, int top, int width, int height) = 0;
};
