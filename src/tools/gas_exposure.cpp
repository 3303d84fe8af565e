#include "tools/gas_exposure.h"

#include <algorithm>
#include <cstdlib>
#include <exception>

#include "app/session.h"
#include "app/status.h"
#include "tools/tool_common.h"

std::string GasStepText(EGasStep step, const RGasCylinder &cylinder)
{
    return step == EGasStep::kApply ? "Apply gas: " + CylinderText(cylinder) : std::string("Remove gas");
}

bool CylinderWithinRange(const RGasCylinder &cylinder, const RSensorType &type)
{
    return cylinder.mConcentration >= RoundToInt(type.mMin * 10.0) &&
           cylinder.mConcentration <= RoundToInt(type.mMax * 10.0);
}

std::string CylinderRangeRefusal(const RGasCylinder &cylinder, const RSensorType &type)
{
    if (CylinderWithinRange(cylinder, type))
        return {};
    return "cylinder " + std::to_string(cylinder.mId) + " (" + CylinderText(cylinder) +
           ") is outside the span gas range of the " + type.mName + " sensor: " +
           TenthsText(RoundToInt(type.mMin * 10.0)) + " to " + TenthsText(RoundToInt(type.mMax * 10.0)) + " " +
           type.mUnit;
}

std::string AlarmFlagNames(uint8_t nAlarm)
{
    std::string names;
    for (const RFlagCaption &flag : kAlarmFlags)
        if (FlagSet(nAlarm, flag))
            names += (names.empty() ? "" : ", ") + std::string(flag.mCaption);
    return names.empty() ? "none" : names;
}

int32_t RGasChange::Threshold(int32_t a, int32_t b) { return std::max<int32_t>(3, std::abs(a - b) / 5); }

bool RGasChange::ShownBy(int32_t tenths) const
{
    if (!mFrom)
        return false;
    return (static_cast<int64_t>(tenths) - *mFrom) * (mDirection < 0 ? -1 : 1) >= mThreshold;
}

int32_t FurthestReading(std::optional<int32_t> peak, int32_t tenths, bool falls)
{
    if (!peak)
        return tenths;
    return falls ? std::min(*peak, tenths) : std::max(*peak, tenths);
}

// ---------------------------------------------------------------------------

TGasExposure::TGasExposure(TSession &session, IScreen &screen, IExposureRules &rules)
    : FScreen(screen), FRules(rules), FClock(session.Clock()), FLink(session)
{
}

bool TGasExposure::Open(bool showTrouble)
{
    FStopAsked = false;
    uint8_t status = 0;
    try {
        status = FLink.Open();
    } catch (const std::exception &e) {
        Abort(e.what());
        return false;
    }
    if (status != 0 && FLink.AdapterFailed()) {
        if (showTrouble)
            FScreen.AdapterTrouble(IsAdapterTrouble(status));
        FRules.ExposureEnded(EExposureEnd::kLinkFailed, status, "the detector could not be reached");
        return false;
    }
    return true;
}

void TGasExposure::Close(bool aborted)
{
    FStage = EStage::kClosed;
    if (!FLink.IsOpen())
        return;
    if (aborted)
        FLink.Drop();
    else
        FLink.Close();
}

void TGasExposure::Abort(const std::string &what)
{
    FLink.Drop();
    ShowError(FScreen, what);
    FRules.ExposureEnded(EExposureEnd::kAborted, kStatusAborted, what);
}

bool TGasExposure::TakeStop()
{
    const bool asked = FStopAsked;
    FStopAsked = false;
    return asked;
}

void TGasExposure::Watch(TDateTime now, int limit)
{
    FStage = EStage::kWatch;
    FStageStart = now;
    FWatchLimit = limit;
}

void TGasExposure::BeginWatch(TDateTime now)
{
    Watch(now, FWatchLimit);
    FRules.WatchBegins(FStep, now);
}

void TGasExposure::ShowStep(EGasStep step, TDateTime now, const RGasChange &change, int changeLimit, int watchLimit)
{
    FStep = step;
    FChange = change;
    FChangeLimit = changeLimit;
    FWatchLimit = watchLimit;
    FStage = EStage::kStep;
    FStageStart = now;
    FRules.StepBegins(step, now);
    if (FStage != EStage::kStep)
        return;
    // Nobody confirms and nothing is waited for: the watch runs from now.
    if (!FConfirmSteps && changeLimit <= 0)
        BeginWatch(now);
}

void TGasExposure::Confirm(TDateTime now)
{
    if (FStage != EStage::kStep)
        return;
    if (FChangeLimit <= 0) {
        BeginWatch(now);
        return;
    }
    FStage = EStage::kChange;
    FStageStart = now;
}

int TGasExposure::Limit() const
{
    switch (FStage) {
    case EStage::kWatch: return FWatchLimit;
    case EStage::kStep: return FConfirmSteps ? kStepWaitLimit : FChangeLimit;
    case EStage::kChange: return FChangeLimit;
    case EStage::kClosed: break;
    }
    return -1;
}

void TGasExposure::Pass()
{
    try {
        if (FStopAsked) {
            FRules.ExposureEnded(EExposureEnd::kStopped, 0, "stopped by the technician");
            return;
        }
        if (FLink.AdapterFailed()) {
            FScreen.AdapterTrouble(IsAdapterTrouble(FLink.Status()));
            FRules.ExposureEnded(EExposureEnd::kLinkFailed, FLink.Status(), "the adapter failed");
            return;
        }
        if (FLink.Step(FClock.Now()))
            OnReading(FClock.Now());
        if (FStage != EStage::kClosed)
            Deadline(FClock.Now());
    } catch (const std::exception &e) {
        Abort(e.what());
    } catch (...) {
        Abort("Unknown error");
    }
}

void TGasExposure::OnReading(TDateTime now)
{
    const RTamselSensor &reading = FLink.Reading();
    const int32_t tenths = ReadingTenths(reading);
    FRules.ExposureReading(reading, tenths, now);
    switch (FStage) {
    case EStage::kStep:
    case EStage::kChange:
        // The readings show the step was done before (or without) the word.
        if (!FChange.ShownBy(tenths))
            return;
        BeginWatch(now);
        if (FStage != EStage::kWatch)
            return;
        [[fallthrough]];
    case EStage::kWatch: FRules.WatchReading(reading, tenths, now); return;
    case EStage::kClosed: return;
    }
}

void TGasExposure::Deadline(TDateTime now)
{
    if (!SecondsPast((now - FStageStart) * kSecondsPerDayF, Limit()))
        return;
    switch (FStage) {
    case EStage::kWatch: FRules.WatchOver(now); return;
    case EStage::kStep:
        if (FConfirmSteps)
            FRules.StepWaitOver(FStep);
        else
            BeginWatch(now); // the readings never showed the change: watched as they are
        return;
    case EStage::kChange: BeginWatch(now); return;
    case EStage::kClosed: return;
    }
}

TDateTime TGasExposure::WaitEnds() const
{
    const int limit = Limit();
    return limit < 0 ? kDueNever : AddSeconds(FStageStart, limit);
}

TDateTime TGasExposure::NextDue() const
{
    if (FStopAsked || FLink.AdapterFailed())
        return kDueNow;
    const int limit = Limit();
    const TDateTime due = FLink.NextDue();
    return limit < 0 ? due : std::min(due, AddSeconds(FStageStart, limit + kToolTickSeconds));
}
