#include "tools/bump_procedure.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>

#include <QJsonArray>

#include "app/detector_jobs.h"
#include "app/evidence_keys.h"
#include "app/journal.h"
#include "app/session.h"
#include "app/status.h"
#include "link/wire.h"
#include "model/exit_table.h"
#include "tools/tool_common.h"

namespace {

constexpr const char *kReadPrefix = "Read Norvik Information";
constexpr const char *kCaption = "Bump Test";
constexpr uint8_t kAlarmLowFlag = 0x04; // mAlarm bit 2: "LOW"

QString Q(const std::string &text) { return QString::fromStdString(text); }

} // namespace

QJsonObject BumpRecordData(const RBumpResult &r, const RGasCylinder &cylinder)
{
    namespace k = evidence_data;
    const auto optional = [](const auto &value) { return value ? QJsonValue(static_cast<qint64>(*value)) : QJsonValue(); };
    QJsonObject criteria{{QLatin1String(k::kAlarmLow), r.mCriteria.mAlarmLow},
                         {QLatin1String(k::kAlarmHigh), r.mCriteria.mAlarmHigh},
                         {QLatin1String(k::kFalls), r.mCriteria.mFalls},
                         {QLatin1String(k::kWithin), r.mCriteria.mWithin},
                         {QLatin1String(k::kBaselineReadings), TStableReading::kNeeded}};
    if (r.mCriteria.mPeakRule) {
        criteria.insert(QLatin1String(k::kPeakMin), r.mCriteria.mPeakMin);
        criteria.insert(QLatin1String(k::kPeakMax), r.mCriteria.mPeakMax);
    }
    QJsonArray flags;
    for (const RFlagCaption &flag : kAlarmFlags)
        if (FlagSet(r.mAlarmFlags, flag))
            flags.append(QLatin1String(flag.mCaption));
    QJsonObject data{{QLatin1String(k::kCylinder), CylinderRecordJson(cylinder)},
                     {QLatin1String(k::kUnit), Q(r.mUnit)},
                     {QLatin1String(k::kCriteria), criteria},
                     {QLatin1String(k::kBaseline), optional(r.mBaseline)},
                     {QLatin1String(k::kPeak), optional(r.mPeak)},
                     {QLatin1String(k::kSecondsToAlarm), optional(r.mSecondsToAlarm)},
                     {QLatin1String(k::kAlarmFlags), flags},
                     {QLatin1String(k::kRecovery), optional(r.mRecoverySeconds)}};
    if (r.mOutcome == EBumpOutcome::kPass || r.mOutcome == EBumpOutcome::kFail)
        data.insert(QLatin1String(k::kResult), QLatin1String(r.mOutcome == EBumpOutcome::kPass ? "pass" : "fail"));
    if (!r.mReason.empty())
        data.insert(QLatin1String(k::kFailed), Q(r.mReason));
    if (r.mReportCode != 0) {
        data.insert(QLatin1String(k::kReport),
                    QLatin1String(r.mReportCode == wire::kCalBumpPass ? "Bump Pass" : "Bump Fail"));
        data.insert(QLatin1String(k::kReportStatus), r.mReportStatus);
    }
    return data;
}

// ---------------------------------------------------------------------------

TBumpTest::TBumpTest(TSession &session, IScreen &screen, IBumpTestView &view)
    : FSession(session), FScreen(screen), FView(view), FClock(session.Clock()), FExposure(session, screen, *this)
{
}

void TBumpTest::SetWithin(int seconds) { FWithin = std::clamp(seconds, 1, 3600); }

uint8_t TBumpTest::JobStatus() const
{
    switch (FResult.mOutcome) {
    case EBumpOutcome::kPass: return 0;
    case EBumpOutcome::kRefused: return exits::kJobRefused;
    case EBumpOutcome::kLinkFailed:
    case EBumpOutcome::kAborted: return FResult.mStatus;
    case EBumpOutcome::kFail:
    case EBumpOutcome::kStopped:
    case EBumpOutcome::kNone: break;
    }
    return exits::kJobNotDone;
}

void TBumpTest::SetPhase(EBumpPhase phase, const std::string &text)
{
    FPhase = phase;
    FPhaseText = text;
    FView.PhaseChanged(phase, text);
}

