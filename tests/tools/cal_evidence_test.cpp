// A calibration against a cylinder: as-found and as-left measured around the
// detector's procedure on the simulated detector, the gas applied and
// removed when the steps are shown. The procedure runs on the simulator's
// real time, so the fake clock naps a little at each sleep.
#include <gtest/gtest.h>

#include "app/evidence_keys.h"
#include "link/wire.h"
#include "tools/cal_evidence.h"
#include "tools_fixture.h"

using namespace toolstest;

namespace {

class TRecordingEvidenceView : public ICalEvidenceView {
public:
    void EvidencePhaseChanged(ECalEvidencePhase phase, const std::string &) override
    {
        phases.push_back(phase);
        if (onPhase)
            onPhase(phase);
    }
    void EvidenceStepShown(EGasStep step, const std::string &text) override
    {
        steps.push_back(text);
        if (onStep)
            onStep(step);
    }
    void EvidenceReading(const RTamselSensor &, int32_t) override {}
    void MeasuresChanged(const RCalEvidence &) override { ++measures; }

    std::vector<ECalEvidencePhase> phases;
    std::vector<std::string> steps;
    int measures = 0;
    std::function<void(EGasStep)> onStep;
    std::function<void(ECalEvidencePhase)> onPhase;
};

RGasCylinder H2S(int32_t tenths, const char *expires = "2099-12-31")
{
    RGasCylinder c;
    c.mId = 3;
    c.mGas = "H2S";
    c.mConcentration = tenths;
    c.mUnit = "ppm";
    c.mLot = "L-1";
    c.mExpires = expires;
    return c;
}

class CalEvidenceTest : public ToolsTest {
protected:
    void SetUp() override
    {
        ToolsTest::SetUp();
        clock.FNapMs = 2;
    }
    // A drifted sensor (30 % low) whose calibration takes 30 ms of real time.
    void Detector(SimSensorKind kind = SimSensorKind::kDrifted, bool fails = false)
    {
        SimOptions o;
        o.sensor_kind = kind;
        o.response_seconds = 0.001;
        o.calibration_ms = 30;
        o.calibration_fails = fails;
        StartSim(o);
        RTamselCFG cfg;
        const auto bytes = sim->Config();
        std::memcpy(&cfg, bytes.data(), sizeof cfg);
        ASSERT_TRUE(cal.Open(cfg));
    }
    // The technician; `procedureGas` false: the gas goes on only after the
    // procedure has ended, for the as-left measurement.
    void Technician(bool procedureGas = true)
    {
        view.onStep = [this, procedureGas](EGasStep step) {
            const bool procedure = evidence.Phase() == ECalEvidencePhase::kProcedure;
            if (step == EGasStep::kRemove)
                sim->RemoveGas();
            else if (!procedure || procedureGas)
                sim->ApplyGas(25.0);
        };
        view.onPhase = [this](ECalEvidencePhase phase) {
            if (phase == ECalEvidencePhase::kLeftSpan && !sim->AppliedGas())
                sim->ApplyGas(25.0);
        };
    }
    void RunToEnd()
    {
        for (int guard = 0; guard < 100000 && evidence.Running(); ++guard) {
            if (!evidence.Pass())
                break;
            ASSERT_LT(clock.Seconds(), 3000);
            clock.SleepUntil(evidence.NextDue());
        }
        EXPECT_FALSE(evidence.Running());
    }

    TRecordingCalView calView{clock};
    TSensorCalibration cal{session, screen, calView};
    TRecordingEvidenceView view;
    TCalEvidence evidence{session, screen, cal, view};
};

} // namespace

