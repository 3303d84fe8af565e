#include "records/store_due.h"

#include <algorithm>
#include <functional>
#include <map>

#include <QSqlQuery>

#include "records/record.h"
#include "records/store_connection.h"
#include "records/store_sql.h"

using namespace store_sql;

namespace {

std::optional<qint64> OptionalInt(const QVariant &v)
{
    return v.isNull() ? std::nullopt : std::optional<qint64>(v.toLongLong());
}

QVariant NullableText(const QString &s) { return s.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(s); }

} // namespace

bool TDueSummary::UpdateSerial(const RServiceRecord &r, QString &error)
{
    if (r.mSerial.isEmpty())
        return true;
    const ERecordKind kind = RecordKind(r);
    const std::optional<RTamselCFG> cfg = RecordConfig(r.mData);
    const QVariant noInt(QMetaType::fromType<qint64>());
    QSqlQuery q(FConn.Db());
    q.prepare(QStringLiteral("SELECT last_time, cal_time, bump_time, cfg_time FROM serials WHERE serial = ?"));
    q.addBindValue(r.mSerial);
    if (!q.exec()) {
        error = ErrorText(q.lastError());
        return false;
    }
    // Each group takes this record when it is at least as new as the one it
    // holds (on equal times the later append wins, as in FactsFromRecords).
    QStringList sets;
    QVariantList binds;
    const bool exists = q.next();
    const auto newer = [&](int column) { return !exists || q.value(column).isNull() || r.mTime >= q.value(column).toString(); };
    if (newer(0)) {
        sets << QStringLiteral("last_time = ?") << QStringLiteral("product = ?") << QStringLiteral("sensor = ?");
        binds << r.mTime << Text(r.mProduct) << Text(r.mSensor);
    }
    if (kind == ERecordKind::kCalibration && newer(1)) {
        sets << QStringLiteral("cal_time = ?") << QStringLiteral("cal_interval = ?");
        binds << r.mTime << (cfg ? QVariant(CalIntervalSeconds(*cfg)) : noInt);
    }
    if (kind == ERecordKind::kBump && newer(2)) {
        sets << QStringLiteral("bump_time = ?") << QStringLiteral("bump_interval = ?");
        binds << r.mTime << (cfg ? QVariant(BumpIntervalDays(*cfg)) : noInt);
    }
    if (cfg && newer(3)) {
        sets << QStringLiteral("cfg_time = ?") << QStringLiteral("cfg_cal_interval = ?")
             << QStringLiteral("cfg_bump_interval = ?");
        binds << r.mTime << QVariant(CalIntervalSeconds(*cfg)) << QVariant(BumpIntervalDays(*cfg));
    }
    q.finish();
    if (sets.isEmpty())
        return true;
    QSqlQuery w(FConn.Db());
    if (exists) {
        w.prepare(QStringLiteral("UPDATE serials SET %1 WHERE serial = ?").arg(sets.join(QStringLiteral(", "))));
        binds << r.mSerial;
    } else {
        QStringList columns;
        for (const QString &set : sets)
            columns << set.section(QLatin1Char(' '), 0, 0);
        w.prepare(QStringLiteral("INSERT INTO serials (serial, %1) VALUES (?%2)")
                      .arg(columns.join(QStringLiteral(", ")), QStringLiteral(", ?").repeated(columns.size())));
        binds.prepend(r.mSerial);
    }
    for (const QVariant &b : binds)
        w.addBindValue(b);
    if (!w.exec()) {
        error = ErrorText(w.lastError());
        return false;
    }
    return true;
}

bool TDueSummary::RebuildSerials(QString &error, bool includeSimulated)
{
    std::vector<RDueFacts> facts;
    // (The migration to version 2 ran before records knew simulated detectors.)
    if (!FConn.Exec(QStringLiteral("DELETE FROM serials"), error) || !FactsFromRecords(facts, error, includeSimulated))
        return false;
    QSqlQuery q(FConn.Db());
    q.prepare(QStringLiteral("INSERT INTO serials (serial, last_time, product, sensor, cal_time, cal_interval, "
                             "bump_time, bump_interval, cfg_time, cfg_cal_interval, cfg_bump_interval) "
                             "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const RDueFacts &f : facts) {
        for (const QVariant &v : {Text(f.mSerial), Text(f.mLatest), Text(f.mProduct), Text(f.mSensor),
                                  NullableText(f.mLastCal), NullableInt(f.mCalInterval), NullableText(f.mLastBump),
                                  NullableInt(f.mBumpInterval), NullableText(f.mCfgTime), NullableInt(f.mCfgCalInterval),
                                  NullableInt(f.mCfgBumpInterval)})
            q.addBindValue(v);
        if (!q.exec()) {
            error = ErrorText(q.lastError());
            return false;
        }
    }
    return true;
}

bool TDueSummary::DueFacts(std::vector<RDueFacts> &out, QString &error)
{
    QSqlQuery q(FConn.Db());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT serial, product, sensor, last_time, cal_time, cal_interval, bump_time, "
                               "bump_interval, cfg_time, cfg_cal_interval, cfg_bump_interval FROM serials"))) {
        error = ErrorText(q.lastError());
        return false;
    }
    out.clear();
    while (q.next()) {
        RDueFacts f;
        f.mSerial = q.value(0).toString();
        f.mProduct = q.value(1).toString();
        f.mSensor = q.value(2).toString();
        f.mLatest = q.value(3).toString();
        f.mLastCal = q.value(4).toString();
        f.mCalInterval = OptionalInt(q.value(5));
        f.mLastBump = q.value(6).toString();
        f.mBumpInterval = OptionalInt(q.value(7));
        f.mCfgTime = q.value(8).toString();
        f.mCfgCalInterval = OptionalInt(q.value(9));
        f.mCfgBumpInterval = OptionalInt(q.value(10));
        out.push_back(std::move(f));
    }
    // The order FactsFromRecords gives, whatever the server's collation.
    std::sort(out.begin(), out.end(), [](const RDueFacts &x, const RDueFacts &y) { return x.mSerial < y.mSerial; });
    return true;
}

