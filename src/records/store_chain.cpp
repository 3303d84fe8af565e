#include "records/store_chain.h"

#include <algorithm>

#include <QJsonDocument>
#include <QSqlQuery>

#include "records/bench_key.h"
#include "records/store_connection.h"
#include "records/store_due.h"
#include "records/store_keys.h"
#include "records/store_sql.h"

using namespace store_sql;

namespace {

// A record the chain did not take is left without the place it was given.
void TakeBackPlace(RServiceRecord &record)
{
    record.mId = 0;
    record.mPrev.clear();
    record.mHash.clear();
    record.mSig.clear();
}

} // namespace

EAppend TRecordChain::Append(RServiceRecord &record, QString &error)
{
    // A store that keeps the bench waiting longer than kStoreWaitSeconds
    // (a held lock, a statement that does not end) gives up: the caller keeps
    // the record elsewhere.
    const QString wait = QStringLiteral("SET LOCAL lock_timeout = '%1s'; SET LOCAL statement_timeout = '%1s'; "
                                        "SELECT pg_advisory_xact_lock(%2); LOCK TABLE records IN ROW EXCLUSIVE MODE")
                             .arg(kStoreWaitSeconds)
                             .arg(kChainLock);
    const QByteArray lockSql = wait.toLatin1();
    if (!FConn.Begin(lockSql.constData(), error))
        return EAppend::kFailed;
    const EAppend a = AppendLocked(record, error);
    if (a != EAppend::kAdded) {
        FConn.Rollback();
        return a;
    }
    if (!FConn.Commit(error)) {
        TakeBackPlace(record);
        return EAppend::kFailed;
    }
    KeepWitness(record);
    return EAppend::kAdded;
}

EAppend TRecordChain::AppendLocked(RServiceRecord &record, QString &error)
{
    const TBenchKey *key = FConn.BenchKey(error);
    if (!key) {
        error = QStringLiteral("no bench key to sign with: ") + error;
        return EAppend::kFailed;
    }
    const auto fail = [&](const QSqlQuery &q) {
        error = ErrorText(q.lastError());
        TakeBackPlace(record);
        return EAppend::kFailed;
    };
    {
        QSqlQuery q(FConn.Db());
        q.prepare(QStringLiteral("SELECT id FROM records WHERE uid = ?"));
        q.addBindValue(record.mUid);
        if (!q.exec())
            return fail(q);
        if (q.next()) {
            record.mId = q.value(0).toLongLong();
            return EAppend::kAlreadyThere;
        }
    }
    if (!TStoreKeys(FConn).RegisterKey(*key, error))
        return EAppend::kFailed;
    qint64 lastId = 0;
    QString lastHash = kGenesisHash;
    {
        QSqlQuery q(FConn.Db());
        if (!q.exec(QStringLiteral("SELECT id, hash FROM records ORDER BY id DESC LIMIT 1")))
            return fail(q);
        if (q.next()) {
            lastId = q.value(0).toLongLong();
            lastHash = q.value(1).toString();
        }
    }
    // The next id ever given: never one a removed record had.
    {
        QSqlQuery q(FConn.Db());
        const QString next = FConn.IsPostgres()
                                 ? QStringLiteral("SELECT nextval('records_id_seq')")
                                 : QStringLiteral("SELECT COALESCE((SELECT seq FROM sqlite_sequence WHERE name = 'records'), 0) + 1");
        if (!q.exec(next) || !q.next())
            return fail(q);
        record.mId = std::max(q.value(0).toLongLong(), lastId + 1);
    }
    record.mPrev = lastHash;
    record.mBenchKey = key->KeyId();
    record.mHash = RecordHash(record);
    if (record.mHash.isEmpty()) {
        error = QStringLiteral("the record cannot be hashed: a text in it has no canonical JSON form");
        record.mId = 0;
        record.mPrev.clear();
        return EAppend::kFailed;
    }
    record.mSig = key->Sign(record.mHash);
    const std::optional<RTamselCFG> cfg = RecordConfig(record.mData);
    {
        QSqlQuery q(FConn.Db());
        q.prepare(QStringLiteral("INSERT INTO records (%1, kind, cal_interval, bump_interval) VALUES (%2?, ?, ?)")
                      .arg(RecordColumns(), QStringLiteral("?, ").repeated(RecordColumnCount())));
        for (const QVariant &v : RecordFieldValues(record))
            q.addBindValue(v);
        for (const QVariant &v :
             {Text(KindName(RecordKind(record))),
              NullableInt(cfg ? std::optional<qint64>(CalIntervalSeconds(*cfg)) : std::nullopt),
              NullableInt(cfg ? std::optional<qint64>(BumpIntervalDays(*cfg)) : std::nullopt)})
            q.addBindValue(v);
        if (!q.exec())
            return fail(q);
    }
    {
        QSqlQuery q(FConn.Db());
        q.prepare(QStringLiteral("DELETE FROM chain_head"));
        if (!q.exec())
            return fail(q);
        q.prepare(QStringLiteral("INSERT INTO chain_head (one, id, hash) VALUES (1, ?, ?)"));
        q.addBindValue(record.mId);
        q.addBindValue(record.mHash);
        if (!q.exec())
            return fail(q);
    }
    if (!record.mSimulated && !TDueSummary(FConn).UpdateSerial(record, error)) {
        TakeBackPlace(record);
        return EAppend::kFailed;
    }
    return EAppend::kAdded;
}

