#include "tools/tool_common.h"

#include <QDateTime>
#include <QLocale>
#include <QTimeZone>
#include <cfenv>
#include <climits>
#include <cmath>
#include <cstdio>

int RoundHalfEven(double value)
{
    if (!std::isfinite(value))
        return 0;
    // nearbyint rounds in the current mode; the default one is to-nearest-even.
    const int mode = std::fegetround();
    if (mode != FE_TONEAREST)
        std::fesetround(FE_TONEAREST);
    const double r = std::nearbyint(value);
    if (mode != FE_TONEAREST)
        std::fesetround(mode);
    if (r >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (r <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(r);
}

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

std::string FileTimeStamp(TDateTime t)
{
    const RDateTimeFields f = DateTimeFields(t);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d%02d%02d%02d%02d%02d", ((f.mYear % 100) + 100) % 100, f.mMonth, f.mDay,
                  f.mHour, f.mMinute, f.mSecond);
    return buf;
}
