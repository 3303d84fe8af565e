#include "records/kept_config.h"

#include <QJsonObject>
#include <QSqlQuery>

#include "records/record.h"
#include "records/store.h"
#include "records/store_sql.h"

namespace {

std::optional<RKeptConfig> FromRecord(const RServiceRecord &r)
{
    for (const char *key : {journal_data::kBackup, journal_data::kConfig})
        if (const std::optional<RTamselCFG> cfg = RecordConfig(r.mData, key)) {
            RKeptConfig kept;
            kept.mRecordId = r.mId;
            kept.mTime = r.mTime.toStdString();
            kept.mSerial = r.mSerial.toStdString();
            kept.mConfig = *cfg;
            return kept;
        }
    return std::nullopt;
}

} // namespace

std::optional<RKeptConfig> ConfigBefore(TRecordStore &store, const QString &serial, const QString &time, QString &error)
{
    // data is compact JSON: a key shows as "name": (config_after does not match).
    QSqlQuery q(store.Database());
    q.prepare(QStringLiteral("SELECT %1 FROM records WHERE serial = ? AND time <= ? AND "
                             "(data LIKE '%\"config\":%' OR data LIKE '%\"backup\":%') ORDER BY time DESC, id DESC")
                  .arg(store_sql::RecordColumns()));
    q.addBindValue(serial);
    q.addBindValue(time);
    if (!q.exec()) {
        error = store_sql::ErrorText(q.lastError());
        return std::nullopt;
    }
    while (q.next()) {
        RServiceRecord r;
        store_sql::RowToRecord(q, r);
        if (std::optional<RKeptConfig> kept = FromRecord(r))
            return kept;
    }
    return std::nullopt;
}

std::optional<RKeptConfig> KeptConfigOf(TRecordStore &store, qint64 id, QString &error)
{
    const std::optional<RServiceRecord> r = store.Get(id, error);
    if (!r) {
        if (error.isEmpty())
            error = QStringLiteral("there is no record %1").arg(id);
        return std::nullopt;
    }
    if (std::optional<RKeptConfig> kept = FromRecord(*r))
        return kept;
    const QJsonObject before = r->mData.value(QLatin1String(journal_data::kConfigBefore)).toObject();
    const qint64 beforeId = before.value(QStringLiteral("id")).toInteger();
    if (beforeId > 0 && beforeId < id) {
        if (const std::optional<RServiceRecord> earlier = store.Get(beforeId, error))
            if (std::optional<RKeptConfig> kept = FromRecord(*earlier))
                return kept;
        if (!error.isEmpty())
            return std::nullopt;
    }
    error = QStringLiteral("record %1 keeps no configuration").arg(id);
    return std::nullopt;
}

QJsonObject KeptConfigRef(const RKeptConfig &kept)
{
    return {{QStringLiteral("id"), static_cast<qint64>(kept.mRecordId)},
            {QStringLiteral("time"), QString::fromStdString(kept.mTime)}};
}
