#pragma once
// The one small interface through which the core reports every finished job
// that reached the detector, as it reports to the user through IScreen. The
// service-record store implements it; TNullJournal is used when records are
// off. The session holds the one in force; a job is reported once, after the
// link is closed, whatever its outcome (TDeviceJob, app/device_job.h).
#include <optional>
#include <string>

#include <QJsonObject>

#include "model/config_record.h"
#include "model/device_records.h"

// Job names: the command-line names of the jobs.
inline constexpr const char *kJobIdentify = "identify";
inline constexpr const char *kJobRead = "read";
inline constexpr const char *kJobWrite = "write";
inline constexpr const char *kJobHibernate = "hibernate";
inline constexpr const char *kJobLogReset = "log-reset";
inline constexpr const char *kJobPowerDown = "power-down";
inline constexpr const char *kJobCalibration = "calibration";
inline constexpr const char *kJobFactoryReset = "factory-reset";
inline constexpr const char *kJobBeep = "beep";
inline constexpr const char *kJobRightLed = "rled";
inline constexpr const char *kJobLeftLed = "lled";
inline constexpr const char *kJobVibrator = "vibrator";
inline constexpr const char *kJobClearPeak = "clear-peak";
inline constexpr const char *kJobBumpFail = "bump-fail";
inline constexpr const char *kJobBumpPass = "bump-pass";
inline constexpr const char *kJobEvents = "events";
inline constexpr const char *kJobEeprom = "eeprom";
inline constexpr const char *kJobUpgrade = "upgrade";
inline constexpr const char *kJobLog = "log";
inline constexpr const char *kJobSensorCal = "sensor-cal";
inline constexpr const char *kJobBumpTest = "bump-test";

// Keys of RJobRecord::mData the records room reads back (due list,
// certificates). A job puts in what it has; anything else it produced may
// be added under names of its own (event count, firmware from/to, ...).
namespace journal_data {
inline constexpr const char *kConfig = "config";           // hex of the 128-byte record read (before the job)
inline constexpr const char *kConfigAfter = "config_after"; // hex of the record read back after the job
inline constexpr const char *kSpanGas = "span_gas";        // span gas concentration, tenths of the unit
inline constexpr const char *kUnit = "unit";               // the sensor's unit ("ppm", "%")
inline constexpr const char *kZeroBefore = "zero_before";  // mZero, raw counts
inline constexpr const char *kZeroAfter = "zero_after";
inline constexpr const char *kSpanBefore = "span_before";  // mSpan, thousandths
inline constexpr const char *kSpanAfter = "span_after";
inline constexpr const char *kResult = "result";           // sensor-cal: "OK", "FAIL", "Time-out", "User Stop", ...
inline constexpr const char *kSource = "source";           // "logger" for a command sent from the logger dialog
} // namespace journal_data

// One finished job.
struct RJobRecord {
    std::string mJob;                      // one of the kJob names
    uint8_t mStatus = 0;                   // the status byte that ended it (0 = success)
    std::string mText;                     // the status-bar text it left
    std::optional<RTamselIdenty> mIdentity; // the identity, when the job read it
    std::optional<RTamselCFG> mConfig;     // the configuration, when the job read it
    QJsonObject mData;                     // what the job produced (see journal_data)
};

class IJournal {
public:
    virtual ~IJournal() = default;
    // Records one finished job. Never throws: returns an empty text when the
    // record was written, otherwise one line the caller shows as a warning
    // (the job's own outcome stands either way).
    virtual std::string Record(const RJobRecord &job) = 0;
};

// Records nothing (records off).
class TNullJournal final : public IJournal {
public:
    std::string Record(const RJobRecord &) override { return {}; }
};

// The bytes as upper-case hexadecimal, two digits each, no separators.
std::string HexText(const uint8_t *bytes, size_t count);
