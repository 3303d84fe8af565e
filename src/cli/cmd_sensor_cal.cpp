// sensor-cal [--span VALUE]: the Sensor Calibration flow. Reads the
// detector's configuration, opens the calibration for its sensor type, then
// runs the procedure and prints each status line as it changes.
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>

#include "app/detector_jobs.h"
#include "app/session.h"
#include "app/status.h"
#include "cli/cli_commands.h"
#include "tools/cal_evidence.h"
#include "tools/sensor_cal.h"
#include "cli/cli_cylinder.h"
#include "cli/cli_steps.h"
#include "cli/console.h"
#include "app/clock.h"
#include "model/settings_types.h"
#include "model/visible_text.h"

namespace {

// One decimal, "." as decimal point: 25 -> "25", 20.9 -> "20.9".
std::string Decimal(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    std::string s = text;
    if (s.size() > 2 && s.compare(s.size() - 2, 2, ".0") == 0)
        s.resize(s.size() - 2);
    return s == "-0" ? "0" : s;
}

class TCliCalView : public ISensorCalView {
public:
    explicit TCliCalView(bool progress) : FProgressOn(progress) {}

    void CaptionChanged(const std::string &text) override { Line(text); }
    void SpanRangeChanged(double, double) override {}
    void SpanValueChanged(double value) override
    {
        // Once the span gas is set from the command line, a change is the
        // preparation's own (for an oxygen sensor, the oxygen rule): say
        // what is used instead.
        if (FWatchSpan && std::fabs(value - FSpan) > 1e-9)
            Line("Span gas " + Decimal(FSpan) + " " + FUnit + " asked, " + Decimal(value) + " " + FUnit + " used" +
                 (FOxygen ? ": an oxygen span gas above 19 and below 23.5 % is too close to fresh air to calibrate with"
                          : ""));
        FSpan = value;
    }
    void UnitChanged(const std::string &unit) override { FUnit = unit; }
    void RunningChanged(bool) override {}
    void CalProgressChanged(int, int) override {}
    void StatusLineChanged(int line, const std::string &text, RColor) override
    {
        if (line < 0 || line > 2 || FLines[line] == text)
            return;
        FLines[line] = text;
        if (!text.empty())
            Line(text);
    }

    void WatchSpan(uint8_t sensorType)
    {
        FWatchSpan = true;
        FOxygen = sensorType == kOxygenSensorType;
    }

    // "Calibrating... 12 s of 180 s, last poll: ..." on stderr, rewritten in
    // place; only on a terminal.
    void Progress(const TSensorCalibration &cal, TDateTime now)
    {
        if (!FProgressOn || !cal.Running())
            return;
        const long elapsed = std::lround((now - cal.StartTime()) * kSecondsPerDayF);
        const unsigned calTime = cal.SensorType() ? cal.SensorType()->mCalTime : 0;
        std::string poll = "none yet";
        if (cal.PollCount() > 0) {
            if (cal.LastPollStatus() != 0)
                poll = "no reading (" + WithLineBreaks(StatusMessage(cal.LastPollStatus())) + ")";
            else
                poll = (cal.LastPollHistory() & 0x80) ? "calibration in progress" : "calibration ended";
            for (char &ch : poll)
                if (ch == '\n')
                    ch = ' ';
        }
        std::cerr << "\r\033[K" << "Calibrating... " << elapsed << " s of " << calTime << " s, last poll: " << poll
                  << std::flush;
        FProgressShown = true;
    }
    void EndProgress()
    {
        if (FProgressShown)
            std::cerr << "\r\033[K" << std::flush;
        FProgressShown = false;
    }

private:
    void Line(const std::string &text)
    {
        EndProgress();
        std::cout << text << std::endl;
    }

    bool FProgressOn;
    bool FProgressShown = false;
    bool FWatchSpan = false;
    bool FOxygen = false;
    double FSpan = 0;
    std::string FUnit;
    std::string FLines[3];
};

int Ended(const std::string &why)
{
    std::cerr << "beamport-cli: sensor-cal: " << why << std::endl;
    return kExitNotDone;
}

// The exit status of a procedure that was started or refused.
int ExitCode(const TSensorCalibration &cal)
{
    const uint8_t status = cal.OutcomeStatus();
    switch (cal.Outcome()) {
    case ECalOutcome::kOk: return 0;
    case ECalOutcome::kFailed: return Ended("the calibration failed: the detector reported a failed calibration");
    case ECalOutcome::kTimeOut:
        return Ended("the calibration timed out: the detector reported no end within the sensor type's " +
                     std::to_string(cal.SensorType() ? cal.SensorType()->mCalTime : 0) +
                     " s; the abort command was sent");
    case ECalOutcome::kUserStop: return Ended("the calibration was stopped; the abort command was sent");
    case ECalOutcome::kStartFailed:
        if (status == kStatusRefusedByDevice)
            return Ended("the calibration failed: the detector refused the zero calibration");
        return status;
    case ECalOutcome::kNotPrepared:
        // 0: the detector's sensor type changed since it was read ("Different sensor type").
        return status != 0 ? status : kExitRefused;
    case ECalOutcome::kAborted: return status != 0 ? status : kStatusAborted;
    case ECalOutcome::kNone: break;
    }
    return Ended("the calibration did not run");
}

// Tenths as the entry keeps them (one decimal).
double Tenths(double value) { return std::round(value * 10.0); }

// The measurement around the procedure: its steps on stderr, each
// measurement on stdout as it is taken.
class TCliEvidenceView : public ICalEvidenceView {
public:
    TCliEvidenceView(TCliCalView &calView, const TCliSteps &steps) : FCalView(calView), FSteps(steps) {}

