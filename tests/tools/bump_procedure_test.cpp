// The guided bump test against the simulated detector on a fake clock: the
// gas is applied and removed when the test shows its steps, as a technician
// would. What each kind of sensor comes to, the refusals, the report the
// detector receives, and what the record keeps.
#include <gtest/gtest.h>

#include <QJsonArray>

#include "app/evidence_keys.h"
#include "link/wire.h"
#include "tools/bump_procedure.h"
#include "tools_fixture.h"

using namespace toolstest;

namespace {

class TRecordingBumpView : public IBumpTestView {
public:
    void PhaseChanged(EBumpPhase phase, const std::string &text) override { phases.push_back({phase, text}); }
    void StepShown(EGasStep step, const std::string &text) override
    {
        steps.push_back(text);
        if (onStep)
            onStep(step);
    }
    void ReadingShown(const RTamselSensor &, int32_t tenths, double) override { readings.push_back(tenths); }
    void Finished(const RBumpResult &result) override { finished.push_back(result.mOutcome); }

    std::vector<std::pair<EBumpPhase, std::string>> phases;
    std::vector<std::string> steps;
    std::vector<int32_t> readings;
    std::vector<EBumpOutcome> finished;
    std::function<void(EGasStep)> onStep;
};

RGasCylinder Cylinder(const char *gas, int32_t tenths, const char *unit = "ppm", const char *expires = "2099-12-31")
{
    RGasCylinder c;
    c.mId = 7;
    c.mGas = gas;
    c.mConcentration = tenths;
    c.mUnit = unit;
    c.mLot = "LOT-42";
    c.mExpires = expires;
    c.mBalance = "N2";
    c.mMaker = "Acme Gas";
    return c;
}

class BumpTest : public ToolsTest {
protected:
    // A detector whose sensor answers gas at once (a short T90) and without noise.
    SimDetector &Detector(SimSensorKind kind = SimSensorKind::kResponsive, uint8_t sensor = 1)
    {
        SimOptions o;
        o.sensor_kind = kind;
        o.sensor_code = sensor;
        o.response_seconds = 0.001;
        return StartSim(o);
    }
    // The technician: applies `gas` (in the unit; negative: nothing) at
    // "Apply gas" and takes it away at "Remove gas".
    void Technician(double gas)
    {
        view.onStep = [this, gas](EGasStep step) {
            if (step == EGasStep::kRemove)
                sim->RemoveGas();
            else if (gas >= 0)
                sim->ApplyGas(gas);
        };
    }
    void RunToEnd(double limit = 2000)
    {
        for (int guard = 0; guard < 100000 && test.Running(); ++guard) {
            if (!test.Pass())
                break;
            ASSERT_LT(clock.Seconds(), limit);
            clock.SleepUntil(test.NextDue());
        }
        EXPECT_FALSE(test.Running());
    }

    TRecordingBumpView view;
    TBumpTest test{session, screen, view};
};

} // namespace

