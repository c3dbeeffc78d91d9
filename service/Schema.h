#pragma once
// The service's tables and their migrations. The version of a database is the one row of
// schema_version; each migration raises it by one inside a transaction.

class Database;

// Number of the newest schema this program knows.
int LatestSchemaVersion();
// Brings the database to LatestSchemaVersion(). Throws DatabaseError, also for a database written
// by a newer program (its data is left untouched).
void MigrateSchema(Database& db);
