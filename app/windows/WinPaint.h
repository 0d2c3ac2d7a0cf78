#pragma once
// Drawing shared by the wizard window and its message dialog: gradients, the skinned
// owner-drawn buttons (with their hover state) and fonts by the resource's font table.

#include <windows.h>

#include <functional>

#include "WinSkin.h"
#include "WizardResource.h"

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
HFONT CreateSpecFont(const wizard_resource::TFontSpec& spec, UINT dpi);

// `value` pixels at 96 DPI in pixels at `dpi`.
inline int ScaleToDpi(int value, UINT dpi) {
    return MulDiv(value, static_cast<int>(dpi ? dpi : 96), 96);
}
