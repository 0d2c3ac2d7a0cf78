// Handing an address to the shell, which opens it with the user's default browser.

#include <windows.h>

#include <shellapi.h>

#include "platform/shell.h"
#include "platform/windows/wide_text.h"

namespace platform {

bool OpenInBrowser(const std::string& address) {
    const std::wstring wide = win::Widen(address);
    const HINSTANCE result =
        ::ShellExecuteW(nullptr, L"open", wide.c_str(), L"", L"", SW_SHOWMAXIMIZED);
    // Values up to 32 are error codes.
    return reinterpret_cast<INT_PTR>(result) > 32;
}

} // namespace platform
