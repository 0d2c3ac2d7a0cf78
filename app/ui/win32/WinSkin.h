#pragma once
// The skin of the Win32 window: colours and sizes read from a small "key = value" description
// that the resource stores zlib-compressed (4 bytes of uncompressed length, most significant
// first, then the zlib stream). A skin that is missing or damaged gives way to the system's
// own colours.

#include <windows.h>

#include <optional>
#include <string>

struct TWinSkin {
    // True when the colours come from the skin; false: the system's colours.
    bool Loaded = false;

    COLORREF WindowFace = 0;
    COLORREF Rail = 0;
    COLORREF PaneTop = 0;
    COLORREF PaneBottom = 0;
    COLORREF PaneBorder = 0;
    COLORREF TabFace = 0;
    COLORREF TabSelected = 0;
    COLORREF TabMarker = 0;
    int TabMarkerWidth = 5;

    COLORREF Text = 0;
    COLORREF Heading = 0;
    int HeadingPadding = 12;
    COLORREF Body = 0;

    COLORREF ButtonText = 0;
    COLORREF ButtonTop = 0;
    COLORREF ButtonBottom = 0;
    COLORREF ButtonBorder = 0;
    COLORREF ButtonHoverTop = 0;
    COLORREF ButtonHoverBottom = 0;
    COLORREF ButtonPressedTop = 0;
    COLORREF ButtonPressedBottom = 0;
    COLORREF ButtonFocus = 0;
    COLORREF ButtonDisabledText = 0;
    COLORREF ButtonDisabledFace = 0;
    COLORREF ButtonDisabledBorder = 0;
    int ButtonRadius = 5;

    COLORREF DialogFace = 0;
    COLORREF DialogText = 0;
    COLORREF DialogAccent = 0;
    int DialogAccentHeight = 3;
    int DialogButtonWidth = 72;
};

// The system's colours in every place of the skin (Loaded false).
TWinSkin SystemSkin();

// Inflates a packed skin; nothing when the data is too short, the stream is damaged or its
// length differs from the one recorded. Lengths above 1 MiB are refused.
std::optional<std::string> InflateSkin(const void* data, std::size_t size);

// Reads a skin description into `skin` (Loaded true). Blank lines and lines starting with '#'
// are skipped; unknown keys are ignored. False, leaving `skin` untouched, when a line is not
// "key = value", a value does not suit its key (colours #rrggbb, sizes 0 to 200) or a known
// key is missing.
bool ParseSkin(const std::string& text, TWinSkin& skin);

// The packed skin stored in `module`'s resource, inflated.
std::optional<std::string> SkinResourceText(HMODULE module);

// The skin from `module`'s resource, or SystemSkin() when it is missing or damaged.
TWinSkin LoadSkin(HMODULE module);
