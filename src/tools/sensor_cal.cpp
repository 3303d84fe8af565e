#include "tools/sensor_cal.h"

#include <algorithm>
#include <cmath>

#include "app/detector_jobs.h"
#include "app/status.h"
#include "app/session.h"
#include "app/user_store.h"
#include "link/tamsel_comms.h"
#include "link/wire.h"
#include "model/device_records.h"
#include "tools/tool_common.h"

namespace {

constexpr uint8_t kHistoryCalFail = 0x08;
constexpr uint8_t kHistoryCalProgress = 0x80;
constexpr uint8_t kCodeZeroSpan = wire::kCalZeroSpan;
constexpr uint8_t kCodeAbort = wire::kCalAbort;

uint16_t ClampWord(long long value) { return static_cast<uint16_t>(std::clamp<long long>(value, 0, 65535)); }

} // namespace

std::string SpanGasRefusal(const std::string &unit)
{
    return "A span gas of 0.1 " + unit + " or less cannot calibrate the sensor: it would read nothing under gas.\r"
           "Enter the concentration printed on the span gas cylinder.";
}

std::string SpanGasText(uint16_t nTenths)
{
    std::string text = std::to_string(nTenths / 10);
    if (nTenths % 10 != 0)
        text += "." + std::to_string(nTenths % 10);
    return text;
}

TSensorCalibration::TSensorCalibration(TSession &session, IScreen &screen, ISensorCalView &view)
    : FSession(session), FLink(session.Link()), FScreen(screen), FView(view), FClock(session.Clock())
{
}

void TSensorCalibration::StatusLine(int line, const std::string &text, RColor color)
{
    if (!text.empty())
        FLastLine = text;
    FView.StatusLineChanged(line, text, color);
}

void TSensorCalibration::RecordRun()
{
    if (!FJob)
        return;
    const char *result = "not started";
    switch (FOutcome) {
    case ECalOutcome::kOk: result = "OK"; break;
    case ECalOutcome::kFailed: result = "FAIL"; break;
    case ECalOutcome::kTimeOut: result = "Time-out"; break;
    case ECalOutcome::kUserStop: result = "User Stop"; break;
    case ECalOutcome::kAborted: result = "aborted"; break;
    case ECalOutcome::kStartFailed: result = "zero calibration not started"; break;
    case ECalOutcome::kNotPrepared:
    case ECalOutcome::kNone: break;
    }
    QJsonObject data{{QLatin1String(journal_data::kResult), QLatin1String(result)}};
    if (FOutcome != ECalOutcome::kNotPrepared && FOutcome != ECalOutcome::kAborted) {
        // The record as the run read it before starting (the span gas written).
        data.insert(QLatin1String(journal_data::kSpanGas), FCFG.mSensor.mSpanGas);
        data.insert(QLatin1String(journal_data::kZeroBefore), FCFG.mSensor.mZero);
        data.insert(QLatin1String(journal_data::kSpanBefore), FCFG.mSensor.mSpan);
    }
    if (FPSensor)
        data.insert(QLatin1String(journal_data::kUnit), QString::fromStdString(FPSensor->mUnit));
    data.insert(QStringLiteral("polls"), FPollCount);
    // The run reads only before it starts (a second read after writing the
    // span gas): no configuration of this run shows the calibration's result.
    data.insert(QLatin1String(journal_data::kConfigAfter), QJsonValue());
    if (FHoldRecord) {
        FHeld = data;
        return;
    }
    FJob->Finish(JobStatus(), FLastLine, data, OwnOutcome());
    FJob.reset();
}

std::string TSensorCalibration::OwnOutcome() const
{
    return FOutcome == ECalOutcome::kUserStop ? outcome::kStopped : std::string();
}

void TSensorCalibration::ReleaseRecord(const QJsonObject &more, std::optional<uint8_t> status, const std::string &text,
                                       const std::string &word)
{
    if (!RecordHeld())
        return;
    QJsonObject data = *FHeld;
    for (auto it = more.begin(); it != more.end(); ++it)
        data.insert(it.key(), it.value());
    FHeld.reset();
    FJob->Finish(status.value_or(JobStatus()), text.empty() ? FLastLine : text, data,
                 word.empty() ? OwnOutcome() : word);
    FJob.reset();
}

