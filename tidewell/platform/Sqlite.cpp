#include "platform/Sqlite.h"

#include <utility>

namespace tidewell {

SqliteDatabase::SqliteDatabase(const std::filesystem::path& file, int flags) {
    const int rc = sqlite3_open_v2(file.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        sqlite3_close(db_);
        db_ = nullptr;
        throw SqliteError(message + ": " + file.string(), rc);
    }
    sqlite3_extended_result_codes(db_, 1);
}

SqliteDatabase::SqliteDatabase(SqliteDatabase&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)) {}

SqliteDatabase::~SqliteDatabase() { sqlite3_close_v2(db_); }

void SqliteDatabase::Execute(std::string_view sql) {
    const std::string text(sql);
    char* error = nullptr;
    const int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        const std::string message = error ? error : sqlite3_errstr(rc);
        sqlite3_free(error);
        throw SqliteError(message, rc);
    }
}

SqliteStatement SqliteDatabase::Prepare(std::string_view sql) { return SqliteStatement(*this, sql); }

void SqliteDatabase::Fail(int code) const { throw SqliteError(sqlite3_errmsg(db_), code); }

SqliteStatement::SqliteStatement(const SqliteDatabase& db, std::string_view sql) : db_(&db) {
    const int rc = sqlite3_prepare_v2(db.get(), sql.data(), static_cast<int>(sql.size()), &stmt_,
                                      nullptr);
    if (rc != SQLITE_OK) db.Fail(rc);
}

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : db_(other.db_), stmt_(std::exchange(other.stmt_, nullptr)) {}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(stmt_); }

SqliteStatement& SqliteStatement::Bind(int index, std::string_view text) {
    const int rc = sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                                     SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) db_->Fail(rc);
    return *this;
}

SqliteStatement& SqliteStatement::Bind(int index, std::int64_t value) {
    const int rc = sqlite3_bind_int64(stmt_, index, value);
    if (rc != SQLITE_OK) db_->Fail(rc);
    return *this;
}

SqliteStatement& SqliteStatement::BindNull(int index) {
    const int rc = sqlite3_bind_null(stmt_, index);
    if (rc != SQLITE_OK) db_->Fail(rc);
    return *this;
}

bool SqliteStatement::Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    db_->Fail(rc);
}

void SqliteStatement::Run() {
    while (Step()) {
    }
}

void SqliteStatement::Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

int SqliteStatement::ColumnCount() const { return sqlite3_column_count(stmt_); }

bool SqliteStatement::IsNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

std::string SqliteStatement::ColumnText(int column) const {
    const auto* text = sqlite3_column_text(stmt_, column);
    if (text == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
}

std::int64_t SqliteStatement::ColumnInt(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

std::string SqliteStatement::ColumnName(int column) const {
    const char* name = sqlite3_column_name(stmt_, column);
    return name ? name : "";
}

SqliteTransaction::SqliteTransaction(SqliteDatabase& db, std::string_view begin) : db_(db) {
    db_.Execute(begin);
}

SqliteTransaction::~SqliteTransaction() {
    if (open_) {
        try {
            db_.Execute("ROLLBACK");
        } catch (...) {
            // Nothing to do: the engine rolls back on its own when the transaction was lost.
        }
    }
}

void SqliteTransaction::Commit() {
    db_.Execute("COMMIT");
    open_ = false;
}

}  // namespace tidewell
