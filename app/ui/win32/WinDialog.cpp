#include "WinDialog.h"

#include <algorithm>
#include <vector>

#include "WinPaint.h"
#include "platform/windows/wide_text.h"

namespace {

constexpr int TextId = 100;
constexpr int IconId = 101;

struct TDialogState {
    const TWinSkin* Skin = nullptr;
    EDialogKind Kind = EDialogKind::Error;
    TBrushOwner Face;
    // Paints the icon view's background: the dialog's face.
    TBackgroundPainter FacePainter;
    bool Done = false;
    EDialogButton Result = EDialogButton::OK;
    int DefaultId = IDOK;

    EDialogButton CloseResult() const {
        return Kind == EDialogKind::Error ? EDialogButton::OK : EDialogButton::No;
    }
};

TDialogState* StateOf(HWND dlg) {
    return reinterpret_cast<TDialogState*>(GetWindowLongPtrW(dlg, GWLP_USERDATA));
}

void Finish(HWND dlg, EDialogButton result) {
    if (TDialogState* s = StateOf(dlg)) {
        if (!s->Done) {
            s->Done = true;
            s->Result = result;
        }
    }
}

LRESULT CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    TDialogState* s = StateOf(hwnd);
    switch (msg) {
    case WM_NCCREATE: {
        const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lp);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        break;
    }
    case WM_ERASEBKGND:
        if (s) {
            RECT rc;
            GetClientRect(hwnd, &rc);
            HDC dc = reinterpret_cast<HDC>(wp);
            FillRect(dc, &rc, s->Face.get());
            if (s->Skin->Loaded && s->Skin->DialogAccentHeight > 0) {
                RECT accent = rc;
                accent.bottom = ScaleToDpi(s->Skin->DialogAccentHeight, GetDpiForWindow(hwnd));
                FillSolid(dc, accent, s->Skin->DialogAccent);
            }
            return 1;
        }
        break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
        if (s) {
            HDC dc = reinterpret_cast<HDC>(wp);
            SetTextColor(dc, s->Skin->DialogText);
            SetBkColor(dc, s->Skin->DialogFace);
            return reinterpret_cast<LRESULT>(s->Face.get());
        }
        break;
    case WM_DRAWITEM:
        if (s) {
            const auto* di = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
            HBRUSH face = s->Face.get();
            if (di->CtlType == ODT_STATIC) {
                // The message, broken into lines as the window's texts are.
                FillRect(di->hDC, &di->rcItem, face);
                SetBkMode(di->hDC, TRANSPARENT);
                SetTextColor(di->hDC, s->Skin->DialogText);
                HGDIOBJ old = SelectObject(
                    di->hDC, reinterpret_cast<HFONT>(SendMessageW(di->hwndItem, WM_GETFONT, 0, 0)));
                DrawLines(di->hDC,
                          WrapForDc(di->hDC, WindowText(di->hwndItem),
                                    di->rcItem.right - di->rcItem.left),
                          di->rcItem, false);
                SelectObject(di->hDC, old);
                return TRUE;
            }
            DrawSkinButton(*di, *s->Skin,
                           [face](HDC dc, const RECT& rc) { FillRect(dc, &rc, face); });
            return TRUE;
        }
        break;
    case DM_GETDEFID:
        if (s)
            return MAKELRESULT(s->DefaultId, DC_HASDEFID);
        break;
    case WM_COMMAND:
        if (s && HIWORD(wp) == BN_CLICKED) {
            switch (LOWORD(wp)) {
            case IDOK:
                Finish(hwnd, EDialogButton::OK);
                return 0;
            case IDYES:
                Finish(hwnd, EDialogButton::Yes);
                return 0;
            case IDNO:
                Finish(hwnd, EDialogButton::No);
                return 0;
            case IDCANCEL: // Escape
                Finish(hwnd, s->CloseResult());
                return 0;
            default:
                break;
            }
        }
        break;
    case WM_CLOSE:
        if (s)
            Finish(hwnd, s->CloseResult());
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

bool RegisterDialogClass() {
    static const bool registered = [] {
        WNDCLASSEXW wc = ProgramWindowClass(DialogProc, DialogClass);
        // The dialog class's own window extra bytes, as dialog boxes have.
        wc.cbWndExtra = DLGWINDOWEXTRA;
        return RegisterClassExW(&wc) != 0;
    }();
    return registered;
}

// The size `text` takes in `font`: on one line, or broken into lines no wider than `maxWidth`.
SIZE TextExtent(HWND hwnd, HFONT font, const std::wstring& text, int maxWidth, bool wrap) {
    HDC dc = GetDC(hwnd);
    HGDIOBJ old = SelectObject(dc, font);
    const std::vector<std::wstring> lines =
        wrap ? WrapForDc(dc, text, maxWidth) : std::vector<std::wstring>{text};
    SIZE extent{0, LineHeight(dc) * static_cast<LONG>(lines.size())};
    for (const std::wstring& line : lines) {
        SIZE size{};
        GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &size);
        extent.cx = std::max(extent.cx, size.cx);
    }
    SelectObject(dc, old);
    ReleaseDC(hwnd, dc);
    return extent;
}

