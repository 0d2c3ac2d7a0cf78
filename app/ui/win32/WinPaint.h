#pragma once
// Drawing shared by the wizard window and its message dialog: gradients, the skinned
// owner-drawn buttons (with their hover state), fonts by the resource's font table and the
// window classes they all register.

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "WinSkin.h"
#include "WizardResource.h"

// Owns a GDI object (a font, a brush, a region) and deletes it with the owner.
struct TGdiObjectDeleter {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
template <class THandle>
using TGdiOwner = std::unique_ptr<std::remove_pointer_t<THandle>, TGdiObjectDeleter>;
using TFontOwner = TGdiOwner<HFONT>;
using TBrushOwner = TGdiOwner<HBRUSH>;

// Owns an icon made by LoadImage (not a shared one) and destroys it with the owner.
struct TIconDeleter {
    void operator()(HICON icon) const { DestroyIcon(icon); }
};
using TIconOwner = std::unique_ptr<std::remove_pointer_t<HICON>, TIconDeleter>;

// Fills `rc` with a solid `colour`.
void FillSolid(HDC dc, const RECT& rc, COLORREF colour);

// `text` (UTF-8) as a static control shows it: every line break (CR, LF or CR LF) as CR LF.
std::wstring ControlText(const std::string& text);

// The window's text.
std::wstring WindowText(HWND hwnd);

// A bitmap of width x height (at least 1 x 1) compatible with `target`, drawn into through DC()
// and copied to `target` by Present(), so that a control reaches the screen in one piece.
// Freed with the object.
class TOffscreen {
public:
    TOffscreen(HDC target, int width, int height);
    ~TOffscreen();
    TOffscreen(const TOffscreen&) = delete;
    TOffscreen& operator=(const TOffscreen&) = delete;

    HDC DC() const { return FMem; }
    // Copies the whole bitmap to `target` at (x, y).
    void Present(int x, int y) const;

private:
    HDC FTarget;
    HDC FMem;
    HBITMAP FBitmap;
    HGDIOBJ FOldBitmap;
    int FWidth;
    int FHeight;
};

// `text` in the lines it takes at `width` on `dc` with its selected font, broken as every text of
// the window is (wizard_layout::WrapLines); CR LF counts as one line break.
std::vector<std::wstring> WrapForDc(HDC dc, const std::wstring& text, int width);
// The distance between two lines of the font selected into `dc`.
int LineHeight(HDC dc);
// Draws `lines` one under the other from the top of `box`, centred in it or from its left.
void DrawLines(HDC dc, const std::vector<std::wstring>& lines, const RECT& box, bool centred);

// A vertical gradient from `top` to `bottom` over `rc`.
void FillVerticalGradient(HDC dc, const RECT& rc, COLORREF top, COLORREF bottom);

// Makes an owner-drawn button repaint when the mouse enters or leaves it.
void TrackButtonHover(HWND button);
bool ButtonHovered(HWND button);

// Draws an owner-drawn push button in the skin's look (its state from `item`); `background`
// fills what lies behind its rounded corners.
void DrawSkinButton(const DRAWITEMSTRUCT& item, const TWinSkin& skin,
                    const std::function<void(HDC, const RECT&)>& background);

// A font of the resource's font table at `dpi`: a negative height for a character height, a
// positive one for a cell height.
HFONT CreateTableFont(const wizard_resource::TFontSpec& font, UINT dpi);

// A window class of this program, drawn by `proc`, with the arrow cursor: what all of the
// window's and dialog's classes share. Callers set the rest (icon, extra bytes) and register it.
inline WNDCLASSEXW ProgramWindowClass(WNDPROC proc, const wchar_t* name) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = name;
    return wc;
}

// `value` pixels at 96 DPI in pixels at `dpi`.
inline int ScaleToDpi(int value, UINT dpi) {
    return MulDiv(value, static_cast<int>(dpi ? dpi : 96), 96);
}
