// Drives a Windows program from outside, for the end-to-end test under Wine: finds its windows
// by class, reads the texts of their controls, presses buttons, sends the device-change message
// and adds or removes drive letters through Wine's mount manager.
//
//   e2e_driver add-drive L: UNIXPATH        a removable drive L: over the Unix folder UNIXPATH
//   e2e_driver remove-drive L:              takes the letter away again
//   e2e_driver drives                       the letters present, such as "CEZ"
//   e2e_driver wait-window CLASS SECONDS    prints the handle of the first visible top-level
//                                           window of CLASS once there is one
//   e2e_driver wait-gone CLASS SECONDS      returns once no visible window of CLASS is left
//   e2e_driver max-count CLASS SECONDS      prints "watching", then, SECONDS later, the most
//                                           top-level windows of CLASS (shown or not) seen
//                                           at one time
//   e2e_driver window-texts CLASS           the window and its controls, one a line:
//                                           kind, handle, visible, enabled, id, class, text
//   e2e_driver click CLASS ID               presses the control ID of the window of CLASS
//   e2e_driver click-hwnd HANDLE            presses the control with that handle
//   e2e_driver device-change CLASS L:       sends WM_DEVICECHANGE (a volume L: arrived)
//   e2e_driver close CLASS                  posts WM_CLOSE to the window of CLASS
//   e2e_driver record-url FILE URL          appends URL and a line break to FILE: the test's
//                                           handler of http addresses
//
// Texts are printed in UTF-8; a line break inside a text is printed as the two characters \n
// and a tab as \t, so that every control takes exactly one line. Exit code 0: done, 1: the
// step failed (the reason on stderr), 2: wrong arguments.

// windows.h first: the other system headers build on it.
#include <windows.h>

#include <dbt.h>
#include <shellapi.h>
#include <winioctl.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <string>
#include <thread>
#include <vector>

namespace {

// Wine's own extension of the mount manager's interface: a drive letter defined over a Unix
// folder. The strings behind the structure are Unix (UTF-8) strings; offsets count from its
// first byte. A type of DRIVE_NO_ROOT_DIR removes the letter.
constexpr DWORD MountMgrControlType = 0x6D; // 'm'
constexpr DWORD IoctlDefineUnixDrive =
    CTL_CODE(MountMgrControlType, 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
constexpr const wchar_t* MountManager = L"\\\\.\\MountPointManager";

struct TMountMgrUnixDrive {
    ULONG size;
    ULONG type;
    ULONG fs_type;
    DWORD serial;
    ULONGLONG unix_dev;
    WCHAR letter;
    USHORT mount_point_offset;
    USHORT device_offset;
    USHORT label_offset;
};
static_assert(sizeof(TMountMgrUnixDrive) == 32, "layout of Wine's mount manager request");

int Fail(const std::string& message) {
    std::fprintf(stderr, "e2e_driver: %s\n", message.c_str());
    return 1;
}

int Usage() {
    std::fprintf(stderr, "e2e_driver: wrong arguments (see the head of e2e_driver.cpp)\n");
    return 2;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty())
        return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

std::string LastError() {
    return "error " + std::to_string(GetLastError());
}

// Written with WriteFile so that the C runtime adds no carriage returns.
void Print(const std::string& line) {
    std::string out = line + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out.data(), static_cast<DWORD>(out.size()), &written,
              nullptr);
}

// One line per text: CR LF, a lone LF or a lone CR become \n, a tab becomes \t.
std::string OneLine(const std::wstring& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c == L'\r') {
            if (i + 1 < text.size() && text[i + 1] == L'\n')
                ++i;
            out += L"\\n";
        } else if (c == L'\n') {
            out += L"\\n";
        } else if (c == L'\t') {
            out += L"\\t";
        } else {
            out += c;
        }
    }
    return Utf8(out);
}

