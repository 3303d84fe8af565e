#include "model/datetime.h"

#include <QDateTime>

namespace {
const QDateTime &Epoch()
{
    static const QDateTime epoch(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC);
    return epoch;
}
} // namespace

TDateTime Now()
{
    // Local wall time expressed as if it were UTC, so the fraction is the local time of day.
    const QDateTime local = QDateTime::currentDateTime();
    const QDateTime asUtc(local.date(), local.time(), Qt::UTC);
    return static_cast<double>(Epoch().msecsTo(asUtc)) / 86400000.0;
}

std::string FormatTimeStamp(TDateTime t)
{
    const qint64 ms = static_cast<qint64>(t * 86400000.0 + (t >= 0 ? 0.5 : -0.5));
    const QDateTime dt = Epoch().addMSecs(ms);
    return dt.time().toString(QStringLiteral("hh:mm:ss:zzz")).toStdString();
}
