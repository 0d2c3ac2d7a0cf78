#include "platform/TextCase.h"

#include <locale.h>
#include <wctype.h>

#include "Utf8.h"

namespace app_platform {
namespace {

locale_t Utf8Locale() {
    // Kept for the whole run: one locale object, made on first use.
    static const locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return loc;
}

} // namespace

std::string LowerCaseUtf8(const std::string& text) {
    const locale_t loc = Utf8Locale();
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        const size_t len = utf8::Decode(text, i, cp);
        if (len == 0) {
            out += text[i];
            ++i;
            continue;
        }
        char32_t lower = cp;
        if (cp < 0x80) {
            if (cp >= 'A' && cp <= 'Z')
                lower = cp + ('a' - 'A');
        } else if (loc != static_cast<locale_t>(0)) {
            const wint_t l = towlower_l(static_cast<wint_t>(cp), loc);
            if (l > 0 && l <= 0x10FFFF && !(l >= 0xD800 && l <= 0xDFFF))
                lower = static_cast<char32_t>(l);
        }
        utf8::Append(out, lower);
        i += len;
    }
    return out;
}

} // namespace app_platform
