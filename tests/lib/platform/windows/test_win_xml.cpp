// The locale file read through MSXML: what COM, file sharing and wide file names do to it.
#include "mod_XMLDoc.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <windows.h>

#include <string>
#include <thread>

#include "platform/windows/wide_text.h"

namespace {

const std::string Locale = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                           "<localization><locale>ab-CD</locale></localization>\n";

struct TRead {
    bool ok = false;
    std::string lang = "xx";
    std::string country = "YY";
};

TRead Read(const std::string& file) {
    TRead r;
    r.ok = ReadLocaleFile(file, r.lang, r.country);
    return r;
}

// Runs `body` on a fresh thread; `apartment` is the COM model it starts, or -1 for none.
template <typename Body> void OnThread(int apartment, Body body) {
    std::thread t([&] {
        const bool com =
            apartment >= 0 && SUCCEEDED(::CoInitializeEx(nullptr, static_cast<DWORD>(apartment)));
        body();
        if (com)
            ::CoUninitialize();
    });
    t.join();
}

TEST(WinXml, WithoutComEveryLoadFailsSilently) {
    TTempDir folder;
    const std::string file = folder.Write("locale.xml", Locale);
    TRead r;
    bool documentLoaded = true;
    OnThread(-1, [&] {
        r = Read(file);
        TXMLDocument doc;
        LoadXMLDocument(file, doc);
        documentLoaded = static_cast<bool>(doc);
    });
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.lang + "|" + r.country, "xx|YY");
    EXPECT_FALSE(documentLoaded);
}

TEST(WinXml, ReadsInBothApartmentModels) {
    TTempDir folder;
    const std::string file =
        folder.Write("locale.xml", "<localization><locale>ab-<![CDATA[CD]]></locale>"
                                   "<locale>ef-GH</locale></localization>");
    for (const int apartment : {COINIT_APARTMENTTHREADED, COINIT_MULTITHREADED}) {
        TRead r;
        OnThread(apartment, [&] { r = Read(file); });
        EXPECT_TRUE(r.ok) << apartment;
        EXPECT_EQ(r.lang + "|" + r.country, "ab|CD") << apartment;
    }
}

TEST(WinXml, FileHeldWithoutSharingIsAFailure) {
    TTempDir folder;
    const std::string file = folder.Write("locale.xml", Locale);
    const HANDLE held = ::CreateFileW(platform::win::Widen(file).c_str(), GENERIC_READ, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    TRead r;
    OnThread(COINIT_APARTMENTTHREADED, [&] { r = Read(file); });
    ::CloseHandle(held);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.lang + "|" + r.country, "xx|YY");

    // Once the file is free again it reads.
    OnThread(COINIT_APARTMENTTHREADED, [&] { r = Read(file); });
    EXPECT_TRUE(r.ok);
}

TEST(WinXml, FileNamesAreUtf8) {
    TTempDir temp;
    // A folder name outside the ANSI code page: the name must reach the system as UTF-16.
    const std::wstring folder = temp.Path().wstring() + L"\\Lingua \u00F1 \u65E5\u672C \u0161";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring wideFile = folder + L"\\locale.xml";
    const HANDLE h = ::CreateFileW(wideFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(
        ::WriteFile(h, Locale.data(), static_cast<DWORD>(Locale.size()), &written, nullptr));
    ::CloseHandle(h);

    TRead r;
    OnThread(COINIT_APARTMENTTHREADED, [&] { r = Read(platform::win::Narrow(wideFile)); });
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.lang + "|" + r.country, "ab|CD");
}

TEST(WinXml, NodesOutliveTheirSelectionAndDocument) {
    TTempDir folder;
    const std::string file = folder.Write("d.xml", "<r><i>one</i><i>two<b>x</b>!</i></r>");
    std::string first, second;
    OnThread(COINIT_APARTMENTTHREADED, [&] {
        TXMLNode kept;
        {
            TXMLDocument doc;
            LoadXMLDocument(file, doc);
            TXMLNodeList list;
            SelectNodes(DocumentNode(doc), "//i", list);
            if (list && list->size() == 2) {
                GetNodeText(list->front(), first);
                kept = list->back();
            }
        }
        GetNodeText(kept, second);
    });
    EXPECT_EQ(first, "one");
    EXPECT_EQ(second, "two!");
}

} // namespace
