#include "app/detector_jobs.h"

#include <cmath>

#include "app/journal.h"
#include "app/session.h"
#include "link/tamsel_comms.h"
#include "model/config_form.h"
#include "model/convert.h"

namespace {

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

std::string AlarmRangeProblem(const RTamselCFG &cfg, const std::vector<RSensorType> &types)
{
    const int index = FindSensorType(cfg.mSensor.mSensorType, types);
    if (index < 0)
        return {};
    const RSensorType &type = types[static_cast<size_t>(index)];
    const long lo = std::lround(AlarmEditorMinimum(type) * 10.0), hi = std::lround(type.mMax * 10.0);
    const auto outside = [&](uint16_t v) { return v < lo || v > hi; };
    const uint16_t low = cfg.mSensor.mAlarmLow, high = cfg.mSensor.mAlarmHigh;
    if (!outside(low) && !outside(high))
        return {};
    const std::string unit = " " + type.mUnit;
    const std::string values = outside(low) ? "Low Alarm " + OneDecimal(low) : "High Alarm " + OneDecimal(high);
    return values + unit + " is outside the range of the " + type.mName + " sensor: " +
           OneDecimal(static_cast<uint16_t>(lo)) + " to " + OneDecimal(static_cast<uint16_t>(hi)) + unit +
           ".\rSet the alarms within the sensor's range. Nothing was sent.";
}

std::string RConfigProblem::Line() const
{
    std::string line = mText;
    for (size_t at; (at = line.find('\r')) != std::string::npos;)
        line.replace(at, 1, " ");
    return line;
}

RConfigProblem RecordWriteProblem(const RTamselCFG &cfg, const std::vector<RSensorType> &types)
{
    RConfigProblem problem;
    if (std::string alarms = AlarmOrderProblem(cfg, types); !alarms.empty()) {
        problem.mCaption = kAlarmOrderCaption;
        problem.mText = std::move(alarms);
    } else if (std::string range = AlarmRangeProblem(cfg, types); !range.empty()) {
        problem.mCaption = kAlarmOrderCaption;
        problem.mText = std::move(range);
    }
    return problem;
}

RConfigProblem ConfigWriteProblem(const RDeviceCFG &settings, const RTamselCFG &cfg,
                                  const std::vector<RSensorType> &types)
{
    if (const std::vector<std::string> ranges = CFGWriteRangeProblems(settings); !ranges.empty()) {
        RConfigProblem problem;
        problem.mCaption = kWriteRangeCaption;
        problem.mText = WriteRangeText(ranges);
        problem.mBadSettings = true;
        return problem;
    }
    return RecordWriteProblem(cfg, types);
}

TDetectorJobs::TDetectorJobs(TSession &session, IScreen &screen, TConfigRead read)
    : FSession(session), FScreen(screen), FDetector(session), FRead(std::move(read))
{
}

uint8_t TDetectorJobs::Read(RTamselCFG &cfg) { return FRead ? FRead(cfg) : FDetector.ReadConfiguration(cfg); }

TOpSteps TDetectorJobs::Checked(TOpSteps command)
{
    return [this, command = std::move(command)]() -> uint8_t {
        uint8_t status = FDetector.Connect();
        if (status == 0)
            status = command();
        return status;
    };
}

RActionResult TDetectorJobs::ReadDevice(RTamselCFG &cfg)
{
    return FromOp(RunJob(FSession, FScreen, {kJobRead, "Read Norvik Information", [&] { return Read(cfg); }}));
}

ROpResult TDetectorJobs::ReadForSensorCalibration(RTamselCFG &cfg)
{
    TDeviceJob job(FSession, FScreen, kJobSensorCal);
    const ROpResult read = job.Linked("Read sensor information", [&] { return Read(cfg); });
    if (!read.Ok()) {
        if (!read.mAborted)
            ShowResult(FScreen, read.mStatus, "Read sensor information");
        job.Finish(QJsonObject{{QLatin1String(journal_data::kResult), QStringLiteral("not started")}});
    }
    return read;
}

RActionResult TDetectorJobs::WriteDevice(const TRecordToSend &record, RTamselCFG *built)
{
    // A settings mistake is told as such, before the record is even built.
    const std::vector<std::string> problems = CFGWriteRangeProblems(FSession.DeviceCFG);
    if (!problems.empty()) {
        FScreen.Message(kWriteRangeCaption, WriteRangeText(problems), MsgIcon::Error);
        return Refused(true);
    }
    const RTamselCFG cfg = record();
    if (built)
        *built = cfg;
    if (cfg.mSensor.mSensorType == 0) {
        FScreen.Message(kNoSensorCaption, FSession.UserMode ? kNoSensorTextUser : kNoSensorTextDev, MsgIcon::Error);
        return Refused();
    }
    // The settings passed above: the record alone is judged here.
    const RConfigProblem problem = RecordWriteProblem(cfg, FSession.SensorTypes);
    if (problem.Found()) {
        FScreen.Message(problem.mCaption, problem.mText, MsgIcon::Error);
        RActionResult refused = Refused();
        refused.mBadAlarms = true;
        return refused;
    }
    return FromOp(RunJob(FSession, FScreen, {kJobWrite, "Write Norvik Information", [&]() -> uint8_t {
                                                 RTamselIdenty identity{};
                                                 uint8_t status = FDetector.Connect(identity);
                                                 if (status == 0)
                                                     status = FDetector.WriteConfig(cfg, identity);
                                                 return status;
                                             }}));
}

RActionResult TDetectorJobs::Hibernate(bool &confirmed)
{
    const std::string readPrefix = "Read Norvik Information";
    TDeviceJob job(FSession, FScreen, kJobHibernate);
    // The configuration first: the unit says whether it may hibernate.
    ShowBusy(FScreen, readPrefix);
    RTamselCFG cfg = DefaultCFG();
    const ROpResult read = job.Linked(readPrefix, [&] { return Read(cfg); });
    if (!read.Ok()) {
        if (!read.mAborted)
            ShowResult(FScreen, read.mStatus, readPrefix);
        job.Finish();
        return FromOp(read);
    }
    // Stopped after the read: the record says why, with the exit table's code.
    const auto stopped = [&](uint8_t status) { job.Finish(status, readPrefix + "..."); };
    if (cfg.mUnit.mAllowSuspend != kSuspendAllowed) {
        FScreen.Message(kCheckUnitCaption, kCheckUnitText, MsgIcon::Error);
        stopped(kJobRefused);
        return Refused();
    }
    if (!confirmed && !FScreen.AskYesNo(kHibernateCaption, kHibernateQuestion)) {
        stopped(kJobDeclined);
        RActionResult declined;
        declined.mDeclined = true;
        return declined;
    }
    confirmed = true;
    const ROpResult op = job.Run(
        "Hibernate", [this] { return FDetector.Link().SendHibernate(); },
        [](TComTamsel &link, uint8_t status) -> uint8_t {
            // A hibernating detector gets no end-of-connection request.
            link.CloseUSB(status == 0 ? kStatusNoHibernation : status);
            return status == kStatusRefusedByDevice ? kStatusNoHibernation : status;
        });
    job.Finish();
    return FromOp(op);
}

RActionResult TDetectorJobs::LogReset()
{
    return FromOp(
        RunJob(FSession, FScreen, {kJobLogReset, "Event Log Reset", Checked([this] { return FDetector.Link().LogReset(); })}));
}

RActionResult TDetectorJobs::TurnOff()
{
    return FromOp(RunJob(FSession, FScreen,
                         {kJobPowerDown, "Power Down", Checked([this] { return FDetector.Link().ResetUnit(); }),
                          [](TComTamsel &link, uint8_t status) -> uint8_t {
                              if (status == 0)
                                  link.ComClose(); // the detector is off: no end-of-connection request
                              else
                                  link.CloseUSB(status);
                              return status == kStatusRefusedByDevice ? kStatusMustCalibrate : status;
                          }}));
}

RActionResult TDetectorJobs::Calibration()
{
    return FromOp(RunJob(FSession, FScreen,
                         {kJobCalibration, "Calibration",
                          Checked([this] { return FDetector.Link().SensorCalibration(kCalZeroSpan); }),
                          [](TComTamsel &link, uint8_t status) -> uint8_t {
                              if (status == kStatusRefusedByDevice)
                                  status = kStatusZeroCalFailed;
                              link.CloseUSB(status);
                              return status;
                          }}));
}

RActionResult TDetectorJobs::ActuatorTest(int nButton)
{
    const uint8_t code = ActuatorCode(nButton);
    if (code == 0)
        return Refused();
    const auto steps = [this, code] {
        const uint8_t status = FDetector.Link().AVOn(code);
        if (status == 0) // the actuator runs while the connection is held
            WaitSeconds(static_cast<float>(FSession.DeviceCFG.mAVOperate) / 1000.0f, [this] { FScreen.ProcessMessages(); });
        return status;
    };
    // The tests show no status text: the record carries none either.
    return FromOp(RunJob(FSession, FScreen, {ActuatorJob(nButton), {}, steps}));
}

RActionResult TDetectorJobs::PeakBumpReport(int nButton, const std::string &serial)
{
    const uint8_t code = ReportCode(nButton);
    if (code == 0)
        return Refused();
    const bool bump = code != ReportCode(1);
    if (!bump || serial.empty()) {
        const auto steps = [this, code] { return FDetector.Link().SensorCalibration(code); };
        if (!bump)
            return FromOp(RunJob(FSession, FScreen, {ReportJob(nButton), ReportPrefix(nButton), steps}));
        TDeviceJob job(FSession, FScreen, ReportJob(nButton));
        const ROpResult op = job.Run(ReportPrefix(nButton), steps);
        job.Finish(QJsonObject{{QStringLiteral("detector_named"), false}});
        return FromOp(op);
    }
    // The detector named: its identity first, the report only to that serial.
    std::string found;
    TDeviceJob job(FSession, FScreen, ReportJob(nButton));
    const std::string prefix = ReportPrefix(nButton);
    ShowBusy(FScreen, prefix);
    const ROpResult op = job.Linked(prefix, [&]() -> uint8_t {
        RTamselIdenty identity{};
        uint8_t status = FDetector.Link().RequireIdenty(identity);
        if (status != 0)
            return status;
        found = TrimText(CharFieldToStr(identity.mSerial));
        return found == TrimText(serial) ? FDetector.Link().SensorCalibration(code) : 0;
    });
    const QJsonObject data{{QStringLiteral("detector_named"), true}};
    if (op.Ok() && found != TrimText(serial)) {
        const std::string text = "This detector is " + found + ", not " + TrimText(serial) +
                                 ".\rNothing was reported to it.";
        FScreen.SetStatus(kFailBackground, kFailText, prefix + "... refused");
        FScreen.Message(prefix, text, MsgIcon::Error);
        job.Finish(kJobRefused, prefix + "... refused", data);
        return Refused();
    }
    if (!op.mAborted)
        ShowResult(FScreen, op.mStatus, prefix);
    job.Finish(data);
    return FromOp(op);
}

RActionResult TDetectorJobs::FactoryReset()
{
    return FromOp(RunJob(FSession, FScreen, {kJobFactoryReset, "Fatory Reset", [this] { return FDetector.Link().FactoryReset(); }}));
}

RActionResult TDetectorJobs::Identify(RTamselIdenty *read, bool bShowBox)
{
    RTamselIdenty identity{};
    const RActionResult result =
        FromOp(RunJob(FSession, FScreen, {kJobIdentify, "Load Identify", [&] { return FDetector.Link().RequireIdenty(identity); }}));
    if (read)
        *read = identity;
    if (result.Ok() && bShowBox)
        FScreen.Message(kIdentifyCaption, IdentityText(identity), MsgIcon::Information);
    return result;
}
