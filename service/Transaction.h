#pragma once
// Transaction: what the body of Database::RunTransaction works with: statements of the one
// connection the transaction runs on. Valid only during the body.

class Statement;

class Transaction {
public:
    // The connection's cached statement for sql, reset. Throws DatabaseError.
    virtual Statement& Prepare(const char* sql) = 0;
    // Runs SQL text without parameters (schema changes). Throws DatabaseError.
    virtual void Exec(const char* sql) = 0;

protected:
    ~Transaction() = default;
};
