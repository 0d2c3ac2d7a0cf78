#include "platform/TextCase.h"

#include <locale.h>
#include <wctype.h>

namespace app_platform {
namespace {

// Decodes one UTF-8 sequence at text[i]; returns its length, 0 when it is not valid.
size_t DecodeUtf8(const std::string& text, size_t i, char32_t& cp) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b0 = byte(i);
    size_t len;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        len = 2;
        cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3;
        cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4;
        cp = b0 & 0x07;
    } else {
        return 0;
    }
    if (i + len > text.size())
        return 0;
    for (size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    static constexpr char32_t MinOfLength[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < MinOfLength[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

void EncodeUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

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
        const size_t len = DecodeUtf8(text, i, cp);
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
        EncodeUtf8(lower, out);
        i += len;
    }
    return out;
}

} // namespace app_platform
