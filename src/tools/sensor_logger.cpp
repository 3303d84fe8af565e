#include "tools/sensor_logger.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <system_error>

#include <QDateTime>

#include "app/detector.h"
#include "app/status.h"
#include "app/session.h"
#include "app/user_store.h"
#include "files/atomic_save.h"
#include "link/tamsel_comms.h"
#include "model/convert.h"
#include "tools/tool_common.h"

namespace {

constexpr uint8_t kHistoryCalFail = 0x08;
constexpr uint8_t kHistoryCalProgress = 0x80;
constexpr double kProgressWaitSeconds = 10.0;

// Closes the port without an end-of-connection request, ignoring errors:
// after a port error the state of the detector is unknown.
void DropPort(TComTamsel &link)
{
    try {
        link.ComClose();
    } catch (...) {
    }
}

// Runs a step of the loop: an exception ends the run with its text.
template <typename Step, typename End> bool EndOnThrow(Step &&step, End &&abort)
{
    try {
        return step();
    } catch (const std::exception &e) {
        abort(e.what());
    } catch (...) {
        abort("Unknown error");
    }
    return false;
}

} // namespace

RLogCommand LogCommand(uint8_t nBtnSel)
{
    static const uint8_t codes[] = {0,           kCalCodeZeroSpan,  kCalCodeZero,     kCalCodeSpan,
                                    kCalCodeAbort, kCalCodeClearPeak, kCalCodeBumpPass, kCalCodeBumpFail};
    if (nBtnSel == 0 || nBtnSel >= std::size(codes))
        return {0, ""};
    return {codes[nBtnSel], LogCommandName(codes[nBtnSel])};
}

const char *LogCommandName(uint8_t nCode)
{
    switch (nCode) {
    case kCalCodeZeroSpan: return "Zero/Span CAL.";
    case kCalCodeZero: return "Zero CAL.";
    case kCalCodeSpan: return "Span CAL.";
    case kCalCodeAbort: return "Clear CAL.";
    case kCalCodeClearPeak: return "Clear Peak";
    case kCalCodeBumpPass: return "Send Bump Pass";
    case kCalCodeBumpFail: return "Send Bump Fail";
    default: return "";
    }
}

bool IsAdapterFailure(uint8_t nStatus)
{
    return (nStatus >= 1 && nStatus <= 6) || nStatus == 8 || nStatus == 9 || nStatus == wire::kStatusPortFailed || nStatus >= 252;
}

// ---- the controller ----

TSensorLogger::TSensorLogger(TSession &session, IScreen &screen, ISensorLogView &view)
    : FSession(session), FLink(session.Link()), FScreen(screen), FView(view), FClock(session.Clock()),
      FHistory(kHistorySize)
{
}

float TSensorLogger::TimeOut() const { return static_cast<float>(FSession.DeviceCFG.mConnectTime) / 1000.0f; }

void TSensorLogger::Reset()
{
    if (FRunning)
        return;
    FCloseEnable = true;
    FLogStart = false;
    FBtnSel = 0;
}

RChartPoint TSensorLogger::History(int age) const
{
    if (age < 0 || age >= kHistorySize)
        return {};
    return FHistory[static_cast<size_t>((FHead + age) % kHistorySize)];
}

void TSensorLogger::PushHistory(const RChartPoint &point)
{
    FHead = (FHead + kHistorySize - 1) % kHistorySize;
    FHistory[static_cast<size_t>(FHead)] = point;
}

void TSensorLogger::RecordCommand(uint8_t nCode, uint8_t nStatus, const std::string &outcome)
{
    FCommands.append(QJsonObject{{QStringLiteral("command"), QString::fromLatin1(LogCommandName(nCode))},
                                 {QStringLiteral("code"), nCode},
                                 {QStringLiteral("status"), nStatus},
                                 {QStringLiteral("outcome"), QString::fromStdString(outcome)}});
    const char *job = nCode == kCalCodeClearPeak  ? kJobClearPeak
                      : nCode == kCalCodeBumpFail ? kJobBumpFail
                      : nCode == kCalCodeBumpPass ? kJobBumpPass
                                                  : nullptr;
    if (job)
        FQueued.push_back({job, nStatus, outcome,
                           QJsonObject{{QLatin1String(journal_data::kSource), QStringLiteral("logger")}},
                           QDateTime::currentDateTimeUtc(), {}});
}

