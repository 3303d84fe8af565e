#pragma once
// What the parts of the record store share: the error text of a failed
// statement, the values bound for texts and optional numbers, and counting.
#include <optional>

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QJsonDocument>
#include <QVariant>

#include "records/record.h"

namespace store_sql {

inline QString ErrorText(const QSqlError &e)
{
    QString t = e.databaseText().trimmed();
    if (t.isEmpty())
        t = e.text().trimmed();
    if (t.isEmpty())
        t = e.driverText().trimmed();
    return t.simplified();
}

// Empty texts are stored as empty, never as NULL.
inline QVariant Text(const QString &s) { return QVariant(s.isNull() ? QStringLiteral("") : s); }

inline QVariant NullableInt(const std::optional<qint64> &v)
{
    return v ? QVariant(*v) : QVariant(QMetaType::fromType<qint64>());
}

// The number a query such as SELECT COUNT(*) gives; -1 on failure.
inline qint64 CountOf(QSqlDatabase &db, const QString &sql, QString &error)
{
    QSqlQuery q(db);
    if (!q.exec(sql) || !q.next()) {
        error = ErrorText(q.lastError());
        return -1;
    }
    return q.value(0).toLongLong();
}

// The columns of a record row, in the order RowToRecord reads them.
inline const char *const kColumns = "id, uid, time, job, status, text, serial, product, firmware, hardware, sensor, bench, "
                             "login, data, prev, hash, outcome, simulated, bench_key, sig";

inline void RowToRecord(const QSqlQuery &q, RServiceRecord &r, QString *dataText = nullptr)
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
    r.mOutcome = q.value(16).toString();
    r.mSimulated = q.value(17).toLongLong() != 0;
    r.mBenchKey = q.value(18).toString();
    r.mSig = q.value(19).toString();
    if (dataText)
        *dataText = data;
}

} // namespace store_sql
