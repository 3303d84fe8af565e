// The sensor reading logger against the simulated detector on a fake clock:
// reading and keep-alive timing, reconnection, the adapter-failure stop,
// commands between passes, calibration tracking, the chart window and the
// CSV file.
#include <gtest/gtest.h>

#include <map>
#include <thread>

#include <QJsonArray>
#include <QLocale>
#include <cstring>
#include <fstream>
#include <sstream>

#include "app/status.h"
#include "tools/tool_common.h"
#include "support/capturing_journal.h"
#include "tools_fixture.h"

using namespace toolstest;
namespace fs = std::filesystem;

namespace {

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> SplitCrLf(const std::string &text)
{
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            lines.push_back(text.substr(at));
            break;
        }
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

RTamselSensor Reading(uint16_t value, uint16_t peak, uint8_t history, uint8_t alarm = 0)
{
    RTamselSensor r;
    r.mSensor = value;
    r.mPeak = peak;
    r.mHistory = history;
    r.mAlarm = alarm;
    return r;
}

class LoggerTest : public ToolsTest {
protected:
    void SetUp() override
    {
        ToolsTest::SetUp();
        session.DeviceCFG.mLogInterval = 1;
        session.DeviceCFG.mLogConnectTime = 800;
        session.DeviceCFG.mLogDisplayTime = 120;
        session.DeviceCFG.mCalTime = 30;
    }

    // Start with the save dialog cancelled (or answered with `file`).
    bool Begin(const std::optional<std::string> &file = std::nullopt)
    {
        screen.saveFiles.push_back(file);
        logger.Reset();
        return logger.Start();
    }

    // Passes, sleeping on the fake clock, until it reaches `seconds` (the loop goes on).
    void RunTo(double seconds)
    {
        const TDateTime until = AddSeconds(kT0, seconds);
        for (int guard = 0; guard < 200000 && logger.Running(); ++guard) {
            if (!logger.Pass())
                return;
            const TDateTime due = logger.NextDue();
            if (due > until) {
                clock.SleepUntil(until);
                return;
            }
            clock.SleepUntil(due);
        }
        ASSERT_FALSE(logger.Running()) << "the loop did not reach " << seconds << " s";
    }

    void End()
    {
        logger.Stop();
        EXPECT_FALSE(logger.Pass());
        EXPECT_FALSE(logger.Running());
    }

    TRecordingLogView view{clock};
    TSensorLogger logger{session, screen, view};
};

} // namespace

// ---- texts and the file ----

TEST(LoggerTexts, HeaderLines)
{
    RTamselUnitCFG unit{};
    std::memcpy(unit.mSerial, "SN12\0xxxxx", 10);
    unit.mFWVersion = 14;
    unit.mLifeRemaining = 2628000 * 5 + 86400 * 2 + 1;
    unit.mAlarmCount = 7;
    unit.mAlarmTime = 0xFFFFFFFF; // printed as it is, "not set" or not
    unit.mTestCount = 3;
    const std::vector<std::string> expected = {
        "Product Name,Corvane Norvik",
        "Log Type,Data Log",
        "Serial Number,SN12",
        "Firmware Version,1.4",
        "Life Remaining,5months 3 days",
        "Total Number of Events,7",
        "Duration of events,4294967295",
        "Number of self-tests,3",
        "",
        "Time,Sensor,Sensor Peak,Self-test failed,Last cal failed,Last bump failed,Calibration due,Bump due,"
        "Calibration Progress,LOW Alarm,HIGH Alarm,Battery,Battery ADC,Temperature,Temperature ADC",
    };
    EXPECT_EQ(LogHeaderLines(unit), expected);

    const struct {
        uint32_t life;
        const char *text;
    } lives[] = {{0, "1 days"}, {86401, "2 days"}, {2628000, "31 days"}, {2 * 2628000 - 10, "2months 0 days"},
                 {63072000, "24months 0 days"}};
    for (const auto &l : lives)
        EXPECT_EQ(LogLifeText(l.life), l.text) << l.life;
}

