// The locale string database: fall-back order, not-found text, line breaks, groups, errors.

#include "SQLiteDb.h"
#include "mod_SQLocalize.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace fs = std::filesystem;

namespace {

struct TRow {
    std::string id, group, lang;
    std::optional<std::string> country, description;
};

// A locale.db holding rows, and a locale.xml holding code, in a fresh folder.
class LocaleTest : public ::testing::Test {
protected:
    std::string MakeDb(const std::vector<TRow>& rows, const std::string& name = "locale.db") {
        const std::string file = folder.File(name);
        TSQLiteDatabase db(file);
        db.Exec("CREATE TABLE localize (ID TEXT, GroupID TEXT, LangID TEXT, CountryID TEXT,"
                " Description TEXT)");
        for (const TRow& r : rows) {
            db.Exec("INSERT INTO localize VALUES (?1, ?2, ?3, IIF(?4 = '0', NULL, ?5),"
                    " IIF(?6 = '0', NULL, ?7))",
                    {r.id, r.group, r.lang, r.country ? "1" : "0", r.country.value_or(""),
                     r.description ? "1" : "0", r.description.value_or("")});
        }
        return file;
    }
    std::string MakeXml(const std::string& code) {
        return folder.Write("locale.xml", "<?xml version=\"1.0\"?><localization><locale>" + code +
                                              "</locale></localization>");
    }
    void Open(const std::vector<TRow>& rows, const std::string& code) {
        loc.InitLocalize(MakeDb(rows), MakeXml(code));
    }

    TTempDir folder;
    TSQLocale loc;
};

std::string Thrown(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "<nothing thrown>";
}

} // namespace

TEST_F(LocaleTest, NothingOpenGivesEmptyTextsAndLeavesTheStore) {
    EXPECT_FALSE(loc.IsOpen());
    EXPECT_EQ(loc.GetString("MESSAGE_NOKEY"), "");
    TStrData store;
    store.Add("MSG_BTN_OK=OK");
    loc.LoadLocalizedStrings(&store, "", "", "Skin");
    EXPECT_EQ(store.Lines, std::vector<std::string>{"MSG_BTN_OK=OK"});
}

TEST_F(LocaleTest, FallBackOrder) {
    // Locale ab-CD, current ef-GH: (ef,GH), (ef,NULL), (ab,CD), (ab,NULL), then not found.
    Open({{"K1", "G", "ef", "GH", "1"},
          {"K1", "G", "ef", {}, "2"},
          {"K1", "G", "ab", "CD", "3"},
          {"K1", "G", "ab", {}, "4"},
          {"K2", "G", "ef", {}, "2"},
          {"K2", "G", "ab", "CD", "3"},
          {"K2", "G", "ab", {}, "4"},
          {"K3", "G", "ab", "CD", "3"},
          {"K3", "G", "ab", {}, "4"},
          {"K4", "G", "ab", {}, "4"},
          {"K5", "G", "ab", "XY", "x"},
          {"K5", "G", "ef", "XY", "x"},
          {"K6", "H", "ef", "GH", "other group"}},
         "ab-CD");
    loc.SetLanguage("ef", "GH");
    loc.SetGroup("G");
    EXPECT_EQ(loc.GetString("K1"), "1");
    EXPECT_EQ(loc.GetString("K2"), "2");
    EXPECT_EQ(loc.GetString("K3"), "3");
    EXPECT_EQ(loc.GetString("K4"), "4");
    // Built from the first attempt's values, not the locale ones.
    EXPECT_EQ(loc.GetString("K5"), "ef/GH:G/K5=#NOT_FOUND#");
    EXPECT_EQ(loc.GetString("K6"), "ef/GH:G/K6=#NOT_FOUND#");
    loc.SetGroup("H");
    EXPECT_EQ(loc.GetString("K6"), "other group");
}

TEST_F(LocaleTest, CountryRows) {
    Open({{"ANY", "Restore", "ab", {}, "any country"},
          {"ONLY_CD", "Restore", "ab", "CD", "CD only"},
          {"ONLY_EF", "Restore", "ab", "EF", "EF only"}},
         "ab-CD");
    loc.SetGroup("Restore");
    for (const char* country : {"CD", "EF", "ZZ", ""}) {
        loc.SetLanguage("ab", country);
        EXPECT_EQ(loc.GetString("ANY"), "any country") << country;
    }
    // Found for EF only through the locale fields, which name CD.
    loc.SetLanguage("ab", "EF");
    EXPECT_EQ(loc.GetString("ONLY_CD"), "CD only");
    EXPECT_EQ(loc.GetString("ONLY_EF"), "EF only");
    loc.SetLanguage("ab", "ZZ");
    EXPECT_EQ(loc.GetString("ONLY_EF"), "ab/ZZ:Restore/ONLY_EF=#NOT_FOUND#");
}

