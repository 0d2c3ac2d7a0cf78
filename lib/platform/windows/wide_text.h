#pragma once
// UTF-8 (the portable code's text) to and from UTF-16 (the Win32 and COM interfaces' text).
// Invalid sequences become U+FFFD in either direction.

#include <windows.h>

#include <string>

namespace platform::win {

inline std::wstring Widen(const std::string& text) {
    if (text.empty())
        return {};
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                              n);
    return out;
}

inline std::string Narrow(const wchar_t* text, std::size_t length) {
    if (!text || length == 0)
        return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                        nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr,
                              nullptr);
    return out;
}

inline std::string Narrow(const std::wstring& text) {
    return Narrow(text.data(), text.size());
}

} // namespace platform::win
