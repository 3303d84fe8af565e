#include "records/store.h"

#include <algorithm>

#include <QJsonDocument>
#include <QSqlQuery>

#include "records/bench_key.h"
#include "records/store_sql.h"

using namespace store_sql;


EAppend TRecordStore::Append(RServiceRecord &record, QString &error)
{
    // A store that keeps the bench waiting longer than kStoreWaitSeconds
    // (a held lock, a statement that does not end) gives up: the caller keeps
    // the record elsewhere.
    const QString wait = QStringLiteral("SET LOCAL lock_timeout = '%1s'; SET LOCAL statement_timeout = '%1s'; "
                                        "SELECT pg_advisory_xact_lock(%2); LOCK TABLE records IN ROW EXCLUSIVE MODE")
                             .arg(kStoreWaitSeconds)
                             .arg(kChainLock);
    const QByteArray lockSql = wait.toLatin1();
    if (!Begin(lockSql.constData(), error))
        return EAppend::kFailed;
    const EAppend a = AppendLocked(record, error);
    if (a != EAppend::kAdded) {
        Rollback();
        return a;
    }
    if (!Commit(error)) {
        record.mId = 0;
        record.mPrev.clear();
        record.mHash.clear();
        record.mSig.clear();
        return EAppend::kFailed;
    }
    KeepWitness(record);
    return EAppend::kAdded;
}

