#include "tools/cal_evidence.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "app/evidence_keys.h"
#include "app/journal.h"
#include "app/session.h"
#include "app/status.h"
#include "link/wire.h"
#include "model/exit_table.h"
#include "tools/tool_common.h"

namespace {

constexpr const char *kCaption = "Sensor Calibration";
constexpr int32_t kOxygenClean = 209; // an oxygen sensor's reading in clean air, tenths of a percent

QString Q(const std::string &text) { return QString::fromStdString(text); }

} // namespace

int DeviationPermille(int32_t reading, int32_t expected, int32_t concentration)
{
    if (concentration == 0)
        return 0;
    const double permille = (static_cast<double>(reading) - expected) * 1000.0 / std::abs(concentration);
    return RoundToInt(permille);
}

std::string PermilleText(int permille)
{
    const int whole = std::abs(permille) / 10, part = std::abs(permille) % 10;
    return std::string(permille < 0 ? "-" : "+") + std::to_string(whole) + "." + std::to_string(part) + " %";
}

QJsonObject CalEvidenceData(const RCalEvidence &e, const RGasCylinder &cylinder)
{
    namespace k = evidence_data;
    const auto measures = [&](const RCalMeasures &m) {
        QJsonObject o;
        if (m.mZero) {
            o.insert(QLatin1String(k::kZero), m.mZero->mValue);
            o.insert(QLatin1String(k::kZeroDeviation),
                     DeviationPermille(m.mZero->mValue, e.mClean, cylinder.mConcentration));
            o.insert(QStringLiteral("zero_stable"), m.mZero->mStable);
        }
        if (m.mSpan) {
            o.insert(QLatin1String(k::kSpan), m.mSpan->mValue);
            o.insert(QLatin1String(k::kSpanDeviation),
                     DeviationPermille(m.mSpan->mValue, cylinder.mConcentration, cylinder.mConcentration));
            o.insert(QStringLiteral("span_stable"), m.mSpan->mStable);
        }
        return o;
    };
    QJsonObject data{{QLatin1String(k::kCylinder), CylinderRecordJson(cylinder)},
                     {QLatin1String(k::kUnit), Q(e.mUnit)},
                     {QLatin1String(k::kTolerance), e.mTolerance},
                     {QLatin1String(k::kAsFound), measures(e.mFound)},
                     {QLatin1String(k::kAsLeft), measures(e.mLeft)}};
    if (e.mOutcome == ECalEvidenceOutcome::kPass || e.mOutcome == ECalEvidenceOutcome::kFail)
        data.insert(QLatin1String(k::kCertified),
                    QLatin1String(e.mOutcome == ECalEvidenceOutcome::kPass ? "pass" : "fail"));
    if (!e.mReason.empty())
        data.insert(QLatin1String(k::kFailed), Q(e.mReason));
    return data;
}

// ---------------------------------------------------------------------------

TCalEvidence::TCalEvidence(TSession &session, IScreen &screen, TSensorCalibration &cal, ICalEvidenceView &view)
    : FSession(session), FScreen(screen), FCal(cal), FView(view), FClock(session.Clock()), FReadings(session)
{
}

uint8_t TCalEvidence::JobStatus() const
{
    switch (FEvidence.mOutcome) {
    case ECalEvidenceOutcome::kPass: return 0;
    case ECalEvidenceOutcome::kRefused: return exits::kJobRefused;
    case ECalEvidenceOutcome::kLinkFailed:
    case ECalEvidenceOutcome::kAborted: return FEvidence.mStatus;
    case ECalEvidenceOutcome::kFail:
    case ECalEvidenceOutcome::kStopped:
    case ECalEvidenceOutcome::kProcedure:
    case ECalEvidenceOutcome::kNone: break;
    }
    return exits::kJobNotDone;
}

std::string TCalEvidence::OutcomeWord() const
{
    switch (FEvidence.mOutcome) {
    case ECalEvidenceOutcome::kPass: return outcome::kPass;
    case ECalEvidenceOutcome::kFail: return outcome::kFail;
    case ECalEvidenceOutcome::kStopped: return outcome::kStopped;
    default: return {}; // the procedure's own, or the status's
    }
}

