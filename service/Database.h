#pragma once
// Database: the service's one SQLite connection (WAL, foreign keys, busy time-out), its schema
// brought up to date when it opens, and a cache of prepared statements.
//
// Thread-safety: every use goes through Lock(); while the returned lock is held the caller may
// Prepare statements and run them. The handler threads therefore take turns on the connection,
// which SQLite would impose on writes anyway; slow work (password hashes, SMS) runs outside it.

#include "Statement.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

struct sqlite3;

// A failure of SQLite; code is SQLite's extended result code (0 when not from SQLite).
class DatabaseError : public std::runtime_error {
public:
    explicit DatabaseError(const std::string& what, int code = 0) : std::runtime_error(what), code_(code) {}
    int Code() const { return code_; }
    bool IsConstraint() const;

private:
    int code_;
};

class Database {
public:
    // Opens (creating) the file and migrates the schema. Throws DatabaseError.
    explicit Database(const std::string& path);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    std::unique_lock<std::mutex> Lock() { return std::unique_lock<std::mutex>(mutex_); }
    // The cached statement for sql, reset. Only under Lock().
    Statement& Prepare(const char* sql);
    // Runs SQL text without parameters (schema, transactions). Only under Lock().
    void Exec(const char* sql);
    // Runs body as one transaction: all of its writes or, when it throws, none (rethrown). Only
    // under Lock().
    void Transaction(const std::function<void()>& body);

private:
    sqlite3* db_ = nullptr;
    std::mutex mutex_;
    std::map<std::string, std::unique_ptr<Statement>> statements_;
};
