// The guided procedures as a technician follows them, offscreen, against an
// in-process simulated detector on a clock that moves only when the test
// says: what the Bump Test dialog shows after each pass (the step, the time
// left, the live reading, the values, the verdict), that its buttons keep
// their places, and in simulate mode a bump test to PASS and to FAIL and a
// calibration to PASS with nothing but the dialogs' own controls.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <cstring>
#include <functional>
#include <thread>

#include "app/clock.h"
#include "sim/sim_detector.h"
#include "support/fake_screen.h"
#include "support/test_session.h"
#include "ui/bump_test_dlg.h"
#include "ui/sensor_cal_dlg.h"
#include "ui/sensor_log_dlg.h"
#include "ui/sim_gas_panel.h"
#include "ui/ui_app.h"

#include "procedure_fixture.h"

namespace {

RGasCylinder Cylinder(int64_t id, int32_t tenths) { return TestCylinder(id, "H2S", tenths, "2099-12-31", "LOT-7"); }

class GuidedProceduresTest : public TProcedureDialogTest {
protected:
    GuidedProceduresTest() : TProcedureDialogTest() { clock.FNow = 45100.5; }
    QString Text(QWidget &dlg, const char *name) { return Find<QLabel>(dlg, QString::fromLatin1(name))->text(); }
    // One pass as the dialog's timer runs it, then the clock to the next due time.
    void Pass(QDialog &dlg, const std::function<TDateTime()> &due)
    {
        QMetaObject::invokeMethod(&dlg, "RunPass", Qt::DirectConnection);
        if (const TDateTime next = due(); next < kDueNever)
            clock.SleepUntil(next);
    }
    // The trainee in simulate mode, with the dialog's own controls only: the
    // simulated gas on at "Apply gas" (at `gas`), off at "Remove gas", and
    // the step's button; the passes as the dialog's timer runs them.
    void Train(QDialog &dlg, double gas, const char *stepLabel, const char *stepBtn,
               const std::function<bool()> &running, const std::function<TDateTime()> &due)
    {
        for (int guard = 0; guard < 20000 && running(); ++guard) {
            const QString step = Text(dlg, stepLabel);
            const bool clean = Text(dlg, "SimGasStateLabel") == QLatin1String("clean air");
            if (step.startsWith(QLatin1String("Apply gas")) && clean) {
                Find<QDoubleSpinBox>(dlg, QStringLiteral("SimGasSpin"))->setValue(gas);
                Find<QPushButton>(dlg, QStringLiteral("SimGasApplyBtn"))->click();
            } else if (step.startsWith(QLatin1String("Remove gas")) && !clean) {
                Find<QPushButton>(dlg, QStringLiteral("SimGasRemoveBtn"))->click();
            }
            if (QPushButton *btn = Find<QPushButton>(dlg, QString::fromLatin1(stepBtn)); btn->isEnabled())
                btn->click();
            Pass(dlg, due);
        }
        EXPECT_FALSE(running()) << "left at: " << Text(dlg, stepLabel).toStdString() << " / "
                                << Text(dlg, "SimGasStateLabel").toStdString();
    }

    TFakeScreen screen;
};

} // namespace