void TCalEvidence::SetPhase(ECalEvidencePhase phase, const std::string &text, bool gasStep)
{
    FPhase = phase;
    FPhaseStart = FClock.Now();
    FView.EvidencePhaseChanged(phase, text);
    if (gasStep)
        FView.EvidenceStepShown(phase == ECalEvidencePhase::kFoundSpan ? EGasStep::kApply : EGasStep::kRemove, text);
}

bool TCalEvidence::Start(const RGasCylinder &cylinder)
{
    const RSensorType *type = FCal.SensorType();
    if (FRunning || FCal.Running() || !type)
        return false;
    FEvidence = RCalEvidence{};
    FEvidence.mUnit = type->mUnit;
    FEvidence.mClean = ReadingFalls(FCal.SensorTypeCode()) ? kOxygenClean : 0;
    FEvidence.mTolerance = FTolerance;
    FCylinder = cylinder;
    FStopAsked = false;
    FPhase = ECalEvidencePhase::kIdle;

    std::string refusal = CylinderDateRefusal(cylinder, LocalDateText(FClock.WallNow()));
    const bool dated = !refusal.empty();
    if (!dated)
        refusal = CylinderFitRefusal(cylinder, FCal.Record(), FSession.SensorTypes, ECylinderUse::kCalibration);
    if (refusal.empty())
        refusal = CylinderRangeRefusal(cylinder, *type);
    if (refusal.empty()) {
        // The span gas entry takes the cylinder's concentration.
        FCal.SetSpanEntry(cylinder.mConcentration / 10.0);
        if (RoundToInt(FCal.SpanEntry() * 10.0) != cylinder.mConcentration)
            refusal = "cylinder " + std::to_string(cylinder.mId) + " (" + CylinderText(cylinder) +
                      "): the span gas entry cannot hold its concentration";
    }
    if (!refusal.empty()) {
        FEvidence.mOutcome = ECalEvidenceOutcome::kRefused;
        FEvidence.mReason = refusal;
        FScreen.Message(kCaption, "The calibration was not started:\r" + refusal, MsgIcon::Error);
        // An expired or retired cylinder is refused before the detector is
        // reached; a misfit only after its configuration was read: that read
        // is on the record.
        if (!dated)
            TDeviceJob(FSession, FScreen, kJobSensorCal, false)
                .Finish(exits::kJobRefused, "Calibration ... refused", CalEvidenceData(FEvidence, FCylinder));
        FView.EvidencePhaseChanged(ECalEvidencePhase::kDone, "Calibration ... refused");
        return false;
    }

    // The record of a run that ends before the procedure starts: the
    // configuration read that opened the calibration is on it.
    FJob.emplace(FSession, FScreen, kJobSensorCal, false);
    FRunning = true;
    if (!OpenReadings())
        return false;
    SetPhase(ECalEvidencePhase::kFoundZero, "As found in clean air: waiting for a stable reading");
    FStable = TStableReading(TStableReading::kCleanAirBand);
    Arm(FClock.Now());
    return true;
}

bool TCalEvidence::OpenReadings()
{
    uint8_t status = 0;
    try {
        status = FReadings.Open();
    } catch (const std::exception &e) {
        FReadings.Drop();
        ShowError(FScreen, e.what());
        FEvidence.mStatus = kStatusAborted;
        End(ECalEvidenceOutcome::kAborted, e.what());
        return false;
    }
    if (status != 0 && FReadings.AdapterFailed()) {
        FEvidence.mStatus = status;
        FScreen.AdapterTrouble(IsAdapterTrouble(status));
        End(ECalEvidenceOutcome::kLinkFailed, "the detector could not be reached");
        return false;
    }
    return true;
}

void TCalEvidence::Arm(TDateTime now)
{
    FAwaiting = false;
    FArmed = true;
    FArmedAt = now;
    FStable.Reset();
}

bool TCalEvidence::Moved(int32_t from, int32_t to) const
{
    const int32_t gas = FCylinder.mConcentration, clean = FEvidence.mClean;
    const int32_t threshold = std::max<int32_t>(3, std::abs(gas - clean) / 5);
    // Toward the gas under it, back toward clean air after it.
    const int32_t target = UnderGas() ? gas : clean;
    const int64_t moved = (static_cast<int64_t>(to) - from) * (target >= from ? 1 : -1);
    return moved >= threshold;
}

