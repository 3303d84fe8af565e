// The status bar after a bump test or a calibration: red with the verdict for
// a failed or refused one, green for a pass, shown by the watch on the
// dialog the moment the procedure ends.
#include <gtest/gtest.h>

#include <thread>

#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include "app/clock.h"
#include "app/status.h"
#include "sim/sim_detector.h"
#include "support/fake_screen.h"
#include "support/test_session.h"
#include "ui/bump_test_dlg.h"
#include "ui/qt_screen.h"
#include "ui/ui_app.h"
#include "ui/verdict_status.h"

#include "procedure_fixture.h"

namespace {

RBumpResult Bump(EBumpOutcome outcome, const char *reason = "")
{
    RBumpResult r;
    r.mOutcome = outcome;
    r.mReason = reason;
    return r;
}

bool Same(RColor a, RColor b)
{
    return a.r == b.r && a.g == b.g && a.b == b.b;
}


} // namespace

TEST(VerdictStatusTest, FailedAndRefusedProceduresAreRed)
{
    RCalEvidence measured;
    const struct {
        const char *mName;
        RStatusVerdict mVerdict;
        EVerdictLook mLook;
        const char *mText;
    } cases[] = {
        {"bump pass", BumpVerdict(Bump(EBumpOutcome::kPass)), EVerdictLook::kPass, "Bump Test... PASS"},
        {"bump fail", BumpVerdict(Bump(EBumpOutcome::kFail, "no LOW alarm within 60 s")), EVerdictLook::kFail,
         "Bump Test... FAIL: no LOW alarm within 60 s"},
        {"bump refused", BumpVerdict(Bump(EBumpOutcome::kRefused, "not in clean air")), EVerdictLook::kFail,
         "Bump Test... refused: not in clean air"},
        {"bump stopped", BumpVerdict(Bump(EBumpOutcome::kStopped)), EVerdictLook::kNeutral, "Bump Test... stopped"},
        // Its read failed: that frame's own red status stays.
        {"bump unread", BumpVerdict(Bump(EBumpOutcome::kLinkFailed)), EVerdictLook::kNone, ""},
        {"calibration ok", CalVerdict(ECalOutcome::kOk, nullptr), EVerdictLook::kPass, "Sensor Calibration... OK"},
        {"calibration fail", CalVerdict(ECalOutcome::kFailed, nullptr), EVerdictLook::kFail,
         "Sensor Calibration... FAIL"},
        {"calibration time-out", CalVerdict(ECalOutcome::kTimeOut, nullptr), EVerdictLook::kFail,
         "Sensor Calibration... FAIL: time-out"},
        {"calibration not prepared", CalVerdict(ECalOutcome::kNotPrepared, nullptr), EVerdictLook::kNone, ""},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.mVerdict.mLook, c.mLook) << c.mName;
        EXPECT_EQ(c.mVerdict.mText, c.mText) << c.mName;
    }
    // Measured against a cylinder: the measured verdict, even after the procedure's own OK.
    const struct {
        ECalEvidenceOutcome mOutcome;
        const char *mReason;
        EVerdictLook mLook;
        const char *mText;
    } measures[] = {
        {ECalEvidenceOutcome::kPass, "", EVerdictLook::kPass, "Sensor Calibration... PASS"},
        {ECalEvidenceOutcome::kFail, "as left 30 % low", EVerdictLook::kFail,
         "Sensor Calibration... FAIL: as left 30 % low"},
        {ECalEvidenceOutcome::kRefused, "no gas at the sensor", EVerdictLook::kFail,
         "Sensor Calibration... refused: no gas at the sensor"},
        {ECalEvidenceOutcome::kProcedure, "", EVerdictLook::kPass, "Sensor Calibration... OK"},
    };
    for (const auto &m : measures) {
        measured.mOutcome = m.mOutcome;
        measured.mReason = m.mReason;
        const RStatusVerdict v = CalVerdict(ECalOutcome::kOk, &measured);
        EXPECT_EQ(v.mLook, m.mLook) << m.mText;
        EXPECT_EQ(v.mText, m.mText);
    }

    TFakeScreen screen;
    ShowVerdict(screen, BumpVerdict(Bump(EBumpOutcome::kFail, "why")));
    ShowVerdict(screen, BumpVerdict(Bump(EBumpOutcome::kLinkFailed))); // leaves it
    ASSERT_EQ(screen.statuses.size(), 1u);
    EXPECT_TRUE(Same(screen.statuses[0].mBackground, kFailBackground));
    EXPECT_TRUE(Same(screen.statuses[0].mText, kFailText));
}

TEST(VerdictStatusTest, BumpTestFailTurnsTheStatusBarRedWhileTheDialogIsOpen)
{
    TestApp();
    TTestSession test;
    TStepClock clock;
    test.session.UseClock(clock);
    test.session.DeviceCFG.mConnectTime = 500;
    SimOptions o;
    o.sensor_kind = SimSensorKind::kDead;
    o.response_seconds = 0.001;
    SimDetector &sim = test.StartSim(o);
    QLabel status;
    TQtScreen screen(nullptr, &status, nullptr);
    screen.FOnMessage = [](const std::string &, const std::string &, MsgIcon) {};
    status.setText(QStringLiteral("Read Norvik Information... OK"));

    RGasCylinder cylinder;
    cylinder.mId = 5;
    cylinder.mGas = "H2S";
    cylinder.mConcentration = 250;
    cylinder.mUnit = "ppm";
    cylinder.mLot = "LOT-42";
    cylinder.mExpires = "2099-12-31";
    TBumpTestDlg dlg(test.session, {cylinder}, nullptr, &screen);
    TVerdictWatch watch(dlg, screen);
    ASSERT_TRUE(dlg.SelectCylinder(5));
    dlg.findChild<QSpinBox *>(QStringLiteral("BumpWithinSpin"))->setValue(20);
    dlg.show();
    dlg.findChild<QPushButton *>(QStringLiteral("BumpStartBtn"))->click();
    ASSERT_TRUE(dlg.Test().Running());
    watch.Check();
    // The technician follows the steps; the passes run on the test's clock.
    for (int guard = 0; guard < 20000 && dlg.Test().Running(); ++guard) {
        const QString step = dlg.findChild<QLabel *>(QStringLiteral("BumpStepLabel"))->text();
        if (step.startsWith(QLatin1String("Apply gas")) && !sim.AppliedGas())
            sim.ApplyGas(25.0);
        else if (step.startsWith(QLatin1String("Remove gas")) && sim.AppliedGas())
            sim.RemoveGas();
        if (auto *btn = dlg.findChild<QPushButton *>(QStringLiteral("BumpStepBtn")); btn->isEnabled())
            btn->click();
        QMetaObject::invokeMethod(&dlg, "RunPass", Qt::DirectConnection);
        watch.Check();
        if (dlg.Test().Running())
            clock.SleepUntil(dlg.Test().NextDue());
    }
    ASSERT_EQ(dlg.Test().Result().mOutcome, EBumpOutcome::kFail);
    watch.Check();
    EXPECT_TRUE(status.text().startsWith(QStringLiteral("Bump Test... FAIL"))) << status.text().toStdString();
    EXPECT_EQ(status.palette().color(QPalette::Window), QColor(255, 0, 0));
    // Looked at again (the dialog's close): shown once, left as it is.
    status.setText(QStringLiteral("later"));
    watch.Check();
    EXPECT_EQ(status.text(), QStringLiteral("later"));
}
