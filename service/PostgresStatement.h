#pragma once
// PostgresStatement: one statement prepared on a PostgreSQL connection (PQprepare), run with its
// bound values as text (PQexecPrepared) at the first Step; owns the result (RAII over PGresult).

#include "Database.h"
#include "Statement.h"

#include <optional>
#include <string>
#include <vector>

struct pg_conn;
struct pg_result;

// The error a failed libpq result stands for: constraint (SQLSTATE class 23), conflict
// (serialization failure, deadlock) or other; context goes before the server's message.
DatabaseError PostgresError(const pg_result* result, const std::string& context);

class PostgresStatement : public Statement {
public:
    // Prepares sql (parameters `?`/`?N`) under name on conn. Throws DatabaseError.
    PostgresStatement(pg_conn* conn, const std::string& name, const char* sql);
    ~PostgresStatement() override;
    PostgresStatement(const PostgresStatement&) = delete;
    PostgresStatement& operator=(const PostgresStatement&) = delete;

    Statement& Reset() override;
    Statement& Bind(int index, std::string_view text) override;
    Statement& Bind(int index, std::int64_t value) override;
    bool Step() override;
    std::string Text(int column) const override;
    std::int64_t Int(int column) const override;
    bool IsNull(int column) const override;

    // sql with `?` and `?N` written as PostgreSQL's `$N`; count: the highest N.
    static std::string NumberedParameters(const char* sql, int& count);

private:
    pg_conn* conn_;
    std::string name_;
    std::vector<std::optional<std::string>> values_;
    pg_result* result_ = nullptr;
    int row_ = -1;  // current row of result_; -1 before the first Step
};
