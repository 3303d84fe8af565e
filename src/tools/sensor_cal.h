#pragma once
// The sensor calibration tool: takes the span gas concentration, remembers
// it per sensor type, writes it into the detector when it differs, starts the
// detector's zero-then-span procedure and follows it by polling the reading
// until the detector reports the end, the time limit passes or the user
// cancels. Unlike the logger it opens and closes the link for each exchange:
// once to prepare, once to start, once per poll.
//
// A controller with a Pass step, driven by the dialog's event loop (a timer
// set to NextDue()) or by Run() on the session's clock; it shows what it has
// through ISensorCalView and reaches the user through IScreen.
#include <cstdint>
#include <optional>
#include <string>

#include "app/clock.h"
#include "app/device_job.h"
#include "app/journal.h"
#include "app/screen.h"
#include "model/config_record.h"
#include "model/settings_types.h"

class TComTamsel;
class TSession;

// Configuration record offset and size of mSpanGas (the only bytes written).
inline constexpr uint16_t kSpanGasAddress = 88;
inline constexpr uint16_t kSpanGasSize = 2;

// FCalib.
enum : uint8_t {
    kCalibIdle = 0,
    kCalibRunning = 1,
    kCalibUserStop = 2,
    kCalibTimeOut = 3,
};

// How the last procedure ended.
enum class ECalOutcome : uint8_t {
    kNone,         // nothing ran yet
    kOk,           // "Calibration ... OK"
    kFailed,       // "Calibration ... FAIL"
    kUserStop,     // "Calibration... User Stop"
    kTimeOut,      // "Calibration... Time-out"
    kNotPrepared,  // preparation failed (its message shown), nothing started
    kStartFailed,  // the start command failed (OutcomeStatus has its status)
    kAborted,      // a port error ended it (the error box shown)
};

// "#0.#" of tenths, "." as decimal point: 250 -> "25", 255 -> "25.5".
std::string SpanGasText(uint16_t nTenths);

// The largest span gas, in tenths, that is refused: one that rounds to 0.1
// of the unit or less calibrates nothing.
inline constexpr int kSmallestSpanTenths = 1;
inline constexpr const char *kSpanGasCaption = "Span Gas";
// The refusal's text for a sensor of that unit ("\r": line break).
std::string SpanGasRefusal(const std::string &unit);

class ISensorCalView {
public:
    virtual ~ISensorCalView() = default;
    // "Sensor Calibration (" name ")".
    virtual void CaptionChanged(const std::string &text) = 0;
    // The span gas entry: range and value (one decimal).
    virtual void SpanRangeChanged(double rMin, double rMax) = 0;
    virtual void SpanValueChanged(double rValue) = 0;
    // The span gas's unit.
    virtual void UnitChanged(const std::string &text) = 0;
    // Status line 0, 1 or 2, as shown
    // (the span gas with the user's decimal separator).
    virtual void StatusLineChanged(int line, const std::string &text, RColor color) = 0;
    // Running: starting and closing disabled, cancelling enabled; idle: the opposite.
    virtual void RunningChanged(bool running) = 0;
    virtual void CalProgressChanged(int position, int max) = 0;
};

class TSensorCalibration {
public:
    TSensorCalibration(TSession &session, IScreen &screen, ISensorCalView &view);
    TSensorCalibration(const TSensorCalibration &) = delete;
    TSensorCalibration &operator=(const TSensorCalibration &) = delete;

    // ShowDlg's preparation for the record passed in. False when its sensor
    // type has no entry in the session's SensorTypes: the "Wrong Sensor" box
    // has been shown and the dialog is not to appear.
    bool Open(const RTamselCFG &mCFG);
    // Closing the dialog: only while idle.
    bool CloseAllowed() const { return FCalib == kCalibIdle; }

    // What the span gas entry holds; kept in its range with one decimal.
    void SetSpanEntry(double rValue);
    double SpanEntry() const { return FSpanEntry; }

