// XML reading and the locale preference file.

#include "mod_XMLDoc.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <objbase.h>
#else
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace {

#if defined(_WIN32)
// The parser is MSXML through COM, which the program initialises on its main thread and the
// test main of GoogleTest does not: this environment does it for the thread running the tests.
class TComEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        FInitialized = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    }
    void TearDown() override {
        if (FInitialized)
            ::CoUninitialize();
    }

private:
    bool FInitialized = false;
};
::testing::Environment* const ComEnvironment =
    ::testing::AddGlobalTestEnvironment(new TComEnvironment);
#endif

std::string LocaleXml(const std::string& inner) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<localization>" + inner +
           "</localization>\n";
}

// ReadLocaleFile on content written to a fresh file; lang/country start as "xx"/"YY".
struct TReadResult {
    bool ok;
    std::string lang;
    std::string country;
};

TReadResult ReadFile(const std::string& file) {
    TReadResult r{false, "xx", "YY"};
    r.ok = ReadLocaleFile(file, r.lang, r.country);
    return r;
}

TReadResult ReadContent(const TTempDir& folder, const std::string& content) {
    return ReadFile(folder.Write("locale.xml", content));
}

void ExpectUntouchedFailure(const TReadResult& r) {
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.lang, "xx");
    EXPECT_EQ(r.country, "YY");
}

} // namespace

TEST(SplitLocaleCode, CutsByPosition) {
    struct {
        const char* code;
        const char* lang;
        const char* country;
    } cases[] = {
        {"ab-CD", "ab", "CD"},
        {"ab_CD", "ab", "CD"},
        {"ab", "ab", ""},
        {"ab-C", "ab", ""},
        {"a", "", ""},
        {"", "", ""},
        {"ab-CDEF", "ab", "CD"},
        {"abcde", "ab", "de"},
        // Characters, not bytes: two-byte and three-byte letters stay whole.
        {"ñé-ÇÜ", "ñé", "ÇÜ"},
        {"日本-東京都", "日本", "東京"},
        {"é", "", ""},
    };
    for (const auto& c : cases) {
        std::string lang = "old", country = "old";
        SplitLocaleCode(c.code, lang, country);
        EXPECT_EQ(lang, c.lang) << c.code;
        EXPECT_EQ(country, c.country) << c.code;
    }
}

TEST(SplitLocaleCode, StrayBytesCountAsOneCharacterEach) {
    std::string lang, country;
    SplitLocaleCode("\xC3"
                    "b-\xE2\x82",
                    lang, country);
    EXPECT_EQ(lang, "\xC3"
                    "b");
    EXPECT_EQ(country, "\xE2\x82");
}

TEST(ReadLocaleFile, ReadsTheCode) {
    TTempDir folder;
    const TReadResult r = ReadContent(folder, LocaleXml("<locale>ab-CD</locale>"));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.lang, "ab");
    EXPECT_EQ(r.country, "CD");
}

TEST(ReadLocaleFile, UsesTheFirstOfTwoLocaleElements) {
    TTempDir folder;
    const TReadResult r = ReadContent(
        folder, LocaleXml("<other>zz-ZZ</other><locale>ab-CD</locale><locale>ef-GH</locale>"));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.lang, "ab");
    EXPECT_EQ(r.country, "CD");
}

TEST(ReadLocaleFile, JoinsTextAndCdataButNotNestedElementsOrComments) {
    TTempDir folder;
    TReadResult r = ReadContent(folder, LocaleXml("<locale>ab-<![CDATA[CD]]></locale>"));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.lang + "|" + r.country, "ab|CD");

    r = ReadContent(folder, LocaleXml("<locale>a<!-- note -->b<?pi x?>-<b>zz</b>CD</locale>"));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.lang + "|" + r.country, "ab|CD");

    // The code only inside a nested element: present but empty.
    r = ReadContent(folder, LocaleXml("<locale><code>ab-CD</code></locale>"));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.lang, "");
    EXPECT_EQ(r.country, "");

    // Attributes do not count either.
    r = ReadContent(folder, LocaleXml("<locale code=\"ab-CD\"/>"));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.lang + r.country, "");
}

TEST(ReadLocaleFile, CharacterReferencesAndPredefinedEntitiesAreText) {
    TTempDir folder;
    const TReadResult r = ReadContent(folder, LocaleXml("<locale>&#x61;b&amp;CD</locale>"));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.lang + "|" + r.country, "ab|CD");
}

