#pragma once
// Thin RAII layer over the SQLite C library: open a database file, run one statement and
// collect its rows, close.

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;

// An error of the engine. what() is the complete message shown to the user; the parts it is
// made of stay available.
class ESQLiteError : public std::runtime_error {
public:
    ESQLiteError(const std::string& message, int resultCode, std::string description,
                 std::string engineMessage)
        : std::runtime_error(message), FResultCode(resultCode),
          FDescription(std::move(description)), FEngineMessage(std::move(engineMessage)) {}

    // The engine's (extended) result code.
    int ResultCode() const { return FResultCode; }
    // The engine's description of the result code.
    const std::string& Description() const { return FDescription; }
    // The connection's own message; "unknown error" when there was no connection at all.
    const std::string& EngineMessage() const { return FEngineMessage; }

private:
    int FResultCode;
    std::string FDescription;
    std::string FEngineMessage;
};

// One column value: absent for NULL, otherwise the column read as (UTF-8) text.
using TSQLiteValue = std::optional<std::string>;
using TSQLiteRow = std::vector<TSQLiteValue>;

// All the rows of one statement, with the column names.
struct TSQLiteTable {
    std::vector<std::string> Columns;
    std::vector<TSQLiteRow> Rows;

    bool Empty() const { return Rows.empty(); }
};

// One connection. It has no mutex of its own: use it from one thread at a time.
class TSQLiteDatabase {
public:
    // Opens (creating when missing) the database file fileName, given in UTF-8.
    // Throws ESQLiteError with the message
    //   Failed to open database "<fileName>" : <engine message>
    explicit TSQLiteDatabase(const std::string& fileName);
    ~TSQLiteDatabase();
    TSQLiteDatabase(const TSQLiteDatabase&) = delete;
    TSQLiteDatabase& operator=(const TSQLiteDatabase&) = delete;

    const std::string& FileName() const { return FFileName; }

    // Prepares sql (one statement), binds params to ?1, ?2, ... as text, steps through all
    // rows and finalizes. Throws ESQLiteError with the message
    //   Error executing SQL.\rError [<code>]: <description>.\r"<sql>": <engine message>
    // Text after the first statement (other than blanks and a final ';') is refused.
    TSQLiteTable GetTable(const std::string& sql, const std::vector<std::string>& params = {});

    // Runs a statement that returns no rows of interest (schema, inserts).
    void Exec(const std::string& sql, const std::vector<std::string>& params = {}) {
        (void)GetTable(sql, params);
    }

private:
    [[noreturn]] void RaiseSQL(const std::string& sql, int rc) const;

    struct TCloser {
        void operator()(sqlite3* db) const;
    };
    std::unique_ptr<sqlite3, TCloser> FDb;
    std::string FFileName;
};
