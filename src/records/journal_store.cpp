#include "records/journal_store.h"

#include <exception>

#include <QFileInfo>

#include "records/location.h"
#include "records/qt_app.h"

namespace {

QString OneLine(const QString &s) { return s.simplified(); }

// A reason, never empty (a connection that died may leave none).
QString Reason(const QString &error)
{
    const QString e = OneLine(error);
    return e.isEmpty() ? QStringLiteral("the connection was lost") : e;
}

} // namespace

TRecordJournal::TRecordJournal(RStoreLocation location, QString localPath, TClock clock)
    : FLocation(std::move(location)), FLocalPath(localPath.isEmpty() ? DefaultSqlitePath() : std::move(localPath)),
      FClock(std::move(clock))
{
    if (!FClock)
        FClock = [] { return QDateTime::currentDateTimeUtc(); };
    // Qt SQL needs the application object, made on the program's own thread.
    EnsureCoreApplication();
}

TRecordJournal::~TRecordJournal()
{
    if (FThread.joinable()) {
        {
            const std::lock_guard<std::mutex> lock(FMutex);
            FStop = true;
        }
        FWake.notify_all();
        FThread.join();
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
    if (FLocation.mKind == EStoreKind::kPostgres && std::chrono::steady_clock::now() < FPrimaryRetry) {
        error = QStringLiteral("it did not answer a moment ago");
        return nullptr;
    }
    FPrimary = TRecordStore::Open(FLocation, error);
    if (!FPrimary && FLocation.mKind == EStoreKind::kPostgres)
        FPrimaryRetry = std::chrono::steady_clock::now() + std::chrono::seconds(kRetrySeconds);
    return FPrimary.get();
}

TRecordStore *TRecordJournal::Local(QString &error)
{
    if (!FLocal) {
        RStoreLocation local;
        local.mKind = EStoreKind::kSqlite;
        local.mPath = OutboxPath();
        FLocal = TRecordStore::Open(local, error);
    }
    return FLocal.get();
}

std::string TRecordJournal::KeepNow(const RJobRecord &job)
{
    try {
        if (FLocation.mKind == EStoreKind::kOff)
            return {};
        RServiceRecord record = RecordOfJob(job, FClock(), BenchName(), LoginName());
        return Store(record).toStdString();
    } catch (const std::exception &e) {
        return std::string("the service record was not kept: ") + e.what();
    } catch (...) {
        return "the service record was not kept: unexpected error";
    }
}

QString TRecordJournal::Store(RServiceRecord &record)
{
    if (FLocation.mKind == EStoreKind::kOff)
        return {};
    QString error;
    if (TRecordStore *store = Primary(error)) {
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
    QString localError;
    TRecordStore *local = Local(localError);
    if (local && local->Keep(record, OutboxDest(FLocation), localError)) {
        FOutboxChecked = false;
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
    {
        const std::lock_guard<std::mutex> lock(FMutex);
        FRunning.reset();
        RQueued q{job, warn};
        if (!q.mJob.mTime.isValid())
            q.mJob.mTime = FClock();
        FQueue.push_back(std::move(q));
        if (!FThread.joinable())
            FThread = std::thread([this] { Run(); });
    }
    FWake.notify_one();
}

void TRecordJournal::Run()
{
    std::unique_lock<std::mutex> lock(FMutex);
    for (;;) {
        FWake.wait(lock, [this] { return FStop || !FQueue.empty(); });
        if (FQueue.empty()) {
            if (FStop)
                break;
            continue;
        }
        RQueued q = std::move(FQueue.front());
        FQueue.pop_front();
        FBusy = true;
        lock.unlock();
        const std::string warning = KeepNow(q.mJob);
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
    FIdle.wait(lock, [this] { return FQueue.empty() && !FBusy; });
}

void TRecordJournal::Started(const std::string &job, const QDateTime &time)
{
    const std::lock_guard<std::mutex> lock(FMutex);
    RJobRecord r;
    r.mJob = job;
    r.mTime = time;
    FRunning = r;
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

std::unique_ptr<IJournal> MakeJournal(QString &error)
{
    RStoreLocation location;
    if (!ResolveStoreLocation(location, error))
        return std::make_unique<TNullJournal>();
    if (location.mKind == EStoreKind::kOff)
        return std::make_unique<TNullJournal>();
    return std::make_unique<TRecordJournal>(location);
}

std::unique_ptr<TRecordStore> OpenStoreInForce(QString &error)
{
    RStoreLocation location;
    if (!ResolveStoreLocation(location, error))
        return nullptr;
    return TRecordStore::Open(location, error);
}