constexpr DWORD DialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD DialogExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

struct TDialogButton {
    int Id;
    std::wstring Caption;
    int Width = 0; // set by LayOut
};

// Where the parts of the dialog go, in pixels at its DPI.
struct TDialogLayout {
    int Accent = 0; // the skin's accent strip along the top
    int Margin = 0;
    int Icon = 0; // the icon's width and height
    int TextLeft = 0;
    int TextHeight = 0; // the text's row: the text or the icon, whichever is taller
    SIZE Text{};
    int ButtonsTop = 0;
    int ButtonHeight = 0;
    int Gap = 0; // between two buttons
    int ButtonsWidth = 0;
    int ClientWidth = 0;
    int ClientHeight = 0;
};

HMENU ChildId(int id) {
    return reinterpret_cast<HMENU>(static_cast<INT_PTR>(id));
}

// The buttons of the request's kind, the default one first.
std::vector<TDialogButton> ButtonsOf(const TDialogRequest& request) {
    if (request.Kind == EDialogKind::Error)
        return {{IDOK, platform::win::Widen(request.Captions.OK)}};
    return {{IDYES, platform::win::Widen(request.Captions.Yes)},
            {IDNO, platform::win::Widen(request.Captions.No)}};
}

// The skin's icon of the request's kind; null when it has none (the system's icon is shown).
const TWinPicture* SkinIcon(const TDialogLook& look, EDialogKind kind) {
    const TWinPicture* picture = look.Icons[kind == EDialogKind::Error ? 0 : 1];
    return picture && !picture->Empty() ? picture : nullptr;
}

// Measures the text and the buttons (setting their widths) and places the parts around them.
TDialogLayout LayOut(HWND dlg, const std::wstring& text, std::vector<TDialogButton>& buttons,
                     const TDialogLook& look, const TWinPicture* picture, UINT dpi) {
    const TWinSkin& skin = *look.Skin;
    auto S = [dpi](int v) { return ScaleToDpi(v, dpi); };
    TDialogLayout l;
    l.Text = TextExtent(dlg, look.TextFont, text.empty() ? L" " : text, S(340), true);
    l.Accent = skin.Loaded ? S(skin.DialogAccentHeight) : 0;
    l.Margin = S(14);
    l.Icon = picture ? MulDiv(picture->Width(), static_cast<int>(dpi), picture->Dpi())
                     : GetSystemMetricsForDpi(SM_CXICON, dpi);
    l.TextLeft = l.Margin + l.Icon + S(12);
    l.TextHeight = std::max<int>(l.Text.cy, l.Icon);
    l.ButtonHeight = S(25);
    l.Gap = S(8);
    for (TDialogButton& b : buttons) {
        const SIZE cs =
            TextExtent(dlg, look.ButtonFont, b.Caption.empty() ? L" " : b.Caption, 0, false);
        b.Width = std::max<int>(S(skin.DialogButtonWidth), cs.cx + S(28));
        l.ButtonsWidth += b.Width;
    }
    l.ButtonsWidth += l.Gap * static_cast<int>(buttons.size() - 1);
    l.ClientWidth = std::max<int>(l.TextLeft + l.Text.cx + l.Margin, l.ButtonsWidth + 2 * l.Margin);
    l.ButtonsTop = l.Accent + l.Margin + l.TextHeight + S(18);
    l.ClientHeight = l.ButtonsTop + l.ButtonHeight + l.Margin;
    return l;
}

