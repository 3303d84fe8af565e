// The dialogs that measure against a gas cylinder, offscreen, against an
// in-process simulated detector on a clock that moves only when the test
// says: the Bump Test dialog through a pass and a fail, the calibration
// dialog's as-found and as-left, the Cylinders page of the Service Records
// window; and simulate mode's title, status, "Apply gas" panel and its own
// remembered values.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFileInfo>
#include <QSettings>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTemporaryDir>
#include <cstring>
#include <thread>

#include "app/clock.h"
#include "app/user_store.h"
#include "records/cylinder_store.h"
#include "records/store.h"
#include "sim/sim_detector.h"
#include "support/fake_screen.h"
#include "support/test_session.h"
#include "ui/bump_test_dlg.h"
#include "ui/records_dialog.h"
#include "ui/sensor_cal_dlg.h"
#include "ui/sim_gas_panel.h"
#include "ui/ui_app.h"
#include "procedure_fixture.h"
#include "window_fixture.h"

namespace {

RGasCylinder Cylinder(int64_t id, const char *gas, int32_t tenths, const char *expires = "2099-12-31")
{
    return TestCylinder(id, gas, tenths, expires);
}

class EvidenceDialogsTest : public TProcedureDialogTest {
protected:
    // The technician at the dialog: gas on at "Apply gas", off at "Remove
    // gas", and the step's button clicked; the passes run as the dialog's
    // timer would run them, on the test's clock.
    template <typename Dialog> void Follow(Dialog &dlg, double gas, const char *stepLabel, const char *stepBtn,
                                           const std::function<bool()> &running, const std::function<TDateTime()> &due)
    {
        for (int guard = 0; guard < 20000 && running(); ++guard) {
            const QString step = Find<QLabel>(dlg, stepLabel)->text();
            QPushButton *btn = Find<QPushButton>(dlg, stepBtn);
            if (step.startsWith(QLatin1String("Apply gas")) && !sim->AppliedGas())
                sim->ApplyGas(gas);
            else if (step.startsWith(QLatin1String("Remove gas")) && sim->AppliedGas())
                sim->RemoveGas();
            if (btn->isEnabled())
                btn->click();
            QMetaObject::invokeMethod(&dlg, "RunPass", Qt::DirectConnection);
            if (running())
                clock.SleepUntil(due());
        }
        EXPECT_FALSE(running());
    }
    TFakeScreen screen;
};

} // namespace

