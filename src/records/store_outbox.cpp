#include "records/store_outbox.h"

#include <QJsonDocument>
#include <QSqlQuery>

#include "records/bench_key.h"
#include "records/record.h"
#include "records/store.h"
#include "records/store_connection.h"
#include "records/store_sql.h"

using namespace store_sql;

bool TOutbox::Keep(RServiceRecord &record, const QString &dest, QString &error, QString *unsignedBecause)
{
    QString keyError;
    const TBenchKey *key = FConn.BenchKey(keyError);
    // Not yet in a chain: no id and no prev. The signature covers the hash
    // of the record with id 0 and prev empty, so `records sync` finds a
    // record edited while it waited here. Without a good key the record is
    // kept all the same, unsigned, and the reason with it.
    record.mId = 0;
    record.mPrev = QStringLiteral("");
    record.mBenchKey = key ? key->KeyId() : QStringLiteral("");
    record.mHash = OutboxHash(record);
    record.mSig = key ? key->Sign(record.mHash) : QStringLiteral("");
    if (!key && unsignedBecause)
        *unsignedBecause = keyError;
    if (!FConn.Begin(nullptr, error))
        return false;
    QSqlQuery q(FConn.Db());
    q.prepare(QStringLiteral("INSERT INTO outbox (uid, record, dest, unsigned_reason) VALUES (?, ?, ?, ?)"));
    q.addBindValue(record.mUid);
    q.addBindValue(QString::fromUtf8(QJsonDocument(RecordToJson(record)).toJson(QJsonDocument::Compact)));
    q.addBindValue(Text(dest));
    q.addBindValue(Text(key ? QString() : keyError));
    if (!q.exec()) {
        error = ErrorText(q.lastError());
        FConn.Rollback();
        return false;
    }
    return FConn.Commit(error);
}

bool TOutbox::Waiting(std::vector<RServiceRecord> &out, QString &error, const QString &dest)
{
    QSqlQuery q(FConn.Db());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT uid, record FROM outbox WHERE dest = ? ORDER BY seq"));
    q.addBindValue(Text(dest));
    if (!q.exec()) {
        error = ErrorText(q.lastError());
        return false;
    }
    out.clear();
    while (q.next()) {
        RServiceRecord r;
        const QJsonObject o = QJsonDocument::fromJson(q.value(1).toString().toUtf8()).object();
        QString why;
        if (!RecordFromJson(o, r, why)) {
            error = QStringLiteral("the unsent record %1 cannot be read: %2").arg(q.value(0).toString(), why);
            return false;
        }
        r.mUid = q.value(0).toString();
        out.push_back(std::move(r));
    }
    return true;
}

bool TOutbox::Forget(const QString &uid, QString &error)
{
    QSqlQuery q(FConn.Db());
    q.prepare(QStringLiteral("DELETE FROM outbox WHERE uid = ?"));
    q.addBindValue(uid);
    if (!q.exec()) {
        error = ErrorText(q.lastError());
        return false;
    }
    return true;
}

bool TOutbox::SignOldRows(QString &error)
{
    // Records kept before records were signed wait in the old form: they take
    // the fields of the new one (the outcome from their status) and this
    // bench's signature, so that sync sends them as any other.
    std::vector<std::pair<qint64, QJsonObject>> rows;
    {
        QSqlQuery q(FConn.Db());
        if (!q.exec(QStringLiteral("SELECT seq, uid, record FROM outbox"))) {
            error = ErrorText(q.lastError());
            return false;
        }
        while (q.next()) {
            QJsonObject o = QJsonDocument::fromJson(q.value(2).toString().toUtf8()).object();
            o.insert(QStringLiteral("uid"), q.value(1).toString());
            rows.emplace_back(q.value(0).toLongLong(), o);
        }
    }
    if (rows.empty())
        return true;
    const TBenchKey *key = FConn.BenchKey(error);
    if (!key)
        return false;
    for (auto &[seq, o] : rows) {
        const QString job = o.value(QStringLiteral("job")).toString();
        const int status = o.value(QStringLiteral("status")).toInt();
        for (const char *field : {"outcome", "bench_key", "sig", "prev", "hash"})
            if (!o.contains(QLatin1String(field)))
                o.insert(QLatin1String(field), QStringLiteral(""));
        if (o.value(QStringLiteral("outcome")).toString().isEmpty())
            o.insert(QStringLiteral("outcome"),
                     QString::fromStdString(DeriveOutcome(job.toStdString(), static_cast<uint8_t>(status))));
        if (!o.contains(QStringLiteral("simulated")))
            o.insert(QStringLiteral("simulated"), false);
        RServiceRecord r;
        QString why;
        if (!RecordFromJson(o, r, why)) {
            error = QStringLiteral("a kept record cannot be read: ") + why;
            return false;
        }
        r.mId = 0;
        r.mPrev = QStringLiteral("");
        r.mBenchKey = key->KeyId();
        r.mHash = OutboxHash(r);
        r.mSig = key->Sign(r.mHash);
        QSqlQuery u(FConn.Db());
        u.prepare(QStringLiteral("UPDATE outbox SET record = ? WHERE seq = ?"));
        u.addBindValue(QString::fromUtf8(QJsonDocument(RecordToJson(r)).toJson(QJsonDocument::Compact)));
        u.addBindValue(seq);
        if (!u.exec()) {
            error = ErrorText(u.lastError());
            return false;
        }
    }
    return true;
}

