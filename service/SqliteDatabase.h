#pragma once
// SqliteDatabase: the service's database in one SQLite file (WAL, foreign keys, busy time-out) on
// one connection, with a cache of prepared statements.
//
// Thread-safety: transactions take turns on the connection (SQLite would impose that on writes
// anyway); slow work (password hashes, SMS) runs outside them.

#include "Database.h"
#include "Transaction.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

struct sqlite3;
class SqliteStatement;

class SqliteDatabase : public Database, private Transaction {
public:
    // Opens (creating) the file and migrates the schema. Throws DatabaseError.
    explicit SqliteDatabase(const std::string& path);
    ~SqliteDatabase() override;
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    void RunTransaction(const std::function<void(Transaction&)>& body) override;

private:
    Statement& Prepare(const char* sql) override;
    void Exec(const char* sql) override;

    sqlite3* db_ = nullptr;
    std::mutex mutex_;
    std::map<std::string, std::unique_ptr<SqliteStatement>> statements_;
};
