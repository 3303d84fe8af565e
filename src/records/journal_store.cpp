#include "records/journal_store.h"

#include <exception>

#include <QFileInfo>

#include "app/session.h"
#include "link/thread_signals.h"
#include "records/bench_key.h"
#include "records/kept_config.h"
#include "records/location.h"
#include "records/sql_drivers.h"

namespace {

QString OneLine(const QString &s) { return s.simplified(); }

// A reason, never empty (a connection that died may leave none).
QString Reason(const QString &error)
{
    const QString e = OneLine(error);
    return e.isEmpty() ? QStringLiteral("the connection was lost") : e;
}

// A write that read no configuration first names the newest earlier record
// that read that serial's configuration, as what the detector held before.
void NameConfigBefore(TRecordStore &store, RServiceRecord &record)
{
    if (record.mJob != QLatin1String(kJobWrite) || record.mSerial.isEmpty() ||
        record.mData.contains(QLatin1String(journal_data::kConfigBefore)))
        return;
    QString error;
    if (const std::optional<RKeptConfig> before = ConfigBefore(store, record.mSerial, record.mTime, error))
        record.mData.insert(QLatin1String(journal_data::kConfigBefore), KeptConfigRef(*before));
}

} // namespace

TRecordJournal::TRecordJournal(RStoreLocation location, QString localPath, TClock clock)
    : FLocation(std::move(location)), FLocalPath(localPath.isEmpty() ? DefaultSqlitePath() : std::move(localPath)),
      FClock(std::move(clock))
{
    if (!FClock)
        FClock = [] { return QDateTime::currentDateTimeUtc(); };
    // The writer thread opens the stores; the drivers are found here first.
    FindSqlDriversOnThisThread();
}

TRecordJournal::~TRecordJournal()
{
    if (FThread) {
        {
            const std::lock_guard<std::mutex> lock(FMutex);
            FStop = true;
        }
        FWake.notify_all();
        FThread->wait();
    }
    // The connections go with the thread that used them.
    FPrimary.reset();
    FLocal.reset();
}

QString TRecordJournal::OutboxPath() const
{
    if (FLocation.mKind == EStoreKind::kSqlite &&
        QFileInfo(FLocation.mPath).absoluteFilePath() == QFileInfo(FLocalPath).absoluteFilePath())
        return QFileInfo(FLocalPath).absolutePath() + QStringLiteral("/outbox.sqlite");
    return FLocalPath;
}

TRecordStore *TRecordJournal::Primary(QString &error)
{
    if (FPrimary)
        return FPrimary.get();
    if (FLocation.mKind == EStoreKind::kPostgres && FRetryClock() < FPrimaryRetry) {
        error = QStringLiteral("it did not answer a moment ago");
        return nullptr;
    }
    FPrimary = TRecordStore::Open(FLocation, error);
    if (!FPrimary && FLocation.mKind == EStoreKind::kPostgres)
        FPrimaryRetry = FRetryClock() + std::chrono::seconds(kRetrySeconds);
    if (FPrimary && Key())
        FPrimary->SetBenchKey(Key());
    return FPrimary.get();
}

const TBenchKey *TRecordJournal::Key()
{
    // Loaded when a store first needs it; a key that cannot be had is looked
    // for again next time (the store then says why it cannot sign).
    if (!FKey) {
        FKeyError.clear();
        FKey = TBenchKey::LoadOrCreate(DefaultBenchKeyPath(), FKeyError);
    }
    return FKey.get();
}

TRecordStore *TRecordJournal::Local(QString &error)
{
    if (!FLocal) {
        RStoreLocation local;
        local.mKind = EStoreKind::kSqlite;
        local.mPath = OutboxPath();
        FLocal = TRecordStore::Open(local, error);
        if (FLocal && Key())
            FLocal->SetBenchKey(Key());
    }
    return FLocal.get();
}

RServiceRecord TRecordJournal::Make(const RJobRecord &job) const
{
    return RecordOfJob(job, FClock(), BenchName(), LoginName(), *FSensorTypes);
}

