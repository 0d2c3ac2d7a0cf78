// The shipped locale.db and locale.xml: every language has every key, in a form that fits.

#include "SQLiteDb.h"
#include "mod_SQLocalize.h"
#include "mod_XMLDoc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

namespace {

const std::vector<std::string> Languages = {"it", "en", "de", "fr", "es"};

const std::vector<std::string> RestoreKeys = {"CAPTION_UPGRADE",
                                              "MESSAGE_BRIEFING",
                                              "BRIEFING",
                                              "NEXT",
                                              "PLEASE_WAIT",
                                              "MESSAGE_NOKEY",
                                              "MESSAGE_KEYFOUND",
                                              "ERR_CANNOTREADUSBINFO",
                                              "CANCEL",
                                              "MESSAGE_WAITBROWSER",
                                              "WAITBROWSER",
                                              "MESSAGE_WANTEXIT",
                                              "OPERATION_UPGRADE",
                                              "ERR_CANNOTOPENBROWSER",
                                              "ERR_KEYUNREADABLE",
                                              "ERR_CANNOTOPENKEY",
                                              "PICTURE_PULLOUT",
                                              "PICTURE_PULLOUT_INFO",
                                              "PICTURE_PLUGIN",
                                              "PICTURE_PLUGIN_INFO",
                                              "PICTURE_PLUGGED",
                                              "PICTURE_PLUGGED_INFO"};

const std::vector<std::string> SkinKeys = {"MSG_BTN_YES", "MSG_BTN_NO", "MSG_BTN_OK",
                                           "MSG_CAP_CONFIRM", "MSG_CAP_ERROR"};

// The texts that the wizard passes through the operation-word substitution.
const std::set<std::string> SubstitutedKeys = {"BRIEFING", "ERR_CANNOTREADUSBINFO",
                                               "MESSAGE_WAITBROWSER", "ERR_CANNOTOPENBROWSER",
                                               "ERR_KEYUNREADABLE"};

std::size_t CodePoints(const std::string& s) {
    std::size_t n = 0;
    for (unsigned char c : s)
        n += (c & 0xC0) != 0x80;
    return n;
}

bool ValidUtf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80                 ? 1
                        : c >= 0xF0 && c <= 0xF4 ? 4
                        : c >= 0xE0              ? 3
                        : c >= 0xC2              ? 2
                                                 : 0;
        if (n == 0 || i + n > s.size())
            return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        i += n;
    }
    return true;
}

class ShippedTexts : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists(PENDOCK_LOCALE_DB)) << PENDOCK_LOCALE_DB;
        db = std::make_unique<TSQLiteDatabase>(PENDOCK_LOCALE_DB);
    }
    // The language-wide text of key in group for lang; absent when there is none.
    std::optional<std::string> Text(const std::string& group, const std::string& key,
                                    const std::string& lang) {
        const TSQLiteTable t = db->GetTable(
            "SELECT Description FROM localize WHERE GroupID = ?1 AND ID = ?2 AND LangID = ?3"
            " AND CountryID IS NULL",
            {group, key, lang});
        if (t.Rows.size() != 1)
            return std::nullopt;
        return t.Rows[0][0];
    }
    std::unique_ptr<TSQLiteDatabase> db;
};

} // namespace

TEST_F(ShippedTexts, EveryLanguageHasEveryKeyOnce) {
    for (const std::string& lang : Languages) {
        for (const std::string& key : RestoreKeys) {
            const auto text = Text("Restore", key, lang);
            ASSERT_TRUE(text) << lang << " " << key;
            EXPECT_FALSE(text->empty()) << lang << " " << key;
        }
        for (const std::string& key : SkinKeys) {
            const auto text = Text("Skin", key, lang);
            ASSERT_TRUE(text) << lang << " " << key;
            EXPECT_FALSE(text->empty()) << lang << " " << key;
        }
    }
}

TEST_F(ShippedTexts, NoStrayRows) {
    // No two rows answer the same lookup, and every row belongs to a known key and language.
    EXPECT_TRUE(db->GetTable("SELECT ID FROM localize GROUP BY ID, GroupID, LangID, CountryID"
                             " HAVING count(*) > 1")
                    .Empty());
    std::set<std::string> known(RestoreKeys.begin(), RestoreKeys.end());
    known.insert(SkinKeys.begin(), SkinKeys.end());
    for (const TSQLiteRow& row :
         db->GetTable("SELECT ID, GroupID, LangID, CountryID FROM localize").Rows) {
        const std::string id = row[0].value_or("");
        EXPECT_TRUE(known.count(id)) << id;
        const bool skin = std::count(SkinKeys.begin(), SkinKeys.end(), id) > 0;
        EXPECT_EQ(row[1].value_or(""), skin ? "Skin" : "Restore") << id;
        EXPECT_TRUE(std::count(Languages.begin(), Languages.end(), row[2].value_or(""))) << id;
        if (row[3]) {
            EXPECT_EQ(row[3]->size(), 2u) << id;
        }
    }
}

