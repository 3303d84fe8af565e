#pragma once
// The due list: which detectors need a calibration or a bump test, and when.
//
// For each serial in the store: the next calibration is the time of its last
// successful calibration record (RecordKind) plus the calibration interval
// (mCalInterval, seconds) of the configuration that record carries; the next
// bump test is the time of its last counted bump record plus the bump interval
// (mBumpInterval, days) of its configuration. A record that carries no
// configuration takes the interval from the latest configuration recorded
// for that serial by any job. An interval of 0 means none is due after a
// counted one. A serial with no counted record (whatever its intervals, 0
// included), or whose interval was never recorded, is due now (the time of
// the query). `due` is the earlier of the two; a serial with neither
// due is not listed; `overdue` means due is in the past, or the serial was
// never calibrated or never bump-tested.
#include <optional>
#include <vector>

#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include "records/store.h"

struct RDueEntry {
    QString mSerial, mProduct, mSensor;
    QDateTime mLastCal, mNextCal, mLastBump, mNextBump, mDue; // invalid: none
    bool mOverdue = false;
};

// The list from the facts, at `now`, soonest first (then by serial).
std::vector<RDueEntry> ComputeDue(const std::vector<RDueFacts> &facts, const QDateTime &now);
// The list of a store; withinDays: only those due by now + that many days.
// Records of simulated detectors count only with includeSimulated.
bool DueList(TRecordStore &store, const QDateTime &now, std::optional<int> withinDays, std::vector<RDueEntry> &out,
             QString &error, bool includeSimulated = false);
// {"serial", "product", "sensor", "last_calibration", "next_calibration",
//  "last_bump", "next_bump", "due", "overdue"}; times as record times or null.
QJsonObject DueToJson(const RDueEntry &entry);