uint8_t TSensorCalibration::JobStatus() const
{
    switch (FOutcome) {
    case ECalOutcome::kOk: return 0;
    case ECalOutcome::kFailed:
    case ECalOutcome::kTimeOut:
    case ECalOutcome::kUserStop: return kJobNotDone;
    case ECalOutcome::kStartFailed: return FOutcomeStatus == kStatusRefusedByDevice ? kJobNotDone : FOutcomeStatus;
    case ECalOutcome::kNotPrepared: return FOutcomeStatus != 0 ? FOutcomeStatus : kJobRefused;
    case ECalOutcome::kAborted: return FOutcomeStatus != 0 ? FOutcomeStatus : kStatusAborted;
    case ECalOutcome::kNone: break;
    }
    return kJobNotDone;
}

bool TSensorCalibration::Open(const RTamselCFG &mCFG)
{
    if (FRunning)
        return false;
    FCalib = kCalibIdle;
    FSensorType = mCFG.mSensor.mSensorType;
    FPSensor.reset();
    const int index = FindSensorType(FSensorType, FSession.SensorTypes);
    if (index < 0) {
        FScreen.Message("Wrong Sensor", "Sensor type is wrong\rDid not sensor calibration", MsgIcon::Error);
        return false;
    }
    FPSensor = FSession.SensorTypes[static_cast<size_t>(index)];
    FCFG = mCFG;
    FDefSpan = mCFG.mSensor.mSpanGas;
    FOutcome = ECalOutcome::kNone;
    FOutcomeStatus = 0;

    // A remembered value wins over the detector's.
    TUserStore &store = FSession.Store();
    if (!store.SpanGas(FPSensor->mName))
        store.SetSpanGas(FPSensor->mName, FDefSpan);
    FDefSpan = ClampWord(store.SpanGas(FPSensor->mName).value_or(FDefSpan));

    for (int line = 0; line < 3; ++line)
        StatusLine(line, "", kToolBlue);
    FView.SpanRangeChanged(FPSensor->mMin, FPSensor->mMax);
    SetSpanEntry(FDefSpan / 10.0);
    FView.UnitChanged(FPSensor->mUnit);
    FView.CaptionChanged("Sensor Calibration (" + FPSensor->mName + ")");
    FView.CalProgressChanged(0, CalTime());
    return true;
}

void TSensorCalibration::SetSpanEntry(double rValue)
{
    if (!std::isfinite(rValue))
        rValue = 0;
    if (FPSensor) {
        const double lo = FPSensor->mMin;
        const double hi = std::max<double>(FPSensor->mMin, FPSensor->mMax);
        rValue = std::clamp(rValue, lo, hi);
    }
    FSpanEntry = std::round(rValue * 10.0) / 10.0;
    FView.SpanValueChanged(FSpanEntry);
}

