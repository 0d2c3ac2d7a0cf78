#include "platform/text_case.h"

#include <windows.h>

#include "base/TextUtil.h"
#include "base/Utf8.h"

namespace platform {
namespace {

// The lower case of one code point by the system's locale-independent tables; the code point
// itself when it has none or the mapping does not give exactly one code point.
char32_t LowerOf(char32_t cp) {
    wchar_t in[2];
    int n = 0;
    if (cp >= 0x10000) {
        const char32_t v = cp - 0x10000;
        in[0] = static_cast<wchar_t>(0xD800 + (v >> 10));
        in[1] = static_cast<wchar_t>(0xDC00 + (v & 0x3FF));
        n = 2;
    } else {
        in[0] = static_cast<wchar_t>(cp);
        n = 1;
    }
    wchar_t out[4] = {};
    const int m =
        ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, in, n, out, 4, nullptr, nullptr, 0);
    if (m == 1 && !(out[0] >= 0xD800 && out[0] <= 0xDFFF))
        return out[0];
    if (m == 2 && out[0] >= 0xD800 && out[0] <= 0xDBFF && out[1] >= 0xDC00 && out[1] <= 0xDFFF)
        return 0x10000 + ((char32_t(out[0]) - 0xD800) << 10) + (char32_t(out[1]) - 0xDC00);
    return cp;
}

} // namespace

std::string LowerCaseUtf8(const std::string& text) {
    return utf8::MapCodePoints(text, [](char32_t cp) -> char32_t {
        if (cp < 0x80)
            return textutil::LowerAscii(cp);
        return LowerOf(cp);
    });
}

} // namespace platform
