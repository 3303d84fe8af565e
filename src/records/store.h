#pragma once
// The record store: one connection to a SQLite file or a PostgreSQL
// database, with its schema kept up to date by numbered migrations.
//
// Tables: schema_version (one row), records (the hash chain, ordered by id,
// with the derived columns kind, cal_interval and bump_interval), serials
// (per serial, what the due list needs from its latest records: kept by
// every append in the same transaction, rebuilt by migration 2, checked
// against the records by Verify), outbox (records kept on this bench while the shared store could not
// be reached: they are not in this store's chain and carry no id, prev or
// hash until the shared store gives them theirs) and certificates (the
// certificate number of a record, given once).
//
// Appends are serialised across connections, processes and benches: SQLite
// takes the write lock first (BEGIN IMMEDIATE), PostgreSQL locks the records
// table in EXCLUSIVE mode inside the transaction; then the last hash is read
// and the new record inserted. Nothing here throws; failures come back as text.
#include <memory>
#include <optional>
#include <vector>

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>

#include "records/location.h"
#include "records/record.h"

// The newest schema this program knows.
inline constexpr int kRecordsSchemaVersion = 3;

struct RRecordFilter {
    QString mSerial{}; // empty: any
    QString mJob{};    // empty: any
    QString mSince{};  // record time at or after (RecordTime form); empty: any
    int mLimit = -1;   // -1: all
};

struct RVerifyResult {
    bool mIntact = false;
    qint64 mCount = 0;     // records walked
    qint64 mBrokenId = 0;  // the first record that does not fit the chain
    QString mReason;       // why it does not
    QString mError;        // the walk itself failed
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

    // Puts the record at the end of the chain: gives it id, prev and hash.
    // A record whose uid the store already holds is left as it is
    // (kAlreadyThere, record.mId set to the stored one).
    EAppend Append(RServiceRecord &record, QString &error);

    // Newest first (time, then id).
    bool List(const RRecordFilter &filter, std::vector<RServiceRecord> &out, QString &error);
    // nullopt with an empty error when there is no such record.
    std::optional<RServiceRecord> Get(qint64 id, QString &error);
    // Walks the chain in id order.
    RVerifyResult Verify();
    qint64 Count(QString &error);

    // The outbox.
    bool Keep(const RServiceRecord &record, QString &error);
    bool Outbox(std::vector<RServiceRecord> &out, QString &error);
    bool Forget(const QString &uid, QString &error);
    qint64 OutboxCount(QString &error);

    // The certificate number of a record: given on the first call (one more
    // than the highest given so far), the same on every later call. 0 on failure.
    qint64 CertificateNumber(qint64 recordId, QString &error);

    // Per serial, from the serials table (sorted by serial).
    bool DueFacts(std::vector<RDueFacts> &out, QString &error);
    // The same worked out from the records themselves (sorted by serial).
    bool FactsFromRecords(std::vector<RDueFacts> &out, QString &error);

    // Direct access for maintenance and tests.
    QSqlDatabase &Database() { return FDb; }

private:
    TRecordStore(const RStoreLocation &location, const QString &connectionName);
    bool Connect(QString &error);
    bool Migrate(QString &error);
    bool Begin(const char *lockTable, QString &error);
    void Rollback();
    bool Commit(QString &error);
    bool Exec(const QString &sql, QString &error);
    bool UpdateSerial(const RServiceRecord &record, QString &error);
    bool RebuildSerials(QString &error);

    RStoreLocation FLocation;
    QString FName;
    QSqlDatabase FDb;
    int FVersion = 0;
};

// The outcome of sending the outbox to the shared store.
struct RSyncResult {
    int mSent = 0;         // appended to the shared store now
    int mAlreadyThere = 0; // found there already (sent before, then interrupted): only dropped here
    int mLeft = 0;         // still waiting
    QString mError;        // what stopped it; empty when all went
};
// Sends each outbox record of `local` to `shared` once, oldest first: append
// (by uid, so a record that reached it before is not written twice), then
// drop it from the outbox.
RSyncResult SyncOutbox(TRecordStore &local, TRecordStore &shared);