TEST_F(CalEvidenceTest, ADriftedSensorIsFoundLowAndLeftWithinTolerance)
{
    Detector();
    TCapturingJournal &journal = CaptureJournal();
    Technician();
    ASSERT_TRUE(evidence.Start(H2S(250)));
    RunToEnd();
    const RCalEvidence &e = evidence.Evidence();
    EXPECT_EQ(e.mOutcome, ECalEvidenceOutcome::kPass) << e.mReason;
    EXPECT_EQ(evidence.JobStatus(), 0);
    ASSERT_TRUE(e.mFound.mZero && e.mFound.mSpan && e.mLeft.mZero && e.mLeft.mSpan);
    EXPECT_EQ(e.mFound.mZero->mValue, 0);
    EXPECT_EQ(e.mFound.mSpan->mValue, 175);
    EXPECT_EQ(e.mLeft.mSpan->mValue, 250);
    EXPECT_EQ(e.mLeft.mZero->mValue, 0);
    EXPECT_EQ(cal.Outcome(), ECalOutcome::kOk);
    EXPECT_EQ(view.measures, 4);
    const std::string apply = "Apply gas: H2S 25 ppm, lot L-1";
    EXPECT_EQ(view.steps, (std::vector<std::string>{apply, "Remove gas", apply, "Remove gas"}));
    // The procedure itself: its own texts, its own single start command.
    EXPECT_EQ(calView.lines[1].mText, "Apply SPAN Gas (H2S)... 25 ppm");
    EXPECT_EQ(sim->CommandCount(wire::kCalZeroSpan), 1);

    // One record: the procedure's, with the cylinder and both measurements.
    ASSERT_EQ(journal.records.size(), 1u);
    const RJobRecord &r = journal.records[0];
    EXPECT_EQ(r.mJob, "sensor-cal");
    EXPECT_EQ(r.mStatus, 0);
    EXPECT_TRUE(r.mIdentity.has_value());
    namespace k = evidence_data;
    EXPECT_EQ(r.mData.value(QLatin1String(k::kCylinder)).toObject(), CylinderRecordJson(H2S(250)));
    EXPECT_EQ(r.mData.value(QLatin1String("result")).toString(), "OK");
    EXPECT_EQ(r.mData.value(QLatin1String(k::kCertified)).toString(), "pass");
    EXPECT_EQ(r.mData.value(QLatin1String(k::kTolerance)).toInt(), 100);
    const QJsonObject found = r.mData.value(QLatin1String(k::kAsFound)).toObject();
    EXPECT_EQ(found.value(QLatin1String(k::kSpan)).toInt(), 175);
    EXPECT_EQ(found.value(QLatin1String(k::kSpanDeviation)).toInt(), -300);
    EXPECT_EQ(found.value(QLatin1String(k::kZeroDeviation)).toInt(), 0);
    const QJsonObject left = r.mData.value(QLatin1String(k::kAsLeft)).toObject();
    EXPECT_EQ(left.value(QLatin1String(k::kSpan)).toInt(), 250);
    EXPECT_EQ(left.value(QLatin1String(k::kSpanDeviation)).toInt(), 0);
}

TEST_F(CalEvidenceTest, WhatTheProcedureLeavesDecides)
{
    const struct {
        const char *mName;
        bool mProcedureGas; // the gas is on at the procedure's span step
        bool mFails;        // the detector reports a failed calibration
        int mTolerance;
        ECalEvidenceOutcome mOutcome;
        const char *mReason;
    } cases[] = {
        // No gas at the span step: the detector keeps its gain and reads the gas 30 % low.
        {"no gas", false, false, 100, ECalEvidenceOutcome::kFail,
         "the as-left span reading of 17.5 ppm is -30.0 % from the cylinder's 25 ppm, beyond the tolerance of 10.0 %"},
        {"failed procedure", true, true, 100, ECalEvidenceOutcome::kProcedure, ""},
        {"tolerance wide enough", false, false, 300, ECalEvidenceOutcome::kPass, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.mName);
        Detector(SimSensorKind::kDrifted, c.mFails);
        TCapturingJournal &journal = CaptureJournal();
        view = TRecordingEvidenceView{};
        Technician(c.mProcedureGas);
        evidence.SetTolerance(c.mTolerance);
        ASSERT_TRUE(evidence.Start(H2S(250)));
        RunToEnd();
        EXPECT_EQ(evidence.Evidence().mOutcome, c.mOutcome);
        EXPECT_EQ(evidence.Evidence().mReason, c.mReason);
        ASSERT_EQ(journal.records.size(), 1u);
        const QJsonObject data = journal.records[0].mData;
        EXPECT_EQ(data.contains(QLatin1String(evidence_data::kCertified)), c.mOutcome != ECalEvidenceOutcome::kProcedure);
        // A failed procedure has no as-left to measure.
        EXPECT_EQ(evidence.Evidence().mLeft.mSpan.has_value(), c.mOutcome != ECalEvidenceOutcome::kProcedure);
    }
}

