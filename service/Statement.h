#pragma once
// Statement: one prepared SQLite statement (RAII over sqlite3_stmt). Values are always bound,
// never pasted into SQL. Used only under the lock of the Database that prepared it.

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

class Statement {
public:
    // Throws DatabaseError (Database.h) when sql does not compile.
    Statement(sqlite3* db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Ready for a new run: reset, bindings cleared.
    Statement& Reset();
    // Parameters are numbered from 1.
    Statement& Bind(int index, std::string_view text);
    Statement& Bind(int index, std::int64_t value);
    // Next row: true while there is one; false when done. Throws DatabaseError on failure.
    bool Step();
    // Whether the statement yields a row; reset afterwards.
    bool HasRow();
    // Runs to the end (for statements without rows). A write in autocommit mode commits only when
    // its statement ends, and only then may SQLite checkpoint its log: every write runs to the end.
    void Run();
    // Runs a statement that yields one row (INSERT ... RETURNING) to the end; its first column.
    std::int64_t RunReturningInt();
    // Columns of the current row, numbered from 0.
    std::string Text(int column) const;
    std::int64_t Int(int column) const;
    bool IsNull(int column) const;

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};
