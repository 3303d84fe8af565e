#include "records/store.h"

#include <algorithm>

#include <QJsonDocument>
#include <QSqlQuery>

#include "records/store_sql.h"

using namespace store_sql;

namespace {

// The columns of a record row, in the order RowToRecord reads them.
const char *const kColumns =
    "id, uid, time, job, status, text, serial, product, firmware, hardware, sensor, bench, login, data, prev, hash";

void RowToRecord(const QSqlQuery &q, RServiceRecord &r, QString *dataText = nullptr)
{
    r.mId = q.value(0).toLongLong();
    r.mUid = q.value(1).toString();
    r.mTime = q.value(2).toString();
    r.mJob = q.value(3).toString();
    r.mStatus = q.value(4).toInt();
    r.mText = q.value(5).toString();
    r.mSerial = q.value(6).toString();
    r.mProduct = q.value(7).toString();
    r.mFirmware = q.value(8).toString();
    r.mHardware = q.value(9).toString();
    r.mSensor = q.value(10).toString();
    r.mBench = q.value(11).toString();
    r.mUser = q.value(12).toString();
    const QString data = q.value(13).toString();
    r.mData = QJsonDocument::fromJson(data.toUtf8()).object();
    r.mPrev = q.value(14).toString();
    r.mHash = q.value(15).toString();
    if (dataText)
        *dataText = data;
}

bool SameFacts(const RDueFacts &a, const RDueFacts &b)
{
    return a.mSerial == b.mSerial && a.mProduct == b.mProduct && a.mSensor == b.mSensor && a.mLatest == b.mLatest &&
           a.mCfgTime == b.mCfgTime && a.mLastCal == b.mLastCal && a.mLastBump == b.mLastBump &&
           a.mCalInterval == b.mCalInterval && a.mBumpInterval == b.mBumpInterval &&
           a.mCfgCalInterval == b.mCfgCalInterval && a.mCfgBumpInterval == b.mCfgBumpInterval;
}

} // namespace

