// Lookups of the locale string database: found at the first attempt, at the fourth, not
// found, and the loading of the "Skin" group. Every statement is prepared and finished
// inside the call, so these figures include the engine's prepare.

#include "SQLiteDb.h"
#include "mod_SQLocalize.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace {

// A database shaped like the shipped one (five languages, the wizard's and the dialog's keys,
// a country line per key for Italy), in a temporary folder removed at exit.
class TBenchLocale {
public:
    TBenchLocale() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "pendock-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        FFolder = pattern;
        const std::string dbName = (FFolder / "locale.db").string();
        const std::string xmlName = (FFolder / "locale.xml").string();
        {
            TSQLiteDatabase db(dbName);
            db.Exec("CREATE TABLE localize (ID TEXT NOT NULL, GroupID TEXT NOT NULL,"
                    " LangID TEXT NOT NULL, CountryID TEXT, Description TEXT)");
            db.Exec("CREATE INDEX localize_lookup ON localize (GroupID, ID, LangID, CountryID)");
            db.Exec("BEGIN");
            const char* restore[] = {"CAPTION_UPGRADE",  "MESSAGE_BRIEFING",
                                     "BRIEFING",         "NEXT",
                                     "PLEASE_WAIT",      "MESSAGE_NOKEY",
                                     "MESSAGE_KEYFOUND", "ERR_CANNOTREADUSBINFO",
                                     "CANCEL",           "MESSAGE_WAITBROWSER",
                                     "WAITBROWSER",      "MESSAGE_WANTEXIT",
                                     "OPERATION_UPGRADE"};
            const char* skin[] = {"MSG_BTN_YES", "MSG_BTN_NO", "MSG_BTN_OK", "MSG_CAP_CONFIRM",
                                  "MSG_CAP_ERROR"};
            const std::string text(120, 't');
            for (const char* lang : {"it", "en", "de", "fr", "es"}) {
                for (const char* key : restore)
                    db.Exec("INSERT INTO localize VALUES (?1, 'Restore', ?2, NULL, ?3)",
                            {key, lang, text + "\\n" + text});
                for (const char* key : skin)
                    db.Exec("INSERT INTO localize VALUES (?1, 'Skin', ?2, NULL, ?3)",
                            {key, lang, "&Text"});
            }
            for (const char* key : restore)
                db.Exec("INSERT INTO localize VALUES (?1, 'Restore', 'it', 'IT', ?2)", {key, text});
            db.Exec("COMMIT");
        }
        std::ofstream(xmlName) << "<?xml version=\"1.0\"?><localization><locale>it-IT</locale>"
                                  "</localization>";
        Locale.InitLocalize(dbName, xmlName);
        Locale.SetGroup("Restore");
    }
    ~TBenchLocale() {
        std::error_code ec;
        std::filesystem::remove_all(FFolder, ec);
    }

    TSQLocale Locale;

private:
    std::filesystem::path FFolder;
};

TBenchLocale& Bench() {
    static TBenchLocale bench;
    return bench;
}

void CheckText(benchmark::State& state, const std::string& text, bool found) {
    if ((text.find("#NOT_FOUND#") == std::string::npos) != found || text.empty())
        state.SkipWithError(("unexpected text: " + text.substr(0, 60)).c_str());
}

// it-IT has its own line: the first statement finds it.
void BM_GetString_FirstAttempt(benchmark::State& state) {
    TSQLocale& loc = Bench().Locale;
    loc.SetLanguage("it", "IT");
    std::string text;
    for (auto _ : state) {
        text = loc.GetString("MESSAGE_NOKEY");
        benchmark::DoNotOptimize(text);
    }
    CheckText(state, text, true);
}
BENCHMARK(BM_GetString_FirstAttempt);

// Current xx-YY has no lines; nor has it-IT for this key: the locale language serves it.
void BM_GetString_FourthAttempt(benchmark::State& state) {
    TSQLocale& loc = Bench().Locale;
    loc.SetGroup("Skin");
    loc.SetLanguage("xx", "YY");
    std::string text;
    for (auto _ : state) {
        text = loc.GetString("MSG_BTN_YES");
        benchmark::DoNotOptimize(text);
    }
    CheckText(state, text, true);
    loc.SetGroup("Restore");
}
BENCHMARK(BM_GetString_FourthAttempt);

void BM_GetString_NotFound(benchmark::State& state) {
    TSQLocale& loc = Bench().Locale;
    loc.SetLanguage("it", "IT");
    std::string text;
    for (auto _ : state) {
        text = loc.GetString("MISSING_KEY");
        benchmark::DoNotOptimize(text);
    }
    CheckText(state, text, false);
}
BENCHMARK(BM_GetString_NotFound);

void BM_LoadLocalizedStrings_Skin(benchmark::State& state) {
    TSQLocale& loc = Bench().Locale;
    TStrData store;
    for (auto _ : state) {
        loc.LoadLocalizedStrings(&store, "", "", "Skin");
        benchmark::DoNotOptimize(store.Lines.data());
    }
    if (store.Lines.size() != 5 || store.Value("MSG_BTN_YES") != "&Text")
        state.SkipWithError("unexpected store content");
}
BENCHMARK(BM_LoadLocalizedStrings_Skin);

} // namespace
