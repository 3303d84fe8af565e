// The screenshots in docs/, taken by scripts/screenshots.sh under Xvfb: both
// layouts after a read of the simulated demonstration unit, the logger with
// gas applied, the adapter checks after a read that found no adapter, the Bump
// Test dialog after a pass and after a fail, the calibration dialog with its
// as-found and as-left readings, and the Cylinders page. Beside them, the
// logger alone with two and a half minutes of readings (a gas rising through
// both alarm levels and falling back), grabbed from the dialog itself.
// Skipped unless BEAMPORT_SCREENSHOT_DIR names the folder to write to;
// BEAMPORT_SCREENSHOT_SUFFIX ends each name, BEAMPORT_SCREENSHOT_NAMES (comma
// separated) keeps only those.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <functional>
#include <thread>
#include <tuple>
#include <QGuiApplication>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QListWidget>
#include <QSpinBox>
#include <QTest>

#include "app/user_store.h"
#include "model/settings_types.h"
#include "records/store.h"
#include "sim/sim_detector.h"
#include "support/fake_screen.h"
#include "support/test_session.h"
#include "ui/main_window.h"
#include "ui/qt_screen.h"
#include "records/templates.h"
#include "ui/program_units_dlg.h"
#include "records/cylinder_store.h"
#include "ui/bump_test_dlg.h"
#include "ui/records_dialog.h"
#include "ui/sensor_cal_dlg.h"
#include "ui/sensor_log_dlg.h"
#include "ui/ui_app.h"

