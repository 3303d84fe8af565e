#include "records/store.h"

#include <QJsonDocument>
#include <QSqlQuery>

#include "records/store_sql.h"

using namespace store_sql;

bool TRecordStore::Keep(const RServiceRecord &record, QString &error)
{
    if (!Begin(nullptr, error))
        return false;
    QSqlQuery q(FDb);
    q.prepare(QStringLiteral("INSERT INTO outbox (uid, record) VALUES (?, ?)"));
    q.addBindValue(record.mUid);
    RServiceRecord unsent = record;
    unsent.mId = 0;
    unsent.mPrev.clear();
    unsent.mHash.clear();
    QJsonObject o = RecordToJson(unsent);
    o.insert(QStringLiteral("uid"), record.mUid);
    q.addBindValue(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)));
    if (!q.exec()) {
        error = ErrorText(q.lastError());
        Rollback();
        return false;
    }
    return Commit(error);
}

bool TRecordStore::Outbox(std::vector<RServiceRecord> &out, QString &error)
{
    QSqlQuery q(FDb);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT uid, record FROM outbox ORDER BY seq"))) {
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

bool TRecordStore::Forget(const QString &uid, QString &error)
{
    QSqlQuery q(FDb);
    q.prepare(QStringLiteral("DELETE FROM outbox WHERE uid = ?"));
    q.addBindValue(uid);
    if (!q.exec()) {
        error = ErrorText(q.lastError());
        return false;
    }
    return true;
}

qint64 TRecordStore::OutboxCount(QString &error)
{
    return CountOf(FDb, QStringLiteral("SELECT COUNT(*) FROM outbox"), error);
}

RSyncResult SyncOutbox(TRecordStore &local, TRecordStore &shared)
{
    RSyncResult result;
    std::vector<RServiceRecord> waiting;
    if (!local.Outbox(waiting, result.mError))
        return result;
    result.mLeft = static_cast<int>(waiting.size());
    for (RServiceRecord &r : waiting) {
        QString error;
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