// The skin's icon, drawn over the dialog's face; the system's where there is none.
void CreateIcon(HWND dlg, const TDialogLayout& l, const TWinPicture* picture, EDialogKind kind,
                const TBackgroundPainter* face) {
    if (picture) {
        HWND iconView = CreateImageView(dlg, IconId, face);
        MoveWindow(iconView, l.Margin, l.Accent + l.Margin, l.Icon, l.Icon, FALSE);
        SetImageViewPicture(iconView, picture);
        return;
    }
    HWND iconView = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_ICON, l.Margin,
                                    l.Accent + l.Margin, l.Icon, l.Icon, dlg, ChildId(IconId),
                                    GetModuleHandleW(nullptr), nullptr);
    HICON systemIcon = static_cast<HICON>(
        LoadImageW(nullptr, kind == EDialogKind::Error ? IDI_ERROR : IDI_QUESTION, IMAGE_ICON,
                   l.Icon, l.Icon, LR_SHARED));
    SendMessageW(iconView, STM_SETICON, reinterpret_cast<WPARAM>(systemIcon), 0);
}

void CreateText(HWND dlg, const TDialogLayout& l, const std::wstring& text, HFONT font) {
    const int top = l.Accent + l.Margin + (l.TextHeight - l.Text.cy) / 2;
    HWND label = CreateWindowExW(
        0, L"STATIC", text.c_str(), WS_CHILD | WS_VISIBLE | SS_OWNERDRAW | SS_NOPREFIX, l.TextLeft,
        top, l.Text.cx, l.Text.cy, dlg, ChildId(TextId), GetModuleHandleW(nullptr), nullptr);
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

// The buttons in a row at the bottom right; returns the one of `defaultId`.
HWND CreateButtons(HWND dlg, const TDialogLayout& l, const std::vector<TDialogButton>& buttons,
                   HFONT font, int defaultId) {
    HWND defaultButton = nullptr;
    int x = l.ClientWidth - l.Margin - l.ButtonsWidth;
    for (const TDialogButton& def : buttons) {
        HWND b = CreateWindowExW(0, L"BUTTON", def.Caption.c_str(),
                                 WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW, x, l.ButtonsTop,
                                 def.Width, l.ButtonHeight, dlg, ChildId(def.Id),
                                 GetModuleHandleW(nullptr), nullptr);
        SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        TrackButtonHover(b);
        if (def.Id == defaultId)
            defaultButton = b;
        x += def.Width + l.Gap;
    }
    return defaultButton;
}

// Sizes the window around the client area and centres it over the owner (or the screen),
// inside the work area of the owner's monitor.
void PlaceOverOwner(HWND dlg, HWND owner, const TDialogLayout& l, UINT dpi) {
    RECT frame{0, 0, l.ClientWidth, l.ClientHeight};
    AdjustWindowRectExForDpi(&frame, DialogStyle, FALSE, DialogExStyle, dpi);
    const int fw = frame.right - frame.left;
    const int fh = frame.bottom - frame.top;
    RECT over{};
    if (!owner || !GetWindowRect(owner, &over)) {
        over = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }
    HMONITOR monitor = MonitorFromRect(&over, MONITOR_DEFAULTTONEAREST);
    MONITORINFO mi{};
    mi.cbSize = sizeof(mi);
    GetMonitorInfoW(monitor, &mi);
    int left = (over.left + over.right - fw) / 2;
    int top = (over.top + over.bottom - fh) / 2;
    left =
        std::clamp<int>(left, mi.rcWork.left, std::max<int>(mi.rcWork.left, mi.rcWork.right - fw));
    top = std::clamp<int>(top, mi.rcWork.top, std::max<int>(mi.rcWork.top, mi.rcWork.bottom - fh));
    SetWindowPos(dlg, nullptr, left, top, fw, fh, SWP_NOZORDER | SWP_NOACTIVATE);
}

// The dialog's own message loop, until a button (or the close box) has answered.
void RunModalLoop(HWND dlg, const TDialogState& state) {
    while (!state.Done) {
        MSG m;
        const BOOL got = GetMessageW(&m, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(m.wParam)); // for the loop that owns it
            break;
        }
        if (got < 0)
            break;
        if (!IsDialogMessageW(dlg, &m)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
    }
}

} // namespace