TEST_F(LocaleTest, NotFoundTextIsExact) {
    Open({{"OTHER", "Restore", "ab", {}, "x"}}, "ab-CD");
    loc.SetGroup("Restore");
    EXPECT_EQ(loc.GetString("MISSING_KEY"), "ab/CD:Restore/MISSING_KEY=#NOT_FOUND#");
}

TEST_F(LocaleTest, MissingPreferenceFileLeavesLanguageEmpty) {
    loc.InitLocalize(MakeDb({{"MESSAGE_NOKEY", "Restore", "ab", {}, "x"}}),
                     folder.File("absent.xml"));
    loc.SetGroup("Restore");
    EXPECT_EQ(loc.CurrLang(), "");
    EXPECT_EQ(loc.GetString("MESSAGE_NOKEY"), "/:Restore/MESSAGE_NOKEY=#NOT_FOUND#");
}

TEST_F(LocaleTest, BackslashNBecomesCrLf) {
    Open({{"TWO", "R", "ab", {}, "Line one\\nLine two"},
          {"MANY", "R", "ab", {}, "\\n\\na\\nb\\n"},
          {"UPPER", "R", "ab", {}, "no\\Nbreak"}},
         "ab");
    loc.SetGroup("R");
    EXPECT_EQ(loc.GetString("TWO"), "Line one\r\nLine two");
    EXPECT_EQ(loc.GetString("MANY"), "\r\n\r\na\r\nb\r\n");
    EXPECT_EQ(loc.GetString("UPPER"), "no\\Nbreak");
}

TEST_F(LocaleTest, NullOrEmptyDescriptionIsEmptyWithoutFallBack) {
    Open({{"NUL", "R", "ef", {}, std::nullopt},
          {"NUL", "R", "ab", {}, "fallback"},
          {"EMPTY", "R", "ef", {}, ""},
          {"EMPTY", "R", "ab", {}, "fallback"}},
         "ab-CD");
    loc.SetLanguage("ef", "");
    loc.SetGroup("R");
    EXPECT_EQ(loc.GetString("NUL"), "");
    EXPECT_EQ(loc.GetString("EMPTY"), "");
}

TEST_F(LocaleTest, CodesThatNameColumnsOrHoldQuotesStillMatch) {
    // Indonesian in Indonesia: the country code reads like the column ID.
    Open({{"HELLO", "Restore", "id", "ID", "Halo, Indonesia"},
          {"HELLO", "Restore", "id", {}, "Halo"},
          {"ID", "ID", "id", "ID", "every value a column name"}},
         "id-ID");
    loc.SetGroup("Restore");
    EXPECT_EQ(loc.GetString("HELLO"), "Halo, Indonesia");
    loc.SetGroup("ID");
    EXPECT_EQ(loc.GetString("ID"), "every value a column name");

    // A double quote in the preference file does not break the statement.
    TSQLocale quoted;
    quoted.InitLocalize(MakeDb({{"K", "R", "a\"", "C\"", "quoted"}}, "quoted.db"),
                        MakeXml("a\"-C\""));
    quoted.SetGroup("R");
    EXPECT_EQ(quoted.GetString("K"), "quoted");
    EXPECT_EQ(quoted.GetString("\"; DROP TABLE localize; --"),
              "a\"/C\":R/\"; DROP TABLE localize; --=#NOT_FOUND#");
    EXPECT_EQ(quoted.GetString("K"), "quoted");
}

