#pragma once
// The guided bump test: proof that the detector sees gas and raises its own
// LOW alarm, measured by the program against a gas cylinder on record.
//
// It reads the detector (identity and configuration, one frame), refuses a
// cylinder that does not fit it, then exposes the sensor to the gas
// (TGasExposure: one connection held open, as the logger holds its own) and
// reads the gas once a second:
//
//   baseline  three readings in clean air; one at or beyond the low alarm
//             level stops the test before anything is sent ("not in clean
//             air": refused, no Bump Fail; the gas came too early or the air
//             is not clean, which says nothing about the detector)
//   apply     "Apply gas: <cylinder>"; then up to `within` seconds for the
//             reading to reach the low alarm level (oxygen: to fall to it)
//             with the detector's LOW alarm flag, and to settle; the peak must
//             lie within +-50 % of the cylinder's concentration (not oxygen)
//   remove    "Remove gas"; up to 60 s for the reading to fall back past the
//             low alarm level (the recovery time, which decides nothing)
//   report    the detector's own Bump Pass or Bump Fail on the same connection
//
// A step the technician acts on is shown through the view. With confirmed
// steps (a window, a terminal) each step waits for the technician (Confirm)
// or goes on by itself once the readings show the change; its time limit
// runs from then. Without (a script), the readings alone lead, and a step's
// time limit runs from the moment it is shown.
//
// A controller with a Pass step, like the logger and the calibration tool:
// driven by the dialog's timer (NextDue) or by Run on the session's clock.
// The job, whatever its end, leaves one record (job "bump-test").
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <QJsonObject>

#include "app/clock.h"
#include "app/cylinder.h"
#include "app/device_job.h"
#include "app/screen.h"
#include "model/config_record.h"
#include "model/device_records.h"
#include "tools/gas_exposure.h"
#include "tools/gas_watch.h"

class TSession;

enum class EBumpPhase : uint8_t { kIdle, kBaseline, kApplyGas, kWatch, kRemoveGas, kRecovery, kDone };

enum class EBumpOutcome : uint8_t {
    kNone,
    kPass,
    kFail,       // a criterion failed (mReason says which)
    kRefused,    // the cylinder does not fit, or the baseline was not clean air (mReason); no report sent
    kStopped,    // the technician stopped it
    kLinkFailed, // the detector could not be read (mStatus)
    kAborted,    // a port error ended it (the error box shown)
};

struct RBumpCriteria {
    int32_t mAlarmLow = 0;  // tenths: the level the reading must reach
    int32_t mAlarmHigh = 0; // tenths, as the detector had it (shown, not judged)
    bool mFalls = false;    // oxygen: the reading falls to the level
    int mWithin = 60;       // seconds it has to reach it
    bool mPeakRule = true;  // the peak within +-50 % of the concentration (not for oxygen)
    int32_t mPeakMin = 0, mPeakMax = 0; // tenths
};

struct RBumpResult {
    EBumpOutcome mOutcome = EBumpOutcome::kNone;
    std::string mReason;                 // the failed criterion, the refusal, why it stopped
    std::string mUnit;
    RBumpCriteria mCriteria;
    std::optional<int32_t> mBaseline;    // tenths
    std::optional<int32_t> mPeak;        // tenths, under gas
    std::optional<int> mSecondsToAlarm;  // from the gas to the LOW alarm flag
    uint8_t mAlarmFlags = 0;             // every alarm bit seen under gas
    std::optional<int> mRecoverySeconds; // from "Remove gas" back past the low alarm level
    uint8_t mReportCode = 0;             // the report sent (Bump Pass / Bump Fail); 0 none
    uint8_t mReportStatus = 0;           // its status
    uint8_t mStatus = 0;                 // kLinkFailed, kAborted: the status that ended it
};

// The end of the message when the baseline is not clean air: a slip of the
// technician's, not the detector's failure.
inline constexpr const char *kPurgeAdvice = "purge the sensor with clean air and start again";

// The record's data of a finished test (evidence_keys.h).
QJsonObject BumpRecordData(const RBumpResult &result, const RGasCylinder &cylinder);

class IBumpTestView {
public:
    virtual ~IBumpTestView() = default;
    // Where the test stands, in a line for the technician.
    virtual void PhaseChanged(EBumpPhase phase, const std::string &text) = 0;
    // A step the technician acts on: its line ("Apply gas: ...", "Remove gas").
    virtual void StepShown(EGasStep step, const std::string &text) = 0;
    // A reading: its value in tenths and the seconds since the readings began.
    virtual void ReadingShown(const RTamselSensor &reading, int32_t tenths, double seconds) = 0;
    // The test has ended, whatever the outcome.
    virtual void Finished(const RBumpResult &result) = 0;
};