    // The start of the calibration up to the polling. True when the polling runs: drive it with Pass.
    bool Start();
    // One pass of the polling. False when the procedure has ended (idle again).
    bool Pass();
    // When the next pass has something to do (kDueNow: at once).
    TDateTime NextDue() const;
    // Passes until the procedure ends, ProcessMessages once per pass, then a
    // sleep until the next due time (command line, tests).
    void Run();
    // The calibration cancelled.
    void Cancel();
    // A run measured around the procedure (TCalEvidence): its record is held
    // when the procedure ends, for ReleaseRecord to make once the measurement
    // after it is done.
    void HoldRecord(bool on) { FHoldRecord = on; }
    bool RecordHeld() const { return FJob.has_value() && FHeld.has_value(); }
    // Makes the held record: the procedure's data with `more` added, and the
    // whole run's status, text and outcome word when given. Nothing when none
    // is held.
    void ReleaseRecord(const QJsonObject &more, std::optional<uint8_t> status = std::nullopt,
                       const std::string &text = {}, const std::string &outcome = {});
    // Ends a running procedure at once, as a stop by the user (a dialog that goes away).
    void Shutdown();

    uint8_t Calib() const { return FCalib; }
    bool Running() const { return FRunning; }
    uint8_t SensorTypeCode() const { return FSensorType; }
    const RSensorType *SensorType() const { return FPSensor ? &*FPSensor : nullptr; }
    uint16_t DefSpan() const { return FDefSpan; }
    // The detector's configuration as the last preparation read it.
    const RTamselCFG &Record() const { return FCFG; }
    ECalOutcome Outcome() const { return FOutcome; }
    // The status byte behind kNotPrepared, kStartFailed and kAborted; 0 otherwise.
    uint8_t OutcomeStatus() const { return FOutcomeStatus; }
    // The job's code from the exit table, as its record and the command line
    // give it: 0 for OK; kJobNotDone for a calibration that failed, timed
    // out, was stopped or whose zero the detector refused (177); kJobRefused
    // for a detector whose sensor type changed since it was read; the status
    // byte otherwise.
    uint8_t JobStatus() const;
    TDateTime NextPollTime() const { return FNextPoll; }
    // The polls of the running procedure: how many were made, the last one's
    // status and (when that was 0) the reading's mHistory.
    int PollCount() const { return FPollCount; }
    uint8_t LastPollStatus() const { return FLastPollStatus; }
    uint8_t LastPollHistory() const { return FLastPollHistory; }
    TDateTime StartTime() const { return FStartTime; }

private:
    // "stopped" for a stop by the user; empty: the record's own rule.
    std::string OwnOutcome() const;
    bool PrepareCalibration(RTamselCFG &CFG);
    void Poll();
    void StopProcedure();
    void Finish();
    // The run on the service record: span gas, zero and span before, result.
    void RecordRun();
    void StatusLine(int line, const std::string &text, RColor color);
    uint16_t CalTime() const { return FPSensor ? FPSensor->mCalTime : 0; }

    TSession &FSession;
    TComTamsel &FLink;
    IScreen &FScreen;
    ISensorCalView &FView;
    IClock &FClock;

    uint8_t FCalib = kCalibIdle;
    uint8_t FSensorType = 0;
    std::optional<RSensorType> FPSensor;
    uint16_t FDefSpan = 0;
    double FSpanEntry = 0;
    RTamselCFG FCFG{};

    bool FRunning = false;
    bool FProgressAtMax = false;
    TDateTime FStartTime = 0;
    TDateTime FNextPoll = 0;
    ECalOutcome FOutcome = ECalOutcome::kNone;
    uint8_t FOutcomeStatus = 0;
    int FPollCount = 0;
    uint8_t FLastPollStatus = 0;
    uint8_t FLastPollHistory = 0;
    std::optional<TDeviceJob> FJob;      // the run being recorded, from Start to its end
    std::string FLastLine;               // the last status line shown: the record's text
    bool FHoldRecord = false;
    std::optional<QJsonObject> FHeld;    // the held record's data
};
