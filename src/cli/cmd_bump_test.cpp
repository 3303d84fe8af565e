// bump-test --cylinder ID [--within SECONDS]: the guided bump test against a
// cylinder on record. The steps for the technician go to stderr ("Apply gas:
// ...", "Remove gas"), the test's progress and result to stdout.
#include <iostream>
#include <memory>

#include "app/session.h"
#include "app/status.h"
#include "cli/cli_commands.h"
#include "cli/cli_cylinder.h"
#include "cli/cli_steps.h"
#include "link/wire.h"
#include "model/visible_text.h"
#include "tools/bump_procedure.h"

namespace {

class TCliBumpView : public IBumpTestView {
public:
    TCliBumpView(TCliScreen &screen, const TCliSteps &steps) : FScreen(screen), FSteps(steps) {}

    void PhaseChanged(EBumpPhase phase, const std::string &text) override
    {
        // The steps have their own lines on stderr; the end is summed up by Summary.
        if (phase == EBumpPhase::kApplyGas || phase == EBumpPhase::kRemoveGas || phase == EBumpPhase::kDone)
            return;
        ClearReading();
        std::cout << text << std::endl;
    }
    void StepShown(EGasStep, const std::string &text) override
    {
        ClearReading();
        FSteps.Show(text);
    }
    // On a terminal the last reading stands on one line of stderr, rewritten in place.
    void ReadingShown(const RTamselSensor &reading, int32_t tenths, double seconds) override
    {
        if (!FScreen.FTerminal)
            return;
        std::cerr << "\r\033[K" << static_cast<long>(seconds) << " s: " << TenthsText(tenths) << " " << FUnit
                  << ", alarm flags: " << AlarmFlagNames(reading.mAlarm) << std::flush;
        FReadingShown = true;
    }
    void Finished(const RBumpResult &) override { ClearReading(); }

    std::string FUnit;

private:
    void ClearReading()
    {
        if (FReadingShown)
            std::cerr << "\r\033[K" << std::flush;
        FReadingShown = false;
    }