TEST_F(BumpTest, WhatEachSensorComesTo)
{
    const struct {
        const char *mName;
        SimSensorKind mKind;
        uint8_t mSensor;
        RGasCylinder mCylinder;
        double mApplied; // what really reaches the sensor
        int mWithin;
        EBumpOutcome mOutcome;
        const char *mFailed; // part of the reason
        int32_t mPeak;       // tenths
        bool mAlarmed;       // the LOW alarm came on
    } cases[] = {
        {"responsive", SimSensorKind::kResponsive, 1, Cylinder("H2S", 250), 25.0, 60, EBumpOutcome::kPass, "", 250,
         true},
        // A bump test checks response and alarm, not accuracy: 30 % low still passes.
        {"drifted", SimSensorKind::kDrifted, 1, Cylinder("H2S", 250), 25.0, 60, EBumpOutcome::kPass, "", 175, true},
        {"dead", SimSensorKind::kDead, 1, Cylinder("H2S", 250), 25.0, 60, EBumpOutcome::kFail,
         "did not rise to the low alarm level of 10 ppm within 60 s", 0, false},
        {"slow", SimSensorKind::kSlow, 1, Cylinder("H2S", 250), 25.0, 5, EBumpOutcome::kFail, "within 5 s", -1, false},
        {"cylinder far stronger than its label", SimSensorKind::kResponsive, 1, Cylinder("H2S", 250), 50.0, 60,
         EBumpOutcome::kFail, "the peak reading of 50 ppm is outside 12.5 to 37.5 ppm", 500, true},
        {"no gas applied", SimSensorKind::kResponsive, 1, Cylinder("H2S", 250), -1, 8, EBumpOutcome::kFail,
         "within 8 s", 0, false},
        // Oxygen falls to its low alarm; no peak rule.
        {"oxygen", SimSensorKind::kResponsive, 4, Cylinder("O2", 180, "%"), 18.0, 60, EBumpOutcome::kPass, "", 180,
         true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.mName);
        view = TRecordingBumpView{};
        Detector(c.mKind, c.mSensor);
        TCapturingJournal &journal = CaptureJournal();
        Technician(c.mApplied);
        test.SetWithin(c.mWithin);
        ASSERT_TRUE(test.Start(c.mCylinder));
        RunToEnd();
        const RBumpResult &r = test.Result();
        EXPECT_EQ(r.mOutcome, c.mOutcome) << r.mReason;
        EXPECT_NE(r.mReason.find(c.mFailed), std::string::npos) << r.mReason;
        if (c.mPeak >= 0) {
            ASSERT_TRUE(r.mPeak.has_value());
            EXPECT_EQ(*r.mPeak, c.mPeak);
        }
        EXPECT_EQ(test.JobStatus(), c.mOutcome == EBumpOutcome::kPass ? 0 : 68);
        // The detector hears the result from the test itself.
        const bool passed = c.mOutcome == EBumpOutcome::kPass;
        EXPECT_EQ(sim->CommandCount(wire::kCalBumpPass), passed ? 1 : 0);
        EXPECT_EQ(sim->CommandCount(wire::kCalBumpFail), passed ? 0 : 1);
        EXPECT_EQ(view.steps, (std::vector<std::string>{GasStepText(EGasStep::kApply, c.mCylinder), "Remove gas"}));
        EXPECT_EQ(r.mSecondsToAlarm.has_value(), c.mAlarmed);
        EXPECT_EQ(r.mRecoverySeconds.has_value(), c.mAlarmed);
        EXPECT_EQ((r.mAlarmFlags & 0x04) != 0, c.mAlarmed);
        ASSERT_EQ(journal.records.size(), 1u);
        EXPECT_EQ(journal.records[0].mJob, "bump-test");
        EXPECT_EQ(journal.records[0].mStatus, test.JobStatus());
    }
}

TEST_F(BumpTest, TheRecordKeepsTheCylinderTheMeasurementsAndTheCriteria)
{
    Detector();
    TCapturingJournal &journal = CaptureJournal();
    Technician(25.0);
    const RGasCylinder cylinder = Cylinder("H2S", 250);
    ASSERT_TRUE(test.Start(cylinder));
    RunToEnd();
    ASSERT_EQ(journal.records.size(), 1u);
    const QJsonObject data = journal.records[0].mData;
    namespace k = evidence_data;
    EXPECT_EQ(data.value(QLatin1String(k::kCylinder)).toObject(), CylinderRecordJson(cylinder));
    EXPECT_EQ(data.value(QLatin1String(k::kBaseline)).toInt(), 0);
    EXPECT_EQ(data.value(QLatin1String(k::kPeak)).toInt(), 250);
    EXPECT_TRUE(data.value(QLatin1String(k::kSecondsToAlarm)).isDouble());
    EXPECT_TRUE(data.value(QLatin1String(k::kRecovery)).isDouble());
    EXPECT_EQ(data.value(QLatin1String(k::kAlarmFlags)).toArray(), (QJsonArray{"LOW", "HIGH"}));
    EXPECT_EQ(data.value(QLatin1String(k::kResult)).toString(), "pass");
    EXPECT_EQ(data.value(QLatin1String(k::kReport)).toString(), "Bump Pass");
    EXPECT_EQ(data.value(QLatin1String(k::kReportStatus)).toInt(), 0);
    const QJsonObject criteria = data.value(QLatin1String(k::kCriteria)).toObject();
    EXPECT_EQ(criteria.value(QLatin1String(k::kAlarmLow)).toInt(), 100);
    EXPECT_EQ(criteria.value(QLatin1String(k::kWithin)).toInt(), 60);
    EXPECT_EQ(criteria.value(QLatin1String(k::kPeakMin)).toInt(), 125);
    EXPECT_EQ(criteria.value(QLatin1String(k::kPeakMax)).toInt(), 375);
    EXPECT_FALSE(criteria.value(QLatin1String(k::kFalls)).toBool());
    // The identity and configuration the test read are on it too.
    EXPECT_TRUE(journal.records[0].mIdentity.has_value());
    EXPECT_TRUE(journal.records[0].mConfig.has_value());
}

