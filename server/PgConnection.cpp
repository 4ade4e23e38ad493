#include "PgConnection.h"

#include <libpq-fe.h>

#include <cstdlib>

namespace tidewell::webfolder {
namespace {

// pg_advisory_lock's key for the schema: "tidewell" in ASCII.
constexpr std::int64_t kSchemaLock = 0x7469646577656c6c;

// The server's notices ("already exists, skipping") are not for the service's log.
void IgnoreNotice(void*, const char*) {}

std::string ErrorText(const PGconn* connection) {
    std::string text = connection ? PQerrorMessage(connection) : "out of memory";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace

PgResult::~PgResult() {
    if (result_) PQclear(result_);
}

int PgResult::Rows() const {
    return PQntuples(result_);
}

bool PgResult::IsNull(int row, int column) const {
    return PQgetisnull(result_, row, column) != 0;
}

std::string PgResult::Text(int row, int column) const {
    return std::string(PQgetvalue(result_, row, column),
                       static_cast<std::size_t>(PQgetlength(result_, row, column)));
}

std::int64_t PgResult::Int(int row, int column) const {
    return std::strtoll(PQgetvalue(result_, row, column), nullptr, 10);
}

std::int64_t PgResult::Changed() const {
    return std::strtoll(PQcmdTuples(result_), nullptr, 10);
}

PgConnection::PgConnection(const std::string& uri) {
    const char* keys[] = {"dbname", "connect_timeout", "application_name", "client_encoding",
                          nullptr};
    const char* values[] = {uri.c_str(), "10", "tidewell-webfolder", "UTF8", nullptr};
    connection_ = PQconnectdbParams(keys, values, /*expand_dbname=*/1);
    if (connection_ == nullptr || PQstatus(connection_) != CONNECTION_OK) {
        const std::string error = ErrorText(connection_);
        if (connection_) PQfinish(connection_);
        connection_ = nullptr;
        throw PgError("cannot reach the index at " + uri + ": " + error, "08001");
    }
    PQsetNoticeProcessor(connection_, &IgnoreNotice, nullptr);
}

PgConnection::~PgConnection() {
    if (connection_) PQfinish(connection_);
}

bool PgConnection::Healthy() const {
    return connection_ && PQstatus(connection_) == CONNECTION_OK;
}

void PgConnection::Reconnect() {
    PQreset(connection_);
    if (!Healthy())
        throw PgError("cannot reach the index again: " + ErrorText(connection_), "08001");
}

PgResult PgConnection::Check(PGresult* result, std::string_view sql) {
    PgResult held(result);
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return held;
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    std::string text = result ? PQresultErrorMessage(result) : ErrorText(connection_);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    if (text.empty()) text = ErrorText(connection_);
    throw PgError("the index refused " + std::string(sql.substr(0, 60)) + "...: " + text,
                  state ? state : (Healthy() ? "" : "08006"));
}

PgResult PgConnection::Exec(std::string_view sql, std::initializer_list<PgParam> params) {
    return Exec(sql, std::vector<PgParam>(params));
}

PgResult PgConnection::Exec(std::string_view sql, const std::vector<PgParam>& params) {
    std::vector<const char*> values;
    for (const PgParam& param : params) values.push_back(param.Data());
    const std::string text(sql);
    return Check(PQexecParams(connection_, text.c_str(), static_cast<int>(values.size()), nullptr,
                              values.data(), nullptr, nullptr, 0),
                 sql);
}

void PgConnection::Script(std::string_view sql) {
    const std::string text(sql);
    Check(PQexec(connection_, text.c_str()), sql);
}

PgTransaction::PgTransaction(PgConnection& connection, std::string_view begin)
    : connection_(connection) {
    connection_.Exec(begin);
}

PgTransaction::~PgTransaction() {
    if (!open_) return;
    try {
        connection_.Exec("ROLLBACK");
    } catch (...) {
        // A broken connection has no transaction left to end.
    }
}

void PgTransaction::Commit() {
    connection_.Exec("COMMIT");
    open_ = false;
}

PgPool::PgPool(std::string uri, std::size_t size)
    : uri_(std::move(uri)), size_(std::max<std::size_t>(size, 1)), opened_(1) {
    idle_.push_back(std::make_unique<PgConnection>(uri_));
}

PgPool::Lease PgPool::Borrow() {
    std::unique_lock lock(mutex_);
    if (idle_.empty() && opened_ < size_) {
        ++opened_;
        lock.unlock();
        try {
            return Lease(*this, std::make_unique<PgConnection>(uri_));
        } catch (...) {
            const std::lock_guard again(mutex_);
            --opened_;
            throw;
        }
    }
    returned_.wait(lock, [this] { return !idle_.empty(); });
    auto connection = std::move(idle_.back());
    idle_.pop_back();
    lock.unlock();
    if (!connection->Healthy()) {
        try {
            connection->Reconnect();
        } catch (...) {
            // The connection goes back broken; the next borrower tries again.
            Lease(*this, std::move(connection));
            throw;
        }
    }
    return Lease(*this, std::move(connection));
}

PgPool::Lease::~Lease() {
    if (!connection_) return;
    {
        std::lock_guard lock(pool_->mutex_);
        pool_->idle_.push_back(std::move(connection_));
    }
    pool_->returned_.notify_one();
}

void MigrateSchema(PgConnection& connection) {
    connection.Exec("SELECT pg_advisory_lock($1)", {kSchemaLock});
    struct Unlock {
        PgConnection& connection;
        ~Unlock() {
            try {
                connection.Exec("SELECT pg_advisory_unlock($1)", {kSchemaLock});
            } catch (...) {
                // The lock ends with the session anyway.
            }
        }
    } unlock{connection};
    connection.Script(
        "CREATE TABLE IF NOT EXISTS tidewell_schema(version integer PRIMARY KEY, name text NOT "
        "NULL, applied timestamptz NOT NULL DEFAULT now())");
    const PgResult current =
        connection.Exec("SELECT COALESCE(MAX(version), 0) FROM tidewell_schema");
    const std::int64_t version = current.Int(0, 0);
    const auto& migrations = PgMigrations();
    if (!migrations.empty() && version > migrations.back().version) {
        throw Exception("the index was made by a newer version of this program (schema " +
                        std::to_string(version) + ", this one knows " +
                        std::to_string(migrations.back().version) + ")");
    }
    for (const PgMigration& migration : migrations) {
        if (migration.version <= version) continue;
        PgTransaction transaction(connection);
        connection.Script(migration.sql);
        connection.Exec("INSERT INTO tidewell_schema(version, name) VALUES($1, $2)",
                        {migration.version, migration.name});
        transaction.Commit();
    }
}

}  // namespace tidewell::webfolder
