#pragma once
// The jobs on a detector that need nothing of the window: the buttons of the
// service and test pages and Read and Write Device on a record the caller
// holds. Each is a device job (app/device_job.h) with its record, and
// reaches the user only through IScreen. The window's actions
// (app/device_actions.h) keep its editors and flags and call these; the
// command line and the tools call them directly.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/detector.h"
#include "app/device_job.h"
#include "app/screen.h"
#include "app/status.h"
#include "model/device_records.h"

class TSession;

// The six identity lines of the Identify box, joined by "\r".
std::string IdentityText(const RTamselIdenty &identity);

// Statuses the actions make themselves.
inline constexpr uint8_t kStatusMustCalibrate = 0xC1;     // 193: power down refused (177)
inline constexpr uint8_t kStatusZeroCalFailed = 0xC2;     // 194: calibration refused (177)
inline constexpr uint8_t kStatusNoHibernation = 0xC3;     // 195: hibernate refused (177); also closes a hibernated link
inline constexpr uint8_t kStatusRefusedByDevice = wire::kStatusDeviceError; // 177: the detector's error reply

// Texts of the boxes the actions show themselves.
inline constexpr const char *kNoSensorCaption = "No sensor information";
inline constexpr const char *kNoSensorTextUser = "No sensor information.\rFirst READ DEVICE";
inline constexpr const char *kNoSensorTextDev = "No sensor information.\rFirst READ DEVICE or select sensor type";
inline constexpr const char *kCheckUnitCaption = "Check Unit";
inline constexpr const char *kCheckUnitText =
    "This feature is only supported on the Norvik+ instrument\rPlease contact Corvane more details";
inline constexpr const char *kHibernateCaption = "Hibernate";
inline constexpr const char *kHibernateQuestion =
    "Hibernation will clear the event log.\rAre you sure you want to proceed.";
inline constexpr const char *kIdentifyCaption = "Norvik Identify";
// Write Device with settings whose write ranges leave the record.
inline constexpr const char *kWriteRangeCaption = "Check Settings";
inline constexpr const char *kWriteRangeIntro =
    "The write ranges of the settings file do not fit the configuration record (bytes 1 to 128):";
inline constexpr const char *kWriteRangeOutro = "Nothing was sent. Correct the settings file and start again.";
// The box text for the problem lines of CFGWriteRangeProblems: the intro, one
// line per range, the outro, joined by "\r".
std::string WriteRangeText(const std::vector<std::string> &problems);

// Write Device with alarm set points that contradict each other: for a gas
// whose reading rises a low alarm above the high alarm (the high alarm would
// sound first); for oxygen, whose low alarm is the level the reading falls
// to and whose high alarm the level it rises to, a low alarm at or above the
// high alarm (it would be in alarm in clean air).
inline constexpr const char *kAlarmOrderCaption = "Alarm Setting";
// Why the record's alarm set points may not be written; empty when they may.
// `types` names the unit.
std::string AlarmOrderProblem(const RTamselCFG &cfg, const std::vector<RSensorType> &types);
// Why the record's alarm set points lie outside what its sensor measures (the
// alarm editors' own bounds for that sensor type); empty when they do not or
// the sensor type is not in `types`.
std::string AlarmRangeProblem(const RTamselCFG &cfg, const std::vector<RSensorType> &types);

// The one rule for what is written: every path that sends a configuration
// (Write Device, write, program, restore) and every template save passes the
// record through these checks before anything is sent or saved, in this
// order: the settings' write ranges, the alarm order, the alarms within the
// sensor's range. The first problem found, with the box the window shows.
struct RConfigProblem {
    std::string mCaption;      // the error box's caption; empty: the record may be written
    std::string mText;         // its text, lines joined by "\r"
    bool mBadSettings = false; // the settings' write ranges are at fault, not the record
    bool Found() const { return !mCaption.empty(); }
    // The text on one line, for a terminal or a record.
    std::string Line() const;
};
RConfigProblem ConfigWriteProblem(const RDeviceCFG &settings, const RTamselCFG &cfg,
                                  const std::vector<RSensorType> &types);
// The same rule without the settings: the alarm order, then the alarms
// within the sensor's range.
RConfigProblem RecordWriteProblem(const RTamselCFG &cfg, const std::vector<RSensorType> &types);