namespace {

// Where the screenshot `name` goes; empty when BEAMPORT_SCREENSHOT_NAMES leaves it out.
QString ShotPath(const char *name)
{
    const QStringList only = QString::fromLocal8Bit(qgetenv("BEAMPORT_SCREENSHOT_NAMES")).split(
        QLatin1Char(','), Qt::SkipEmptyParts);
    if (!only.isEmpty() && !only.contains(QString::fromLatin1(name)))
        return {};
    const std::string dir = std::getenv("BEAMPORT_SCREENSHOT_DIR");
    const char *suffix = std::getenv("BEAMPORT_SCREENSHOT_SUFFIX");
    return QString::fromStdString(dir + "/" + name + (suffix ? suffix : "") + ".png");
}

void Shoot(const char *name)
{
    QTest::qWait(1200); // painted, the clock ticked
    const QString path = ShotPath(name);
    if (!path.isEmpty()) {
        EXPECT_TRUE(QGuiApplication::primaryScreen()->grabWindow(0).save(path)) << path.toStdString();
    }
}

std::unique_ptr<TNorvikIRMainForm> OpenWindow(TSession &session, const QTemporaryDir &dir, const char *ini)
{
    std::ofstream(dir.filePath(QStringLiteral("OPTAVO.INI")).toStdString()) << ini;
    auto window = std::make_unique<TNorvikIRMainForm>(session);
    window->Screen().FOnMessage = [](const std::string &, const std::string &, MsgIcon) {};
    window->Screen().FOnChooseFile = [](bool, const FileChoice &) { return std::optional<std::string>(); };
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    return window;
}

void Click(QWidget &window, const char *name)
{
    auto *button = window.findChild<QPushButton *>(QString::fromLatin1(name));
    ASSERT_NE(button, nullptr) << name;
    button->click();
}

// A clock that moves when a pass sleeps, so a measured test ends in moments.
class TStepClock : public IClock {
public:
    TDateTime FNow = 46000.5;
    TDateTime Now() override { return FNow; }
    TDateTime WallNow() override { return FNow; }
    void SleepUntil(TDateTime t) override
    {
        FNow = std::max(FNow, t);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
};

// The technician at a measuring dialog: gas on and off at its steps, the
// step's button clicked, the passes run on the step clock.
void Follow(QDialog &dlg, SimDetector &sim, TStepClock &clock, const char *stepLabel, const char *stepBtn,
            const std::function<bool()> &running, const std::function<TDateTime()> &due,
            const std::function<void()> &afterPass = {})
{
    for (int guard = 0; guard < 20000 && running(); ++guard) {
        auto *btn = dlg.findChild<QPushButton *>(QString::fromLatin1(stepBtn));
        const QString step = dlg.findChild<QLabel *>(QString::fromLatin1(stepLabel))->text();
        // The dialog's own simulated gas where it has it, as a trainee uses it.
        auto *apply = dlg.findChild<QPushButton *>(QStringLiteral("SimGasApplyBtn"));
        auto *remove = dlg.findChild<QPushButton *>(QStringLiteral("SimGasRemoveBtn"));
        if (step.startsWith(QLatin1String("Apply gas")) && !sim.AppliedGas())
            apply ? apply->click() : void(sim.ApplyGas(25.0));
        else if (step.startsWith(QLatin1String("Remove gas")) && sim.AppliedGas())
            remove ? remove->click() : sim.RemoveGas();
        if (btn->isEnabled())
            btn->click();
        QMetaObject::invokeMethod(&dlg, "RunPass", Qt::DirectConnection);
        QCoreApplication::processEvents();
        if (afterPass)
            afterPass();
        if (running())
            clock.SleepUntil(due());
    }
}

} // namespace

TEST(DISABLED_Screenshots, BothLayoutsAndTheDialogs)
{
    if (!std::getenv("BEAMPORT_SCREENSHOT_DIR"))
        GTEST_SKIP() << "BEAMPORT_SCREENSHOT_DIR is not set";
    TestApp();
    TStepClock clock; // outlives the session that uses it at the end
    TTestSession test;
    TSession &session = test.session;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QDir::setCurrent(dir.path());
    setenv("XDG_RUNTIME_DIR", dir.path().toLocal8Bit().constData(), 1);
    session.UseStoreFile(dir.filePath(QStringLiteral("store.ini")).toStdString());
    SimDetector &sim = test.StartSim(SimDemoOptions());

    // Before anything is read: the stand-ins are grey.
    auto window = OpenWindow(session, dir, "[Environment]\nModeEntry=QWZ_ENG__\n[ETC]\nLogEnable=1\n");
    Shoot("developer-first-start");
    Click(*window, "UserOptReadDeviceBtn");
    Shoot("developer-user-options");
    auto *pages = window->findChild<QTabWidget *>(QStringLiteral("PageControl"));
    pages->setCurrentIndex(1);
    Shoot("developer-factory-options");
    pages->setCurrentIndex(2);
    Click(*window, "EtcEEPROMReadBtn");
    Shoot("developer-test");

    // The logger over the developer layout, gas applied after a few readings.
    {
        TSensorLogDlg logger(session, window.get(), &window->Screen());
        logger.SetKnownConfiguration(window->State().FTamselCFG);
        logger.show();
        Click(logger, "StartBtn");
        QTest::qWait(4000);
        sim.SetReading(0, {120, 0, 0x01, 0}); // 12.0 ppm: above the low alarm
        QTest::qWait(8000);
        Shoot("logger");
        Click(logger, "StopBtn");
        QTest::qWait(1500);
    }
    sim.SetReading(0, {0, 0, 0x01, 0});

    // No adapter: the status bar offers the checks of this machine.
    pages->setCurrentIndex(0);
    test.UsePort("");
    Click(*window, "UserOptReadDeviceBtn");
    Click(*window, "AdapterCheckBtn");
    Shoot("adapter-check");
    test.UsePort(sim.DevicePath());


    window.reset();
    window = OpenWindow(session, dir, "");
    Click(*window, "UserReadDeviceBtn");
    Shoot("user-layout");

    // Program Units with a template of the store, one unit programmed.
    session.RecordsChoice = "sqlite:" + dir.filePath(QStringLiteral("records.sqlite")).toStdString();
    setenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toLocal8Bit().constData(), 1);
    {
        QString error;
        const std::unique_ptr<TRecordStore> store = OpenStoreInForce(session, error);
        ASSERT_TRUE(store) << error.toStdString();
        RConfigTemplate tpl;
        tpl.mName = "ACME plant 2";
        tpl.mSensor = 1;
        tpl.mFields = {{FindConfigField("mUserID"), {{}, "ACME02"}}, {FindConfigField("mAlarmHigh"), {{200}, {}}},
                       {FindConfigField("mAlarmLow"), {{120}, {}}}};
        ASSERT_TRUE(SaveTemplate(*store, tpl, "bench", "tech", error)) << error.toStdString();
    }
    window->ProgramUnitsBtnClick();
    auto *program = window->findChild<TProgramUnitsDlg *>();
    ASSERT_NE(program, nullptr);
    program->findChild<QSpinBox *>(QStringLiteral("ProgramCountSpin"))->setValue(1);
    window->Screen().FOnMessage = [](const std::string &caption, const std::string &text, MsgIcon) {
        ADD_FAILURE() << caption << ": " << text;
    };
    Click(*program, "ProgramStartBtn");
    EXPECT_EQ(program->findChild<QListWidget *>(QStringLiteral("ProgramUnitsList"))->count(), 1);
    Shoot("program-units");
    program->close();
    session.RecordsChoice.clear();
    // The cylinders on record, and the measured jobs against one, on a
    // detector that answers gas at once and a clock that the passes move.
    session.RecordsChoice = ("sqlite:" + dir.filePath(QStringLiteral("records.sqlite"))).toStdString();
    {
        QString error;
        auto store = OpenStoreInForce(session, error);
        ASSERT_TRUE(store) << error.toStdString();
        for (const auto &[gas, ppm, lot, expires] :
             {std::tuple{"H2S", 25.0, "H2S-2611-044", "2027-11-30"}, std::tuple{"H2S", 50.0, "H2S-2605-012", "2026-05-31"},
              std::tuple{"CO", 100.0, "CO-2609-101", "2028-09-30"}}) {
            RGasCylinder c;
            ASSERT_EQ(MakeCylinder(gas, ppm, lot, expires, "N2", "Acme Gas", session.SensorTypes, c), "");
            ASSERT_TRUE(AddCylinder(*store, c, QStringLiteral("tech"), error)) << error.toStdString();
        }
        RetireCylinder(*store, 2, error);
    }
    window->ServiceRecordsBtnClick();
    if (auto *records = window->findChild<TServiceRecordsDlg *>()) {
        auto *tabs = records->findChild<QTabWidget *>();
        tabs->setCurrentWidget(records->findChild<QWidget *>(QStringLiteral("CylindersPage")));
        Shoot("records-cylinders");
        records->close();
    }
    session.UseClock(clock);
    std::vector<RGasCylinder> cylinders;
    {
        QString error;
        auto store = OpenStoreInForce(session, error);
        ASSERT_TRUE(store && ListCylinders(*store, cylinders, error)) << error.toStdString();
    }
    for (const auto &[name, kind] : {std::pair{"bump-test-pass", SimSensorKind::kResponsive},
                                     std::pair{"bump-test-fail", SimSensorKind::kDead}}) {
        SimOptions o = SimDemoOptions();
        o.sensor_kind = kind;
        o.response_seconds = 0.001;
        SimDetector &unit = test.StartSim(o);
        TBumpTestDlg bump(session, cylinders, window.get(), &window->Screen());
        bump.UseSimulator(unit);
        bump.SelectCylinder(1);
        bump.show();
        Click(bump, "BumpStartBtn");
        // Mid-way: the gas on, the alarm in, the time left counting down.
        bool midway = kind != SimSensorKind::kResponsive;
        Follow(bump, unit, clock, "BumpStepLabel", "BumpStepBtn", [&] { return bump.Test().Running(); },
               [&] { return bump.Test().NextDue(); },
               [&] {
                   if (!midway && bump.Test().Phase() == EBumpPhase::kWatch &&
                       clock.FNow >= AddSeconds(bump.Test().PhaseStart(), 0.9)) {
                       midway = true;
                       Shoot("bump-test-midway");
                   }
               });
        Shoot(name);
    }
    {
        SimOptions o = SimDemoOptions();
        o.sensor_kind = SimSensorKind::kDrifted;
        o.response_seconds = 0.001;
        o.calibration_ms = 30;
        SimDetector &unit = test.StartSim(o);
        Click(*window, "UserReadDeviceBtn");
        TSensorCalDlg cal(session, window.get(), &window->Screen());
        cal.SetCylinders(cylinders);
        cal.UseSimulator(unit);
        ASSERT_TRUE(cal.Prepare(window->State().FTamselCFG));
        cal.SelectCylinder(1);
        cal.show();
        Click(cal, "CalBtn");
        Follow(cal, unit, clock, "CalStepLabel", "CalStepBtn", [&] { return cal.Evidence().Running(); },
               [&] { return cal.Evidence().NextDue(); });
        Shoot("calibration-as-found-as-left");
    }
    window.reset();
}

