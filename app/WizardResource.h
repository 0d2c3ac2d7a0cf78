#pragma once
// The window's resource: the design-time values every window implementation starts from
// (sizes, places, fonts, initial texts, timers). Creation (TPendockForm::FormCreate) then
// resizes the window, lays out the page control and replaces every text from locale.db.

#include <iterator>

#include "WizardPictures.h"
#include "WizardView.h"

namespace wizard_resource {

// The window as designed; FormCreate sets the client area to ClientWidth x ClientHeight.
constexpr int DesignClientWidth = 547;
constexpr int DesignClientHeight = 474;
constexpr int ClientWidth = 500;
constexpr int ClientHeight = 350;
constexpr const char* Caption = "Pendock Utility";

// Each page offers this content area once LayoutWizard has placed the page control.
constexpr int PageWidth = 478;
constexpr int PageHeight = 334;

// Fonts by family and cell height in pixels (character height plus internal leading); the
// window's default font is given by its character height instead.
struct TFontSpec {
    const char* Family;
    int Pixels;
    bool CellHeight; // true: Pixels is the cell height; false: the character height
    bool Bold;
};
constexpr TFontSpec DefaultFont{"Tahoma", 11, false, false};
constexpr TFontSpec HeadingFont{"Tahoma", 18, true, true};
constexpr TFontSpec BodyFont{"Arial", 16, true, false};
constexpr TFontSpec TabFont{"Arial", 14, true, false};

enum class EKind { PageControl, Heading, Label, ImageView, Button, Panel };
// Anchoring of a control inside its page: a button keeps its distance to the page's right
// and bottom edges when the page changes size.
enum class EAnchor { TopLeft, RightBottom };

struct TControlSpec {
    EControl Control;
    const char* Name; // the object name (what tests and screen readers find it by)
    EKind Kind;
    EPage Page;                   // the page it sits on (PanelImage's child: the panel's page)
    int Left, Top, Width, Height; // inside the page (Image: inside PanelImage)
    EAnchor Anchor;
    const char* ResourceText; // the initial text, replaced on creation
};

// The heading label of every page spans the top strip of the page.
constexpr int HeadingHeight = 72;

constexpr TControlSpec Controls[] = {
    {EControl::MessageBriefing, "MessageBriefing", EKind::Heading, EPage::Briefing, 0, 0, PageWidth,
     HeadingHeight, EAnchor::TopLeft, "MessageBriefing"},
    {EControl::BriefingText, "BriefingText", EKind::Label, EPage::Briefing, 24, 56, 440, 65,
     EAnchor::TopLeft, "BriefingText"},
    {EControl::BriefingImage, "BriefingImage", EKind::ImageView, EPage::Briefing, 88, 184, 322, 100,
     EAnchor::TopLeft, ""},
    {EControl::ButtonNext, "ButtonNext", EKind::Button, EPage::Briefing, 251, 282, 180, 25,
     EAnchor::RightBottom, "Next"},
    {EControl::MessageDetectKey, "MessageDetectKey", EKind::Heading, EPage::DetectKey, 0, 0,
     PageWidth, HeadingHeight, EAnchor::TopLeft, "MessageDetectKey"},
    {EControl::PanelImage, "PanelImage", EKind::Panel, EPage::DetectKey, 89, 65, 320, 220,
     EAnchor::TopLeft, ""},
    {EControl::Image, "Image", EKind::ImageView, EPage::DetectKey, 0, 0, 320, 220, EAnchor::TopLeft,
     ""},
    {EControl::ButtonCancel, "ButtonCancel", EKind::Button, EPage::DetectKey, 251, 282, 180, 25,
     EAnchor::RightBottom, "Cancel"},
    {EControl::MessageWaitBrowser, "MessageWaitBrowser", EKind::Heading, EPage::WaitBrowser, 0, 0,
     PageWidth, HeadingHeight, EAnchor::TopLeft, "MessageWaitBrowser"},
    {EControl::WaitBrowserText, "WaitBrowserText", EKind::Label, EPage::WaitBrowser, 24, 88, 440,
     153, EAnchor::TopLeft, "WaitBrowserText"},
};

// The control of kind `kind` on page `page` (each page has at most one heading, one text and
// one button), or null.
constexpr const TControlSpec* FindControl(EKind kind, EPage page) {
    for (const TControlSpec& def : Controls)
        if (def.Kind == kind && def.Page == page)
            return &def;
    return nullptr;
}

// The page control as designed: filling the designed client area.
constexpr int DesignWizardLeft = 0;
constexpr int DesignWizardTop = 0;

constexpr const char* TabCaptions[] = {"Pag1", "Pag2", "Pag6"};
// The pages' object names, in index order.
constexpr const char* PageNames[] = {"Briefing", "DetectKey", "WaitBrowser"};
constexpr int PageCount = 3;

// Every timer, in the order of ETimer.
struct TTimerSpec {
    ETimer Timer;
    const char* Name;
    int IntervalMs;
    bool EnabledAtStart;
};
constexpr TTimerSpec Timers[] = {
    {ETimer::TimerCheck, "TimerCheck", 1000, false},
    {ETimer::TimerAnim, "TimerAnim", 500, true},
    {ETimer::TimerCont, "TimerCont", 2000, false},
    {ETimer::TimerWait, "TimerWait", 5000, false},
};
constexpr int TimerCount = 4;

// The pictures' file names (app/images/<Name>.svg), generated from the build's one list: the
// image store's in the order of EImage, the message dialog's icons in the order of
// EDialogKind. The Win32 resource numbers each picture by its place in them taken as one list
// (PictureIndex).
constexpr int DialogIconCount = 2;
static_assert(std::size(ImageFileNames) == PngIconsCount &&
              std::size(DialogIconFileNames) == DialogIconCount);

constexpr int PictureIndex(EImage image) {
    return static_cast<int>(image);
}
constexpr int PictureIndex(EDialogKind kind) {
    return PngIconsCount + static_cast<int>(kind);
}
// The file name of a picture; null for a value outside the image store.
constexpr const char* PictureName(EImage image) {
    const int i = PictureIndex(image);
    return i >= 0 && i < PngIconsCount ? ImageFileNames[i] : nullptr;
}
constexpr const char* PictureName(EDialogKind kind) {
    return DialogIconFileNames[static_cast<int>(kind)];
}

// Each table in the order of its enum.
constexpr bool TablesInEnumOrder() {
    for (int i = 0; i < TimerCount; ++i)
        if (static_cast<int>(Timers[i].Timer) != i)
            return false;
    return true;
}
static_assert(std::size(Timers) == TimerCount && std::size(PageNames) == PageCount &&
              TablesInEnumOrder());

// The images each PNG image view shows before creation.
constexpr EImage BriefingImageAtStart = EImage::Extract1;
constexpr EImage ImageAtStart = EImage::Insert1;

// The dialog string store before the locale group "Skin" replaces it.
constexpr const char* StrDataAtStart[] = {
    "MSG_CAP_ERROR=Error", "MSG_CAP_CONFIRM=Confirm", "MSG_BTN_YES=&Yes",
    "MSG_BTN_NO=&No",      "MSG_BTN_OK=OK",
};

} // namespace wizard_resource
