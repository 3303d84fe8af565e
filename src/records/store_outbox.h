#pragma once
// The outbox: table outbox, records kept on this bench while their store
// could not take them. They are outside any chain, signed over their hash
// with id 0 and prev empty, until the store they were meant for gives them
// id, prev, hash and a fresh signature (SyncOutbox).
#include <vector>

#include <QString>
#include <QStringList>

#include "records/location.h"

class TRecordStore;
class TStoreConnection;
struct RServiceRecord;

class TOutbox {
public:
    explicit TOutbox(TStoreConnection &connection) : FConn(connection) {}

    // Keeps the record for the store `dest` stands for (OutboxDest), signed
    // with this store's bench key; when there is no good key the record is
    // kept unsigned (no bench_key, no sig) with the reason, also given in
    // `unsignedBecause`, and waits for one.
    bool Keep(RServiceRecord &record, const QString &dest, QString &error, QString *unsignedBecause = nullptr);
    // Those kept for `dest`, oldest first.
    bool Waiting(std::vector<RServiceRecord> &out, QString &error, const QString &dest = {});
    bool Forget(const QString &uid, QString &error);
    qint64 Count(QString &error, const QString &dest = {});
    // Records kept before records were signed take the fields of the new
    // form and this bench's signature (the migration to version 3).
    bool SignOldRows(QString &error);

private:
    TStoreConnection &FConn;
};

// What an outbox row names as the store it waits for: empty for the shared
// PostgreSQL store (a bench has one), the SQLite store's Describe() otherwise.
QString OutboxDest(const RStoreLocation &location);

// The outcome of sending the outbox to the shared store.
struct RSyncResult {
    int mSent = 0;         // appended to the shared store now
    int mAlreadyThere = 0; // found there already (sent before, then interrupted): only dropped here
    int mLeft = 0;         // still waiting
    QStringList mRefused;  // one line each: kept records changed since they were kept, or made under a revoked key (not sent)
    QStringList mUnsigned; // one line each: kept unsigned, waiting for a good bench key to sign them
    QString mError;        // what stopped it; empty when all went
};
// Sends each outbox record of `local` kept for `shared` once, oldest first:
// its signature checked (a record changed since it was kept, or signed by a
// key the shared store has revoked, is refused and stays), append (by uid,
// so a record that reached it before is not written twice), then drop it
// from the outbox. A record kept unsigned goes only once this bench has a
// good key, with data.signed_at, the time it was signed.
RSyncResult SyncOutbox(TRecordStore &local, TRecordStore &shared);