// Codes the buttons send.
inline constexpr uint8_t kCalZeroSpan = wire::kCalZeroSpan; // factory "Calibration"
// AVOn code of actuator button 1..4 (Beep, right LED, left LED, vibrator;
// the vibrator is 0x34, not 0x33); 0 for any other number.
uint8_t ActuatorCode(int nButton);
// SensorCalibration code and prefix of report button 1..3 (Clear Peak, Bump
// Fail, Bump Pass); code 0 and an empty prefix for any other number.
uint8_t ReportCode(int nButton);
std::string ReportPrefix(int nButton);

// How an action ended. It derives from the frame's result: mStatus is the
// status handed to ShowResult (or, for the actuator tests, to CloseUSB).
struct RActionResult : ROpResult {
    bool mRefused = false;  // stopped by its own check with its own box (or a button number
                            // that names no action) before anything was reported
    bool mDeclined = false; // the question was answered No
    bool mBadSettings = false; // mRefused because the settings do not allow the job
    bool mBadAlarms = false;   // mRefused because the alarm set points contradict each other
    bool Ok() const { return ROpResult::Ok() && !mRefused && !mDeclined; }
};

// The configuration read the jobs use: Read Device's sequence over `cfg`
// (TDetector::ReadConfiguration). The window gives its own, which also
// refreshes its editors.
using TConfigRead = std::function<uint8_t(RTamselCFG &cfg)>;
// The record Write Device sends, built once the settings passed their check
// (the window builds it from its editors, showing the life box if it cut).
using TRecordToSend = std::function<RTamselCFG()>;

class TDetectorJobs {
public:
    TDetectorJobs(TSession &session, IScreen &screen, TConfigRead read = {});

    // "Read Norvik Information": the configuration over `cfg`; cfg changes only on success.
    RActionResult ReadDevice(RTamselCFG &cfg);
    // "Write Norvik Information". Refused before connecting, each with its own
    // error box: write ranges of the settings that leave the record
    // (mBadSettings), then a record without a sensor type, then alarm set
    // points that contradict each other or leave the sensor's range
    // (mBadAlarms). `sent` receives the record built.
    RActionResult WriteDevice(const TRecordToSend &record, RTamselCFG *sent = nullptr);
    // The "Sensor Calibration" button's first step: the configuration read
    // on its own connection, "Read sensor information" with its box on a
    // failure, the status bar untouched on success. A failed read is on the
    // record as a sensor-cal job; a good one is the calibration run's to record.
    ROpResult ReadForSensorCalibration(RTamselCFG &cfg);
    // Read, the unit's own check, the question, "Hibernate". `confirmed`:
    // the question was answered Yes since the caller's last other action; it
    // is asked again otherwise, and set once the answer is Yes.
    RActionResult Hibernate(bool &confirmed);
    RActionResult LogReset();                  // "Event Log Reset"
    RActionResult TurnOff();                   // "Power Down"; 177 -> 193
    RActionResult Calibration();               // "Calibration"; 177 -> 194
    RActionResult ActuatorTest(int nButton);   // 1..4: no status text, no result; holds the link mAVOperate ms
    // 1..3: "Clear Peak", "Send Bump Fail", "Send Bump Pass". A bump report
    // may name its detector (`serial`): the identity is read first and a unit
    // with another serial gets nothing (mRefused, with its box); the record
    // then carries the serial. A report that names none says so on its record
    // (data.detector_named false) and does not count as a bump test.
    RActionResult PeakBumpReport(int nButton, const std::string &serial = {});
    RActionResult FactoryReset();              // "Fatory Reset"
    // "Load Identify", then the "Norvik Identify" box (unless bShowBox is
    // false); the identity read goes to *identity when given.
    RActionResult Identify(RTamselIdenty *identity = nullptr, bool bShowBox = true);

private:
    // Log Reset, Turn Off and Calibration: identity, product check, command.
    TOpSteps Checked(TOpSteps command);
    uint8_t Read(RTamselCFG &cfg);

    TSession &FSession;
    IScreen &FScreen;
    TDetector FDetector;
    TConfigRead FRead;
};
