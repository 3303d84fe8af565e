// The calibration tool against the simulated detector on a fake clock: the
// remembered span gas, the oxygen rule, writing the span gas only when it
// differs, the polling pace, the time limit, cancelling and the failures of
// each step.
#include <gtest/gtest.h>

#include <QLocale>

#include "app/status.h"
#include "model/config_record.h"
#include "tools/tool_common.h"
#include "support/capturing_journal.h"
#include "tools_fixture.h"

using namespace toolstest;

namespace {

class CalTest : public ToolsTest {
protected:
    void SetUp() override
    {
        ToolsTest::SetUp();
        session.DeviceCFG.mCalCheckTime = 5;
    }

    // The record the main window would pass: the detector's own configuration.
    RTamselCFG DetectorRecord() const
    {
        RTamselCFG cfg;
        const auto bytes = sim->Config();
        std::memcpy(&cfg, bytes.data(), sizeof cfg);
        return cfg;
    }
    uint16_t DetectorSpanGas() const
    {
        const auto bytes = sim->Config();
        return static_cast<uint16_t>(bytes[kSpanGasAddress] | (bytes[kSpanGasAddress + 1] << 8));
    }

    // Runs passes, sleeping on the fake clock, until the procedure ends.
    void RunToEnd(double limit = 1000)
    {
        for (int guard = 0; guard < 100000 && cal.Running(); ++guard) {
            if (!cal.Pass())
                break;
            ASSERT_LT(clock.Seconds(), limit);
            clock.SleepUntil(cal.NextDue());
        }
        EXPECT_FALSE(cal.Running());
    }

    SimOptions Maintaining() const
    {
        SimOptions o;
        o.crc_on_write = SimCrcOnWrite::kMaintain;
        return o;
    }

    TRecordingCalView view{clock};
    TSensorCalibration cal{session, screen, view};
};

} // namespace

TEST_F(CalTest, AnUnknownSensorTypeIsRefused)
{
    RTamselCFG cfg = DefaultCFG();
    cfg.mSensor.mSensorType = 9;
    EXPECT_FALSE(cal.Open(cfg));
    ASSERT_EQ(screen.messages.size(), 1u);
    EXPECT_EQ(screen.messages[0].mCaption, "Wrong Sensor");
    EXPECT_EQ(screen.messages[0].mText, "Sensor type is wrong\rDid not sensor calibration");
    EXPECT_EQ(cal.SensorType(), nullptr);
}

TEST_F(CalTest, OpeningRemembersTheSpanGasAndARememberedValueWins)
{
    RTamselCFG cfg = DefaultCFG();
    cfg.mSensor.mSensorType = 2; // CO
    cfg.mSensor.mSpanGas = 500;
    ASSERT_TRUE(cal.Open(cfg));
    EXPECT_EQ(session.Store().SpanGas("CO"), 500);
    EXPECT_EQ(cal.DefSpan(), 500);
    EXPECT_DOUBLE_EQ(cal.SpanEntry(), 50.0);
    EXPECT_EQ(view.caption, "Sensor Calibration (CO)");
    EXPECT_EQ(view.unit, "ppm");
    EXPECT_EQ(view.rangeMin, 0);
    EXPECT_EQ(view.rangeMax, 300);

    session.Store().SetSpanGas("CO", 1234);
    cfg.mSensor.mSpanGas = 999;
    ASSERT_TRUE(cal.Open(cfg));
    EXPECT_EQ(cal.DefSpan(), 1234);
    EXPECT_DOUBLE_EQ(cal.SpanEntry(), 123.4);
    EXPECT_EQ(session.Store().SpanGas("CO"), 1234);

    // The entry keeps its range and one decimal, as the spin box does.
    cal.SetSpanEntry(512.34);
    EXPECT_DOUBLE_EQ(cal.SpanEntry(), 300.0);
    cal.SetSpanEntry(12.34);
    EXPECT_DOUBLE_EQ(cal.SpanEntry(), 12.3);
}

