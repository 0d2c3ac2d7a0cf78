#pragma once
// UTF-8 encoding and decoding of single code points.

#include <cstddef>
#include <string>
#include <string_view>

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

// Length of the well-formed sequence at text[i]; 0 when it is not well-formed (a stray
// continuation byte, an overlong form, a surrogate, above U+10FFFF, or cut off by the end of
// `text`). `incomplete` tells the last case apart: the bytes up to the end of `text` are a
// well-formed beginning of a sequence that runs past it.
inline std::size_t SequenceLength(std::string_view text, std::size_t i, bool& incomplete) {
    incomplete = false;
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80)
        return 1;
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        if (b == 0xE0)
            lo = 0xA0; // no overlong forms
        else if (b == 0xED)
            hi = 0x9F; // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        if (b == 0xF0)
            lo = 0x90;
        else if (b == 0xF4)
            hi = 0x8F; // nothing above U+10FFFF
    } else {
        return 0;
    }
    for (std::size_t k = 1; k < len; ++k) {
        if (i + k >= text.size()) {
            incomplete = true;
            return 0;
        }
        const auto c = static_cast<unsigned char>(text[i + k]);
        if (c < (k == 1 ? lo : 0x80) || c > (k == 1 ? hi : 0xBF))
            return 0;
    }
    return len;
}

inline std::size_t SequenceLength(std::string_view text, std::size_t i) {
    bool incomplete = false;
    return SequenceLength(text, i, incomplete);
}

// Decodes the sequence at text[i] into `cp`; returns its length, 0 when it is not well-formed
// (as SequenceLength).
inline std::size_t Decode(std::string_view text, std::size_t i, char32_t& cp) {
    const std::size_t len = SequenceLength(text, i);
    if (len == 0)
        return 0;
    static constexpr unsigned char LeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    cp = static_cast<unsigned char>(text[i]) & LeadBits[len];
    for (std::size_t k = 1; k < len; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
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