    TCliScreen &FScreen;
    const TCliSteps &FSteps;
    bool FReadingShown = false;
};

std::string Optional(const std::optional<int32_t> &tenths, const std::string &unit)
{
    return tenths ? TenthsText(*tenths) + " " + unit : std::string("none");
}

void Summary(const TBumpTest &test)
{
    const RBumpResult &r = test.Result();
    const RBumpCriteria &c = r.mCriteria;
    const std::string unit = r.mUnit;
    const RGasCylinder &cyl = test.Cylinder();
    std::cout << test.PhaseText() << "\n"
              << "  cylinder " << cyl.mId << ": " << CylinderText(cyl) << ", expires " << VisibleUtf8(cyl.mExpires) << "\n"
              << "  baseline " << Optional(r.mBaseline, unit) << ", " << (c.mFalls ? "lowest" : "peak") << " "
              << Optional(r.mPeak, unit) << ", LOW alarm "
              << (r.mSecondsToAlarm ? "after " + std::to_string(*r.mSecondsToAlarm) + " s" : std::string("never"))
              << ", alarm flags seen: " << AlarmFlagNames(r.mAlarmFlags) << ", recovery "
              << (r.mRecoverySeconds ? std::to_string(*r.mRecoverySeconds) + " s" : std::string("-")) << "\n"
              << "  criteria: LOW alarm at " << TenthsText(c.mAlarmLow) << " " << unit << " within " << c.mWithin
              << " s";
    if (c.mPeakRule)
        std::cout << ", peak within " << TenthsText(c.mPeakMin) << " to " << TenthsText(c.mPeakMax) << " " << unit;
    std::cout << "\n";
    if (r.mReportCode != 0)
        std::cout << "  the detector was sent " << (r.mReportCode == wire::kCalBumpPass ? "Bump Pass" : "Bump Fail")
                  << (r.mReportStatus == 0 ? "" : " and did not take it: " + StatusMessage(r.mReportStatus)) << "\n";
    std::cout << std::flush;
}

int BumpTest(CliContext &c)
{
    std::vector<std::string> args = c.args;
    std::string idText, withinText;
    if (!TakeOption(args, "--cylinder", idText))
        return UsageError(c, "bump-test needs --cylinder ID (beamport-cli cylinders lists them)");
    const bool haveWithin = TakeOption(args, "--within", withinText);
    if (!args.empty())
        return kExitUsage;
    int within = TBumpTest::kDefaultWithin;
    if (haveWithin && !ParseWholeNumber(withinText, 1, 3600, within))
        return UsageError(c, "--within needs a number of seconds from 1 to 3600, not '" + withinText + "'");
    RGasCylinder cylinder;
    const int found = FindCylinder(c, idText, cylinder);
    if (found != 0)
        return found;

    TCliSteps steps(c);
    if (!steps.Allowed("bump-test"))
        return kExitDeclined;
    c.screen.CatchStopSignals();

    IClock &clock = c.session.Clock();
    TCliBumpView view(c.screen, steps);
    view.FUnit = cylinder.mUnit;
    TBumpTest test(c.session, c.screen, view);
    test.SetWithin(within);
    test.SetConfirmSteps(steps.Interactive());
    if (test.Start(cylinder)) {
        bool stopAsked = false;
        while (test.Pass()) {
            if (c.screen.StopRequested() && !stopAsked) {
                stopAsked = true;
                test.Cancel();
            }
            if (steps.WaitUntil(clock, test.NextDue()) && test.AwaitingStep())
                test.Confirm();
        }
    }
    const RBumpResult &r = test.Result();
    if (r.mOutcome == EBumpOutcome::kPass || r.mOutcome == EBumpOutcome::kFail)
        Summary(test);
    const auto said = [&](const std::string &text) {
        std::cerr << "beamport-cli: bump-test: " << text << std::endl;
        c.screen.FErrorShown = true;
    };
    switch (r.mOutcome) {
    case EBumpOutcome::kPass: break;
    case EBumpOutcome::kFail: said("FAIL: " + r.mReason); break;
    case EBumpOutcome::kStopped: said("stopped: " + r.mReason + "; no result was sent to the detector"); break;
    case EBumpOutcome::kRefused: c.screen.FErrorShown = true; break; // its box said why
    case EBumpOutcome::kLinkFailed:
        if (!r.mReason.empty() && r.mReason != "the detector could not be read")
            said(r.mReason);
        break;
    case EBumpOutcome::kAborted:
    case EBumpOutcome::kNone: break;
    }
    return test.JobStatus();
}

} // namespace

CliEntry BumpTestCommand()
{
    return {"bump-test", "bump-test --cylinder ID [--within SECONDS]", "the guided bump test against a cylinder",
            "The guided bump test: refuses a cylinder that is retired, expired or above the range of its gas's "
            "sensor, reads the detector, refuses a cylinder of another gas or too weak to reach the low alarm level "
            "(67), then reads the gas once a second over one connection: three readings in clean air (one at the "
            "low alarm level stops the test with 67 and nothing reported: purge the sensor with clean air and start "
            "again), then 'Apply gas: ...' on stderr and up to --within seconds for the reading "
            "to reach the low alarm level with the detector's LOW alarm flag (oxygen: to fall to it), the peak within "
            "+-50 % of the cylinder's concentration (not for oxygen); then 'Remove gas' and the recovery time. The "
            "detector is sent its own Bump Pass or Bump Fail. Exit 0 on pass, 68 on fail (the failed criterion "
            "named). On a terminal each step also waits for Enter; without one --yes is needed (else 66), and the "
            "readings alone lead. Ctrl-C stops the test: nothing is sent but the end of the connection.",
            {{"--cylinder ID", "the cylinder of the gas applied (beamport-cli cylinders lists them)"},
             {"--within SECONDS", "how long the reading has to reach the low alarm level (1 to 3600; default 60)"}},
            BumpTest};
}
