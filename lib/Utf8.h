#pragma once
// UTF-8 encoding and decoding of single code points.

#include <cstddef>
#include <string>

namespace utf8 {

// Appends code point `cp` (at most U+10FFFF) to `out` as UTF-8.
inline void Append(std::string& out, char32_t cp) {
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

// Decodes the sequence at text[i] into `cp`; returns its length, 0 when it is not well-formed
// (truncated, overlong, a surrogate or above U+10FFFF).
inline std::size_t Decode(const std::string& text, std::size_t i, char32_t& cp) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b0 = byte(i);
    std::size_t len;
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
    for (std::size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    static constexpr char32_t MinOfLength[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < MinOfLength[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

// `text` with every well-formed code point replaced by `map(cp)` (which must give a code point
// that is no surrogate and at most U+10FFFF); bytes that are not well-formed UTF-8 are kept.
template <typename TMap> std::string MapCodePoints(const std::string& text, TMap map) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        const std::size_t len = Decode(text, i, cp);
        if (len == 0) {
            out += text[i];
            ++i;
            continue;
        }
        Append(out, map(cp));
        i += len;
    }
    return out;
}

} // namespace utf8