std::wstring TextOf(HWND w) {
    // WM_GETTEXT through the window's own procedure: also works across processes.
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(w, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 3000, &length))
        return {};
    std::vector<wchar_t> buffer(length + 2, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(w, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                        SMTO_ABORTIFHUNG, 3000, &copied);
    return std::wstring(buffer.data(), std::min<size_t>(copied, length));
}

std::wstring ClassOf(HWND w) {
    wchar_t name[256] = {};
    GetClassNameW(w, name, 256);
    return name;
}

std::string Handle(HWND w) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(w)));
    return text;
}

bool ParseHandle(const std::wstring& text, HWND& w) {
    wchar_t* end = nullptr;
    unsigned long long v = std::wcstoull(text.c_str(), &end, 0);
    if (text.empty() || *end != L'\0' || v == 0)
        return false;
    w = reinterpret_cast<HWND>(static_cast<uintptr_t>(v));
    return IsWindow(w) != FALSE;
}

bool ParseSeconds(const std::wstring& text, double& seconds) {
    wchar_t* end = nullptr;
    seconds = std::wcstod(text.c_str(), &end);
    return !text.empty() && *end == L'\0' && seconds >= 0;
}

// "E:" or "E" -> L'E'; 0 when it is not a letter C to Z.
wchar_t ParseLetter(const std::wstring& text) {
    if (text.empty() || text.size() > 2 || (text.size() == 2 && text[1] != L':'))
        return 0;
    wchar_t c = static_cast<wchar_t>(std::towupper(text[0]));
    return (c >= L'C' && c <= L'Z') ? c : 0;
}

