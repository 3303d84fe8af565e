#include "app/device_actions.h"

#include <cstring>

#include "app/journal.h"
#include "app/session.h"
#include "link/tamsel_comms.h"
#include "model/config_form.h"
#include "model/convert.h"

namespace {

constexpr int kAttempts = 3;

// Calls the command until it returns 0, at most three times; the last status counts.
template <typename F> uint8_t UpTo3(F &&command)
{
    uint8_t status = 0;
    for (int i = 0; i < kAttempts; ++i) {
        status = command();
        if (status == 0)
            break;
    }
    return status;
}

RActionResult FromOp(const ROpResult &op)
{
    RActionResult r;
    static_cast<ROpResult &>(r) = op;
    return r;
}

// The job names of the actuator tests (buttons 1..4) and the reports (1..3).
const char *ActuatorJob(int nButton)
{
    static const char *const kJobs[] = {kJobBeep, kJobRightLed, kJobLeftLed, kJobVibrator};
    return kJobs[nButton - 1];
}
const char *ReportJob(int nButton)
{
    static const char *const kJobs[] = {kJobClearPeak, kJobBumpFail, kJobBumpPass};
    return kJobs[nButton - 1];
}

RActionResult Refused(bool bBadSettings = false)
{
    RActionResult r;
    r.mRefused = true;
    r.mBadSettings = bBadSettings;
    return r;
}

// Tenths as the alarm editors show them: one decimal.
std::string OneDecimal(uint16_t tenths) { return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10); }

} // namespace

std::string WriteRangeText(const std::vector<std::string> &problems)
{
    std::string text = kWriteRangeIntro;
    for (const std::string &line : problems)
        text += "\r" + line;
    return text + "\r" + kWriteRangeOutro;
}

std::string IdentityText(const RTamselIdenty &identity)
{
    std::string text;
    for (const std::string &line : IdentyLines(identity))
        text += (text.empty() ? "" : "\r") + line;
    return text;
}

uint8_t ActuatorCode(int nButton)
{
    switch (nButton) {
    case 1: return wire::kAvBeep;
    case 2: return wire::kAvRightLed;
    case 3: return wire::kAvLeftLed;
    case 4: return wire::kAvVibrator;
    default: return 0;
    }
}

uint8_t ReportCode(int nButton)
{
    switch (nButton) {
    case 1: return wire::kCalClearPeak;
    case 2: return wire::kCalBumpFail;
    case 3: return wire::kCalBumpPass;
    default: return 0;
    }
}

std::string ReportPrefix(int nButton)
{
    switch (nButton) {
    case 1: return "Clear Peak";
    case 2: return "Send Bump Fail";
    case 3: return "Send Bump Pass";
    default: return {};
    }
}

void ViewToMainState(const TSession &session, RMainState &state, IScreen &screen, bool forDevice)
{
    const RViewResult r =
        ViewToConfig(state.FForm, state.FTamselCFG, forDevice, state.FReadSW, session.UserMode, session.SensorTypes);
    if (r.mLifeMessage) {
        ResetLifeEditors(state.FForm);
        screen.Message(kLifeMessageCaption, kLifeMessageText, MsgIcon::Information);
    }
}

TComTamsel &TDeviceActions::Link() { return FSession.Link(); }

// ---------------- sequences ----------------

uint8_t TDeviceActions::ReadDeviceConfig()
{
    const RDeviceCFG &settings = FSession.DeviceCFG;
    FState.FForm.UserOptIDLabel.clear();
    RTamselIdenty identity{};
    uint8_t status = Link().RequireIdenty(identity);
    if (status == 0)
        status = CheckProductID(identity.mPID, kProductNorvik, FSession.UserMode);
    if (status == 0)
        FState.FForm.UserOptIDLabel = GetProductName(identity.mPID);
    RTamselUnitCFG unit = FState.FTamselCFG.mUnit;
    RTamselSensorCFG sensor = FState.FTamselCFG.mSensor;
    if (status == 0)
        status = UpTo3([&] { return Link().ReadUnitCFGData(unit, settings.mUnitPacketSize, settings.mUnitDataSize); });
    if (status == 0)
        status = UpTo3(
            [&] { return Link().ReadSensorCFGData(sensor, settings.mUnitPacketSize, settings.mUnitSensorDataSize); });
    if (status == 0) {
        FState.FTamselCFG.mUnit = unit;
        FState.FTamselCFG.mSensor = sensor;
        FState.FReadSW = unit.mFWVersion;
        FState.FRecordSource = ERecordSource::Detector;
        ConfigToView(FState.FTamselCFG, FState.FForm, FSession.SensorTypes);
    }
    return status;
}

