#include "records/store_certificates.h"

#include <QDateTime>
#include <QSqlQuery>

#include "records/bench_key.h"
#include "records/record.h"
#include "records/store_chain.h"
#include "records/store_connection.h"
#include "records/store_pages.h"
#include "records/store_sql.h"

using namespace store_sql;

namespace {

// BP-<the bench key's short id>-<its own count>: never the same on two
// benches or two users. Numbers given before keys existed stay as they were.
QString CertificateName(const QString &keyId, qint64 number)
{
    return keyId.isEmpty() ? QStringLiteral("BP-%1").arg(number, 6, 10, QLatin1Char('0'))
                           : QStringLiteral("BP-%1-%2").arg(keyId.left(8).toUpper()).arg(number, 6, 10, QLatin1Char('0'));
}

} // namespace

qint64 TCertificateNumbers::Certificate(const RServiceRecord &record,
                                        const std::function<bool(const QString &number)> &write, QString &error,
                                 QString *numberText)
{
    const TBenchKey *key = FConn.BenchKey(error);
    if (!key)
        return 0;
    const QByteArray lockSql =
        QStringLiteral("SELECT pg_advisory_xact_lock(%1); LOCK TABLE certificates IN ROW EXCLUSIVE MODE")
            .arg(kCertificateLock)
            .toLatin1();
    if (!FConn.Begin(lockSql.constData(), error))
        return 0;
    const auto fail = [&](const QSqlQuery &q) {
        error = ErrorText(q.lastError());
        FConn.Rollback();
        return qint64{0};
    };
    qint64 number = 0;
    QString keyId = key->KeyId();
    {
        QSqlQuery q(FConn.Db());
        q.prepare(QStringLiteral("SELECT number, key_id, record_hash FROM certificates WHERE record_id = ?"));
        q.addBindValue(record.mId);
        if (!q.exec())
            return fail(q);
        if (q.next()) {
            if (q.value(2).toString() != record.mHash) {
                error = QStringLiteral("record %1 has changed since its certificate was given").arg(record.mId);
                q.finish();
                FConn.Rollback();
                return 0;
            }
            number = q.value(0).toLongLong();
            keyId = q.value(1).toString();
        }
    }
    const bool given = number != 0;
    if (!given) {
        QSqlQuery q(FConn.Db());
        q.prepare(QStringLiteral("SELECT COALESCE(MAX(number), 0) FROM certificates WHERE key_id = ?"));
        q.addBindValue(keyId);
        if (!q.exec() || !q.next())
            return fail(q);
        number = q.value(0).toLongLong() + 1;
    }
    const QString text = CertificateName(keyId, number);
    if (!write(text)) {
        FConn.Rollback();
        if (error.isEmpty())
            error = QStringLiteral("the certificate was not written");
        return 0;
    }
    if (!given) {
        QSqlQuery ins(FConn.Db());
        ins.prepare(QStringLiteral("INSERT INTO certificates (record_id, record_hash, key_id, number, issued) "
                                   "VALUES (?, ?, ?, ?, ?)"));
        for (const QVariant &v : {QVariant(record.mId), QVariant(record.mHash), QVariant(keyId), QVariant(number),
                                  QVariant(RecordTime(QDateTime::currentDateTimeUtc()))})
            ins.addBindValue(v);
        if (!ins.exec())
            return fail(ins);
    }
    if (!FConn.Commit(error))
        return 0;
    if (numberText)
        *numberText = text;
    return number;
}

bool TCertificateNumbers::Check(RVerifyResult &result)
{
    // Every certificate given names a record of the chain with the hash it
    // had; the chain itself was walked before, so that hash is the record's.
    TPagedRows q(FConn.Db(),
                 QStringLiteral("SELECT c.record_id, c.record_hash, c.key_id, c.number, r.hash FROM certificates c "
                                "LEFT JOIN records r ON r.id = c.record_id"),
                 QStringLiteral("c.record_id"));
    while (q.next()) {
        const qint64 id = q.value(0).toLongLong();
        const QString hash = q.value(1).toString(), keyId = q.value(2).toString();
        const qint64 number = q.value(3).toLongLong();
        const QString name = CertificateName(keyId, number);
        QString reason;
        if (q.value(4).isNull())
            reason = QStringLiteral("certificate %1 names record %2, which is not in the store").arg(name).arg(id);
        else if (q.value(4).toString() != hash)
            reason = QStringLiteral("certificate %1 names record %2 with hash %3, but the record's hash is %4")
                         .arg(name)
                         .arg(id)
                         .arg(hash, q.value(4).toString());
        if (!reason.isEmpty()) {
            result.mBrokenId = id;
            result.mReason = reason;
            return false;
        }
    }
    if (q.lastError().isValid()) {
        result.mError = ErrorText(q.lastError());
        return false;
    }
    return true;
}