TEST_F(EvidenceDialogsTest, BumpTestDialogPassesAndFails)
{
    const struct {
        const char *name;
        SimSensorKind kind;
        const char *result, *reason;
        bool alarm;
    } cases[] = {
        {"responsive", SimSensorKind::kResponsive, "PASS", "The detector was sent Bump Pass.", true},
        {"dead", SimSensorKind::kDead, "FAIL", "did not rise to the low alarm level", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Detector(c.kind);
        // Retired and other cylinders are not offered; an expired one is, and refused.
        RGasCylinder retired = Cylinder(3, "H2S", 250);
        retired.mRetired = true;
        TBumpTestDlg dlg(session, {retired, Cylinder(5, "H2S", 250)}, nullptr, &screen);
        EXPECT_FALSE(dlg.SelectCylinder(3));
        ASSERT_TRUE(dlg.SelectCylinder(5));
        Find<QSpinBox>(dlg, "BumpWithinSpin")->setValue(20);
        dlg.show();
        Find<QPushButton>(dlg, "BumpStartBtn")->click();
        ASSERT_TRUE(dlg.Test().Running()) << (screen.messages.empty() ? "" : screen.messages.back().mText);
        EXPECT_FALSE(dlg.CloseAllowed());
        EXPECT_FALSE(Find<QPushButton>(dlg, "BumpCloseBtn")->isEnabled());
        Follow(dlg, 25.0, "BumpStepLabel", "BumpStepBtn", [&] { return dlg.Test().Running(); },
               [&] { return dlg.Test().NextDue(); });
        EXPECT_EQ(Find<QLabel>(dlg, "BumpResultLabel")->text(), c.result);
        EXPECT_TRUE(Find<QLabel>(dlg, "BumpReasonLabel")->text().contains(c.reason))
            << Find<QLabel>(dlg, "BumpReasonLabel")->text().toStdString();
        EXPECT_NE(Find<QLabel>(dlg, "BumpBaselineLabel")->text(), "-");
        EXPECT_EQ(Find<QLabel>(dlg, "BumpAlarmLabel")->text().startsWith("after "), c.alarm);
        EXPECT_TRUE(Find<QLabel>(dlg, "BumpCriteriaLabel")->text().contains("LOW alarm at 10 ppm within 20 s"));
        EXPECT_TRUE(Find<QPushButton>(dlg, "BumpCloseBtn")->isEnabled());
        EXPECT_TRUE(dlg.CloseAllowed());
    }
}

TEST_F(EvidenceDialogsTest, CalibrationDialogMeasuresAsFoundAndAsLeft)
{
    Detector(SimSensorKind::kDrifted);
    TSensorCalDlg dlg(session, nullptr, &screen);
    dlg.SetCylinders({Cylinder(4, "H2S", 500), Cylinder(9, "H2S", 250, "2001-01-01")});
    RTamselCFG cfg;
    const auto bytes = sim->Config();
    std::memcpy(&cfg, bytes.data(), sizeof cfg);
    ASSERT_TRUE(dlg.Prepare(cfg));
    dlg.show();
    QDoubleSpinBox *span = Find<QDoubleSpinBox>(dlg, "SpanGasSpin");

    // An expired cylinder is refused with its reason; nothing runs.
    ASSERT_TRUE(dlg.SelectCylinder(9));
    Find<QPushButton>(dlg, "CalBtn")->click();
    EXPECT_FALSE(dlg.Evidence().Running());
    ASSERT_FALSE(screen.messages.empty());
    EXPECT_NE(screen.messages.back().mText.find("expired"), std::string::npos) << screen.messages.back().mText;

    // The picked cylinder sets the span gas, which can then not be edited.
    ASSERT_TRUE(dlg.SelectCylinder(4));
    EXPECT_DOUBLE_EQ(span->value(), 50.0);
    EXPECT_FALSE(span->isEnabled());
    Find<QPushButton>(dlg, "CalBtn")->click();
    ASSERT_TRUE(dlg.Evidence().Running());
    EXPECT_FALSE(dlg.CloseAllowed());
    Follow(dlg, 50.0, "CalStepLabel", "CalStepBtn", [&] { return dlg.Evidence().Running(); },
           [&] { return dlg.Evidence().NextDue(); });
    // Found about 30 % low; left within tolerance.
    const QString found = Find<QLabel>(dlg, "CalFoundSpanLabel")->text();
    const QString left = Find<QLabel>(dlg, "CalLeftSpanLabel")->text();
    EXPECT_TRUE(found.contains("(-3")) << found.toStdString();
    EXPECT_TRUE(left.contains(" ppm (")) << left.toStdString();
    EXPECT_NEAR(dlg.Evidence().Evidence().mLeft.mSpan->mValue, 500, 50);
    EXPECT_EQ(Find<QLabel>(dlg, "CalResultLabel")->text().toStdString(), "PASS: as left within tolerance");
    EXPECT_EQ(Find<QLabel>(dlg, "CalLabel2")->text(), "Calibration ... OK");
    EXPECT_TRUE(dlg.CloseAllowed());

    // "None" again: the span gas as entered, no measurement.
    Find<QComboBox>(dlg, "CalCylinderCombo")->setCurrentIndex(0);
    EXPECT_TRUE(span->isEnabled());
}

TEST_F(EvidenceDialogsTest, CylindersPageAddsListsAndRetires)
{
    QTemporaryDir dir;
    session.RecordsChoice = ("sqlite:" + dir.filePath("records.sqlite")).toStdString();
    TServiceRecordsDlg dlg(session, screen, QString());
    // The lists (and with them the page's store) arrive from the loading thread.
    for (int i = 0; i < 1000 && dlg.IsLoading(); ++i)
        QTest::qWait(10);
    ASSERT_FALSE(dlg.IsLoading());
    QTableWidget *table = Find<QTableWidget>(dlg, "CylindersTable");
    EXPECT_EQ(table->rowCount(), 0);

    Find<QComboBox>(dlg, "CylinderGasCombo")->setCurrentIndex(
        Find<QComboBox>(dlg, "CylinderGasCombo")->findData(QStringLiteral("H2S")));
    Find<QDoubleSpinBox>(dlg, "CylinderConcentrationSpin")->setValue(25);
    // No lot: refused with the reason, nothing kept.
    Find<QPushButton>(dlg, "CylinderAddBtn")->click();
    EXPECT_EQ(table->rowCount(), 0);
    EXPECT_TRUE(Find<QLabel>(dlg, "RecordsMessageLabel")->text().startsWith("The cylinder was not added: "));
    Find<QLineEdit>(dlg, "CylinderLotEdit")->setText("LOT-9");
    Find<QLineEdit>(dlg, "CylinderBalanceEdit")->setText("N2");
    Find<QPushButton>(dlg, "CylinderAddBtn")->click();
    ASSERT_EQ(table->rowCount(), 1);
    EXPECT_EQ(table->item(0, 1)->text(), "H2S");
    EXPECT_EQ(table->item(0, 2)->text(), "25 ppm");
    EXPECT_EQ(table->item(0, 3)->text(), "LOT-9");
    EXPECT_EQ(table->item(0, 7)->text(), "in service");

    QPushButton *retire = Find<QPushButton>(dlg, "CylinderRetireBtn");
    EXPECT_FALSE(retire->isEnabled());
    table->selectRow(0);
    ASSERT_TRUE(retire->isEnabled());
    retire->click();
    EXPECT_EQ(table->item(0, 7)->text(), "retired");
    // Kept in the store the tools read.
    QString error;
    const std::vector<RGasCylinder> kept = [&] {
        std::vector<RGasCylinder> all;
        auto store = OpenStoreInForce(session, error);
        EXPECT_TRUE(store) << error.toStdString();
        if (store)
            ListCylinders(*store, all, error);
        return all;
    }();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_TRUE(kept[0].mRetired);
    EXPECT_EQ(kept[0].mConcentration, 250);
}

class SimulateModeTest : public MainWindowTest {};

TEST_F(SimulateModeTest, TitleStatusAndTheApplyGasPanel)
{
    SimOptions o;
    o.response_seconds = 0.001;
    SimDetector &detector = StartSim(o);
    TNorvikIRMainForm &window = Open();
    EXPECT_EQ(window.findChild<QWidget *>(QStringLiteral("SimGasPanel")), nullptr) << "only in simulate mode";
    window.UseSimulator(detector);
    EXPECT_TRUE(window.windowTitle().endsWith(" - simulated detector")) << window.windowTitle().toStdString();
    EXPECT_TRUE(W<QLabel>("SimulatedLabel")->isVisible());
    W<QDoubleSpinBox>("SimGasSpin")->setValue(40);
    Click("SimGasApplyBtn");
    ASSERT_TRUE(detector.AppliedGas().has_value());
    EXPECT_DOUBLE_EQ(*detector.AppliedGas(), 40.0);
    EXPECT_EQ(W<QLabel>("SimGasStateLabel")->text(), "40.0 ppm applied");
    Click("SimGasRemoveBtn");
    EXPECT_FALSE(detector.AppliedGas().has_value());
    EXPECT_EQ(W<QLabel>("SimGasStateLabel")->text(), "clean air");
}

TEST(SimulatedStore, IsAFileOfItsOwnBesideTheRealOne)
{
    TestApp();
    // Simulate mode's remembered values (a demonstration's span gas, its
    // folders) never become a real detector's defaults.
    const QFileInfo real(QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("IR"),
                                   QStringLiteral("Norvik"))
                             .fileName());
    const QFileInfo simulated(QString::fromStdString(SimulatedStoreFile()));
    EXPECT_NE(simulated.absoluteFilePath(), real.absoluteFilePath());
    EXPECT_EQ(simulated.absolutePath(), real.absolutePath());
    EXPECT_TRUE(simulated.fileName().contains("simulated")) << simulated.fileName().toStdString();
}
