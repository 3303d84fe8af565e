#pragma once
// One exposure of the sensor to a gas cylinder on a held connection
// (TReadingLink), as the bump test and the calibration's measurements take it:
//
//   watch     readings judged by the owner's rule (a clean-air baseline, a
//             stable reading, the peak and its alarms, the way back to clean
//             air) for at most a given time
//   step      "Apply gas: <cylinder>" or "Remove gas" is shown. With confirmed
//             steps the technician's Confirm ends it (kStepWaitLimit seconds
//             at most, then the owner decides); without, it lasts the change
//             wait, or none. Either way a reading that shows the change ends
//             it at once
//   change    after a Confirm, the readings have `changeLimit` seconds to show
//             the change before the watch begins anyway (0: it begins at once)
//
// A reading that shows the change opens the watch and is its first reading.
// Whatever the stage, a stop asked for (Cancel, a stop signal), an adapter
// that failed and a port error end the exposure through its owner, which
// closes it. The clock is the session's.
#include <cstdint>
#include <optional>
#include <string>

#include "app/clock.h"
#include "app/cylinder.h"
#include "app/screen.h"
#include "model/device_records.h"
#include "model/settings_types.h"
#include "tools/gas_watch.h"

class TSession;

// What a technician is asked to do.
enum class EGasStep : uint8_t { kApply, kRemove };
// "Apply gas: " + the cylinder's text, or "Remove gas".
std::string GasStepText(EGasStep step, const RGasCylinder &cylinder);

// Whether a cylinder's concentration lies within the range of a sensor type
// (its minimum to maximum in the settings), and the refusal of one that does
// not; the bump test and the calibration against a cylinder refuse alike.
bool CylinderWithinRange(const RGasCylinder &cylinder, const RSensorType &type);
std::string CylinderRangeRefusal(const RGasCylinder &cylinder, const RSensorType &type);

// "LOW, HIGH": the names of the alarm bits set, in bit order; "none" for 0.
std::string AlarmFlagNames(uint8_t nAlarm);

// How an exposure ends before its owner's judgement.
enum class EExposureEnd : uint8_t {
    kStopped,    // the technician stopped it
    kLinkFailed, // the adapter failed (the status tells)
    kAborted,    // a port error (its box shown)
};

// The change a step waits for: the reading has moved from `mFrom` by at least
// `mThreshold` tenths in `mDirection` (+1 up, -1 down). Without `mFrom` no
// reading shows it.
struct RGasChange {
    std::optional<int32_t> mFrom;
    int mDirection = 1;
    int32_t mThreshold = 3;

    // A fifth of the way from `a` to `b`, at least 0.3 of the unit.
    static int32_t Threshold(int32_t a, int32_t b);
    bool ShownBy(int32_t tenths) const;
};

// The reading furthest toward the gas: the highest, or the lowest for a sensor
// whose reading falls under it.
int32_t FurthestReading(std::optional<int32_t> peak, int32_t tenths, bool falls);

// What the owner of an exposure decides.
class IExposureRules {
public:
    virtual ~IExposureRules() = default;
    // Every reading, as it arrives.
    virtual void ExposureReading(const RTamselSensor &reading, int32_t tenths, TDateTime now) = 0;
    // A step begins: the owner shows it (the wait is already running).
    virtual void StepBegins(EGasStep step, TDateTime now) = 0;
    // The watch after a step begins: at a Confirm, a reading showing the
    // change (passed to WatchReading next), or the change wait running out.
    virtual void WatchBegins(EGasStep step, TDateTime now) = 0;
    // A reading while watching.
    virtual void WatchReading(const RTamselSensor &reading, int32_t tenths, TDateTime now) = 0;
    // The watch's time ran out.
    virtual void WatchOver(TDateTime now) = 0;
    // A confirmed step waited kStepWaitLimit seconds for the technician.
    virtual void StepWaitOver(EGasStep step) = 0;
    // The exposure ended on its own; the owner ends its run (and closes it).
    virtual void ExposureEnded(EExposureEnd end, uint8_t status, const std::string &reason) = 0;
};

class TGasExposure {
public:
    static constexpr int kStepWaitLimit = 600; // seconds a confirmed step waits for the technician

    enum class EStage : uint8_t { kClosed, kWatch, kStep, kChange };

    TGasExposure(TSession &session, IScreen &screen, IExposureRules &rules);
    TGasExposure(const TGasExposure &) = delete;
    TGasExposure &operator=(const TGasExposure &) = delete;

    void SetConfirmSteps(bool on) { FConfirmSteps = on; }

    // Opens the connection the readings come over (a stop asked for before
    // is forgotten). False when it cannot be
    // used, after ExposureEnded (a port error, or the adapter failed; with
    // `showTrouble` the screen is told of the adapter first).
    bool Open(bool showTrouble);
    // Ends the connection (drops it after a port error); the stage closes.
    // A stop asked for stays until taken or the next Open.
    void Close(bool aborted);
    bool IsOpen() const { return FLink.IsOpen(); }

    // The owner's rule judges readings from `now` for at most `limit` seconds.
    void Watch(TDateTime now, int limit);
    // A step is shown at `now`; `watchLimit` is the watch it leads to. Without
    // confirmed steps and without a change wait the watch begins at once.
    void ShowStep(EGasStep step, TDateTime now, const RGasChange &change, int changeLimit, int watchLimit);
    // The technician has done what the shown step asks.
    void Confirm(TDateTime now);

    // A stop is asked for: the next pass ends the exposure.
    void Stop() { FStopAsked = true; }
    bool StopAsked() const { return FStopAsked; }
    // Takes a stop asked for while no exposure runs (it is the owner's to act on).
    bool TakeStop();
    // A port error: the connection dropped, its box shown, ExposureEnded.
    void Abort(const std::string &what);

    // One pass: the stop, the adapter, a reading, the stage's time limit.
    void Pass();
    // When the next pass has something to do.
    TDateTime NextDue() const;
    // When the stage's wait ends; kDueNever when closed.
    TDateTime WaitEnds() const;

    EStage Stage() const { return FStage; }
    TDateTime StageStart() const { return FStageStart; }
    // Readings since the connection opened.
    int Readings() const { return FLink.Readings(); }
    uint8_t Status() const { return FLink.Status(); }
    // Sends a report command on the connection (TReadingLink::Send).
    uint8_t Send(uint8_t nCode) { return FLink.Send(nCode); }

private:
    int Limit() const;
    void BeginWatch(TDateTime now);
    void OnReading(TDateTime now);
    void Deadline(TDateTime now);

    IScreen &FScreen;
    IExposureRules &FRules;
    IClock &FClock;
    TReadingLink FLink;

    bool FConfirmSteps = false;
    bool FStopAsked = false;
    EStage FStage = EStage::kClosed;
    TDateTime FStageStart = 0;
    EGasStep FStep = EGasStep::kApply;
    RGasChange FChange;
    int FChangeLimit = 0;
    int FWatchLimit = 0;
};

// Passes a controller until it ends: ProcessMessages once per pass, then a
// sleep until the next due time.
template <class TController> void RunPasses(TController &controller, IScreen &screen, IClock &clock)
{
    while (controller.Pass()) {
        screen.ProcessMessages();
        clock.SleepUntil(controller.NextDue());
    }
}
