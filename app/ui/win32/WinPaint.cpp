#include "WinPaint.h"

#include <commctrl.h>

#include <string>

#include "WizardTextLayout.h"
#include "platform/windows/wide_text.h"

namespace {

const wchar_t* const HoverProperty = L"PendockHover";

LRESULT CALLBACK HoverProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR) {
    switch (msg) {
    case WM_MOUSEMOVE:
        if (!GetPropW(hwnd, HoverProperty)) {
            SetPropW(hwnd, HoverProperty, reinterpret_cast<HANDLE>(1));
            TRACKMOUSEEVENT t{sizeof(t), TME_LEAVE, hwnd, 0};
            TrackMouseEvent(&t);
            InvalidateRect(hwnd, nullptr, FALSE);
        }
        break;
    case WM_MOUSELEAVE:
        RemovePropW(hwnd, HoverProperty);
        InvalidateRect(hwnd, nullptr, FALSE);
        break;
    case WM_NCDESTROY:
        RemovePropW(hwnd, HoverProperty);
        RemoveWindowSubclass(hwnd, HoverProc, id);
        break;
    default:
        break;
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}

} // namespace

std::wstring ControlText(const std::string& text) {
    const std::wstring w = platform::win::Widen(text);
    std::wstring out;
    out.reserve(w.size() + 8);
    for (std::size_t i = 0; i < w.size(); ++i) {
        if (w[i] == L'\r') {
            out += L"\r\n";
            if (i + 1 < w.size() && w[i + 1] == L'\n')
                ++i;
        } else if (w[i] == L'\n') {
            out += L"\r\n";
        } else {
            out += w[i];
        }
    }
    return out;
}

std::wstring WindowText(HWND hwnd) {
    const int n = GetWindowTextLengthW(hwnd);
    std::wstring s(static_cast<std::size_t>(n > 0 ? n : 0) + 1, L'\0');
    const int got = GetWindowTextW(hwnd, s.data(), n + 1);
    s.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return s;
}

TOffscreen::TOffscreen(HDC target, int width, int height)
    : FTarget(target), FMem(CreateCompatibleDC(target)), FWidth(width > 0 ? width : 1),
      FHeight(height > 0 ? height : 1) {
    FBitmap = CreateCompatibleBitmap(target, FWidth, FHeight);
    FOldBitmap = SelectObject(FMem, FBitmap);
}

TOffscreen::~TOffscreen() {
    SelectObject(FMem, FOldBitmap);
    DeleteObject(FBitmap);
    DeleteDC(FMem);
}

void TOffscreen::Present(int x, int y) const {
    BitBlt(FTarget, x, y, FWidth, FHeight, FMem, 0, 0, SRCCOPY);
}

std::vector<std::wstring> WrapForDc(HDC dc, const std::wstring& text, int width) {
    std::wstring plain;
    plain.reserve(text.size());
    for (wchar_t c : text) {
        if (c != L'\r')
            plain += c;
    }
    return wizard_layout::WrapLines(plain, width, [dc](const std::wstring& line) {
        SIZE size{};
        GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &size);
        return static_cast<int>(size.cx);
    });
}

int LineHeight(HDC dc) {
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    return static_cast<int>(tm.tmHeight);
}

void DrawLines(HDC dc, const std::vector<std::wstring>& lines, const RECT& box, bool centred) {
    const int step = LineHeight(dc);
    RECT line{box.left, box.top, box.right, box.top + step};
    for (const std::wstring& text : lines) {
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &line,
                  (centred ? DT_CENTER : DT_LEFT) | DT_SINGLELINE | DT_NOPREFIX | DT_EXPANDTABS);
        OffsetRect(&line, 0, step);
    }
}

void FillSolid(HDC dc, const RECT& rc, COLORREF colour) {
    const TBrushOwner brush(CreateSolidBrush(colour));
    FillRect(dc, &rc, brush.get());
}

void FillVerticalGradient(HDC dc, const RECT& rc, COLORREF top, COLORREF bottom) {
    TRIVERTEX v[2] = {
        {rc.left, rc.top, static_cast<COLOR16>(GetRValue(top) << 8),
         static_cast<COLOR16>(GetGValue(top) << 8), static_cast<COLOR16>(GetBValue(top) << 8), 0},
        {rc.right, rc.bottom, static_cast<COLOR16>(GetRValue(bottom) << 8),
         static_cast<COLOR16>(GetGValue(bottom) << 8), static_cast<COLOR16>(GetBValue(bottom) << 8),
         0},
    };
    GRADIENT_RECT r{0, 1};
    GradientFill(dc, v, 2, &r, 1, GRADIENT_FILL_RECT_V);
}

