#include "SqliteStatement.h"

#include "Database.h"

#include <sqlite3.h>

namespace {

DatabaseError::Kind KindOf(int extended) {
    switch (extended & 0xFF) {
    case SQLITE_CONSTRAINT: return DatabaseError::Kind::kConstraint;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return DatabaseError::Kind::kTransient;
    default: return DatabaseError::Kind::kOther;
    }
}

}  // namespace

SqliteStatement::SqliteStatement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
        throw DatabaseError(std::string("prepare failed: ") + sqlite3_errmsg(db) + " in: " + sql);
    }
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(stmt_); }

Statement& SqliteStatement::Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    return *this;
}

Statement& SqliteStatement::Bind(int index, std::string_view text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement& SqliteStatement::Bind(int index, std::int64_t value) {
    sqlite3_bind_int64(stmt_, index, value);
    return *this;
}

bool SqliteStatement::Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    const int extended = sqlite3_extended_errcode(db_);
    const std::string message = sqlite3_errmsg(db_);
    sqlite3_reset(stmt_);
    throw DatabaseError("step failed: " + message, KindOf(extended));
}

std::string SqliteStatement::Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    if (text == nullptr) return {};
    return std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
}

std::int64_t SqliteStatement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }

bool SqliteStatement::IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