    void EvidencePhaseChanged(ECalEvidencePhase phase, const std::string &text) override
    {
        if (phase == ECalEvidencePhase::kFoundZero || phase == ECalEvidencePhase::kLeftSpan)
            Line(text);
    }
    void EvidenceStepShown(EGasStep, const std::string &text) override
    {
        FCalView.EndProgress();
        FSteps.Show(text);
    }
    void EvidenceReading(const RTamselSensor &, int32_t) override {}
    void MeasuresChanged(const RCalEvidence &e) override
    {
        const auto say = [&](const std::optional<RCalReading> &m, bool &said, const char *what) {
            if (!m || said)
                return;
            said = true;
            Line(std::string(what) + TenthsText(m->mValue) + " " + e.mUnit + (m->mStable ? "" : " (did not settle)"));
        };
        say(e.mFound.mZero, FSaid[0], "As found in clean air: ");
        say(e.mFound.mSpan, FSaid[1], "As found under gas: ");
        say(e.mLeft.mSpan, FSaid[2], "As left under gas: ");
        say(e.mLeft.mZero, FSaid[3], "As left in clean air: ");
    }

private:
    void Line(const std::string &text)
    {
        FCalView.EndProgress();
        std::cout << text << std::endl;
    }

    TCliCalView &FCalView;
    const TCliSteps &FSteps;
    bool FSaid[4] = {};
};

std::string Measure(const std::optional<RCalReading> &m, int32_t expected, const RGasCylinder &cyl,
                    const std::string &unit)
{
    if (!m)
        return "-";
    return TenthsText(m->mValue) + " " + unit + " (" +
           PermilleText(DeviationPermille(m->mValue, expected, cyl.mConcentration)) + ")";
}

int AgainstCylinder(CliContext &c, const TCliSteps &steps, TSensorCalibration &cal, TCliCalView &view,
                    const RGasCylinder &cylinder)
{
    IClock &clock = c.session.Clock();
    TCliEvidenceView evidenceView(view, steps);
    TCalEvidence evidence(c.session, c.screen, cal, evidenceView);
    evidence.SetConfirmSteps(steps.Interactive());
    evidence.SetTolerance(c.session.RecordsCFG.mCalTolerance);
    if (evidence.Start(cylinder)) {
        bool stopAsked = false;
        while (evidence.Pass()) {
            if (c.screen.StopRequested() && !stopAsked) {
                stopAsked = true;
                evidence.Cancel();
            }
            if (evidence.Phase() == ECalEvidencePhase::kProcedure)
                view.Progress(cal, clock.Now());
            if (steps.WaitUntil(clock, evidence.NextDue()) && evidence.AwaitingStep())
                evidence.Confirm();
        }
    }
    view.EndProgress();
    const RCalEvidence &e = evidence.Evidence();
    const std::string unit = e.mUnit;
    if (e.mFound.mZero || e.mLeft.mZero)
        std::cout << "Cylinder " << cylinder.mId << ": " << CylinderText(cylinder) << ", expires " << VisibleUtf8(cylinder.mExpires)
                  << "\n"
                  << "  as found: clean air " << Measure(e.mFound.mZero, e.mClean, cylinder, unit) << ", gas "
                  << Measure(e.mFound.mSpan, cylinder.mConcentration, cylinder, unit) << "\n"
                  << "  as left:  gas " << Measure(e.mLeft.mSpan, cylinder.mConcentration, cylinder, unit)
                  << ", clean air " << Measure(e.mLeft.mZero, e.mClean, cylinder, unit) << "\n"
                  << "  tolerance of the as-left span: " << PermilleText(e.mTolerance).substr(1) << std::endl;
    switch (e.mOutcome) {
    case ECalEvidenceOutcome::kPass:
        std::cout << "Calibration ... as left within tolerance: PASS" << std::endl;
        return 0;
    case ECalEvidenceOutcome::kFail: return Ended("FAIL: " + e.mReason);
    case ECalEvidenceOutcome::kProcedure: return ExitCode(cal);
    case ECalEvidenceOutcome::kStopped: return Ended("stopped: " + e.mReason);
    case ECalEvidenceOutcome::kRefused: c.screen.FErrorShown = true; return kExitRefused;
    case ECalEvidenceOutcome::kLinkFailed:
    case ECalEvidenceOutcome::kAborted:
        if (!e.mReason.empty())
            Ended(e.mReason);
        return evidence.JobStatus();
    case ECalEvidenceOutcome::kNone: break;
    }
    return Ended("the calibration did not run");
}

int SensorCal(CliContext &c)
{
    std::string spanText, cylinderText;
    const bool haveSpan = TakeOption(c.args, "--span", spanText);
    const bool haveCylinder = TakeOption(c.args, "--cylinder", cylinderText);
    if (!c.args.empty())
        return kExitUsage;
    if (haveSpan && haveCylinder)
        return UsageError(c, "sensor-cal takes --span or --cylinder, not both: with a cylinder the span gas is its "
                             "concentration");
    double span = 0;
    if (haveSpan) {
        bool ok = false;
        try {
            size_t used = 0;
            span = std::stod(spanText, &used);
            ok = used == spanText.size() && std::isfinite(span);
        } catch (...) {
        }
        if (!ok)
            return UsageError(c, "--span needs a number (the span gas concentration), not '" + spanText + "'");
        // 0 and 0.1 are within every sensor's range; a negative value is refused by the range after the read.
        if (Tenths(span) >= 0 && Tenths(span) <= kSmallestSpanTenths)
            return UsageError(c, "--span " + spanText + " cannot calibrate: a span gas of 0.1 or less would leave the "
                                 "sensor reading nothing under gas; give the concentration printed on the span gas "
                                 "cylinder. Nothing was sent.");
    }
    RGasCylinder cylinder;
    if (haveCylinder) {
        const int found = FindCylinder(c, cylinderText, cylinder);
        if (found != 0)
            return found;
    }
    TCliSteps steps(c);
    if (haveCylinder && !steps.Allowed("sensor-cal --cylinder"))
        return kExitDeclined;

    c.screen.CatchStopSignals();
    // As the window's "Sensor Calibration" button: the detector's record first.
    RTamselCFG cfg = DefaultCFG();
    const ROpResult read = TDetectorJobs(c.session, c.screen).ReadForSensorCalibration(cfg);
    if (!read.Ok())
        return static_cast<int>(read.mStatus);

    IClock &clock = c.session.Clock();
    TCliCalView view(StderrIsTerminal());
    TSensorCalibration cal(c.session, c.screen, view);
    if (!cal.Open(cfg))
        return kExitRefused; // "Sensor type is wrong": no calibration for this sensor
    if (haveSpan) {
        // A span gas the sensor type does not take is refused, not moved into
        // its range: calibrating against a concentration other than the gas
        // applied would leave the detector reading wrong.
        const RSensorType &type = *cal.SensorType();
        if (Tenths(span) < Tenths(type.mMin) || Tenths(span) > Tenths(type.mMax))
            return UsageError(c, "--span " + spanText + " is outside the range of the " + type.mName +
                                     " sensor: from " + Decimal(type.mMin) + " to " + Decimal(type.mMax) + " " +
                                     type.mUnit);
        cal.SetSpanEntry(span);
    }
    if (c.screen.StopRequested())
        return Ended("stopped before the calibration started; nothing was sent");
    // Against a cylinder the span gas is the cylinder's, set by the
    // measurement (which refuses one the calibration cannot take).
    if (haveCylinder)
        return AgainstCylinder(c, steps, cal, view, cylinder);
    view.WatchSpan(cal.SensorTypeCode());

    if (cal.Start()) {
        bool stopAsked = false;
        while (cal.Pass()) {
            if (c.screen.StopRequested() && !stopAsked) {
                stopAsked = true;
                cal.Cancel();
            }
            view.Progress(cal, clock.Now());
            clock.SleepUntil(cal.NextDue());
        }
    }
    view.EndProgress();
    return ExitCode(cal);
}

} // namespace

