// The logger and calibration dialogs, offscreen, against an in-process
// simulated detector: their controls by name, the states of the buttons, and
// that neither can be closed while it runs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <unistd.h>

#include "app/user_store.h"
#include "sim/sim_detector.h"
#include "support/fake_screen.h"
#include "support/test_session.h"
#include "ui/reading_chart.h"
#include "ui/sensor_cal_dlg.h"
#include "ui/sensor_log_dlg.h"
#include "ui/ui_app.h"

namespace {

bool WaitFor(const std::function<bool()> &done, int ms = 5000)
{
    for (int waited = 0; waited < ms; waited += 10) {
        if (done())
            return true;
        QTest::qWait(10);
    }
    return done();
}

class ToolsDialogsTest : public ::testing::Test, protected TTestSession {
protected:
    void SetUp() override
    {
        TestApp();
        FSavedLocale = QLocale();
        session.DeviceCFG.mConnectTime = 500;
        SimOptions o;
        o.calibration_ms = 600000;
        StartSim(o);
    }
    void TearDown() override { QLocale::setDefault(FSavedLocale); }

    template <typename T> T *Find(QWidget &parent, const char *name)
    {
        T *w = parent.findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    RTamselCFG DetectorRecord() const
    {
        RTamselCFG cfg;
        const auto bytes = sim->Config();
        std::memcpy(&cfg, bytes.data(), sizeof cfg);
        return cfg;
    }

    TFakeScreen screen;

private:
    QLocale FSavedLocale;
};

const char *const kLogButtons[] = {"StartBtn",   "StopBtn",      "CalBtn",      "ZeroBtn",    "SpanBtn",
                                   "CalAbortBtn", "ClearPeakBtn", "BumpPassBtn", "BumpFailBtn"};
const char *const kCommandButtons[] = {"CalBtn",       "ZeroBtn",     "SpanBtn",    "CalAbortBtn",
                                       "ClearPeakBtn", "BumpPassBtn", "BumpFailBtn"};

} // namespace

TEST_F(ToolsDialogsTest, LoggerControlsAndIdleState)
{
    TSensorLogDlg dlg(session, nullptr, &screen);
    EXPECT_EQ(dlg.windowTitle(), "Sensor Reading Data Logging");
    EXPECT_EQ(dlg.width(), 700);
    EXPECT_EQ(dlg.minimumHeight(), 360);
    EXPECT_EQ(dlg.maximumHeight(), 560);
    for (const char *name : kLogButtons)
        Find<QPushButton>(dlg, name);
    const struct {
        const char *name, *caption;
    } captions[] = {{"StartBtn", "Start Logging"}, {"StopBtn", "Stop Logging"}, {"CalBtn", "Calibration"},
                    {"ZeroBtn", "Zero"},           {"SpanBtn", "Span"},         {"CalAbortBtn", "Cal. Abort"},
                    {"ClearPeakBtn", "Clear Peak"}, {"BumpPassBtn", "Bump Pass"}, {"BumpFailBtn", "Bump Fail"}};
    for (const auto &c : captions)
        EXPECT_EQ(Find<QPushButton>(dlg, c.name)->text(), c.caption);
    for (const char *name : {"SensorValueLabel1", "SensorPeakLabel1", "SensorValueLabel2", "SensorPeakLabel2",
                             "SensorValueLabel3", "SensorPeakLabel3", "CalLabel", "CalProgLabel"})
        Find<QLabel>(dlg, name);
    EXPECT_EQ(Find<QLabel>(dlg, "CalProgLabel")->text(), "(0)");
    const char *history[] = {"Self Test Fail", "Calibration Fail", "Bump Test Fail",
                             "Calibration Due", "Bump Due", "Calibration progress"};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(Find<QCheckBox>(dlg, ("SensorHistoryCheck" + std::to_string(i + 1)).c_str())->text(), history[i]);
    const char *alarms[] = {"TWA", "STEL", "LOW", "HIGH", "MULTI"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(Find<QCheckBox>(dlg, ("SensorAlarmCheck" + std::to_string(i + 1)).c_str())->text(), alarms[i]);
    EXPECT_TRUE(Find<QCheckBox>(dlg, "SensorCheck2")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>(dlg, "SensorCheck3")->isChecked());
    Find<QProgressBar>(dlg, "CalProgressBar");
    Find<TReadingChart>(dlg, "SensorChart");

    EXPECT_TRUE(Find<QPushButton>(dlg, "StartBtn")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>(dlg, "StopBtn")->isEnabled());
    for (const char *name : kCommandButtons)
        EXPECT_FALSE(Find<QPushButton>(dlg, name)->isEnabled()) << name;
}

TEST_F(ToolsDialogsTest, LoggerRefusesToCloseWhileLogging)
{
    QLocale::setDefault(QLocale(QLocale::German));
    TSensorLogDlg dlg(session, nullptr, &screen);
    dlg.show();
    screen.saveFiles.push_back(std::nullopt);
    Find<QPushButton>(dlg, "StartBtn")->click();
    ASSERT_TRUE(dlg.Logger().Running());
    EXPECT_FALSE(Find<QPushButton>(dlg, "StartBtn")->isEnabled());
    EXPECT_TRUE(Find<QPushButton>(dlg, "StopBtn")->isEnabled());
    for (const char *name : kCommandButtons)
        EXPECT_TRUE(Find<QPushButton>(dlg, name)->isEnabled()) << name;

    // The first reading arrives from the event loop; labels keep the user's separator.
    EXPECT_TRUE(WaitFor([&] { return Find<QLabel>(dlg, "SensorValueLabel3")->text() == "23,5"; }));
    EXPECT_EQ(Find<QLabel>(dlg, "SensorValueLabel2")->text(), "3,00");
    EXPECT_EQ(Find<QLabel>(dlg, "SensorPeakLabel2")->text(), "712");

    EXPECT_FALSE(dlg.close());
    dlg.reject();
    EXPECT_TRUE(dlg.isVisible());

    Find<QPushButton>(dlg, "ClearPeakBtn")->click();
    EXPECT_TRUE(WaitFor([&] { return Find<QLabel>(dlg, "CalLabel")->text() == "Clear Peak ... OK"; }));

    Find<QPushButton>(dlg, "StopBtn")->click();
    EXPECT_TRUE(WaitFor([&] { return !dlg.Logger().Running(); }));
    EXPECT_TRUE(Find<QPushButton>(dlg, "StartBtn")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>(dlg, "StopBtn")->isEnabled());
    EXPECT_TRUE(dlg.close());
    EXPECT_FALSE(sim->Awake()); // the link was ended
}

TEST_F(ToolsDialogsTest, CalibrationControlsAndOpening)
{
    TSensorCalDlg dlg(session, nullptr, &screen);
    const struct {
        const char *name, *caption;
    } buttons[] = {{"CalBtn", "Calibration"}, {"CalAbortBtn", "Cancel"}, {"CloseBtn", "Close"}};
    for (const auto &b : buttons)
        EXPECT_EQ(Find<QPushButton>(dlg, b.name)->text(), b.caption);
    EXPECT_EQ(Find<QLabel>(dlg, "SpanGasLabel")->text(), "Span Gas");
    for (const char *name : {"CalUnitLabel", "CalLabel", "CalLabel1", "CalLabel2"})
        Find<QLabel>(dlg, name);
    Find<QProgressBar>(dlg, "CalProgressBar");
    QDoubleSpinBox *spin = Find<QDoubleSpinBox>(dlg, "SpanGasSpin");
    EXPECT_EQ(spin->decimals(), 1);

    RTamselCFG unknown = DetectorRecord();
    unknown.mSensor.mSensorType = 9;
    EXPECT_FALSE(dlg.Prepare(unknown));
    EXPECT_EQ(dlg.ShowDlg(unknown), QDialog::Rejected); // not shown at all
    EXPECT_EQ(screen.messages.back().mCaption, "Wrong Sensor");

    ASSERT_TRUE(dlg.Prepare(DetectorRecord()));
    EXPECT_EQ(dlg.windowTitle(), "Sensor Calibration (H2S)");
    EXPECT_DOUBLE_EQ(spin->value(), 25.0);
    EXPECT_DOUBLE_EQ(spin->maximum(), 100.0);
    EXPECT_EQ(Find<QLabel>(dlg, "CalUnitLabel")->text(), "ppm");
    EXPECT_TRUE(Find<QPushButton>(dlg, "CalBtn")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>(dlg, "CalAbortBtn")->isEnabled());
}

TEST_F(ToolsDialogsTest, CalibrationRefusesToCloseWhileRunning)
{
    TSensorCalDlg dlg(session, nullptr, &screen);
    ASSERT_TRUE(dlg.Prepare(DetectorRecord()));
    dlg.show();
    Find<QDoubleSpinBox>(dlg, "SpanGasSpin")->setValue(25.0);
    Find<QPushButton>(dlg, "CalBtn")->click();
    ASSERT_TRUE(dlg.Calibration().Running());
    EXPECT_EQ(Find<QLabel>(dlg, "CalLabel")->text(), "Zero Calibration... OK");
    EXPECT_FALSE(Find<QPushButton>(dlg, "CalBtn")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>(dlg, "CloseBtn")->isEnabled());
    EXPECT_TRUE(Find<QPushButton>(dlg, "CalAbortBtn")->isEnabled());
    EXPECT_FALSE(dlg.close());
    dlg.reject();
    EXPECT_TRUE(dlg.isVisible());

    Find<QPushButton>(dlg, "CalAbortBtn")->click();
    EXPECT_TRUE(WaitFor([&] { return !dlg.Calibration().Running(); }));
    EXPECT_EQ(Find<QLabel>(dlg, "CalLabel2")->text(), "Calibration... User Stop");
    EXPECT_FALSE(sim->CalibrationRunning());
    EXPECT_TRUE(Find<QPushButton>(dlg, "CloseBtn")->isEnabled());
    Find<QPushButton>(dlg, "CloseBtn")->click();
    EXPECT_FALSE(dlg.isVisible());
}

TEST_F(ToolsDialogsTest, LoggerShowsUnitsAxisTitlesAndTheAlarmLevelsOfTheDetectorLogged)
{
    RTamselCFG record = DetectorRecord();
    std::memcpy(record.mUnit.mSerial, sim->Identity().mSerial, 10); // as a real unit keeps both alike
    RTamselCFG other = record;
    std::memcpy(other.mUnit.mSerial, "OTHER00001", 10);
    const struct {
        const char *what;
        std::optional<RTamselCFG> known; // the configuration the window read last
        bool levels;
    } cases[] = {{"the detector logged", record, true}, {"another detector", other, false}, {"none", {}, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TSensorLogDlg dlg(session, nullptr, &screen);
        TReadingChart *chart = Find<TReadingChart>(dlg, "SensorChart");
        ASSERT_NE(chart, nullptr);
        EXPECT_EQ(chart->TimeTitle().toStdString(), "Time (s)");
        if (c.known)
            dlg.SetKnownConfiguration(*c.known);
        dlg.show();
        screen.saveFiles.push_back(std::nullopt);
        Find<QPushButton>(dlg, "StartBtn")->click();
        ASSERT_TRUE(dlg.Logger().Running());

        // The run read the detector's identity: its gas and unit.
        EXPECT_EQ(dlg.GasUnit(), "ppm");
        EXPECT_EQ(chart->ValueTitle().toStdString(), "H2S (ppm)");
        const struct {
            const char *name, *text;
        } units[] = {{"SensorUnitLabel1", "ppm"}, {"SensorPeakUnitLabel1", "ppm"}, {"SensorUnitLabel2", "V"},
                     {"SensorUnitLabel3", "\u00B0C"}};
        for (const auto &u : units)
            EXPECT_EQ(Find<QLabel>(dlg, u.name)->text().toStdString(), u.text) << u.name;

        // Alarm levels only from a configuration read from this very detector.
        ASSERT_EQ(dlg.AlarmLevels().has_value(), c.levels);
        ASSERT_EQ(chart->Levels().size(), c.levels ? 2u : 0u);
        if (c.levels) {
            EXPECT_DOUBLE_EQ(dlg.AlarmLevels()->first, record.mSensor.mAlarmLow / 10.0);
            EXPECT_DOUBLE_EQ(dlg.AlarmLevels()->second, record.mSensor.mAlarmHigh / 10.0);
            EXPECT_DOUBLE_EQ(chart->Levels()[0].mValue, record.mSensor.mAlarmLow / 10.0);
            EXPECT_DOUBLE_EQ(chart->Levels()[1].mValue, record.mSensor.mAlarmHigh / 10.0);
            EXPECT_TRUE(chart->Levels()[1].mLabel.startsWith(QLatin1String("High alarm ")))
                << chart->Levels()[1].mLabel.toStdString();
            EXPECT_TRUE(chart->Levels()[1].mLabel.endsWith(QLatin1String(" ppm")));
            // Both levels lie within the value axis.
            const auto [low, high] = chart->ValueRange();
            EXPECT_LE(low, dlg.AlarmLevels()->first);
            EXPECT_GE(high, dlg.AlarmLevels()->second);
        }
        // The chart draws the readings the run took, newest last, inside its window.
        ASSERT_TRUE(WaitFor([&] { return chart->Readings().size() >= 2; }));
        const RChartPoint newest = dlg.Logger().History(0);
        EXPECT_DOUBLE_EQ(chart->Readings().back().x(), newest.mX);
        EXPECT_DOUBLE_EQ(chart->Readings().back().y(), newest.mY);
        EXPECT_LE(chart->TimeRange().first, chart->Readings().front().x());
        EXPECT_GE(chart->TimeRange().second, newest.mX);
        Find<QPushButton>(dlg, "StopBtn")->click();
        EXPECT_TRUE(WaitFor([&] { return !dlg.Logger().Running(); }));
    }
}
