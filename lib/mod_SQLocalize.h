#pragma once
// Locale string database: texts looked up by key, group, language and country in locale.db.

#include <memory>
#include <string>

#include "StrData.h"

class TSQLiteDatabase;

class TSQLocale {
public:
    TSQLocale();
    ~TSQLocale();
    TSQLocale(const TSQLocale&) = delete;
    TSQLocale& operator=(const TSQLocale&) = delete;

    // Closes an open database, reads the preference file into the current and locale
    // language and country, clears the group and opens dbName (created empty when missing).
    // Throws ESQLiteError (a std::runtime_error, SQLiteDb.h) when it cannot be opened.
    // The connection keeps its read lock on the file until it is closed.
    void InitLocalize(const std::string& dbName, const std::string& LocaleFileName);
    void SetGroup(const std::string& Group) { FCurrGroup = Group; }
    // Sets the current language and country; the locale (fall-back) ones stay.
    void SetLanguage(const std::string& Lang, const std::string& Country) {
        FCurrLang = Lang;
        FCurrCountry = Country;
    }
    // The text of ID for the current language, country and group: tried for (language,
    // country), (language, NULL country), then the same two for the locale language and
    // country; "lang/country:group/ID=#NOT_FOUND#" when none has it. Empty when no database
    // is open. Throws ESQLiteError when a statement fails (no table, not a database).
    std::string GetString(const std::string& ID);
    // Replaces StrData's lines with "KEY=text" for every key of Group. Throws on an SQL error.
    void LoadLocalizedStrings(TStrData* StrData, const std::string& Lang,
                              const std::string& Country, const std::string& Group);

    const std::string& LocLang() const { return FLocLang; }
    const std::string& LocCountry() const { return FLocCountry; }
    const std::string& CurrLang() const { return FCurrLang; }
    const std::string& CurrCountry() const { return FCurrCountry; }
    const std::string& CurrGroup() const { return FCurrGroup; }
    bool IsOpen() const { return sldb != nullptr; }

private:
    std::string QueryDescription(const std::string& Lang, const std::string& Country,
                                 const std::string& Group, const std::string& ID);
    std::string Lookup(const std::string& Lang, const std::string& Country,
                       const std::string& Group, const std::string& ID);

    std::unique_ptr<TSQLiteDatabase> sldb;
    std::string FLocLang;
    std::string FLocCountry;
    std::string FCurrLang;
    std::string FCurrCountry;
    std::string FCurrGroup;
};
