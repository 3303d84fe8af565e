#pragma once
// The schema of a record store, its whole history in one place
// (schema.cpp): opening the connection to a SQLite file or a PostgreSQL
// database, the version table, and every migration from 1 to
// kRecordsSchemaVersion in order, each with what it adds.
//
// Tables, each kept by its part of the store: schema_version (one row);
// records and chain_head (store_chain.h); bench_keys (store_keys.h); serials
// (store_due.h); outbox (store_outbox.h); certificates
// (store_certificates.h); cylinders (cylinder_store.h); templates
// (templates.h).
#include <QString>

class TStoreConnection;

// The newest schema this program knows.
inline constexpr int kRecordsSchemaVersion = 7;

// Connects (creating a SQLite file and its folder) and brings the schema up
// to date, migrations serialised across benches. False with the reason.
// `schemaVersion`: where a new or older store stops (a test's store of an
// older version); a newer store is left as it is.
bool OpenStoreConnection(TStoreConnection &connection, QString &error, int schemaVersion = kRecordsSchemaVersion);