EAppend TRecordStore::Append(RServiceRecord &record, QString &error)
{
    if (!Begin("LOCK TABLE records IN EXCLUSIVE MODE", error))
        return EAppend::kFailed;
    const auto fail = [&](const QSqlQuery &q) {
        error = ErrorText(q.lastError());
        Rollback();
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
            q.finish();
            Rollback();
            return EAppend::kAlreadyThere;
        }
    }
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
    record.mId = lastId + 1;
    record.mPrev = lastHash;
    record.mHash = RecordHash(record);
    const std::optional<RTamselCFG> cfg = RecordConfig(record.mData);
    {
        QSqlQuery q(FDb);
        q.prepare(QStringLiteral("INSERT INTO records (%1, kind, cal_interval, bump_interval) "
                                 "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                      .arg(QLatin1String(kColumns)));
        for (const QVariant &v :
             {QVariant(record.mId), Text(record.mUid), Text(record.mTime), Text(record.mJob),
              QVariant(record.mStatus), Text(record.mText), Text(record.mSerial), Text(record.mProduct),
              Text(record.mFirmware), Text(record.mHardware), Text(record.mSensor), Text(record.mBench),
              Text(record.mUser), Text(DataText(record.mData)), Text(record.mPrev), Text(record.mHash),
              Text(KindName(RecordKind(record))),
              NullableInt(cfg ? std::optional<qint64>(CalIntervalSeconds(*cfg)) : std::nullopt),
              NullableInt(cfg ? std::optional<qint64>(BumpIntervalDays(*cfg)) : std::nullopt)})
            q.addBindValue(v);
        if (!q.exec()) {
            record.mId = 0;
            record.mPrev.clear();
            record.mHash.clear();
            return fail(q);
        }
    }
    if (!UpdateSerial(record, error)) {
        record.mId = 0;
        record.mPrev.clear();
        record.mHash.clear();
        Rollback();
        return EAppend::kFailed;
    }
    if (!Commit(error)) {
        record.mId = 0;
        record.mPrev.clear();
        record.mHash.clear();
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

RVerifyResult TRecordStore::Verify()
{
    RVerifyResult result;
    QSqlQuery q(FDb);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT %1, kind, cal_interval, bump_interval FROM records ORDER BY id")
                    .arg(QLatin1String(kColumns)))) {
        result.mError = ErrorText(q.lastError());
        return result;
    }
    QString expectedPrev = kGenesisHash;
    qint64 prevId = 0;
    const auto broken = [&](qint64 id, const QString &why) {
        result.mBrokenId = id;
        result.mReason = why;
        return result;
    };
    while (q.next()) {
        RServiceRecord r;
        QString dataText;
        RowToRecord(q, r, &dataText);
        ++result.mCount;
        QJsonParseError pe{};
        const QJsonDocument doc = QJsonDocument::fromJson(dataText.toUtf8(), &pe);
        if (pe.error != QJsonParseError::NoError || !doc.isObject() || DataText(doc.object()) != dataText)
            return broken(r.mId, QStringLiteral("its data is not the JSON text it was written with"));
        if (r.mPrev != expectedPrev)
            return broken(r.mId, prevId ? QStringLiteral("its prev is not the hash of record %1 (a record before it "
                                                         "was changed, removed or inserted)")
                                              .arg(prevId)
                                        : QStringLiteral("it is the first record but its prev is not the start of a chain"));
        if (RecordHash(r) != r.mHash)
            return broken(r.mId, QStringLiteral("its contents do not match its hash"));
        const std::optional<RTamselCFG> cfg = RecordConfig(r.mData);
        const QVariant cal = q.value(17), bump = q.value(18);
        if (q.value(16).toString() != KindName(RecordKind(r)) || cal.isNull() != !cfg || bump.isNull() != !cfg ||
            (cfg && (cal.toLongLong() != CalIntervalSeconds(*cfg) || bump.toLongLong() != BumpIntervalDays(*cfg))))
            return broken(r.mId, QStringLiteral("its kind or interval columns do not match the record"));
        expectedPrev = r.mHash;
        prevId = r.mId;
    }
    if (q.lastError().isValid()) {
        result.mError = ErrorText(q.lastError());
        return result;
    }
    // The due summary must say what the records say.
    std::vector<RDueFacts> kept, worked;
    if (!DueFacts(kept, result.mError) || !FactsFromRecords(worked, result.mError))
        return result;
    for (size_t i = 0; i < std::max(kept.size(), worked.size()); ++i) {
        if (i < kept.size() && i < worked.size() && SameFacts(kept[i], worked[i]))
            continue;
        const QString serial = i < worked.size() ? worked[i].mSerial : kept[i].mSerial;
        qint64 id = 0;
        QSqlQuery last(FDb);
        last.prepare(QStringLiteral("SELECT MAX(id) FROM records WHERE serial = ?"));
        last.addBindValue(serial);
        if (last.exec() && last.next())
            id = last.value(0).toLongLong();
        return broken(id, QStringLiteral("the due summary of serial %1 does not match its records").arg(serial));
    }
    result.mIntact = true;
    return result;
}

qint64 TRecordStore::CertificateNumber(qint64 recordId, QString &error)
{
    if (!Begin("LOCK TABLE certificates IN EXCLUSIVE MODE", error))
        return 0;
    const auto fail = [&](const QSqlQuery &q) {
        error = ErrorText(q.lastError());
        Rollback();
        return qint64{0};
    };
    qint64 number = 0;
    {
        QSqlQuery q(FDb);
        q.prepare(QStringLiteral("SELECT number FROM certificates WHERE record_id = ?"));
        q.addBindValue(recordId);
        if (!q.exec())
            return fail(q);
        if (q.next())
            number = q.value(0).toLongLong();
    }
    if (number == 0) {
        QSqlQuery q(FDb);
        if (!q.exec(QStringLiteral("SELECT COALESCE(MAX(number), 0) FROM certificates")) || !q.next())
            return fail(q);
        number = q.value(0).toLongLong() + 1;
        q.finish();
        QSqlQuery ins(FDb);
        ins.prepare(QStringLiteral("INSERT INTO certificates (record_id, number, issued) VALUES (?, ?, ?)"));
        ins.addBindValue(recordId);
        ins.addBindValue(number);
        ins.addBindValue(RecordTime(QDateTime::currentDateTimeUtc()));
        if (!ins.exec())
            return fail(ins);
    }
    if (!Commit(error))
        return 0;
    return number;
}