bool TRecordChain::List(const RRecordFilter &filter, std::vector<RServiceRecord> &out, QString &error)
{
    QStringList where;
    QVariantList binds;
    if (!filter.mSerial.isEmpty()) {
        where << QStringLiteral("serial = ?");
        binds << filter.mSerial;
    }
    if (!filter.mJob.isEmpty()) {
        where << QStringLiteral("job = ?");
        binds << filter.mJob;
    }
    if (!filter.mSince.isEmpty()) {
        where << QStringLiteral("time >= ?");
        binds << filter.mSince;
    }
    QString sql = QStringLiteral("SELECT %1 FROM records").arg(RecordColumns());
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY time DESC, id DESC");
    if (filter.mLimit >= 0)
        sql += QStringLiteral(" LIMIT %1").arg(filter.mLimit);
    QSqlQuery q(FConn.Db());
    q.setForwardOnly(true);
    q.prepare(sql);
    for (const QVariant &b : binds)
        q.addBindValue(b);
    if (!q.exec()) {
        error = ErrorText(q.lastError());
        return false;
    }
    out.clear();
    while (q.next()) {
        RServiceRecord r;
        RowToRecord(q, r);
        out.push_back(std::move(r));
    }
    return true;
}

std::optional<RServiceRecord> TRecordChain::Get(qint64 id, QString &error)
{
    QSqlQuery q(FConn.Db());
    q.prepare(QStringLiteral("SELECT %1 FROM records WHERE id = ?").arg(RecordColumns()));
    q.addBindValue(id);
    if (!q.exec()) {
        error = ErrorText(q.lastError());
        return std::nullopt;
    }
    if (!q.next())
        return std::nullopt;
    RServiceRecord r;
    RowToRecord(q, r);
    return r;
}

qint64 TRecordChain::Count(QString &error)
{
    return CountOf(FConn.Db(), QStringLiteral("SELECT COUNT(*) FROM records"), error);
}

std::optional<RChainHead> TRecordChain::Head(QString &error)
{
    QSqlQuery q(FConn.Db());
    if (!q.exec(QStringLiteral("SELECT id, hash FROM records ORDER BY id DESC LIMIT 1"))) {
        error = ErrorText(q.lastError());
        return std::nullopt;
    }
    if (!q.next())
        return std::nullopt;
    return RChainHead{q.value(0).toLongLong(), q.value(1).toString()};
}
