#include "WinWizardWindow.h"

#include <commctrl.h>

#include <algorithm>

#include "WinDialog.h"
#include "WinPaint.h"
#include "WizardResource.h"
#include "WizardTextLayout.h"
#include "platform/windows/wide_text.h"
#include "resource_ids.h"

namespace res = wizard_resource;

const wchar_t* const WizardWindowClass = L"TPendockForm";
const wchar_t* const WizardPageClass = L"TPendockPage";
const wchar_t* const WizardPanelClass = L"TPendockPanel";

namespace {

// The page control's own parts at 96 DPI: a one-pixel edge left of the pages, the pages'
// padding above and below, and the rail of the tabs at its right.
constexpr int PaneEdge = 1;
constexpr int PanePadding = 10;
constexpr int RailWidth = 41;
constexpr int TabItemWidth = 40;
constexpr int TabItemHeight = 60;

int ControlId(EControl c) {
    return 1000 + static_cast<int>(c);
}

HMENU ChildId(int id) {
    return reinterpret_cast<HMENU>(static_cast<INT_PTR>(id));
}

const res::TControlSpec* SpecOf(EControl c) {
    for (const res::TControlSpec& def : res::Controls) {
        if (def.Control == c)
            return &def;
    }
    return nullptr;
}

TWinWizardWindow* WindowOf(HWND hwnd) {
    return reinterpret_cast<TWinWizardWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

} // namespace

// ---- Creation -----------------------------------------------------------------------------------

TWinWizardWindow::TWinWizardWindow(TPendockPlatform Platform, HMODULE resources)
    : FForm(*this, std::move(Platform)),
      FResources(resources ? resources : GetModuleHandleW(nullptr)) {
    FPainter = [this](HWND child, HDC dc) { PaintBackground(child, dc); };
    FSkin = LoadSkin(FResources);
    FFaceBrush.reset(CreateSolidBrush(FSkin.WindowFace));
    RegisterClasses();

    FClientWidth = res::DesignClientWidth;
    FClientHeight = res::DesignClientHeight;
    RECT frame{0, 0, FClientWidth, FClientHeight};
    AdjustWindowRectEx(&frame, Style(), FALSE, WS_EX_APPWINDOW | WS_EX_CONTROLPARENT);
    // No owner: the window has its own taskbar button.
    FHwnd = CreateWindowExW(WS_EX_APPWINDOW | WS_EX_CONTROLPARENT, WizardWindowClass,
                            platform::win::Widen(res::Caption).c_str(), Style(), CW_USEDEFAULT,
                            CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                            nullptr, nullptr, GetModuleHandleW(nullptr), this);
    if (!FHwnd)
        return;
    SetClientSize(FClientWidth, FClientHeight);

    LoadIcons();
    CreateFonts();
    LoadPictures(FResources);
    BuildControls();

    for (const res::TTimerSpec& def : res::Timers) {
        if (def.EnabledAtStart)
            StartTimer(def.Timer);
    }

    FForm.Dispatch([this] { FForm.FormCreate(); });
}

TWinWizardWindow::~TWinWizardWindow() {
    FDestroying = true;
    if (FHwnd) {
        for (const res::TTimerSpec& def : res::Timers)
            KillTimer(FHwnd, TimerId(def.Timer));
        DestroyWindow(FHwnd);
    }
    FForm.Dispatch([this] { FForm.FormDestroy(); });
}

DWORD TWinWizardWindow::Style() const {
    // A fixed single border, never resizable.
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_CLIPCHILDREN;
    if (FBorderIcons & biSystemMenu)
        style |= WS_SYSMENU;
    if (FBorderIcons & biMinimize)
        style |= WS_MINIMIZEBOX;
    if (FBorderIcons & biMaximize)
        style |= WS_MAXIMIZEBOX;
    return style;
}

UINT TWinWizardWindow::Dpi() const {
    const UINT dpi = FHwnd ? GetDpiForWindow(FHwnd) : 96;
    return dpi ? dpi : 96;
}

void TWinWizardWindow::RegisterClasses() {
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    WNDCLASSEXW wc = ProgramWindowClass(WindowProc, WizardWindowClass);
    wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    RegisterClassExW(&wc);

    WNDCLASSEXW pc = ProgramWindowClass(PageProc, WizardPageClass);
    RegisterClassExW(&pc);
    pc.lpszClassName = WizardPanelClass;
    RegisterClassExW(&pc);
}

void TWinWizardWindow::LoadIcons() {
    const UINT dpi = Dpi();
    const struct {
        TIconOwner* Icon;
        WPARAM Kind;
        int Size;
    } icons[] = {{&FIconBig, ICON_BIG, GetSystemMetricsForDpi(SM_CXICON, dpi)},
                 {&FIconSmall, ICON_SMALL, GetSystemMetricsForDpi(SM_CXSMICON, dpi)}};
    for (const auto& i : icons) {
        HICON icon = static_cast<HICON>(
            LoadImageW(FResources, MAKEINTRESOURCEW(PENDOCK_ICON), IMAGE_ICON, i.Size, i.Size, 0));
        if (!icon)
            continue; // no icon in the resource: the class's own stays
        SendMessageW(FHwnd, WM_SETICON, i.Kind, reinterpret_cast<LPARAM>(icon));
        i.Icon->reset(icon);
    }
}

void TWinWizardWindow::CreateFonts() {
    const UINT dpi = Dpi();
    FDefaultFont.reset(CreateTableFont(res::DefaultFont, dpi));
    FHeadingFont.reset(CreateTableFont(res::HeadingFont, dpi));
    FBodyFont.reset(CreateTableFont(res::BodyFont, dpi));
    FTabFont.reset(CreateTableFont(res::TabFont, dpi));
}

void TWinWizardWindow::LoadPictures(HMODULE resources) {
    const UINT dpi = Dpi();
    for (int i = 0; i < PngIconsCount; ++i)
        FPictures[static_cast<std::size_t>(i)].LoadForDpi(
            resources, res::PictureIndex(static_cast<EImage>(i)), dpi);
    for (int i = 0; i < res::DialogIconCount; ++i)
        FDialogIcons[static_cast<std::size_t>(i)].LoadForDpi(
            resources, res::PictureIndex(static_cast<EDialogKind>(i)), dpi);
    for (const auto& [control, image] : FShownImage)
        SetImage(control, image);
}

void TWinWizardWindow::BuildControls() {
    CreateTabControl();
    CreatePages();
    for (const res::TControlSpec& def : res::Controls) {
        if (HWND w = CreateControl(def))
            AddControl(def, w);
    }
    ApplyBounds(EControl::Wizard);

    SetImage(EControl::BriefingImage, res::BriefingImageAtStart);
    SetImage(EControl::Image, res::ImageAtStart);
    ShowPage(EPage::Briefing);
}

void TWinWizardWindow::CreateTabControl() {
    FTab =
        CreateWindowExW(WS_EX_CONTROLPARENT, WC_TABCONTROLW, L"",
                        // The tabs only mark the page in front: the keyboard passes them by.
                        WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | TCS_FOCUSNEVER |
                            TCS_VERTICAL | TCS_RIGHT | TCS_MULTILINE | TCS_FIXEDWIDTH,
                        0, 0, 0, 0, FHwnd, ChildId(ControlId(EControl::Wizard)),
                        GetModuleHandleW(nullptr), nullptr);
    SetWindowSubclass(FTab, TabProc, 1, reinterpret_cast<DWORD_PTR>(this));
    SendMessageW(FTab, WM_SETFONT, reinterpret_cast<WPARAM>(ControlFont(EControl::Wizard)), FALSE);
    FControls[EControl::Wizard] = FTab;
    for (int i = 0; i < res::PageCount; ++i) {
        std::wstring caption = platform::win::Widen(res::TabCaptions[i]);
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = caption.data();
        SendMessageW(FTab, TCM_INSERTITEMW, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(&item));
    }
    FBounds[EControl::Wizard] = {res::DesignWizardLeft, res::DesignWizardTop,
                                 res::DesignClientWidth, res::DesignClientHeight};
}

void TWinWizardWindow::CreatePages() {
    for (int i = 0; i < res::PageCount; ++i) {
        FPages[static_cast<std::size_t>(i)] = CreateWindowExW(
            WS_EX_CONTROLPARENT, WizardPageClass, platform::win::Widen(res::PageNames[i]).c_str(),
            WS_CHILD | WS_CLIPSIBLINGS, 0, 0, 0, 0, FTab, ChildId(100 + i),
            GetModuleHandleW(nullptr), this);
    }
}

HWND TWinWizardWindow::CreateControl(const res::TControlSpec& def) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    HWND parent =
        def.Control == EControl::Image ? FControls.at(EControl::PanelImage) : Page(def.Page);
    HMENU id = ChildId(ControlId(def.Control));
    const wchar_t* windowClass = L"STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE;
    switch (def.Kind) {
    case res::EKind::Heading:
    case res::EKind::Label:
        // Drawn by the page: a heading in lines of even length, a text clear of the heading
        // above it.
        style |= SS_OWNERDRAW | SS_NOPREFIX;
        break;
    case res::EKind::Button:
        windowClass = L"BUTTON";
        style |= WS_TABSTOP | BS_OWNERDRAW;
        break;
    case res::EKind::ImageView:
        return CreateImageView(parent, ControlId(def.Control), &FPainter);
    case res::EKind::Panel:
        return CreateWindowExW(WS_EX_CONTROLPARENT, WizardPanelClass, L"", WS_CHILD | WS_VISIBLE, 0,
                               0, 0, 0, parent, id, instance, this);
    case res::EKind::PageControl:
        return nullptr;
    }
    HWND w = CreateWindowExW(0, windowClass, platform::win::Widen(def.ResourceText).c_str(), style,
                             0, 0, 0, 0, parent, id, instance, nullptr);
    SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(ControlFont(def.Control)), FALSE);
    if (def.Kind == res::EKind::Button)
        TrackButtonHover(w);
    return w;
}

