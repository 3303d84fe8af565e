#include "ui/record_text.h"

#include <QJsonArray>
#include <QJsonDocument>

#include "app/journal.h"
#include "app/status.h"
#include "records/record.h"

// Outcomes a technician must not miss.
bool BadOutcome(const QString &outcome)
{
    return outcome == QLatin1String(outcome::kFailed) || outcome == QLatin1String(outcome::kFail) ||
           outcome == QLatin1String(outcome::kRefused) || outcome == QLatin1String(outcome::kStopped);
}

// What a record's status stands for, in the exit table's words.
QString StatusMeaning(int status)
{
    switch (status) {
    case 0: return QStringLiteral("success");
    case kJobDeclined: return QStringLiteral("a question was answered No");
    case kJobRefused: return QStringLiteral("refused before anything was sent");
    case kJobNotDone: return QStringLiteral("ran but did not succeed");
    case kStatusInternalError: return QStringLiteral("an internal error");
    default: return QStringLiteral("status byte: ") + QString::fromStdString(StatusMessage(static_cast<uint8_t>(status))).replace(QLatin1Char('\r'), QLatin1Char(' '));
    }
}

// One data entry with its unit where the record knows it.
QString DataValue(const QString &key, const QJsonValue &value, const QString &unit)
{
    const auto tenths = [](qint64 t) { return QString::number(t / 10.0, 'f', 1); };
    if (key == QLatin1String(journal_data::kSpanGas) && value.isDouble())
        return tenths(value.toInteger()) + (unit.isEmpty() ? QString() : QLatin1Char(' ') + unit);
    if ((key == QLatin1String(journal_data::kSpanBefore) || key == QLatin1String(journal_data::kSpanAfter)) &&
        value.isDouble())
        return QString::number(value.toInteger() / 1000.0, 'f', 3) + QStringLiteral(" (span factor)");
    if ((key == QLatin1String(journal_data::kZeroBefore) || key == QLatin1String(journal_data::kZeroAfter)) &&
        value.isDouble())
        return QString::number(value.toInteger()) + QStringLiteral(" counts");
    if ((key == QLatin1String(journal_data::kConfig) || key == QLatin1String(journal_data::kConfigAfter)) &&
        value.isString())
        return QStringLiteral("the 128-byte configuration (hex in the raw view)");
    if (value.isString())
        return VisibleText(value.toString());
    if (value.isDouble())
        return QString::number(value.toDouble(), 'g', 15);
    if (value.isBool())
        return value.toBool() ? QStringLiteral("yes") : QStringLiteral("no");
    return QString::fromUtf8(value.isObject() ? QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact)
                                              : QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
}

// A record time (UTC) in the bench's local time; an unreadable one as stored.
QString LocalTime(const QString &recordTime)
{
    const QDateTime t = ParseRecordTime(recordTime);
    return t.isValid() ? t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) : recordTime;
}

// A date of the due list: the day is what a technician plans by.
QString LocalDate(const QDateTime &t)
{
    return t.isValid() ? t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd")) : QString();
}