bool TCalEvidence::Pass()
{
    if (!FRunning)
        return false;
    try {
        if (FPhase == ECalEvidencePhase::kProcedure) {
            if (FStopAsked) {
                FStopAsked = false;
                FCal.Cancel();
            }
            if (!FCal.Pass())
                AfterProcedure();
            return FRunning;
        }
        if (FStopAsked) {
            End(ECalEvidenceOutcome::kStopped, "stopped by the technician");
            return false;
        }
        if (FReadings.AdapterFailed()) {
            FEvidence.mStatus = FReadings.Status();
            FScreen.AdapterTrouble(IsAdapterTrouble(FReadings.Status()));
            End(ECalEvidenceOutcome::kLinkFailed, "the adapter failed");
            return false;
        }
        if (FReadings.Step(FClock.Now()))
            OnReading(FClock.Now());
        if (!FRunning || FPhase == ECalEvidencePhase::kProcedure)
            return FRunning;
        const TDateTime now = FClock.Now();
        const double waited = (now - FPhaseStart) * kSecondsPerDayF;
        if (FArmed) {
            if (SecondsPast((now - FArmedAt) * kSecondsPerDayF, kStableLimit))
                Measured();
        } else if (FAwaiting && FConfirmSteps) {
            if (SecondsPast(waited, kStepWaitLimit))
                End(ECalEvidenceOutcome::kStopped, "no one went on within " + std::to_string(kStepWaitLimit / 60) +
                                                       " minutes");
        } else if (SecondsPast(waited, kNoChangeLimit)) {
            Arm(now); // the readings never showed the change: measured as they are
        }
    } catch (const std::exception &e) {
        FReadings.Drop();
        ShowError(FScreen, e.what());
        FEvidence.mStatus = kStatusAborted;
        End(ECalEvidenceOutcome::kAborted, e.what());
    }
    return FRunning;
}

void TCalEvidence::OnReading(TDateTime now)
{
    const RTamselSensor &reading = FReadings.Reading();
    const int32_t tenths = ReadingTenths(reading);
    FView.EvidenceReading(reading, tenths);
    if (!FArmed) {
        if (!Moved(FFrom, tenths))
            return;
        Arm(now);
    }
    if (FStable.Add(tenths))
        Measured();
}

