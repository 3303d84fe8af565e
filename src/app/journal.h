#pragma once
// The one small interface through which the core reports every finished job
// that reached the detector, as it reports to the user through IScreen. The
// service-record store implements it; TNullJournal is used when records are
// off. The session holds the one in force; a job is reported once, after the
// link is closed, whatever its outcome (TDeviceJob, app/device_job.h).
#include <functional>
#include <optional>
#include <string>

#include <QDateTime>
#include <QJsonObject>

#include "model/config_record.h"
#include "model/device_records.h"
#include "model/exit_table.h"

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
inline constexpr const char *kJobDiff = "diff";                   // the detector against a file, nothing written
inline constexpr const char *kJobTemplateDiff = "template-diff";  // the detector against a template
inline constexpr const char *kJobTemplateSave = "template-save";  // a template taken from the detector
inline constexpr const char *kJobProgram = "program";             // one unit of a programming run
inline constexpr const char *kJobRestore = "restore";             // a kept configuration written back
inline constexpr const char *kJobBumpTest = "bump-test";

// The exit table's own codes that a job's record carries as its status; the
// words of `outcome` come from the same table (model/exit_table.h).
inline constexpr uint8_t kJobDeclined = exits::kJobDeclined; // a question was answered No
inline constexpr uint8_t kJobRefused = exits::kJobRefused;   // refused before anything was sent
inline constexpr uint8_t kJobNotDone = exits::kJobNotDone;   // ran but did not succeed, with no status byte to say why

// The outcome of a job from its status when the job itself names none: 0 is
// success (started for the factory calibration command, declared for a bare
// bump report), kJobDeclined declined, kJobRefused refused, anything else
// failed.
std::string DeriveOutcome(const std::string &job, uint8_t status);

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
inline constexpr const char *kCylinder = "cylinder";       // the gas cylinder a test or calibration used
// The fleet's jobs: the configuration read before a write (hex, 128 bytes),
// the fields changed ([{"field", "before", "after"}], values as the record
// holds them), the template used ({"name", "version", "hash"}), the read-back
// ("equal" or "differs", with the differing fields under kReadBackFields),
// and for a restore the record whose configuration it wrote back ({"id", "time"}).
inline constexpr const char *kBackup = "backup";
inline constexpr const char *kChanges = "changes";
inline constexpr const char *kTemplate = "template";
inline constexpr const char *kReadBack = "readback";
inline constexpr const char *kReadBackFields = "readback_fields";
inline constexpr const char *kUnchanged = "unchanged";            // true: the unit held it already, nothing written
inline constexpr const char *kRestoredFrom = "restored_from";
// A write that read no configuration first: the newest earlier record that
// read that serial's configuration ({"id", "time"}), added by the records room.
inline constexpr const char *kConfigBefore = "config_before";
} // namespace journal_data

// One finished job.
struct RJobRecord {
    std::string mJob;                      // one of the kJob names
    uint8_t mStatus = 0;                   // its code from the exit table (0, a status byte, kJobDeclined, ...)
    std::string mOutcome;                  // one of the outcome words; empty: DeriveOutcome
    QDateTime mTime;                       // when it ran (UTC); invalid: when it is recorded
    bool mSimulated = false;               // its detector was simulated (a pseudo-terminal)
    std::string mText;                     // the status-bar text it left
    std::optional<RTamselIdenty> mIdentity; // the identity, when the job read it
    std::optional<RTamselCFG> mConfig;     // the configuration, when the job read it
    QJsonObject mData;                     // what the job produced (see journal_data)
};

// Where a journal sends the one line about a record it could not keep where
// it should (called once at most, from any thread).
using TJournalWarn = std::function<void(const std::string &)>;

class IJournal {
public:
    virtual ~IJournal() = default;
    // Hands one finished job over. Never throws and never waits on a store:
    // a journal may keep the record later, on a thread of its own, in the
    // order the jobs were handed over. The job's own outcome stands whatever
    // becomes of its record; `warn` (may be empty) hears of trouble.
    virtual void Record(const RJobRecord &job, const TJournalWarn &warn) = 0;
    // Waits until every record handed over so far is kept or given up (the
    // store's time-outs bound the wait). A program calls it before it ends.
    virtual void Flush() {}
    // The job under way, between its start and its record (the time is when
    // it started): a program stopped on the way (a second Ctrl-C) leaves its
    // record with Abandon. Ended(): the job left no record after all.
    virtual void Started(const std::string &job, const QDateTime &time) { (void)job; (void)time; }
    virtual void Ended() {}
    // Records the job under way as stopped (kJobNotDone) and waits for it; nothing
    // when no job is under way.
    virtual void Abandon() {}
};

// Records nothing (records off).
class TNullJournal final : public IJournal {
public:
    void Record(const RJobRecord &, const TJournalWarn &) override {}
};

// The bytes as upper-case hexadecimal, two digits each, no separators.
std::string HexText(const uint8_t *bytes, size_t count);