TEST(LoggerTexts, RowsKeepThePointUnderACommaLocale)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German));
    const TDateTime t = AddSeconds(kT0, 3723.045); // 13:02:03.045
    const struct {
        RTamselSensor sensor, battery, temperature;
        const char *row;
    } rows[] = {
        {Reading(0x7FFF, 250, 0x01), Reading(300, 712, 0x02), Reading(235, 1876, 0x01),
         "03-15 13:02:03:045,OL,25.0,,,,,,,,,3.00,712,23.5,1876"},
        {Reading(65535, 0, 0x01), Reading(0, 0, 0), Reading(0, 0, 0), "03-15 13:02:03:045,-0.1,0.0,,,,,,,,,0,0,0,0"},
        {Reading(1234, 1500, 0xFF, 0x1F), Reading(4, 5, 0x03), Reading(6, 7, 0),
         "03-15 13:02:03:045,1.234,1.500,YES,YES,YES,YES,YES,YES,LOW,HIGH,0.004,5,6,7"},
        {Reading(150, 150, 0x05, 0x04), Reading(1, 1, 0), Reading(1, 1, 0),
         "03-15 13:02:03:045,15.0,15.0,YES,,,,,,LOW,,1,1,1,1"},
    };
    for (const auto &r : rows)
        EXPECT_EQ(LogRow(t, r.sensor, r.battery, r.temperature), r.row);
    const RSensorLogDisplay over = LogDisplay(rows[0].sensor, rows[0].battery, rows[0].temperature, 2.5);
    EXPECT_EQ(over.mSensorValue, "OL");
    EXPECT_FLOAT_EQ(over.mChartValue, 3276.7f);
    const RSensorLogDisplay flags = LogDisplay(rows[3].sensor, rows[3].battery, rows[3].temperature, 0);
    EXPECT_EQ(flags.mHistory, (std::array<bool, 6>{true, false, false, false, false, false}));
    EXPECT_EQ(flags.mAlarm, (std::array<bool, 5>{false, false, true, false, false}));
    // The labels take the user's separator.
    EXPECT_EQ(LocaleDecimal("23.5"), "23,5");
    EXPECT_EQ(LocaleDecimal("OL"), "OL");
    QLocale::setDefault(saved);
}

// ---- the loop ----

TEST_F(LoggerTest, ReadingsAndKeepAlivesKeepTheirPace)
{
    const struct {
        uint16_t interval, connectMs;
        double until;
        std::vector<double> readings, checks;
    } cases[] = {
        {1, 800, 3.5, {0, 1, 2, 3}, {0.8, 1.8, 2.8}},
        {2, 800, 4.5, {0, 2, 4}, {0.8, 1.6, 2.8, 3.6}},
        {3, 1000, 6.5, {0, 3, 6}, {1, 2, 4, 5}},
    };
    StartSim();
    RecordTraffic();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.interval);
        session.DeviceCFG.mLogInterval = c.interval;
        session.DeviceCFG.mLogConnectTime = c.connectMs;
        clock.SetSeconds(0);
        sent.clear();
        view.readings.clear();
        ASSERT_TRUE(Begin());
        RunTo(c.until);
        ExpectTimes(view.ReadingTimes(), c.readings);
        ExpectTimes(SentAt(0x20), c.readings);
        ExpectTimes(SentAt(0x21), c.readings);
        ExpectTimes(SentAt(0x22), c.readings);
        ExpectTimes(SentAt(0xB2), c.checks);
        End();
    }
    EXPECT_TRUE(screen.messages.empty());
    EXPECT_GT(clock.FSleeps, 0);
}

TEST_F(LoggerTest, ThePassWaitsForItsDueTimeInsteadOfSpinning)
{
    StartSim();
    ASSERT_TRUE(Begin());
    EXPECT_LE(logger.NextDue(), clock.Now()); // the first reading is due at once
    ASSERT_TRUE(logger.Pass());
    EXPECT_NEAR((logger.NextDue() - kT0) * 86400, 0.8, 1e-6);
    // A pass before the due time does no link work.
    const int before = sim->CommandCount(0x20) + sim->CommandCount(0xB2);
    ASSERT_TRUE(logger.Pass());
    EXPECT_EQ(sim->CommandCount(0x20) + sim->CommandCount(0xB2), before);
    // A press or a stop is due at once.
    logger.Press(kLogBtnClearPeak);
    EXPECT_LE(logger.NextDue(), clock.Now());
    End();
}

