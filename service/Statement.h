#pragma once
// Statement: one prepared statement of a database connection (SqliteStatement, PostgresStatement).
// Values are always bound, never pasted into SQL. Parameters are written `?` (numbered in order)
// or `?N`, whatever the backend. Used only inside the transaction that prepared it.

#include <cstdint>
#include <string>
#include <string_view>

class Statement {
public:
    virtual ~Statement() = default;

    // Ready for a new run: reset, bindings cleared.
    virtual Statement& Reset() = 0;
    // Parameters are numbered from 1.
    virtual Statement& Bind(int index, std::string_view text) = 0;
    virtual Statement& Bind(int index, std::int64_t value) = 0;
    // Next row: true while there is one; false when done. Throws DatabaseError on failure.
    virtual bool Step() = 0;
    // Columns of the current row, numbered from 0; a NULL reads as "" or 0.
    virtual std::string Text(int column) const = 0;
    virtual std::int64_t Int(int column) const = 0;
    virtual bool IsNull(int column) const = 0;

    // Whether the statement yields a row; reset afterwards.
    bool HasRow();
    // Runs to the end (for statements without rows). A write in SQLite's autocommit mode commits
    // only when its statement ends, and only then may SQLite checkpoint its log: every write runs
    // to the end.
    void Run();
    // Runs a statement that yields one row (INSERT ... RETURNING) to the end; its first column.
    std::int64_t RunReturningInt();
};
