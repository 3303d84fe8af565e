#pragma once
// The due summary: table serials, per serial what the due list needs from
// its latest records (simulated ones left out), kept by every append in the
// same transaction and checked against the records by Verify.
#include <optional>
#include <vector>

#include <QString>

class TStoreConnection;
struct RServiceRecord;

// The facts the due list needs about one serial.
struct RDueFacts {
    QString mSerial, mProduct, mSensor;
    QString mLatest, mCfgTime;                      // times of the latest record and of the latest configuration
    QString mLastCal, mLastBump;                    // record times; empty: none
    std::optional<qint64> mCalInterval;             // seconds, from the calibration record's configuration
    std::optional<qint64> mBumpInterval;            // days, from the bump record's configuration
    std::optional<qint64> mCfgCalInterval, mCfgBumpInterval; // from the latest configuration of the serial

    bool operator==(const RDueFacts &) const = default;
};

class TDueSummary {
public:
    explicit TDueSummary(TStoreConnection &connection) : FConn(connection) {}

    // Per serial, from the serials table (sorted by serial): simulated
    // records left out.
    bool DueFacts(std::vector<RDueFacts> &out, QString &error);
    // The same worked out from the records themselves (sorted by serial).
    bool FactsFromRecords(std::vector<RDueFacts> &out, QString &error, bool includeSimulated = false);
    // Takes a record just appended (not simulated) into its serial's row.
    bool UpdateSerial(const RServiceRecord &record, QString &error);
    // The table made anew from the records.
    bool RebuildSerials(QString &error, bool includeSimulated = true);

private:
    TStoreConnection &FConn;
};