CliEntry SensorCalCommand()
{
    return {"sensor-cal", "sensor-cal [--span VALUE]\nsensor-cal --cylinder ID", "the Sensor Calibration flow",
            "The Sensor Calibration flow: reads the detector's configuration, opens the calibration for its sensor "
            "type (a sensor without one is refused: 67), then runs zero and span and prints each status line as it "
            "changes. A failed, timed-out or stopped calibration exits 68 and says which. On a terminal, stderr "
            "shows the seconds elapsed and the last poll. Ctrl-C or SIGTERM aborts the calibration on the detector. "
            "With --cylinder the detector's readings are measured around the procedure: as found (clean air, then "
            "the cylinder's gas) and as left (the gas, then clean air), each a stable reading; every step that asks "
            "for gas to be applied or removed is a line on stderr beginning 'Apply gas:' or 'Remove gas'. It passes "
            "(0) when the as-left span is within [RECORDS] CalTolerance (10 %) of the cylinder, else exits 68. On a "
            "terminal each step also waits for Enter; without one --yes is needed (else 66).",
            {{"--span VALUE", "the span gas concentration in the sensor's unit; 0.1 or less is refused (64) before "
                              "anything is sent, one outside the sensor type's range (64) before anything is sent "
                              "after the read. Without it, the value last used for the sensor type, else the one "
                              "the detector keeps"},
             {"--cylinder ID", "calibrate against this cylinder (beamport-cli cylinders lists them): its "
                               "concentration is the span gas; a retired or expired one, one of another gas or below "
                               "the low alarm level is refused (67)"}},
            SensorCal};
}
