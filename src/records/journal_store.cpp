#include "records/journal_store.h"

#include <exception>

#include "app/session.h"
#include "records/location.h"

namespace {
QString OneLine(const QString &s) { return s.simplified(); }
} // namespace

TRecordJournal::TRecordJournal(RStoreLocation location, QString localPath, TClock clock)
    : FLocation(std::move(location)), FLocalPath(localPath.isEmpty() ? DefaultSqlitePath() : std::move(localPath)),
      FClock(std::move(clock))
{
    if (!FClock)
        FClock = [] { return QDateTime::currentDateTimeUtc(); };
}

TRecordJournal::~TRecordJournal() = default;

TRecordStore *TRecordJournal::Primary(QString &error)
{
    if (!FPrimary)
        FPrimary = TRecordStore::Open(FLocation, error);
    return FPrimary.get();
}

TRecordStore *TRecordJournal::Local(QString &error)
{
    if (FLocation.mKind == EStoreKind::kSqlite)
        return Primary(error);
    if (!FLocal) {
        RStoreLocation local;
        local.mKind = EStoreKind::kSqlite;
        local.mPath = FLocalPath;
        FLocal = TRecordStore::Open(local, error);
    }
    return FLocal.get();
}

std::string TRecordJournal::Record(const RJobRecord &job)
{
    try {
        if (FLocation.mKind == EStoreKind::kOff)
            return {};
        RServiceRecord record = RecordOfJob(job, FClock(), BenchName(), LoginName(), *FSensorTypes);
        return Store(record).toStdString();
    } catch (const std::exception &e) {
        return std::string("service record not written: ") + e.what();
    } catch (...) {
        return "service record not written: unexpected error";
    }
}

QString TRecordJournal::Store(RServiceRecord &record)
{
    if (FLocation.mKind == EStoreKind::kOff)
        return {};
    QString error;
    if (TRecordStore *store = Primary(error)) {
        if (store->Append(record, error) != EAppend::kFailed)
            return {};
        error = QStringLiteral("%1: %2").arg(FLocation.Describe(), error);
        if (FLocation.mKind == EStoreKind::kPostgres)
            FPrimary.reset(); // the connection may be gone: open anew next time
    }
    if (FLocation.mKind != EStoreKind::kPostgres)
        return OneLine(QStringLiteral("service record not written: ") + error);
    QString localError;
    TRecordStore *local = Local(localError);
    if (local && local->Keep(record, localError))
        return OneLine(QStringLiteral("service record kept on this bench (%1); `records sync` sends it later")
                           .arg(error));
    return OneLine(QStringLiteral("service record not written: %1; nor kept on this bench: %2").arg(error, localError));
}

RSyncResult TRecordJournal::Sync()
{
    RSyncResult result;
    if (FLocation.mKind != EStoreKind::kPostgres)
        return result;
    TRecordStore *local = Local(result.mError);
    if (!local)
        return result;
    result.mLeft = static_cast<int>(local->OutboxCount(result.mError));
    if (result.mLeft <= 0) {
        result.mLeft = std::max(result.mLeft, 0);
        return result;
    }
    TRecordStore *shared = Primary(result.mError);
    if (!shared)
        return result;
    result = SyncOutbox(*local, *shared);
    if (!result.mError.isEmpty())
        FPrimary.reset();
    return result;
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

std::unique_ptr<TRecordStore> OpenStoreInForce(const TSession &session, QString &error)
{
    RStoreLocation location;
    if (!ResolveStoreLocation(session.RecordsChoice, location, error))
        return nullptr;
    return TRecordStore::Open(location, error);
}
