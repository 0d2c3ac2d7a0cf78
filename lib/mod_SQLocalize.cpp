#include "mod_SQLocalize.h"

#include "SQLiteDb.h"
#include "mod_XMLDoc.h"

namespace {

const std::string NotFound = "#NOT_FOUND#";

// Every backslash-n pair becomes a line break (carriage return, line feed).
std::string ExpandLineBreaks(std::string text) {
    std::string::size_type pos = 0;
    while ((pos = text.find("\\n", pos)) != std::string::npos) {
        text.replace(pos, 2, "\r\n");
        pos += 2;
    }
    return text;
}

} // namespace

TSQLocale::TSQLocale() = default;

TSQLocale::~TSQLocale() = default;

void TSQLocale::InitLocalize(const std::string& dbName, const std::string& LocaleFileName) {
    sldb.reset();
    ReadLocaleFile(LocaleFileName, FCurrLang, FCurrCountry);
    FLocLang = FCurrLang;
    FLocCountry = FCurrCountry;
    FCurrGroup.clear();
    sldb = std::make_unique<TSQLiteDatabase>(dbName);
    // The texts are only read. Keeping the read lock once taken spares every statement the
    // lock round trip and the re-check of the file's header, which otherwise cost more than
    // the lookup itself. Setting the mode reads nothing, so a missing or broken file still
    // fails on the first lookup.
    sldb->Exec("PRAGMA locking_mode = EXCLUSIVE");
}

// The values are bound as parameters, never spliced into the text: a code such as "ID"
// would otherwise name a column, and a double quote would break the statement.
std::string TSQLocale::QueryDescription(const std::string& Lang, const std::string& Country,
                                        const std::string& Group, const std::string& ID) {
    TSQLiteTable table;
    if (!Country.empty())
        table = sldb->GetTable("SELECT Description FROM localize WHERE LangID = ?1"
                               " AND CountryID = ?2 AND GroupID = ?3 AND ID = ?4",
                               {Lang, Country, Group, ID});
    else
        table = sldb->GetTable("SELECT Description FROM localize WHERE LangID = ?1"
                               " AND CountryID IS NULL AND GroupID = ?2 AND ID = ?3",
                               {Lang, Group, ID});
    if (table.Empty())
        return NotFound;
    const TSQLiteValue& description = table.Rows.front().front();
    return ExpandLineBreaks(description.value_or(std::string()));
}

std::string TSQLocale::Lookup(const std::string& Lang, const std::string& Country,
                              const std::string& Group, const std::string& ID) {
    if (!sldb)
        return {};
    std::string result = QueryDescription(Lang, Country, Group, ID);
    if (result == NotFound)
        result = QueryDescription(Lang, std::string(), Group, ID);
    if (result == NotFound)
        result = QueryDescription(FLocLang, FLocCountry, Group, ID);
    if (result == NotFound)
        result = QueryDescription(FLocLang, std::string(), Group, ID);
    if (result == NotFound)
        return Lang + "/" + Country + ":" + Group + "/" + ID + "=" + NotFound;
    return result;
}

std::string TSQLocale::GetString(const std::string& ID) {
    return Lookup(FCurrLang, FCurrCountry, FCurrGroup, ID);
}

void TSQLocale::LoadLocalizedStrings(TStrData* StrData, const std::string& Lang,
                                     const std::string& Country, const std::string& Group) {
    if (!sldb || !StrData)
        return;
    StrData->Clear();
    const TSQLiteTable keys =
        sldb->GetTable("SELECT DISTINCT ID FROM LOCALIZE WHERE GROUPID = ?1", {Group});
    for (const TSQLiteRow& row : keys.Rows) {
        const std::string id = row.front().value_or(std::string());
        StrData->Add(id + "=" + Lookup(Lang, Country, Group, id));
    }
}
