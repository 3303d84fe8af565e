#include "app/device_actions.h"

#include <cstring>

#include "app/journal.h"
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
    case 1: return 0x30;
    case 2: return 0x31;
    case 3: return 0x32;
    case 4: return 0x34;
    default: return 0;
    }
}

uint8_t ReportCode(int nButton) { return (nButton >= 1 && nButton <= 3) ? static_cast<uint8_t>(0x43 + nButton) : 0; }

std::string ReportPrefix(int nButton)
{
    switch (nButton) {
    case 1: return "Clear Peak";
    case 2: return "Send Bump Fail";
    case 3: return "Send Bump Pass";
    default: return {};
    }
}

void ViewToMainState(RMainState &state, IScreen &screen, bool forDevice)
{
    const RViewResult r = ViewToConfig(state.FForm, state.FTamselCFG, forDevice, state.FReadSW);
    if (r.mLifeMessage) {
        ResetLifeEditors(state.FForm);
        screen.Message(kLifeMessageCaption, kLifeMessageText, MsgIcon::Information);
    }
}

// ---------------- sequences ----------------

uint8_t TDeviceActions::ReadDeviceConfig()
{
    FState.FForm.UserOptIDLabel.clear();
    RTamselIdenty identity{};
    uint8_t status = FLink.RequireIdenty(identity);
    if (status == 0)
        status = CheckProductID(identity.mPID, kProductNorvik);
    if (status == 0)
        FState.FForm.UserOptIDLabel = GetProductName(identity.mPID);
    RTamselUnitCFG unit = FState.FTamselCFG.mUnit;
    RTamselSensorCFG sensor = FState.FTamselCFG.mSensor;
    if (status == 0)
        status = UpTo3([&] { return FLink.ReadUnitCFGData(unit, DeviceCFG.mUnitPacketSize, DeviceCFG.mUnitDataSize); });
    if (status == 0)
        status = UpTo3(
            [&] { return FLink.ReadSensorCFGData(sensor, DeviceCFG.mUnitPacketSize, DeviceCFG.mUnitSensorDataSize); });
    if (status == 0) {
        FState.FTamselCFG.mUnit = unit;
        FState.FTamselCFG.mSensor = sensor;
        FState.FReadSW = unit.mFWVersion;
        ConfigToView(FState.FTamselCFG, FState.FForm);
    }
    return status;
}

uint8_t TDeviceActions::WriteDeviceConfig()
{
    // Never half a write: ranges that leave the record stop it before the first byte.
    if (!CFGWriteRangeProblems(DeviceCFG).empty())
        return kStatusBlockCRC;
    const RTamselCFG &cfg = FState.FTamselCFG;
    RTamselIdenty identity{};
    uint8_t status = FLink.RequireIdenty(identity);
    if (status == 0)
        status = CheckProductID(identity.mPID, kProductNorvik);
    if (status == 0 && UserMode && cfg.mSensor.mSensorType != identity.mSensor)
        status = kStatusSensorMismatch;

    RComTamselReadBuf buf;
    CFGToReadBuf(cfg, buf);
    for (const RCFGWriteRange &range : CFGWriteRanges(DeviceCFG)) {
        if (status != 0)
            break;
        const auto address = static_cast<uint16_t>(range.mAddress);
        status = UpTo3([&] { return FLink.WriteCFGData(buf, address, range.mSize); });
    }
    if (status == 0 && !UserMode)
        status = UpTo3([&] { return FLink.WriteCFGTimeData(cfg.mUnit.mLifeRemaining); });
    return status;
}

uint8_t TDeviceActions::CheckedCommand(const TOpSteps &command)
{
    RTamselIdenty identity{};
    uint8_t status = FLink.RequireIdenty(identity);
    if (status == 0)
        status = CheckProductID(identity.mPID, kProductNorvik);
    if (status == 0)
        status = command();
    return status;
}

// ---------------- buttons ----------------

