#pragma once
// What the parts of the record store share: the error text of a failed
// statement, the values bound for texts and optional numbers, and counting.
#include <optional>

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "records/record.h"

namespace store_sql {

// PostgreSQL advisory locks (transaction-scoped) that serialise the
// program's writers: appends to the chain, and certificate numbers. A bench
// account needs no more than SELECT and INSERT on records and certificates
// to take them, where an exclusive table lock would need UPDATE or DELETE.
// The writer then takes the table's ROW EXCLUSIVE lock (the one an INSERT
// takes) first, so that a lock someone holds on the table ends in a plain
// lock time-out before any statement is prepared.
inline constexpr qint64 kChainLock = 0x62656e6368636831;       // "benchch1"
inline constexpr qint64 kCertificateLock = 0x62656e6368636531; // "benchce1"

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

// The columns of a record row: the record's fields in the order of
// RecordFieldNames (RecordFieldValues), user kept in the column login.
inline const QString &RecordColumns()
{
    static const QString columns = [] {
        QStringList names = RecordFieldNames();
        names[names.indexOf(QStringLiteral("user"))] = QStringLiteral("login");
        return names.join(QStringLiteral(", "));
    }();
    return columns;
}
// How many they are: a query's own columns after them start here.
inline int RecordColumnCount() { return static_cast<int>(RecordFieldNames().size()); }

// A row whose first columns are RecordColumns(); `dataText`: data as stored.
inline void RowToRecord(const QSqlQuery &q, RServiceRecord &r, QString *dataText = nullptr)
{
    SetRecordFieldValues(r, [&q](int column) { return q.value(column); });
    if (dataText)
        *dataText = q.value(static_cast<int>(RecordFieldNames().indexOf(QStringLiteral("data")))).toString();
}

} // namespace store_sql
