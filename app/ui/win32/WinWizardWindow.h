#pragma once
// The wizard window on Win32: a top-level window of class "TPendockForm" holding the page
// control (a vertical SysTabControl32 with its tabs on the right), the pages and their
// controls as the resource table lays them out, the PNG pictures, the window timers and the
// skin. It implements IWizardView for TPendockForm and delivers the window's messages
// (clicks, timer ticks, tab change requests, WM_DEVICECHANGE, close requests) to the form's
// handlers through TPendockForm::Dispatch.
//
// Sizes and places are given in pixels at 96 DPI and scaled by the window's DPI.

#include <windows.h>

#include <array>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "FormPendock.h"
#include "WinImageView.h"
#include "WinPaint.h"
#include "WinSkin.h"
#include "WizardResource.h"
#include "WizardView.h"

extern const wchar_t* const WizardWindowClass; // L"TPendockForm"
extern const wchar_t* const WizardPageClass;   // L"TPendockPage"
extern const wchar_t* const WizardPanelClass;  // L"TPendockPanel"

class TWinWizardWindow : public IWizardView {
public:
    // Builds the window (hidden) from the resources of `resources` (the program's own module
    // when null) and runs the form's create handler.
    explicit TWinWizardWindow(TPendockPlatform Platform, HMODULE resources = nullptr);
    ~TWinWizardWindow() override;
    TWinWizardWindow(const TWinWizardWindow&) = delete;
    TWinWizardWindow& operator=(const TWinWizardWindow&) = delete;

    // Centres the window on the desktop's work area (the first time) and shows it.
    void Show(int showCommand = SW_SHOWNORMAL);
    // Runs the message loop until a quit message; returns its exit code.
    int RunMessageLoop();
    // The window's keyboard handling for one message taken from the queue (page keys, dialog
    // navigation); true when the message has been dealt with and must not be dispatched.
    bool PreTranslate(MSG& msg);

    TPendockForm& Form() { return FForm; }
    HWND Handle() const { return FHwnd; }
    HWND TabControl() const { return FTab; }
    HWND Page(EPage page) const { return FPages[static_cast<std::size_t>(page)]; }
    HWND Control(EControl control) const;
    int CurrentPage() const { return FCurrentPage; }
    const TWinSkin& Skin() const { return FSkin; }
    // A picture of the image store; an empty one for a value outside it.
    const TWinPicture& Picture(EImage image) const;
    bool TimerRunning(ETimer timer) const { return FTimerRunning[static_cast<std::size_t>(timer)]; }
    const std::string& ApplicationTitle() const { return FApplicationTitle; }
    UINT Dpi() const;
    // The id of a timer's WM_TIMER messages.
    static constexpr UINT_PTR TimerIdBase = 1;
    static constexpr UINT_PTR TimerId(ETimer timer) {
        return TimerIdBase + static_cast<UINT_PTR>(timer);
    }

    // Called with every message dialog once it is shown, before its loop runs (tests answer
    // it through this).
    std::function<void(HWND dialog)> DialogOpening;