uint8_t TDeviceActions::WriteDeviceConfig()
{
    // Never half a write: ranges that leave the record stop it before the first byte.
    if (!CFGWriteRangeProblems(FSession.DeviceCFG).empty())
        return kStatusBlockCRC;
    const bool userMode = FSession.UserMode;
    const RTamselCFG &cfg = FState.FTamselCFG;
    RTamselIdenty identity{};
    uint8_t status = Link().RequireIdenty(identity);
    if (status == 0)
        status = CheckProductID(identity.mPID, kProductNorvik, userMode);
    if (status == 0 && userMode && cfg.mSensor.mSensorType != identity.mSensor)
        status = kStatusSensorMismatch;

    RComTamselReadBuf buf;
    CFGToReadBuf(cfg, buf);
    for (const RCFGWriteRange &range : CFGWriteRanges(FSession.DeviceCFG)) {
        if (status != 0)
            break;
        const auto address = static_cast<uint16_t>(range.mAddress);
        status = UpTo3([&] { return Link().WriteCFGData(buf, address, range.mSize); });
    }
    if (status == 0 && !userMode)
        status = UpTo3([&] { return Link().WriteCFGTimeData(cfg.mUnit.mLifeRemaining); });
    return status;
}

TOpSteps TDeviceActions::Checked(TOpSteps command)
{
    return [this, command = std::move(command)]() -> uint8_t {
        RTamselIdenty identity{};
        uint8_t status = Link().RequireIdenty(identity);
        if (status == 0)
            status = CheckProductID(identity.mPID, kProductNorvik, FSession.UserMode);
        if (status == 0)
            status = command();
        return status;
    };
}

// ---------------- buttons ----------------

ROpResult TDeviceActions::ReadForSensorCalibration()
{
    FState.FHibernateBtn = false;
    TDeviceJob job(FSession, FScreen, kJobSensorCal);
    const ROpResult read = job.Linked("Read sensor information", [this] { return ReadDeviceConfig(); });
    if (!read.Ok()) {
        if (!read.mAborted)
            ShowResult(FScreen, read.mStatus, "Read sensor information");
        job.Finish(QJsonObject{{QLatin1String(journal_data::kResult), QStringLiteral("not started")}});
    }
    return read;
}

RActionResult TDeviceActions::ReadDevice()
{
    FState.FHibernateBtn = false;
    return FromOp(RunJob(FSession, FScreen, {kJobRead, "Read Norvik Information", [this] { return ReadDeviceConfig(); }}));
}

std::string AlarmOrderProblem(const RTamselCFG &cfg, const std::vector<RSensorType> &types)
{
    const uint16_t low = cfg.mSensor.mAlarmLow, high = cfg.mSensor.mAlarmHigh;
    const int index = FindSensorType(cfg.mSensor.mSensorType, types);
    const std::string unit = index >= 0 ? " " + types[static_cast<size_t>(index)].mUnit : std::string();
    const std::string values = "Low Alarm " + OneDecimal(low) + unit;
    if (ReadingFalls(cfg.mSensor.mSensorType)) {
        if (low < high)
            return {};
        return values + " is not below High Alarm " + OneDecimal(high) + unit +
               ".\rFor oxygen the Low Alarm is the level the reading falls to, the High Alarm the level it rises "
               "to.\rSet the Low Alarm below the High Alarm. Nothing was sent.";
    }
    if (low <= high)
        return {};
    return values + " is above High Alarm " + OneDecimal(high) + unit +
           ".\rThe detector would sound its high alarm before its low one.\rSet the Low Alarm at or below the High "
           "Alarm. Nothing was sent.";
}

RActionResult TDeviceActions::WriteDevice()
{
    FState.FHibernateBtn = false;
    // A settings mistake is told as such, before the detector is even woken.
    const std::vector<std::string> problems = CFGWriteRangeProblems(FSession.DeviceCFG);
    if (!problems.empty()) {
        FScreen.Message(kWriteRangeCaption, WriteRangeText(problems), MsgIcon::Error);
        return Refused(true);
    }
    ViewToMainState(FSession, FState, FScreen, true);
    if (FState.FTamselCFG.mSensor.mSensorType == 0) {
        FScreen.Message(kNoSensorCaption, FSession.UserMode ? kNoSensorTextUser : kNoSensorTextDev, MsgIcon::Error);
        return Refused();
    }
    const std::string alarms = AlarmOrderProblem(FState.FTamselCFG, FSession.SensorTypes);
    if (!alarms.empty()) {
        FScreen.Message(kAlarmOrderCaption, alarms, MsgIcon::Error);
        RActionResult refused = Refused();
        refused.mBadAlarms = true;
        return refused;
    }
    RActionResult result = FromOp(
        RunJob(FSession, FScreen, {kJobWrite, "Write Norvik Information", [this] { return WriteDeviceConfig(); }}));
    if (result.ROpResult::Ok() && !FSession.UserMode) {
        // Ready for the next serial number.
        FState.FForm.UserOptSerialEdit.SetText(CharFieldToStr(FState.FTamselCFG.mUnit.mSerial));
        FState.FForm.mFocusRequest = EFocusRequest::SerialNumber;
    }
    return result;
}

