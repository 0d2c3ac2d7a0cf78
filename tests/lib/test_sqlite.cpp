// The thin SQLite layer: open, rows and values, bound parameters, error messages.

#include "SQLiteDb.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <functional>

namespace fs = std::filesystem;

namespace {

std::string Thrown(const std::function<void()>& f, int* code = nullptr) {
    try {
        f();
    } catch (const ESQLiteError& e) {
        if (code)
            *code = e.ResultCode();
        return e.what();
    }
    return "<nothing thrown>";
}

} // namespace

TEST(SQLiteDb, MissingFileIsCreatedEmptyOnOpen) {
    TTempDir folder;
    const std::string name = folder.File("new.db");
    ASSERT_FALSE(fs::exists(name));
    TSQLiteDatabase db(name);
    EXPECT_TRUE(fs::exists(name));
    EXPECT_EQ(fs::file_size(name), 0u);
    EXPECT_EQ(db.FileName(), name);
}

TEST(SQLiteDb, RowsCarryTextNullAndColumnNames) {
    TTempDir folder;
    TSQLiteDatabase db(folder.File("rows.db"));
    db.Exec("CREATE TABLE t (a TEXT, b TEXT, n INTEGER)");
    db.Exec("INSERT INTO t VALUES ('eins', NULL, 42), ('', 'Grüße – ✓', NULL)");

    const TSQLiteTable table = db.GetTable("SELECT a, b AS bee, n FROM t ORDER BY rowid");
    EXPECT_EQ(table.Columns, (std::vector<std::string>{"a", "bee", "n"}));
    ASSERT_EQ(table.Rows.size(), 2u);
    EXPECT_EQ(table.Rows[0][0], TSQLiteValue("eins"));
    EXPECT_EQ(table.Rows[0][1], std::nullopt);
    EXPECT_EQ(table.Rows[0][2], TSQLiteValue("42"));
    // An empty text is a value, not NULL.
    ASSERT_TRUE(table.Rows[1][0].has_value());
    EXPECT_EQ(*table.Rows[1][0], "");
    EXPECT_EQ(table.Rows[1][1], TSQLiteValue("Grüße – ✓"));
    EXPECT_EQ(table.Rows[1][2], std::nullopt);

    EXPECT_TRUE(db.GetTable("SELECT a FROM t WHERE 0").Empty());
}

TEST(SQLiteDb, TextWithEmbeddedNulIsKeptWhole) {
    TTempDir folder;
    TSQLiteDatabase db(folder.File("nul.db"));
    const std::string withNul("a\0b", 3);
    const TSQLiteTable table = db.GetTable("SELECT ?1", {withNul});
    ASSERT_EQ(table.Rows.size(), 1u);
    EXPECT_EQ(table.Rows[0][0], TSQLiteValue(withNul));
}

TEST(SQLiteDb, ParametersMatchAsTextWhateverTheyHold) {
    TTempDir folder;
    TSQLiteDatabase db(folder.File("params.db"));
    db.Exec("CREATE TABLE t (ID TEXT, v TEXT)");
    db.Exec("INSERT INTO t VALUES (?1, ?2)", {"ID", "column name"});
    db.Exec("INSERT INTO t VALUES (?1, ?2)", {"say \"hi\"; DROP TABLE t", "quotes"});
    db.Exec("INSERT INTO t VALUES (?1, ?2)", {"x", "other"});

    auto lookup = [&](const std::string& id) {
        const TSQLiteTable r = db.GetTable("SELECT v FROM t WHERE ID = ?1", {id});
        return r.Empty() ? std::string("<none>") : r.Rows[0][0].value_or("<null>");
    };
    EXPECT_EQ(lookup("ID"), "column name");
    EXPECT_EQ(lookup("say \"hi\"; DROP TABLE t"), "quotes");
    EXPECT_EQ(lookup("X"), "<none>"); // compared with case
    EXPECT_EQ(db.GetTable("SELECT count(*) FROM t").Rows[0][0], TSQLiteValue("3"));
}