std::string TRecordJournal::Keep(RServiceRecord &record)
{
    try {
        return Store(record).toStdString();
    } catch (const std::exception &e) {
        return std::string("the service record was not kept: ") + e.what();
    } catch (...) {
        return "the service record was not kept: unexpected error";
    }
}

std::string TRecordJournal::KeepNow(const RJobRecord &job)
{
    if (FLocation.mKind == EStoreKind::kOff)
        return {};
    RServiceRecord record;
    try {
        record = Make(job);
    } catch (const std::exception &e) {
        return std::string("the service record was not kept: ") + e.what();
    } catch (...) {
        return "the service record was not kept: unexpected error";
    }
    return Keep(record);
}

QString TRecordJournal::Store(RServiceRecord &record)
{
    if (FLocation.mKind == EStoreKind::kOff)
        return {};
    QString error;
    // No record can be signed without a good key: it waits in the outbox.
    const TBenchKey *key = Key();
    TRecordStore *store = key ? Primary(error) : nullptr;
    if (!key)
        error = QStringLiteral("no bench key to sign with: ") + FKeyError;
    if (store) {
        NameConfigBefore(*store, record);
        const EAppend a = store->Append(record, error);
        if (a != EAppend::kFailed) {
            SendOutbox(*store);
            return {};
        }
        if (FLocation.mKind == EStoreKind::kPostgres)
            FPrimary.reset(); // the connection may be gone: open anew next time
    }
    const QString why = error.contains(FLocation.Describe()) ? Reason(error)
                                                              : QStringLiteral("%1: %2").arg(FLocation.Describe(), Reason(error));
    QString localError, unsignedBecause;
    TRecordStore *local = Local(localError);
    if (local && local->Keep(record, OutboxDest(FLocation), localError, &unsignedBecause)) {
        FOutboxChecked = false;
        if (!unsignedBecause.isEmpty())
            return OneLine(QStringLiteral("the service record was kept unsigned on this bench: %1; it is signed and "
                                          "sent once this bench has a good key: put the right key back (a file of "
                                          "this user, mode 0600, not a link) or move %2 away so that a new one is "
                                          "made, then run `beamport-cli records sync`")
                               .arg(Reason(unsignedBecause), DefaultBenchKeyPath()));
        return OneLine(QStringLiteral("the service record was kept on this bench; it will be sent when the %1 "
                                      "answers (%2)")
                           .arg(FLocation.mKind == EStoreKind::kPostgres ? QStringLiteral("shared store")
                                                                         : QStringLiteral("record store"),
                                why));
    }
    return OneLine(QStringLiteral("the service record was not kept: %1; nor on this bench: %2")
                       .arg(why, Reason(localError)));
}

void TRecordJournal::SendOutbox(TRecordStore &primary)
{
    if (FOutboxChecked)
        return;
    FOutboxChecked = true;
    if (!FLocal && !QFileInfo::exists(OutboxPath()))
        return;
    QString error;
    TRecordStore *local = Local(error);
    if (!local || local->OutboxCount(error, OutboxDest(FLocation)) <= 0)
        return;
    // What waited goes now, after the record that found the store answering.
    if (!SyncOutbox(*local, primary).mError.isEmpty())
        FOutboxChecked = false;
}

RSyncResult TRecordJournal::Sync()
{
    RSyncResult result;
    if (FLocation.mKind == EStoreKind::kOff)
        return result;
    if (!QFileInfo::exists(OutboxPath()))
        return result;
    TRecordStore *local = Local(result.mError);
    if (!local)
        return result;
    result.mLeft = static_cast<int>(local->OutboxCount(result.mError, OutboxDest(FLocation)));
    if (result.mLeft <= 0) {
        result.mLeft = std::max(result.mLeft, 0);
        return result;
    }
    FPrimaryRetry = {}; // asked by hand: try the shared store now
    TRecordStore *shared = Primary(result.mError);
    if (!shared)
        return result;
    result = SyncOutbox(*local, *shared);
    if (!result.mError.isEmpty() && FLocation.mKind == EStoreKind::kPostgres)
        FPrimary.reset();
    return result;
}

