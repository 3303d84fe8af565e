#pragma once
// The journal of the service records: the store behind the core's IJournal.
//
// Each finished job becomes one record in the store in force, written on a
// writer thread of the journal's own (with its own connections: the window
// never waits on a store), in the order the jobs were handed over, each
// durable before the next. When the store cannot take a record within
// kStoreWaitSeconds (a shared PostgreSQL store that does not answer, a lock
// held too long), the record is kept in this bench's outbox: a SQLite file
// (the default store, or outbox.sqlite beside it when the default store is
// the one that failed), signed, outside any chain. Without a good bench key
// (missing and not to be made, damaged, readable by others, a link) a record
// is kept there unsigned, the reason with it, and waits for a good key. A shared store that did
// not answer is left alone for kRetrySeconds, records going straight to the
// outbox; the outbox is sent by itself with the next record the store takes
// (or by `records sync`). A record is never dropped and never written twice
// (each carries a uid the store holds unique).
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <QDateTime>
#include <QThread>

#include "app/journal.h"
#include "model/settings_types.h"
#include "records/store.h"

class TBenchKey;
class TSession;

// How long a shared store that did not answer is left alone.
inline constexpr int kRetrySeconds = 60;

class TRecordJournal final : public IJournal {
public:
    using TClock = std::function<QDateTime()>;
    // localPath: the SQLite file that keeps records the store could not take
    // (empty: the default store file). clock: UTC now (empty: the system clock).
    explicit TRecordJournal(RStoreLocation location, QString localPath = {}, TClock clock = {});
    ~TRecordJournal() override; // waits for the records handed over

    // The sensor types that name a record's sensor (the session's; the
    // built-in ones until this is called). They must outlive the journal;
    // they are read on the thread that hands a job over.
    void NameSensorsBy(const std::vector<RSensorType> &types) { FSensorTypes = &types; }

    // Hands the job to the writer thread (started on first use).
    void Record(const RJobRecord &job, const TJournalWarn &warn) override;
    void Flush() override;
    void Started(const std::string &job, const QDateTime &time) override;
    void Ended() override;
    void Abandon() override;

    // The same on the caller's thread, for a journal whose writer thread was
    // never started: the warning line, empty when the record went to its store.
    std::string KeepNow(const RJobRecord &job);
    // A record already made (RecordOfJob); gets its id, prev, hash and sig
    // when it went to the store in force. Empty text when stored there.
    QString Store(RServiceRecord &record);
    // Sends what this bench keeps for the store in force.
    RSyncResult Sync();

    // The clock that times how long a shared store that did not answer is
    // left alone (a test's own; the steady clock when not set). Set it
    // before the first record is handed over.
    using TSteadyClock = std::function<std::chrono::steady_clock::time_point()>;
    void SetRetryClock(TSteadyClock clock) { FRetryClock = std::move(clock); }

    const RStoreLocation &Location() const { return FLocation; }
    QString LocalPath() const { return FLocalPath; }
    // Where records the store in force could not take are kept.
    QString OutboxPath() const;

private:
    struct RQueued {
        RServiceRecord mRecord;
        TJournalWarn mWarn;
    };
    RServiceRecord Make(const RJobRecord &job) const;
    std::string Keep(RServiceRecord &record);
    TRecordStore *Primary(QString &error);
    TRecordStore *Local(QString &error);
    // The bench key, loaded once (on the thread that keeps the records).
    const TBenchKey *Key();
    void SendOutbox(TRecordStore &primary);
    void Run();
    // Starts the writer thread once (FMutex held).
    void StartThread();

    RStoreLocation FLocation;
    QString FLocalPath;
    TClock FClock;
    std::unique_ptr<TRecordStore> FPrimary;
    std::unique_ptr<TRecordStore> FLocal;
    std::vector<RSensorType> FBuiltInTypes = BuiltInSensorTypes();
    const std::vector<RSensorType> *FSensorTypes = &FBuiltInTypes;
    std::unique_ptr<TBenchKey> FKey; // this bench's signing key, once loaded
    QString FKeyError;               // why it could not be, the last time it was looked for
    TSteadyClock FRetryClock = [] { return std::chrono::steady_clock::now(); };
    std::chrono::steady_clock::time_point FPrimaryRetry{}; // a shared store left alone until then
    bool FOutboxChecked = false;                           // the outbox was looked at since the last keep

    std::mutex FMutex;
    std::condition_variable FWake, FIdle;
    std::deque<RQueued> FQueue;
    bool FBusy = false, FStop = false;
    bool FPrepare = false, FPrepared = false; // open the local store while a job runs; done once
    // A thread Qt knows as its own: the store's connections live on it, and
    // Qt's data for it is gone when it has been waited for (a thread Qt only
    // adopts is tidied later, on Windows after the program may have ended).
    std::unique_ptr<QThread> FThread;
    std::optional<RJobRecord> FRunning; // the job under way (Started), for Abandon
};

// The journal of the session's store in force (ResolveStoreLocation with its
// RecordsChoice): a TRecordJournal naming sensors by the session's
// SensorTypes, or a TNullJournal when records are off. On a bad --records
// value or BEAMPORT_RECORDS, a TNullJournal and the reason in `error`. The
// session keeps it (TSession::SetJournal).
std::unique_ptr<IJournal> MakeJournal(const TSession &session, QString &error);
