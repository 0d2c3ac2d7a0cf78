// The package.id search on the Win32 file system: sharing modes, hidden entries, paths beyond
// MAX_PATH, and links, which under Wine are made on the Unix side.
#include "mod_WebShop.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <string>

#include "platform/windows/wide_text.h"

namespace {

using platform::win::Narrow;
using platform::win::Widen;

// The Unix name of a Windows path when running under Wine; empty elsewhere.
std::string UnixName(const std::wstring& path) {
    using TGetUnixName = char*(__cdecl*)(const wchar_t*);
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const auto get = kernel ? reinterpret_cast<TGetUnixName>(reinterpret_cast<void*>(
                                  ::GetProcAddress(kernel, "wine_get_unix_file_name")))
                            : nullptr;
    if (!get)
        return {};
    char* name = get(path.c_str());
    if (!name)
        return {};
    std::string out = name;
    ::HeapFree(::GetProcessHeap(), 0, name);
    return out;
}

class WinPackageFiles : public ::testing::Test {
protected:
    void SetUp() override {
        Root = Tmp.Path().wstring();
        Product = Root + L"\\Quorvento";
        ASSERT_TRUE(::CreateDirectoryW(Product.c_str(), nullptr));
    }
    void TearDown() override {
        // Links are removed as links before the folder's clean-up could follow one.
        if (!UnixRoot.empty())
            UnixShell("find '" + UnixRoot + "' -type l -delete && mkdir '" + UnixRoot +
                          "/links-gone'",
                      P(L"links-gone"));
    }

    std::wstring P(const std::wstring& rel) const { return Root + L"\\" + rel; }
    void MakeFolder(const std::wstring& rel) const {
        ASSERT_TRUE(::CreateDirectoryW(P(rel).c_str(), nullptr)) << Narrow(rel);
    }
    void Write(const std::wstring& rel, const std::string& bytes) const {
        const HANDLE h = ::CreateFileW(P(rel).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << Narrow(rel);
        DWORD written = 0;
        const BOOL ok =
            ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        ::CloseHandle(h);
        ASSERT_TRUE(ok && written == bytes.size()) << Narrow(rel);
    }
    std::string Find(const std::wstring& folder) const {
        std::string id = "<untouched>";
        return FindPackageId(Narrow(folder), id) ? id : "<none>";
    }
    // Runs `script` with the Unix shell (under Wine only), waiting until it has made `marker`.
    bool UnixShell(const std::string& script, const std::wstring& marker) const {
        std::wstring command = L"Z:\\bin\\sh -c \"" + Widen(script) + L"\"";
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!::CreateProcessW(L"Z:\\bin\\sh", command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              nullptr, &si, &pi))
            return false;
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
        for (int i = 0; i < 200; ++i) {
            if (::GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES)
                return true;
            ::Sleep(50);
        }
        return false;
    }