// ---- the writer thread ----

void TRecordJournal::Record(const RJobRecord &job, const TJournalWarn &warn)
{
    if (FLocation.mKind == EStoreKind::kOff)
        return;
    // The record is made here, on the caller's thread: the job's time and
    // the names it takes from the session's settings are those of now.
    RQueued q;
    q.mWarn = warn;
    try {
        q.mRecord = Make(job);
    } catch (const std::exception &e) {
        if (warn)
            warn(std::string("the service record was not kept: ") + e.what());
        Ended();
        return;
    } catch (...) {
        if (warn)
            warn("the service record was not kept: unexpected error");
        Ended();
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(FMutex);
        FRunning.reset();
        FQueue.push_back(std::move(q));
        StartThread();
    }
    FWake.notify_one();
}

void TRecordJournal::StartThread()
{
    if (FThread)
        return;
    FThread.reset(QThread::create([this] { Run(); }));
    FThread->start();
}

void TRecordJournal::Run()
{
    // The program's stop signals are for the thread that waits for them
    // (the command line's screen), never this one.
    KeepStopSignalsFromThisThread();
    std::unique_lock<std::mutex> lock(FMutex);
    for (;;) {
        FWake.wait(lock, [this] { return FStop || FPrepare || !FQueue.empty(); });
        if (FQueue.empty()) {
            if (FStop)
                break;
            if (FPrepare) {
                FPrepare = false;
                FPrepared = true;
                FBusy = true;
                lock.unlock();
                QString error; // said when the record is kept, if it still holds then
                Primary(error);
                lock.lock();
                FBusy = false;
                FIdle.notify_all();
            }
            continue;
        }
        FPrepare = false;
        RQueued q = std::move(FQueue.front());
        FQueue.pop_front();
        FBusy = true;
        lock.unlock();
        const std::string warning = Keep(q.mRecord);
        if (!warning.empty() && q.mWarn)
            q.mWarn(warning);
        lock.lock();
        FBusy = false;
        FIdle.notify_all();
    }
    lock.unlock();
    // The connections belong to this thread: closed here.
    FPrimary.reset();
    FLocal.reset();
}

void TRecordJournal::Flush()
{
    std::unique_lock<std::mutex> lock(FMutex);
    FIdle.wait(lock, [this] { return FQueue.empty() && !FBusy && !FPrepare; });
}

void TRecordJournal::Started(const std::string &job, const QDateTime &time)
{
    {
        const std::lock_guard<std::mutex> lock(FMutex);
        RJobRecord r;
        r.mJob = job;
        r.mTime = time;
        FRunning = r;
        // A local store is opened and the key read while the job runs, so
        // that after it only the append is left. A shared store is not: a
        // connection held through a long job may be gone when it ends.
        if (FLocation.mKind != EStoreKind::kSqlite || FPrepared)
            return;
        FPrepare = true;
        StartThread();
    }
    FWake.notify_one();
}

void TRecordJournal::Ended()
{
    const std::lock_guard<std::mutex> lock(FMutex);
    FRunning.reset();
}

void TRecordJournal::Abandon()
{
    std::optional<RJobRecord> running;
    {
        const std::lock_guard<std::mutex> lock(FMutex);
        running.swap(FRunning);
    }
    if (running) {
        running->mStatus = kJobNotDone;
        running->mOutcome = outcome::kStopped;
        running->mText = "stopped: the program was ended while the job ran";
        Record(*running, {});
    }
    Flush();
}

std::unique_ptr<IJournal> MakeJournal(const TSession &session, QString &error)
{
    RStoreLocation location;
    if (!ResolveStoreLocation(session.RecordsChoice, location, error))
        return std::make_unique<TNullJournal>();
    if (location.mKind == EStoreKind::kOff)
        return std::make_unique<TNullJournal>();
    auto journal = std::make_unique<TRecordJournal>(location);
    journal->NameSensorsBy(session.SensorTypes);
    return journal;
}