TEST_F(LoggerTest, CancelledSaveDialogLogsWithoutAFile)
{
    StartSim();
    session.DeviceCFG.mLogSaveDir = dir.string() + "/";
    ASSERT_TRUE(Begin());
    ASSERT_EQ(screen.fileRequests.size(), 1u);
    const FileChoice &choice = screen.fileRequests[0].mChoice;
    EXPECT_TRUE(screen.fileRequests[0].mSave);
    EXPECT_EQ(choice.title, "Save Logging Data...");
    EXPECT_EQ(choice.defaultExt, "csv");
    EXPECT_EQ(choice.initialDir, dir.string() + "/");
    EXPECT_EQ(choice.fileName, "NV00012345_DAT_230315120000.CSV");
    EXPECT_FALSE(logger.CloseEnabled());
    RunTo(2.5);
    EXPECT_EQ(view.readings.size(), 3u);
    EXPECT_EQ(view.added.size(), 3u);
    End();
    EXPECT_TRUE(logger.CloseEnabled());
    for (const auto &entry : fs::directory_iterator(dir))
        EXPECT_NE(entry.path().extension(), ".csv") << entry.path();
}

TEST_F(LoggerTest, WritesHeaderAndRowsAndRemembersTheFolder)
{
    StartSim();
    const std::string file = Path("run.csv");
    std::ofstream(file) << "an older file of that name is replaced\n";
    ASSERT_TRUE(Begin(file));
    EXPECT_EQ(session.DeviceCFG.mLogSaveDir, dir.string() + "/");
    EXPECT_EQ(session.Store().SaveDirectory(TStoreGroup::Logging), dir.string() + "/");
    RunTo(1.5);
    End();
    const std::string text = ReadFile(file);
    const std::vector<std::string> lines = SplitCrLf(text);
    ASSERT_EQ(lines.size(), 14u) << text;
    EXPECT_EQ(lines[0], "Product Name,Corvane Norvik");
    EXPECT_EQ(lines[2], "Serial Number,SH10000000");
    EXPECT_EQ(lines[8], "");
    EXPECT_EQ(lines[10], "03-15 12:00:00:000,0.0,0.0,,,,,,,,,3.00,712,23.5,1876");
    EXPECT_EQ(lines[11], "");
    EXPECT_EQ(lines[12], "03-15 12:00:01:000,0.0,0.0,,,,,,,,,3.00,712,23.5,1876");
    EXPECT_EQ(lines[13], "");
    EXPECT_EQ(text.substr(text.size() - 4), "\r\n\r\n");
}

TEST_F(LoggerTest, RowsFollowTheWallClockWhileTheChartKeepsElapsedTime)
{
    // The clock is put forward one hour (daylight saving) after the second
    // reading, and back again after the fourth.
    StartSim();
    ASSERT_TRUE(Begin(Path("dst.csv")));
    RunTo(1.5);
    clock.FWallOffset = 1.0 / 24;
    RunTo(3.5);
    clock.FWallOffset = 0;
    RunTo(4.5);
    End();
    const std::vector<std::string> lines = SplitCrLf(ReadFile(Path("dst.csv")));
    ASSERT_EQ(lines.size(), 20u);
    std::vector<std::string> stamps;
    for (size_t i = 10; i < lines.size(); i += 2)
        stamps.push_back(lines[i].substr(0, 18));
    EXPECT_EQ(stamps, (std::vector<std::string>{"03-15 12:00:00:000", "03-15 12:00:01:000", "03-15 13:00:02:000",
                                                "03-15 13:00:03:000", "03-15 12:00:04:000"}));
    ExpectTimes(view.ReadingTimes(), {0, 1, 2, 3, 4});
    ASSERT_EQ(view.added.size(), 5u); // no jump: every point inside the first window
    EXPECT_NEAR(view.added[2].mX, 2, 1e-4);
}

TEST_F(LoggerTest, AFileThatCannotBeWrittenStopsTheStartOnlyWhenRequired)
{
    StartSim();
    for (const bool required : {false, true}) {
        SCOPED_TRACE(required);
        view.readings.clear();
        logger.SetFileRequired(required);
        EXPECT_EQ(Begin(Path("missing/run.csv")), !required);
        EXPECT_TRUE(logger.FileFailed());
        if (!required) { // the dialog logs on without the file
            RunTo(1.5);
            End();
        }
        EXPECT_FALSE(logger.Running());
        EXPECT_FALSE(sim->Awake()); // the link is closed either way
        EXPECT_EQ(logger.Readings(), required ? 0 : 2);
        EXPECT_EQ(view.readings.size(), required ? 0u : 2u);
    }
}