void TCalEvidence::Measured()
{
    if (FReadings.Readings() == 0) {
        FEvidence.mStatus = FReadings.Status() != 0 ? FReadings.Status() : wire::kStatusNoResponse;
        End(ECalEvidenceOutcome::kLinkFailed, "no reading from the detector in " + std::to_string(kStableLimit) + " s");
        return;
    }
    const RCalReading r{FStable.Value(), FStable.Stable()};
    FArmed = false;
    FFrom = r.mValue;
    switch (FPhase) {
    case ECalEvidencePhase::kFoundZero:
        FEvidence.mFound.mZero = r;
        FView.MeasuresChanged(FEvidence);
        FAwaiting = true;
        FStable = TStableReading(TStableReading::GasBand(FCylinder.mConcentration));
        SetPhase(ECalEvidencePhase::kFoundSpan, GasStepText(EGasStep::kApply, FCylinder), true);
        break;
    case ECalEvidencePhase::kFoundSpan:
        FEvidence.mFound.mSpan = r;
        FView.MeasuresChanged(FEvidence);
        if (NoResponse(r.mValue)) {
            // The procedure's start command zeroes and spans: with no gas at
            // the sensor it would span clean air. Stopped before it, the
            // detector untouched.
            const std::string unit = " " + FEvidence.mUnit;
            const std::string reason = std::string(kNoGasText) + " (as found under gas " + TenthsText(r.mValue) + unit +
                                       ", in clean air " + TenthsText(FEvidence.mFound.mZero->mValue) + unit +
                                       ", cylinder " + TenthsText(FCylinder.mConcentration) + unit + ")";
            FScreen.Message(kCaption, "The calibration was not started:\r" + reason, MsgIcon::Error);
            End(ECalEvidenceOutcome::kRefused, reason);
            return;
        }
        FAwaiting = true;
        FStable = TStableReading(TStableReading::kCleanAirBand);
        SetPhase(ECalEvidencePhase::kClearing, GasStepText(EGasStep::kRemove, FCylinder), true);
        break;
    case ECalEvidencePhase::kClearing:
        StartProcedure();
        break;
    case ECalEvidencePhase::kLeftSpan:
        FEvidence.mLeft.mSpan = r;
        FView.MeasuresChanged(FEvidence);
        FAwaiting = true;
        FStable = TStableReading(TStableReading::kCleanAirBand);
        SetPhase(ECalEvidencePhase::kLeftZero, GasStepText(EGasStep::kRemove, FCylinder), true);
        break;
    case ECalEvidencePhase::kLeftZero: {
        FEvidence.mLeft.mZero = r;
        FView.MeasuresChanged(FEvidence);
        const RCalReading span = *FEvidence.mLeft.mSpan;
        const int deviation = DeviationPermille(span.mValue, FCylinder.mConcentration, FCylinder.mConcentration);
        const std::string unit = " " + FEvidence.mUnit;
        if (!span.mStable)
            End(ECalEvidenceOutcome::kFail, "the reading under gas after the calibration did not settle within " +
                                                std::to_string(kStableLimit) + " s");
        else if (std::abs(deviation) > FTolerance)
            End(ECalEvidenceOutcome::kFail, "the as-left span reading of " + TenthsText(span.mValue) + unit + " is " +
                                                PermilleText(deviation) + " from the cylinder's " +
                                                TenthsText(FCylinder.mConcentration) + unit + ", beyond the tolerance of " +
                                                PermilleText(FTolerance).substr(1));
        else
            End(ECalEvidenceOutcome::kPass, "");
        break;
    }
    case ECalEvidencePhase::kIdle:
    case ECalEvidencePhase::kProcedure:
    case ECalEvidencePhase::kDone: break;
    }
}

bool TCalEvidence::NoResponse(int32_t underGas) const
{
    // The reading under gas must have moved from the as-found clean-air
    // reading toward the cylinder by at least half the way. Half of the
    // cylinder, not the low alarm level: a cylinder may be at the low alarm
    // level itself, where a good sensor reading a little low would fall
    // below it, while a sensor that has drifted (what a calibration is for)
    // still shows most of the gas. Less than half is no gas reaching the
    // sensor, or a sensor so weak that its gain would have to more than
    // double: either way the gas path is checked before anything is changed.
    // Oxygen reads 20.9 % in clean air and falls under its span gas, so the
    // way runs downward: the same rule measured from the clean-air reading
    // toward the cylinder covers both directions.
    if (!FEvidence.mFound.mZero)
        return false;
    const int64_t zero = FEvidence.mFound.mZero->mValue, gas = FCylinder.mConcentration;
    const int64_t way = gas - zero;
    if (way == 0)
        return false;
    const int64_t moved = (underGas - zero) * (way > 0 ? 1 : -1);
    return moved * 2 < std::abs(way);
}

void TCalEvidence::StartProcedure()
{
    FReadings.Close();
    FAwaiting = false;
    // The procedure's run takes the record over; the measurement joins it when it ends.
    FJob.reset();
    FCal.HoldRecord(true);
    FCal.SetSpanEntry(FCylinder.mConcentration / 10.0);
    SetPhase(ECalEvidencePhase::kProcedure, "Calibration: the detector's zero, then its span");
    if (!FCal.Start()) {
        AfterProcedure();
        return;
    }
    // The procedure's span step: the cylinder's gas goes on now.
    FView.EvidenceStepShown(EGasStep::kApply, GasStepText(EGasStep::kApply, FCylinder));
}

void TCalEvidence::AfterProcedure()
{
    if (FCal.Outcome() != ECalOutcome::kOk) {
        End(ECalEvidenceOutcome::kProcedure, "");
        return;
    }
    if (!OpenReadings())
        return;
    FStable = TStableReading(TStableReading::GasBand(FCylinder.mConcentration));
    SetPhase(ECalEvidencePhase::kLeftSpan, "As left under gas: keep the gas applied");
    Arm(FClock.Now());
}

