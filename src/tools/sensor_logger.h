#pragma once
// The sensor reading logger: keeps one connection to the detector open for a
// whole run, polls the live readings (gas, and optionally battery and
// temperature), keeps the connection alive between readings, appends every
// reading set to a CSV file, plots the gas reading in a scrolling time window,
// sends calibration and test commands between passes and follows a started
// calibration to its end.
//
// The loop is a controller with a Pass step: the dialog drives it from its
// event loop (a timer set to NextDue()), the command line and the tests from
// Run() on the session's clock, sleeping until the next due time. The controller shows
// what it has through ISensorLogView and reaches the user (message boxes, the
// save dialog) through IScreen.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QJsonArray>
#include <QJsonObject>

#include "app/clock.h"
#include "app/device_job.h"
#include "app/journal.h"
#include "app/screen.h"
#include "link/wire.h"
#include "model/config_record.h"
#include "model/device_records.h"

class TComTamsel;
class TSession;

// FBtnSel: the command a button asked for and the loop has not sent yet.
enum : uint8_t {
    kLogBtnNone = 0,
    kLogBtnCalibration = 1,
    kLogBtnZero = 2,
    kLogBtnSpan = 3,
    kLogBtnCalAbort = 4,
    kLogBtnClearPeak = 5,
    kLogBtnBumpPass = 6,
    kLogBtnBumpFail = 7,
};

// Codes of SensorCalibration the logger sends.
inline constexpr uint8_t kCalCodeZero = wire::kCalZero;
inline constexpr uint8_t kCalCodeSpan = wire::kCalSpan;
inline constexpr uint8_t kCalCodeZeroSpan = wire::kCalZeroSpan;
inline constexpr uint8_t kCalCodeAbort = wire::kCalAbort;
inline constexpr uint8_t kCalCodeClearPeak = wire::kCalClearPeak;
inline constexpr uint8_t kCalCodeBumpFail = wire::kCalBumpFail;
inline constexpr uint8_t kCalCodeBumpPass = wire::kCalBumpPass;

// The command of a selection: its code and the name the status line shows; code 0 and
// an empty name for kLogBtnNone or an unknown selection.
struct RLogCommand {
    uint8_t mCode;
    const char *mName;
};
RLogCommand LogCommand(uint8_t nBtnSel);
// The name of a command code ("Zero/Span CAL." for 66); empty when unknown.
const char *LogCommandName(uint8_t nCode);

// CalState: calibration tracking.
enum : uint8_t {
    kCalIdle = 0,
    kCalStarted = 1,
    kCalWaitProgress = 2,
    kCalInProgress = 3,
    kCalFinished = 4,
};

// Statuses that mean the adapter itself has failed: logging stops.
bool IsAdapterFailure(uint8_t nStatus);

// The texts of one reading set, "." as decimal point (the dialog shows them
// with the user's separator, the CSV file writes them as they are).
struct RSensorLogDisplay {
    std::string mSensorValue;      // "OL" or the signed, scaled gas value
    std::string mSensorPeak;       // gas peak
    std::string mBatteryValue;
    std::string mBatteryAdc;
    std::string mTemperatureValue;
    std::string mTemperatureAdc;
    std::array<bool, 6> mHistory{}; // SensorHistoryCheck1..6: mHistory bits 2..7
    std::array<bool, 5> mAlarm{};   // SensorAlarmCheck1..5: mAlarm bits 0..4
    double mElapsed = 0;           // seconds since the start of the run
    float mChartValue = 0;         // the gas value on the chart (over range: 32767 / divisor)
};
RSensorLogDisplay LogDisplay(const RTamselSensor &sensor, const RTamselSensor &battery,
                             const RTamselSensor &temperature, double rElapsed);

// A point of the chart: x seconds since the start, y the gas value.
struct RChartPoint {
    double mX = -1.0;
    float mY = 0;
    bool operator==(const RChartPoint &) const = default;
};

// ---- the CSV file ----

