#pragma once

#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Error.h"

typedef struct pg_conn PGconn;
typedef struct pg_result PGresult;

namespace tidewell::webfolder {

// A statement PostgreSQL refused, or a connection that broke.
class PgError : public Exception {
public:
    PgError(const std::string& what, std::string sqlState)
        : Exception(what), sqlState_(std::move(sqlState)) {}
    const std::string& SqlState() const { return sqlState_; }

private:
    std::string sqlState_;
};

// One parameter of a statement, sent as text: a string, a number, or NULL.
class PgParam {
public:
    PgParam(std::string_view text) : text_(std::string(text)) {}
    PgParam(const char* text) : text_(std::string(text)) {}
    PgParam(const std::string& text) : text_(text) {}
    PgParam(std::int64_t number) : text_(std::to_string(number)) {}
    PgParam(int number) : text_(std::to_string(number)) {}
    PgParam(bool flag) : text_(flag ? "t" : "f") {}
    PgParam(std::nullopt_t) {}
    const char* Data() const { return text_ ? text_->c_str() : nullptr; }

private:
    std::optional<std::string> text_;
};

// The rows a statement gave.
class PgResult {
public:
    explicit PgResult(PGresult* result) : result_(result) {}
    PgResult(PgResult&& other) noexcept : result_(std::exchange(other.result_, nullptr)) {}
    PgResult& operator=(PgResult&&) = delete;
    PgResult(const PgResult&) = delete;
    PgResult& operator=(const PgResult&) = delete;
    ~PgResult();

    int Rows() const;
    bool IsNull(int row, int column) const;
    std::string Text(int row, int column) const;
    std::int64_t Int(int row, int column) const;
    // Rows a command changed.
    std::int64_t Changed() const;

private:
    PGresult* result_;
};

// One connection. The URI names server, user and database; the password comes from libpq's own
// sources (PGPASSWORD, PGPASSFILE or ~/.pgpass), never from the command line.
class PgConnection {
public:
    explicit PgConnection(const std::string& uri);
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;
    ~PgConnection();

    PgResult Exec(std::string_view sql, std::initializer_list<PgParam> params = {});
    PgResult Exec(std::string_view sql, const std::vector<PgParam>& params);
    // Statements without parameters or rows, several at once.
    void Script(std::string_view sql);
    // False once the server has gone; Reconnect tries again.
    bool Healthy() const;
    void Reconnect();

private:
    PgResult Check(PGresult* result, std::string_view sql);
    PGconn* connection_ = nullptr;
};

// Begins a transaction and rolls it back unless Commit() was called.
class PgTransaction {
public:
    explicit PgTransaction(PgConnection& connection, std::string_view begin = "BEGIN");
    PgTransaction(const PgTransaction&) = delete;
    PgTransaction& operator=(const PgTransaction&) = delete;
    ~PgTransaction();
    void Commit();

private:
    PgConnection& connection_;
    bool open_ = true;
};

// Connections lent out one at a time, opened when requests first overlap, up to size; one
// found broken (the server restarted) is connected again when next lent.
class PgPool {
public:
    PgPool(std::string uri, std::size_t size);

    class Lease {
    public:
        Lease(PgPool& pool, std::unique_ptr<PgConnection> connection)
            : pool_(&pool), connection_(std::move(connection)) {}
        Lease(Lease&&) = default;
        Lease& operator=(Lease&&) = delete;
        ~Lease();
        PgConnection& operator*() const { return *connection_; }
        PgConnection* operator->() const { return connection_.get(); }

    private:
        PgPool* pool_;
        std::unique_ptr<PgConnection> connection_;
    };

    Lease Borrow();
    const std::string& Uri() const { return uri_; }

private:
    std::string uri_;
    std::size_t size_;
    std::size_t opened_ = 0;
    std::mutex mutex_;
    std::condition_variable returned_;
    std::vector<std::unique_ptr<PgConnection>> idle_;
};

// Brings the database's tables up to what this program knows, with the versioned SQL kept in
// server/migrations/postgresql, each version in a transaction of its own. Instances starting
// together take turns through an advisory lock, so each version runs once. Raises Exception for
// a database made by a newer version of this program.
void MigrateSchema(PgConnection& connection);

// A version of the schema: its number, its file's name, its SQL.
struct PgMigration {
    int version;
    const char* name;
    const char* sql;
};
const std::vector<PgMigration>& PgMigrations();

}  // namespace tidewell::webfolder
