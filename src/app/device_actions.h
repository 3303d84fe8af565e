#pragma once
// The device actions of the main window's buttons, in the core: each is a
// device job (app/device_job.h) and reaches the user only through IScreen.
// They work on the window's shared state (RMainState: FTamselCFG, FForm,
// FReadSW, FHibernateBtn) and on the session's settings and link.
#include <cstdint>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/device_job.h"
#include "app/screen.h"
#include "app/status.h"
#include "model/device_records.h"

class TComTamsel;
class TSession;

// The six identity lines of the Identify box, joined by "\r".
std::string IdentityText(const RTamselIdenty &identity);

// Statuses the actions make themselves.
inline constexpr uint8_t kStatusSensorMismatch = 0x94;    // 148: record's sensor type is not the installed one
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

// FTamselCFG := ViewToConfig(FForm, forDevice) for the session's layout and
// sensor types. When a life remaining above 730 days was cut while building
// for the detector, the life editors are set to 24 months and 0 days and the
// information box "Check Life Remaining" is shown; the build goes on either way.
void ViewToMainState(const TSession &session, RMainState &state, IScreen &screen, bool forDevice);

class TDeviceActions {
public:
    TDeviceActions(TSession &session, IScreen &screen, RMainState &state)
        : FSession(session), FScreen(screen), FState(state)
    {
    }

    // --- sequences on an open connection (also used by other actions) ---

    // Identity, product check (2), unit block, sensor block (3 attempts
    // each). Only when all succeeded: FTamselCFG takes both blocks, FReadSW
    // the firmware version, and the view is refreshed (ConfigToView). The
    // product name box (FForm.UserOptIDLabel) is emptied first and shows the
    // product name once the product is accepted.
    uint8_t ReadDeviceConfig();
    // Identity, product check (2), in the user layout the sensor check
    // (148), then the four write ranges of DeviceCFG in order (unit factory,
    // unit user, sensor factory, sensor user; size 0 skipped; 3 attempts
    // each), and in the developer layout the life remaining (3 attempts).
    // Settings with a range that leaves the record give 192 before anything
    // is sent (WriteDevice refuses them before it connects).
    uint8_t WriteDeviceConfig();

    // The "Sensor Calibration" button's first step: the configuration read
    // on its own connection, "Read sensor information" with its box on a
    // failure, the status bar untouched on success. A failed read is on the
    // record as a sensor-cal job; a good one is the calibration run's to record.
    ROpResult ReadForSensorCalibration();

    // --- the buttons ---
    RActionResult ReadDevice();                // "Read Norvik Information"
    // "Write Norvik Information". Refused before connecting, each with its own
    // error box: write ranges of the settings that leave the record
    // (mBadSettings), then a record without a sensor type, then alarm set
    // points that contradict each other (mBadAlarms).
    RActionResult WriteDevice();
    RActionResult Hibernate();                 // read, checks, question, "Hibernate"
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
    TComTamsel &Link();

    TSession &FSession;
    IScreen &FScreen;
    RMainState &FState;
};
