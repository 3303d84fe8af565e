// What the window asks once for certificates, and the smaller window items:
// the calibration's cylinder picked for the technician, the logger after a
// read. Offscreen, against an in-process simulated detector.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QTimer>

#include "app/certifier.h"
#include "support/fake_screen.h"
#include "ui/sensor_cal_dlg.h"
#include "window_fixture.h"

namespace {

// Runs `look` on the modal dialog the next click opens, then closes it.
void WhenModal(QObject *context, const std::function<void(QDialog &)> &look)
{
    QTimer::singleShot(0, context, [look] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        look(*dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
}

class CertifierWindowTest : public MainWindowTest {
protected:
    // The window with a prompt that answers as `answer` says and counts.
    TNorvikIRMainForm &OpenAsking(bool answer)
    {
        TNorvikIRMainForm &w = Open();
        w.FAskCertifier = [this, answer](RCertifier &values, const QStringList &missing, QWidget *) {
            FAsked.push_back(missing);
            values.mTechnician = QStringLiteral("Ada Tester");
            values.mAddress = QStringLiteral("1 Mill Lane, Leeds");
            values.mBench = QStringLiteral("Bench 3");
            values.mOrganisation = QStringLiteral("Typed Over");
            return answer;
        };
        return w;
    }
    void BumpTest()
    {
        WhenModal(FWindow.get(), [](QDialog &) {});
        Click("UserBumpTestBtn");
    }
    std::vector<QStringList> FAsked;
};

} // namespace

TEST_F(CertifierWindowTest, AsksOnceForWhatCertificatesNameKeepsItAndLeavesTheSettingsTheirs)
{
    WriteIni("[RECORDS]\nOrganisation=North Gas Service\n");
    OpenAsking(true);
    BumpTest();
    BumpTest();
    ASSERT_EQ(FAsked.size(), 1u);
    EXPECT_EQ(FAsked[0], (QStringList{"technician's printed name", "address", "bench name"}));
    const RCertifier kept = CertifierSettings(session);
    EXPECT_EQ(kept.mTechnician, "Ada Tester");
    EXPECT_EQ(kept.mOrganisation, "North Gas Service"); // the settings file's, not what the form held
    EXPECT_EQ(kept.mAddress, "1 Mill Lane, Leeds");
    EXPECT_EQ(kept.mBench, "Bench 3");
    EXPECT_TRUE(session.Store().ReadText(TStoreGroup::RECORDS, "Organisation").empty());

    // The next start: nothing is missing, nothing is asked.
    FAsked.clear();
    OpenAsking(true);
    BumpTest();
    EXPECT_TRUE(FAsked.empty());
}

TEST_F(CertifierWindowTest, DeclinedIsNotAskedAgainInTheSameRunNorKept)
{
    OpenAsking(false);
    BumpTest();
    BumpTest();
    ASSERT_EQ(FAsked.size(), 1u);
    EXPECT_EQ(FAsked[0].size(), 4);
    EXPECT_EQ(MissingCertifierValues(CertifierSettings(session)).size(), 4);
}

TEST_F(MainWindowTest, LoggerKnowsTheAlarmLevelsOfTheDetectorJustReadAndCloses)
{
    SimOptions o = SimDemoOptions();
    o.serial = "SH10000001"; // the identity and the configuration alike, as a real unit keeps them
    StartSim(o);
    WriteIni(kDeveloperIni);
    Open();
    for (const bool read : {false, true}) {
        SCOPED_TRACE(read ? "after a read" : "nothing read");
        if (read)
            Click("UserOptReadDeviceBtn");
        QString levels;
        bool closed = false;
        WhenModal(FWindow.get(), [&](QDialog &logger) {
            levels = logger.findChild<QLabel *>(QStringLiteral("SensorAlarmLevelsLabel"))->text();
            logger.findChild<QPushButton *>(QStringLiteral("SensorLogCloseBtn"))->click();
            closed = !logger.isVisible();
        });
        Click("FatoryOptLogSensorBtn");
        EXPECT_TRUE(closed);
        EXPECT_EQ(levels.contains(QLatin1String("read this detector first")), !read) << levels.toStdString();
        EXPECT_EQ(levels.contains(QLatin1String("low alarm")), read) << levels.toStdString();
    }
}

namespace {

RGasCylinder Cylinder(int64_t id, const char *gas, int32_t tenths, const char *expires = "2099-12-31",
                      bool retired = false)
{
    RGasCylinder c;
    c.mId = id;
    c.mGas = gas;
    c.mConcentration = tenths;
    c.mUnit = "ppm";
    c.mLot = "LOT-" + std::to_string(id);
    c.mExpires = expires;
    c.mBalance = "N2";
    c.mMaker = "GasCo Calibration Gases Ltd";
    c.mRetired = retired;
    return c;
}

} // namespace

TEST(CalibrationCylinderTest, TheOneFittingCylinderIsPickedAndShownWhole)
{
    TestApp();
    TTestSession t;
    t.StartSim(SimDemoOptions());
    RTamselCFG cfg;
    std::memcpy(&cfg, t.sim->Config().data(), sizeof cfg);
    const RGasCylinder fits = Cylinder(1, "H2S", 250), alsoFits = Cylinder(2, "H2S", 500);
    const RGasCylinder expired = Cylinder(3, "H2S", 250, "2001-01-01"), otherGas = Cylinder(4, "CO", 1000),
                       belowAlarm = Cylinder(5, "H2S", 10), retired = Cylinder(6, "H2S", 250, "2099-12-31", true);
    struct RCase {
        const char *mWhat;
        std::vector<RGasCylinder> mCylinders;
        int64_t mPicked; // 0: none
    };
    const RCase cases[] = {
        {"one fits among others", {expired, otherGas, fits, belowAlarm}, 1},
        {"none fits", {expired, otherGas, belowAlarm}, 0},
        {"two fit: the technician chooses", {fits, alsoFits}, 0},
        {"a retired one is not offered", {retired, alsoFits}, 2},
    };
    for (const RCase &c : cases) {
        TFakeScreen screen;
        TSensorCalDlg dlg(t.session, nullptr, &screen);
        dlg.SetCylinders(c.mCylinders);
        ASSERT_TRUE(dlg.Prepare(cfg)) << c.mWhat;
        auto *combo = dlg.findChild<QComboBox *>(QStringLiteral("CalCylinderCombo"));
        auto *text = dlg.findChild<QLabel *>(QStringLiteral("CalCylinderText"));
        if (c.mPicked == 0) {
            EXPECT_EQ(combo->currentIndex(), 0) << c.mWhat;
            continue;
        }
        EXPECT_TRUE(combo->currentText().startsWith(QString::number(c.mPicked) + QLatin1Char(':'))) << c.mWhat;
        EXPECT_EQ(text->text(), QStringLiteral("%1: H2S %2 ppm, lot LOT-%1, balance N2, made by GasCo Calibration "
                                               "Gases Ltd, expires 2099-12-31")
                                    .arg(c.mPicked)
                                    .arg(c.mPicked == 1 ? 25 : 50))
            << c.mWhat;
    }
}