TEST_F(ShippedTexts, PlaceholdersOnlyWhereTheyAreReplaced) {
    for (const TSQLiteRow& row :
         db->GetTable("SELECT ID, LangID, Description FROM localize").Rows) {
        const std::string id = row[0].value_or("");
        const std::string text = row[2].value_or("");
        const bool has = text.find("%Operation") != std::string::npos ||
                         text.find("%operation") != std::string::npos;
        EXPECT_EQ(has, SubstitutedKeys.count(id) > 0) << id << " " << row[1].value_or("");
        // Only the first of each placeholder is replaced; and no other '%' shows up raw.
        EXPECT_LE(std::count(text.begin(), text.end(), '%'), 1) << id;
        EXPECT_TRUE(ValidUtf8(text)) << id;
    }
}

TEST_F(ShippedTexts, TextsFitTheirPlaces) {
    // Rough character budgets for the labels: headings two lines, BRIEFING three lines
    // and WAITBROWSER seven lines of about 55 characters; captions and buttons short.
    const std::map<std::string, std::size_t> budget = {
        {"MESSAGE_BRIEFING", 80}, {"PLEASE_WAIT", 80},         {"MESSAGE_NOKEY", 80},
        {"MESSAGE_KEYFOUND", 80}, {"MESSAGE_WAITBROWSER", 80}, {"BRIEFING", 165},
        {"WAITBROWSER", 330},     {"CAPTION_UPGRADE", 60},     {"NEXT", 16},
        {"CANCEL", 16},           {"OPERATION_UPGRADE", 20},   {"MSG_BTN_YES", 12},
        {"MSG_BTN_NO", 12},       {"MSG_BTN_OK", 12},          {"MSG_CAP_CONFIRM", 30},
        {"MSG_CAP_ERROR", 30}};
    for (const std::string& lang : Languages) {
        const std::string word = Text("Restore", "OPERATION_UPGRADE", lang).value_or("");
        for (const auto& [key, limit] : budget) {
            const bool skin = key.rfind("MSG_", 0) == 0;
            std::string text = Text(skin ? "Skin" : "Restore", key, lang).value_or("");
            for (const char* ph : {"%Operation", "%operation"})
                if (auto p = text.find(ph); p != std::string::npos)
                    text.replace(p, 10, word);
            // WAITBROWSER: a blank line costs a line's worth of characters.
            std::size_t size = CodePoints(text);
            for (auto p = text.find("\\n"); p != std::string::npos; p = text.find("\\n", p + 2))
                size += 55 / 2;
            EXPECT_LE(size, limit) << lang << " " << key << ": " << text;
        }
    }
}

TEST(ShippedLocaleFile, NamesItalianAndTheWizardTextsComeOutInItalian) {
    std::string lang, country;
    ASSERT_TRUE(ReadLocaleFile(PENDOCK_LOCALE_XML, lang, country));
    EXPECT_EQ(lang, "it");
    EXPECT_EQ(country, "IT");

    TSQLocale loc;
    loc.InitLocalize(PENDOCK_LOCALE_DB, PENDOCK_LOCALE_XML);
    TStrData store;
    loc.LoadLocalizedStrings(&store, "", "", "Skin");
    EXPECT_EQ(store.Lines.size(), 5u);
    EXPECT_EQ(store.Value("MSG_BTN_YES"), "&Sì");
    EXPECT_EQ(store.Value("MSG_CAP_ERROR"), "Errore");
    loc.SetGroup("Restore");
    EXPECT_EQ(loc.GetString("NEXT"), "&Avanti");
    const std::string err = loc.GetString("ERR_CANNOTREADUSBINFO");
    EXPECT_NE(err.find("\r\n"), std::string::npos);
    EXPECT_EQ(err.find("\\n"), std::string::npos);

    // Swiss German has its own line where it writes without ß.
    loc.SetLanguage("de", "CH");
    EXPECT_NE(loc.GetString("WAITBROWSER").find("schliesst"), std::string::npos);
    loc.SetLanguage("de", "DE");
    EXPECT_NE(loc.GetString("WAITBROWSER").find("schließt"), std::string::npos);
}