TEST(DISABLED_Screenshots, LoggerChart)
{
    if (!std::getenv("BEAMPORT_SCREENSHOT_DIR"))
        GTEST_SKIP() << "BEAMPORT_SCREENSHOT_DIR is not set";
    TestApp();
    TStepClock clock;
    TTestSession test;
    TSession &session = test.session;
    SimDetector &sim = test.StartSim(SimDemoOptions());
    session.UseClock(clock);
    TFakeScreen screen;
    screen.saveFiles.push_back(std::nullopt);

    RTamselCFG cfg;
    const auto bytes = sim.Config();
    std::memcpy(&cfg, bytes.data(), sizeof cfg);
    std::memcpy(cfg.mUnit.mSerial, sim.Identity().mSerial, sizeof cfg.mUnit.mSerial);
    TSensorLogDlg logger(session, nullptr, &screen);
    logger.SetKnownConfiguration(cfg);
    logger.show();
    Click(logger, "StartBtn");
    ASSERT_TRUE(logger.Logger().Running());

    // Clean air, then gas rising to a plateau above the high alarm, then clean
    // air again: tenths of the sensor's unit, one decimal place.
    const TDateTime start = clock.FNow;
    const auto tenths = [](double t) {
        const double level = 320.0;
        double v = 0;
        if (t >= 20 && t < 90)
            v = level * (1 - std::exp(-(t - 20) / 8.0));
        else if (t >= 90)
            v = level * (1 - std::exp(-70 / 8.0)) * std::exp(-(t - 90) / 14.0);
        return static_cast<uint16_t>(std::lround(v + 3 * std::sin(t * 1.7) + 3));
    };
    for (int guard = 0; guard < 2000 && clock.FNow < AddSeconds(start, 150); ++guard) {
        const double t = (clock.FNow - start) * 86400.0;
        sim.SetReading(0, {tenths(t), 0, 0x01, 0});
        QMetaObject::invokeMethod(&logger, "RunPass", Qt::DirectConnection);
        clock.SleepUntil(logger.Logger().NextDue());
    }
    QCoreApplication::processEvents();
    const QString path = ShotPath("logger-chart");
    if (!path.isEmpty()) {
        EXPECT_TRUE(logger.grab().save(path)) << path.toStdString();
    }
    Click(logger, "StopBtn");
    for (int guard = 0; guard < 100 && logger.Logger().Running(); ++guard) {
        QMetaObject::invokeMethod(&logger, "RunPass", Qt::DirectConnection);
        clock.SleepUntil(logger.Logger().NextDue());
    }
}