bool TBumpTest::Start(const RGasCylinder &cylinder)
{
    if (FRunning)
        return false;
    FResult = RBumpResult{};
    FCylinder = cylinder;
    FPassed.reset();
    // Three readings, whatever their spread: their mean is the baseline.
    FBaseline = TStableReading(std::numeric_limits<int32_t>::max());
    FBaselineAlarmed = FLevelReached = FLowFlagSeen = false;
    FPhase = EBumpPhase::kIdle;

    std::string dated = CylinderDateRefusal(cylinder, LocalDateText(FClock.WallNow()));
    // A concentration the sensor type of its gas cannot show is refused
    // before the detector is reached, as the calibration refuses it.
    for (const RSensorType &type : FSession.SensorTypes)
        if (dated.empty() && type.mName == cylinder.mGas && type.mUnit == cylinder.mUnit)
            dated = CylinderRangeRefusal(cylinder, type);
    if (!dated.empty()) {
        FResult.mOutcome = EBumpOutcome::kRefused;
        FResult.mReason = dated;
        FScreen.Message(kCaption, "The bump test was not started:\r" + dated, MsgIcon::Error);
        SetPhase(EBumpPhase::kDone, "Bump Test ... refused");
        FView.Finished(FResult);
        return false;
    }

    FJob.emplace(FSession, FScreen, kJobBumpTest);
    RTamselCFG cfg = DefaultCFG();
    const ROpResult read = FJob->Run(kReadPrefix, [&] { return TDetector(FSession).ReadConfiguration(cfg); });
    if (!read.Ok()) {
        FResult.mStatus = read.mStatus;
        End(read.mAborted ? EBumpOutcome::kAborted : EBumpOutcome::kLinkFailed,
            read.mAborted ? read.mError : "the detector could not be read");
        return false;
    }
    FCFG = cfg;
    const int index = FindSensorType(FCFG.mSensor.mSensorType, FSession.SensorTypes);
    FResult.mUnit = index >= 0 ? FSession.SensorTypes[static_cast<size_t>(index)].mUnit : std::string();
    RBumpCriteria &c = FResult.mCriteria;
    c.mAlarmLow = FCFG.mSensor.mAlarmLow;
    c.mAlarmHigh = FCFG.mSensor.mAlarmHigh;
    c.mFalls = ReadingFalls(FCFG.mSensor.mSensorType);
    c.mWithin = FWithin;
    c.mPeakRule = !c.mFalls;
    c.mPeakMin = (cylinder.mConcentration + 1) / 2;     // -50 %, rounded up
    c.mPeakMax = cylinder.mConcentration * 3 / 2;       // +50 %, rounded down

    const std::string misfit = CylinderFitRefusal(cylinder, FCFG, FSession.SensorTypes, ECylinderUse::kBumpTest);
    if (!misfit.empty()) {
        FScreen.Message(kCaption, "The bump test was not started:\r" + misfit, MsgIcon::Error);
        End(EBumpOutcome::kRefused, misfit);
        return false;
    }

    FRunning = true;
    if (!FExposure.Open(false))
        return false;
    FReadingsStart = FClock.Now();
    FExposure.Watch(FReadingsStart, kBaselineLimit);
    FSettled = TStableReading(TStableReading::GasBand(cylinder.mConcentration));
    SetPhase(EBumpPhase::kBaseline, "Baseline in clean air: 3 readings");
    return true;
}

bool TBumpTest::Pass()
{
    if (!FRunning)
        return false;
    FExposure.Pass();
    return FRunning;
}

void TBumpTest::ExposureEnded(EExposureEnd end, uint8_t status, const std::string &reason)
{
    FResult.mStatus = status;
    End(end == EExposureEnd::kStopped      ? EBumpOutcome::kStopped
        : end == EExposureEnd::kLinkFailed ? EBumpOutcome::kLinkFailed
                                           : EBumpOutcome::kAborted,
        reason);
}

void TBumpTest::ShowStep(EGasStep step, TDateTime now)
{
    const RBumpCriteria &c = FResult.mCriteria;
    // Toward the gas from the baseline, back from the peak after it.
    RGasChange change;
    change.mThreshold = RGasChange::Threshold(c.mAlarmLow, FResult.mBaseline.value_or(0));
    change.mFrom = step == EGasStep::kApply ? FResult.mBaseline : FResult.mPeak;
    change.mDirection = (step == EGasStep::kApply) != c.mFalls ? 1 : -1;
    // A script has nobody to confirm: the watch's time limit runs from now.
    FExposure.ShowStep(step, now, change, 0, step == EGasStep::kApply ? FWithin : kRecoveryLimit);
}

