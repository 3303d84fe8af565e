#pragma once
// The journal of the service records: the store behind the core's IJournal.
//
// Each finished job becomes one record in the store in force. When that is
// a shared PostgreSQL store that cannot be reached (or refuses the record),
// the record is kept in this bench's SQLite store, in its outbox: outside the
// local chain, with no id, prev or hash, until `records sync` sends it and
// the shared store chains it. A record is never dropped and never written
// twice (each carries a uid the shared store holds unique).
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QDateTime>

#include "app/journal.h"
#include "model/settings_types.h"
#include "records/store.h"

class TSession;

class TRecordJournal final : public IJournal {
public:
    using TClock = std::function<QDateTime()>;
    // localPath: the SQLite file that keeps records the shared store could
    // not take (empty: the default store file). clock: UTC now (empty: the system clock).
    explicit TRecordJournal(RStoreLocation location, QString localPath = {}, TClock clock = {});
    ~TRecordJournal() override;

    // The sensor types that name a record's sensor (the session's; the
    // built-in ones until this is called). They must outlive the journal.
    void NameSensorsBy(const std::vector<RSensorType> &types) { FSensorTypes = &types; }

    std::string Record(const RJobRecord &job) override;
    // The same for a record already made (RecordOfJob); gets its id, prev and
    // hash when it went to the store in force. Empty text when stored there.
    QString Store(RServiceRecord &record);
    // Sends what this bench keeps to the shared store (nothing to do for a SQLite store).
    RSyncResult Sync();

    const RStoreLocation &Location() const { return FLocation; }
    QString LocalPath() const { return FLocalPath; }

private:
    TRecordStore *Primary(QString &error);
    TRecordStore *Local(QString &error);

    RStoreLocation FLocation;
    QString FLocalPath;
    TClock FClock;
    std::unique_ptr<TRecordStore> FPrimary;
    std::unique_ptr<TRecordStore> FLocal;
    std::vector<RSensorType> FBuiltInTypes = BuiltInSensorTypes();
    const std::vector<RSensorType> *FSensorTypes = &FBuiltInTypes;
};

// The journal of the session's store in force (ResolveStoreLocation with its
// RecordsChoice): a TRecordJournal naming sensors by the session's
// SensorTypes, or a TNullJournal when records are off. On a bad --records
// value or BEAMPORT_RECORDS, a TNullJournal and the reason in `error`. The
// session keeps it (TSession::SetJournal).
std::unique_ptr<IJournal> MakeJournal(const TSession &session, QString &error);

// The session's store in force, opened; nullptr with a reason when it cannot
// be, or when records are off.
std::unique_ptr<TRecordStore> OpenStoreInForce(const TSession &session, QString &error);