void TSensorLogger::QueueCalibrationEnd(const char *result, const std::string &text)
{
    if (FCalCode == 0)
        return;
    // The calibration is on the record from the moment its command was sent:
    // OK, or a failure, time-out or stop with the exit table's kJobNotDone;
    // one still running when the run ends was started and not followed.
    const std::string r = result;
    const uint8_t status = r == "OK" || r == "started" ? 0 : kJobNotDone;
    const char *word = r == "OK"          ? outcome::kSuccess
                       : r == "started"   ? outcome::kStarted
                       : r == "User Stop" ? outcome::kStopped
                                          : outcome::kFailed;
    FQueued.push_back({kJobSensorCal, status, text,
                       QJsonObject{{QLatin1String(journal_data::kSource), QStringLiteral("logger")},
                                   {QLatin1String(journal_data::kResult), QLatin1String(result)},
                                   {QStringLiteral("command"), QString::fromLatin1(LogCommandName(FCalCode))}},
                       FCalSent, word});
    FCalCode = 0;
}

void TSensorLogger::RecordRun()
{
    if (!FJob)
        return;
    QueueCalibrationEnd("started", LogCommandName(FCalCode) + std::string(" ... START"));
    for (const RQueuedJob &q : FQueued)
        TDeviceJob(FSession, FScreen, q.mJob, false, q.mTime).Finish(q.mStatus, q.mText, q.mData, q.mOutcome);
    FQueued.clear();
    FJob->Finish(FEndStatus, {},
                     QJsonObject{{QStringLiteral("start"), FRunStart},
                                 {QStringLiteral("end"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
                                 {QStringLiteral("readings"), FReadings},
                                 {QStringLiteral("csv"), QString::fromStdString(FFileFailed ? std::string() : FFileName)},
                                 {QStringLiteral("commands"), FCommands}});
    FJob.reset();
}

void TSensorLogger::Finish()
{
    RecordRun();
    FRunning = false;
    FLogStart = false;
    FCloseEnable = true;
    FView.LogStateChanged(false);
    FView.CalProgressChanged(0, FSession.DeviceCFG.mCalTime);
    FView.CalLabelChanged("", kToolBlack);
}

void TSensorLogger::Abort(const std::string &text)
{
    DropPort(FLink);
    ShowError(FScreen, text);
    FEndStatus = kStatusAborted;
    Finish();
}

void TSensorLogger::EndLoop()
{
    try {
        FLink.CloseUSB(FStatus);
    } catch (...) {
        DropPort(FLink);
    }
    Finish();
}

bool TSensorLogger::Start()
{
    if (FRunning)
        return false;
    FEndStatus = 0;
    FFileFailed = false;
    FReadings = 0;
    FJob.emplace(FSession, FScreen, kJobLog);
    FCommands = QJsonArray();
    FQueued.clear();
    FCalCode = 0;
    FFileName.clear();
    FRunStart = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    FLogStart = true;
    FCloseEnable = false;
    FView.LogStateChanged(true);
    FView.CalProgressChanged(0, FSession.DeviceCFG.mCalTime);
    FView.CalLabelChanged("", kToolBlack);

    RTamselIdenty identy{};
    RTamselUnitCFG unit{};
    const RDeviceCFG &settings = FSession.DeviceCFG;
    const ROpResult read = FJob->Linked({}, [&]() -> uint8_t {
        uint8_t status = TDetector(FSession).Connect(identy);
        if (status == 0)
            status = FLink.ReadUnitCFGData(unit, settings.mUnitPacketSize, settings.mUnitDataSize);
        return status;
    });
    if (read.mAborted) { // the error box has been shown
        FEndStatus = kStatusAborted;
        Finish();
        return false;
    }
    if (read.mStatus != 0) {
        FScreen.AdapterTrouble(IsAdapterTrouble(read.mStatus));
        FScreen.Message("Norvik Unit Information Error",
                        "Do not read Norvik unit configuration data\rCheck Norvik and Beamport connection",
                        MsgIcon::Error);
        FEndStatus = read.mStatus;
        Finish();
        return false;
    }

    FileChoice choice;
    choice.title = "Save Logging Data...";
    choice.filter = "Data file (*.csv)";
    choice.defaultExt = "csv";
    choice.initialDir = FSession.DeviceCFG.mLogSaveDir;
    choice.fileName = LogFileName(identy, FClock.WallNow());
    const std::optional<std::string> file = FScreen.ChooseSaveFile(choice);
    std::string fileName;
    if (file && !TrimText(*file).empty()) {
        fileName = *file;
        std::error_code ec;
        std::filesystem::path dir = std::filesystem::absolute(fileName, ec).parent_path();
        if (ec)
            dir = std::filesystem::path(fileName).parent_path();
        std::string dirText = dir.string();
        if (dirText.empty() || dirText.back() != '/')
            dirText += '/';
        FSession.DeviceCFG.mLogSaveDir = dirText;
        FSession.Store().SetSaveDirectory(TStoreGroup::Logging, dirText);
        FFileFailed = !WriteLogHeader(fileName, unit);
        if (FFileFailed && FFileRequired) {
            Finish();
            return false;
        }
    }
    return BeginLoop(fileName);
}

bool TSensorLogger::BeginLoop(const std::string &fileName)
{
    FFileName = fileName;
    std::fill(FHistory.begin(), FHistory.end(), RChartPoint{});
    FHead = 0;
    FAxisMin = 0;
    FAxisMax = FSession.DeviceCFG.mLogDisplayTime;
    FView.ChartReset(FAxisMin, FAxisMax, FSession.DeviceCFG.mLogDisplayTime / 10.0);

    const TDateTime now = FClock.Now();
    FNextConnection = now - 1.0;
    FNextReading = now - 1.0;
    FStartTime = now;
    FCalTime = now;
    FCalState = kCalIdle;
    FInterval = FSession.DeviceCFG.mLogInterval;
    FSensor = {};
    FBattery = {};
    FTemperature = {};
    FShownHistory = 0;
    FReadings = 0;
    // A press that came after the last pass of the previous run is not carried over.
    FBtnSel = 0;

    const bool opened = EndOnThrow(
        [this] {
            FStatus = FLink.OpenUSB(TimeOut());
            return true;
        },
        [this](const char *text) { Abort(text); });
    if (!opened)
        return false;
    FConnected = FStatus == 0;
    FRunning = true;
    return true;
}

bool TSensorLogger::Pass()
{
    if (!FRunning)
        return false;
    return EndOnThrow(
        [this] {
            if (!FLogStart) {
                EndLoop();
                return false;
            }
            if (IsAdapterFailure(FStatus)) {
                FLogStart = false;
                FScreen.AdapterTrouble(IsAdapterTrouble(FStatus));
                FScreen.Message("Beamport Error", "Beamport Error\rCheck Beamport connection\rData logging stopped",
                                MsgIcon::Error);
                FEndStatus = FStatus;
                EndLoop();
                return false;
            }
            if (FBtnSel != 0) {
                const RLogCommand command = LogCommand(FBtnSel);
                FBtnSel = 0;
                if (command.mCode != 0)
                    ExecuteCommand(command.mCode);
            }
            TrackCalibration(FClock.Now());
            Timing(FClock.Now());
            return true;
        },
        [this](const char *text) { Abort(text); });
}

void TSensorLogger::Shutdown()
{
    if (!FRunning)
        return;
    Stop();
    Pass();
}

void TSensorLogger::Run(TDateTime stopAt, const std::function<void()> &afterPass)
{
    while (Pass()) {
        if (afterPass)
            afterPass();
        FScreen.ProcessMessages();
        if (FLogStart && FClock.Now() >= stopAt)
            Stop();
        TDateTime due = NextDue();
        if (FLogStart && due > stopAt)
            due = stopAt;
        FClock.SleepUntil(due);
    }
}

TDateTime TSensorLogger::NextDue() const
{
    if (!FRunning)
        return kDueNever;
    if (!FLogStart || FBtnSel != 0 || IsAdapterFailure(FStatus))
        return kDueNow;
    const TDateTime link = FConnected ? std::min(FNextConnection, FNextReading) : FNextConnection;
    return std::min(link, TrackingDue());
}

TDateTime TSensorLogger::TrackingDue() const
{
    switch (FCalState) {
    case kCalStarted:
        return kDueNow;
    case kCalWaitProgress:
        return Shown(kHistoryCalProgress) ? kDueNow : AddSeconds(FCalTime, kProgressWaitSeconds + kToolTickSeconds);
    case kCalInProgress: {
        if (!Shown(kHistoryCalProgress))
            return kDueNow;
        // The progress shows whole seconds: the next pass falls where the
        // rounded value changes, or at the time limit.
        const double elapsed = (FClock.Now() - FCalTime) * kSecondsPerDayF;
        const double boundary = std::floor(elapsed + 0.5) + 0.5;
        return std::min(AddSeconds(FCalTime, boundary + kToolTickSeconds),
                        AddSeconds(FCalTime, FSession.DeviceCFG.mCalTime + kToolTickSeconds));
    }
    default:
        return kDueNever;
    }
}

void TSensorLogger::ExecuteCommand(uint8_t nCode)
{
    FView.CalLabelChanged("", kToolBlack);
    uint8_t status = FLink.ConnectTamselCheck();
    if (status != 0)
        status = FLink.ConnectTamsel(TimeOut());
    if (status == 0)
        status = FLink.SensorCalibration(nCode);

    const std::string name = LogCommandName(nCode);
    std::string outcome;
    const auto label = [&](const std::string &text, RColor color) {
        outcome = text;
        FView.CalLabelChanged(text, color);
    };
    if (status == 0) {
        switch (nCode) {
        case kCalCodeSpan:
        case kCalCodeZeroSpan:
            FView.CommandButtonsEnabled(false);
            FView.CalProgressChanged(0, FSession.DeviceCFG.mCalTime);
            FView.CalProgLabelChanged("(0)");
            FCalState = kCalStarted;
            FCalTime = FClock.Now();
            FCalCode = nCode;
            FCalSent = QDateTime::currentDateTimeUtc();
            label(name + " ... START", kToolBlack);
            break;
        case kCalCodeZero:
        case kCalCodeAbort:
            if (FCalState != kCalIdle)
                FCalState = kCalFinished;
            label(name + " ... OK", kToolBlack);
            if (nCode == kCalCodeAbort)
                QueueCalibrationEnd("User Stop", outcome);
            break;
        default:
            label(name + " ... OK", kToolBlack);
            break;
        }
    } else if (status == wire::kStatusNak) {
        label(name + " ... Negative", kToolDarkRed);
    } else if (status == wire::kStatusDeviceError) {
        label(name + (nCode == kCalCodeZeroSpan ? " ... Zero Cal. FAIL" : " ... FAIL"), kToolDarkRed);
    } else {
        label(name + " ... Communication Error", kToolDarkRed);
    }
    RecordCommand(nCode, status, outcome);
}

void TSensorLogger::TrackCalibration(TDateTime now)
{
    switch (FCalState) {
    case kCalStarted:
        FNextReading = now - 1.0;
        FInterval = 1;
        FCalState = kCalWaitProgress;
        break;
    case kCalWaitProgress:
        if (Shown(kHistoryCalProgress)) {
            FView.CalLabelChanged("Span Calibration....", kToolBlack);
            FCalTime = now;
            FCalState = kCalInProgress;
        } else if (SecondsPast((now - FCalTime) * kSecondsPerDayF, kProgressWaitSeconds)) {
            QueueCalibrationEnd("Time-out", "Calibration Abort ... Timeout");
            ExecuteCommand(kCalCodeAbort);
            FView.CalLabelChanged("Calibration Abort ... Timeout", kToolDarkRed);
            FCalState = kCalFinished;
        }
        break;
    case kCalInProgress: {
        const double elapsed = (now - FCalTime) * kSecondsPerDayF;
        const int shown = RoundToInt(elapsed);
        FView.CalProgressChanged(shown, FSession.DeviceCFG.mCalTime);
        FView.CalProgLabelChanged("(" + std::to_string(shown) + ")");
        if (Shown(kHistoryCalProgress)) {
            if (SecondsPast(elapsed, FSession.DeviceCFG.mCalTime)) {
                QueueCalibrationEnd("Time-out", "Calibration FAIL ... Timeout");
                ExecuteCommand(kCalCodeAbort);
                FView.CalLabelChanged("Calibration FAIL ... Timeout", kToolDarkRed);
                FCalState = kCalFinished;
            }
        } else {
            if (Shown(kHistoryCalFail)) {
                FView.CalLabelChanged("Calibration ... FAIL", kToolDarkRed);
                QueueCalibrationEnd("FAIL", "Calibration ... FAIL");
            } else {
                FView.CalLabelChanged("Calibration ... OK", kToolBlack);
                QueueCalibrationEnd("OK", "Calibration ... OK");
            }
            FCalState = kCalFinished;
        }
        break;
    }
    case kCalFinished:
        FInterval = FSession.DeviceCFG.mLogInterval;
        FView.CommandButtonsEnabled(true);
        break;
    default:
        break;
    }
}

void TSensorLogger::Timing(TDateTime now)
{
    // While the link is down only the connection pace counts: an overdue
    // reading must not turn reconnection attempts into a busy loop.
    const bool due = now >= FNextConnection || (FConnected && now >= FNextReading);
    if (!due)
        return;
    if (FConnected) {
        if (now < FNextReading) {
            FStatus = FLink.ConnectTamselCheck();
        } else {
            FStatus = FLink.RequireSensor(FSensor, wire::kReadGas);
            if (FStatus == 0 && FPollBattery)
                FStatus = FLink.RequireSensor(FBattery, wire::kReadBattery);
            if (FStatus == 0 && FPollTemperature)
                FStatus = FLink.RequireSensor(FTemperature, wire::kReadTemperature);
            if (FStatus == 0)
                ShowReading((FClock.Now() - FStartTime) * kSecondsPerDayF);
            // Counted from the pass that fell due, so the readings keep their pace.
            FNextReading = AddSeconds(now, std::max<uint16_t>(FInterval, 1));
        }
        if (FStatus != 0)
            FConnected = false;
    } else {
        FStatus = FLink.ConnectTamsel(TimeOut());
        if (FStatus == 0)
            FConnected = true;
    }
    FNextConnection = AddMilliseconds(FClock.Now(), std::max<uint16_t>(FSession.DeviceCFG.mLogConnectTime, 1));
}

void TSensorLogger::ShowReading(double rElapsed)
{
    const RSensorLogDisplay shown = LogDisplay(FSensor, FBattery, FTemperature, rElapsed);
    FShownHistory = FSensor.mHistory;
    ++FReadings;
    FView.ReadingShown(shown);
    const RChartPoint point{rElapsed, shown.mChartValue};
    PushHistory(point);
    ExtendChart(point);
    // The row carries the time of day as the user's clock shows it now; the
    // chart's x above stays on the monotonic scale.
    if (!TrimText(FFileName).empty())
        AppendLine(FFileName, LogRow(FClock.WallNow(), FSensor, FBattery, FTemperature) + "\r\n");
}

void TSensorLogger::ExtendChart(const RChartPoint &point)
{
    if (point.mX <= FAxisMax) {
        FView.ChartAdded(point);
        return;
    }
    const double width = FSession.DeviceCFG.mLogDisplayTime;
    const double step = width / 10.0;
    if (step > 0) {
        const double steps = std::ceil((point.mX - FAxisMax) / step);
        FAxisMax += steps * step;
        while (FAxisMax < point.mX)
            FAxisMax += step;
    } else {
        FAxisMax = point.mX;
    }
    FAxisMin = FAxisMax - width;

    // The oldest entry still inside the window, looking from the oldest
    // towards the newest; the newest when none is.
    int from = 0;
    for (int age = kHistorySize - 1; age >= 0; --age) {
        if (History(age).mX >= FAxisMin) {
            from = age;
            break;
        }
    }
    std::vector<RChartPoint> points;
    points.reserve(static_cast<size_t>(from) + 1);
    for (int age = from; age >= 0; --age)
        points.push_back(History(age));
    FView.ChartMoved(FAxisMin, FAxisMax, points);
}
