#pragma once
// A calibration against a gas cylinder: the detector's own zero-then-span
// procedure (TSensorCalibration, its bytes, texts and steps unchanged) with
// the detector's readings measured around it, so that the record proves
// what the calibration did.
//
//   as-found  the stable reading in clean air; "Apply gas: <cylinder>"; the
//             stable reading under the gas; "Remove gas"; clean air again.
//             A reading under gas that moved less than half the way from
//             clean air to the cylinder is no gas at the sensor: refused
//             before the procedure starts, the detector untouched
//   procedure the span gas is the cylinder's concentration; at its span step
//             "Apply gas: <cylinder>" is shown beside its own texts
//   as-left   after the procedure ended with neither progress (bit 7) nor
//             failure (bit 3): the stable reading under the gas; "Remove
//             gas"; the stable reading in clean air
//
// Stable: three successive readings within 2 % of the concentration (0.2 of
// the unit in clean air), at most 120 s. Under gas (and back in clean air
// after it) the readings must first show the change: a measurement does not
// settle on the air the gas has not reached yet. A technician's Confirm (a
// window, a terminal) says the step is done; without one, and when the
// readings never show the change, the measurement begins after 60 s.
//
// Passes when the as-left span is within the tolerance (per mille of the
// concentration, [RECORDS] CalTolerance) of the cylinder. Each measurement
// is an exposure on one held connection (TGasExposure); the procedure opens
// its own.
// The run is one record (job "sensor-cal"): the procedure's, with the
// cylinder and the measurements added.
#include <cstdint>
#include <optional>
#include <string>

#include <QJsonObject>

#include "app/clock.h"
#include "app/cylinder.h"
#include "app/device_job.h"
#include "app/screen.h"
#include "tools/gas_exposure.h"
#include "tools/gas_watch.h"
#include "tools/sensor_cal.h"

class TSession;

enum class ECalEvidencePhase : uint8_t {
    kIdle,
    kFoundZero,  // as-found in clean air
    kFoundSpan,  // "Apply gas", as-found under gas
    kClearing,   // "Remove gas", clean air before the procedure's zero
    kProcedure,  // the detector's procedure runs
    kLeftSpan,   // as-left under gas
    kLeftZero,   // "Remove gas", as-left in clean air
    kDone,
};

// One stable reading: its value (tenths) and whether it settled in time.
struct RCalReading {
    int32_t mValue = 0;
    bool mStable = false;
};
struct RCalMeasures {
    std::optional<RCalReading> mZero, mSpan;
};

enum class ECalEvidenceOutcome : uint8_t {
    kNone,
    kPass,       // the procedure ended clear and the as-left span is within tolerance
    kFail,       // ... it is not (mReason)
    kProcedure,  // the procedure did not end clear: its own outcome tells (TSensorCalibration)
    kRefused,    // the cylinder does not fit, or no gas reached the sensor (mReason); the procedure never started
    kStopped,    // the technician stopped the measurement
    kLinkFailed, // the detector could not be read for a measurement (mStatus)
    kAborted,    // a port error
};

struct RCalEvidence {
    ECalEvidenceOutcome mOutcome = ECalEvidenceOutcome::kNone;
    std::string mReason;
    std::string mUnit;
    int32_t mClean = 0;     // what clean air reads: 0, for oxygen 20.9
    int mTolerance = 100;   // per mille
    RCalMeasures mFound, mLeft;
    uint8_t mStatus = 0;
};

// Per mille of the concentration by which a reading stands off what it should
// read (`expected`), rounded.
int DeviationPermille(int32_t reading, int32_t expected, int32_t concentration);
// "+2.4 %" for 24 per mille.
std::string PermilleText(int permille);
// The data the run adds to the procedure's record (evidence_keys.h).
QJsonObject CalEvidenceData(const RCalEvidence &evidence, const RGasCylinder &cylinder);

// Why a calibration stops before its procedure when the as-found reading
// under gas shows no response (TCalEvidence::NoResponse).
inline constexpr const char *kNoGasText = "no gas at the sensor: check the regulator, the tubing and the cylinder";

class ICalEvidenceView {
public:
    virtual ~ICalEvidenceView() = default;
    virtual void EvidencePhaseChanged(ECalEvidencePhase phase, const std::string &text) = 0;
    // A step the technician acts on ("Apply gas: ...", "Remove gas").
    virtual void EvidenceStepShown(EGasStep step, const std::string &text) = 0;
    virtual void EvidenceReading(const RTamselSensor &reading, int32_t tenths) = 0;
    // A measurement was taken (as-found or as-left, zero or span).
    virtual void MeasuresChanged(const RCalEvidence &evidence) = 0;
};

