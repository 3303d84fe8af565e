#pragma once
// The record store: a SQLite file or a PostgreSQL database holding the
// signed chain of service records and what goes with it. TRecordStore owns
// the one connection (store_connection.h), opened with its schema brought up
// to date (schema.h), and speaks for its parts, each over that connection
// and each in a unit of its own:
//   store_chain.h         the chain: append, list, head, verify, the witness
//   store_keys.h          bench keys: registrations, approvals, revocations
//   store_outbox.h        records kept while their store could not take them, and sync
//   store_certificates.h  certificate numbers
//   store_due.h           the due summary per serial
// Cylinders (cylinder_store.h) and templates (templates.h) are kept in the
// same store through it. Nothing here throws; failures come back as text.
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QSqlDatabase>
#include <QString>

#include "records/location.h"
#include "records/record.h"
#include "records/schema.h"
#include "records/store_certificates.h"
#include "records/store_chain.h"
#include "records/store_connection.h"
#include "records/store_due.h"
#include "records/store_keys.h"
#include "records/store_outbox.h"

class TBenchKey;
class TSession;

class TRecordStore {
public:
    // Opens the store (creating a SQLite file and its folder), bringing its
    // schema up to date. nullptr with a reason on failure. The program must
    // have made its Qt application object (Qt SQL loads its drivers through it).
    static std::unique_ptr<TRecordStore> Open(const RStoreLocation &location, QString &error);

    const RStoreLocation &Location() const { return FConn.Location(); }
    bool IsPostgres() const { return FConn.IsPostgres(); }
    int SchemaVersion() const { return FConn.SchemaVersion(); }
    // The connection the parts work over.
    TStoreConnection &Connection() { return FConn; }
    // Direct access for maintenance and tests.
    QSqlDatabase &Database() { return FConn.Db(); }

    // The key this store signs with (TStoreConnection::BenchKey).
    void SetBenchKey(const TBenchKey *key) { FConn.SetBenchKey(key); }
    const TBenchKey *BenchKey(QString &error) { return FConn.BenchKey(error); }

    // The chain (store_chain.h).
    EAppend Append(RServiceRecord &record, QString &error) { return Chain().Append(record, error); }
    bool List(const RRecordFilter &filter, std::vector<RServiceRecord> &out, QString &error)
    {
        return Chain().List(filter, out, error);
    }
    std::optional<RServiceRecord> Get(qint64 id, QString &error) { return Chain().Get(id, error); }
    qint64 Count(QString &error) { return Chain().Count(error); }
    std::optional<RChainHead> Head(QString &error) { return Chain().Head(error); }
    bool SignedHead(RSignedHead &out, QString &error) { return Chain().SignedHead(out, error); }
    RVerifyResult Verify(const RChainHead &head = {}) { return Chain().Verify(head, FOrg); }
    // From now on Verify also requires every signed record's key to carry an
    // approval by the organisation key of this fingerprint (empty: none).
    void RequireOrgApproval(const QString &orgFingerprint) { FOrg = orgFingerprint.toLower(); }

    // The bench keys (store_keys.h).
    bool Keys(std::vector<RBenchKeyRow> &out, QString &error) { return TStoreKeys(FConn).Keys(out, error); }
    bool RevokeKey(const QString &keyId, QString &error) { return TStoreKeys(FConn).RevokeKey(keyId, error); }
    bool ApproveKey(const QString &keyId, const TBenchKey &org, QString &error, bool *already = nullptr)
    {
        return TStoreKeys(FConn).ApproveKey(keyId, org, error, already);
    }
    bool RegisterKey(const TBenchKey &key, QString &error) { return TStoreKeys(FConn).RegisterKey(key, error); }

    // The outbox (store_outbox.h).
    bool Keep(RServiceRecord &record, const QString &dest, QString &error, QString *unsignedBecause = nullptr)
    {
        return TOutbox(FConn).Keep(record, dest, error, unsignedBecause);
    }
    bool Outbox(std::vector<RServiceRecord> &out, QString &error, const QString &dest = {})
    {
        return TOutbox(FConn).Waiting(out, error, dest);
    }
    bool Forget(const QString &uid, QString &error) { return TOutbox(FConn).Forget(uid, error); }
    qint64 OutboxCount(QString &error, const QString &dest = {}) { return TOutbox(FConn).Count(error, dest); }

    // Certificate numbers (store_certificates.h).
    qint64 Certificate(const RServiceRecord &record, const std::function<bool(const QString &number)> &write,
                       QString &error, QString *numberText = nullptr)
    {
        return TCertificateNumbers(FConn).Certificate(record, write, error, numberText);
    }

    // The due summary (store_due.h).
    bool DueFacts(std::vector<RDueFacts> &out, QString &error) { return TDueSummary(FConn).DueFacts(out, error); }
    bool FactsFromRecords(std::vector<RDueFacts> &out, QString &error, bool includeSimulated = false)
    {
        return TDueSummary(FConn).FactsFromRecords(out, error, includeSimulated);
    }

private:
    explicit TRecordStore(const RStoreLocation &location) : FConn(location) {}
    TRecordChain Chain() { return TRecordChain(FConn); }

    TStoreConnection FConn;
    QString FOrg; // the organisation key Verify requires; empty: none
};

// The session's store in force (ResolveStoreLocation with its
// RecordsChoice), opened; nullptr with a reason when it cannot be, or when
// records are off.
std::unique_ptr<TRecordStore> OpenStoreInForce(const TSession &session, QString &error);