bool TSensorCalibration::PrepareCalibration(RTamselCFG &CFG)
{
    // Oxygen: a span gas near fresh air cannot calibrate the sensor.
    if (FSensorType == kOxygenSensorType && FSpanEntry > 19.0 && FSpanEntry < 23.5)
        SetSpanEntry(18.0);
    const uint16_t tenths = ClampWord(RoundToInt(FSpanEntry * 10.0));
    if (tenths != FDefSpan) {
        FDefSpan = tenths;
        FSession.Store().SetSpanGas(FPSensor->mName, FDefSpan);
    }

    CFG = FCFG;
    const RDeviceCFG &settings = FSession.DeviceCFG;
    const ROpResult result = FJob->Linked({}, [&]() -> uint8_t {
        RTamselIdenty identy{};
        uint8_t status = TDetector(FSession).Connect(identy);
        if (status == 0)
            status = FLink.ReadUnitCFGData(CFG.mUnit, settings.mUnitPacketSize, settings.mUnitDataSize);
        if (status == 0)
            status = FLink.ReadSensorCFGData(CFG.mSensor, settings.mUnitPacketSize, settings.mUnitSensorDataSize);
        if (status == 0 && FDefSpan != CFG.mSensor.mSpanGas) {
            CFG.mSensor.mSpanGas = FDefSpan;
            RComTamselReadBuf buf;
            CFGToReadBuf(CFG, buf);
            status = FLink.WriteCFGData(buf, kSpanGasAddress, kSpanGasSize);
            if (status == 0)
                status = FLink.ReadSensorCFGData(CFG.mSensor, settings.mUnitPacketSize, settings.mUnitSensorDataSize);
        }
        return status;
    });
    if (result.mAborted) {
        FOutcome = ECalOutcome::kAborted;
        FOutcomeStatus = result.mStatus;
        return false;
    }
    if (result.mStatus != 0) {
        FScreen.AdapterTrouble(IsAdapterTrouble(result.mStatus));
        FScreen.Message("Read Norvik Information",
                        result.mStatus == kStatusWrongProduct
                            ? "This is not Norvik module"
                            : "Norvik comunication error\rCheck Beamport and Norvik unit connection",
                        MsgIcon::Error);
        FOutcome = ECalOutcome::kNotPrepared;
        FOutcomeStatus = result.mStatus;
        return false;
    }
    if (CFG.mSensor.mSensorType != FSensorType) {
        FScreen.Message("Read Norvik Information", "Different sensor type", MsgIcon::Error);
        FOutcome = ECalOutcome::kNotPrepared;
        FOutcomeStatus = 0;
        return false;
    }
    return true;
}

bool TSensorCalibration::Start()
{
    if (FRunning || !FPSensor)
        return false;
    FOutcome = ECalOutcome::kNone;
    FOutcomeStatus = 0;
    FLastLine.clear();
    // A span gas of nothing would calibrate the sensor to read nothing under
    // gas: refused before anything is remembered or sent.
    if (RoundToInt(FSpanEntry * 10.0) <= kSmallestSpanTenths) {
        FScreen.Message(kSpanGasCaption, SpanGasRefusal(FPSensor->mUnit), MsgIcon::Error);
        FOutcome = ECalOutcome::kNotPrepared;
        return false;
    }
    FHeld.reset();
    FJob.emplace(FSession, FScreen, kJobSensorCal);
    RTamselCFG cfg{};
    if (!PrepareCalibration(cfg)) {
        RecordRun();
        return false;
    }
    FCFG = cfg;

    FCalib = kCalibRunning;
    FRunning = true;
    FProgressAtMax = false;
    FPollCount = 0;
    FView.RunningChanged(true);
    for (int line = 0; line < 3; ++line)
        StatusLine(line, "", kToolBlue);
    FView.CalProgressChanged(0, CalTime());
    FStartTime = FClock.Now();

    bool opened = false;
    const ROpResult result = FJob->Linked({}, [&]() -> uint8_t {
        opened = true;
        return FLink.SensorCalibration(kCodeZeroSpan);
    });
    if (result.mAborted) {
        FRunning = false;
        FOutcome = ECalOutcome::kAborted;
        FOutcomeStatus = result.mStatus;
    } else {
        const uint8_t status = result.mStatus;
        if (!opened) {
            FScreen.AdapterTrouble(IsAdapterTrouble(status));
            FScreen.Message("Sensor Connection Fail", "Sensor connection failed\rCheck Norvik unit and Beamport",
                            MsgIcon::Error);
        } else if (status == 0) {
            StatusLine(0, "Zero Calibration... OK", kToolBlue);
            StatusLine(1,
                       "Apply SPAN Gas (" + FPSensor->mName + ")... " +
                           LocaleDecimal(SpanGasText(FCFG.mSensor.mSpanGas)) + " " + FPSensor->mUnit,
                       kToolBlue);
            StatusLine(2, "SPAN Calibration...", kToolBlue);
        } else if (status == wire::kStatusDeviceError) {
            StatusLine(0, "Zero Calibration... FAIL", kToolRed);
        } else {
            FScreen.Message("Sensor Calibration Fail", "Sensor calibration failed ... Communication error",
                            MsgIcon::Error);
        }
        if (status != 0) {
            FRunning = false;
            FOutcome = ECalOutcome::kStartFailed;
            FOutcomeStatus = status;
        }
    }
    FNextPoll = AddSeconds(FStartTime, std::max<uint16_t>(FSession.DeviceCFG.mCalCheckTime, 1));
    if (!FRunning) {
        Finish();
        return false;
    }
    return true;
}

