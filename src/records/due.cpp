#include "records/due.h"

#include <algorithm>

#include "records/record.h"

namespace {

// The next date of one service: "now" when there is no last service (whatever
// the interval, 0 included: a detector never serviced is never left out) or no
// known interval, none when the interval is 0, else last + interval.
QDateTime NextDate(const QDateTime &last, std::optional<qint64> intervalSeconds, const QDateTime &now)
{
    if (!last.isValid())
        return now;
    if (intervalSeconds && *intervalSeconds == 0)
        return {};
    if (!intervalSeconds)
        return now;
    return last.addSecs(*intervalSeconds);
}

QJsonValue TimeValue(const QDateTime &t) { return t.isValid() ? QJsonValue(RecordTime(t)) : QJsonValue(); }

} // namespace

std::vector<RDueEntry> ComputeDue(const std::vector<RDueFacts> &facts, const QDateTime &now)
{
    std::vector<RDueEntry> out;
    for (const RDueFacts &f : facts) {
        RDueEntry e;
        e.mSerial = f.mSerial;
        e.mProduct = f.mProduct;
        e.mSensor = f.mSensor;
        if (!f.mLastCal.isEmpty())
            e.mLastCal = ParseRecordTime(f.mLastCal);
        if (!f.mLastBump.isEmpty())
            e.mLastBump = ParseRecordTime(f.mLastBump);
        const std::optional<qint64> cal = f.mCalInterval ? f.mCalInterval : f.mCfgCalInterval;
        std::optional<qint64> bump = f.mBumpInterval ? f.mBumpInterval : f.mCfgBumpInterval;
        if (bump)
            *bump *= 86400;
        e.mNextCal = NextDate(e.mLastCal, cal, now);
        e.mNextBump = NextDate(e.mLastBump, bump, now);
        if (e.mNextCal.isValid() && e.mNextBump.isValid())
            e.mDue = std::min(e.mNextCal, e.mNextBump);
        else
            e.mDue = e.mNextCal.isValid() ? e.mNextCal : e.mNextBump;
        if (!e.mDue.isValid())
            continue;
        // Never calibrated or never bump-tested is overdue, not merely due now.
        const bool neverCal = !e.mLastCal.isValid();
        const bool neverBump = !e.mLastBump.isValid();
        e.mOverdue = e.mDue < now || neverCal || neverBump;
        out.push_back(std::move(e));
    }
    std::sort(out.begin(), out.end(), [](const RDueEntry &a, const RDueEntry &b) {
        return a.mDue != b.mDue ? a.mDue < b.mDue : a.mSerial < b.mSerial;
    });
    return out;
}

bool DueList(TRecordStore &store, const QDateTime &now, std::optional<int> withinDays, std::vector<RDueEntry> &out,
             QString &error, bool includeSimulated)
{
    std::vector<RDueFacts> facts;
    if (!(includeSimulated ? store.FactsFromRecords(facts, error, true) : store.DueFacts(facts, error)))
        return false;
    out = ComputeDue(facts, now);
    if (withinDays) {
        // Overdue units stay in the list whatever the window (--within 0 too).
        const QDateTime limit = now.addDays(*withinDays);
        out.erase(std::remove_if(out.begin(), out.end(),
                                 [&](const RDueEntry &e) { return !e.mOverdue && e.mDue > limit; }),
                  out.end());
    }
    return true;
}

QJsonObject DueToJson(const RDueEntry &e)
{
    QJsonObject o;
    o.insert(QStringLiteral("serial"), e.mSerial);
    o.insert(QStringLiteral("product"), e.mProduct);
    o.insert(QStringLiteral("sensor"), e.mSensor);
    o.insert(QStringLiteral("last_calibration"), TimeValue(e.mLastCal));
    o.insert(QStringLiteral("next_calibration"), TimeValue(e.mNextCal));
    o.insert(QStringLiteral("last_bump"), TimeValue(e.mLastBump));
    o.insert(QStringLiteral("next_bump"), TimeValue(e.mNextBump));
    o.insert(QStringLiteral("due"), TimeValue(e.mDue));
    o.insert(QStringLiteral("overdue"), e.mOverdue);
    return o;
}
