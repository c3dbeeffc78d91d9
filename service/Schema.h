#pragma once
// The service's tables and their migrations, in SQLite's and PostgreSQL's words (the same tables,
// the same version numbers). The version of a database is the one row of schema_version.

class Transaction;

enum class SchemaDialect { kSqlite, kPostgres };

// Number of the newest schema this program knows.
int LatestSchemaVersion();
// Brings the database to LatestSchemaVersion() inside the transaction t. Throws DatabaseError, also
// for a database written by a newer program (nothing is written then).
void MigrateSchema(Transaction& t, SchemaDialect dialect);