bool TSensorCalibration::Pass()
{
    if (!FRunning)
        return false;
    const TDateTime now = FClock.Now();
    const double elapsed = (now - FStartTime) * kSecondsPerDayF;
    // The time limit is looked at first: a limit reached while a stop is
    // pending reports the time-out.
    if (SecondsPast(elapsed, CalTime()))
        FCalib = kCalibTimeOut;
    if (FCalib == kCalibRunning && now >= FNextPoll)
        Poll();
    if (FRunning && (FCalib == kCalibUserStop || FCalib == kCalibTimeOut))
        StopProcedure();
    if (!FProgressAtMax)
        FView.CalProgressChanged(RoundToInt(elapsed), CalTime());
    if (!FRunning) {
        Finish();
        return false;
    }
    return true;
}

void TSensorCalibration::Poll()
{
    RTamselSensor reading{};
    bool received = false;
    const ROpResult result = FJob->Linked({}, [&]() -> uint8_t {
        const uint8_t status = FLink.RequireSensor(reading, wire::kReadGas);
        received = status == 0;
        return status;
    });
    if (result.mAborted) {
        // The port cannot be opened any more: polling on would only repeat the error box.
        FRunning = false;
        FOutcome = ECalOutcome::kAborted;
        FOutcomeStatus = result.mStatus;
        return;
    }
    ++FPollCount;
    FLastPollStatus = result.mStatus;
    FLastPollHistory = received ? reading.mHistory : 0;
    if (received && !(reading.mHistory & kHistoryCalProgress)) {
        if (reading.mHistory & kHistoryCalFail) {
            StatusLine(2, "Calibration ... FAIL", kToolRed);
            FOutcome = ECalOutcome::kFailed;
        } else {
            StatusLine(2, "Calibration ... OK", kToolBlue);
            FView.CalProgressChanged(CalTime(), CalTime());
            FProgressAtMax = true;
            FOutcome = ECalOutcome::kOk;
        }
        FRunning = false;
    }
    const double wait = result.mStatus == 0 ? std::max<uint16_t>(FSession.DeviceCFG.mCalCheckTime, 1) : 1.0;
    FNextPoll = AddSeconds(FClock.Now(), wait);
}

void TSensorCalibration::StopProcedure()
{
    const bool userStop = FCalib == kCalibUserStop;
    StatusLine(2, userStop ? "Calibration... User Stop" : "Calibration... Time-out", kToolRed);
    FOutcome = userStop ? ECalOutcome::kUserStop : ECalOutcome::kTimeOut;
    // A failure to send the abort is not reported.
    FJob->Linked({}, [&]() -> uint8_t { return FLink.SensorCalibration(kCodeAbort); });
    FRunning = false;
}

void TSensorCalibration::Finish()
{
    RecordRun();
    FRunning = false;
    FView.RunningChanged(false);
    FCalib = kCalibIdle;
}

void TSensorCalibration::Cancel()
{
    if (FRunning)
        FCalib = kCalibUserStop;
}

void TSensorCalibration::Shutdown()
{
    if (!FRunning)
        return;
    Cancel();
    Pass();
}

TDateTime TSensorCalibration::NextDue() const
{
    if (!FRunning)
        return kDueNever;
    if (FCalib != kCalibRunning)
        return kDueNow;
    const double elapsed = (FClock.Now() - FStartTime) * kSecondsPerDayF;
    const double boundary = std::floor(elapsed + 0.5) + 0.5;
    return std::min({FNextPoll, AddSeconds(FStartTime, CalTime() + kToolTickSeconds),
                     AddSeconds(FStartTime, boundary + kToolTickSeconds)});
}

void TSensorCalibration::Run()
{
    while (Pass()) {
        FScreen.ProcessMessages();
        FClock.SleepUntil(NextDue());
    }
}