const wchar_t* const DialogClass = L"TPendockDialog";

EDialogButton RunDialog(HWND owner, const TDialogRequest& request, const TDialogLook& look,
                        const std::function<void(HWND)>& opening) {
    TDialogState state;
    state.Skin = look.Skin;
    state.Kind = request.Kind;
    state.Result = state.CloseResult();
    if (!RegisterDialogClass())
        return state.Result;
    state.Face.reset(CreateSolidBrush(look.Skin->DialogFace));
    state.FacePainter = [&state](HWND view, HDC dc) {
        RECT rc;
        GetClientRect(view, &rc);
        FillRect(dc, &rc, state.Face.get());
    };

    HWND dlg = CreateWindowExW(DialogExStyle, DialogClass,
                               platform::win::Widen(request.Captions.Title).c_str(), DialogStyle, 0,
                               0, 100, 100, owner, nullptr, GetModuleHandleW(nullptr), &state);
    if (!dlg)
        return state.Result;
    // The owner's icons, for the task switcher (the owner keeps them).
    if (owner) {
        for (WPARAM kind : {ICON_BIG, ICON_SMALL})
            SendMessageW(dlg, WM_SETICON, kind, SendMessageW(owner, WM_GETICON, kind, 0));
    }
    const UINT dpi = GetDpiForWindow(dlg);

    std::vector<TDialogButton> buttons = ButtonsOf(request);
    state.DefaultId = buttons.front().Id;
    const std::wstring text = ControlText(request.Text);
    const TWinPicture* picture = SkinIcon(look, request.Kind);
    const TDialogLayout layout = LayOut(dlg, text, buttons, look, picture, dpi);
    CreateIcon(dlg, layout, picture, request.Kind, &state.FacePainter);
    CreateText(dlg, layout, text, look.TextFont);
    HWND defaultButton = CreateButtons(dlg, layout, buttons, look.ButtonFont, state.DefaultId);
    PlaceOverOwner(dlg, owner, layout, dpi);

    const bool ownerWasEnabled = owner && IsWindowEnabled(owner);
    if (owner)
        EnableWindow(owner, FALSE);
    ShowWindow(dlg, SW_SHOW);
    if (defaultButton)
        SetFocus(defaultButton);
    if (opening)
        opening(dlg);
    RunModalLoop(dlg, state);

    // The owner is enabled before the dialog goes, so that it gets the activation back.
    if (owner && ownerWasEnabled)
        EnableWindow(owner, TRUE);
    DestroyWindow(dlg);
    if (owner && IsWindow(owner))
        SetActiveWindow(owner);
    return state.Result;
}