// "Product Name,Corvane Norvik" ... the column line: the ten header lines
// (without line ends) for a unit record.
std::vector<std::string> LogHeaderLines(const RTamselUnitCFG &mUnit);
// The "Life Remaining," field: "5months 3 days", "12 days" or "7 hours".
std::string LogLifeText(uint32_t nLifeRemaining);
// A data row (without line end): time "MM-DD hh:nn:ss:zzz", then the fifteen
// fields of the column line; numbers always with "." as decimal point.
std::string LogRow(TDateTime rTime, const RTamselSensor &sensor, const RTamselSensor &battery,
                   const RTamselSensor &temperature);
// The proposed file name: serial (up to its first NUL) + "_DAT_" + YYMMDDHHNNSS + ".CSV".
std::string LogFileName(const RTamselIdenty &mIdenty, TDateTime rNow);
// Creates (or replaces) the file and writes the header, CR LF after each line.
// False when it could not be written (logging goes on without it).
bool WriteLogHeader(const std::string &FileName, const RTamselUnitCFG &mUnit);
// Appends the line and CR LF to an existing file, opened for this one write;
// false (nothing created) when the file is missing or cannot be written.
bool AppendLine(const std::string &FileName, const std::string &Line);

// ---- what the controller shows ----

class ISensorLogView {
public:
    virtual ~ISensorLogView() = default;
    // Idle (false): starting enabled; stopping and the seven commands
    // disabled. Logging (true): the opposite.
    virtual void LogStateChanged(bool logging) = 0;
    // The commands calibration, zero, span, clear peak, bump pass and bump
    // fail (cancelling a calibration is left as it is).
    virtual void CommandButtonsEnabled(bool enabled) = 0;
    virtual void CalLabelChanged(const std::string &text, RColor color) = 0;
    virtual void CalProgressChanged(int position, int max) = 0;
    virtual void CalProgLabelChanged(const std::string &text) = 0;
    // A new reading set: labels, history and alarm boxes.
    virtual void ReadingShown(const RSensorLogDisplay &shown) = 0;
    // A new run: the series is emptied and the time axis set.
    virtual void ChartReset(double rMin, double rMax, double rTick) = 0;
    // A point inside the current window.
    virtual void ChartAdded(const RChartPoint &point) = 0;
    // The window moved: series emptied, axis [rMin, rMax], then these points, oldest first.
    virtual void ChartMoved(double rMin, double rMax, const std::vector<RChartPoint> &points) = 0;
};

class TSensorLogger {
public:
    static constexpr int kHistorySize = 10000;

    TSensorLogger(TSession &session, IScreen &screen, ISensorLogView &view);
    TSensorLogger(const TSensorLogger &) = delete;
    TSensorLogger &operator=(const TSensorLogger &) = delete;

    // ShowDlg's preparation: closing allowed, not logging, no command pending.
    void Reset();
    bool CloseEnabled() const { return FCloseEnable; }
    // The loop is set up and has not ended yet (its link is open).
    bool Running() const { return FRunning; }
    // FLogStart: the loop goes on; false once stopped (it ends at its next pass).
    bool LogStart() const { return FLogStart; }

    // The start: reads the unit, offers the save dialog, writes the
    // header and sets the loop up. True when the loop runs: drive it with Pass.
    // With SetFileRequired, a chosen file whose header cannot be written ends
    // the start there (FileFailed(), nothing logged, the link closed).
    bool Start();
    // The dialog logs on without a file it cannot write; the command line,
    // which was told to write one, does not.
    void SetFileRequired(bool on) { FFileRequired = on; }
    // One pass of the loop. False when the loop has ended: the link is
    // closed and the dialog is idle again.
    bool Pass();
    // When the next pass has something to do (kDueNow: at once).
    TDateTime NextDue() const;
    // Drives the loop until it ends, stopping it once the clock reaches
    // stopAt: a pass, then ProcessMessages once, then a sleep until the next
    // due time. For the command line and the tests; Start must have succeeded.
    // afterPass, when given, is called after every pass that keeps the loop going.
    void Run(TDateTime stopAt, const std::function<void()> &afterPass = {});
    // Ends a running loop at once (a dialog that goes away).
    void Shutdown();

    // The stop.
    void Stop() { FLogStart = false; }
    // A command asked for (1..7, kLogBtn...): the last one before a pass wins.
    void Press(uint8_t nBtnSel) { FBtnSel = nBtnSel; }
    // SensorCheck2 / SensorCheck3: poll battery / temperature (checked at start).
    void SetPollBattery(bool on) { FPollBattery = on; }
    void SetPollTemperature(bool on) { FPollTemperature = on; }
    bool PollBattery() const { return FPollBattery; }
    bool PollTemperature() const { return FPollTemperature; }