    // IWizardView
    void ShowPage(EPage page) override;
    void SetText(EControl control, const std::string& text) override;
    void SetImage(EControl control, EImage image) override;
    EImage ImageOf(EControl control) const override;
    void SetPictureTexts(const std::array<TPictureTexts, PngIconsCount>& texts) override;
    void SetEnabled(EControl control, bool enabled) override;
    void StartTimer(ETimer timer) override;
    void StopTimer(ETimer timer) override;
    EDialogButton ShowDialog(EDialogKind kind, const std::string& text,
                             const TDialogCaptions& captions) override;
    void ShowException(const std::string& message) override;
    void ProcessMessages() override;
    void Terminate() override;
    void SetCaption(const std::string& text) override;
    void SetApplicationTitle(const std::string& text) override;
    void SetBorderIcons(unsigned icons) override;
    void SetClientSize(int width, int height) override;
    int ClientWidth() const override;
    int ClientHeight() const override;
    void SetBounds(EControl control, int left, int top, int width, int height) override;

private:
    struct TBounds {
        int Left = 0, Top = 0, Width = 0, Height = 0;
    };
    struct TAnchored {
        EControl Control;
        int Right;  // distance from the page's right edge to the control's right edge (96 DPI)
        int Bottom; // distance from the page's bottom edge to the control's bottom edge
    };

    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK PageProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK TabProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                    DWORD_PTR self);
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
    // The window's background: the face, with the rail's colour down its right edge.
    void EraseBackground(HDC dc);
    // A notice of the page control; false for one the window leaves to DefWindowProc.
    bool OnTabNotify(const NMHDR& n, LRESULT& result);
    // From the dialog navigation: Enter (IDOK) presses the page's button, Escape (IDCANCEL) asks
    // to close as the close box does. False for any other command.
    bool OnDialogKey(WORD id);
    // The close box (or Escape): the form's close query decides.
    void OnClose();
    // Keeps the focus across a switch to another window and back; false when the message still
    // goes to DefWindowProc.
    bool OnActivate(bool active);
    LRESULT HandlePageMessage(HWND page, UINT msg, WPARAM wp, LPARAM lp);
    void PaintTabControl(HDC dc);

    void RegisterClasses();
    void CreateFonts();
    // The program's icon at the sizes of the window's DPI, on its caption and taskbar button.
    void LoadIcons();
    void LoadPictures(HMODULE resources);
    void BuildControls();
    void CreateTabControl();
    void CreatePages();
    // The control of a row of the resource table, still without a place (AddControl gives it).
    HWND CreateControl(const wizard_resource::TControlSpec& def);
    // Puts a created control into its place: above the earlier ones, at its bounds, anchored.
    void AddControl(const wizard_resource::TControlSpec& def, HWND w);
    // The font a control's text is set in; null for a control without text.
    HFONT ControlFont(EControl control) const;
    void ApplyBounds(EControl control);
    void LayoutPages();
    void LayoutPage(int page);
    void MakePaneBrush();
    // Fills `dc` of `child` with the page control's background behind it.
    void PaintBackground(HWND child, HDC dc);
    HBRUSH AlignedPaneBrush(HWND child, HDC dc);
    // Draws a heading (in lines of even length, centred) or a page's text (below the heading).
    void DrawPageText(const DRAWITEMSTRUCT& item);
    // Where a heading's text is drawn, measured on `dc`.
    RECT HeadingTextRect(HWND heading, HDC dc) const;
    // How far below its top the text of `body` starts, clear of its page's heading.
    int BodyInset(EPage page, HWND body) const;
    // The heading, text or button of a page, or null.
    HWND PageControl(wizard_resource::EKind kind, EPage page) const;
    bool AskPageChange();
    void StepPage(int delta);
    void ShowPageWindow(int index);
    void FocusPage();
    void OnTimer(UINT_PTR id);
    void OnDpiChanged(UINT dpi, const RECT* suggested);
    void Centre();
    DWORD Style() const;

    TPendockForm FForm;
    HMODULE FResources = nullptr;
    HWND FHwnd = nullptr;
    HWND FTab = nullptr;
    std::array<HWND, wizard_resource::PageCount> FPages{};
    std::map<EControl, HWND> FControls;
    std::map<EControl, TBounds> FBounds;
    std::map<EControl, EImage> FShownImage;
    std::array<std::vector<TAnchored>, wizard_resource::PageCount> FAnchored;
    std::array<TWinPicture, PngIconsCount> FPictures;
    std::array<TWinPicture, wizard_resource::DialogIconCount> FDialogIcons; // Error, Confirmation
    std::array<TPictureTexts, PngIconsCount> FPictureTexts;
    std::array<bool, wizard_resource::TimerCount> FTimerRunning{};
    TWinSkin FSkin;
    TBackgroundPainter FPainter;
    TFontOwner FDefaultFont;
    TFontOwner FHeadingFont;
    TFontOwner FBodyFont;
    TFontOwner FTabFont;
    TIconOwner FIconBig;
    TIconOwner FIconSmall;
    TBrushOwner FPaneBrush;
    int FPaneBrushHeight = 0;
    TBrushOwner FFaceBrush;
    unsigned FBorderIcons = biSystemMenu | biMinimize;
    int FClientWidth = 0;  // at 96 DPI
    int FClientHeight = 0; // at 96 DPI
    int FCurrentPage = 0;
    bool FOwnPageChange = false;
    bool FCentred = false;
    bool FDestroying = false;
    HWND FFocus = nullptr;
    std::string FApplicationTitle;
};
