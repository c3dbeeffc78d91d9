#include "Schema.h"

#include "Database.h"

#include <iterator>

namespace {

// Migration n (1-based) takes a database from version n-1 to n. Never edit one that has shipped:
// add the next.
const char* const kMigrations[] = {
    // 1: feedback and the release side.
    "CREATE TABLE feedback ("
    "  id INTEGER PRIMARY KEY,"
    "  received_at INTEGER NOT NULL,"
    "  sender_address TEXT NOT NULL,"
    "  contact TEXT NOT NULL,"
    "  content TEXT NOT NULL);",
    // 2: accounts, SMS codes, login throttling.
    "CREATE TABLE users ("
    "  id INTEGER PRIMARY KEY,"
    "  phone TEXT NOT NULL UNIQUE,"
    "  password_hash TEXT NOT NULL,"
    "  register_time INTEGER NOT NULL,"
    "  last_login_address TEXT NOT NULL DEFAULT '',"
    "  last_login_time INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE codes ("
    "  phone TEXT NOT NULL,"
    "  purpose TEXT NOT NULL,"
    "  code TEXT NOT NULL,"
    "  created_at INTEGER NOT NULL,"
    "  wrong_tries INTEGER NOT NULL DEFAULT 0,"
    "  used INTEGER NOT NULL DEFAULT 0,"
    "  PRIMARY KEY (phone, purpose));"
    "CREATE TABLE codes_sent ("
    "  phone TEXT NOT NULL,"
    "  sent_at INTEGER NOT NULL);"
    "CREATE INDEX codes_sent_phone ON codes_sent (phone, sent_at);"
    "CREATE TABLE login_failures ("
    "  phone TEXT PRIMARY KEY,"
    "  failures INTEGER NOT NULL,"
    "  last_failure_at INTEGER NOT NULL);",
    // 3: limits per client address (code requests, failed logins).
    "CREATE TABLE code_requests ("
    "  address TEXT NOT NULL,"
    "  requested_at INTEGER NOT NULL);"
    "CREATE INDEX code_requests_address ON code_requests (address, requested_at);"
    "CREATE TABLE address_login_failures ("
    "  address TEXT PRIMARY KEY,"
    "  failures INTEGER NOT NULL,"
    "  window_start INTEGER NOT NULL);",
};

}  // namespace

int LatestSchemaVersion() { return static_cast<int>(std::size(kMigrations)); }

void MigrateSchema(Database& db) {
    auto lock = db.Lock();
    db.Exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
    auto& read = db.Prepare("SELECT version FROM schema_version");
    int version = 0;
    if (read.Step()) {
        version = static_cast<int>(read.Int(0));
    } else {
        db.Prepare("INSERT INTO schema_version (version) VALUES (0)").Run();
    }
    read.Reset();
    if (version > LatestSchemaVersion()) {
        throw DatabaseError("database schema version " + std::to_string(version) +
                            " is newer than this program's " + std::to_string(LatestSchemaVersion()));
    }
    for (; version < LatestSchemaVersion(); ++version) {
        db.Transaction([&] {
            db.Exec(kMigrations[version]);
            db.Prepare("UPDATE schema_version SET version = ?").Bind(1, std::int64_t{version + 1}).Run();
        });
    }
}