TEST_F(CalTest, SpanGasIsWrittenOnlyWhenItDiffers)
{
    StartSim(Maintaining());
    ASSERT_EQ(DetectorSpanGas(), 250);
    SimOptions o = sim->Options();
    o.calibration_ms = 0;
    sim->SetOptions(o);

    ASSERT_TRUE(cal.Open(DetectorRecord()));
    cal.SetSpanEntry(25.0);
    ASSERT_TRUE(cal.Start());
    RunToEnd();
    EXPECT_EQ(sim->CommandCount(0x70), 0);
    EXPECT_EQ(cal.Outcome(), ECalOutcome::kOk);

    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German));
    cal.SetSpanEntry(30.5);
    ASSERT_TRUE(cal.Start());
    QLocale::setDefault(saved);
    EXPECT_EQ(sim->CommandCount(0x70), 1);
    EXPECT_EQ(DetectorSpanGas(), 305);
    EXPECT_EQ(cal.Record().mSensor.mSpanGas, 305); // read back after the write
    EXPECT_EQ(session.Store().SpanGas("H2S"), 305);
    EXPECT_EQ(view.lines[1].mText, "Apply SPAN Gas (H2S)... 30,5 ppm"); // the user's separator
    RunToEnd();
    // Only the two bytes of mSpanGas went out: 70, address frame 02 00 00 58, 91, data.
    bool addressSeen = false;
    for (const auto &f : sim->ReceivedFrames())
        if (f.size() == 6 && f[0] == 0x02 && f[1] == 0x00 && f[2] == 0x00 && f[3] == kSpanGasAddress)
            addressSeen = true;
    EXPECT_TRUE(addressSeen);
}

TEST_F(CalTest, ASpanGasOfNothingIsRefusedBeforeAnythingIsSent)
{
    StartSim(Maintaining());
    TCapturingJournal &journal = CaptureJournal();
    for (const double span : {0.0, 0.1, 0.04}) {
        SCOPED_TRACE(span);
        ASSERT_TRUE(cal.Open(DetectorRecord()));
        screen.messages.clear();
        cal.SetSpanEntry(span);
        EXPECT_FALSE(cal.Start());
        ASSERT_EQ(screen.messages.size(), 1u);
        EXPECT_EQ(screen.messages[0].mCaption, "Span Gas");
        EXPECT_EQ(screen.messages[0].mText, "A span gas of 0.1 ppm or less cannot calibrate the sensor: it would read "
                                            "nothing under gas.\rEnter the concentration printed on the span gas "
                                            "cylinder.");
        EXPECT_EQ(cal.Outcome(), ECalOutcome::kNotPrepared);
        EXPECT_TRUE(sim->ReceivedFrames().empty());
        EXPECT_EQ(session.Store().SpanGas("H2S"), 250); // not remembered either
        EXPECT_FALSE(cal.Running());
    }
    EXPECT_TRUE(journal.records.empty());
    // The smallest span gas that can calibrate runs.
    cal.SetSpanEntry(0.2);
    EXPECT_TRUE(cal.Start());
    cal.Shutdown();
}

TEST_F(CalTest, TheOxygenRule)
{
    const struct {
        double entered;
        double shown;
        uint16_t remembered;
    } cases[] = {{20.9, 18.0, 180}, {19.0, 19.0, 190}, {23.5, 23.5, 235}, {19.1, 18.0, 180}, {12.0, 12.0, 120}};
    SimOptions o = Maintaining();
    o.sensor_code = 4;
    o.calibration_ms = 0;
    StartSim(o);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.entered);
        ASSERT_TRUE(cal.Open(DetectorRecord()));
        cal.SetSpanEntry(c.entered);
        ASSERT_TRUE(cal.Start());
        EXPECT_DOUBLE_EQ(cal.SpanEntry(), c.shown);
        EXPECT_DOUBLE_EQ(view.spanValues.back(), c.shown);
        EXPECT_EQ(session.Store().SpanGas("O2"), c.remembered);
        EXPECT_EQ(DetectorSpanGas(), c.remembered);
        RunToEnd();
    }
}