class TCalEvidence : private IExposureRules {
public:
    static constexpr int kStableLimit = 120;   // seconds a measurement may take to settle
    static constexpr int kNoChangeLimit = 60;  // seconds before a measurement begins without the change
    // Seconds a confirmed step waits for the technician.
    static constexpr int kStepWaitLimit = TGasExposure::kStepWaitLimit;

    // `cal` has been opened (TSensorCalibration::Open) for the detector's record.
    TCalEvidence(TSession &session, IScreen &screen, TSensorCalibration &cal, ICalEvidenceView &view);
    TCalEvidence(const TCalEvidence &) = delete;
    TCalEvidence &operator=(const TCalEvidence &) = delete;

    void SetConfirmSteps(bool on) { FExposure.SetConfirmSteps(on); }
    // Tolerance of the as-left span, per mille of the concentration.
    void SetTolerance(int permille) { FTolerance = permille; }

    // Refuses a cylinder that is retired, expired or does not fit the
    // detector's record the calibration was opened with (nothing sent, no
    // record); else begins the as-found measurement. True: drive with Pass.
    bool Start(const RGasCylinder &cylinder);
    bool Pass();
    TDateTime NextDue() const;
    void Run();
    void Confirm();
    void Cancel();
    void Shutdown();

    bool Running() const { return FRunning; }
    ECalEvidencePhase Phase() const { return FPhase; }
    bool AwaitingStep() const { return FRunning && FExposure.Stage() == TGasExposure::EStage::kStep; }
    // The measurement may settle now (the readings showed the change, or its wait ran out).
    bool Settling() const { return FRunning && FExposure.Stage() == TGasExposure::EStage::kWatch; }
    // When the wait now running ends: the technician's step, the readings
    // showing the change, or the settling; kDueNever when none (the procedure).
    TDateTime WaitEnds() const;
    const RCalEvidence &Evidence() const { return FEvidence; }
    const RGasCylinder &Cylinder() const { return FCylinder; }
    // The exit table's code: 0 pass, kJobNotDone fail or stopped, kJobRefused
    // refused, the procedure's own otherwise.
    uint8_t JobStatus() const;
    // The record's outcome word: pass, fail, stopped; empty for the
    // procedure's own or the one its status gives.
    std::string OutcomeWord() const;

private:
    // The exposure's rules: each measurement settles on a stable reading.
    void ExposureReading(const RTamselSensor &reading, int32_t tenths, TDateTime now) override;
    void StepBegins(EGasStep step, TDateTime now) override;
    void WatchBegins(EGasStep step, TDateTime now) override;
    void WatchReading(const RTamselSensor &reading, int32_t tenths, TDateTime now) override;
    void WatchOver(TDateTime now) override;
    void StepWaitOver(EGasStep step) override;
    void ExposureEnded(EExposureEnd end, uint8_t status, const std::string &reason) override;

    // A measurement in `phase` that settles within `band`: at once, or after its gas step.
    void Measure(ECalEvidencePhase phase, const std::string &text, int32_t band);
    void MeasureAfter(EGasStep step, ECalEvidencePhase phase, int32_t from, int32_t band);
    void Measured();
    void StartProcedure();
    void AfterProcedure();
    void End(ECalEvidenceOutcome outcome, const std::string &reason);
    void Record();
    // The as-found reading under gas shows no response to the cylinder.
    bool NoResponse(int32_t underGas) const;

    TSession &FSession;
    IScreen &FScreen;
    TSensorCalibration &FCal;
    ICalEvidenceView &FView;
    IClock &FClock;
    TGasExposure FExposure;

    int FTolerance = 100;
    bool FRunning = false;
    ECalEvidencePhase FPhase = ECalEvidencePhase::kIdle;
    RGasCylinder FCylinder;
    RCalEvidence FEvidence;
    std::optional<TDeviceJob> FJob; // the run's record until the procedure takes it over
    TStableReading FStable{1};
};

inline TDateTime TCalEvidence::WaitEnds() const
{
    if (!FRunning || FPhase == ECalEvidencePhase::kProcedure || FPhase == ECalEvidencePhase::kDone)
        return kDueNever;
    return FExposure.WaitEnds();
}
