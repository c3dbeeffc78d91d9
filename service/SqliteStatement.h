#pragma once
// SqliteStatement: one prepared SQLite statement (RAII over sqlite3_stmt).

#include "Statement.h"

struct sqlite3;
struct sqlite3_stmt;

class SqliteStatement : public Statement {
public:
    // Throws DatabaseError when sql does not compile.
    SqliteStatement(sqlite3* db, const char* sql);
    ~SqliteStatement() override;
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    Statement& Reset() override;
    Statement& Bind(int index, std::string_view text) override;
    Statement& Bind(int index, std::int64_t value) override;
    bool Step() override;
    std::string Text(int column) const override;
    std::int64_t Int(int column) const override;
    bool IsNull(int column) const override;

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};
