#pragma once
// What the parts of the record store share: the error text of a failed
// statement, the values bound for texts and optional numbers, and counting.
#include <optional>

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

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

} // namespace store_sql