TEST_F(LoggerTest, UncheckedChannelsRepeatTheirLastValues)
{
    StartSim();
    const std::string file = Path("channels.csv");
    logger.SetPollBattery(false);
    ASSERT_TRUE(Begin(file));
    RunTo(0.5);
    logger.SetPollBattery(true);
    RunTo(1.5);
    logger.SetPollTemperature(false);
    sim->SetReading(1, {111, 222, 0, 0});
    sim->SetReading(2, {333, 444, 0, 0});
    RunTo(2.5);
    End();
    const std::vector<std::string> lines = SplitCrLf(ReadFile(file));
    ASSERT_EQ(lines.size(), 16u);
    EXPECT_EQ(lines[10].substr(19), "0.0,0.0,,,,,,,,,0,0,23.5,1876");       // battery never read yet
    EXPECT_EQ(lines[12].substr(19), "0.0,0.0,,,,,,,,,3.00,712,23.5,1876");  // battery polled again
    EXPECT_EQ(lines[14].substr(19), "0.0,0.0,,,,,,,,,333,444,23.5,1876");   // temperature repeats
}

TEST_F(LoggerTest, ADeletedFileIsSkippedSilently)
{
    StartSim();
    const std::string file = Path("deleted.csv");
    ASSERT_TRUE(Begin(file));
    RunTo(1.5);
    ASSERT_TRUE(fs::remove(file));
    RunTo(3.5);
    End();
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(view.readings.size(), 4u);
    EXPECT_TRUE(screen.messages.empty());
}

TEST_F(LoggerTest, ASilentDetectorOnlyCausesReconnectionAttempts)
{
    StartSim();
    RecordTraffic();
    ASSERT_TRUE(Begin());
    sent.clear();
    RunTo(0.5);
    SimOptions o = sim->Options();
    o.absent = true;
    sim->SetOptions(o);
    RunTo(2.5); // the check at 0.8 fails; reconnection at 1.6 and 2.4 fails
    o.absent = false;
    sim->SetOptions(o);
    RunTo(4.5); // reconnection at 3.2, then the overdue reading at once
    ExpectTimes(SentAt(0), {1.6, 2.4, 3.2});
    ExpectTimes(SentAt(0xB2), {0.8, 4.0});
    ExpectTimes(view.ReadingTimes(), {0, 3.2, 4.2});
    EXPECT_TRUE(screen.messages.empty());
    End();
}

TEST_F(LoggerTest, AnUnpluggedAdapterStopsLogging)
{
    StartSim();
    const std::string file = Path("unplugged.csv");
    ASSERT_TRUE(Begin(file));
    RunTo(1.5);
    sim->Vanish();
    RunTo(10);
    EXPECT_FALSE(logger.Running());
    EXPECT_EQ(logger.EndStatus(), 161);
    ASSERT_EQ(screen.messages.size(), 1u);
    EXPECT_EQ(screen.messages[0].mCaption, "Beamport Error");
    EXPECT_EQ(screen.messages[0].mText, "Beamport Error\rCheck Beamport connection\rData logging stopped");
    EXPECT_EQ(screen.messages[0].mIcon, MsgIcon::Error);
    EXPECT_TRUE(logger.CloseEnabled());
    EXPECT_EQ(view.states.back(), false);
    EXPECT_EQ(SplitCrLf(ReadFile(file)).size(), 14u); // the two rows written so far stay
}

TEST_F(LoggerTest, AFailedUnitReadShowsOneMessageAndStaysIdle)
{
    SimOptions o;
    o.product_id = 1;
    StartSim(o);
    EXPECT_FALSE(Begin());
    ASSERT_EQ(screen.messages.size(), 1u);
    EXPECT_EQ(screen.messages[0].mCaption, "Norvik Unit Information Error");
    EXPECT_EQ(screen.messages[0].mText,
              "Do not read Norvik unit configuration data\rCheck Norvik and Beamport connection");
    EXPECT_TRUE(screen.fileRequests.empty());
    EXPECT_EQ(logger.EndStatus(), 146);
    EXPECT_TRUE(logger.CloseEnabled());
    EXPECT_EQ(view.states, (std::vector<bool>{true, false}));
}