TEST_F(LocaleTest, SkinGroupIsReadThroughTheLocaleLanguage) {
    Open({{"MSG_BTN_YES", "Skin", "ab", {}, "&Ja"},
          {"MSG_CAP_ERROR", "Skin", "ab", "CD", "Fehler CD"},
          {"MSG_CAP_ERROR", "Skin", "ab", {}, "Fehler"},
          {"MSG_BTN_NO", "Skin", "ef", {}, "only another language"},
          {"NEXT", "Restore", "ab", {}, "not a skin text"}},
         "ab-CD");
    TStrData store;
    store.Add("MSG_BTN_OK=OK");
    store.Add("MSG_CAP_ERROR=Error");
    loc.LoadLocalizedStrings(&store, "", "", "Skin");

    ASSERT_EQ(store.Lines.size(), 3u);
    EXPECT_EQ(store.Value("MSG_BTN_YES"), "&Ja");
    EXPECT_EQ(store.Value("MSG_CAP_ERROR"), "Fehler CD");
    EXPECT_EQ(store.Value("MSG_BTN_NO"), "/:Skin/MSG_BTN_NO=#NOT_FOUND#");
    EXPECT_EQ(store.Value("MSG_BTN_OK"), ""); // the group does not hold it
    EXPECT_EQ(store.Value("NEXT"), "");
}

TEST_F(LocaleTest, EmptyGroupLeavesTheStoreEmpty) {
    Open({{"NEXT", "Restore", "ab", {}, "Next"}}, "ab-CD");
    TStrData store;
    store.Add("MSG_BTN_YES=&Yes");
    loc.LoadLocalizedStrings(&store, "", "", "Skin");
    EXPECT_TRUE(store.Lines.empty());
    loc.LoadLocalizedStrings(nullptr, "", "", "Restore"); // no store: nothing happens
}

TEST_F(LocaleTest, MissingDatabaseIsCreatedEmptyThenLookupsFail) {
    const std::string name = folder.File("locale.db");
    loc.InitLocalize(name, MakeXml("ab-CD"));
    EXPECT_TRUE(fs::exists(name));
    EXPECT_EQ(fs::file_size(name), 0u);
    loc.SetGroup("Restore");
    EXPECT_EQ(Thrown([&] { loc.GetString("MESSAGE_NOKEY"); }),
              "Error executing SQL.\rError [1]: SQL logic error.\r\"SELECT Description FROM "
              "localize WHERE LangID = ?1 AND CountryID = ?2 AND GroupID = ?3 AND ID = ?4\": "
              "no such table: localize");
    TStrData store;
    EXPECT_EQ(Thrown([&] { loc.LoadLocalizedStrings(&store, "", "", "Skin"); }),
              "Error executing SQL.\rError [1]: SQL logic error.\r\"SELECT DISTINCT ID FROM "
              "LOCALIZE WHERE GROUPID = ?1\": no such table: LOCALIZE");
}

TEST_F(LocaleTest, FileThatIsNotADatabaseFailsOnLookup) {
    const std::string name = folder.Write("locale.db", "SQLite format 2? no, just text\n");
    loc.InitLocalize(name, MakeXml("ab"));
    EXPECT_EQ(Thrown([&] { loc.GetString("K"); }),
              "Error executing SQL.\rError [26]: file is not a database.\r\"SELECT Description "
              "FROM localize WHERE LangID = ?1 AND CountryID IS NULL AND GroupID = ?2 AND ID = "
              "?3\": file is not a database");
}

TEST_F(LocaleTest, OpenFailureIsRaisedAndLeavesNothingOpen) {
    Open({{"K", "R", "ab", {}, "first"}}, "ab-CD");
    ASSERT_TRUE(loc.IsOpen());
    const std::string bad = folder.File("no/such/folder/locale.db");
    EXPECT_EQ(Thrown([&] { loc.InitLocalize(bad, MakeXml("ab-CD")); }),
              "Failed to open database \"" + bad + "\" : unable to open database file");
    EXPECT_FALSE(loc.IsOpen());
    EXPECT_EQ(loc.GetString("K"), "");
}

TEST_F(LocaleTest, SecondInitLocalizeSwitchesDatabaseAndResetsTheGroup) {
    Open({{"K", "R", "ab", {}, "first"}}, "ab-CD");
    loc.SetGroup("R");
    loc.SetLanguage("ef", "GH");
    ASSERT_EQ(loc.GetString("K"), "first");

    const std::string second = MakeDb({{"K", "R", "ab", {}, "second"}}, "second.db");
    loc.InitLocalize(second, folder.File("absent.xml"));
    // The preference file could not be read: the current values stay and become the locale.
    EXPECT_EQ(loc.LocLang(), "ef");
    EXPECT_EQ(loc.LocCountry(), "GH");
    EXPECT_EQ(loc.CurrGroup(), "");
    EXPECT_EQ(loc.GetString("K"), "ef/GH:/K=#NOT_FOUND#");
    loc.SetLanguage("ab", "");
    loc.SetGroup("R");
    EXPECT_EQ(loc.GetString("K"), "second");
}