ROpResult TDeviceActions::ReadForSensorCalibration()
{
    FState.FHibernateBtn = false;
    TJobJournal journal(FLink, kJobSensorCal);
    const ROpResult read = RunLinked(FScreen, FLink, [this] { return ReadDeviceConfig(); });
    if (read.mAborted || read.mStatus != 0) {
        if (!read.mAborted)
            ShowResult(FScreen, read.mStatus, "Read sensor information");
        journal.FinishOp(FScreen, read, "Read sensor information",
               QJsonObject{{QLatin1String(journal_data::kResult), QStringLiteral("not started")}});
    }
    return read;
}

RActionResult TDeviceActions::ReadDevice()
{
    FState.FHibernateBtn = false;
    TJobJournal journal(FLink, kJobRead);
    const ROpResult op = RunOperation(FScreen, FLink, "Read Norvik Information", [this] { return ReadDeviceConfig(); });
    journal.FinishOp(FScreen, op, "Read Norvik Information");
    return FromOp(op);
}

RActionResult TDeviceActions::WriteDevice()
{
    FState.FHibernateBtn = false;
    // A settings mistake is told as such, before the detector is even woken.
    const std::vector<std::string> problems = CFGWriteRangeProblems(DeviceCFG);
    if (!problems.empty()) {
        FScreen.Message(kWriteRangeCaption, WriteRangeText(problems), MsgIcon::Error);
        return Refused(true);
    }
    ViewToMainState(FState, FScreen, true);
    if (FState.FTamselCFG.mSensor.mSensorType == 0) {
        FScreen.Message(kNoSensorCaption, UserMode ? kNoSensorTextUser : kNoSensorTextDev, MsgIcon::Error);
        return Refused();
    }
    TJobJournal journal(FLink, kJobWrite);
    const ROpResult op =
        RunOperation(FScreen, FLink, "Write Norvik Information", [this] { return WriteDeviceConfig(); });
    journal.FinishOp(FScreen, op, "Write Norvik Information");
    RActionResult result = FromOp(op);
    if (result.ROpResult::Ok() && !UserMode) {
        // Ready for the next serial number.
        FState.FForm.UserOptSerialEdit.SetText(CharFieldToStr(FState.FTamselCFG.mUnit.mSerial));
        FState.FForm.mFocusRequest = "UserOptSerialEdit";
    }
    return result;
}

RActionResult TDeviceActions::Hibernate()
{
    const std::string readPrefix = "Read Norvik Information";
    TJobJournal journal(FLink, kJobHibernate);
    ShowBusy(FScreen, readPrefix);
    const ROpResult read = RunLinked(FScreen, FLink, [this] { return ReadDeviceConfig(); });
    if (read.mAborted) {
        journal.FinishOp(FScreen, read, readPrefix);
        return FromOp(read);
    }
    if (read.mStatus != 0) {
        ShowResult(FScreen, read.mStatus, readPrefix);
        journal.FinishOp(FScreen, read, readPrefix);
        return FromOp(read);
    }
    // Stopped after the read: the record says why, with the exit table's code.
    const auto stopped = [&](uint8_t status) { journal.Finish(FScreen, status, readPrefix + "..."); };
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
    const ROpResult op = RunOperation(
        FScreen, FLink, "Hibernate", [this] { return FLink.SendHibernate(); },
        [](TComTamsel &link, uint8_t status) -> uint8_t {
            // A hibernating detector gets no end-of-connection request.
            link.CloseUSB(status == 0 ? kStatusNoHibernation : status);
            return status == kStatusRefusedByDevice ? kStatusNoHibernation : status;
        });
    journal.FinishOp(FScreen, op, "Hibernate");
    return FromOp(op);
}

