#pragma once
// One open connection to a record store, and what every part of the store
// does with it: run a statement, hold a transaction, and sign with the
// bench's key. The parts (store_chain.h, store_keys.h, store_outbox.h,
// store_certificates.h, store_due.h) each work over one; TRecordStore
// (store.h) owns it. schema.h opens it and brings its schema up to date.
//
// Appends are serialised across connections, processes and benches: SQLite
// takes the write lock first (BEGIN IMMEDIATE, 2 s busy time-out), PostgreSQL
// takes the advisory lock a writer names inside the transaction (2 s lock
// and statement time-outs). Every write is durable when it returns
// (synchronous=FULL; a committed transaction). Nothing here throws; failures
// come back as text.
#include <memory>

#include <QSqlDatabase>
#include <QString>

#include "records/location.h"

class TBenchKey;

// How long a store may keep a bench waiting: a lock held by another, a
// statement that does not end, a server that does not answer the connection.
inline constexpr int kStoreWaitSeconds = 2;

class TStoreConnection {
public:
    // Not yet open: schema.h's OpenStoreConnection opens it.
    explicit TStoreConnection(const RStoreLocation &location);
    ~TStoreConnection();
    TStoreConnection(const TStoreConnection &) = delete;
    TStoreConnection &operator=(const TStoreConnection &) = delete;

    const RStoreLocation &Location() const { return FLocation; }
    bool IsPostgres() const { return FLocation.mKind == EStoreKind::kPostgres; }
    QSqlDatabase &Db() { return FDb; }
    // Qt SQL's name of this connection (unique in the process).
    const QString &Name() const { return FName; }
    int SchemaVersion() const { return FVersion; }
    void SetSchemaVersion(int version) { FVersion = version; }

    // The key this store signs with: one set here (it must outlive the
    // store), else this user's own (DefaultBenchKeyPath), loaded the first
    // time it is needed and kept by the connection.
    void SetBenchKey(const TBenchKey *key) { FKey = key; }
    const TBenchKey *BenchKey(QString &error);
    // The key set or loaded so far; nullptr when none is yet.
    const TBenchKey *KeyInUse() const { return FKey; }

    bool Exec(const QString &sql, QString &error);
    // Starts a transaction: SQLite takes its write lock at once; PostgreSQL
    // runs `lockSql` (statements split by ';', may be nullptr) inside it.
    bool Begin(const char *lockSql, QString &error);
    void Rollback();
    // False (rolled back) when the commit fails.
    bool Commit(QString &error);

private:
    RStoreLocation FLocation;
    QString FName;
    QSqlDatabase FDb;
    int FVersion = 0;
    const TBenchKey *FKey = nullptr;
    std::unique_ptr<TBenchKey> FOwnKey; // this user's key, when none was set
};
