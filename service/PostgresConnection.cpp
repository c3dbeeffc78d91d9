#include "PostgresConnection.h"

#include "Database.h"
#include "PostgresStatement.h"

#include <libpq-fe.h>

namespace {

// Seconds to wait for the server when connecting, unless the URL says otherwise: a handler thread
// must not hang on a server that does not answer.
constexpr const char* kConnectTimeout = "10";

}  // namespace

PostgresConnection::PostgresConnection(const std::string& conninfo, const std::string& shown) {
    // Keywords before dbname are defaults; what the URL (expanded from dbname) names wins.
    // (Notices such as "relation already exists, skipping" are not worth standard error.)
    const char* keys[] = {"connect_timeout", "application_name", "options", "dbname", nullptr};
    const char* values[] = {kConnectTimeout, "tamsu-service", "-c client_min_messages=warning", conninfo.c_str(),
                            nullptr};
    conn_ = PQconnectdbParams(keys, values, 1);
    if (PQstatus(conn_) != CONNECTION_OK) {
        std::string message = conn_ != nullptr ? PQerrorMessage(conn_) : "out of memory";
        while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
        PQfinish(conn_);
        throw DatabaseError("cannot connect to " + shown + ": " + message);
    }
}

PostgresConnection::~PostgresConnection() {
    statements_.clear();
    PQfinish(conn_);
}

bool PostgresConnection::Healthy() const { return PQstatus(conn_) == CONNECTION_OK; }

Statement& PostgresConnection::Prepare(const char* sql) {
    auto& slot = statements_[sql];
    if (!slot) slot = std::make_unique<PostgresStatement>(conn_, "s" + std::to_string(statements_.size()), sql);
    return slot->Reset();
}

void PostgresConnection::Exec(const char* sql) {
    PGresult* result = PQexec(conn_, sql);
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        DatabaseError error = PostgresError(result, std::string("failed: ") + sql);
        PQclear(result);
        throw error;
    }
    PQclear(result);
}

void PostgresConnection::Transact(const std::function<void(Transaction&)>& body, bool serializable) {
    try {
        Exec(serializable ? "BEGIN ISOLATION LEVEL SERIALIZABLE" : "BEGIN");
    } catch (const DatabaseError& e) {
        // A connection that idled while the server restarted fails here, before anything was
        // sent of the transaction: safe to run on a new connection.
        if (Healthy()) throw;
        throw DatabaseError(e.what(), DatabaseError::Kind::kTransient);
    }
    try {
        body(*this);
        for (auto& [sql, statement] : statements_) statement->Reset();
        Exec("COMMIT");
    } catch (...) {
        for (auto& [sql, statement] : statements_) statement->Reset();
        if (Healthy()) PQclear(PQexec(conn_, "ROLLBACK"));  // a failed COMMIT has ended it already
        throw;
    }
}
