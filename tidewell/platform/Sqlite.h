#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Error.h"

namespace tidewell {

// An SQLite error with the engine's own text.
class SqliteError : public Exception {
public:
    SqliteError(const std::string& what, int code) : Exception(what), code_(code) {}
    int code() const { return code_; }

private:
    int code_;
};

class SqliteStatement;

// Owns one SQLite connection.
class SqliteDatabase {
public:
    // flags as for sqlite3_open_v2; raises SqliteError when the file can't be opened.
    SqliteDatabase(const std::filesystem::path& file, int flags);
    SqliteDatabase(SqliteDatabase&& other) noexcept;
    SqliteDatabase& operator=(SqliteDatabase&&) = delete;
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;
    ~SqliteDatabase();

    sqlite3* get() const { return db_; }
    void Execute(std::string_view sql);  // one or more statements without results
    SqliteStatement Prepare(std::string_view sql);
    [[noreturn]] void Fail(int code) const;

private:
    sqlite3* db_ = nullptr;
};

// Owns one prepared statement; binds are 1-based, columns 0-based.
class SqliteStatement {
public:
    SqliteStatement(const SqliteDatabase& db, std::string_view sql);
    SqliteStatement(SqliteStatement&& other) noexcept;
    SqliteStatement& operator=(SqliteStatement&&) = delete;
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;
    ~SqliteStatement();

    SqliteStatement& Bind(int index, std::string_view text);
    SqliteStatement& Bind(int index, std::int64_t value);
    SqliteStatement& BindNull(int index);
    bool Step();  // true when a row is ready
    void Run();   // steps to the end
    void Reset();

    int ColumnCount() const;
    bool IsNull(int column) const;
    std::string ColumnText(int column) const;
    std::int64_t ColumnInt(int column) const;
    std::string ColumnName(int column) const;
    sqlite3_stmt* get() const { return stmt_; }

private:
    const SqliteDatabase* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

// Begins a transaction and rolls it back unless Commit() was called.
class SqliteTransaction {
public:
    explicit SqliteTransaction(SqliteDatabase& db, std::string_view begin = "BEGIN IMMEDIATE");
    SqliteTransaction(const SqliteTransaction&) = delete;
    SqliteTransaction& operator=(const SqliteTransaction&) = delete;
    ~SqliteTransaction();
    void Commit();

private:
    SqliteDatabase& db_;
    bool open_ = true;
};

}  // namespace tidewell