void TBumpTest::StepBegins(EGasStep step, TDateTime)
{
    const std::string text = GasStepText(step, FCylinder);
    SetPhase(step == EGasStep::kApply ? EBumpPhase::kApplyGas : EBumpPhase::kRemoveGas, text);
    FView.StepShown(step, text);
}

void TBumpTest::ExposureReading(const RTamselSensor &reading, int32_t tenths, TDateTime now)
{
    FView.ReadingShown(reading, tenths, Seconds(FReadingsStart, now));
}

void TBumpTest::WatchBegins(EGasStep step, TDateTime)
{
    if (step == EGasStep::kApply)
        StartWatch();
    else
        StartRecovery();
}

void TBumpTest::WatchReading(const RTamselSensor &reading, int32_t tenths, TDateTime now)
{
    const RBumpCriteria &c = FResult.mCriteria;
    switch (FPhase) {
    case EBumpPhase::kBaseline: Baseline(tenths, now); return;
    case EBumpPhase::kWatch: Watch(tenths, reading.mAlarm, now); return;
    case EBumpPhase::kRecovery: {
        // Only a reading that reached the level has a way back to measure.
        const bool back = c.mFalls ? tenths > c.mAlarmLow : tenths < c.mAlarmLow;
        if (!FLevelReached || back) {
            if (FLevelReached)
                FResult.mRecoverySeconds = RoundToInt(Seconds(FExposure.StageStart(), now));
            Report();
        }
        return;
    }
    case EBumpPhase::kApplyGas:
    case EBumpPhase::kRemoveGas:
    case EBumpPhase::kIdle:
    case EBumpPhase::kDone: break;
    }
}

void TBumpTest::Baseline(int32_t tenths, TDateTime now)
{
    const RBumpCriteria &c = FResult.mCriteria;
    FBaselineAlarmed = FBaselineAlarmed || (c.mFalls ? tenths <= c.mAlarmLow : tenths >= c.mAlarmLow);
    if (!FBaseline.Add(tenths))
        return;
    FResult.mBaseline = FBaseline.Value();
    if (FBaselineAlarmed) {
        // Gas applied before the start, or air that is not clean: the
        // technician's slip, not the detector's failure. Nothing is
        // reported to the detector.
        const std::string reason = "not in clean air: a reading before the gas was " + TenthsText(tenths) + " " +
                                   FResult.mUnit + ", at or beyond the low alarm level of " +
                                   TenthsText(c.mAlarmLow) + " " + FResult.mUnit + ": " + kPurgeAdvice;
        FScreen.Message(kCaption, "The bump test was stopped before anything was sent:\r" + reason, MsgIcon::Error);
        End(EBumpOutcome::kRefused, reason);
        return;
    }
    ShowStep(EGasStep::kApply, now);
}

void TBumpTest::StartWatch()
{
    FSettled.Reset();
    SetPhase(EBumpPhase::kWatch, "Watching for the LOW alarm at " + TenthsText(FResult.mCriteria.mAlarmLow) + " " +
                                     FResult.mUnit + ": up to " + std::to_string(FWithin) + " s");
}

void TBumpTest::Watch(int32_t tenths, uint8_t alarm, TDateTime now)
{
    const RBumpCriteria &c = FResult.mCriteria;
    FResult.mPeak = FurthestReading(FResult.mPeak, tenths, c.mFalls);
    FResult.mAlarmFlags |= alarm;
    FLevelReached = FLevelReached || (c.mFalls ? tenths <= c.mAlarmLow : tenths >= c.mAlarmLow);
    if ((alarm & kAlarmLowFlag) && !FLowFlagSeen) {
        FLowFlagSeen = true;
        FResult.mSecondsToAlarm = RoundToInt(Seconds(FExposure.StageStart(), now));
    }
    // Once the alarm is in, the reading is watched until it settles: the peak it settles at is judged.
    if (FLevelReached && FLowFlagSeen && FSettled.Add(tenths))
        Judge();
}