void TrackButtonHover(HWND button) {
    SetWindowSubclass(button, HoverProc, 1, 0);
}

bool ButtonHovered(HWND button) {
    return GetPropW(button, HoverProperty) != nullptr;
}

void DrawSkinButton(const DRAWITEMSTRUCT& item, const TWinSkin& skin,
                    const std::function<void(HDC, const RECT&)>& background) {
    const RECT rc = item.rcItem;
    const int w = rc.right - rc.left;
    const int h = rc.bottom - rc.top;
    if (w <= 0 || h <= 0)
        return;
    const bool pressed = item.itemState & ODS_SELECTED;
    const bool focused = item.itemState & ODS_FOCUS;
    const bool disabled = item.itemState & ODS_DISABLED;
    const bool hover = ButtonHovered(item.hwndItem);
    const UINT dpi = GetDpiForWindow(item.hwndItem);

    const TOffscreen offscreen(item.hDC, w, h);
    HDC mem = offscreen.DC();
    const RECT local{0, 0, w, h};
    HGDIOBJ oldFont =
        SelectObject(mem, reinterpret_cast<HFONT>(SendMessageW(item.hwndItem, WM_GETFONT, 0, 0)));

    COLORREF textColour;
    if (skin.Loaded) {
        if (background)
            background(mem, local);
        else
            FillRect(mem, &local, GetSysColorBrush(COLOR_BTNFACE));
        const int d = 2 * ScaleToDpi(skin.ButtonRadius, dpi);
        const TGdiOwner<HRGN> shape(CreateRoundRectRgn(0, 0, w + 1, h + 1, d, d));
        SelectClipRgn(mem, shape.get());
        if (disabled) {
            FillSolid(mem, local, skin.ButtonDisabledFace);
        } else if (pressed) {
            FillVerticalGradient(mem, local, skin.ButtonPressedTop, skin.ButtonPressedBottom);
        } else if (hover) {
            FillVerticalGradient(mem, local, skin.ButtonHoverTop, skin.ButtonHoverBottom);
        } else {
            FillVerticalGradient(mem, local, skin.ButtonTop, skin.ButtonBottom);
        }
        SelectClipRgn(mem, nullptr);
        const COLORREF edge = disabled  ? skin.ButtonDisabledBorder
                              : focused ? skin.ButtonFocus
                                        : skin.ButtonBorder;
        // The focus shows as a wider edge, whether or not the keyboard has been used yet.
        const int edgeWidth = focused && !disabled ? ScaleToDpi(2, dpi) : 1;
        const TBrushOwner edgeBrush(CreateSolidBrush(edge));
        FrameRgn(mem, shape.get(), edgeBrush.get(), edgeWidth, edgeWidth);
        textColour = disabled ? skin.ButtonDisabledText : skin.ButtonText;
    } else {
        FillRect(mem, &local, GetSysColorBrush(COLOR_BTNFACE));
        RECT frame = local;
        DrawFrameControl(mem, &frame, DFC_BUTTON, DFCS_BUTTONPUSH | (pressed ? DFCS_PUSHED : 0));
        textColour = GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT);
        if (focused) {
            RECT f = local;
            InflateRect(&f, -3, -3);
            DrawFocusRect(mem, &f);
        }
    }

    RECT text = local;
    if (pressed)
        OffsetRect(&text, 0, 1);
    SetBkMode(mem, TRANSPARENT);
    SetTextColor(mem, textColour);
    const std::wstring caption = WindowText(item.hwndItem);
    UINT format = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
    if (item.itemState & ODS_NOACCEL)
        format |= DT_HIDEPREFIX;
    DrawTextW(mem, caption.c_str(), static_cast<int>(caption.size()), &text, format);

    offscreen.Present(rc.left, rc.top);
    SelectObject(mem, oldFont);
}

HFONT CreateTableFont(const wizard_resource::TFontSpec& font, UINT dpi) {
    const int px = ScaleToDpi(font.Pixels, dpi);
    return CreateFontW(font.CellHeight ? px : -px, 0, 0, 0, font.Bold ? FW_BOLD : FW_NORMAL, FALSE,
                       FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                       CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                       platform::win::Widen(font.Family).c_str());
}
