#include "platform/program_folder.h"

#include <windows.h>

#include <string>

#include "platform/windows/wide_text.h"

namespace platform {

std::string GetProgramFolder() {
    // The call does not say how long the path is; grow the buffer until it fits (paths with
    // the \\?\ prefix may be up to 32767 characters).
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0)
            return {};
        if (n < buf.size()) {
            buf.resize(n);
            break;
        }
        // Cut short: n equals the buffer's size.
        if (buf.size() >= 65536)
            return {};
        buf.resize(buf.size() * 2);
    }
    const auto sep = buf.find_last_of(L"\\/");
    if (sep == std::wstring::npos)
        return {};
    return platform::win::Narrow(buf.data(), sep + 1);
}

} // namespace platform
