// The shell's open, the program's folder and the lower case of the Windows layer.

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/program_folder.h"
#include "platform/shell.h"
#include "platform/text_case.h"
#include "platform/windows/wide_text.h"

namespace {

using platform::win::Narrow;
using platform::win::Widen;

// The Windows name of a file of the Unix root, which Wine puts on Z:.
std::wstring DosPath(const std::string& unixPath) {
    std::string out = "Z:" + unixPath;
    for (char& c : out)
        if (c == '/')
            c = '\\';
    return Widen(out);
}

std::string ReadAll(const std::wstring& path) {
    const HANDLE f = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return {};
    std::string text;
    char buf[4096];
    DWORD got = 0;
    while (::ReadFile(f, buf, sizeof buf, &got, nullptr) && got > 0)
        text.append(buf, got);
    ::CloseHandle(f);
    return text;
}

// Points Wine's browser launcher at the recording stand-in for as long as it lives, and puts
// the launcher's previous setting back afterwards.
class FakeBrowser {
public:
    FakeBrowser() {
        ::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\WineBrowser", 0, nullptr, 0,
                          KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &FKey, nullptr);
        if (!FKey)
            return;
        wchar_t old[1024];
        DWORD size = sizeof old;
        DWORD type = 0;
        FHadOld = ::RegQueryValueExW(FKey, L"Browsers", nullptr, &type,
                                     reinterpret_cast<BYTE*>(old), &size) == ERROR_SUCCESS &&
                  type == REG_SZ;
        if (FHadOld)
            FOld.assign(old, size / sizeof(wchar_t));
        const std::wstring program = Widen(PENDOCK_FAKE_OPENER);
        ::RegSetValueExW(FKey, L"Browsers", 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(program.c_str()),
                         static_cast<DWORD>((program.size() + 1) * sizeof(wchar_t)));
        ::DeleteFileW(ArgsFile().c_str());
    }
    ~FakeBrowser() {
        if (!FKey)
            return;
        if (FHadOld)
            ::RegSetValueExW(FKey, L"Browsers", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(FOld.data()),
                             static_cast<DWORD>(FOld.size() * sizeof(wchar_t)));
        else
            ::RegDeleteValueW(FKey, L"Browsers");
        ::RegCloseKey(FKey);
        ::DeleteFileW(ArgsFile().c_str());
    }
    FakeBrowser(const FakeBrowser&) = delete;
    FakeBrowser& operator=(const FakeBrowser&) = delete;

    bool Ready() const { return FKey != nullptr; }

    static std::wstring ArgsFile() { return DosPath(std::string(PENDOCK_FAKE_OPENER) + ".args"); }

    // What the stand-in was started with: its argument count and arguments, one a line; empty
    // when it has not run within the time.
    static std::string Recorded(DWORD patienceMs) {
        for (DWORD waited = 0; waited < patienceMs; waited += 50) {
            if (::GetFileAttributesW(ArgsFile().c_str()) != INVALID_FILE_ATTRIBUTES)
                return ReadAll(ArgsFile());
            ::Sleep(50);
        }
        return {};
    }

private:
    HKEY FKey = nullptr;
    bool FHadOld = false;
    std::wstring FOld;
};

TEST(WinShell, TheBrowserGetsTheExactAddress) {
    FakeBrowser browser;
    ASSERT_TRUE(browser.Ready());
    const std::string address = "http://shop.example.com/custom-backend?q=ecommerce---usbupgrade"
                                "---vendor___AC%20ME---serial___01%2F23&x=%26%25&y=~";
    ASSERT_TRUE(platform::OpenInBrowser(address));
    EXPECT_EQ(FakeBrowser::Recorded(60000), "1\n" + address + "\n");
}

TEST(WinShell, AnAddressNoProgramOpensIsRefused) {
    EXPECT_FALSE(platform::OpenInBrowser("pendock-no-such-scheme:whatever"));
    EXPECT_FALSE(platform::OpenInBrowser(""));
}

TEST(WinProgramFolder, TheFolderOfThisProgram) {
    const std::string folder = platform::GetProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '\\');
    const std::wstring expected =
        DosPath(std::string(PENDOCK_BINARY_DIR) + "/tests/lib/platform/windows/");
    EXPECT_EQ(::CompareStringOrdinal(Widen(folder).c_str(), -1, expected.c_str(), -1, TRUE),
              CSTR_EQUAL)
        << folder;
    EXPECT_NE(::GetFileAttributesW(Widen(folder + "test_win_shell.exe").c_str()),
              INVALID_FILE_ATTRIBUTES);
}

TEST(WinTextCase, LowerCaseOfLettersEverywhere) {
    EXPECT_EQ(platform::LowerCaseUtf8("ABC xyz 123 _-"), "abc xyz 123 _-");
    EXPECT_EQ(platform::LowerCaseUtf8("\xC3\x80\xC3\x89\xC3\x8E\xC3\x95\xC3\x9C"), // ÀÉÎÕÜ
              "\xC3\xA0\xC3\xA9\xC3\xAE\xC3\xB5\xC3\xBC");
    EXPECT_EQ(
        platform::LowerCaseUtf8("\xCE\x91\xCE\x92\xCE\xA9 \xD0\x94\xD0\x96\xD0\xAF"), // ΑΒΩ ДЖЯ
        "\xCE\xB1\xCE\xB2\xCF\x89 \xD0\xB4\xD0\xB6\xD1\x8F");
    // Already lower, and letters without case, stay.
    EXPECT_EQ(platform::LowerCaseUtf8("\xC3\xA4 \xE5\x90\x8D \xE2\x82\xAC"),
              "\xC3\xA4 \xE5\x90\x8D \xE2\x82\xAC");
    // Bytes that are no UTF-8 are kept as they are; what follows is still mapped.
    EXPECT_EQ(platform::LowerCaseUtf8(std::string("\xFF"
                                                  "A\xC3"
                                                  "B\xE2\x82"
                                                  "C\xED\xA0\x80"
                                                  "D")),
              std::string("\xFF"
                          "a\xC3"
                          "b\xE2\x82"
                          "c\xED\xA0\x80"
                          "d"));
    EXPECT_EQ(platform::LowerCaseUtf8(""), "");
}

TEST(WinTextCase, LettersBeyondTheBasicPlane) {
    // DESERET CAPITAL LETTER LONG I -> its small letter, both outside the basic plane.
    EXPECT_EQ(platform::LowerCaseUtf8("\xF0\x90\x90\x80"), "\xF0\x90\x90\xA8");
}

} // namespace