RActionResult TDeviceActions::LogReset()
{
    FState.FHibernateBtn = false;
    TJobJournal journal(FLink, kJobLogReset);
    const ROpResult op = RunOperation(FScreen, FLink, "Event Log Reset",
                                      [this] { return CheckedCommand([this] { return FLink.LogReset(); }); });
    journal.FinishOp(FScreen, op, "Event Log Reset");
    return FromOp(op);
}

RActionResult TDeviceActions::TurnOff()
{
    FState.FHibernateBtn = false;
    TJobJournal journal(FLink, kJobPowerDown);
    const ROpResult op = RunOperation(
        FScreen, FLink, "Power Down", [this] { return CheckedCommand([this] { return FLink.ResetUnit(); }); },
        [](TComTamsel &link, uint8_t status) -> uint8_t {
            if (status == 0)
                link.ComClose(); // the detector is off: no end-of-connection request
            else
                link.CloseUSB(status);
            return status == kStatusRefusedByDevice ? kStatusMustCalibrate : status;
        });
    journal.FinishOp(FScreen, op, "Power Down");
    return FromOp(op);
}

RActionResult TDeviceActions::Calibration()
{
    FState.FHibernateBtn = false;
    TJobJournal journal(FLink, kJobCalibration);
    const ROpResult op = RunOperation(
        FScreen, FLink, "Calibration",
        [this] { return CheckedCommand([this] { return FLink.SensorCalibration(kCalZeroSpan); }); },
        [](TComTamsel &link, uint8_t status) -> uint8_t {
            if (status == kStatusRefusedByDevice)
                status = kStatusZeroCalFailed;
            link.CloseUSB(status);
            return status;
        });
    journal.FinishOp(FScreen, op, "Calibration");
    return FromOp(op);
}

RActionResult TDeviceActions::ActuatorTest(int nButton)
{
    const uint8_t code = ActuatorCode(nButton);
    if (code == 0)
        return Refused();
    TJobJournal journal(FLink, ActuatorJob(nButton));
    const ROpResult op = RunLinked(FScreen, FLink, [this, code] {
        const uint8_t status = FLink.AVOn(code);
        if (status == 0) // the actuator runs while the connection is held
            WaitSeconds(static_cast<float>(DeviceCFG.mAVOperate) / 1000.0f, [this] { FScreen.ProcessMessages(); });
        return status;
    });
    // The tests show no status text: the record carries none either.
    journal.Finish(FScreen, op.mStatus, {},
                   op.mAborted ? QJsonObject{{QStringLiteral("error"), QString::fromStdString(op.mError)}} : QJsonObject{});
    return FromOp(op);
}

RActionResult TDeviceActions::PeakBumpReport(int nButton)
{
    const uint8_t code = ReportCode(nButton);
    if (code == 0)
        return Refused();
    TJobJournal journal(FLink, ReportJob(nButton));
    const std::string prefix = ReportPrefix(nButton);
    const ROpResult op = RunOperation(FScreen, FLink, prefix, [this, code] { return FLink.SensorCalibration(code); });
    journal.FinishOp(FScreen, op, prefix);
    return FromOp(op);
}

RActionResult TDeviceActions::FactoryReset()
{
    TJobJournal journal(FLink, kJobFactoryReset);
    const ROpResult op = RunOperation(FScreen, FLink, "Fatory Reset", [this] { return FLink.FactoryReset(); });
    journal.FinishOp(FScreen, op, "Fatory Reset");
    return FromOp(op);
}

RActionResult TDeviceActions::Identify(RTamselIdenty *read, bool bShowBox)
{
    RTamselIdenty identity{};
    TJobJournal journal(FLink, kJobIdentify);
    const ROpResult op = RunOperation(FScreen, FLink, "Load Identify", [&] { return FLink.RequireIdenty(identity); });
    journal.FinishOp(FScreen, op, "Load Identify");
    const RActionResult result = FromOp(op);
    if (read)
        *read = identity;
    if (result.Ok() && bShowBox)
        FScreen.Message(kIdentifyCaption, IdentityText(identity), MsgIcon::Information);
    return result;
}
