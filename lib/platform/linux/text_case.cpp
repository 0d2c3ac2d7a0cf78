#include "platform/text_case.h"

#include <locale.h>
#include <wctype.h>

#include "base/TextUtil.h"
#include "base/Utf8.h"

namespace platform {
namespace {

locale_t Utf8Locale() {
    // Kept for the whole run: one locale object, made on first use.
    static const locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return loc;
}

} // namespace

std::string LowerCaseUtf8(const std::string& text) {
    const locale_t loc = Utf8Locale();
    return utf8::MapCodePoints(text, [loc](char32_t cp) -> char32_t {
        if (cp < 0x80)
            return textutil::LowerAscii(cp);
        if (loc == static_cast<locale_t>(0))
            return cp;
        const wint_t l = towlower_l(static_cast<wint_t>(cp), loc);
        return l > 0 && l <= 0x10FFFF && !(l >= 0xD800 && l <= 0xDFFF) ? static_cast<char32_t>(l)
                                                                       : cp;
    });
}

} // namespace platform
