#pragma once
// The record store: one connection to a SQLite file or a PostgreSQL
// database, with its schema kept up to date by numbered migrations.
//
// Tables: schema_version (one row); records (the chain, ordered by id, with
// the derived columns kind, cal_interval and bump_interval; ids are never
// reused: SQLite AUTOINCREMENT, a PostgreSQL sequence; UPDATE and DELETE are
// refused by trigger); chain_head (the id and hash of the newest record,
// kept in the appending transaction, so a removed newest record shows);
// bench_keys (the public key of every bench that wrote, registered with its
// first record, and its revocation); serials (per serial, what the due list
// needs from its latest records, simulated ones left out: kept by every
// append in the same transaction, checked against the records by Verify);
// outbox (records kept on this bench while their store could not take them:
// outside this store's chain, signed over their hash with id 0 and prev
// empty, until the store they were meant for gives them id, prev, hash and
// a fresh signature), certificates (the number of a record's
// certificate, bound to the record's id and hash, per bench key) and
// templates (records/templates.h).
//
// Appends are serialised across connections, processes and benches: SQLite
// takes the write lock first (BEGIN IMMEDIATE, 2 s busy time-out), PostgreSQL
// locks the records table in EXCLUSIVE mode inside the transaction (2 s lock
// and statement time-outs); then the last hash is read and the new record
// inserted. Every write is durable when it returns (synchronous=FULL; a
// committed transaction). Nothing here throws; failures come back as text.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include "records/location.h"
#include "records/record.h"

class TBenchKey;
struct RSignedHead;

// The newest schema this program knows.
inline constexpr int kRecordsSchemaVersion = 7;
// How long a store may keep a bench waiting: a lock held by another, a
// statement that does not end, a server that does not answer the connection.
inline constexpr int kStoreWaitSeconds = 2;

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

// An organisation key's approval of a bench key.
struct RKeyApproval {
    QString mOrgFingerprint; // FingerprintOfHex of the organisation's public key
    QString mTime, mBench, mUser;
    bool mSignatureGood = false; // signed by that organisation key, over this bench key
};

// A bench key the store holds, from its rows in bench_keys.
struct RBenchKeyRow {
    QString mKeyId, mPublicKey, mBench, mUser, mRegistered;
    QString mRevoked;               // time of the (first) revocation; empty: in force
    std::optional<qint64> mRevokedAfter; // the newest record id when it was revoked
    std::vector<RKeyApproval> mApprovals{};
    // The approval by the organisation key of that fingerprint whose
    // signature holds; nullptr when there is none.
    const RKeyApproval *ApprovedBy(const QString &orgFingerprint) const;
};

// The newest record: its id and hash (a head for Verify).
struct RChainHead {
    qint64 mId = 0;
    QString mHash;
};

// The facts the due list needs about one serial.
struct RDueFacts {
    QString mSerial, mProduct, mSensor;
    QString mLatest, mCfgTime;                      // times of the latest record and of the latest configuration
    QString mLastCal, mLastBump;                    // record times; empty: none
    std::optional<qint64> mCalInterval;             // seconds, from the calibration record's configuration
    std::optional<qint64> mBumpInterval;            // days, from the bump record's configuration
    std::optional<qint64> mCfgCalInterval, mCfgBumpInterval; // from the latest configuration of the serial
};

enum class EAppend { kAdded, kAlreadyThere, kFailed };

class TRecordStore {
public:
    // Opens the store (creating a SQLite file and its folder), bringing its
    // schema up to date. nullptr with a reason on failure. The program must
    // have made its Qt application object (Qt SQL loads its drivers through it).
    static std::unique_ptr<TRecordStore> Open(const RStoreLocation &location, QString &error);
    ~TRecordStore();
    TRecordStore(const TRecordStore &) = delete;
    TRecordStore &operator=(const TRecordStore &) = delete;

    const RStoreLocation &Location() const { return FLocation; }
    bool IsPostgres() const { return FLocation.mKind == EStoreKind::kPostgres; }
    int SchemaVersion() const { return FVersion; }

    // The key this store signs with: one set here (it must outlive the
    // store), else this user's own (DefaultBenchKeyPath), loaded the first
    // time it is needed and kept by the store.
    void SetBenchKey(const TBenchKey *key) { FKey = key; }
    const TBenchKey *BenchKey(QString &error);

    // Puts the record at the end of the chain: gives it id, prev, bench_key,
    // hash and sig, and registers this bench's key with its first record. A
    // record whose uid the store already holds is left as it is
    // (kAlreadyThere, record.mId set to the stored one).
    EAppend Append(RServiceRecord &record, QString &error);