void TCalEvidence::End(ECalEvidenceOutcome outcome, const std::string &reason)
{
    FEvidence.mOutcome = outcome;
    FEvidence.mReason = reason;
    if (FReadings.IsOpen()) {
        if (outcome == ECalEvidenceOutcome::kAborted)
            FReadings.Drop();
        else
            FReadings.Close();
    }
    FRunning = false;
    FAwaiting = FArmed = false;
    FPhase = ECalEvidencePhase::kDone;
    Record();
    FCal.HoldRecord(false);
    const char *word = outcome == ECalEvidenceOutcome::kPass      ? "as left within tolerance: PASS"
                       : outcome == ECalEvidenceOutcome::kFail    ? "as left out of tolerance: FAIL"
                       : outcome == ECalEvidenceOutcome::kStopped ? "stopped"
                       : outcome == ECalEvidenceOutcome::kRefused ? "refused"
                                                                  : "not certified";
    // One verdict: a failed as-left check or a refusal follows the
    // procedure's own "Calibration ... OK" in the status, never beside it.
    if (outcome == ECalEvidenceOutcome::kFail || outcome == ECalEvidenceOutcome::kRefused)
        FScreen.SetStatus(kFailBackground, kFailText, std::string("Calibration ... ") + word);
    FView.EvidencePhaseChanged(ECalEvidencePhase::kDone, std::string("Calibration ... ") + word);
}

void TCalEvidence::Record()
{
    QJsonObject data = CalEvidenceData(FEvidence, FCylinder);
    const QJsonObject certifier = CertifierRecordJson(FSession);
    for (auto it = certifier.begin(); it != certifier.end(); ++it)
        data.insert(it.key(), it.value());
    const bool own = FEvidence.mOutcome != ECalEvidenceOutcome::kProcedure;
    std::string text;
    if (FEvidence.mOutcome == ECalEvidenceOutcome::kPass)
        text = "Calibration ... as left within tolerance: PASS";
    else if (FEvidence.mOutcome == ECalEvidenceOutcome::kFail)
        text = "Calibration ... as left out of tolerance: FAIL";
    else if (FEvidence.mOutcome == ECalEvidenceOutcome::kRefused)
        text = "Calibration ... refused";
    if (FCal.RecordHeld()) {
        FCal.ReleaseRecord(data, own ? std::optional<uint8_t>(JobStatus()) : std::nullopt, text, OutcomeWord());
    } else if (FJob) {
        FJob->Finish(JobStatus(), text.empty() ? "Calibration ... not certified" : text, data, OutcomeWord());
    }
    FJob.reset();
}

void TCalEvidence::Confirm()
{
    if (!FRunning || !FAwaiting)
        return;
    // The gas is on (or off): the measurement may begin once the readings
    // show it, and at the latest kNoChangeLimit seconds from now.
    FAwaiting = false;
    FPhaseStart = FClock.Now();
}

void TCalEvidence::Cancel()
{
    if (FRunning)
        FStopAsked = true;
}

void TCalEvidence::Shutdown()
{
    if (!FRunning)
        return;
    Cancel();
    if (FPhase == ECalEvidencePhase::kProcedure)
        FCal.Shutdown();
    Pass();
}

TDateTime TCalEvidence::NextDue() const
{
    if (!FRunning)
        return kDueNever;
    if (FPhase == ECalEvidencePhase::kProcedure)
        return FStopAsked ? kDueNow : FCal.NextDue();
    if (FStopAsked || FReadings.AdapterFailed())
        return kDueNow;
    double limit = kNoChangeLimit;
    TDateTime from = FPhaseStart;
    if (FArmed) {
        limit = kStableLimit;
        from = FArmedAt;
    } else if (FAwaiting && FConfirmSteps) {
        limit = kStepWaitLimit;
    }
    return std::min(FReadings.NextDue(), AddSeconds(from, limit + kToolTickSeconds));
}

void TCalEvidence::Run()
{
    while (Pass()) {
        FScreen.ProcessMessages();
        FClock.SleepUntil(NextDue());
    }
}