TEST_F(LoggerTest, APortErrorLeavesTheLoggerUsable)
{
    UsePort(Path("no-such-tty"));
    EXPECT_FALSE(Begin());
    ASSERT_EQ(screen.messages.size(), 1u);
    EXPECT_EQ(screen.messages[0].mCaption, kProgramTitle);
    EXPECT_TRUE(logger.CloseEnabled());
    EXPECT_FALSE(logger.Running());
    EXPECT_EQ(logger.EndStatus(), kStatusAborted);

    // The same when the port goes away between the unit read and the loop.
    StartSim();
    struct TSwitchingScreen : TFakeScreen {
        TComTamsel *link = nullptr;
        std::string next;
        std::optional<std::string> ChooseSaveFile(const FileChoice &c) override
        {
            link->SetPortChoice(next);
            return TFakeScreen::ChooseSaveFile(c);
        }
    } switching;
    switching.link = &link;
    switching.next = Path("no-such-tty");
    TSensorLogger second(session, switching, view);
    second.Reset();
    EXPECT_FALSE(second.Start());
    ASSERT_EQ(switching.messages.size(), 1u);
    EXPECT_EQ(switching.messages[0].mCaption, kProgramTitle);
    EXPECT_TRUE(second.CloseEnabled());

    // And it logs again once the port is back.
    UsePort(sim->DevicePath());
    screen.messages.clear();
    ASSERT_TRUE(Begin());
    RunTo(0.5);
    EXPECT_EQ(view.readings.size(), 1u);
    End();
}

// ---- commands ----

TEST_F(LoggerTest, CommandsSendTheirCodeAndLabel)
{
    const struct {
        uint8_t btn, code;
        const char *label;
    } cases[] = {
        {kLogBtnZero, 0x40, "Zero CAL. ... OK"},           {kLogBtnCalAbort, 0x43, "Clear CAL. ... OK"},
        {kLogBtnClearPeak, 0x44, "Clear Peak ... OK"},     {kLogBtnBumpPass, 0x46, "Send Bump Pass ... OK"},
        {kLogBtnBumpFail, 0x45, "Send Bump Fail ... OK"},  {kLogBtnSpan, 0x41, "Span CAL. ... START"},
        {kLogBtnCalibration, 0x42, "Zero/Span CAL. ... START"},
    };
    StartSim();
    ASSERT_TRUE(Begin());
    RunTo(0.5);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        const int before = sim->CommandCount(c.code);
        logger.Press(c.btn);
        ASSERT_TRUE(logger.Pass());
        EXPECT_EQ(sim->CommandCount(c.code), before + 1);
        EXPECT_EQ(logger.BtnSel(), 0);
        EXPECT_EQ(view.LastLabel(), c.label);
        EXPECT_EQ(view.labels.back().mColor, kToolBlack);
    }
    // Two presses between passes: only the second is sent.
    logger.Press(kLogBtnClearPeak);
    logger.Press(kLogBtnBumpFail);
    const int peaks = sim->CommandCount(0x44), fails = sim->CommandCount(0x45);
    ASSERT_TRUE(logger.Pass());
    EXPECT_EQ(sim->CommandCount(0x44), peaks);
    EXPECT_EQ(sim->CommandCount(0x45), fails + 1);
    End();
}