TEST_F(GuidedProceduresTest, BumpDialogShowsEachValueAndTheVerdictTheMomentTheyAreKnown)
{
    Detector(SimSensorKind::kResponsive);
    TBumpTestDlg dlg(session, {Cylinder(5, 250)}, nullptr, &screen);
    Find<QSpinBox>(dlg, QStringLiteral("BumpWithinSpin"))->setValue(20);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    const auto due = [&] { return dlg.Test().NextDue(); };
    QWidget *stepBtn = Find<QPushButton>(dlg, QStringLiteral("BumpStepBtn"));
    QWidget *closeBtn = Find<QPushButton>(dlg, QStringLiteral("BumpCloseBtn"));
    const QRect stepAt = stepBtn->geometry(), closeAt = closeBtn->geometry();
    const auto current = [&](int step) {
        QLabel *row = Find<QLabel>(dlg, QStringLiteral("BumpStep%1").arg(step));
        return row->font().bold();
    };

    Find<QPushButton>(dlg, QStringLiteral("BumpStartBtn"))->click();
    ASSERT_TRUE(dlg.Test().Running());
    EXPECT_TRUE(current(1));
    EXPECT_EQ(Text(dlg, "BumpWaitLabel"), "clean-air readings");
    EXPECT_TRUE(Text(dlg, "BumpSetPointsLabel").startsWith("alarm set points: LOW 10 ppm, HIGH "));

    // The baseline: its value the moment the third reading is in, then the step to apply the gas.
    for (int i = 0; i < 50 && dlg.Test().Phase() == EBumpPhase::kBaseline; ++i)
        Pass(dlg, due);
    ASSERT_EQ(dlg.Test().Phase(), EBumpPhase::kApplyGas);
    EXPECT_TRUE(current(2));
    EXPECT_NE(Text(dlg, "BumpBaselineLabel"), "-");
    EXPECT_TRUE(Text(dlg, "BumpLiveLabel").endsWith(" ppm")) << Text(dlg, "BumpLiveLabel").toStdString();
    EXPECT_TRUE(Text(dlg, "BumpStepLabel").startsWith("Apply gas: "));
    EXPECT_EQ(Text(dlg, "BumpWaitLabel"), "to apply the gas");
    EXPECT_EQ(Text(dlg, "BumpCountdownLabel"), "10:00 left");
    EXPECT_EQ(Text(dlg, "BumpPeakLabel"), "-");
    EXPECT_EQ(Text(dlg, "BumpResultLabel"), "");

    // The gas on: the 20 s run from the click, and the live line counts from there too.
    sim->ApplyGas(25.0);
    Find<QPushButton>(dlg, QStringLiteral("BumpStepBtn"))->click();
    EXPECT_TRUE(current(3));
    EXPECT_EQ(Text(dlg, "BumpWaitLabel"), "for the LOW alarm");
    EXPECT_EQ(Text(dlg, "BumpCountdownLabel"), "20 s left");
    bool alarmSeen = false, peakShown = false;
    for (int i = 0; i < 100 && dlg.Test().Phase() == EBumpPhase::kWatch; ++i) {
        Pass(dlg, due);
        const QString live = Text(dlg, "BumpLiveFlagsLabel");
        // The peak as it is measured, not at the end.
        const std::optional<int32_t> peak = dlg.Test().Result().mPeak;
        EXPECT_EQ(Text(dlg, "BumpPeakLabel").toStdString(), peak ? TenthsText(*peak) + " ppm" : "-");
        peakShown = peakShown || (peak && dlg.Test().Phase() == EBumpPhase::kWatch);
        // The flags seen never say less than the live line.
        if (live.contains("LOW")) {
            EXPECT_TRUE(Text(dlg, "BumpFlagsLabel").contains("LOW")) << live.toStdString();
        }
        // The pass the alarm came on: the same second on both.
        if (!alarmSeen && Text(dlg, "BumpAlarmLabel").startsWith("after ")) {
            alarmSeen = true;
            const QString seconds = Text(dlg, "BumpAlarmLabel").mid(6);
            EXPECT_TRUE(live.contains("; " + seconds + " after the gas")) << live.toStdString() << " / "
                                                                          << seconds.toStdString();
        }
    }
    EXPECT_TRUE(alarmSeen);
    EXPECT_TRUE(peakShown);
    // The verdict as soon as it is judged, before the gas is removed or anything reported.
    ASSERT_EQ(dlg.Test().Phase(), EBumpPhase::kRemoveGas);
    EXPECT_TRUE(dlg.Test().Running());
    EXPECT_TRUE(current(4));
    EXPECT_EQ(Text(dlg, "BumpResultLabel"), "PASS");
    EXPECT_TRUE(Text(dlg, "BumpReasonLabel").contains("Remove the gas")) << Text(dlg, "BumpReasonLabel").toStdString();
    EXPECT_EQ(Text(dlg, "BumpStepLabel"), "Remove gas");
    EXPECT_EQ(Text(dlg, "BumpRecoveryLabel"), "-");
    EXPECT_EQ(Text(dlg, "BumpWaitLabel"), "to remove the gas");
    EXPECT_EQ(stepBtn->geometry(), stepAt);

    sim->RemoveGas();
    Find<QPushButton>(dlg, QStringLiteral("BumpStepBtn"))->click();
    EXPECT_TRUE(current(5));
    EXPECT_EQ(Text(dlg, "BumpCountdownLabel"), "1:00 left");
    for (int i = 0; i < 100 && dlg.Test().Running(); ++i)
        Pass(dlg, due);
    ASSERT_FALSE(dlg.Test().Running());
    EXPECT_EQ(Text(dlg, "BumpResultLabel"), "PASS");
    EXPECT_TRUE(Text(dlg, "BumpRecoveryLabel").endsWith(" s"));
    EXPECT_TRUE(Text(dlg, "BumpReasonLabel").contains("The detector was sent Bump Pass."));
    EXPECT_EQ(Text(dlg, "BumpCountdownLabel"), "");
    // Every step done; no button moved on the way.
    EXPECT_FALSE(current(6));
    EXPECT_EQ(stepBtn->geometry(), stepAt);
    EXPECT_EQ(closeBtn->geometry(), closeAt);
}