TEST(SQLiteDb, FailedStatementGivesCodeDescriptionStatementAndMessage) {
    TTempDir folder;
    TSQLiteDatabase db(folder.File("err.db"));
    int code = 0;
    EXPECT_EQ(Thrown([&] { db.GetTable("SELECT Description FROM localize"); }, &code),
              "Error executing SQL.\rError [1]: SQL logic error.\r"
              "\"SELECT Description FROM localize\": no such table: localize");
    EXPECT_EQ(code, SQLITE_ERROR);

    db.Exec("CREATE TABLE u (k TEXT UNIQUE)");
    db.Exec("INSERT INTO u VALUES ('a')");
    try {
        db.Exec("INSERT INTO u VALUES ('a')");
        FAIL() << "duplicate accepted";
    } catch (const ESQLiteError& e) {
        EXPECT_EQ(e.ResultCode(), SQLITE_CONSTRAINT);
        EXPECT_EQ(e.Description(), "constraint failed");
        EXPECT_EQ(e.EngineMessage(), "UNIQUE constraint failed: u.k");
    }
}

TEST(SQLiteDb, OpenFailureNamesTheFileAndTheEngineMessage) {
    TTempDir folder;
    const std::string name = folder.File("no-such-folder/locale.db");
    int code = 0;
    EXPECT_EQ(Thrown([&] { TSQLiteDatabase db(name); }, &code),
              "Failed to open database \"" + name + "\" : unable to open database file");
    EXPECT_EQ(code, SQLITE_CANTOPEN);

    // A folder is no database file either.
    EXPECT_EQ(Thrown([&] { TSQLiteDatabase db(folder.Path().string()); }),
              "Failed to open database \"" + folder.Path().string() +
                  "\" : unable to open database file");
}

TEST(SQLiteDb, OneStatementOnly) {
    TTempDir folder;
    TSQLiteDatabase db(folder.File("one.db"));
    db.Exec("CREATE TABLE t (a TEXT)");
    int code = 0;
    const std::string msg =
        Thrown([&] { db.Exec("INSERT INTO t VALUES ('1'); DROP TABLE t"); }, &code);
    EXPECT_EQ(code, SQLITE_MISUSE);
    EXPECT_NE(msg.find("more than one statement"), std::string::npos) << msg;
    // The first statement did not run either, and the table is still there.
    EXPECT_EQ(db.GetTable("SELECT count(*) FROM t").Rows[0][0], TSQLiteValue("0"));

    // A closing semicolon, blanks and comments are fine.
    EXPECT_EQ(db.GetTable("SELECT 7; \n -- done\n").Rows[0][0], TSQLiteValue("7"));
    EXPECT_TRUE(db.GetTable("  -- nothing at all\n").Empty());
}

TEST(SQLiteDb, MoreParametersThanPlaceholdersIsAnError) {
    TTempDir folder;
    TSQLiteDatabase db(folder.File("p.db"));
    int code = 0;
    Thrown([&] { db.GetTable("SELECT ?1", {"a", "b"}); }, &code);
    EXPECT_EQ(code, SQLITE_RANGE);
    // Fewer are NULL, as the engine has it.
    EXPECT_EQ(db.GetTable("SELECT ?1, ?2", {"a"}).Rows[0][1], std::nullopt);
}

TEST(SQLiteDb, RelativeNameThatLooksLikeAUriIsAFile) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows file names cannot hold ':' or '?'";
#endif
    TTempDir folder;
    const fs::path before = fs::current_path();
    fs::current_path(folder.Path());
    {
        TSQLiteDatabase db("file:odd.db?mode=ro");
        db.Exec("CREATE TABLE t (a TEXT)"); // read-only would refuse this
    }
    fs::current_path(before);
    EXPECT_TRUE(fs::exists(folder.Path() / "file:odd.db?mode=ro"));
}
