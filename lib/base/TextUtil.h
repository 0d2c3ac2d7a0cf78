#pragma once
// Small helpers for the ASCII text of names, keywords and addresses: letters compared and
// folded without regard to case (ASCII letters only, whatever the locale: the lower case of
// text shown to the user is platform::LowerCaseUtf8), whole texts read as numbers, and
// percent-encoding.

#include <charconv>
#include <cstddef>
#include <string>
#include <string_view>
#include <system_error>

namespace textutil {

// `c` in upper case when it is an ASCII letter, else unchanged; for any character type.
template <typename TChar> constexpr TChar UpperAscii(TChar c) {
    return c >= 'a' && c <= 'z' ? static_cast<TChar>(c - 'a' + 'A') : c;
}

// `c` in lower case when it is an ASCII letter, else unchanged; for any character type.
template <typename TChar> constexpr TChar LowerAscii(TChar c) {
    return c >= 'A' && c <= 'Z' ? static_cast<TChar>(c - 'A' + 'a') : c;
}

constexpr bool IsAsciiAlnum(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// Equal, with ASCII letters compared without regard to case.
constexpr bool IEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (UpperAscii(a[i]) != UpperAscii(b[i]))
            return false;
    return true;
}

// `text` begins with `prefix`, ASCII letters compared without regard to case.
constexpr bool IStartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && IEquals(text.substr(0, prefix.size()), prefix);
}

// The whole of `text` as a number of type T in decimal; false when it is empty, holds anything
// else or is out of T's range.
template <typename T> bool ParseInteger(std::string_view text, T& value) {
    if (text.empty())
        return false;
    const char* end = text.data() + text.size();
    const auto res = std::from_chars(text.data(), end, value);
    return res.ec == std::errc() && res.ptr == end;
}

// `text` with the byte at each position `i` for which keep(i) is false written as %XX, with
// upper-case hex digits.
template <typename TKeep> std::string PercentEncode(std::string_view text, TKeep keep) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (keep(i)) {
            out += text[i];
        } else {
            out += '%';
            out += Hex[b >> 4];
            out += Hex[b & 0x0F];
        }
    }
    return out;
}

} // namespace textutil
