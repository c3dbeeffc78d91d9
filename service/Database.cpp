#include "Database.h"

#include "Schema.h"

#include <sqlite3.h>

namespace {

// How long a statement waits for a lock held by another process on the same file (a backup tool,
// the sqlite3 shell) before it fails.
constexpr int kBusyTimeoutMs = 5000;

}  // namespace

bool DatabaseError::IsConstraint() const { return (code_ & 0xFF) == SQLITE_CONSTRAINT; }

Database::Database(const std::string& path) {
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
        MigrateSchema(*this);
    } catch (...) {
        statements_.clear();
        sqlite3_close(db_);
        throw;
    }
}

Database::~Database() {
    statements_.clear();
    sqlite3_close(db_);
}

Statement& Database::Prepare(const char* sql) {
    auto& slot = statements_[sql];
    if (!slot) slot = std::make_unique<Statement>(db_, sql);
    return slot->Reset();
}

void Database::Exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : "unknown error";
        sqlite3_free(error);
        throw DatabaseError(message + " in: " + sql, sqlite3_extended_errcode(db_));
    }
}

void Database::Transaction(const std::function<void()>& body) {
    Exec("BEGIN IMMEDIATE");
    try {
        body();
        Exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);  // a failed COMMIT may have ended it already
        throw;
    }
}