TEST_F(LoggerTest, FailedCommandsOnlyShowTheirLabel)
{
    const struct {
        uint8_t btn, code;
        SimFault fault;
        const char *label;
    } cases[] = {
        {kLogBtnClearPeak, 0x44, SimFault::kNak, "Clear Peak ... Negative"},
        {kLogBtnCalibration, 0x42, SimFault::kError, "Zero/Span CAL. ... Zero Cal. FAIL"},
        {kLogBtnSpan, 0x41, SimFault::kError, "Span CAL. ... FAIL"},
        {kLogBtnBumpPass, 0x46, SimFault::kDrop, "Send Bump Pass ... Communication Error"},
    };
    SimOptions o;
    o.error_code = 0xB1;
    StartSim(o);
    ASSERT_TRUE(Begin());
    RunTo(0.5);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        sim->SetFault(c.code, c.fault, 1);
        logger.Press(c.btn);
        ASSERT_TRUE(logger.Pass());
        EXPECT_EQ(view.LastLabel(), c.label);
        EXPECT_EQ(view.labels.back().mColor, kToolDarkRed);
        EXPECT_EQ(logger.CalState(), kCalIdle);
        EXPECT_EQ(logger.Status(), 0); // the loop's status is not touched
    }
    RunTo(2.5);
    EXPECT_EQ(view.readings.size(), 3u);
    End();
}

// ---- calibration tracking ----

TEST_F(LoggerTest, CalibrationWithoutProgressIsAbortedAfterTenSeconds)
{
    SimOptions o;
    o.calibration_ms = 0; // the detector never reports progress
    StartSim(o);
    RecordTraffic();
    session.DeviceCFG.mLogInterval = 5;
    ASSERT_TRUE(Begin());
    RunTo(0.5);
    logger.Press(kLogBtnCalibration);
    ASSERT_TRUE(logger.Pass());
    EXPECT_EQ(logger.CalState(), kCalWaitProgress); // 1 -> 2 in the same pass
    EXPECT_EQ(logger.Interval(), 1);
    EXPECT_EQ(view.buttons, (std::vector<bool>{false}));
    RunTo(10.4);
    EXPECT_EQ(logger.CalState(), kCalWaitProgress);
    EXPECT_TRUE(SentAt(0x43).empty());
    RunTo(11);
    ExpectTimes(SentAt(0x43), {10.501});
    EXPECT_EQ(logger.CalState(), kCalFinished);
    EXPECT_EQ(view.LastLabel(), "Calibration Abort ... Timeout");
    EXPECT_EQ(view.labels.back().mColor, kToolDarkRed);
    RunTo(12);
    EXPECT_EQ(logger.Interval(), 5);
    EXPECT_EQ(view.buttons.back(), true);
    // Readings every second while tracking, whatever the interval says.
    ExpectTimes(view.ReadingTimes(), {0, 0.5, 1.5, 2.5, 3.5, 4.5, 5.5, 6.5, 7.5, 8.5, 9.5, 10.5, 11.5});
    End();
}

TEST_F(LoggerTest, CalibrationFollowsTheProgressFlagToItsEnd)
{
    const struct {
        uint8_t endHistory;
        const char *label;
        RColor color;
    } cases[] = {
        {0x01, "Calibration ... OK", kToolBlack},
        {0x09, "Calibration ... FAIL", kToolDarkRed},
    };
    SimOptions o;
    o.calibration_ms = 0;
    StartSim(o);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        clock.SetSeconds(0);
        sim->SetReading(0, {0, 0, 0x01, 0});
        view.labels.clear();
        view.progLabels.clear();
        ASSERT_TRUE(Begin());
        RunTo(0.5);
        logger.Press(kLogBtnSpan);
        sim->SetReading(0, {0, 0, 0x81, 0});
        RunTo(0.6); // the reading of the press shows the flag
        EXPECT_EQ(logger.CalState(), kCalInProgress);
        EXPECT_EQ(view.LastLabel(), "Span Calibration....");
        RunTo(4.2);
        EXPECT_EQ(view.progLabels.back(), "(4)");
        EXPECT_EQ(logger.CalState(), kCalInProgress);
        sim->SetReading(0, {0, 0, c.endHistory, 0});
        RunTo(5.6);
        EXPECT_EQ(logger.CalState(), kCalFinished);
        EXPECT_EQ(view.LastLabel(), c.label);
        EXPECT_EQ(view.labels.back().mColor, c.color);
        EXPECT_NEAR(view.labels.back().mAt, 4.5, 1e-6); // right after the reading that cleared the flag
        End();
    }
}