RActionResult TDeviceActions::Hibernate()
{
    const std::string readPrefix = "Read Norvik Information";
    TDeviceJob job(FSession, FScreen, kJobHibernate);
    // The configuration first: the unit says whether it may hibernate.
    ShowBusy(FScreen, readPrefix);
    const ROpResult read = job.Linked(readPrefix, [this] { return ReadDeviceConfig(); });
    if (!read.Ok()) {
        if (!read.mAborted)
            ShowResult(FScreen, read.mStatus, readPrefix);
        job.Finish();
        return FromOp(read);
    }
    // Stopped after the read: the record says why, with the exit table's code.
    const auto stopped = [&](uint8_t status) { job.Finish(status, readPrefix + "..."); };
    if (FState.FTamselCFG.mUnit.mAllowSuspend != kSuspendAllowed) {
        FScreen.Message(kCheckUnitCaption, kCheckUnitText, MsgIcon::Error);
        stopped(kJobRefused);
        return Refused();
    }
    if (!FState.FHibernateBtn && !FScreen.AskYesNo(kHibernateCaption, kHibernateQuestion)) {
        stopped(kJobDeclined);
        RActionResult declined;
        declined.mDeclined = true;
        return declined;
    }
    FState.FHibernateBtn = true;
    const ROpResult op = job.Run(
        "Hibernate", [this] { return Link().SendHibernate(); },
        [](TComTamsel &link, uint8_t status) -> uint8_t {
            // A hibernating detector gets no end-of-connection request.
            link.CloseUSB(status == 0 ? kStatusNoHibernation : status);
            return status == kStatusRefusedByDevice ? kStatusNoHibernation : status;
        });
    job.Finish();
    return FromOp(op);
}

RActionResult TDeviceActions::LogReset()
{
    FState.FHibernateBtn = false;
    return FromOp(
        RunJob(FSession, FScreen, {kJobLogReset, "Event Log Reset", Checked([this] { return Link().LogReset(); })}));
}

RActionResult TDeviceActions::TurnOff()
{
    FState.FHibernateBtn = false;
    return FromOp(RunJob(FSession, FScreen,
                         {kJobPowerDown, "Power Down", Checked([this] { return Link().ResetUnit(); }),
                          [](TComTamsel &link, uint8_t status) -> uint8_t {
                              if (status == 0)
                                  link.ComClose(); // the detector is off: no end-of-connection request
                              else
                                  link.CloseUSB(status);
                              return status == kStatusRefusedByDevice ? kStatusMustCalibrate : status;
                          }}));
}

RActionResult TDeviceActions::Calibration()
{
    FState.FHibernateBtn = false;
    return FromOp(RunJob(FSession, FScreen,
                         {kJobCalibration, "Calibration",
                          Checked([this] { return Link().SensorCalibration(kCalZeroSpan); }),
                          [](TComTamsel &link, uint8_t status) -> uint8_t {
                              if (status == kStatusRefusedByDevice)
                                  status = kStatusZeroCalFailed;
                              link.CloseUSB(status);
                              return status;
                          }}));
}

RActionResult TDeviceActions::ActuatorTest(int nButton)
{
    const uint8_t code = ActuatorCode(nButton);
    if (code == 0)
        return Refused();
    const auto steps = [this, code] {
        const uint8_t status = Link().AVOn(code);
        if (status == 0) // the actuator runs while the connection is held
            WaitSeconds(static_cast<float>(FSession.DeviceCFG.mAVOperate) / 1000.0f, [this] { FScreen.ProcessMessages(); });
        return status;
    };
    // The tests show no status text: the record carries none either.
    return FromOp(RunJob(FSession, FScreen, {ActuatorJob(nButton), {}, steps}));
}

RActionResult TDeviceActions::PeakBumpReport(int nButton)
{
    const uint8_t code = ReportCode(nButton);
    if (code == 0)
        return Refused();
    const auto steps = [this, code] { return Link().SensorCalibration(code); };
    return FromOp(RunJob(FSession, FScreen, {ReportJob(nButton), ReportPrefix(nButton), steps}));
}

RActionResult TDeviceActions::FactoryReset()
{
    return FromOp(RunJob(FSession, FScreen, {kJobFactoryReset, "Fatory Reset", [this] { return Link().FactoryReset(); }}));
}

RActionResult TDeviceActions::Identify(RTamselIdenty *read, bool bShowBox)
{
    RTamselIdenty identity{};
    const RActionResult result =
        FromOp(RunJob(FSession, FScreen, {kJobIdentify, "Load Identify", [&] { return Link().RequireIdenty(identity); }}));
    if (read)
        *read = identity;
    if (result.Ok() && bShowBox)
        FScreen.Message(kIdentifyCaption, IdentityText(identity), MsgIcon::Information);
    return result;
}
