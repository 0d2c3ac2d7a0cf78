#pragma once
// A private folder with a locale.db and a locale.xml made for one test; removed afterwards.

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/TempDir.h"

struct TLocaleRow {
    std::string ID;
    std::string GroupID;
    std::string LangID;
    const char* CountryID; // nullptr: NULL
    std::string Description;
};

class TLocaleFolder {
public:
    // The folder with its trailing separator, as the program folder is given.
    std::string Folder() const { return FolderPath.string() + "/"; }

    void WriteLocaleXml(const std::string& code) const {
        std::ofstream(FolderPath / "locale.xml")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<localization><locale>" << code
            << "</locale></localization>\n";
    }

    // A new locale.db holding `rows`; withTable false leaves the database without the table.
    void WriteLocaleDb(const std::vector<TLocaleRow>& rows, bool withTable = true) const {
        std::filesystem::remove(FolderPath / "locale.db");
        sqlite3* db = nullptr;
        if (sqlite3_open((FolderPath / "locale.db").string().c_str(), &db) != SQLITE_OK) {
            sqlite3_close(db);
            throw std::runtime_error("cannot create locale.db");
        }
        struct TCloser {
            sqlite3* Db;
            ~TCloser() { sqlite3_close(Db); }
        } closer{db};
        Exec(db, withTable ? "CREATE TABLE localize (ID TEXT, GroupID TEXT, LangID TEXT, "
                             "CountryID TEXT, Description TEXT)"
                           : "CREATE TABLE other (x TEXT)");
        sqlite3_stmt* st = nullptr;
        Exec(db, "BEGIN");
        if (withTable) {
            sqlite3_prepare_v2(db, "INSERT INTO localize VALUES (?, ?, ?, ?, ?)", -1, &st, nullptr);
            for (const TLocaleRow& r : rows) {
                sqlite3_bind_text(st, 1, r.ID.c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(st, 2, r.GroupID.c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(st, 3, r.LangID.c_str(), -1, SQLITE_TRANSIENT);
                if (r.CountryID)
                    sqlite3_bind_text(st, 4, r.CountryID, -1, SQLITE_TRANSIENT);
                else
                    sqlite3_bind_null(st, 4);
                sqlite3_bind_text(st, 5, r.Description.c_str(), -1, SQLITE_TRANSIENT);
                if (sqlite3_step(st) != SQLITE_DONE) {
                    sqlite3_finalize(st);
                    throw std::runtime_error("insert failed");
                }
                sqlite3_reset(st);
            }
            sqlite3_finalize(st);
        }
        Exec(db, "COMMIT");
    }

    TTempDir Tmp{"pendock-wizard"};
    const std::filesystem::path FolderPath = Tmp.Path();

private:
    static void Exec(sqlite3* db, const char* sql) {
        char* err = nullptr;
        if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
            std::string msg = err ? err : "?";
            sqlite3_free(err);
            throw std::runtime_error(msg);
        }
    }
};

// The wizard's texts in Italian (group Restore) and the dialog texts (group Skin).
inline std::vector<TLocaleRow> WizardRows(bool withSkin = true) {
    std::vector<TLocaleRow> rows = {
        {"CAPTION_UPGRADE", "Restore", "it", nullptr, "Aggiornamento chiave"},
        {"MESSAGE_BRIEFING", "Restore", "it", nullptr, "Benvenuto"},
        {"BRIEFING", "Restore", "it", nullptr, "Per l'%operation: %Operation e %Operation."},
        {"NEXT", "Restore", "it", nullptr, "&Avanti"},
        {"PLEASE_WAIT", "Restore", "it", nullptr, "Attendere"},
        {"MESSAGE_NOKEY", "Restore", "it", nullptr, "Inserire la chiave"},
        {"MESSAGE_KEYFOUND", "Restore", "it", nullptr, "Chiave trovata"},
        {"ERR_CANNOTREADUSBINFO", "Restore", "it", nullptr, "Errore di %operation"},
        {"ERR_KEYUNREADABLE", "Restore", "it", nullptr, "Chiave illeggibile per l'%operation"},
        {"ERR_CANNOTOPENKEY", "Restore", "it", nullptr, "Unità USB che non si apre"},
        {"CANCEL", "Restore", "it", nullptr, "&Annulla"},
        {"MESSAGE_WAITBROWSER", "Restore", "it", nullptr, "Apertura pagina di %Operation"},
        {"WAITBROWSER", "Restore", "it", nullptr, "Testo %Operation attesa\\nseconda riga"},
        {"MESSAGE_WANTEXIT", "Restore", "it", nullptr, "Uscire dall'%Operation?"},
        {"OPERATION_UPGRADE", "Restore", "it", nullptr, "Ägg Ünd ÇA"},
    };
    if (withSkin) {
        rows.push_back({"MSG_CAP_ERROR", "Skin", "it", nullptr, "Errore"});
        rows.push_back({"MSG_CAP_CONFIRM", "Skin", "it", nullptr, "Conferma"});
        rows.push_back({"MSG_BTN_YES", "Skin", "it", nullptr, "&Sì"});
        rows.push_back({"MSG_BTN_NO", "Skin", "it", nullptr, "&No"});
        rows.push_back({"MSG_BTN_OK", "Skin", "it", nullptr, "Va bene"});
    }
    return rows;
}