EAppend TRecordStore::AppendLocked(RServiceRecord &record, QString &error)
{
    const TBenchKey *key = BenchKey(error);
    if (!key) {
        error = QStringLiteral("no bench key to sign with: ") + error;
        return EAppend::kFailed;
    }
    const auto fail = [&](const QSqlQuery &q) {
        error = ErrorText(q.lastError());
        record.mId = 0;
        record.mPrev.clear();
        record.mHash.clear();
        record.mSig.clear();
        return EAppend::kFailed;
    };
    {
        QSqlQuery q(FDb);
        q.prepare(QStringLiteral("SELECT id FROM records WHERE uid = ?"));
        q.addBindValue(record.mUid);
        if (!q.exec())
            return fail(q);
        if (q.next()) {
            record.mId = q.value(0).toLongLong();
            return EAppend::kAlreadyThere;
        }
    }
    if (!RegisterKey(*key, error))
        return EAppend::kFailed;
    qint64 lastId = 0;
    QString lastHash = kGenesisHash;
    {
        QSqlQuery q(FDb);
        if (!q.exec(QStringLiteral("SELECT id, hash FROM records ORDER BY id DESC LIMIT 1")))
            return fail(q);
        if (q.next()) {
            lastId = q.value(0).toLongLong();
            lastHash = q.value(1).toString();
        }
    }
    // The next id ever given: never one a removed record had.
    {
        QSqlQuery q(FDb);
        const QString next = IsPostgres()
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
        QSqlQuery q(FDb);
        q.prepare(QStringLiteral("INSERT INTO records (%1, kind, cal_interval, bump_interval) "
                                 "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                      .arg(QLatin1String(kColumns)));
        for (const QVariant &v :
             {QVariant(record.mId), Text(record.mUid), Text(record.mTime), Text(record.mJob),
              QVariant(record.mStatus), Text(record.mText), Text(record.mSerial), Text(record.mProduct),
              Text(record.mFirmware), Text(record.mHardware), Text(record.mSensor), Text(record.mBench),
              Text(record.mUser), Text(DataText(record.mData)), Text(record.mPrev), Text(record.mHash),
              Text(record.mOutcome), QVariant(record.mSimulated ? 1 : 0), Text(record.mBenchKey), Text(record.mSig),
              Text(KindName(RecordKind(record))),
              NullableInt(cfg ? std::optional<qint64>(CalIntervalSeconds(*cfg)) : std::nullopt),
              NullableInt(cfg ? std::optional<qint64>(BumpIntervalDays(*cfg)) : std::nullopt)})
            q.addBindValue(v);
        if (!q.exec())
            return fail(q);
    }
    {
        QSqlQuery q(FDb);
        q.prepare(QStringLiteral("DELETE FROM chain_head"));
        if (!q.exec())
            return fail(q);
        q.prepare(QStringLiteral("INSERT INTO chain_head (one, id, hash) VALUES (1, ?, ?)"));
        q.addBindValue(record.mId);
        q.addBindValue(record.mHash);
        if (!q.exec())
            return fail(q);
    }
    if (!record.mSimulated && !UpdateSerial(record, error)) {
        record.mId = 0;
        record.mPrev.clear();
        record.mHash.clear();
        record.mSig.clear();
        return EAppend::kFailed;
    }
    return EAppend::kAdded;
}

bool TRecordStore::List(const RRecordFilter &filter, std::vector<RServiceRecord> &out, QString &error)
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
    QString sql = QStringLiteral("SELECT %1 FROM records").arg(QLatin1String(kColumns));
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY time DESC, id DESC");
    if (filter.mLimit >= 0)
        sql += QStringLiteral(" LIMIT %1").arg(filter.mLimit);
    QSqlQuery q(FDb);
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

std::optional<RServiceRecord> TRecordStore::Get(qint64 id, QString &error)
{
    QSqlQuery q(FDb);
    q.prepare(QStringLiteral("SELECT %1 FROM records WHERE id = ?").arg(QLatin1String(kColumns)));
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

qint64 TRecordStore::Count(QString &error)
{
    return CountOf(FDb, QStringLiteral("SELECT COUNT(*) FROM records"), error);
}

std::optional<RChainHead> TRecordStore::Head(QString &error)
{
    QSqlQuery q(FDb);
    if (!q.exec(QStringLiteral("SELECT id, hash FROM records ORDER BY id DESC LIMIT 1"))) {
        error = ErrorText(q.lastError());
        return std::nullopt;
    }
    if (!q.next())
        return std::nullopt;
    return RChainHead{q.value(0).toLongLong(), q.value(1).toString()};
}

qint64 TRecordStore::Certificate(const RServiceRecord &record,
                                 const std::function<bool(const QString &number)> &write, QString &error,
                                 QString *numberText)
{
    const TBenchKey *key = BenchKey(error);
    if (!key)
        return 0;
    const QByteArray lockSql =
        QStringLiteral("SELECT pg_advisory_xact_lock(%1); LOCK TABLE certificates IN ROW EXCLUSIVE MODE")
            .arg(kCertificateLock)
            .toLatin1();
    if (!Begin(lockSql.constData(), error))
        return 0;
    const auto fail = [&](const QSqlQuery &q) {
        error = ErrorText(q.lastError());
        Rollback();
        return qint64{0};
    };
    qint64 number = 0;
    QString keyId = key->KeyId();
    {
        QSqlQuery q(FDb);
        q.prepare(QStringLiteral("SELECT number, key_id, record_hash FROM certificates WHERE record_id = ?"));
        q.addBindValue(record.mId);
        if (!q.exec())
            return fail(q);
        if (q.next()) {
            if (q.value(2).toString() != record.mHash) {
                error = QStringLiteral("record %1 has changed since its certificate was given").arg(record.mId);
                q.finish();
                Rollback();
                return 0;
            }
            number = q.value(0).toLongLong();
            keyId = q.value(1).toString();
        }
    }
    const bool given = number != 0;
    if (!given) {
        QSqlQuery q(FDb);
        q.prepare(QStringLiteral("SELECT COALESCE(MAX(number), 0) FROM certificates WHERE key_id = ?"));
        q.addBindValue(keyId);
        if (!q.exec() || !q.next())
            return fail(q);
        number = q.value(0).toLongLong() + 1;
    }
    // BP-<the bench key's short id>-<its own count>: never the same on two
    // benches or two users. Numbers given before keys existed stay as they were.
    const QString text = keyId.isEmpty() ? QStringLiteral("BP-%1").arg(number, 6, 10, QLatin1Char('0'))
                                         : QStringLiteral("BP-%1-%2").arg(keyId.left(8).toUpper()).arg(number, 6, 10, QLatin1Char('0'));
    if (!write(text)) {
        Rollback();
        if (error.isEmpty())
            error = QStringLiteral("the certificate was not written");
        return 0;
    }
    if (!given) {
        QSqlQuery ins(FDb);
        ins.prepare(QStringLiteral("INSERT INTO certificates (record_id, record_hash, key_id, number, issued) "
                                   "VALUES (?, ?, ?, ?, ?)"));
        for (const QVariant &v : {QVariant(record.mId), QVariant(record.mHash), QVariant(keyId), QVariant(number),
                                  QVariant(RecordTime(QDateTime::currentDateTimeUtc()))})
            ins.addBindValue(v);
        if (!ins.exec())
            return fail(ins);
    }
    if (!Commit(error))
        return 0;
    if (numberText)
        *numberText = text;
    return number;
}