TEST_F(CalEvidenceTest, CylindersThatCannotCalibrateAreRefused)
{
    const struct {
        RGasCylinder mCylinder;
        const char *mReason;
        bool mRecorded; // the detector had been read: the refusal is on the record
    } cases[] = {
        {H2S(250, "2020-02-02"), "expired on 2020-02-02", false},
        {H2S(50), "is below the detector's low alarm level of 10 ppm", true},
        {H2S(2000), "is outside the span gas range of the H2S sensor: 0 to 100 ppm", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.mReason);
        Detector(SimSensorKind::kResponsive);
        TCapturingJournal &journal = CaptureJournal();
        link.OpenUSB(1.0f); // the read that opened the calibration
        link.CloseUSB(0);
        EXPECT_FALSE(evidence.Start(c.mCylinder));
        EXPECT_EQ(evidence.Evidence().mOutcome, ECalEvidenceOutcome::kRefused);
        EXPECT_NE(evidence.Evidence().mReason.find(c.mReason), std::string::npos) << evidence.Evidence().mReason;
        EXPECT_EQ(evidence.JobStatus(), 67);
        EXPECT_EQ(sim->CommandCount(wire::kOpRequireSensor), 0);
        ASSERT_EQ(journal.records.size(), c.mRecorded ? 1u : 0u);
        if (c.mRecorded) {
            EXPECT_EQ(journal.records[0].mStatus, 67);
        }
    }
}

TEST_F(CalEvidenceTest, AStopDuringTheMeasurementIsOnTheRecord)
{
    Detector();
    TCapturingJournal &journal = CaptureJournal();
    ASSERT_TRUE(evidence.Start(H2S(250)));
    // Nobody applies the gas: the as-found waits under "Apply gas".
    while (evidence.Phase() != ECalEvidencePhase::kFoundSpan && evidence.Pass())
        clock.SleepUntil(evidence.NextDue());
    evidence.Cancel();
    RunToEnd();
    EXPECT_EQ(evidence.Evidence().mOutcome, ECalEvidenceOutcome::kStopped);
    EXPECT_EQ(sim->CommandCount(wire::kCalZeroSpan), 0);
    ASSERT_EQ(journal.records.size(), 1u);
    EXPECT_EQ(journal.records[0].mStatus, 68);
    EXPECT_TRUE(journal.records[0].mData.value(QLatin1String(evidence_data::kAsFound)).toObject().contains(
        QLatin1String(evidence_data::kZero)));
}

TEST_F(CalEvidenceTest, NoGasAtTheSensorStopsBeforeTheProcedure)
{
    const struct {
        const char *mName;
        double mGas;  // reaches the sensor at "Apply gas"; negative: none
        bool mRefused;
    } cases[] = {
        {"no gas", -1, true},
        // The drifted sensor reads 30 % low: 8 ppm read of 25 applied is 5.6, less than half.
        {"a trickle", 8.0, true},
        // A drifted sensor shows more than half the gas: that is what calibrating is for.
        {"drifted but responding", 25.0, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.mName);
        Detector();
        TCapturingJournal &journal = CaptureJournal();
        view = TRecordingEvidenceView{};
        screen.messages.clear();
        view.onStep = [this, gas = c.mGas](EGasStep step) {
            if (step == EGasStep::kRemove)
                sim->RemoveGas();
            else if (gas >= 0)
                sim->ApplyGas(gas);
        };
        view.onPhase = [this](ECalEvidencePhase phase) {
            if (phase == ECalEvidencePhase::kLeftSpan)
                sim->ApplyGas(25.0);
        };
        ASSERT_TRUE(evidence.Start(H2S(250)));
        RunToEnd();
        const RCalEvidence &e = evidence.Evidence();
        EXPECT_EQ(e.mOutcome == ECalEvidenceOutcome::kRefused, c.mRefused) << e.mReason;
        // The procedure's start command zeroes and spans: never sent without gas.
        EXPECT_EQ(sim->CommandCount(wire::kCalZeroSpan), c.mRefused ? 0 : 1);
        ASSERT_EQ(journal.records.size(), 1u);
        if (!c.mRefused)
            continue;
        EXPECT_EQ(e.mReason.rfind(kNoGasText, 0), 0u) << e.mReason;
        EXPECT_EQ(evidence.JobStatus(), 67);
        EXPECT_EQ(journal.records[0].mStatus, 67);
        EXPECT_EQ(screen.StatusCaption(), "Calibration ... refused");
        EXPECT_NE(screen.LastMessage().mText.find(kNoGasText), std::string::npos);
    }
}
