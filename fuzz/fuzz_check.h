#pragma once
// What the fuzz targets share: a property check that stops the run with the failing input,
// and small helpers to state properties with.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// A property that does not hold is a finding: libFuzzer keeps the input that broke it.
#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "%s:%d: property does not hold: %s\n", __FILE__, __LINE__,        \
                         #cond);                                                                   \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace fuzz {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
inline bool IsUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t len = b < 0x80                 ? 1
                          : b >= 0xC2 && b <= 0xDF ? 2
                          : b >= 0xE0 && b <= 0xEF ? 3
                          : b >= 0xF0 && b <= 0xF4 ? 4
                                                   : 0;
        if (len == 0 || i + len > s.size())
            return false;
        for (std::size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        const auto b1 = static_cast<unsigned char>(len > 1 ? s[i + 1] : 0);
        if ((b == 0xE0 && b1 < 0xA0) || (b == 0xED && b1 > 0x9F) || (b == 0xF0 && b1 < 0x90) ||
            (b == 0xF4 && b1 > 0x8F))
            return false;
        i += len;
    }
    return true;
}

// The code points of valid UTF-8 text.
inline std::u32string CodePoints(std::string_view s) {
    std::u32string out;
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const std::size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        char32_t c = len == 1 ? b : len == 2 ? b & 0x1F : len == 3 ? b & 0x0F : b & 0x07;
        for (std::size_t k = 1; k < len; ++k)
            c = c << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        out += c;
        i += len;
    }
    return out;
}

inline void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// A Unicode scalar value (no surrogate, at most U+10FFFF) made from any 32 bits.
inline char32_t ScalarFrom(std::uint32_t bits) {
    char32_t c = bits % 0x110000;
    return c >= 0xD800 && c <= 0xDFFF ? c - 0x800 : c;
}

} // namespace fuzz