    // --- state of the run ---
    uint8_t BtnSel() const { return FBtnSel; }
    uint8_t CalState() const { return FCalState; }
    uint16_t Interval() const { return FInterval; }
    uint8_t Status() const { return FStatus; }
    bool Connected() const { return FConnected; }
    TDateTime StartTime() const { return FStartTime; }
    TDateTime NextReadingTime() const { return FNextReading; }
    TDateTime NextConnectionTime() const { return FNextConnection; }
    const std::string &FileName() const { return FFileName; }
    const RTamselSensor &SensorReading() const { return FSensor; }
    const RTamselSensor &BatteryReading() const { return FBattery; }
    const RTamselSensor &TemperatureReading() const { return FTemperature; }
    // ReadingHistory, age 0 the newest; x -1.0 where not filled yet.
    RChartPoint History(int age) const;
    double AxisMin() const { return FAxisMin; }
    double AxisMax() const { return FAxisMax; }
    // What ended the last run: 0, the adapter failure's status, the failed
    // unit read's status, or kStatusAborted after a port error.
    uint8_t EndStatus() const { return FEndStatus; }
    // The header of the chosen file could not be written.
    bool FileFailed() const { return FFileFailed; }
    // Reading sets shown (and, with a file, logged) in the current or last run.
    int Readings() const { return FReadings; }

private:
    void Finish();
    void Abort(const std::string &text);
    void EndLoop();
    bool BeginLoop(const std::string &fileName);
    void ExecuteCommand(uint8_t nCode);
    void TrackCalibration(TDateTime now);
    TDateTime TrackingDue() const;
    void Timing(TDateTime now);
    void ShowReading(double rElapsed);
    void ExtendChart(const RChartPoint &point);
    void PushHistory(const RChartPoint &point);
    bool Shown(uint8_t mask) const { return (FShownHistory & mask) != 0; }
    float TimeOut() const;

    TSession &FSession;
    TComTamsel &FLink;
    IScreen &FScreen;
    ISensorLogView &FView;
    IClock &FClock;

    bool FCloseEnable = true;
    bool FLogStart = false;
    uint8_t FBtnSel = 0;
    bool FPollBattery = true;
    bool FPollTemperature = true;

    bool FRunning = false;
    std::string FFileName;
    RTamselSensor FSensor{};
    RTamselSensor FBattery{};
    RTamselSensor FTemperature{};
    uint8_t FShownHistory = 0; // mHistory of the sensor reading last shown (the history boxes)
    uint8_t FStatus = 0;
    bool FConnected = false;
    TDateTime FStartTime = 0;
    TDateTime FNextConnection = 0;
    TDateTime FNextReading = 0;
    TDateTime FCalTime = 0;
    uint16_t FInterval = 1;
    uint8_t FCalState = kCalIdle;
    std::vector<RChartPoint> FHistory; // ring, FHead the newest
    int FHead = 0;
    double FAxisMin = 0;
    double FAxisMax = 0;
    uint8_t FEndStatus = 0;
    bool FFileFailed = false;
    bool FFileRequired = false;
    int FReadings = 0;

    // The run on the service record: the log job from Start to its end, and
    // the commands sent from the dialog, each recorded once the run has let
    // the detector go (bump reports and followed calibrations as jobs of
    // their own).
    struct RQueuedJob {
        const char *mJob;
        uint8_t mStatus;
        std::string mText;
        QJsonObject mData;
        QDateTime mTime;      // when the command was sent
        std::string mOutcome; // empty: from the status
    };
    void RecordCommand(uint8_t nCode, uint8_t nStatus, const std::string &outcome);
    void QueueCalibrationEnd(const char *result, const std::string &text);
    void RecordRun();
    std::optional<TDeviceJob> FJob;
    QJsonArray FCommands;
    std::vector<RQueuedJob> FQueued;
    QString FRunStart;
    uint8_t FCalCode = 0; // the calibration being followed
    QDateTime FCalSent;   // when its command was sent
};
