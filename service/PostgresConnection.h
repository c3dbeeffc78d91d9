#pragma once
// PostgresConnection: one libpq connection (RAII over PGconn) with the statements prepared on it.
//
// Thread-safety: one thread at a time (PostgresDatabase lends each connection to one transaction).

#include "Transaction.h"

#include <functional>
#include <map>
#include <memory>
#include <string>

struct pg_conn;
class PostgresStatement;

class PostgresConnection : private Transaction {
public:
    // conninfo: a libpq URI or key=value text; shown: the same with its password masked (errors).
    // Throws DatabaseError.
    PostgresConnection(const std::string& conninfo, const std::string& shown);
    ~PostgresConnection();
    PostgresConnection(const PostgresConnection&) = delete;
    PostgresConnection& operator=(const PostgresConnection&) = delete;

    // Runs body in one transaction (SERIALIZABLE, or the server's default READ COMMITTED when
    // serializable is false): committed, or rolled back and rethrown. Throws DatabaseError (kind
    // kTransient: worth running again, on another connection when this one is lost).
    void Transact(const std::function<void(Transaction&)>& body, bool serializable);
    // Runs SQL text without parameters outside a transaction body (session locks).
    void Command(const char* sql) { Exec(sql); }
    // False once the connection to the server is lost: it must not be used again.
    bool Healthy() const;

private:
    Statement& Prepare(const char* sql) override;
    void Exec(const char* sql) override;

    pg_conn* conn_ = nullptr;
    std::map<std::string, std::unique_ptr<PostgresStatement>> statements_;
};
