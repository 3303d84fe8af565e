// The screenshots in docs/, taken by scripts/screenshots.sh under Xvfb: both
// layouts after a read of the simulated demonstration unit, the logger with
// gas applied, and the adapter checks after a read that found no adapter.
// Skipped unless BEAMPORT_SCREENSHOT_DIR names the folder to write to;
// BEAMPORT_SCREENSHOT_SUFFIX ends each name, BEAMPORT_SCREENSHOT_NAMES (comma
// separated) keeps only those.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include <QDir>
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
#include "sim/sim_detector.h"
#include "support/test_session.h"
#include "ui/main_window.h"
#include "ui/qt_screen.h"
#include "records/journal_store.h"
#include "records/templates.h"
#include "ui/program_units_dlg.h"
#include "ui/sensor_log_dlg.h"
#include "ui/ui_app.h"

namespace {

void Shoot(const char *name)
{
    QTest::qWait(1200); // painted, the clock ticked
    const QStringList only = QString::fromLocal8Bit(qgetenv("BEAMPORT_SCREENSHOT_NAMES")).split(
        QLatin1Char(','), Qt::SkipEmptyParts);
    if (!only.isEmpty() && !only.contains(QString::fromLatin1(name)))
        return;
    const std::string dir = std::getenv("BEAMPORT_SCREENSHOT_DIR");
    const char *suffix = std::getenv("BEAMPORT_SCREENSHOT_SUFFIX");
    const QString path = QString::fromStdString(dir + "/" + name + (suffix ? suffix : "") + ".png");
    EXPECT_TRUE(QGuiApplication::primaryScreen()->grabWindow(0).save(path)) << path.toStdString();
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

} // namespace

TEST(DISABLED_Screenshots, BothLayoutsAndTheDialogs)
{
    if (!std::getenv("BEAMPORT_SCREENSHOT_DIR"))
        GTEST_SKIP() << "BEAMPORT_SCREENSHOT_DIR is not set";
    TestApp();
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
    window.reset();
}
