#include "tools/tool_common.h"

#include <QDateTime>
#include <QLocale>
#include <QTimeZone>
#include <cfenv>
#include <climits>
#include <cmath>
#include <cstdio>


std::string LocaleDecimal(const std::string &text)
{
    const size_t dot = text.find('.');
    if (dot == std::string::npos)
        return text;
    const std::string separator = QLocale().decimalPoint().toStdString();
    if (separator == ".")
        return text;
    std::string out = text;
    out.replace(dot, 1, separator);
    return out;
}

RDateTimeFields DateTimeFields(TDateTime t)
{
    static const QDateTime epoch(QDate(1899, 12, 30), QTime(0, 0), QTimeZone::utc());
    const qint64 ms = static_cast<qint64>(std::llround(t * 86400000.0));
    const QDateTime dt = epoch.addMSecs(ms);
    RDateTimeFields f;
    f.mYear = dt.date().year();
    f.mMonth = dt.date().month();
    f.mDay = dt.date().day();
    f.mHour = dt.time().hour();
    f.mMinute = dt.time().minute();
    f.mSecond = dt.time().second();
    f.mMilli = dt.time().msec();
    return f;
}