qint64 TOutbox::Count(QString &error, const QString &dest)
{
    QSqlQuery q(FConn.Db());
    q.prepare(QStringLiteral("SELECT COUNT(*) FROM outbox WHERE dest = ?"));
    q.addBindValue(Text(dest));
    if (!q.exec() || !q.next()) {
        error = ErrorText(q.lastError());
        return -1;
    }
    return q.value(0).toLongLong();
}

QString OutboxDest(const RStoreLocation &location)
{
    return location.mKind == EStoreKind::kPostgres ? QString() : location.Describe();
}

namespace {

// Why a kept record must not be sent; empty when it is as it was kept.
QString KeptRecordFault(const RServiceRecord &r, TRecordStore &local, TRecordStore &shared)
{
    if (OutboxHash(r) != r.mHash)
        return QStringLiteral("it was changed after it was kept (its contents do not match its hash)");
    if (r.mBenchKey.isEmpty() && r.mSig.isEmpty())
        return {}; // kept unsigned: signed when sent
    QString error, publicKey;
    std::vector<RBenchKeyRow> keys;
    const bool known = shared.Keys(keys, error);
    for (const RBenchKeyRow &k : keys) {
        if (k.mKeyId != r.mBenchKey)
            continue;
        // Never passed on under another key's signature.
        if (!k.mRevoked.isEmpty())
            return QStringLiteral("it was kept signed by bench key %1, revoked on %2: a record made with a revoked "
                                  "key is never signed by another key")
                .arg(k.mKeyId, k.mRevoked);
        publicKey = k.mPublicKey;
    }
    const TBenchKey *own = local.BenchKey(error);
    if (own && own->KeyId() == r.mBenchKey)
        publicKey = own->PublicKeyHex();
    if (publicKey.isEmpty())
        return known ? QStringLiteral("it is signed by an unknown key \"%1\"").arg(r.mBenchKey)
                     : QStringLiteral("its key cannot be looked up: ") + error;
    if (!TBenchKey::Verify(publicKey, r.mHash, r.mSig))
        return QStringLiteral("bad signature: it was changed after it was kept");
    return {};
}

} // namespace

RSyncResult SyncOutbox(TRecordStore &local, TRecordStore &shared)
{
    RSyncResult result;
    std::vector<RServiceRecord> waiting;
    if (!local.Outbox(waiting, result.mError, OutboxDest(shared.Location())))
        return result;
    result.mLeft = static_cast<int>(waiting.size());
    for (RServiceRecord &r : waiting) {
        if (const QString fault = KeptRecordFault(r, local, shared); !fault.isEmpty()) {
            // Refused, and kept here for whoever looks into it.
            result.mRefused << QStringLiteral("record %1 not sent: %2").arg(r.mUid, fault);
            continue;
        }
        QString error;
        if (r.mSig.isEmpty()) {
            // Kept without a good key: signed now, and says when.
            if (!local.BenchKey(error)) {
                result.mUnsigned << QStringLiteral("record %1 waits unsigned: %2").arg(r.mUid, error);
                continue;
            }
            r.mData.insert(QStringLiteral("signed_at"), RecordTime(QDateTime::currentDateTimeUtc()));
        }
        // The shared store gives it its place: id, prev, hash and a fresh signature.
        const EAppend a = shared.Append(r, error);
        if (a == EAppend::kFailed) {
            result.mError = QStringLiteral("record %1 could not be sent: %2").arg(r.mUid, error);
            return result;
        }
        // Appended (or found there); now drop it here. Interrupted between
        // the two, the next sync finds its uid in the shared store and only
        // drops it: never written twice.
        if (!local.Forget(r.mUid, error)) {
            result.mError = QStringLiteral("record %1 was sent but could not be dropped here: %2").arg(r.mUid, error);
            return result;
        }
        (a == EAppend::kAdded ? result.mSent : result.mAlreadyThere)++;
        --result.mLeft;
    }
    return result;
}