class TBumpTest : private IExposureRules {
public:
    static constexpr int kDefaultWithin = 60;
    static constexpr int kRecoveryLimit = 60;   // seconds for the reading to come back
    static constexpr int kBaselineLimit = 30;   // seconds for three clean-air readings
    // Seconds a confirmed step waits for the technician.
    static constexpr int kStepWaitLimit = TGasExposure::kStepWaitLimit;

    TBumpTest(TSession &session, IScreen &screen, IBumpTestView &view);
    TBumpTest(const TBumpTest &) = delete;
    TBumpTest &operator=(const TBumpTest &) = delete;

    // Seconds the reading has to reach the low alarm level (1 to 3600).
    void SetWithin(int seconds);
    int Within() const { return FWithin; }
    // Steps wait for the technician (Confirm) or for the readings to show the change.
    void SetConfirmSteps(bool on) { FExposure.SetConfirmSteps(on); }

    // Refuses a retired or expired cylinder before anything is sent (no
    // record: the detector was not reached), reads the detector, refuses a
    // cylinder that does not fit it, and opens the connection the readings
    // come over. True when the test runs: drive it with Pass.
    bool Start(const RGasCylinder &cylinder);
    // One pass. False once the test has ended.
    bool Pass();
    // When the next pass has something to do.
    TDateTime NextDue() const;
    // Passes until the test ends: ProcessMessages once per pass, then a
    // sleep until the next due time.
    void Run();
    // The technician has done what the shown step asks.
    void Confirm();
    // The technician stops the test: nothing more is sent but the end of the connection.
    void Cancel()
    {
        if (FRunning)
            FExposure.Stop();
    }
    // Ends a running test at once, as a stop (a dialog that goes away).
    void Shutdown();

    bool Running() const { return FRunning; }
    EBumpPhase Phase() const { return FPhase; }
    // A step is shown and waits for the technician or the readings.
    bool AwaitingStep() const { return FPhase == EBumpPhase::kApplyGas || FPhase == EBumpPhase::kRemoveGas; }
    const RBumpResult &Result() const { return FResult; }
    const RGasCylinder &Cylinder() const { return FCylinder; }
    // The detector's configuration as the test read it.
    const RTamselCFG &Config() const { return FCFG; }
    // The exit table's code: 0 pass, kJobNotDone fail or stopped, kJobRefused
    // refused, the status byte when the detector could not be read.
    uint8_t JobStatus() const;
    // The last line PhaseChanged gave.
    const std::string &PhaseText() const { return FPhaseText; }
    // When the phase (or its step) began; the watch begins when the gas goes on.
    TDateTime PhaseStart() const { return FExposure.StageStart(); }
    // When the wait now running ends (the phase's time limit); kDueNever when none runs.
    TDateTime WaitEnds() const;
    // The verdict once judged, before it is reported to the detector.
    std::optional<bool> Verdict() const { return FPassed; }

private:
    // The exposure's rules: the baseline, the watch for the alarm, the way back.
    void ExposureReading(const RTamselSensor &reading, int32_t tenths, TDateTime now) override;
    void StepBegins(EGasStep step, TDateTime now) override;
    void WatchBegins(EGasStep step, TDateTime now) override;
    void WatchReading(const RTamselSensor &reading, int32_t tenths, TDateTime now) override;
    void WatchOver(TDateTime now) override;
    void StepWaitOver(EGasStep step) override;
    void ExposureEnded(EExposureEnd end, uint8_t status, const std::string &reason) override;

    void SetPhase(EBumpPhase phase, const std::string &text);
    void ShowStep(EGasStep step, TDateTime now);
    void Baseline(int32_t tenths, TDateTime now);
    void StartWatch();
    void Watch(int32_t tenths, uint8_t alarm, TDateTime now);
    void Judge();
    void StartRecovery();
    void Report();
    void End(EBumpOutcome outcome, const std::string &reason);
    void Record();
    double Seconds(TDateTime from, TDateTime to) const { return (to - from) * kSecondsPerDayF; }

    TSession &FSession;
    IScreen &FScreen;
    IBumpTestView &FView;
    IClock &FClock;
    TGasExposure FExposure;

    int FWithin = kDefaultWithin;
    bool FRunning = false;
    EBumpPhase FPhase = EBumpPhase::kIdle;
    std::string FPhaseText;
    RGasCylinder FCylinder;
    RTamselCFG FCFG{};
    RBumpResult FResult;
    std::optional<TDeviceJob> FJob;

    TDateTime FReadingsStart = 0; // the connection's opening
    TStableReading FBaseline{1};  // the clean-air readings before the gas
    bool FBaselineAlarmed = false;
    bool FLevelReached = false;
    bool FLowFlagSeen = false;
    std::optional<bool> FPassed; // judged, not reported yet
    TStableReading FSettled{1};
};

inline TDateTime TBumpTest::WaitEnds() const
{
    return FRunning ? FExposure.WaitEnds() : kDueNever;
}
