#include "tools/cal_evidence.h"

#include <algorithm>
#include <cmath>

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
    : FSession(session), FScreen(screen), FCal(cal), FView(view), FClock(session.Clock()),
      FExposure(session, screen, *this)
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
    if (!FExposure.Open(true))
        return false;
    Measure(ECalEvidencePhase::kFoundZero, "As found in clean air: waiting for a stable reading",
            TStableReading::kCleanAirBand);
    return true;
}

void TCalEvidence::Measure(ECalEvidencePhase phase, const std::string &text, int32_t band)
{
    FStable = TStableReading(band);
    FExposure.Watch(FClock.Now(), kStableLimit);
    FPhase = phase;
    FView.EvidencePhaseChanged(phase, text);
}

void TCalEvidence::MeasureAfter(EGasStep step, ECalEvidencePhase phase, int32_t from, int32_t band)
{
    FStable = TStableReading(band);
    FPhase = phase;
    // Toward the gas under it, back toward clean air after it.
    const int32_t gas = FCylinder.mConcentration, clean = FEvidence.mClean;
    const int32_t target = step == EGasStep::kApply ? gas : clean;
    RGasChange change;
    change.mFrom = from;
    change.mDirection = target >= from ? 1 : -1;
    change.mThreshold = RGasChange::Threshold(gas, clean);
    FExposure.ShowStep(step, FClock.Now(), change, kNoChangeLimit, kStableLimit);
}

void TCalEvidence::StepBegins(EGasStep step, TDateTime)
{
    const std::string text = GasStepText(step, FCylinder);
    FView.EvidencePhaseChanged(FPhase, text);
    FView.EvidenceStepShown(step, text);
}

void TCalEvidence::ExposureReading(const RTamselSensor &reading, int32_t tenths, TDateTime)
{
    FView.EvidenceReading(reading, tenths);
}

void TCalEvidence::WatchBegins(EGasStep, TDateTime) { FStable.Reset(); }

void TCalEvidence::WatchReading(const RTamselSensor &, int32_t tenths, TDateTime)
{
    if (FStable.Add(tenths))
        Measured();
}

void TCalEvidence::WatchOver(TDateTime) { Measured(); }

void TCalEvidence::StepWaitOver(EGasStep)
{
    End(ECalEvidenceOutcome::kStopped, "no one went on within " + std::to_string(kStepWaitLimit / 60) + " minutes");
}

void TCalEvidence::ExposureEnded(EExposureEnd end, uint8_t status, const std::string &reason)
{
    FEvidence.mStatus = status;
    End(end == EExposureEnd::kStopped      ? ECalEvidenceOutcome::kStopped
        : end == EExposureEnd::kLinkFailed ? ECalEvidenceOutcome::kLinkFailed
                                           : ECalEvidenceOutcome::kAborted,
        reason);
}

bool TCalEvidence::Pass()
{
    if (!FRunning)
        return false;
    if (FPhase != ECalEvidencePhase::kProcedure) {
        FExposure.Pass();
        return FRunning;
    }
    try {
        if (FExposure.TakeStop())
            FCal.Cancel();
        if (!FCal.Pass())
            AfterProcedure();
    } catch (const std::exception &e) {
        FExposure.Abort(e.what());
    }
    return FRunning;
}

void TCalEvidence::Measured()
{
    if (FExposure.Readings() == 0) {
        FEvidence.mStatus = FExposure.Status() != 0 ? FExposure.Status() : wire::kStatusNoResponse;
        End(ECalEvidenceOutcome::kLinkFailed, "no reading from the detector in " + std::to_string(kStableLimit) + " s");
        return;
    }
    const RCalReading r{FStable.Value(), FStable.Stable()};
    const int32_t gasBand = TStableReading::GasBand(FCylinder.mConcentration);
    switch (FPhase) {
    case ECalEvidencePhase::kFoundZero:
        FEvidence.mFound.mZero = r;
        FView.MeasuresChanged(FEvidence);
        MeasureAfter(EGasStep::kApply, ECalEvidencePhase::kFoundSpan, r.mValue, gasBand);
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
        MeasureAfter(EGasStep::kRemove, ECalEvidencePhase::kClearing, r.mValue, TStableReading::kCleanAirBand);
        break;
    case ECalEvidencePhase::kClearing:
        StartProcedure();
        break;
    case ECalEvidencePhase::kLeftSpan:
        FEvidence.mLeft.mSpan = r;
        FView.MeasuresChanged(FEvidence);
        MeasureAfter(EGasStep::kRemove, ECalEvidencePhase::kLeftZero, r.mValue, TStableReading::kCleanAirBand);
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
    FExposure.Close(false);
    // The procedure's run takes the record over; the measurement joins it when it ends.
    FJob.reset();
    FCal.HoldRecord(true);
    FCal.SetSpanEntry(FCylinder.mConcentration / 10.0);
    FPhase = ECalEvidencePhase::kProcedure;
    FView.EvidencePhaseChanged(FPhase, "Calibration: the detector's zero, then its span");
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
    if (!FExposure.Open(true))
        return;
    Measure(ECalEvidencePhase::kLeftSpan, "As left under gas: keep the gas applied",
            TStableReading::GasBand(FCylinder.mConcentration));
}

void TCalEvidence::End(ECalEvidenceOutcome outcome, const std::string &reason)
{
    FEvidence.mOutcome = outcome;
    FEvidence.mReason = reason;
    FExposure.Close(outcome == ECalEvidenceOutcome::kAborted);
    FRunning = false;
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
    // The gas is on (or off): the measurement may begin once the readings
    // show it, and at the latest kNoChangeLimit seconds from now.
    if (FRunning)
        FExposure.Confirm(FClock.Now());
}

void TCalEvidence::Cancel()
{
    if (FRunning)
        FExposure.Stop();
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
        return FExposure.StopAsked() ? kDueNow : FCal.NextDue();
    return FExposure.NextDue();
}

void TCalEvidence::Run() { RunPasses(*this, FScreen, FClock); }
