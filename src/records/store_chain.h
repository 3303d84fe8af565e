#pragma once
// The chain of a record store: table records (ordered by id, with the
// derived columns kind, cal_interval and bump_interval; ids are never
// reused: SQLite AUTOINCREMENT, a PostgreSQL sequence; UPDATE and DELETE are
// refused by trigger) and chain_head (the id and hash of the newest record,
// kept in the appending transaction, so a removed newest record shows).
// An append takes the chain's lock, reads the last hash and inserts the new
// record; with it go this bench's key (store_keys.h), the due summary
// (store_due.h) and, once committed, this bench's witness (witness.h).
#include <optional>
#include <vector>

#include <QString>
#include <QStringList>

#include "records/record.h"

class TStoreConnection;
struct RSignedHead;

struct RRecordFilter {
    QString mSerial{}; // empty: any
    QString mJob{};    // empty: any
    QString mSince{};  // record time at or after (RecordTime form); empty: any
    int mLimit = -1;   // -1: all
};

struct RVerifyResult {
    bool mIntact = false;
    qint64 mCount = 0;     // records walked
    qint64 mLegacy = 0;    // of them, records of the old rule before the migration record
    qint64 mBrokenId = 0;  // the first record that does not fit the chain (or is missing)
    QString mReason;       // why it does not
    QString mError;        // the walk itself failed
    QStringList mNotes;    // what could not be checked, and why (the result stands)
};

// The newest record: its id and hash (a head for Verify).
struct RChainHead {
    qint64 mId = 0;
    QString mHash;
};

enum class EAppend { kAdded, kAlreadyThere, kFailed };

class TRecordChain {
public:
    explicit TRecordChain(TStoreConnection &connection) : FConn(connection) {}

    // Puts the record at the end of the chain: gives it id, prev, bench_key,
    // hash and sig, and registers this bench's key with its first record. A
    // record whose uid the store already holds is left as it is
    // (kAlreadyThere, record.mId set to the stored one).
    EAppend Append(RServiceRecord &record, QString &error);
    // The same inside a transaction that already holds the chain's lock.
    EAppend AppendLocked(RServiceRecord &record, QString &error);

    // Newest first (time, then id).
    bool List(const RRecordFilter &filter, std::vector<RServiceRecord> &out, QString &error);
    // nullopt with an empty error when there is no such record.
    std::optional<RServiceRecord> Get(qint64 id, QString &error);
    qint64 Count(QString &error);
    // The newest record; nullopt with an empty error when there is none.
    std::optional<RChainHead> Head(QString &error);
    // The newest record signed now by this bench's key (witness.h).
    bool SignedHead(RSignedHead &out, QString &error);

    // Walks the chain in id order: each record's place (prev), its hash
    // (the old rule before the migration record), its signature by a key
    // registered and not revoked before it was written, and that the newest
    // record ever written is still there. `head` (id 0: none): an earlier
    // newest record that must still be in the chain with that hash. Then
    // that the due summary says what the records say, this bench's witness
    // of the newest record it wrote here and that every certificate names a
    // record of the chain with its hash. `orgFingerprint` (empty: none): the
    // organisation key whose approval every signed record's key must carry.
    // The chain is read in pages, each statement bounded by the store's
    // time-outs.
    RVerifyResult Verify(const RChainHead &head, const QString &orgFingerprint);

private:
    // The witness (store_witness.cpp): kept after each append; checked by
    // Verify (false: result says why).
    void KeepWitness(const RServiceRecord &record);
    bool CheckWitness(RVerifyResult &result);

    TStoreConnection &FConn;
};