std::vector<HWND> TopLevelOfClass(const std::wstring& cls, bool visibleOnly) {
    struct Search {
        const std::wstring* cls;
        bool visibleOnly;
        std::vector<HWND> found;
    } s{&cls, visibleOnly, {}};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            if (ClassOf(w) == *s->cls && (!s->visibleOnly || IsWindowVisible(w)))
                s->found.push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND FindVisible(const std::wstring& cls) {
    std::vector<HWND> found = TopLevelOfClass(cls, true);
    return found.empty() ? nullptr : found.front();
}

std::vector<HWND> Descendants(HWND parent) {
    std::vector<HWND> found;
    EnumChildWindows(
        parent,
        [](HWND w, LPARAM p) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(p)->push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

using Clock = std::chrono::steady_clock;

Clock::time_point Deadline(double seconds) {
    return Clock::now() + std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
}

void Pause() {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

// ---- Drive letters ------------------------------------------------------------------------------

HANDLE OpenMountManager() {
    return CreateFileW(MountManager, GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

bool DriveExists(wchar_t letter) {
    return (GetLogicalDrives() >> (letter - L'A')) & 1u;
}

std::string DriveLetters() {
    std::string letters;
    DWORD mask = GetLogicalDrives();
    for (int i = 0; i < 26; ++i)
        if (mask & (1u << i))
            letters += static_cast<char>('A' + i);
    return letters;
}

// Defines (unixPath given) or removes (empty unixPath) the letter; waits until the letter
// mask agrees.
int DefineDrive(wchar_t letter, const std::string& unixPath) {
    HANDLE manager = OpenMountManager();
    if (manager == INVALID_HANDLE_VALUE)
        return Fail("cannot open the mount manager: " + LastError());
    std::vector<char> request(sizeof(TMountMgrUnixDrive) + unixPath.size() + 1, '\0');
    auto* r = reinterpret_cast<TMountMgrUnixDrive*>(request.data());
    r->size = static_cast<ULONG>(request.size());
    r->letter = static_cast<WCHAR>(std::towlower(letter));
    if (unixPath.empty()) {
        r->type = DRIVE_NO_ROOT_DIR;
    } else {
        r->type = DRIVE_REMOVABLE;
        r->mount_point_offset = sizeof(TMountMgrUnixDrive);
        std::copy(unixPath.begin(), unixPath.end(), request.begin() + sizeof(TMountMgrUnixDrive));
    }
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(manager, IoctlDefineUnixDrive, request.data(),
                              static_cast<DWORD>(request.size()), nullptr, 0, &returned, nullptr);
    std::string error = LastError();
    CloseHandle(manager);
    std::string what = std::string(1, static_cast<char>(letter)) + ":";
    if (!ok)
        return Fail("the mount manager refused " + what + ": " + error);
    bool wanted = !unixPath.empty();
    auto until = Deadline(5);
    while (DriveExists(letter) != wanted) {
        if (Clock::now() > until)
            return Fail(what + (wanted ? " did not appear" : " did not go away") +
                        " in the drive mask (" + DriveLetters() + ")");
        Pause();
    }
    if (wanted) {
        if (GetDriveTypeW((std::wstring(1, letter) + L":\\").c_str()) != DRIVE_REMOVABLE)
            return Fail(what + " is not a removable drive");
        Print(what + " -> " + unixPath);
    } else {
        Print(what + " removed");
    }
    return 0;
}

// ---- Windows ------------------------------------------------------------------------------------

int WaitWindow(const std::wstring& cls, double seconds) {
    auto until = Deadline(seconds);
    for (;;) {
        if (HWND w = FindVisible(cls)) {
            Print(Handle(w));
            return 0;
        }
        if (Clock::now() > until)
            return Fail("no visible window of class " + Utf8(cls) + " within " +
                        std::to_string(seconds) + " s");
        Pause();
    }
}

int WaitGone(const std::wstring& cls, double seconds) {
    auto until = Deadline(seconds);
    while (FindVisible(cls)) {
        if (Clock::now() > until)
            return Fail("a window of class " + Utf8(cls) + " is still shown after " +
                        std::to_string(seconds) + " s");
        Pause();
    }
    return 0;
}

int MaxCount(const std::wstring& cls, double seconds) {
    auto until = Deadline(seconds);
    size_t most = 0;
    Print("watching"); // the caller may start what is to be watched
    do {
        most = std::max(most, TopLevelOfClass(cls, false).size());
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (Clock::now() < until);
    Print(std::to_string(most));
    return 0;
}

std::string Describe(const char* kind, HWND w) {
    return std::string(kind) + "\t" + Handle(w) + "\t" + (IsWindowVisible(w) ? "1" : "0") + "\t" +
           (IsWindowEnabled(w) ? "1" : "0") + "\t" + std::to_string(GetDlgCtrlID(w)) + "\t" +
           Utf8(ClassOf(w)) + "\t" + OneLine(TextOf(w));
}

int WindowTexts(const std::wstring& cls) {
    HWND w = FindVisible(cls);
    if (!w)
        return Fail("no visible window of class " + Utf8(cls));
    Print(Describe("window", w));
    for (HWND c : Descendants(w))
        Print(Describe("child", c));
    return 0;
}

// Buttons get BM_CLICK, which presses and releases them as the mouse would; any other control
// stands for its parent's command. Posted, so that a handler that opens a modal dialog does not
// hold this program.
int Press(HWND control) {
    if (!IsWindowVisible(control))
        return Fail("control " + Handle(control) + " is not visible");
    if (!IsWindowEnabled(control))
        return Fail("control " + Handle(control) + " is disabled");
    BOOL ok;
    if (_wcsicmp(ClassOf(control).c_str(), L"Button") == 0) {
        ok = PostMessageW(control, BM_CLICK, 0, 0);
    } else {
        int id = GetDlgCtrlID(control);
        ok = PostMessageW(GetParent(control), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                          reinterpret_cast<LPARAM>(control));
    }
    if (!ok)
        return Fail("cannot post the click: " + LastError());
    return 0;
}

int Click(const std::wstring& cls, int id) {
    HWND w = FindVisible(cls);
    if (!w)
        return Fail("no visible window of class " + Utf8(cls));
    for (HWND c : Descendants(w))
        if (GetDlgCtrlID(c) == id && IsWindowVisible(c))
            return Press(c);
    return Fail("the window of class " + Utf8(cls) + " has no visible control " +
                std::to_string(id));
}

int DeviceChange(const std::wstring& cls, wchar_t letter) {
    HWND w = FindVisible(cls);
    if (!w)
        return Fail("no visible window of class " + Utf8(cls));
    DEV_BROADCAST_VOLUME volume{};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = 1u << (letter - L'A');
    // The message carries a pointer, so it can only be sent (Wine copies the volume record to
    // the receiving process); the wizard's handler only starts a timer.
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(w, WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                             reinterpret_cast<LPARAM>(&volume), SMTO_ABORTIFHUNG, 10000, &result))
        return Fail("WM_DEVICECHANGE not delivered: " + LastError());
    return 0;
}

int Close(const std::wstring& cls) {
    HWND w = FindVisible(cls);
    if (!w)
        return Fail("no visible window of class " + Utf8(cls));
    if (!PostMessageW(w, WM_CLOSE, 0, 0))
        return Fail("cannot post WM_CLOSE: " + LastError());
    return 0;
}

// Appends the address to the file, as the browser would receive it, in UTF-8.
int RecordUrl(const std::wstring& file, const std::wstring& url) {
    FILE* out = _wfopen(file.c_str(), L"ab");
    if (!out)
        return Fail("cannot open " + Utf8(file));
    const std::string line = Utf8(url) + "\n";
    const bool written = std::fwrite(line.data(), 1, line.size(), out) == line.size();
    return std::fclose(out) == 0 && written ? 0 : Fail("cannot write " + Utf8(file));
}

int Run(const std::vector<std::wstring>& a) {
    if (a.empty())
        return Usage();
    const std::wstring& cmd = a[0];
    double seconds = 0;
    if (cmd == L"add-drive" && a.size() == 3) {
        wchar_t letter = ParseLetter(a[1]);
        if (!letter || a[2].empty() || a[2][0] != L'/')
            return Usage();
        return DefineDrive(letter, Utf8(a[2]));
    }
    if (cmd == L"remove-drive" && a.size() == 2) {
        wchar_t letter = ParseLetter(a[1]);
        if (!letter)
            return Usage();
        return DefineDrive(letter, {});
    }
    if (cmd == L"drives" && a.size() == 1) {
        Print(DriveLetters());
        return 0;
    }
    if (cmd == L"wait-window" && a.size() == 3 && ParseSeconds(a[2], seconds))
        return WaitWindow(a[1], seconds);
    if (cmd == L"wait-gone" && a.size() == 3 && ParseSeconds(a[2], seconds))
        return WaitGone(a[1], seconds);
    if (cmd == L"max-count" && a.size() == 3 && ParseSeconds(a[2], seconds))
        return MaxCount(a[1], seconds);
    if (cmd == L"window-texts" && a.size() == 2)
        return WindowTexts(a[1]);
    if (cmd == L"click" && a.size() == 3) {
        wchar_t* end = nullptr;
        long id = std::wcstol(a[2].c_str(), &end, 10);
        if (a[2].empty() || *end != L'\0')
            return Usage();
        return Click(a[1], static_cast<int>(id));
    }
    if (cmd == L"click-hwnd" && a.size() == 2) {
        HWND w = nullptr;
        if (!ParseHandle(a[1], w))
            return Fail("no window with handle " + Utf8(a[1]));
        return Press(w);
    }
    if (cmd == L"device-change" && a.size() == 3) {
        wchar_t letter = ParseLetter(a[2]);
        if (!letter)
            return Usage();
        return DeviceChange(a[1], letter);
    }
    if (cmd == L"close" && a.size() == 2)
        return Close(a[1]);
    if (cmd == L"record-url" && a.size() == 3)
        return RecordUrl(a[1], a[2]);
    return Usage();
}

} // namespace

int main() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    LocalFree(argv);
    return Run(args);
}