void TBumpTest::Judge()
{
    const RBumpCriteria &c = FResult.mCriteria;
    const std::string unit = " " + FResult.mUnit;
    const std::string peak = FResult.mPeak ? TenthsText(*FResult.mPeak) + unit : std::string("none");
    FPassed = false;
    if (!FLevelReached)
        FResult.mReason = std::string("the reading did not ") + (c.mFalls ? "fall" : "rise") +
                          " to the low alarm level of " + TenthsText(c.mAlarmLow) + unit + " within " +
                          std::to_string(c.mWithin) + " s (" + (c.mFalls ? "lowest" : "highest") + " reading " + peak +
                          ")";
    else if (!FLowFlagSeen)
        FResult.mReason = "the detector's LOW alarm did not come on, though the reading reached " + peak;
    else if (c.mPeakRule && (*FResult.mPeak < c.mPeakMin || *FResult.mPeak > c.mPeakMax))
        FResult.mReason = "the peak reading of " + peak + " is outside " + TenthsText(c.mPeakMin) + " to " +
                          TenthsText(c.mPeakMax) + unit + " (+-50 % of the cylinder's " +
                          TenthsText(FCylinder.mConcentration) + unit + ")";
    else
        FPassed = true;
    ShowStep(EGasStep::kRemove, FClock.Now());
}

void TBumpTest::StartRecovery()
{
    SetPhase(EBumpPhase::kRecovery, "Waiting for the reading to come back past " +
                                        TenthsText(FResult.mCriteria.mAlarmLow) + " " + FResult.mUnit + ": up to " +
                                        std::to_string(kRecoveryLimit) + " s");
}

void TBumpTest::WatchOver(TDateTime)
{
    switch (FPhase) {
    case EBumpPhase::kBaseline:
        FResult.mStatus = FExposure.Status() != 0 ? FExposure.Status() : wire::kStatusNoResponse;
        End(EBumpOutcome::kLinkFailed,
            "no clean-air readings from the detector in " + std::to_string(kBaselineLimit) + " s");
        return;
    case EBumpPhase::kWatch: Judge(); return;
    case EBumpPhase::kRecovery: Report(); return;
    case EBumpPhase::kApplyGas:
    case EBumpPhase::kRemoveGas:
    case EBumpPhase::kIdle:
    case EBumpPhase::kDone: return;
    }
}

void TBumpTest::StepWaitOver(EGasStep step)
{
    if (step == EGasStep::kApply)
        End(EBumpOutcome::kStopped, "the gas was not applied within " + std::to_string(kStepWaitLimit / 60) +
                                        " minutes");
    else
        Report(); // the result is known: after a long wait it is reported without the recovery
}

TDateTime TBumpTest::NextDue() const { return FRunning ? FExposure.NextDue() : kDueNever; }

void TBumpTest::Confirm()
{
    if (FRunning)
        FExposure.Confirm(FClock.Now());
}

void TBumpTest::Report()
{
    const bool passed = FPassed.value_or(false);
    FResult.mReportCode = passed ? wire::kCalBumpPass : wire::kCalBumpFail;
    FResult.mReportStatus = FExposure.Send(FResult.mReportCode);
    End(passed ? EBumpOutcome::kPass : EBumpOutcome::kFail, FResult.mReason);
}

void TBumpTest::End(EBumpOutcome outcome, const std::string &reason)
{
    FResult.mOutcome = outcome;
    FResult.mReason = reason;
    if (outcome == EBumpOutcome::kPass)
        FResult.mReason.clear();
    FExposure.Close(outcome == EBumpOutcome::kAborted);
    FRunning = false;
    const char *word = outcome == EBumpOutcome::kPass      ? "PASS"
                       : outcome == EBumpOutcome::kFail    ? "FAIL"
                       : outcome == EBumpOutcome::kRefused ? "refused"
                       : outcome == EBumpOutcome::kStopped ? "stopped"
                                                           : "not done";
    SetPhase(EBumpPhase::kDone, std::string("Bump Test ... ") + word);
    Record();
    FView.Finished(FResult);
}

void TBumpTest::Record()
{
    if (!FJob)
        return;
    QJsonObject data = BumpRecordData(FResult, FCylinder);
    const QJsonObject certifier = CertifierRecordJson(FSession);
    for (auto it = certifier.begin(); it != certifier.end(); ++it)
        data.insert(it.key(), it.value());
    const char *word = FResult.mOutcome == EBumpOutcome::kPass   ? outcome::kPass
                       : FResult.mOutcome == EBumpOutcome::kFail    ? outcome::kFail
                       : FResult.mOutcome == EBumpOutcome::kStopped ? outcome::kStopped
                                                                    : "";
    FJob->Finish(JobStatus(), FPhaseText, data, word);
    FJob.reset();
}

void TBumpTest::Shutdown()
{
    if (!FRunning)
        return;
    Cancel();
    Pass();
}

void TBumpTest::Run() { RunPasses(*this, FScreen, FClock); }