TEST_F(BumpTest, RefusalsNameTheirReason)
{
    const struct {
        RGasCylinder mCylinder;
        bool mRetired;
        const char *mReason;
        bool mRead; // refused after the detector was read: on the record
    } cases[] = {
        {Cylinder("H2S", 250, "ppm", "2001-01-31"), false, "expired on 2001-01-31", false},
        {Cylinder("H2S", 250), true, "is retired", false},
        {Cylinder("CO", 500), false, "holds CO, the detector's sensor is H2S", true},
        {Cylinder("H2S", 50), false, "cannot reach the detector's low alarm level of 10 ppm", true},
        // A concentration the sensor cannot show, refused as the calibration refuses it.
        {Cylinder("H2S", 5000), false, "is outside the span gas range of the H2S sensor: 0 to 100 ppm", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.mReason);
        Detector();
        TCapturingJournal &journal = CaptureJournal();
        screen.messages.clear();
        RGasCylinder cylinder = c.mCylinder;
        cylinder.mRetired = c.mRetired;
        EXPECT_FALSE(test.Start(cylinder));
        EXPECT_EQ(test.Result().mOutcome, EBumpOutcome::kRefused);
        EXPECT_NE(test.Result().mReason.find(c.mReason), std::string::npos) << test.Result().mReason;
        EXPECT_EQ(test.JobStatus(), 67);
        ASSERT_EQ(screen.messages.size(), 1u);
        EXPECT_NE(screen.messages[0].mText.find(c.mReason), std::string::npos);
        // Nothing is sent to test with; a misfit is found only by reading.
        EXPECT_EQ(sim->CommandCount(wire::kOpRequireSensor), 0);
        EXPECT_EQ(sim->CommandCount(wire::kOpSelectSensorBlock), c.mRead ? 1 : 0);
        ASSERT_EQ(journal.records.size(), c.mRead ? 1u : 0u);
        if (c.mRead) {
            EXPECT_EQ(journal.records[0].mStatus, 67);
        }
        EXPECT_TRUE(view.steps.empty());
    }
}

TEST_F(BumpTest, NotInCleanAirIsASlipThatSendsNothing)
{
    SimOptions o;
    o.gas = 12.0; // above the low alarm level before any gas is applied: applied too early
    StartSim(o);
    TCapturingJournal &journal = CaptureJournal();
    ASSERT_TRUE(test.Start(Cylinder("H2S", 250)));
    RunToEnd();
    EXPECT_EQ(test.Result().mOutcome, EBumpOutcome::kRefused);
    EXPECT_NE(test.Result().mReason.find("not in clean air"), std::string::npos);
    EXPECT_EQ(test.JobStatus(), 67);
    EXPECT_TRUE(view.steps.empty());
    // No verdict reaches the detector: the gas came early, the detector did not fail.
    EXPECT_EQ(sim->CommandCount(wire::kCalBumpFail), 0);
    EXPECT_EQ(sim->CommandCount(wire::kCalBumpPass), 0);
    EXPECT_EQ(test.Result().mReportCode, 0);
    ASSERT_FALSE(screen.messages.empty());
    EXPECT_NE(screen.LastMessage().mText.find(kPurgeAdvice), std::string::npos) << screen.LastMessage().mText;
    ASSERT_EQ(journal.records.size(), 1u);
    EXPECT_EQ(journal.records[0].mStatus, 67);
    EXPECT_NE(journal.records[0].mData.value(QLatin1String(evidence_data::kFailed)).toString().toStdString().find(
                  kPurgeAdvice),
              std::string::npos);
}