TEST_F(CalTest, AFinishedProcedureIsReportedAtTheFirstPoll)
{
    const struct {
        bool fails;
        ECalOutcome outcome;
        const char *line;
        RColor color;
    } cases[] = {
        {false, ECalOutcome::kOk, "Calibration ... OK", kToolBlue},
        {true, ECalOutcome::kFailed, "Calibration ... FAIL", kToolRed},
    };
    SimOptions o;
    o.calibration_ms = 0;
    StartSim(o);
    RecordTraffic();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        o.calibration_fails = c.fails;
        sim->SetOptions(o);
        clock.SetSeconds(0);
        sent.clear();
        view.progress.clear();
        ASSERT_TRUE(cal.Open(DetectorRecord()));
        ASSERT_TRUE(cal.Start());
        EXPECT_FALSE(cal.CloseAllowed());
        EXPECT_EQ(view.lines[0].mText, "Zero Calibration... OK");
        EXPECT_EQ(view.lines[0].mColor, kToolBlue);
        EXPECT_EQ(view.lines[1].mText, "Apply SPAN Gas (H2S)... 25 ppm");
        EXPECT_EQ(view.lines[2].mText, "SPAN Calibration...");
        RunToEnd();
        ExpectTimes(SentAt(0x20), {5});
        EXPECT_EQ(view.lines[2].mText, c.line);
        EXPECT_EQ(view.lines[2].mColor, c.color);
        EXPECT_EQ(cal.Outcome(), c.outcome);
        EXPECT_TRUE(cal.CloseAllowed());
        EXPECT_EQ(view.runningStates.back(), false);
        EXPECT_EQ(sim->CommandCount(0x43), 0);
        if (!c.fails)
            EXPECT_EQ(view.progress.back(), std::make_pair(180, 180));
        else
            EXPECT_EQ(view.progress.back(), std::make_pair(5, 180));
    }
}

TEST_F(CalTest, PollsKeepThePaceAndFailedPollsComeBackAfterASecond)
{
    SimOptions o;
    o.calibration_ms = 600000; // still running at every poll
    StartSim(o);
    RecordTraffic();
    ASSERT_TRUE(cal.Open(DetectorRecord()));
    ASSERT_TRUE(cal.Start());
    bool faulted = false;
    for (int guard = 0; guard < 10000 && cal.Running(); ++guard) {
        if (!faulted && clock.Seconds() > 12) {
            sim->SetFault(0x20, SimFault::kNak, 2); // the polls at 15 and 16 fail
            faulted = true;
        }
        if (clock.Seconds() > 23)
            cal.Cancel();
        if (!cal.Pass())
            break;
        clock.SleepUntil(cal.NextDue());
    }
    ExpectTimes(SentAt(0x20), {5, 10, 15, 16, 17, 22});
    EXPECT_EQ(view.lines[2].mText, "Calibration... User Stop");
}

TEST_F(CalTest, ASilentDetectorRunsIntoTheTimeLimit)
{
    session.SensorTypes = {{"H2S", 1, "ppm", "SH", 12, 0.0f, 100.0f}};
    SimOptions o;
    o.calibration_ms = 600000;
    StartSim(o);
    RecordTraffic();
    ASSERT_TRUE(cal.Open(DetectorRecord()));
    ASSERT_TRUE(cal.Start());
    sim->SetFault(0x20, SimFault::kNak); // no poll is answered
    RunToEnd();
    ExpectTimes(SentAt(0x20), {5, 6, 7, 8, 9, 10, 11, 12});
    EXPECT_EQ(view.lines[2].mText, "Calibration... Time-out");
    EXPECT_EQ(view.lines[2].mColor, kToolRed);
    ExpectTimes(SentAt(0x43), {12.001});
    EXPECT_EQ(cal.Outcome(), ECalOutcome::kTimeOut);
    EXPECT_TRUE(cal.CloseAllowed());
    EXPECT_TRUE(screen.messages.empty());
}