TEST_F(GuidedProceduresTest, SimulateModeRunsEachProcedureWithTheDialogsOwnGas)
{
    const struct {
        const char *name;
        double gas;
        const char *result, *reason;
    } cases[] = {
        {"the cylinder's gas", 25.0, "PASS", "The detector was sent Bump Pass."},
        {"too weak a gas", 5.0, "FAIL", "did not rise to the low alarm level"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Detector(SimSensorKind::kResponsive);
        TBumpTestDlg dlg(session, {Cylinder(5, 250)}, nullptr, &screen);
        EXPECT_EQ(dlg.findChild<QWidget *>(QStringLiteral("SimGasPanel")), nullptr) << "only in simulate mode";
        dlg.UseSimulator(*sim);
        // The gas offered is the picked cylinder's.
        EXPECT_DOUBLE_EQ(Find<QDoubleSpinBox>(dlg, QStringLiteral("SimGasSpin"))->value(), 25.0);
        Find<QSpinBox>(dlg, QStringLiteral("BumpWithinSpin"))->setValue(15);
        dlg.show();
        Find<QPushButton>(dlg, QStringLiteral("BumpStartBtn"))->click();
        ASSERT_TRUE(dlg.Test().Running());
        Train(dlg, c.gas, "BumpStepLabel", "BumpStepBtn", [&] { return dlg.Test().Running(); },
              [&] { return dlg.Test().NextDue(); });
        EXPECT_EQ(Text(dlg, "BumpResultLabel"), c.result);
        EXPECT_TRUE(Text(dlg, "BumpReasonLabel").contains(c.reason)) << Text(dlg, "BumpReasonLabel").toStdString();
        EXPECT_FALSE(sim->AppliedGas().has_value()) << "the trainee removed it";
    }

    // A calibration of a drifted sensor, found low, left within tolerance.
    Detector(SimSensorKind::kDrifted);
    TSensorCalDlg cal(session, nullptr, &screen);
    cal.SetCylinders({Cylinder(4, 500)});
    cal.UseSimulator(*sim);
    RTamselCFG cfg;
    const auto bytes = sim->Config();
    std::memcpy(&cfg, bytes.data(), sizeof cfg);
    ASSERT_TRUE(cal.Prepare(cfg));
    cal.show();
    ASSERT_TRUE(cal.SelectCylinder(4));
    EXPECT_DOUBLE_EQ(Find<QDoubleSpinBox>(cal, QStringLiteral("SimGasSpin"))->value(), 50.0);
    Find<QPushButton>(cal, QStringLiteral("CalBtn"))->click();
    ASSERT_TRUE(cal.Evidence().Running());
    EXPECT_TRUE(Find<QLabel>(cal, QStringLiteral("CalStep1"))->font().bold());
    EXPECT_EQ(Text(cal, "CalWaitLabel"), "for a stable reading");
    EXPECT_EQ(Text(cal, "CalCountdownLabel"), "2:00 left");
    Train(cal, 50.0, "CalStepLabel", "CalStepBtn", [&] { return cal.Evidence().Running(); },
          [&] { return cal.Evidence().NextDue(); });
    EXPECT_EQ(Text(cal, "CalResultLabel"), "PASS: as left within tolerance");
    EXPECT_TRUE(Text(cal, "CalFoundSpanLabel").contains("(-3")) << Text(cal, "CalFoundSpanLabel").toStdString();
    EXPECT_TRUE(Text(cal, "CalLeftSpanLabel").contains(", within +-10.0 %"))
        << Text(cal, "CalLeftSpanLabel").toStdString();
    EXPECT_FALSE(sim->AppliedGas().has_value());

    // The logger carries the same controls.
    TSensorLogDlg logger(session, nullptr, &screen);
    logger.UseSimulator(*sim);
    Find<QDoubleSpinBox>(logger, QStringLiteral("SimGasSpin"))->setValue(12.0);
    Find<QPushButton>(logger, QStringLiteral("SimGasApplyBtn"))->click();
    ASSERT_TRUE(sim->AppliedGas().has_value());
    EXPECT_DOUBLE_EQ(*sim->AppliedGas(), 12.0);
    Find<QPushButton>(logger, QStringLiteral("SimGasRemoveBtn"))->click();
    EXPECT_FALSE(sim->AppliedGas().has_value());
}

TEST_F(GuidedProceduresTest, CalibrationCountsDownTheWaitForTheGasToReachTheSensor)
{
    // Gas "applied" but none reaches the sensor: the minute the measurement
    // waits for the change is counted down, the button that started it greyed.
    Detector(SimSensorKind::kResponsive);
    TSensorCalDlg cal(session, nullptr, &screen);
    cal.SetCylinders({Cylinder(4, 500)});
    RTamselCFG cfg;
    const auto bytes = sim->Config();
    std::memcpy(&cfg, bytes.data(), sizeof cfg);
    ASSERT_TRUE(cal.Prepare(cfg));
    cal.show();
    ASSERT_TRUE(cal.SelectCylinder(4));
    Find<QPushButton>(cal, QStringLiteral("CalBtn"))->click();
    const auto due = [&] { return cal.Evidence().NextDue(); };
    for (int i = 0; i < 200 && cal.Evidence().Running() && !cal.Evidence().AwaitingStep(); ++i)
        Pass(cal, due);
    ASSERT_TRUE(cal.Evidence().AwaitingStep());
    EXPECT_NE(Text(cal, "CalFoundZeroLabel"), "-") << "filled the moment it was measured";
    EXPECT_EQ(Text(cal, "CalWaitLabel"), "to apply the gas");
    QPushButton *stepBtn = Find<QPushButton>(cal, QStringLiteral("CalStepBtn"));
    const QRect stepAt = stepBtn->geometry();
    stepBtn->click();
    EXPECT_FALSE(stepBtn->isEnabled());
    EXPECT_EQ(Text(cal, "CalWaitLabel"), "for the gas at the sensor");
    EXPECT_EQ(Text(cal, "CalCountdownLabel"), "1:00 left");
    const TDateTime clicked = clock.FNow;
    for (int i = 0; i < 100 && clock.FNow < AddSeconds(clicked, 2.5); ++i)
        Pass(cal, due);
    EXPECT_TRUE(Text(cal, "CalCountdownLabel").startsWith("5")) << Text(cal, "CalCountdownLabel").toStdString();
    EXPECT_EQ(stepBtn->geometry(), stepAt);
    Find<QPushButton>(cal, QStringLiteral("CalAbortBtn"))->click();
    for (int i = 0; i < 20 && cal.Evidence().Running(); ++i)
        Pass(cal, due);
    EXPECT_FALSE(cal.Evidence().Running());
}

TEST(SimGasPanelTest, ItsButtonsKeepTheirPlacesWhateverTheStateLineSays)
{
    TestApp();
    SimOptions o;
    o.response_seconds = 0.001;
    SimDetector sim(o);
    TSimGasPanel panel(sim, QStringLiteral("ppm"));
    panel.show();
    auto *apply = panel.findChild<QPushButton *>(QStringLiteral("SimGasApplyBtn"));
    auto *remove = panel.findChild<QPushButton *>(QStringLiteral("SimGasRemoveBtn"));
    ASSERT_TRUE(apply && remove);
    QApplication::processEvents();
    const QRect applyAt = apply->geometry(), removeAt = remove->geometry();
    const QSize hint = panel.sizeHint();
    apply->click();
    QApplication::processEvents();
    EXPECT_NE(panel.findChild<QLabel *>(QStringLiteral("SimGasStateLabel"))->text(), "clean air");
    EXPECT_EQ(apply->geometry(), applyAt);
    EXPECT_EQ(remove->geometry(), removeAt);
    EXPECT_EQ(panel.sizeHint(), hint);
}