TEST_F(BumpTest, AReadingAtTheLevelWithoutTheLowAlarmFlagFails)
{
    // The reading reaches the level, but the detector's LOW alarm never comes on.
    SimOptions o;
    o.response_seconds = 0.001;
    o.silent_alarms = true;
    StartSim(o);
    Technician(25.0);
    test.SetWithin(10);
    ASSERT_TRUE(test.Start(Cylinder("H2S", 250)));
    RunToEnd();
    const RBumpResult &r = test.Result();
    EXPECT_EQ(r.mOutcome, EBumpOutcome::kFail);
    EXPECT_NE(r.mReason.find("LOW alarm did not come on"), std::string::npos) << r.mReason;
    EXPECT_EQ(r.mPeak.value_or(0), 250);
    EXPECT_EQ(sim->CommandCount(wire::kCalBumpFail), 1);
    EXPECT_EQ(sim->CommandCount(wire::kCalBumpPass), 0);
}

TEST_F(BumpTest, ConfirmedStepsWaitForTheTechnicianOrTheGas)
{
    // The gas shows before anyone confirms: the test goes on by itself.
    Detector();
    test.SetConfirmSteps(true);
    Technician(25.0);
    ASSERT_TRUE(test.Start(Cylinder("H2S", 250)));
    RunToEnd();
    EXPECT_EQ(test.Result().mOutcome, EBumpOutcome::kPass);

    // A dead sensor shows nothing: the step waits, the time limit runs only
    // from the confirmation, and the test then fails on it.
    Detector(SimSensorKind::kDead);
    view = TRecordingBumpView{};
    Technician(25.0);
    test.SetWithin(10);
    ASSERT_TRUE(test.Start(Cylinder("H2S", 250)));
    while (test.Phase() != EBumpPhase::kApplyGas && test.Pass())
        clock.SleepUntil(test.NextDue());
    const double shown = clock.Seconds();
    for (int i = 0; i < 60; ++i) {
        ASSERT_TRUE(test.Pass());
        clock.SleepUntil(test.NextDue());
    }
    EXPECT_EQ(test.Phase(), EBumpPhase::kApplyGas);
    EXPECT_GT(clock.Seconds() - shown, 30);
    test.Confirm();
    const double confirmed = clock.Seconds();
    while (test.Phase() == EBumpPhase::kWatch && test.Pass())
        clock.SleepUntil(test.NextDue());
    EXPECT_NEAR(clock.Seconds() - confirmed, 10, 1.1);
    test.Confirm(); // gas removed
    RunToEnd();
    EXPECT_EQ(test.Result().mOutcome, EBumpOutcome::kFail);
}

TEST_F(BumpTest, AStopSendsNoReport)
{
    Detector(SimSensorKind::kDead);
    TCapturingJournal &journal = CaptureJournal();
    Technician(25.0);
    ASSERT_TRUE(test.Start(Cylinder("H2S", 250)));
    while (test.Phase() != EBumpPhase::kWatch && test.Pass())
        clock.SleepUntil(test.NextDue());
    test.Cancel();
    RunToEnd();
    EXPECT_EQ(test.Result().mOutcome, EBumpOutcome::kStopped);
    EXPECT_EQ(test.JobStatus(), 68);
    EXPECT_EQ(sim->CommandCount(wire::kCalBumpPass) + sim->CommandCount(wire::kCalBumpFail), 0);
    EXPECT_FALSE(sim->Awake()); // the connection was ended
    ASSERT_EQ(journal.records.size(), 1u);
    EXPECT_EQ(journal.records[0].mStatus, 68);
}

TEST_F(BumpTest, ADetectorThatStopsAnsweringEndsTheTestWithItsStatus)
{
    SimOptions o;
    o.SetFault(wire::kOpRequireSensor, SimFault::kDrop);
    StartSim(o);
    ASSERT_TRUE(test.Start(Cylinder("H2S", 250)));
    RunToEnd();
    EXPECT_EQ(test.Result().mOutcome, EBumpOutcome::kLinkFailed);
    EXPECT_EQ(test.JobStatus(), wire::kStatusNoResponse);
    EXPECT_NE(test.Result().mReason.find("no clean-air readings"), std::string::npos);
}