TEST_F(CalTest, CancelAbortsTheProcedure)
{
    SimOptions o;
    o.calibration_ms = 600000;
    StartSim(o);
    ASSERT_TRUE(cal.Open(DetectorRecord()));
    ASSERT_TRUE(cal.Start());
    clock.SetSeconds(7);
    ASSERT_TRUE(cal.Pass()); // the first poll: still running
    EXPECT_TRUE(sim->CalibrationRunning());
    EXPECT_FALSE(cal.CloseAllowed());
    cal.Cancel();
    EXPECT_LE(cal.NextDue(), clock.Now());
    EXPECT_FALSE(cal.Pass());
    EXPECT_EQ(view.lines[2].mText, "Calibration... User Stop");
    EXPECT_EQ(view.lines[2].mColor, kToolRed);
    EXPECT_EQ(sim->CommandCount(0x43), 1);
    EXPECT_FALSE(sim->CalibrationRunning());
    EXPECT_EQ(cal.Outcome(), ECalOutcome::kUserStop);
    EXPECT_TRUE(cal.CloseAllowed());

    // The time limit is looked at first: a stop pending past it reports the time-out.
    ASSERT_TRUE(cal.Start());
    cal.Cancel();
    clock.SetSeconds(7 + 181);
    EXPECT_FALSE(cal.Pass());
    EXPECT_EQ(view.lines[2].mText, "Calibration... Time-out");
    EXPECT_EQ(sim->CommandCount(0x43), 2);
}

TEST_F(CalTest, StartFailures)
{
    struct Case {
        SimFault fault;
        uint8_t errorCode;
        const char *line0;
        const char *message;
    } cases[] = {
        {SimFault::kError, 0xB1, "Zero Calibration... FAIL", nullptr},
        {SimFault::kNak, 0, "", "Sensor calibration failed ... Communication error"},
    };
    StartSim();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line0);
        screen.messages.clear();
        SimOptions o = sim->Options();
        o.error_code = c.errorCode;
        sim->SetOptions(o);
        sim->SetFault(0x42, c.fault, 1);
        ASSERT_TRUE(cal.Open(DetectorRecord()));
        EXPECT_FALSE(cal.Start());
        EXPECT_EQ(view.lines[0].mText, c.line0);
        if (c.message) {
            ASSERT_EQ(screen.messages.size(), 1u);
            EXPECT_EQ(screen.messages[0].mCaption, "Sensor Calibration Fail");
            EXPECT_EQ(screen.messages[0].mText, c.message);
        } else {
            EXPECT_TRUE(screen.messages.empty());
            EXPECT_EQ(view.lines[0].mColor, kToolRed);
        }
        EXPECT_EQ(cal.Outcome(), ECalOutcome::kStartFailed);
        EXPECT_TRUE(cal.CloseAllowed());
        EXPECT_EQ(view.runningStates, (std::vector<bool>{true, false}));
        view.runningStates.clear();
        EXPECT_EQ(sim->CommandCount(0x20), 0); // nothing polled
    }
}

TEST_F(CalTest, PreparationFailures)
{
    // Not the product.
    SimOptions o;
    o.product_id = 3;
    StartSim(o);
    RTamselCFG record = DetectorRecord();
    ASSERT_TRUE(cal.Open(record));
    cal.SetSpanEntry(40.0);
    EXPECT_FALSE(cal.Start());
    ASSERT_EQ(screen.messages.size(), 1u);
    EXPECT_EQ(screen.messages[0].mCaption, "Read Norvik Information");
    EXPECT_EQ(screen.messages[0].mText, "This is not Norvik module");
    EXPECT_EQ(session.Store().SpanGas("H2S"), 400); // remembered before the link was used
    EXPECT_EQ(sim->CommandCount(0x42), 0);

    // A detector that does not answer.
    o.absent = true;
    sim->SetOptions(o);
    screen.messages.clear();
    EXPECT_FALSE(cal.Start());
    ASSERT_EQ(screen.messages.size(), 1u);
    EXPECT_EQ(screen.messages[0].mText, "Norvik comunication error\rCheck Beamport and Norvik unit connection");

    // Another sensor than the record said.
    o.absent = false;
    sim->SetOptions(o);
    SimIdentity identity = sim->Identity();
    identity.mPID = 2;
    sim->SetIdentity(identity);
    record.mSensor.mSensorType = 2;
    ASSERT_TRUE(cal.Open(record));
    cal.SetSpanEntry(25.0);
    screen.messages.clear();
    EXPECT_FALSE(cal.Start());
    ASSERT_EQ(screen.messages.size(), 1u);
    EXPECT_EQ(screen.messages[0].mText, "Different sensor type");
    EXPECT_TRUE(cal.CloseAllowed());
    EXPECT_TRUE(view.runningStates.empty()); // nothing was started
}

