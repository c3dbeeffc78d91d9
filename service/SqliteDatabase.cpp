#include "SqliteDatabase.h"

#include "Schema.h"
#include "SqliteStatement.h"

#include <sqlite3.h>

namespace {

// How long a statement waits for a lock held by another process on the same file (a backup tool,
// the sqlite3 shell) before it fails.
constexpr int kBusyTimeoutMs = 5000;

}  // namespace

SqliteDatabase::SqliteDatabase(const std::string& path) {
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw DatabaseError("cannot open " + path + ": " + message);
    }
    try {
        sqlite3_busy_timeout(db_, kBusyTimeoutMs);
        Exec("PRAGMA journal_mode=WAL");
        Exec("PRAGMA synchronous=NORMAL");
        Exec("PRAGMA foreign_keys=ON");
        RunTransaction([](Transaction& t) { MigrateSchema(t, SchemaDialect::kSqlite); });
    } catch (...) {
        statements_.clear();
        sqlite3_close(db_);
        throw;
    }
}

SqliteDatabase::~SqliteDatabase() {
    statements_.clear();
    sqlite3_close(db_);
}

Statement& SqliteDatabase::Prepare(const char* sql) {
    auto& slot = statements_[sql];
    if (!slot) slot = std::make_unique<SqliteStatement>(db_, sql);
    return slot->Reset();
}

void SqliteDatabase::Exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : "unknown error";
        sqlite3_free(error);
        throw DatabaseError(message + " in: " + sql);
    }
}

void SqliteDatabase::RunTransaction(const std::function<void(Transaction&)>& body) {
    std::lock_guard<std::mutex> lock(mutex_);
    Exec("BEGIN IMMEDIATE");
    try {
        body(*this);
        // A statement left on a row would keep its read open past the commit, and SQLite could not
        // checkpoint its log behind it.
        for (auto& [sql, statement] : statements_) statement->Reset();
        Exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);  // a failed COMMIT may have ended it already
        throw;
    }
}