TEST_F(LoggerTest, CalibrationThatOutlastsItsTimeIsAborted)
{
    SimOptions o;
    o.calibration_ms = 0;
    StartSim(o);
    RecordTraffic();
    session.DeviceCFG.mCalTime = 30;
    ASSERT_TRUE(Begin());
    RunTo(0.5);
    sim->SetReading(0, {0, 0, 0x81, 0});
    logger.Press(kLogBtnCalibration);
    RunTo(30.4);
    EXPECT_EQ(logger.CalState(), kCalInProgress);
    EXPECT_TRUE(SentAt(0x43).empty());
    RunTo(31);
    ExpectTimes(SentAt(0x43), {30.501});
    EXPECT_EQ(view.LastLabel(), "Calibration FAIL ... Timeout");
    EXPECT_EQ(view.labels.back().mColor, kToolDarkRed);
    EXPECT_EQ(logger.CalState(), kCalFinished);
    End();
}

TEST_F(LoggerTest, ZeroOrAbortEndsATrackedCalibration)
{
    SimOptions o;
    o.calibration_ms = 0;
    StartSim(o);
    session.DeviceCFG.mLogInterval = 4;
    for (uint8_t stop : {kLogBtnZero, kLogBtnCalAbort}) {
        SCOPED_TRACE(int(stop));
        clock.SetSeconds(0);
        sim->SetReading(0, {0, 0, 0x81, 0});
        view.buttons.clear();
        ASSERT_TRUE(Begin());
        RunTo(0.5);
        logger.Press(kLogBtnCalibration);
        RunTo(3);
        EXPECT_EQ(logger.CalState(), kCalInProgress);
        logger.Press(stop);
        RunTo(3.5);
        EXPECT_EQ(logger.CalState(), kCalFinished);
        EXPECT_EQ(logger.Interval(), 4);
        EXPECT_EQ(view.buttons.back(), true);
        End();
    }
}

// ---- the chart ----

TEST_F(LoggerTest, TheChartWindowMovesInTenths)
{
    StartSim();
    session.DeviceCFG.mLogInterval = 11;
    session.DeviceCFG.mLogDisplayTime = 120;
    ASSERT_TRUE(Begin());
    ASSERT_EQ(view.resets.size(), 1u);
    EXPECT_EQ(view.resets[0].mMin, 0);
    EXPECT_EQ(view.resets[0].mMax, 120);
    EXPECT_EQ(view.resets[0].mTick, 12);
    RunTo(110.5);
    EXPECT_EQ(view.added.size(), 11u);
    EXPECT_TRUE(view.moved.empty());
    RunTo(121.5);
    ASSERT_EQ(view.moved.size(), 1u);
    EXPECT_DOUBLE_EQ(view.moved[0].mMin, 12);
    EXPECT_DOUBLE_EQ(view.moved[0].mMax, 132);
    std::vector<double> xs;
    for (const RChartPoint &p : view.moved[0].mPoints)
        xs.push_back(p.mX);
    ExpectTimes(xs, {22, 33, 44, 55, 66, 77, 88, 99, 110, 121});
    EXPECT_NEAR(logger.History(0).mX, 121, 1e-4);
    EXPECT_NEAR(logger.History(11).mX, 0, 1e-4);
    EXPECT_EQ(logger.History(12).mX, -1.0);
    End();
}

TEST_F(LoggerTest, EachRunStartsAFreshChartAndHistory)
{
    StartSim();
    ASSERT_TRUE(Begin());
    RunTo(2.5);
    End();
    logger.Press(kLogBtnZero); // pressed after the last pass: not carried into the next run
    clock.SetSeconds(100);
    ASSERT_TRUE(Begin());
    EXPECT_EQ(logger.History(0).mX, -1.0);
    EXPECT_EQ(logger.BtnSel(), 0);
    EXPECT_EQ(view.resets.size(), 2u);
    RunTo(100.5);
    EXPECT_NEAR(logger.History(0).mX, 0, 1e-4);
    EXPECT_EQ(logger.History(1).mX, -1.0);
    EXPECT_EQ(sim->CommandCount(0x40), 0);
    End();
}

TEST_F(LoggerTest, RunStopsAtItsTimeAndClosesTheLink)
{
    StartSim();
    ASSERT_TRUE(Begin());
    logger.Run(AddSeconds(kT0, 5.5));
    EXPECT_FALSE(logger.Running());
    EXPECT_EQ(view.readings.size(), 6u);
    EXPECT_EQ(sim->CommandCount(0xB3), 2); // after the unit read, and at the end of the loop
    EXPECT_FALSE(sim->Awake());
    EXPECT_EQ(logger.EndStatus(), 0);
}

