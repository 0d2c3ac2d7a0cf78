#include "SQLiteDb.h"

#include <sqlite3.h>

#include <cstring>

namespace {

struct TStmtFinalizer {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using TStmt = std::unique_ptr<sqlite3_stmt, TStmtFinalizer>;

std::string ErrorText(int rc) {
    const char* s = sqlite3_errstr(rc);
    return s ? s : "unknown error";
}

std::string ExecMessage(const std::string& sql, int rc, const std::string& description,
                        const std::string& engineMessage) {
    return "Error executing SQL.\rError [" + std::to_string(rc) + "]: " + description + ".\r\"" +
           sql + "\": " + engineMessage;
}

// True when text holds nothing but blanks, semicolons and comments, as the engine reads it.
bool OnlyTrivia(sqlite3* db, const char* text) {
    while (*text) {
        sqlite3_stmt* raw = nullptr;
        const char* tail = nullptr;
        if (sqlite3_prepare_v2(db, text, -1, &raw, &tail) != SQLITE_OK)
            return false;
        TStmt stmt(raw);
        if (stmt)
            return false;
        if (tail == text || tail == nullptr)
            return true;
        text = tail;
    }
    return true;
}

// Memory statistics cost a global mutex round trip per allocation, and preparing a statement
// allocates a lot; nothing here reads them. This must come before the library starts.
void InitLibrary() {
    static const bool initialized = [] {
        sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
        sqlite3_initialize();
        return true;
    }();
    (void)initialized;
}

} // namespace

void TSQLiteDatabase::TCloser::operator()(sqlite3* db) const {
    sqlite3_close_v2(db);
}

TSQLiteDatabase::TSQLiteDatabase(const std::string& fileName) : FFileName(fileName) {
    // The library reads names starting with "file:" as URIs and ":memory:" as a memory
    // database; a relative file of such a name is meant as a file.
    std::string openName = fileName;
    if (openName.rfind("file:", 0) == 0 || openName == ":memory:")
        openName = "./" + openName;

    InitLibrary();
    // A connection is used by one thread at a time (the object is not shared), so it needs
    // no mutex of its own.
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(openName.c_str(), &raw,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    FDb.reset(raw);
    if (rc != SQLITE_OK || !raw) {
        const std::string engineMessage = raw ? sqlite3_errmsg(raw) : "unknown error";
        FDb.reset();
        throw ESQLiteError("Failed to open database \"" + fileName + "\" : " + engineMessage, rc,
                           ErrorText(rc), engineMessage);
    }
}

TSQLiteDatabase::~TSQLiteDatabase() = default;

void TSQLiteDatabase::RaiseSQL(const std::string& sql, int rc) const {
    const std::string description = ErrorText(rc);
    const std::string engineMessage = sqlite3_errmsg(FDb.get());
    throw ESQLiteError(ExecMessage(sql, rc, description, engineMessage), rc, description,
                       engineMessage);
}

TSQLiteTable TSQLiteDatabase::GetTable(const std::string& sql,
                                       const std::vector<std::string>& params) {
    TSQLiteTable table;
    sqlite3* db = FDb.get();

    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()) + 1, &raw, &tail);
    TStmt stmt(raw);
    if (rc != SQLITE_OK)
        RaiseSQL(sql, rc);
    if (tail && !OnlyTrivia(db, tail)) {
        const std::string description = ErrorText(SQLITE_MISUSE);
        const std::string engineMessage = "more than one statement";
        throw ESQLiteError(ExecMessage(sql, SQLITE_MISUSE, description, engineMessage),
                           SQLITE_MISUSE, description, engineMessage);
    }
    if (!stmt) // blanks or comments only
        return table;

    const int parameterCount = sqlite3_bind_parameter_count(stmt.get());
    for (size_t i = 0; i < params.size(); ++i) {
        if (static_cast<int>(i) >= parameterCount) {
            rc = SQLITE_RANGE;
            const std::string description = ErrorText(rc);
            const std::string engineMessage =
                "too many parameters: " + std::to_string(params.size()) + " for " +
                std::to_string(parameterCount);
            throw ESQLiteError(ExecMessage(sql, rc, description, engineMessage), rc, description,
                               engineMessage);
        }
        rc = sqlite3_bind_text(stmt.get(), static_cast<int>(i) + 1, params[i].data(),
                               static_cast<int>(params[i].size()), SQLITE_TRANSIENT);
        if (rc != SQLITE_OK)
            RaiseSQL(sql, rc);
    }

    const int columnCount = sqlite3_column_count(stmt.get());
    table.Columns.reserve(columnCount);
    for (int c = 0; c < columnCount; ++c) {
        const char* name = sqlite3_column_name(stmt.get(), c);
        table.Columns.emplace_back(name ? name : "");
    }

    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
        TSQLiteRow& row = table.Rows.emplace_back();
        row.reserve(columnCount);
        for (int c = 0; c < columnCount; ++c) {
            if (sqlite3_column_type(stmt.get(), c) == SQLITE_NULL) {
                row.emplace_back(std::nullopt);
                continue;
            }
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), c));
            const int bytes = sqlite3_column_bytes(stmt.get(), c);
            if (!text && sqlite3_errcode(db) == SQLITE_NOMEM)
                RaiseSQL(sql, SQLITE_NOMEM);
            row.emplace_back(text ? std::string(text, static_cast<size_t>(bytes)) : std::string());
        }
    }
    if (rc != SQLITE_DONE)
        RaiseSQL(sql, rc);
    return table;
}