TEST(ReadLocaleFile, EncodingComesFromTheDeclaration) {
    TTempDir folder;
    // ISO-8859-1: the bytes F1 and C7 are the letters ñ and Ç.
    TReadResult r =
        ReadContent(folder, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
                            "<localization><locale>\xF1x-\xC7Z</locale></localization>");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.lang, "ñx");
    EXPECT_EQ(r.country, "ÇZ");

    // UTF-16 little endian with a byte-order mark.
    const std::string text = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>"
                             "<localization><locale>ab-CD</locale></localization>";
    std::string utf16 = "\xFF\xFE";
    for (char c : text) {
        utf16 += c;
        utf16 += '\0';
    }
    r = ReadContent(folder, utf16);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.lang + "|" + r.country, "ab|CD");

    // UTF-16 with a byte-order mark and no declaration, with a letter outside Latin-1
    // (U+0161) and one outside the basic plane (U+1F600, a surrogate pair).
    const std::u16string text16 =
        u"<localization><locale>\u0161b-\U0001F600D</locale></localization>";
    utf16 = "\xFF\xFE";
    for (char16_t c : text16) {
        utf16 += static_cast<char>(c & 0xFF);
        utf16 += static_cast<char>(c >> 8);
    }
    r = ReadContent(folder, utf16);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.lang, "\xC5\xA1"
                      "b");
    EXPECT_EQ(r.country, "\xF0\x9F\x98\x80"
                         "D");

    // Windows-1252: 0x80 is the euro sign and 0x8A the letter Š, where ISO-8859-1 has controls.
    r = ReadContent(folder, "<?xml version=\"1.0\" encoding=\"windows-1252\"?>"
                            "<localization><locale>\x80x-\x8AZ</locale></localization>");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.lang, "\xE2\x82\xAC"
                      "x");
    EXPECT_EQ(r.country, "\xC5\xA0"
                         "Z");
}

TEST(ReadLocaleFile, EmptyElementIsSuccessWithEmptyValues) {
    TTempDir folder;
    const TReadResult r = ReadContent(folder, LocaleXml("<locale/>"));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.lang, "");
    EXPECT_EQ(r.country, "");
}

TEST(ReadLocaleFile, FailuresLeaveTheValuesUntouched) {
    TTempDir folder;
    ExpectUntouchedFailure(ReadFile(""));
    ExpectUntouchedFailure(ReadFile(folder.File("missing.xml")));
    ExpectUntouchedFailure(ReadContent(folder, "<localization><locale>ab-CD</locale>"));
    ExpectUntouchedFailure(ReadContent(folder, "<localization><locale>ab-CD</loc></localization>"));
    ExpectUntouchedFailure(ReadContent(folder, ""));
    ExpectUntouchedFailure(ReadContent(folder, "ab-CD"));
    // Names are matched with case, and locale must sit under the root.
    ExpectUntouchedFailure(
        ReadContent(folder, "<Localization><locale>ab-CD</locale></Localization>"));
    ExpectUntouchedFailure(ReadContent(folder, LocaleXml("<Locale>ab-CD</Locale>")));
    ExpectUntouchedFailure(ReadContent(folder, LocaleXml("<x><locale>ab-CD</locale></x>")));
    // An undefined entity is a parse error.
    ExpectUntouchedFailure(ReadContent(folder, LocaleXml("<locale>&nope;</locale>")));
}

TEST(ReadLocaleFile, NotAFileIsAFailure) {
    TTempDir folder;
    fs::create_directory(folder.Path() / "folder.xml");
    ExpectUntouchedFailure(ReadFile(folder.File("folder.xml")));

#if !defined(_WIN32)
    // A named pipe with no writer must not make the read wait.
    ASSERT_EQ(mkfifo(folder.File("fifo.xml").c_str(), 0600), 0);
    ExpectUntouchedFailure(ReadFile(folder.File("fifo.xml")));

    fs::create_symlink("loop-b.xml", folder.Path() / "loop-a.xml");
    fs::create_symlink("loop-a.xml", folder.Path() / "loop-b.xml");
    ExpectUntouchedFailure(ReadFile(folder.File("loop-a.xml")));

    // A symbolic link to a good file is followed.
    folder.Write("real.xml", LocaleXml("<locale>ab-CD</locale>"));
    fs::create_symlink("real.xml", folder.Path() / "link.xml");
    EXPECT_TRUE(ReadFile(folder.File("link.xml")).ok);
#endif
}

TEST(ReadLocaleFile, DoctypeWithoutDeclarationsIsNeverLoaded) {
    TTempDir folder;
    const TReadResult r = ReadContent(
        folder, "<?xml version=\"1.0\"?>\n"
                "<!DOCTYPE localization SYSTEM \"http://localization.invalid/locale.dtd\">\n"
                "<localization><locale>ab-CD</locale></localization>");
#if defined(_WIN32)
    // MSXML is told to refuse document type declarations altogether.
    ExpectUntouchedFailure(r);
#else
    // libxml2 reads the document without fetching or requiring the DTD.
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.lang + "|" + r.country, "ab|CD");
#endif
}