TEST_F(CalTest, APortErrorLeavesTheToolUsable)
{
    SimOptions o;
    o.calibration_ms = 600000;
    StartSim(o);
    ASSERT_TRUE(cal.Open(DetectorRecord()));

    UsePort(Path("no-such-tty"));
    EXPECT_FALSE(cal.Start()); // while preparing
    ASSERT_EQ(screen.messages.size(), 1u);
    EXPECT_EQ(screen.messages[0].mCaption, kProgramTitle);
    EXPECT_EQ(cal.Outcome(), ECalOutcome::kAborted);
    EXPECT_TRUE(cal.CloseAllowed());

    // While polling: the procedure ends at once instead of repeating the box.
    UsePort(sim->DevicePath());
    ASSERT_TRUE(cal.Start());
    UsePort(Path("no-such-tty"));
    clock.SetSeconds(6);
    EXPECT_FALSE(cal.Pass());
    EXPECT_EQ(screen.messages.size(), 2u);
    EXPECT_EQ(cal.Outcome(), ECalOutcome::kAborted);
    EXPECT_TRUE(cal.CloseAllowed());
    EXPECT_EQ(view.runningStates.back(), false);

    // And it runs again once the port is back.
    UsePort(sim->DevicePath());
    ASSERT_TRUE(cal.Start());
    cal.Shutdown();
    EXPECT_TRUE(cal.CloseAllowed());
}

TEST_F(CalTest, EachRunIsOneRecordWithItsResultAndTheValuesBefore)
{
    TCapturingJournal &journal = CaptureJournal();
    SimOptions o;
    o.calibration_ms = 0;
    StartSim(o);
    for (const bool fails : {false, true}) {
        SCOPED_TRACE(fails);
        o.calibration_fails = fails;
        sim->SetOptions(o);
        clock.SetSeconds(0);
        journal.records.clear();
        ASSERT_TRUE(cal.Open(DetectorRecord()));
        ASSERT_TRUE(cal.Start());
        RunToEnd();
        ASSERT_EQ(journal.records.size(), 1u);
        const RJobRecord &r = journal.records[0];
        EXPECT_EQ(r.mJob, "sensor-cal");
        // A failed calibration has the exit table's 68, as the command line exits.
        EXPECT_EQ(r.mStatus, fails ? 68 : 0);
        EXPECT_EQ(DeriveOutcome(r.mJob, r.mStatus), fails ? "failed" : "success");
        EXPECT_EQ(r.mStatus, cal.JobStatus());
        EXPECT_EQ(r.mText, fails ? "Calibration ... FAIL" : "Calibration ... OK");
        EXPECT_EQ(r.mData.value(QLatin1String("result")).toString(), fails ? "FAIL" : "OK");
        EXPECT_EQ(r.mData.value(QLatin1String("span_gas")).toInt(), cal.Record().mSensor.mSpanGas);
        EXPECT_EQ(r.mData.value(QLatin1String("zero_before")).toInt(), cal.Record().mSensor.mZero);
        EXPECT_EQ(r.mData.value(QLatin1String("unit")).toString(), "ppm");
        EXPECT_TRUE(r.mConfig && r.mIdentity);
        // The run reads only before it starts: nothing stands for "after".
        EXPECT_FALSE(r.mData.contains(QLatin1String("config_after")));
    }
    // A run the detector cannot be read for is on the record too, not started.
    SimOptions silent = o;
    silent.absent = true;
    sim->SetOptions(silent);
    journal.records.clear();
    ASSERT_TRUE(cal.Open(DetectorRecord()));
    EXPECT_FALSE(cal.Start());
    ASSERT_EQ(journal.records.size(), 1u);
    EXPECT_EQ(journal.records[0].mStatus, 160);
    EXPECT_EQ(journal.records[0].mData.value(QLatin1String("result")).toString(), "not started");
}
