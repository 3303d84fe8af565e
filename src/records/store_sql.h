#pragma once
// What the parts of the record store share: the error text of a failed
// statement and the values bound for texts and optional numbers.
#include <optional>

#include <QSqlError>
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

} // namespace store_sql
