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
    HBRUSH Face = nullptr;
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
            FillRect(dc, &rc, s->Face);
            if (s->Skin->Loaded && s->Skin->DialogAccentHeight > 0) {
                RECT accent = rc;
                accent.bottom = ScaleToDpi(s->Skin->DialogAccentHeight, GetDpiForWindow(hwnd));
                HBRUSH b = CreateSolidBrush(s->Skin->DialogAccent);
                FillRect(dc, &accent, b);
                DeleteObject(b);
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
            return reinterpret_cast<LRESULT>(s->Face);
        }
        break;
    case WM_DRAWITEM:
        if (s) {
            const auto* di = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
            HBRUSH face = s->Face;
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
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = DialogProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = DialogClass;
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

} // namespace

const wchar_t* const DialogClass = L"TPendockDialog";

EDialogButton RunDialog(HWND owner, const TDialogRequest& request, const TDialogLook& look,
                        const std::function<void(HWND)>& opening) {
    const TWinSkin& skin = *look.Skin;
    TDialogState state;
    state.Skin = &skin;
    state.Kind = request.Kind;
    state.Result = state.CloseResult();
    if (!RegisterDialogClass())
        return state.Result;
    state.Face = CreateSolidBrush(skin.DialogFace);

    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    HWND dlg =
        CreateWindowExW(exStyle, DialogClass, platform::win::Widen(request.Captions.Title).c_str(),
                        style, 0, 0, 100, 100, owner, nullptr, GetModuleHandleW(nullptr), &state);
    if (!dlg) {
        DeleteObject(state.Face);
        return state.Result;
    }
    // The owner's icons, for the task switcher (the owner keeps them).
    if (owner) {
        for (WPARAM kind : {ICON_BIG, ICON_SMALL})
            SendMessageW(dlg, WM_SETICON, kind, SendMessageW(owner, WM_GETICON, kind, 0));
    }
    const UINT dpi = GetDpiForWindow(dlg);
    auto S = [dpi](int v) { return ScaleToDpi(v, dpi); };

    // Controls.
    const bool error = request.Kind == EDialogKind::Error;
    struct TButtonDef {
        int Id;
        const std::string* Caption;
    };
    std::vector<TButtonDef> buttons;
    if (error) {
        buttons.push_back({IDOK, &request.Captions.OK});
        state.DefaultId = IDOK;
    } else {
        buttons.push_back({IDYES, &request.Captions.Yes});
        buttons.push_back({IDNO, &request.Captions.No});
        state.DefaultId = IDYES;
    }

    const std::wstring text = ControlText(request.Text);
    const SIZE textSize = TextExtent(dlg, look.TextFont, text.empty() ? L" " : text, S(340), true);
    const int accent = skin.Loaded ? S(skin.DialogAccentHeight) : 0;
    const int margin = S(14);
    const TWinPicture* picture = look.Icons[error ? 0 : 1];
    if (picture && picture->Empty())
        picture = nullptr;
    const int icon = picture ? MulDiv(picture->Width(), static_cast<int>(dpi), picture->Dpi())
                             : GetSystemMetricsForDpi(SM_CXICON, dpi);
    const int textLeft = margin + icon + S(12);
    const int textHeight = std::max<int>(textSize.cy, icon);
    const int buttonHeight = S(25);
    const int gap = S(8);
    std::vector<int> widths;
    int buttonsWidth = 0;
    for (const TButtonDef& b : buttons) {
        const std::wstring caption = platform::win::Widen(*b.Caption);
        const SIZE cs =
            TextExtent(dlg, look.ButtonFont, caption.empty() ? L" " : caption, 0, false);
        const int w = std::max<int>(S(skin.DialogButtonWidth), cs.cx + S(28));
        widths.push_back(w);
        buttonsWidth += w;
    }
    buttonsWidth += gap * static_cast<int>(buttons.size() - 1);
    const int clientWidth =
        std::max<int>(textLeft + textSize.cx + margin, buttonsWidth + 2 * margin);
    const int buttonsTop = accent + margin + textHeight + S(18);
    const int clientHeight = buttonsTop + buttonHeight + margin;

    // The skin's icon, drawn over the dialog's face; the system's where there is none.
    const TBackgroundPainter face = [&state](HWND view, HDC dc) {
        RECT rc;
        GetClientRect(view, &rc);
        FillRect(dc, &rc, state.Face);
    };
    if (picture) {
        HWND iconView = CreateImageView(dlg, IconId, &face);
        MoveWindow(iconView, margin, accent + margin, icon, icon, FALSE);
        SetImageViewPicture(iconView, picture);
    } else {
        HWND iconView = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_ICON, margin,
                                        accent + margin, icon, icon, dlg,
                                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IconId)),
                                        GetModuleHandleW(nullptr), nullptr);
        HICON systemIcon = static_cast<HICON>(LoadImageW(nullptr, error ? IDI_ERROR : IDI_QUESTION,
                                                         IMAGE_ICON, icon, icon, LR_SHARED));
        SendMessageW(iconView, STM_SETICON, reinterpret_cast<WPARAM>(systemIcon), 0);
    }

    const int textTop = accent + margin + (textHeight - textSize.cy) / 2;
    HWND label = CreateWindowExW(
        0, L"STATIC", text.c_str(), WS_CHILD | WS_VISIBLE | SS_OWNERDRAW | SS_NOPREFIX, textLeft,
        textTop, textSize.cx, textSize.cy, dlg,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(TextId)), GetModuleHandleW(nullptr), nullptr);
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(look.TextFont), FALSE);

    HWND defaultButton = nullptr;
    int x = clientWidth - margin - buttonsWidth;
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        HWND b = CreateWindowExW(0, L"BUTTON", platform::win::Widen(*buttons[i].Caption).c_str(),
                                 WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW, x, buttonsTop,
                                 widths[i], buttonHeight, dlg,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(buttons[i].Id)),
                                 GetModuleHandleW(nullptr), nullptr);
        SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(look.ButtonFont), FALSE);
        TrackButtonHover(b);
        if (buttons[i].Id == state.DefaultId)
            defaultButton = b;
        x += widths[i] + gap;
    }

    // The window around that client area, centred over the owner (or the screen).
    RECT frame{0, 0, clientWidth, clientHeight};
    AdjustWindowRectExForDpi(&frame, style, FALSE, exStyle, dpi);
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

    const bool ownerWasEnabled = owner && IsWindowEnabled(owner);
    if (owner)
        EnableWindow(owner, FALSE);
    ShowWindow(dlg, SW_SHOW);
    if (defaultButton)
        SetFocus(defaultButton);
    if (opening)
        opening(dlg);

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

    // The owner is enabled before the dialog goes, so that it gets the activation back.
    if (owner && ownerWasEnabled)
        EnableWindow(owner, TRUE);
    DestroyWindow(dlg);
    if (owner && IsWindow(owner))
        SetActiveWindow(owner);
    DeleteObject(state.Face);
    return state.Result;
}