    // Newest first (time, then id).
    bool List(const RRecordFilter &filter, std::vector<RServiceRecord> &out, QString &error);
    // nullopt with an empty error when there is no such record.
    std::optional<RServiceRecord> Get(qint64 id, QString &error);
    // Walks the chain in id order: each record's place (prev), its hash
    // (the old rule before the migration record), its signature by a key
    // registered and not revoked before it was written, and that the newest
    // record ever written is still there. `head` (id 0: none): an earlier
    // newest record that must still be in the chain with that hash. Then
    // this bench's witness of the newest record it wrote here (witness.h)
    // and that every certificate names a record of the chain with its hash.
    // The chain is read in pages, each statement bounded by the store's
    // time-outs.
    RVerifyResult Verify(const RChainHead &head = {});
    qint64 Count(QString &error);
    // The newest record; nullopt with an empty error when there is none.
    std::optional<RChainHead> Head(QString &error);
    // The newest record signed now by this bench's key (witness.h).
    bool SignedHead(RSignedHead &out, QString &error);

    // The bench keys, oldest first; revoking one marks the records after
    // the newest one written so far as not to be trusted. Approvals and
    // revocations are new rows, signed (a revocation by this bench's key).
    bool Keys(std::vector<RBenchKeyRow> &out, QString &error);
    bool RevokeKey(const QString &keyId, QString &error);
    // The organisation key `org` approves a registered bench key in force.
    // False with the reason; `already` set when that key had approved it.
    bool ApproveKey(const QString &keyId, const TBenchKey &org, QString &error, bool *already = nullptr);
    // Registers this bench's key (once) inside the caller's transaction;
    // false when the store holds another key under its id or it was revoked.
    bool RegisterKey(const TBenchKey &key, QString &error);
    // From now on Verify also requires every signed record's key to carry an
    // approval by the organisation key of this fingerprint (empty: none).
    void RequireOrgApproval(const QString &orgFingerprint) { FOrg = orgFingerprint.toLower(); }

    // The outbox: records kept for the store `dest` stands for (OutboxDest).
    // Keep signs the record with this store's bench key; when there is no
    // good key the record is kept unsigned (no bench_key, no sig) with the
    // reason, also given in `unsignedBecause`, and waits for one.
    bool Keep(RServiceRecord &record, const QString &dest, QString &error, QString *unsignedBecause = nullptr);
    // Those kept for `dest`, oldest first.
    bool Outbox(std::vector<RServiceRecord> &out, QString &error, const QString &dest = {});
    bool Forget(const QString &uid, QString &error);
    qint64 OutboxCount(QString &error, const QString &dest = {});

    // The certificate of a record: runs `write` with the number the record's
    // certificate has, or the next free one of this bench's key, inside one
    // transaction; the number is kept only when write returned true, and
    // bound to the record's id and hash. 0 on failure (with the reason); a
    // record whose hash changed since its number was given is refused.
    qint64 Certificate(const RServiceRecord &record, const std::function<bool(const QString &number)> &write,
                       QString &error, QString *numberText = nullptr);

    // Per serial, from the serials table (sorted by serial): simulated
    // records left out.
    bool DueFacts(std::vector<RDueFacts> &out, QString &error);
    // The same worked out from the records themselves (sorted by serial).
    bool FactsFromRecords(std::vector<RDueFacts> &out, QString &error, bool includeSimulated = false);

    // Direct access for maintenance and tests.
    QSqlDatabase &Database() { return FDb; }

private:
    TRecordStore(const RStoreLocation &location, const QString &connectionName);
    bool Connect(QString &error);
    bool Migrate(QString &error);
    bool MigrateStep(int version, QString &error);
    bool AppendMigrationMarker(QString &error);
    bool SignOldOutbox(QString &error);
    bool Begin(const char *lockTable, QString &error);
    // Append inside a transaction that holds the records lock.
    EAppend AppendLocked(RServiceRecord &record, QString &error);
    bool InsertKeyRow(const QString &event, const RBenchKeyRow &key, std::optional<qint64> afterRecord,
                      const TBenchKey &signer, QString &error);
    // Why a record's key lacks the approval RequireOrgApproval asks for; empty when it has it.
    QString OrgApprovalFault(const RServiceRecord &record, const std::map<QString, RBenchKeyRow> &keys) const;
    void Rollback();
    bool Commit(QString &error);
    bool Exec(const QString &sql, QString &error);
    bool UpdateSerial(const RServiceRecord &record, QString &error);
    bool RebuildSerials(QString &error, bool includeSimulated = true);
    // Witnessed heads (store_witness.cpp): kept after each append; checked
    // by Verify with the certificates (false: result says why).
    void KeepWitness(const RServiceRecord &record);
    bool CheckWitness(RVerifyResult &result);
    bool CheckCertificates(RVerifyResult &result);

    RStoreLocation FLocation;
    QString FName;
    QSqlDatabase FDb;
    int FVersion = 0;
    const TBenchKey *FKey = nullptr;
    std::unique_ptr<TBenchKey> FOwnKey; // this user's key, when none was set
    QString FOrg;                       // the organisation key Verify requires; empty: none
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