TEST(ReadLocaleFile, EntityExpansionIsRefused) {
    TTempDir folder;
    std::string laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE localization [\n"
                         "<!ENTITY lol0 \"ab-CD\">\n";
    for (int i = 1; i <= 9; ++i) {
        laughs += "<!ENTITY lol" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j)
            laughs += "&lol" + std::to_string(i - 1) + ";";
        laughs += "\">\n";
    }
    laughs += "]>\n<localization><locale>&lol9;</locale></localization>\n";
    ExpectUntouchedFailure(ReadContent(folder, laughs));

    // Even one harmless internal entity: declarations are not accepted at all.
    ExpectUntouchedFailure(ReadContent(folder,
                                       "<!DOCTYPE localization [<!ENTITY c \"ab-CD\">]>"
                                       "<localization><locale>&c;</locale></localization>"));
}

TEST(ReadLocaleFile, ExternalEntitiesAreNotRead) {
    TTempDir folder;
    const std::string secret = folder.Write("secret.txt", "zz-ZZ");
    ExpectUntouchedFailure(
        ReadContent(folder, "<!DOCTYPE localization [<!ENTITY s SYSTEM \"file://" + secret +
                                "\">]>"
                                "<localization><locale>&s;</locale></localization>"));
    ExpectUntouchedFailure(
        ReadContent(folder, "<!DOCTYPE localization [<!ENTITY % p SYSTEM \"" + secret +
                                "\"> %p;]>"
                                "<localization><locale>ab-CD</locale></localization>"));
}

TEST(ReadLocaleFile, SizeLimitIsOneMebibyte) {
    TTempDir folder;
    const std::string head = LocaleXml("<locale>ab-CD</locale>") + "<!--";
    const std::string tail = "-->\n";
    auto padded = [&](std::size_t total) {
        return head + std::string(total - head.size() - tail.size(), 'p') + tail;
    };
    const TReadResult atLimit = ReadContent(folder, padded(MaxXmlFileSize));
    EXPECT_TRUE(atLimit.ok);
    EXPECT_EQ(atLimit.lang, "ab");
    ExpectUntouchedFailure(ReadContent(folder, padded(MaxXmlFileSize + 1)));
    ExpectUntouchedFailure(ReadContent(folder, padded(5 * MaxXmlFileSize)));
}

TEST(XMLDoc, SelectionAndText) {
    TTempDir folder;
    TXMLDocument doc;
    LoadXMLDocument(folder.Write("d.xml", "<r><i n=\"1\">one</i><i n=\"2\">two</i><j/></r>"), doc);
    ASSERT_TRUE(doc);
    const TXMLNode root = DocumentNode(doc);

    TXMLNodeList list;
    SelectNodes(root, "/r/i", list);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 2u);
    std::string text;
    GetNodeText((*list)[1], text);
    EXPECT_EQ(text, "two");

    // Relative to a node.
    TXMLNode node;
    SelectFirstNode((*list)[0], "@n", node);
    ASSERT_TRUE(node);
    GetNodeText(node, text);
    EXPECT_EQ(text, "1");

    // An empty selection is a list without nodes; its first node is absent.
    SelectNodes(root, "/r/k", list);
    ASSERT_TRUE(list);
    EXPECT_TRUE(list->empty());
    node = root;
    SelectFirstNode(root, "/r/k", node);
    EXPECT_FALSE(node);

    // Invalid expressions and results that are no node set give no list.
    SelectNodes(root, "/r/[", list);
    EXPECT_FALSE(list);
    SelectNodes(root, "count(/r/i)", list);
    EXPECT_FALSE(list);

    // Absent inputs give absent or empty outputs.
    SelectNodes(TXMLNode(), "/r", list);
    EXPECT_FALSE(list);
    text = "old";
    GetNodeText(TXMLNode(), text);
    EXPECT_EQ(text, "");
    EXPECT_FALSE(DocumentNode(TXMLDocument()));
}

TEST(XMLDoc, NodesKeepTheirDocumentAlive) {
    TTempDir folder;
    TXMLNode node;
    {
        TXMLDocument doc;
        LoadXMLDocument(folder.Write("d.xml", "<r><i>kept</i></r>"), doc);
        ASSERT_TRUE(doc);
        SelectFirstNode(DocumentNode(doc), "/r/i", node);
    }
    ASSERT_TRUE(node);
    std::string text;
    GetNodeText(node, text);
    EXPECT_EQ(text, "kept");
}

#if !defined(_WIN32)
// libxml2 hands out namespace nodes as copies owned by the XPath result.
TEST(XMLDoc, NamespaceNodesAreLeftOut) {
    TTempDir folder;
    TXMLDocument doc;
    LoadXMLDocument(folder.Write("ns.xml", "<r xmlns:a=\"urn:a\"><i>kept</i></r>"), doc);
    ASSERT_TRUE(doc);
    TXMLNodeList list;
    SelectNodes(DocumentNode(doc), "/r/i | /r/namespace::*", list);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 1u);
    std::string text;
    GetNodeText((*list)[0], text);
    EXPECT_EQ(text, "kept");
}
#endif