    TTempDir Tmp{"pendock-winsearch"};
    std::wstring Root, Product;
    std::string UnixRoot; // set once links have been made
};

TEST_F(WinPackageFiles, HiddenAndSystemEntriesAreSearched) {
    MakeFolder(L"Quorvento\\.h");
    Write(L"Quorvento\\.h\\package.id", "HIDDEN\r\n");
    ASSERT_TRUE(::SetFileAttributesW(P(L"Quorvento\\.h\\package.id").c_str(),
                                     FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                         FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(::SetFileAttributesW(P(L"Quorvento\\.h").c_str(),
                                     FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    EXPECT_EQ(Find(Product), "HIDDEN");
    EXPECT_EQ(Find(Product + L"\\"), "HIDDEN");
    ::SetFileAttributesW(P(L"Quorvento\\.h\\package.id").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(WinPackageFiles, FileHeldWithoutSharingIsAnError) {
    Write(L"Quorvento\\package.id", "HELD\r\n");
    const std::wstring file = P(L"Quorvento\\package.id");
    const HANDLE held =
        ::CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::string id = "kept";
    try {
        FindPackageId(Narrow(Product), id);
        ADD_FAILURE() << "no error";
    } catch (const EPackageIdReadError& e) {
        EXPECT_EQ(e.Error(), ERROR_SHARING_VIOLATION);
        const std::string what = e.what();
        const std::string named = "\"" + Narrow(file) + "\": ";
        const std::size_t at = what.find(named);
        ASSERT_NE(at, std::string::npos) << what;
        EXPECT_GT(what.size(), at + named.size()) << "no reason given: " << what;
    }
    EXPECT_EQ(id, "kept");
    std::string line = "kept";
    EXPECT_THROW(ReadFirstLine(Narrow(file), line), EPackageIdReadError);
    EXPECT_EQ(line, "kept");
    ::CloseHandle(held);
    EXPECT_EQ(Find(Product), "HELD");
}

TEST_F(WinPackageFiles, FileOpenForWritingElsewhereIsRead) {
    // Another program writing the file, or about to delete it, does not stop the read.
    Write(L"Quorvento\\package.id", "BUSY\n");
    const HANDLE writer = ::CreateFileW(P(L"Quorvento\\package.id").c_str(), GENERIC_WRITE | DELETE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Find(Product), "BUSY");
    ::CloseHandle(writer);
}

TEST_F(WinPackageFiles, FolderThatCannotBeListedIsPassedOver) {
    MakeFolder(L"Quorvento\\locked");
    Write(L"Quorvento\\locked\\package.id", "LOCKED\n");
    const HANDLE held = ::CreateFileW(P(L"Quorvento\\locked").c_str(), GENERIC_READ, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    int calls = 0;
    std::string id = "kept";
    EXPECT_FALSE(FindPackageId(Narrow(Product), id, [&] { ++calls; }));
    EXPECT_EQ(id, "kept");
    EXPECT_GE(calls, 1); // as the search begins
    ::CloseHandle(held);
    EXPECT_EQ(Find(Product), "LOCKED");
}

TEST_F(WinPackageFiles, TreeDeeperThanMaxPath) {
    // 60 levels of 12 characters: the path is far beyond MAX_PATH (260).
    const std::wstring level(12, L'd');
    std::wstring path = L"\\\\?\\" + Product;
    for (int i = 0; i < 60; ++i) {
        path += L"\\" + level;
        ASSERT_TRUE(::CreateDirectoryW(path.c_str(), nullptr)) << i;
    }
    ASSERT_GT(path.size(), 700u);
    const std::wstring file = path + L"\\package.id";
    const HANDLE h = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(h, "DEEP\n", 5, &written, nullptr);
    ::CloseHandle(h);

    EXPECT_EQ(Find(Product), "DEEP");
    std::string line;
    EXPECT_TRUE(ReadFirstLine(Narrow(file.substr(4)), line)); // the long path without prefix
    EXPECT_EQ(line, "DEEP");

    // Removed here, bottom up: the temporary folder's clean-up may not take such paths.
    ::DeleteFileW(file.c_str());
    for (int i = 0; i < 60; ++i) {
        ::RemoveDirectoryW(path.c_str());
        path.resize(path.size() - level.size() - 1);
    }
}

TEST_F(WinPackageFiles, LinksMadeOnTheUnixSide) {
    const std::string unixRoot = UnixName(Root);
    if (unixRoot.empty())
        GTEST_SKIP() << "not running under Wine";
    UnixRoot = unixRoot;
    MakeFolder(L"outside");
    Write(L"outside\\package.id", "OUTSIDE\n");
    MakeFolder(L"Quorvento\\real");
    // Folder links (to the parent, to itself, outside), a link loop and a dangling link under
    // the searched name; then a linked file, which is read, and a linked product folder.
    const std::string q = "'" + unixRoot + "/Quorvento";
    const std::string script = "ln -s .. " + q + "/up' && ln -s . " + q + "/loop' && ln -s '" +
                               unixRoot + "/outside' " + q + "/away' && ln -s loop2 " + q +
                               "/loop1' && ln -s loop1 " + q + "/loop2' && ln -s nowhere " + q +
                               "/PACKAGE.id' && ln -s '" + unixRoot + "/outside' '" + unixRoot +
                               "/linked' && mkdir '" + unixRoot + "/made-links'";
    ASSERT_TRUE(UnixShell(script, P(L"made-links")));
    // Wine shows a linked folder as a folder that is a reparse point.
    const DWORD away = ::GetFileAttributesW(P(L"Quorvento\\away").c_str());
    ASSERT_NE(away, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(away & FILE_ATTRIBUTE_REPARSE_POINT);

    int calls = 0;
    std::string id = "kept";
    EXPECT_FALSE(FindPackageId(Narrow(Product), id, [&] { ++calls; }));
    EXPECT_EQ(id, "kept");
    EXPECT_GE(calls, 1); // as the search begins

    const std::string script2 = "ln -s '" + unixRoot + "/outside/package.id' " + q +
                                "/real/package.id' && mkdir '" + unixRoot + "/made-file-link'";
    ASSERT_TRUE(UnixShell(script2, P(L"made-file-link")));
    EXPECT_EQ(Find(Product), "OUTSIDE");

    // The product folder itself must not be a link, with or without separators after it.
    EXPECT_EQ(Find(P(L"linked")), "<none>");
    EXPECT_EQ(Find(P(L"linked") + L"\\"), "<none>");
    EXPECT_EQ(Find(P(L"linked") + L"//"), "<none>");
    std::string line = "kept";
    EXPECT_FALSE(ReadFirstLine(Narrow(P(L"Quorvento\\loop1")), line));
    EXPECT_FALSE(ReadFirstLine(Narrow(P(L"Quorvento\\PACKAGE.id")), line));
    EXPECT_EQ(line, "kept");
}

} // namespace
