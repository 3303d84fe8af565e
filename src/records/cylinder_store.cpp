#include "records/cylinder_store.h"

#include <QDateTime>
#include <QSqlQuery>

#include "records/record.h"
#include "records/store.h"
#include "records/store_sql.h"

using namespace store_sql;

namespace {

QString Q(const std::string &text) { return QString::fromStdString(text); }

const char *const kCylinderColumns = "id, gas, concentration_tenths, unit, lot, expires, balance, maker, retired";

RGasCylinder FromRow(const QSqlQuery &q)
{
    RGasCylinder c;
    c.mId = q.value(0).toLongLong();
    c.mGas = q.value(1).toString().toStdString();
    c.mConcentration = q.value(2).toInt();
    c.mUnit = q.value(3).toString().toStdString();
    c.mLot = q.value(4).toString().toStdString();
    c.mExpires = q.value(5).toString().toStdString();
    c.mBalance = q.value(6).toString().toStdString();
    c.mMaker = q.value(7).toString().toStdString();
    c.mRetired = q.value(8).toLongLong() != 0;
    return c;
}

} // namespace

bool AddCylinder(TRecordStore &store, RGasCylinder &c, const QString &who, QString &error)
{
    QSqlQuery q(store.Database());
    q.prepare(QStringLiteral("INSERT INTO cylinders (gas, concentration_tenths, unit, lot, expires, balance, maker, "
                             "retired, added, added_by) VALUES (?, ?, ?, ?, ?, ?, ?, 0, ?, ?) RETURNING id"));
    for (const QVariant &v : {Text(Q(c.mGas)), QVariant(c.mConcentration), Text(Q(c.mUnit)), Text(Q(c.mLot)),
                              Text(Q(c.mExpires)), Text(Q(c.mBalance)), Text(Q(c.mMaker)),
                              Text(RecordTime(QDateTime::currentDateTimeUtc())), Text(who)})
        q.addBindValue(v);
    if (!q.exec() || !q.next()) {
        error = QStringLiteral("the cylinder could not be added: %1").arg(ErrorText(q.lastError()));
        return false;
    }
    c.mId = q.value(0).toLongLong();
    c.mRetired = false;
    return true;
}

bool ListCylinders(TRecordStore &store, std::vector<RGasCylinder> &out, QString &error)
{
    out.clear();
    QSqlQuery q(store.Database());
    if (!q.exec(QStringLiteral("SELECT %1 FROM cylinders ORDER BY id").arg(QLatin1String(kCylinderColumns)))) {
        error = QStringLiteral("the cylinders could not be read: %1").arg(ErrorText(q.lastError()));
        return false;
    }
    while (q.next())
        out.push_back(FromRow(q));
    return true;
}

std::optional<RGasCylinder> GetCylinder(TRecordStore &store, qint64 id, QString &error)
{
    error.clear();
    QSqlQuery q(store.Database());
    q.prepare(QStringLiteral("SELECT %1 FROM cylinders WHERE id = ?").arg(QLatin1String(kCylinderColumns)));
    q.addBindValue(id);
    if (!q.exec()) {
        error = QStringLiteral("the cylinders could not be read: %1").arg(ErrorText(q.lastError()));
        return std::nullopt;
    }
    if (!q.next())
        return std::nullopt;
    return FromRow(q);
}

bool RetireCylinder(TRecordStore &store, qint64 id, QString &error)
{
    error.clear();
    QSqlQuery q(store.Database());
    q.prepare(QStringLiteral("UPDATE cylinders SET retired = 1, retired_at = ? WHERE id = ? AND retired = 0"));
    q.addBindValue(Text(RecordTime(QDateTime::currentDateTimeUtc())));
    q.addBindValue(id);
    if (!q.exec()) {
        error = QStringLiteral("the cylinder could not be retired: %1").arg(ErrorText(q.lastError()));
        return false;
    }
    if (q.numRowsAffected() > 0)
        return true;
    // Retired before: nothing to do, and no fault.
    const std::optional<RGasCylinder> known = GetCylinder(store, id, error);
    return known.has_value();
}