void TWinWizardWindow::AddControl(const res::TControlSpec& def, HWND w) {
    // Later controls lie above earlier ones (a button over the lower edge of a picture).
    SetWindowLongPtrW(w, GWL_STYLE, GetWindowLongPtrW(w, GWL_STYLE) | WS_CLIPSIBLINGS);
    SetWindowPos(w, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    FControls[def.Control] = w;
    FBounds[def.Control] = {def.Left, def.Top, def.Width, def.Height};
    if (def.Anchor == res::EAnchor::RightBottom) {
        FAnchored[static_cast<std::size_t>(def.Page)].push_back(
            {def.Control, res::PageWidth - def.Left - def.Width,
             res::PageHeight - def.Top - def.Height});
    }
    ApplyBounds(def.Control);
}

HFONT TWinWizardWindow::ControlFont(EControl control) const {
    if (control == EControl::Wizard)
        return FTabFont.get();
    const res::TControlSpec* def = SpecOf(control);
    if (!def)
        return nullptr;
    switch (def->Kind) {
    case res::EKind::Heading:
        return FHeadingFont.get();
    case res::EKind::Label:
        return FBodyFont.get();
    case res::EKind::Button:
        return FDefaultFont.get();
    default:
        return nullptr; // image views and the panel show no text
    }
}

// ---- Layout -------------------------------------------------------------------------------------

void TWinWizardWindow::ApplyBounds(EControl control) {
    HWND w = Control(control);
    const auto it = FBounds.find(control);
    if (!w || it == FBounds.end())
        return;
    const UINT dpi = Dpi();
    const TBounds& b = it->second;
    MoveWindow(w, ScaleToDpi(b.Left, dpi), ScaleToDpi(b.Top, dpi), ScaleToDpi(b.Width, dpi),
               ScaleToDpi(b.Height, dpi), TRUE);
    if (control == EControl::Wizard)
        LayoutPages();
}

void TWinWizardWindow::LayoutPages() {
    if (!FTab)
        return;
    const UINT dpi = Dpi();
    SendMessageW(FTab, TCM_SETITEMSIZE, 0,
                 MAKELPARAM(ScaleToDpi(TabItemHeight, dpi), ScaleToDpi(TabItemWidth, dpi)));
    RECT rc;
    GetClientRect(FTab, &rc);
    const int left = ScaleToDpi(PaneEdge, dpi);
    const int top = ScaleToDpi(PanePadding, dpi);
    const int width = std::max<int>(0, rc.right - ScaleToDpi(PaneEdge + RailWidth, dpi));
    const int height = std::max<int>(0, rc.bottom - 2 * top);
    MakePaneBrush();
    for (HWND page : FPages) {
        if (page)
            MoveWindow(page, left, top, width, height, TRUE);
    }
    InvalidateRect(FTab, nullptr, TRUE);
}

void TWinWizardWindow::LayoutPage(int index) {
    HWND page = FPages[static_cast<std::size_t>(index)];
    if (!page)
        return;
    RECT rc;
    GetClientRect(page, &rc);
    const UINT dpi = Dpi();
    for (const TAnchored& a : FAnchored[static_cast<std::size_t>(index)]) {
        HWND w = Control(a.Control);
        TBounds& b = FBounds[a.Control];
        const int width = ScaleToDpi(b.Width, dpi);
        const int height = ScaleToDpi(b.Height, dpi);
        const int x = rc.right - ScaleToDpi(a.Right, dpi) - width;
        const int y = rc.bottom - ScaleToDpi(a.Bottom, dpi) - height;
        b.Left = MulDiv(x, 96, static_cast<int>(dpi));
        b.Top = MulDiv(y, 96, static_cast<int>(dpi));
        MoveWindow(w, x, y, width, height, TRUE);
    }
}

void TWinWizardWindow::MakePaneBrush() {
    RECT rc;
    GetClientRect(FTab, &rc);
    const int height = std::max<int>(1, rc.bottom);
    if (FPaneBrush && FPaneBrushHeight == height)
        return;
    // The pages' background runs down the whole page control; a narrow strip of it, repeated,
    // paints any control from its place in the page control.
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP strip = CreateCompatibleBitmap(screen, 8, height);
    HGDIOBJ old = SelectObject(mem, strip);
    const RECT all{0, 0, 8, height};
    FillVerticalGradient(mem, all, FSkin.PaneTop, FSkin.PaneBottom);
    SelectObject(mem, old);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    FPaneBrush.reset(CreatePatternBrush(strip));
    DeleteObject(strip); // the brush keeps its own copy
    FPaneBrushHeight = height;
}

HBRUSH TWinWizardWindow::AlignedPaneBrush(HWND child, HDC dc) {
    POINT origin{0, 0};
    MapWindowPoints(child, FTab, &origin, 1);
    SetBrushOrgEx(dc, -origin.x, -origin.y, nullptr);
    return FPaneBrush.get();
}

void TWinWizardWindow::PaintBackground(HWND child, HDC dc) {
    RECT rc;
    GetClientRect(child, &rc);
    if (!FPaneBrush) {
        FillRect(dc, &rc, FFaceBrush.get());
        return;
    }
    POINT old;
    POINT origin{0, 0};
    MapWindowPoints(child, FTab, &origin, 1);
    // Pattern brushes are aligned to the device origin; the child's DC starts at its corner.
    POINT viewport{0, 0};
    GetViewportOrgEx(dc, &viewport);
    SetBrushOrgEx(dc, viewport.x - origin.x, viewport.y - origin.y, &old);
    FillRect(dc, &rc, FPaneBrush.get());
    SetBrushOrgEx(dc, old.x, old.y, nullptr);
}

void TWinWizardWindow::OnDpiChanged(UINT, const RECT* suggested) {
    LoadIcons();
    CreateFonts();
    LoadPictures(FResources);
    for (const auto& [control, hwnd] : FControls) {
        if (HFONT font = ControlFont(control))
            SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    if (suggested) {
        SetWindowPos(FHwnd, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    SetClientSize(FClientWidth, FClientHeight);
    for (const auto& entry : FBounds)
        ApplyBounds(entry.first);
}

void TWinWizardWindow::Centre() {
    RECT frame;
    GetWindowRect(FHwnd, &frame);
    const int w = frame.right - frame.left;
    const int h = frame.bottom - frame.top;
    MONITORINFO mi{};
    mi.cbSize = sizeof(mi);
    GetMonitorInfoW(MonitorFromWindow(FHwnd, MONITOR_DEFAULTTOPRIMARY), &mi);
    const RECT& area = mi.rcWork;
    SetWindowPos(FHwnd, nullptr, area.left + (area.right - area.left - w) / 2,
                 area.top + (area.bottom - area.top - h) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TWinWizardWindow::Show(int showCommand) {
    if (!FHwnd)
        return;
    if (!FCentred) {
        FCentred = true;
        Centre();
    }
    ShowWindow(FHwnd, showCommand);
    UpdateWindow(FHwnd);
    FocusPage();
}

// ---- The message loop ---------------------------------------------------------------------------

bool TWinWizardWindow::PreTranslate(MSG& msg) {
    if (!FHwnd || (msg.hwnd != FHwnd && !IsChild(FHwnd, msg.hwnd)))
        return false;
    if (msg.message == WM_KEYDOWN && (GetKeyState(VK_CONTROL) & 0x8000)) {
        const bool back = GetKeyState(VK_SHIFT) & 0x8000;
        int delta = 0;
        if (msg.wParam == VK_TAB)
            delta = back ? -1 : 1;
        else if (msg.wParam == VK_NEXT)
            delta = 1;
        else if (msg.wParam == VK_PRIOR)
            delta = -1;
        if (delta != 0) {
            StepPage(delta);
            return true;
        }
    }
    return IsDialogMessageW(FHwnd, &msg) != FALSE;
}

int TWinWizardWindow::RunMessageLoop() {
    MSG msg;
    BOOL got;
    while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0) {
        if (got < 0)
            return 0;
        if (!PreTranslate(msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}

void TWinWizardWindow::ProcessMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Left for the loop that runs the program.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (!PreTranslate(msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

void TWinWizardWindow::Terminate() {
    PostQuitMessage(0);
}

// ---- Pages --------------------------------------------------------------------------------------

bool TWinWizardWindow::AskPageChange() {
    bool allow = true;
    FForm.Dispatch([&] { FForm.WizardChanging(allow); });
    return allow;
}

void TWinWizardWindow::StepPage(int delta) {
    if (!AskPageChange())
        return;
    const int next = (FCurrentPage + delta + res::PageCount) % res::PageCount;
    FOwnPageChange = true;
    SendMessageW(FTab, TCM_SETCURSEL, static_cast<WPARAM>(next), 0);
    FOwnPageChange = false;
    ShowPageWindow(next);
}

void TWinWizardWindow::ShowPageWindow(int index) {
    if (index < 0 || index >= res::PageCount)
        return;
    FCurrentPage = index;
    for (int i = 0; i < res::PageCount; ++i) {
        HWND page = FPages[static_cast<std::size_t>(i)];
        if (page)
            ShowWindow(page, i == index ? SW_SHOW : SW_HIDE);
    }
    InvalidateRect(FTab, nullptr, FALSE);
    FocusPage();
}

void TWinWizardWindow::FocusPage() {
    if (!FHwnd || !IsWindowVisible(FHwnd))
        return;
    HWND focus = GetFocus();
    if (focus && IsChild(FHwnd, focus) && IsWindowVisible(focus) && IsWindowEnabled(focus))
        return;
    HWND button = PageControl(res::EKind::Button, static_cast<EPage>(FCurrentPage));
    SetFocus(button && IsWindowEnabled(button) && IsWindowVisible(button) ? button : FHwnd);
}

HWND TWinWizardWindow::PageControl(res::EKind kind, EPage page) const {
    const res::TControlSpec* def = res::FindControl(kind, page);
    return def ? Control(def->Control) : nullptr;
}

void TWinWizardWindow::ShowPage(EPage page) {
    const int index = static_cast<int>(page);
    FOwnPageChange = true;
    if (FTab)
        SendMessageW(FTab, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
    FOwnPageChange = false;
    ShowPageWindow(index);
}

// ---- IWizardView --------------------------------------------------------------------------------

const TWinPicture& TWinWizardWindow::Picture(EImage image) const {
    static const TWinPicture none;
    return res::PictureName(image) ? FPictures[static_cast<std::size_t>(image)] : none;
}

HWND TWinWizardWindow::Control(EControl control) const {
    const auto it = FControls.find(control);
    return it == FControls.end() ? nullptr : it->second;
}

void TWinWizardWindow::SetText(EControl control, const std::string& text) {
    HWND w = Control(control);
    if (!w || control == EControl::Wizard || control == EControl::PanelImage)
        return;
    const res::TControlSpec* def = SpecOf(control);
    if (!def || def->Kind == res::EKind::ImageView)
        return;
    const std::wstring wide =
        def->Kind == res::EKind::Button ? platform::win::Widen(text) : ControlText(text);
    SetWindowTextW(w, wide.c_str());
    InvalidateRect(w, nullptr, TRUE);
    // The text below a heading starts where the heading ends.
    if (HWND body =
            def->Kind == res::EKind::Heading ? PageControl(res::EKind::Label, def->Page) : nullptr)
        InvalidateRect(body, nullptr, FALSE);
}

void TWinWizardWindow::SetImage(EControl control, EImage image) {
    HWND w = Control(control);
    const res::TControlSpec* def = SpecOf(control);
    if (!w || !def || def->Kind != res::EKind::ImageView)
        return;
    if (!res::PictureName(image))
        return;
    FShownImage[control] = image;
    const TWinPicture& picture = Picture(image);
    SetImageViewPicture(w, picture.Empty() ? nullptr : &picture);
    // Screen readers (MSAA, UI Automation) name the view by its text; set only when it changes,
    // as each change is announced.
    const std::wstring name =
        platform::win::Widen(FPictureTexts[static_cast<std::size_t>(image)].Name);
    if (WindowText(w) != name)
        SetWindowTextW(w, name.c_str());
}

void TWinWizardWindow::SetPictureTexts(const std::array<TPictureTexts, PngIconsCount>& texts) {
    FPictureTexts = texts;
}

EImage TWinWizardWindow::ImageOf(EControl control) const {
    return FShownImage.at(control);
}

void TWinWizardWindow::SetEnabled(EControl control, bool enabled) {
    HWND w = Control(control);
    if (!w)
        return;
    const bool hadFocus = GetFocus() == w;
    EnableWindow(w, enabled ? TRUE : FALSE);
    InvalidateRect(w, nullptr, FALSE);
    if (hadFocus && !enabled)
        SetFocus(FHwnd);
}

void TWinWizardWindow::StartTimer(ETimer timer) {
    const auto i = static_cast<std::size_t>(timer);
    // SetTimer on a running timer's id starts its interval again.
    if (FHwnd &&
        SetTimer(FHwnd, TimerId(timer), static_cast<UINT>(res::Timers[i].IntervalMs), nullptr))
        FTimerRunning[i] = true;
}

void TWinWizardWindow::StopTimer(ETimer timer) {
    const auto i = static_cast<std::size_t>(timer);
    if (FTimerRunning[i] && FHwnd)
        KillTimer(FHwnd, TimerId(timer));
    FTimerRunning[i] = false;
}

void TWinWizardWindow::OnTimer(UINT_PTR id) {
    if (id < TimerIdBase || id >= TimerIdBase + res::TimerCount)
        return;
    const auto timer = static_cast<ETimer>(id - TimerIdBase);
    if (!FTimerRunning[static_cast<std::size_t>(timer)])
        return; // a tick queued before the timer was stopped
    FForm.Dispatch([this, timer] { FForm.OnTimer(timer); });
}

EDialogButton TWinWizardWindow::ShowDialog(EDialogKind kind, const std::string& text,
                                           const TDialogCaptions& captions) {
    TDialogRequest request;
    request.Kind = kind;
    request.Text = text;
    request.Captions = captions;
    TDialogLook look;
    look.Skin = &FSkin;
    look.TextFont = FBodyFont.get();
    look.ButtonFont = FDefaultFont.get();
    look.Icons[0] = &FDialogIcons[0];
    look.Icons[1] = &FDialogIcons[1];
    return RunDialog(FHwnd, request, look, DialogOpening);
}

void TWinWizardWindow::ShowException(const std::string& message) {
    const std::wstring title = platform::win::Widen(FApplicationTitle);
    MessageBoxW(FHwnd, platform::win::Widen(message).c_str(),
                title.empty() ? WindowText(FHwnd).c_str() : title.c_str(),
                MB_OK | MB_ICONERROR | MB_APPLMODAL);
}

void TWinWizardWindow::SetCaption(const std::string& text) {
    if (FHwnd)
        SetWindowTextW(FHwnd, platform::win::Widen(text).c_str());
}

void TWinWizardWindow::SetApplicationTitle(const std::string& text) {
    FApplicationTitle = text;
}

void TWinWizardWindow::SetBorderIcons(unsigned icons) {
    FBorderIcons = icons;
    if (!FHwnd)
        return;
    const LONG_PTR keep = GetWindowLongPtrW(FHwnd, GWL_STYLE) &
                          ~static_cast<LONG_PTR>(WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX);
    SetWindowLongPtrW(
        FHwnd, GWL_STYLE,
        keep | static_cast<LONG_PTR>(Style() & (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)));
    SetWindowPos(FHwnd, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    SetClientSize(FClientWidth, FClientHeight);
}

void TWinWizardWindow::SetClientSize(int width, int height) {
    FClientWidth = width;
    FClientHeight = height;
    if (!FHwnd)
        return;
    const UINT dpi = Dpi();
    RECT frame{0, 0, ScaleToDpi(width, dpi), ScaleToDpi(height, dpi)};
    AdjustWindowRectExForDpi(&frame, static_cast<DWORD>(GetWindowLongPtrW(FHwnd, GWL_STYLE)), FALSE,
                             static_cast<DWORD>(GetWindowLongPtrW(FHwnd, GWL_EXSTYLE)), dpi);
    SetWindowPos(FHwnd, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // The caption may wrap its buttons differently from the estimate; the client area decides.
    RECT client;
    GetClientRect(FHwnd, &client);
    const int dw = ScaleToDpi(width, dpi) - client.right;
    const int dh = ScaleToDpi(height, dpi) - client.bottom;
    if (dw != 0 || dh != 0) {
        SetWindowPos(FHwnd, nullptr, 0, 0, frame.right - frame.left + dw,
                     frame.bottom - frame.top + dh, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

int TWinWizardWindow::ClientWidth() const {
    return FClientWidth;
}

int TWinWizardWindow::ClientHeight() const {
    return FClientHeight;
}

void TWinWizardWindow::SetBounds(EControl control, int left, int top, int width, int height) {
    if (!Control(control))
        return;
    FBounds[control] = {left, top, width, height};
    ApplyBounds(control);
}

// ---- Drawing ------------------------------------------------------------------------------------

RECT TWinWizardWindow::HeadingTextRect(HWND heading, HDC dc) const {
    RECT rc;
    GetClientRect(heading, &rc);
    const std::wstring text = WindowText(heading);
    const int pad = ScaleToDpi(FSkin.HeadingPadding, Dpi());
    HGDIOBJ oldFont = SelectObject(dc, FHeadingFont.get());
    const auto linesAt = [&](int width) { return WrapForDc(dc, text, width).size(); };
    const int width = wizard_layout::BalancedWidth(std::max<int>(1, rc.right - 2 * pad), linesAt);
    const int height = static_cast<int>(linesAt(width)) * LineHeight(dc);
    SelectObject(dc, oldFont);
    const int left = (rc.right - width) / 2;
    const int top = std::max<int>(0, (rc.bottom - height) / 2);
    return RECT{left, top, left + width, top + height};
}

int TWinWizardWindow::BodyInset(EPage page, HWND body) const {
    HWND heading = PageControl(res::EKind::Heading, page);
    if (!heading || GetWindowTextLengthW(heading) == 0)
        return 0;
    HDC dc = GetDC(heading);
    RECT text = HeadingTextRect(heading, dc);
    ReleaseDC(heading, dc);
    // Both in the page's coordinates.
    MapWindowPoints(heading, GetParent(body), reinterpret_cast<POINT*>(&text), 2);
    POINT top{0, 0};
    MapWindowPoints(body, GetParent(body), &top, 1);
    return wizard_layout::BodyInset(text.bottom, top.y,
                                    ScaleToDpi(wizard_layout::HeadingGap, Dpi()));
}

void TWinWizardWindow::DrawPageText(const DRAWITEMSTRUCT& item) {
    const RECT rc = item.rcItem;
    const int w = rc.right - rc.left;
    const int h = rc.bottom - rc.top;
    if (w <= 0 || h <= 0)
        return;
    const res::TControlSpec* def =
        SpecOf(static_cast<EControl>(static_cast<int>(item.CtlID) - ControlId(EControl::Wizard)));
    if (!def)
        return;
    const bool heading = def->Kind == res::EKind::Heading;
    const TOffscreen offscreen(item.hDC, w, h);
    HDC mem = offscreen.DC();
    PaintBackground(item.hwndItem, mem);
    SetBkMode(mem, TRANSPARENT);
    SetTextColor(mem, heading ? FSkin.Heading : FSkin.Body);
    const RECT box = heading ? HeadingTextRect(item.hwndItem, mem)
                             : RECT{0, BodyInset(def->Page, item.hwndItem), w, h};
    HGDIOBJ oldFont = SelectObject(mem, heading ? FHeadingFont.get() : FBodyFont.get());
    DrawLines(mem, WrapForDc(mem, WindowText(item.hwndItem), box.right - box.left), box, heading);
    offscreen.Present(rc.left, rc.top);
    SelectObject(mem, oldFont);
}

void TWinWizardWindow::PaintTabControl(HDC dc) {
    RECT rc;
    GetClientRect(FTab, &rc);
    const UINT dpi = Dpi();
    const int railLeft = rc.right - ScaleToDpi(RailWidth, dpi);
    RECT pane{0, 0, railLeft, rc.bottom};
    FillRect(dc, &pane, FPaneBrush ? FPaneBrush.get() : FFaceBrush.get());
    FillSolid(dc, RECT{0, 0, ScaleToDpi(PaneEdge, dpi), rc.bottom}, FSkin.PaneBorder);
    FillSolid(dc, RECT{railLeft, 0, rc.right, rc.bottom}, FSkin.Rail);

    // The tabs are markers of the page in front; their captions are not for the user.
    const int count = static_cast<int>(SendMessageW(FTab, TCM_GETITEMCOUNT, 0, 0));
    const int selected = static_cast<int>(SendMessageW(FTab, TCM_GETCURSEL, 0, 0));
    for (int i = 0; i < count; ++i) {
        RECT item;
        if (!SendMessageW(FTab, TCM_GETITEMRECT, static_cast<WPARAM>(i),
                          reinterpret_cast<LPARAM>(&item)))
            continue;
        item.left = std::max<int>(item.left, railLeft + ScaleToDpi(1, dpi));
        item.bottom -= ScaleToDpi(1, dpi); // the rail shows between the tabs
        FillSolid(dc, item, i == selected ? FSkin.TabSelected : FSkin.TabFace);
        if (i == selected) {
            RECT marker = item;
            marker.right =
                std::min<int>(item.right, item.left + ScaleToDpi(FSkin.TabMarkerWidth, dpi));
            FillSolid(dc, marker, FSkin.TabMarker);
        }
    }
}

// ---- Window procedures --------------------------------------------------------------------------

LRESULT CALLBACK TWinWizardWindow::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* self = static_cast<TWinWizardWindow*>(
            reinterpret_cast<const CREATESTRUCTW*>(lp)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->FHwnd = hwnd;
    }
    TWinWizardWindow* self = WindowOf(hwnd);
    if (!self)
        return DefWindowProcW(hwnd, msg, wp, lp);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->FHwnd = nullptr;
        self->FTab = nullptr;
        self->FPages.fill(nullptr);
        self->FControls.clear();
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
    return self->HandleMessage(msg, wp, lp);
}

LRESULT TWinWizardWindow::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_ERASEBKGND:
        EraseBackground(reinterpret_cast<HDC>(wp));
        return 1;
    case WM_NOTIFY: {
        LRESULT result = 0;
        if (OnTabNotify(*reinterpret_cast<const NMHDR*>(lp), result))
            return result;
        break;
    }
    case WM_COMMAND:
        if (lp == 0 && OnDialogKey(LOWORD(wp)))
            return 0;
        break;
    case WM_TIMER:
        OnTimer(wp);
        return 0;
    case WM_DEVICECHANGE:
        FForm.Dispatch([this] { FForm.WMDeviceChange(); });
        return TRUE;
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_DESTROY:
        if (!FDestroying)
            PostQuitMessage(0); // the main window has closed: the program ends
        return 0;
    case WM_ACTIVATE:
        if (OnActivate(LOWORD(wp) != WA_INACTIVE))
            return 0;
        break;
    case WM_DPICHANGED:
        OnDpiChanged(HIWORD(wp), reinterpret_cast<const RECT*>(lp));
        return 0;
    case WM_SHOWWINDOW:
        if (wp && !FCentred) {
            FCentred = true;
            Centre();
        }
        break;
    default:
        break;
    }
    return DefWindowProcW(FHwnd, msg, wp, lp);
}

void TWinWizardWindow::EraseBackground(HDC dc) {
    RECT rc;
    GetClientRect(FHwnd, &rc);
    FillRect(dc, &rc, FFaceBrush.get());
    RECT rail = rc;
    rail.left = rc.right - MulDiv(rc.right, 42, 1000); // the rail's share of the width
    FillSolid(dc, rail, FSkin.Rail);
}

bool TWinWizardWindow::OnTabNotify(const NMHDR& n, LRESULT& result) {
    if (n.hwndFrom != FTab)
        return false;
    switch (n.code) {
    case TCN_SELCHANGING:
        result = FOwnPageChange || AskPageChange() ? FALSE : TRUE;
        return true;
    case TCN_SELCHANGE:
        ShowPageWindow(static_cast<int>(SendMessageW(FTab, TCM_GETCURSEL, 0, 0)));
        result = 0;
        return true;
    case TCN_KEYDOWN:
        result = 0;
        return true;
    default:
        return false;
    }
}

bool TWinWizardWindow::OnDialogKey(WORD id) {
    if (id == IDOK) {
        HWND button = PageControl(res::EKind::Button, static_cast<EPage>(FCurrentPage));
        if (button && IsWindowEnabled(button) && IsWindowVisible(button))
            SendMessageW(button, BM_CLICK, 0, 0);
        return true;
    }
    if (id == IDCANCEL) {
        PostMessageW(FHwnd, WM_CLOSE, 0, 0);
        return true;
    }
    return false;
}

void TWinWizardWindow::OnClose() {
    bool canClose = true;
    FForm.Dispatch([&] { FForm.FormCloseQuery(canClose); });
    if (canClose)
        DestroyWindow(FHwnd);
}

bool TWinWizardWindow::OnActivate(bool active) {
    if (!active) {
        HWND focus = GetFocus();
        FFocus = focus && IsChild(FHwnd, focus) ? focus : nullptr;
        return false;
    }
    if (FFocus && IsWindow(FFocus) && IsWindowVisible(FFocus) && IsWindowEnabled(FFocus))
        SetFocus(FFocus);
    else
        FocusPage();
    return true;
}

LRESULT CALLBACK TWinWizardWindow::PageProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        SetWindowLongPtrW(
            hwnd, GWLP_USERDATA,
            reinterpret_cast<LONG_PTR>(reinterpret_cast<const CREATESTRUCTW*>(lp)->lpCreateParams));
    }
    TWinWizardWindow* self = WindowOf(hwnd);
    if (!self || msg == WM_NCDESTROY)
        return DefWindowProcW(hwnd, msg, wp, lp);
    return self->HandlePageMessage(hwnd, msg, wp, lp);
}

LRESULT TWinWizardWindow::HandlePageMessage(HWND page, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_ERASEBKGND:
        PaintBackground(page, reinterpret_cast<HDC>(wp));
        return 1;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
        HDC dc = reinterpret_cast<HDC>(wp);
        HWND child = reinterpret_cast<HWND>(lp);
        SetBkMode(dc, TRANSPARENT);
        const bool body =
            child == Control(EControl::BriefingText) || child == Control(EControl::WaitBrowserText);
        SetTextColor(dc, body ? FSkin.Body : FSkin.Text);
        if (!FPaneBrush)
            return reinterpret_cast<LRESULT>(FFaceBrush.get());
        return reinterpret_cast<LRESULT>(AlignedPaneBrush(child, dc));
    }
    case WM_DRAWITEM: {
        const auto* di = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
        if (di->CtlType == ODT_STATIC) {
            DrawPageText(*di);
            return TRUE;
        }
        if (di->CtlType == ODT_BUTTON) {
            HWND button = di->hwndItem;
            DrawSkinButton(*di, FSkin,
                           [this, button](HDC dc, const RECT&) { PaintBackground(button, dc); });
            return TRUE;
        }
        break;
    }
    case WM_COMMAND:
        if (HIWORD(wp) == BN_CLICKED) {
            const int id = LOWORD(wp);
            if (id == ControlId(EControl::ButtonNext)) {
                FForm.Dispatch([this] { FForm.ButtonNextClick(); });
                return 0;
            }
            if (id == ControlId(EControl::ButtonCancel)) {
                FForm.Dispatch([this] { FForm.ButtonCancelClick(); });
                return 0;
            }
        }
        break;
    case WM_SIZE:
        for (int i = 0; i < res::PageCount; ++i) {
            if (FPages[static_cast<std::size_t>(i)] == page)
                LayoutPage(i);
        }
        return 0;
    default:
        break;
    }
    return DefWindowProcW(page, msg, wp, lp);
}

LRESULT CALLBACK TWinWizardWindow::TabProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                           DWORD_PTR data) {
    auto* self = reinterpret_cast<TWinWizardWindow*>(data);
    switch (msg) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
    case WM_PRINTCLIENT: {
        PAINTSTRUCT ps{};
        HDC dc = msg == WM_PAINT ? BeginPaint(hwnd, &ps) : reinterpret_cast<HDC>(wp);
        RECT rc;
        GetClientRect(hwnd, &rc);
        {
            const TOffscreen offscreen(dc, rc.right, rc.bottom);
            self->PaintTabControl(offscreen.DC());
            offscreen.Present(0, 0);
        }
        if (msg == WM_PAINT)
            EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_SIZE: {
        const LRESULT r = DefSubclassProc(hwnd, msg, wp, lp);
        self->LayoutPages();
        return r;
    }
    case WM_KEYDOWN:
        // The keys that move between tabs ask first; some tab controls change the page on
        // them whatever TCN_SELCHANGING answers.
        switch (wp) {
        case VK_LEFT:
        case VK_RIGHT:
        case VK_UP:
        case VK_DOWN:
        case VK_HOME:
        case VK_END:
        case VK_PRIOR:
        case VK_NEXT:
            if (!self->AskPageChange())
                return 0;
            break;
        default:
            break;
        }
        break;
    case WM_NCDESTROY:
        RemoveWindowSubclass(hwnd, TabProc, id);
        break;
    default:
        break;
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}