bool TDueSummary::FactsFromRecords(std::vector<RDueFacts> &out, QString &error, bool includeSimulated)
{
    // Each query finds, per serial, the row of the latest time among the
    // records of one sort; on equal times the highest id wins (rows come in
    // id order and overwrite).
    // sortFilter gives the condition for a column prefix ("" or "r.").
    const auto latest = [includeSimulated](const std::function<QString(const QString &)> &sortFilter,
                                           const QString &columns) {
        const auto filter = [&](const QString &prefix) {
            return (includeSimulated ? QString() : QStringLiteral("AND %1simulated = 0 ").arg(prefix)) +
                   (sortFilter ? sortFilter(prefix) : QString());
        };
        return QStringLiteral("SELECT r.serial, r.id, %2 FROM records r JOIN "
                              "(SELECT serial, MAX(time) AS t FROM records WHERE serial <> '' %1 GROUP BY serial) m "
                              "ON r.serial = m.serial AND r.time = m.t WHERE r.serial <> '' %3 ORDER BY r.id")
            .arg(filter(QString()), columns, filter(QStringLiteral("r.")));
    };
    // What counts goes by the record's outcome (CountedSql); the kind column,
    // which stores written under an earlier rule may hold otherwise, only
    // narrows the search to its index.
    const auto counted = [](ERecordKind kind) {
        return [kind](const QString &prefix) {
            return QStringLiteral("AND %1kind = '%2' AND %3").arg(prefix, KindName(kind), CountedSql(kind, prefix));
        };
    };
    std::map<QString, RDueFacts> facts;
    const auto run = [&](const QString &sql, const std::function<void(const QSqlQuery &, RDueFacts &)> &take) {
        QSqlQuery q(FConn.Db());
        q.setForwardOnly(true);
        if (!q.exec(sql)) {
            error = ErrorText(q.lastError());
            return false;
        }
        while (q.next()) {
            const QString serial = q.value(0).toString();
            RDueFacts &f = facts[serial];
            f.mSerial = serial;
            take(q, f);
        }
        return true;
    };
    const auto optional = OptionalInt;
    if (!run(latest({}, QStringLiteral("r.product, r.sensor, r.time")),
             [](const QSqlQuery &q, RDueFacts &f) {
                 f.mProduct = q.value(2).toString();
                 f.mSensor = q.value(3).toString();
                 f.mLatest = q.value(4).toString();
             }) ||
        !run(latest(counted(ERecordKind::kCalibration), QStringLiteral("r.time, r.cal_interval")),
             [&](const QSqlQuery &q, RDueFacts &f) {
                 f.mLastCal = q.value(2).toString();
                 f.mCalInterval = optional(q.value(3));
             }) ||
        !run(latest(counted(ERecordKind::kBump), QStringLiteral("r.time, r.bump_interval")),
             [&](const QSqlQuery &q, RDueFacts &f) {
                 f.mLastBump = q.value(2).toString();
                 f.mBumpInterval = optional(q.value(3));
             }) ||
        !run(latest([](const QString &prefix) { return QStringLiteral("AND %1cal_interval IS NOT NULL").arg(prefix); },
                    QStringLiteral("r.cal_interval, r.bump_interval, r.time")),
             [&](const QSqlQuery &q, RDueFacts &f) {
                 f.mCfgCalInterval = optional(q.value(2));
                 f.mCfgBumpInterval = optional(q.value(3));
                 f.mCfgTime = q.value(4).toString();
             }))
        return false;
    out.clear();
    out.reserve(facts.size());
    for (auto &[serial, f] : facts)
        out.push_back(std::move(f));
    return true;
}
