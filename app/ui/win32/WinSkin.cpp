#include "WinSkin.h"

#include <zlib.h>

#include <cstddef>
#include <cstring>
#include <map>
#include <set>
#include <string_view>

#include "resource_ids.h"

namespace {

constexpr std::size_t MaxSkinLength = 1u << 20;

struct TColourKey {
    const char* Key;
    COLORREF TWinSkin::*Member;
};
struct TSizeKey {
    const char* Key;
    int TWinSkin::*Member;
};

const TColourKey ColourKeys[] = {
    {"window.face", &TWinSkin::WindowFace},
    {"rail", &TWinSkin::Rail},
    {"pane.top", &TWinSkin::PaneTop},
    {"pane.bottom", &TWinSkin::PaneBottom},
    {"pane.border", &TWinSkin::PaneBorder},
    {"tab.face", &TWinSkin::TabFace},
    {"tab.selected", &TWinSkin::TabSelected},
    {"tab.marker", &TWinSkin::TabMarker},
    {"text", &TWinSkin::Text},
    {"heading", &TWinSkin::Heading},
    {"body", &TWinSkin::Body},
    {"button.text", &TWinSkin::ButtonText},
    {"button.top", &TWinSkin::ButtonTop},
    {"button.bottom", &TWinSkin::ButtonBottom},
    {"button.border", &TWinSkin::ButtonBorder},
    {"button.hover.top", &TWinSkin::ButtonHoverTop},
    {"button.hover.bottom", &TWinSkin::ButtonHoverBottom},
    {"button.pressed.top", &TWinSkin::ButtonPressedTop},
    {"button.pressed.bottom", &TWinSkin::ButtonPressedBottom},
    {"button.focus", &TWinSkin::ButtonFocus},
    {"button.disabled.text", &TWinSkin::ButtonDisabledText},
    {"button.disabled.face", &TWinSkin::ButtonDisabledFace},
    {"button.disabled.border", &TWinSkin::ButtonDisabledBorder},
    {"dialog.face", &TWinSkin::DialogFace},
    {"dialog.text", &TWinSkin::DialogText},
    {"dialog.accent", &TWinSkin::DialogAccent},
};

const TSizeKey SizeKeys[] = {
    {"tab.marker.width", &TWinSkin::TabMarkerWidth},
    {"heading.padding", &TWinSkin::HeadingPadding},
    {"button.radius", &TWinSkin::ButtonRadius},
    {"dialog.accent.height", &TWinSkin::DialogAccentHeight},
    {"dialog.button.width", &TWinSkin::DialogButtonWidth},
};

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool ParseColour(std::string_view v, COLORREF& out) {
    if (v.size() != 7 || v[0] != '#')
        return false;
    int d[6];
    for (int i = 0; i < 6; ++i) {
        d[i] = HexDigit(v[static_cast<std::size_t>(i) + 1]);
        if (d[i] < 0)
            return false;
    }
    out = RGB(d[0] * 16 + d[1], d[2] * 16 + d[3], d[4] * 16 + d[5]);
    return true;
}

bool ParseSize(std::string_view v, int& out) {
    if (v.empty() || v.size() > 3)
        return false;
    int n = 0;
    for (char c : v) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    if (n > 200)
        return false;
    out = n;
    return true;
}

} // namespace

TWinSkin SystemSkin() {
    TWinSkin s;
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const COLORREF text = GetSysColor(COLOR_BTNTEXT);
    s.WindowFace = face;
    s.Rail = face;
    s.PaneTop = face;
    s.PaneBottom = face;
    s.PaneBorder = GetSysColor(COLOR_BTNSHADOW);
    s.TabFace = face;
    s.TabSelected = GetSysColor(COLOR_HIGHLIGHT);
    s.TabMarker = GetSysColor(COLOR_HIGHLIGHT);
    s.Text = text;
    s.Heading = GetSysColor(COLOR_WINDOWTEXT);
    s.Body = text;
    s.ButtonText = text;
    s.ButtonTop = face;
    s.ButtonBottom = face;
    s.ButtonBorder = GetSysColor(COLOR_BTNSHADOW);
    s.ButtonHoverTop = face;
    s.ButtonHoverBottom = face;
    s.ButtonPressedTop = GetSysColor(COLOR_BTNSHADOW);
    s.ButtonPressedBottom = face;
    s.ButtonFocus = GetSysColor(COLOR_HIGHLIGHT);
    s.ButtonDisabledText = GetSysColor(COLOR_GRAYTEXT);
    s.ButtonDisabledFace = face;
    s.ButtonDisabledBorder = GetSysColor(COLOR_BTNSHADOW);
    s.ButtonRadius = 0;
    s.DialogFace = face;
    s.DialogText = text;
    s.DialogAccent = face;
    s.DialogAccentHeight = 0;
    return s;
}

std::optional<std::string> InflateSkin(const void* data, std::size_t size) {
    if (!data || size < 5)
        return std::nullopt;
    const auto* bytes = static_cast<const unsigned char*>(data);
    const std::size_t length = (std::size_t{bytes[0]} << 24) | (std::size_t{bytes[1]} << 16) |
                               (std::size_t{bytes[2]} << 8) | std::size_t{bytes[3]};
    if (length == 0 || length > MaxSkinLength)
        return std::nullopt;
    std::string text(length, '\0');
    uLongf outLength = static_cast<uLongf>(length);
    if (uncompress(reinterpret_cast<Bytef*>(text.data()), &outLength, bytes + 4,
                   static_cast<uLong>(size - 4)) != Z_OK ||
        outLength != length)
        return std::nullopt;
    return text;
}

bool ParseSkin(const std::string& text, TWinSkin& skin) {
    TWinSkin result = skin;
    std::set<std::string_view> seen;
    std::string_view rest(text);
    while (!rest.empty()) {
        const std::size_t eol = rest.find('\n');
        std::string_view line = Trim(rest.substr(0, eol));
        rest = eol == std::string_view::npos ? std::string_view() : rest.substr(eol + 1);
        if (line.empty() || line.front() == '#')
            continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            return false;
        const std::string_view key = Trim(line.substr(0, eq));
        const std::string_view value = Trim(line.substr(eq + 1));
        if (key.empty())
            return false;
        bool known = false;
        for (const TColourKey& k : ColourKeys) {
            if (key == k.Key) {
                if (!ParseColour(value, result.*k.Member))
                    return false;
                known = true;
            }
        }
        for (const TSizeKey& k : SizeKeys) {
            if (key == k.Key) {
                if (!ParseSize(value, result.*k.Member))
                    return false;
                known = true;
            }
        }
        if (known)
            seen.insert(key);
    }
    if (seen.size() != std::size(ColourKeys) + std::size(SizeKeys))
        return false;
    result.Loaded = true;
    skin = result;
    return true;
}

std::optional<std::string> SkinResourceText(HMODULE module) {
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(PENDOCK_SKIN), MAKEINTRESOURCEW(10));
    if (!info)
        return std::nullopt;
    HGLOBAL handle = LoadResource(module, info);
    const void* data = handle ? LockResource(handle) : nullptr;
    if (!data)
        return std::nullopt;
    return InflateSkin(data, SizeofResource(module, info));
}

TWinSkin LoadSkin(HMODULE module) {
    TWinSkin skin = SystemSkin();
    if (const auto text = SkinResourceText(module))
        ParseSkin(*text, skin);
    return skin;
}