TEST_F(LoggerTest, TheRunAndItsReportsAreOnTheRecordOnceTheDetectorIsLetGo)
{
    TCapturingJournal &journal = CaptureJournal();
    SimOptions o;
    o.calibration_ms = 0;
    StartSim(o);
    ASSERT_TRUE(Begin());
    RunTo(0.5);
    logger.Press(kLogBtnBumpPass);
    ASSERT_TRUE(logger.Pass());
    logger.Press(kLogBtnZero);
    ASSERT_TRUE(logger.Pass());
    RunTo(3.5);
    EXPECT_TRUE(journal.records.empty()); // nothing while the run holds the detector
    End();
    ASSERT_EQ(journal.records.size(), 2u);
    const RJobRecord &bump = journal.records[0];
    EXPECT_EQ(bump.mJob, "bump-pass");
    EXPECT_EQ(bump.mStatus, 0);
    EXPECT_EQ(bump.mText, "Send Bump Pass ... OK");
    EXPECT_EQ(bump.mData.value(QLatin1String("source")).toString(), "logger");
    EXPECT_TRUE(bump.mIdentity); // the detector the run read at its start
    const RJobRecord &run = journal.records[1];
    EXPECT_EQ(run.mJob, "log");
    EXPECT_EQ(run.mData.value(QLatin1String("readings")).toInt(), logger.Readings());
    const QJsonArray commands = run.mData.value(QLatin1String("commands")).toArray();
    ASSERT_EQ(commands.size(), 2);
    EXPECT_EQ(commands[0].toObject().value(QLatin1String("command")).toString(), "Send Bump Pass");
    EXPECT_EQ(commands[1].toObject().value(QLatin1String("outcome")).toString(), "Zero CAL. ... OK");
}

// A report sent during a run is on the record with the time it was sent; a
// followed calibration with its outcome and 68 when it did not succeed; one
// still running when the run ends was started, nothing more.
TEST_F(LoggerTest, CommandsOfARunCarryTheirOwnTimeAndOutcome)
{
    TCapturingJournal &journal = CaptureJournal();
    SimOptions o;
    o.calibration_ms = 0;
    StartSim(o);
    sim->SetReading(0, {0, 0, 0x81, 0});
    ASSERT_TRUE(Begin());
    const QDateTime runStart = QDateTime::currentDateTimeUtc();
    RunTo(0.5);
    logger.Press(kLogBtnCalibration); // followed, then stopped with Clear CAL.
    RunTo(3);
    logger.Press(kLogBtnCalAbort);
    RunTo(3.5);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200)); // the report comes later in the run
    const QDateTime sent = QDateTime::currentDateTimeUtc();
    logger.Press(kLogBtnBumpPass);
    RunTo(4);
    logger.Press(kLogBtnCalibration); // still running when the run ends
    RunTo(5);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    End();
    std::map<std::string, std::vector<const RJobRecord *>> byJob;
    for (const RJobRecord &r : journal.records)
        byJob[r.mJob].push_back(&r);
    ASSERT_EQ(byJob["bump-pass"].size(), 1u);
    const RJobRecord &bump = *byJob["bump-pass"][0];
    EXPECT_LE(std::abs(bump.mTime.msecsTo(sent)), 300) << bump.mTime.toString(Qt::ISODateWithMs).toStdString();
    EXPECT_EQ(DeriveOutcome(bump.mJob, bump.mStatus), "declared");
    ASSERT_EQ(byJob["sensor-cal"].size(), 2u);
    EXPECT_EQ(byJob["sensor-cal"][0]->mOutcome, "stopped");
    EXPECT_EQ(byJob["sensor-cal"][0]->mStatus, 68);
    EXPECT_LT(byJob["sensor-cal"][0]->mTime, sent.addMSecs(-1000));
    EXPECT_EQ(byJob["sensor-cal"][1]->mOutcome, "started");
    EXPECT_EQ(byJob["sensor-cal"][1]->mStatus, 0);
    ASSERT_EQ(byJob["log"].size(), 1u);
    EXPECT_LE(std::abs(byJob["log"][0]->mTime.msecsTo(runStart)), 300);
}
