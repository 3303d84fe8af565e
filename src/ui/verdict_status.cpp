#include "ui/verdict_status.h"

#include "app/screen.h"
#include "app/status.h"
#include "ui/bump_test_dlg.h"
#include "ui/sensor_cal_dlg.h"

namespace {

constexpr int kWatchInterval = 200; // ms

RStatusVerdict Verdict(EVerdictLook look, const char *prefix, const std::string &word, const std::string &reason = {})
{
    std::string text = std::string(prefix) + "... " + word;
    if (!reason.empty())
        text += ": " + reason;
    return {look, text};
}

} // namespace

RStatusVerdict BumpVerdict(const RBumpResult &r)
{
    switch (r.mOutcome) {
    case EBumpOutcome::kPass: return Verdict(EVerdictLook::kPass, kBumpVerdictPrefix, "PASS");
    case EBumpOutcome::kFail: return Verdict(EVerdictLook::kFail, kBumpVerdictPrefix, "FAIL", r.mReason);
    case EBumpOutcome::kRefused: return Verdict(EVerdictLook::kFail, kBumpVerdictPrefix, "refused", r.mReason);
    case EBumpOutcome::kStopped: return Verdict(EVerdictLook::kNeutral, kBumpVerdictPrefix, "stopped");
    default: return {};
    }
}

RStatusVerdict CalVerdict(ECalOutcome procedure, const RCalEvidence *evidence)
{
    if (evidence) {
        switch (evidence->mOutcome) {
        case ECalEvidenceOutcome::kPass: return Verdict(EVerdictLook::kPass, kCalVerdictPrefix, "PASS");
        case ECalEvidenceOutcome::kFail:
            return Verdict(EVerdictLook::kFail, kCalVerdictPrefix, "FAIL", evidence->mReason);
        case ECalEvidenceOutcome::kRefused:
            return Verdict(EVerdictLook::kFail, kCalVerdictPrefix, "refused", evidence->mReason);
        case ECalEvidenceOutcome::kStopped: return Verdict(EVerdictLook::kNeutral, kCalVerdictPrefix, "stopped");
        case ECalEvidenceOutcome::kProcedure: break; // the procedure's own outcome tells
        default: return {};
        }
    }
    switch (procedure) {
    case ECalOutcome::kOk: return Verdict(EVerdictLook::kPass, kCalVerdictPrefix, "OK");
    case ECalOutcome::kFailed: return Verdict(EVerdictLook::kFail, kCalVerdictPrefix, "FAIL");
    case ECalOutcome::kTimeOut: return Verdict(EVerdictLook::kFail, kCalVerdictPrefix, "FAIL", "time-out");
    case ECalOutcome::kStartFailed:
        return Verdict(EVerdictLook::kFail, kCalVerdictPrefix, "FAIL", "the detector did not start it");
    case ECalOutcome::kUserStop: return Verdict(EVerdictLook::kNeutral, kCalVerdictPrefix, "stopped");
    default: return {};
    }
}

void ShowVerdict(IScreen &screen, const RStatusVerdict &verdict)
{
    switch (verdict.mLook) {
    case EVerdictLook::kNone: return;
    case EVerdictLook::kPass: screen.SetStatus(kOkBackground, kOkText, verdict.mText); return;
    case EVerdictLook::kFail: screen.SetStatus(kFailBackground, kFailText, verdict.mText); return;
    case EVerdictLook::kNeutral: screen.SetStatus(kBusyBackground, kBusyText, verdict.mText); return;
    }
}

TVerdictWatch::TVerdictWatch(TBumpTestDlg &dialog, IScreen &screen) : FBump(&dialog), FScreen(screen)
{
    Start();
}

TVerdictWatch::TVerdictWatch(TSensorCalDlg &dialog, IScreen &screen) : FCal(&dialog), FScreen(screen)
{
    Start();
}

void TVerdictWatch::Start()
{
    FTimer.setInterval(kWatchInterval);
    connect(&FTimer, &QTimer::timeout, this, &TVerdictWatch::Check);
    FTimer.start();
}

void TVerdictWatch::Check()
{
    bool busy = false;
    if (FBump)
        busy = FBump->Test().Running();
    else if (FCal) {
        busy = !FCal->CloseAllowed();
        if (FCal->Evidence().Running())
            FMeasured = true;
    }
    if (busy) {
        FBusy = true;
        FShown = false;
        return;
    }
    if (FShown)
        return;
    RStatusVerdict verdict;
    if (FBump) {
        verdict = BumpVerdict(FBump->Test().Result());
    } else if (FCal) {
        const RCalEvidence &evidence = FCal->Evidence().Evidence();
        // A run seen under way was measured when its evidence ran; one that
        // ended between two looks, when it left a measured outcome.
        const bool measured = FBusy ? FMeasured : evidence.mOutcome != ECalEvidenceOutcome::kNone;
        verdict = CalVerdict(FCal->Calibration().Outcome(), measured ? &evidence : nullptr);
    }
    FBusy = false;
    FMeasured = false;
    if (verdict.mLook == EVerdictLook::kNone)
        return;
    ShowVerdict(FScreen, verdict);
    FShown = true;
}
