// The main window, offscreen: both layouts, the editors' behaviour, the
// status bar, the traffic list, the placement, and actions against an
// in-process simulated detector through the scripted dialogs.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <QApplication>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QKeyEvent>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "app/status.h"
#include "ui/main_window.h"
#include "ui/qt_screen.h"
#include "app/runtime_dir.h"
#include "ui/qt_boxes.h"
#include "ui/single_instance.h"
#include "app/user_store.h"
#include "model/crc16.h"
#include "model/convert.h"
#include "model/settings_types.h"
#include "sim/sim_detector.h"
#include "ui/ui_app.h"
#include "ui/screen_fit.h"
#include "ui/window_fixture.h"

namespace {


struct RCaptioned {
    const char *mName;
    const char *mCaption;
};

// Every named button with its caption, and every row caption of a page.
void ExpectButtons(QWidget *root, const std::vector<RCaptioned> &buttons)
{
    for (const RCaptioned &b : buttons) {
        auto *w = root->findChild<QPushButton *>(QString::fromLatin1(b.mName));
        ASSERT_NE(w, nullptr) << b.mName;
        EXPECT_EQ(w->text().toStdString(), b.mCaption) << b.mName;
    }
}

void ExpectCaptions(QWidget *root, const std::vector<const char *> &captions)
{
    QStringList shown;
    for (QLabel *l : root->findChildren<QLabel *>())
        shown << l->text();
    for (QGroupBox *g : root->findChildren<QGroupBox *>())
        shown << g->title();
    for (const char *c : captions)
        EXPECT_TRUE(shown.contains(QString::fromUtf8(c))) << "caption \"" << c << "\"";
}

} // namespace

// ------------------------------------------------------------------ layouts

TEST_F(MainWindowTest, UserLayoutShowsTheUserPageWithItsControls)
{
    TNorvikIRMainForm &w = Open();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Corvane Beamport [ver 1.4.1.0]"));
    EXPECT_TRUE(W<QScrollArea>("UserScrollBox")->isVisible());
    EXPECT_FALSE(W<QScrollArea>("DevScrollBox")->isVisible());

    QWidget *page = W<QScrollArea>("UserScrollBox")->widget();
    ExpectButtons(page, {{"UserReadFileBtn", "Read File"},
                         {"UserReadDeviceBtn", "Read Device"},
                         {"UserWriteFileBtn", "Write File"},
                         {"UserWriteDeviceBtn", "Write Device"},
                         {"UserHibernateBtn", "Hibernate"},
                         {"UserLogSaveBtn", "Save Event Log"},
                         {"UserCalBtn", "Sensor Calibration"},
                         {"UserFMUpgradeBtn", "Upgrade Firmware"},
                         {"UserFMCancelBtn", "Cancel"}});
    ExpectCaptions(page, {"  Hardware Version", "  Firmware Version", "  Serial Number", "  Life Remaining",
                          "  Sensor Type", "  High Alarm", "  Low Alarm", "  Calibration Interval", "  Bump Interval",
                          "  User ID", "  Self Test Interval", "  Display", "Days", "hours",
                          "Norvik Firmware Upgrade ... Select File"});
    for (const char *name : {"UserHWVersionLabel", "UserSWVersionLabel", "UserSerialLabel", "UserLifeLabel",
                             "UserSensorTypeLabel", "UserFMFileLabel", "UserFMDescLabel"})
        EXPECT_NE(page->findChild<QLabel *>(QString::fromLatin1(name)), nullptr) << name;
    EXPECT_EQ(W<QCheckBox>("UserHideBumpLEDCheck")->text(), QStringLiteral("Hide bump due LED flashing"));

    auto *hidden = W<QComboBox>("UserSensorTypeCombo");
    EXPECT_FALSE(hidden->isVisible());
    EXPECT_FALSE(hidden->isEnabled());
    EXPECT_EQ(hidden->count(), static_cast<int>(session.SensorTypes.size()));
    auto *display = W<QComboBox>("UserDispCombo");
    ASSERT_EQ(display->count(), 3);
    EXPECT_EQ(display->itemText(0), QStringLiteral("Life Remaining (+ Sensor Reading when gas applied)"));
    EXPECT_EQ(W<QLineEdit>("UserIDEdit")->maxLength(), 6);
    EXPECT_FALSE(W<QPushButton>("UserFMUpgradeBtn")->isEnabled());
    EXPECT_FALSE(W<QPushButton>("UserFMCancelBtn")->isEnabled());
    EXPECT_NE(W<QProgressBar>("UserFMProgressBar"), nullptr);
    EXPECT_TRUE(W<QLabel>("StatusLabel")->text().isEmpty());
}

TEST_F(MainWindowTest, DeveloperLayoutShowsThreePagesWithTheirControls)
{
    WriteIni(kDeveloperIni);
    TNorvikIRMainForm &w = Open();
    EXPECT_FALSE(session.UserMode);
    EXPECT_FALSE(W<QScrollArea>("UserScrollBox")->isVisible());
    EXPECT_TRUE(W<QScrollArea>("DevScrollBox")->isVisible());
    auto *pages = W<QTabWidget>("PageControl");
    ASSERT_EQ(pages->count(), 3);
    EXPECT_EQ(pages->tabText(0), QStringLiteral("User Options"));
    EXPECT_EQ(pages->tabText(1), QStringLiteral("Factory Options"));
    EXPECT_EQ(pages->tabText(2), QStringLiteral("TEST"));
    EXPECT_EQ(pages->currentIndex(), 0);

    QWidget *user = W<QWidget>("UserTS");
    ExpectButtons(user, {{"UserOptReadFileBtn", "Read File"},
                         {"UserOptReadDeviceBtn", "Read Device"},
                         {"UserOptWriteFileBtn", "Write File"},
                         {"UserOptWriteDeviceBtn", "Write Device"},
                         {"UserOptHibernateBtn", "Hibernate"},
                         {"UserOptLogSaveBtn", "Save Event Log"},
                         {"UserOptFMUpgradeBtn", "Upgrade Firmware"},
                         {"UserOptFMCancelBtn", "Cancel"}});
    EXPECT_EQ(user->findChild<QPushButton *>(QStringLiteral("UserCalBtn")), nullptr);
    ExpectCaptions(user, {"  Hardware Version", "  Serial Number", "  Life Remaining", "Months", "Days",
                          "  Sensor Type", "  Display"});
    EXPECT_EQ(W<QLineEdit>("UserOptSerialEdit")->maxLength(), 10);
    EXPECT_EQ(W<QComboBox>("UserOptSensorTypeCombo")->count(), static_cast<int>(session.SensorTypes.size()));
    EXPECT_NE(W<QLabel>("UserOptIDLabel"), nullptr);
    EXPECT_NE(W<QLineEdit>("UserOptHWVersionEdit"), nullptr);

    QWidget *factory = W<QWidget>("FactoryTS");
    ExpectButtons(factory, {{"FatoryOptCalBtn", "Calibration"},
                            {"FatoryOptTurnOffBtn", "Turn Off"},
                            {"FatoryOptLogResetBtn", "Log Reset"},
                            {"FatoryOptLogSensorBtn", "Log Readings"}});
    ExpectCaptions(factory, {"  Battery Limits", "Critical", "Startup", "~-10℃", "- 10℃~ ", "  Alarm Time (sec)",
                             "  Alarm Count", "  Test Time (sec)", "  Test Count", "  Hibernate", "  Sensor",
                             "Span Gas", "Max", "Base", "Dead Zone", "  Temp. Comp.", "#1", "#2", "#3", "  Zero",
                             "  Span", "  Minimum Span", "  Tau", "  Last Calibration (sec)", "  Peak Timer (sec)",
                             "  Last Bump Timer (sec)"});
    auto *hibernate = W<QComboBox>("FactoryOptHibernateCombo");
    ASSERT_EQ(hibernate->count(), 2);
    EXPECT_EQ(hibernate->itemText(0), QString());
    EXPECT_EQ(hibernate->itemText(1), QStringLiteral("Allow suspend"));

    QWidget *test = W<QWidget>("ETCTS");
    ExpectButtons(test, {{"EtcFactoryResetBtn", "Factory Reset"},
                         {"EtcIdentifyBtn", "Identify"},
                         {"EtcBeepONBtn", "Beep ON"},
                         {"EtcRLEDONBtn", "R LED ON"},
                         {"EtcLLEDONBtn", "L LED ON"},
                         {"EtcVibratorBtn", "Vibrator"},
                         {"EtcClearPeakBtn", "Clear Peak"},
                         {"EtcBumpFailBtn", "Bump Fail"},
                         {"EtcBumpPassBtn", "Bump Pass"},
                         {"EtcEEPROMReadBtn", "Read"},
                         {"EtcEEPROMSaveBtn", "Save File"}});
    ExpectCaptions(test, {"EEPROM"});
    auto *grid = W<QTableWidget>("EtcEEPROMGrid");
    ASSERT_EQ(grid->columnCount(), 17);
    EXPECT_EQ(grid->columnWidth(0), 44);
    for (int c = 1; c < 17; ++c)
        EXPECT_EQ(grid->columnWidth(c), 22) << c;
    ASSERT_EQ(grid->rowCount(), session.DeviceCFG.mEEPROMMaxAddress / 16);
    EXPECT_EQ(grid->item(1, 0)->text(), QStringLiteral("0010"));
    EXPECT_EQ(grid->item(1, 16)->text(), QStringLiteral("FF"));
    EXPECT_FALSE(grid->item(1, 0)->flags() & Qt::ItemIsEditable);
    (void)w;
}

TEST_F(MainWindowTest, TrafficListShownOnlyWithTheTrafficLog)
{
    Open();
    EXPECT_FALSE(W<QPlainTextEdit>("Memo")->isVisible());
    FWindow.reset();
    WriteIni("[ETC]\nLogEnable=1\n");
    Open();
    auto *memo = W<QPlainTextEdit>("Memo");
    EXPECT_TRUE(memo->isVisible());
    EXPECT_EQ(memo->width(), 280);
}

// --------------------------------------------------------------- placement

TEST_F(MainWindowTest, PlacementDefaultsRestoresAndSaves)
{
    {
        TNorvikIRMainForm &w = Open();
        // Most of the screen it opens on, the fields and the actions beside them.
        const QRect area = UsableArea(w.screen());
        EXPECT_EQ(w.height(), area.height() * 9 / 10);
        EXPECT_EQ(w.width(), area.width() * 9 / 10);
        EXPECT_EQ(w.pos(), QPoint(0, 0));
        w.resize(640, 700);
        w.move(20, 30);
        ASSERT_TRUE(w.close());
    }
    const RWindowPlacement saved = session.Store().WindowPlacement();
    EXPECT_EQ(saved.mWidth, 640);
    EXPECT_EQ(saved.mHeight, 700);
    EXPECT_EQ(saved.mLeft, 20);
    EXPECT_EQ(saved.mTop, 30);

    session.Store().SetWindowPlacement({400, 500, 15, 25});
    TNorvikIRMainForm &w = Open();
    EXPECT_EQ(w.size(), QSize(590, 580)); // below the smallest size
    EXPECT_EQ(w.pos(), QPoint(15, 25));
}

// A first start without a remembered placement: every page of the layout is
// shown whole across (its scroll box needs no horizontal bar), the traffic
// list beside it included; most of the screen's height, the default position.
TEST_F(MainWindowTest, FirstStartFitsEveryPageAcross)
{
    struct RCase {
        const char *mIni;
        const char *mBox;
        bool mWider; // the default width is too small for these pages
    };
    // Every page has its actions beside its fields: wider than the default.
    const RCase cases[] = {
        {"[Environment]\nModeEntry=QWZ_ENG__\n[ETC]\nLogEnable=1\n", "DevScrollBox", true},
        {"[Environment]\nModeEntry=QWZ_ENG__\n", "DevScrollBox", true},
        {"[ETC]\nLogEnable=1\n", "UserScrollBox", true},
        {"", "UserScrollBox", true},
    };
    for (const RCase &c : cases) {
        SCOPED_TRACE(c.mIni);
        FWindow.reset();
        QFile::remove(QString::fromStdString(Path("store.ini")));
        session.UseStoreFile(Path("store.ini"));
        WriteIni(c.mIni);
        TNorvikIRMainForm &w = Open();
        auto *box = W<QScrollArea>(c.mBox);
        ASSERT_TRUE(box->isVisible());
        EXPECT_EQ(w.height(), UsableArea(w.screen()).height() * 9 / 10);
        EXPECT_EQ(w.pos(), QPoint(0, 0));
        EXPECT_GE(w.width(), 590);
        if (c.mWider)
            EXPECT_GT(w.width(), 590);
        else
            EXPECT_EQ(w.width(), 590);
        auto *pages = W<QTabWidget>("PageControl");
        const int count = box->objectName() == QLatin1String("DevScrollBox") ? pages->count() : 1;
        for (int i = 0; i < count; ++i) {
            pages->setCurrentIndex(i);
            QApplication::processEvents();
            EXPECT_FALSE(box->horizontalScrollBar()->isVisible()) << "page " << i;
            EXPECT_GE(box->viewport()->width(), box->widget()->minimumSizeHint().width()) << "page " << i;
        }
    }
}

// Every caption, value, button and number shown at the first start has the
// room its text needs, in whatever face stands in for Arial (the same holds at
// any scale factor: sizes are in logical pixels).
TEST_F(MainWindowTest, FirstStartClipsNoText)
{
    const auto expectFits = [](QWidget *root) {
        for (QLabel *l : root->findChildren<QLabel *>()) {
            if (!l->isVisible() || l->text().isEmpty() || l->textFormat() == Qt::RichText || !l->pixmap().isNull())
                continue;
            for (const QString &line : l->text().split(QLatin1Char('\n')))
                EXPECT_LE(l->fontMetrics().horizontalAdvance(line), l->contentsRect().width())
                    << l->objectName().toStdString() << " \"" << line.toStdString() << "\"";
        }
        // A button's text with a little room on either side.
        for (QPushButton *b : root->findChildren<QPushButton *>()) {
            if (b->isVisible()) {
                EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text()) + 8, b->width()) << b->objectName().toStdString();
            }
        }
        for (QComboBox *combo : root->findChildren<QComboBox *>()) {
            if (combo->isVisible()) {
                EXPECT_GE(combo->width(), combo->minimumSizeHint().width()) << combo->objectName().toStdString();
            }
        }
        for (QAbstractSpinBox *spin : root->findChildren<QAbstractSpinBox *>()) {
            if (spin->isVisible()) {
                EXPECT_LE(spin->fontMetrics().horizontalAdvance(spin->text()), spin->findChild<QLineEdit *>()->width())
                    << spin->objectName().toStdString();
            }
        }
    };
    WriteIni("[Environment]\nModeEntry=QWZ_ENG__\n[ETC]\nLogEnable=1\n");
    TNorvikIRMainForm &w = Open();
    w.TimeTimerTimer();
    auto *pages = W<QTabWidget>("PageControl");
    for (int i = 0; i < pages->count(); ++i) {
        SCOPED_TRACE(i);
        pages->setCurrentIndex(i);
        QApplication::processEvents();
        expectFits(&w);
    }
    FWindow.reset();
    WriteIni("");
    expectFits(&Open());
}

TEST_F(MainWindowTest, RememberedPlacementWinsOverTheContent)
{
    WriteIni("[Environment]\nModeEntry=QWZ_ENG__\n[ETC]\nLogEnable=1\n");
    session.Store().SetWindowPlacement({600, 700, 5, 6});
    TNorvikIRMainForm &w = Open();
    EXPECT_EQ(w.size(), QSize(600, 700));
    EXPECT_EQ(w.pos(), QPoint(5, 6));
    // Too narrow for the pages and the traffic list: the pages scroll.
    EXPECT_TRUE(W<QScrollArea>("DevScrollBox")->horizontalScrollBar()->isVisible());
}

TEST(FirstStartSizeTest, MostOfTheScreenWidenedToTheContentWithinIt)
{
    struct RCase {
        QSize mContent, mDefaults, mAvailable, mExpected;
    };
    const RCase cases[] = {
        {{550, 600}, {500, 760}, {1920, 1200}, {1728, 1080}}, // nine tenths of a large screen
        {{946, 600}, {500, 760}, {1280, 720}, {1152, 720}},   // 1280 x 720: not the content's width alone
        {{856, 900}, {500, 760}, {800, 600}, {800, 600}},     // a small screen bounds both
        {{856, 900}, {500, 760}, {960, 480}, {864, 480}},     // 200 % on 1920 x 1080: below the smallest height
        {{856, 900}, {500, 760}, {400, 300}, {400, 300}},     // a screen smaller than the smallest size: the screen
        {{700, 900}, {500, 760}, {}, {700, 760}},             // no screen known: the default widened to the content
        {{300, 200}, {1800, 1150}, {1920, 1200}, {1800, 1150}}, // larger defaults are kept
    };
    for (const RCase &c : cases)
        EXPECT_EQ(TNorvikIRMainForm::FirstStartSize(c.mContent, c.mDefaults, c.mAvailable), c.mExpected)
            << c.mContent.width() << " in " << c.mAvailable.width() << "x" << c.mAvailable.height();
}

// ------------------------------------------------------------- status bar

TEST_F(MainWindowTest, ClockShowsTwoDigitDateAndTime)
{
    EXPECT_EQ(TNorvikIRMainForm::ClockText(QDateTime(QDate(2024, 3, 5), QTime(7, 8, 9))),
              QStringLiteral("24-03-05 07:08:09"));
    EXPECT_EQ(TNorvikIRMainForm::ClockText(QDateTime(QDate(1999, 12, 31), QTime(23, 59, 58))),
              QStringLiteral("99-12-31 23:59:58"));

    TNorvikIRMainForm &w = Open(false);
    EXPECT_TRUE(W<QLabel>("StatusTimeLabel")->text().isEmpty());
    w.show(); // the first activation starts the clock
    auto *timer = w.findChild<QTimer *>(QStringLiteral("TimeTimer"));
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 1000);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !W<QLabel>("StatusTimeLabel")->text().isEmpty(); }, 2500));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"))
                    .match(W<QLabel>("StatusTimeLabel")->text())
                    .hasMatch());
}

// ----------------------------------------------------------------- editors

TEST_F(MainWindowTest, UserIdEditorsFilterKeysAndKeepUpperCase)
{
    WriteIni(kDeveloperIni);
    TNorvikIRMainForm &w = Open();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    const struct {
        const char *typed;
        const char *shown;
    } cases[] = {
        {"ab-1", "AB-1"},
        {"a.b,c!", "ABC"},
        {"x y_z", "X YZ"},
        {"1234567", "123456"},
    };
    for (const char *name : {"UserOptIDEdit", "UserIDEdit"}) {
        auto *edit = W<QLineEdit>(name);
        for (const auto &c : cases) {
            edit->clear();
            edit->setFocus();
            QTest::keyClicks(edit, QString::fromUtf8(c.typed));
            EXPECT_EQ(edit->text().toStdString(), c.shown) << name << " typed " << c.typed;
        }
        // A letter outside A to Z is dropped too.
        edit->clear();
        QKeyEvent accented(QEvent::KeyPress, Qt::Key_Eacute, Qt::NoModifier, QStringLiteral("\u00e9"));
        QApplication::sendEvent(edit, &accented);
        EXPECT_TRUE(edit->text().isEmpty()) << name;
        // Text that arrives without keys (pasted) follows the same rules.
        edit->clear();
        edit->insert(QStringLiteral("q*w"));
        EXPECT_EQ(edit->text(), QStringLiteral("QW")) << name;
    }
}

TEST_F(MainWindowTest, TenthSerialCharacterMovesTheFocusToWriteDevice)
{
    WriteIni(kDeveloperIni);
    TNorvikIRMainForm &w = Open();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    auto *serial = W<QLineEdit>("UserOptSerialEdit");
    serial->clear();
    serial->setFocus();
    QTest::keyClicks(serial, QStringLiteral("ab3456789"));
    EXPECT_TRUE(serial->hasFocus());
    EXPECT_EQ(serial->text(), QStringLiteral("ab3456789")); // the case is kept
    QTest::keyClick(serial, Qt::Key_0);
    EXPECT_TRUE(W<QPushButton>("UserOptWriteDeviceBtn")->hasFocus());
    EXPECT_EQ(serial->text(), QStringLiteral("ab34567890"));
}

TEST_F(MainWindowTest, NumberEditorsTurnGreenWhileFocused)
{
    WriteIni(kDeveloperIni);
    TNorvikIRMainForm &w = Open();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    const QList<QDoubleSpinBox *> spins = w.findChildren<QDoubleSpinBox *>();
    ASSERT_EQ(spins.size(), 23);
    const QColor normal = spins[0]->palette().color(QPalette::Base);
    ASSERT_NE(normal, QColor(0, 255, 0));
    for (QDoubleSpinBox *spin : {W<QDoubleSpinBox>("UserOptHighAlarmSpin"), W<QDoubleSpinBox>("UserOptDayLifeSpin")}) {
        spin->setFocus();
        ASSERT_TRUE(QTest::qWaitFor([&] { return spin->hasFocus(); }, 500));
        EXPECT_EQ(spin->palette().color(QPalette::Base), QColor(0, 255, 0)) << spin->objectName().toStdString();
        W<QLineEdit>("UserOptSerialEdit")->setFocus();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !spin->hasFocus(); }, 500));
        EXPECT_EQ(spin->palette().color(QPalette::Base), normal);
    }
}

TEST_F(MainWindowTest, PickedSensorTypeSetsTheAlarmRanges)
{
    WriteIni(kDeveloperIni);
    Open();
    auto *list = W<QComboBox>("UserOptSensorTypeCombo");
    const int o2 = list->findText(QStringLiteral("O2"));
    ASSERT_GE(o2, 0);
    list->setCurrentIndex(o2);
    emit list->activated(o2); // as the user's pick
    auto *high = W<QDoubleSpinBox>("UserOptHighAlarmSpin");
    EXPECT_DOUBLE_EQ(high->minimum(), 1.0);
    EXPECT_DOUBLE_EQ(high->maximum(), session.SensorTypes[static_cast<size_t>(o2)].mMax);
    EXPECT_DOUBLE_EQ(W<QDoubleSpinBox>("FatoryOptSpanGasSpin")->maximum(), session.SensorTypes[static_cast<size_t>(o2)].mMax);
}

// ------------------------------------------------------- the maker's panel

TEST_F(MainWindowTest, LogoOpensTheWebPageWithAPointingHand)
{
    Open();
    auto *logo = W<QLabel>("CustomerImage");
    ASSERT_FALSE(logo->pixmap().isNull());
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(logo, &enter);
    EXPECT_EQ(logo->cursor().shape(), Qt::PointingHandCursor);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(logo, &leave);
    EXPECT_EQ(logo->cursor().shape(), Qt::ArrowCursor);
    QTest::mouseClick(logo, Qt::LeftButton);
    ASSERT_EQ(FOpened.size(), 1u);
    EXPECT_EQ(FOpened[0], kMakerWebPage);
}

// ------------------------------------------------ actions on a detector

TEST_F(MainWindowTest, ReadThenWriteDeviceShowResultsInTheStatusBar)
{
    SimDetector &sim = StartSim();
    Open();

    Click("UserReadDeviceBtn");
    EXPECT_EQ(StatusText(), QStringLiteral("Read Norvik Information... OK"));
    EXPECT_EQ(StatusColor(QPalette::Window), QColor(0, 255, 0));
    EXPECT_EQ(StatusColor(QPalette::WindowText), QColor(0, 0, 0));
    EXPECT_TRUE(FMessages.empty());
    EXPECT_EQ(W<QLabel>("UserSensorTypeLabel")->text(), QStringLiteral("H2S"));

    auto *high = W<QDoubleSpinBox>("UserHighAlarmSpin");
    high->setValue(42.5);
    W<QLineEdit>("UserIDEdit")->setText(QStringLiteral("TECH7"));
    Click("UserWriteDeviceBtn");
    EXPECT_EQ(StatusText(), QStringLiteral("Write Norvik Information... OK"));
    EXPECT_EQ(StatusColor(QPalette::Window), QColor(0, 255, 0));
    const auto config = sim.Config();
    EXPECT_EQ(config[kSimAlarmHighAddress] | (config[kSimAlarmHighAddress + 1] << 8), 425);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&config[1]), 6), "TECH7 ");

    // A detector that never answers: red text and the box of the status table.
    session.DeviceCFG.mConnectTime = 300;
    SimOptions absent;
    absent.absent = true;
    sim.SetOptions(absent);
    Click("UserReadDeviceBtn");
    EXPECT_EQ(StatusText(), QStringLiteral("Read Norvik Information... Norvik Dis-Connect"));
    EXPECT_EQ(StatusColor(QPalette::Window), QColor(255, 0, 0));
    EXPECT_EQ(StatusColor(QPalette::WindowText), QColor(255, 255, 255));
    ASSERT_EQ(FMessages.size(), 1u);
    EXPECT_EQ(FMessages[0].mCaption, "Read Norvik Information");
    EXPECT_EQ(FMessages[0].mText, "Norvik connect error\rCheck Beamport and Norvik connection");
    EXPECT_EQ(FMessages[0].mIcon, MsgIcon::Error);
    EXPECT_EQ(high->value(), 42.5); // the editors keep what they showed
}

TEST_F(MainWindowTest, ConfigurationFileRoundTripsThroughTheEditors)
{
    Open();
    W<QLineEdit>("UserIDEdit")->setText(QStringLiteral("AB12"));
    W<QDoubleSpinBox>("UserTestIntervalSpin")->setValue(12);
    W<QCheckBox>("UserHideBumpLEDCheck")->setChecked(true);
    FFiles.push_back(Path("unit.cfg"));
    Click("UserWriteFileBtn");
    ASSERT_EQ(FChoices.size(), 1u);
    EXPECT_EQ(FChoices[0].title, "Save Configuration File");
    ASSERT_TRUE(QFileInfo::exists(QString::fromStdString(Path("unit.cfg"))));

    W<QLineEdit>("UserIDEdit")->setText(QStringLiteral("ZZ"));
    W<QDoubleSpinBox>("UserTestIntervalSpin")->setValue(6);
    W<QCheckBox>("UserHideBumpLEDCheck")->setChecked(false);
    FFiles.push_back(Path("unit.cfg"));
    Click("UserReadFileBtn");
    EXPECT_TRUE(FMessages.empty());
    EXPECT_EQ(W<QLineEdit>("UserIDEdit")->text(), QStringLiteral("AB12"));
    EXPECT_EQ(W<QDoubleSpinBox>("UserTestIntervalSpin")->value(), 12);
    EXPECT_TRUE(W<QCheckBox>("UserHideBumpLEDCheck")->isChecked());
}

TEST_F(MainWindowTest, EEPROMGridShowsTheReadAndSavesTheUsersEdits)
{
    SimDetector &sim = StartSim();
    std::vector<uint8_t> eeprom(kSimEepromSize);
    for (size_t i = 0; i < eeprom.size(); ++i)
        eeprom[i] = static_cast<uint8_t>(i * 7);
    sim.SetEeprom(eeprom);
    WriteIni(kDeveloperIni);
    Open();

    Click("EtcEEPROMReadBtn");
    EXPECT_EQ(StatusText(), QStringLiteral("Read EEPROM data... OK"));
    auto *grid = W<QTableWidget>("EtcEEPROMGrid");
    EXPECT_EQ(grid->item(0, 2)->text(), QStringLiteral("07"));
    EXPECT_EQ(grid->item(1, 1)->text(), QString::asprintf("%02X", (16 * 7) & 0xFF));

    grid->item(0, 1)->setText(QStringLiteral("zz")); // as the user typed it
    FFiles.push_back(Path("dump.csv"));
    Click("EtcEEPROMSaveBtn");
    std::ifstream in(Path("dump.csv"), std::ios::binary);
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first.substr(0, 16), "0x0000,zz,07,0E,");
    EXPECT_EQ(first.back(), '\r');
}

TEST_F(MainWindowTest, ClickDuringAnActionThatHoldsTheLinkIsDropped)
{
    SimDetector &sim = StartSim();
    WriteIni(kDeveloperIni);
    Open();
    session.DeviceCFG.mAVOperate = 600;
    bool clicked = false;
    QTimer::singleShot(150, FWindow.get(), [&] {
        W<QPushButton>("UserOptReadDeviceBtn")->click();
        clicked = true;
    });
    Click("EtcVibratorBtn"); // holds the connection while the vibrator runs
    EXPECT_TRUE(clicked);
    EXPECT_EQ(sim.CommandCount(0xA0), 0); // no identity request: the read never ran
    EXPECT_TRUE(StatusText().isEmpty());
    Click("UserOptReadDeviceBtn"); // afterwards it runs as usual
    EXPECT_EQ(StatusText(), QStringLiteral("Read Norvik Information... OK"));
}

TEST_F(MainWindowTest, FirmwarePanelsFollowTheImageAndTheDownload)
{
    SimDetector &sim = StartSim();
    WriteIni(kDeveloperIni);
    Open();
    const int packets = session.DeviceCFG.mFLASHMaxAddress;
    WriteImage(sim, "good.img");
    std::ofstream(Path("short.img"), std::ios::binary) << "short";

    FFiles.push_back(Path("short.img"));
    Click("UserOptFMOpenBtn");
    EXPECT_EQ(StatusText(), QStringLiteral("Loading Upgrade File... FAIL"));
    ASSERT_EQ(FMessages.size(), 1u);
    EXPECT_EQ(FMessages[0].mText, "Upgrade data file size different\rCheck Upgrade File");
    EXPECT_FALSE(W<QPushButton>("UserOptFMUpgradeBtn")->isEnabled());

    FFiles.push_back(Path("good.img"));
    Click("UserOptFMOpenBtn");
    EXPECT_EQ(StatusText(), QStringLiteral("Loading Upgrade File... OK"));
    for (const char *prefix : {"UserFM", "UserOptFM"}) {
        const QString p = QString::fromLatin1(prefix);
        auto *desc = FWindow->findChild<QLabel *>(p + QStringLiteral("DescLabel"));
        EXPECT_EQ(desc->text().toStdString(), "Norvik Firmware Upgrade ... Firmware Version " +
                                                  FWVersionToStr(sim.Identity().mSW));
        EXPECT_EQ(FWindow->findChild<QLabel *>(p + QStringLiteral("FileLabel"))->text().toStdString(),
                  Path("good.img"));
        EXPECT_TRUE(FWindow->findChild<QPushButton *>(p + QStringLiteral("UpgradeBtn"))->isEnabled());
    }

    Click("UserOptFMUpgradeBtn");
    EXPECT_EQ(StatusText(), QStringLiteral("Download Image... OK"));
    EXPECT_EQ(sim.ExecuteCount(), 1);
    EXPECT_TRUE(sim.ExecutePassed());
    for (const char *bar : {"UserFMProgressBar", "UserOptFMProgressBar"}) {
        EXPECT_EQ(W<QProgressBar>(bar)->maximum(), packets) << bar;
        EXPECT_EQ(W<QProgressBar>(bar)->value(), packets) << bar;
    }
    EXPECT_TRUE(W<QPushButton>("UserOptFMUpgradeBtn")->isEnabled());
    EXPECT_FALSE(W<QPushButton>("UserOptFMCancelBtn")->isEnabled());
    EXPECT_TRUE(W<QPushButton>("UserOptReadDeviceBtn")->isEnabled());
}

TEST_F(MainWindowTest, EditsTypedWhileImageWorkRunsStay)
{
    SimDetector &sim = StartSim();
    WriteIni(kDeveloperIni);
    TNorvikIRMainForm &w = Open();
    WriteImage(sim, "good.img");
    auto *id = W<QLineEdit>("UserOptIDEdit");
    auto *days = W<QDoubleSpinBox>("UserOptCalIntervalSpin");

    FFiles.push_back(Path("good.img"));
    id->setText(QStringLiteral("OPEN"));
    Click("UserOptFMOpenBtn");
    EXPECT_EQ(id->text(), QStringLiteral("OPEN"));

    // The user types while the download lets the window process its
    // messages, after the first packet.
    bool typedDuring = false;
    QObject::connect(W<QProgressBar>("UserOptFMProgressBar"), &QProgressBar::valueChanged, &w, [&](int packet) {
        if (packet == 1)
            QTimer::singleShot(0, &w, [&] {
                id->setText(QStringLiteral("EDIT1"));
                days->setValue(123);
                typedDuring = w.State().FUpgrade;
            });
    });
    Click("UserOptFMUpgradeBtn");
    EXPECT_EQ(StatusText(), QStringLiteral("Download Image... OK"));
    ASSERT_TRUE(typedDuring);
    EXPECT_EQ(id->text(), QStringLiteral("EDIT1"));
    EXPECT_EQ(days->value(), 123);
    w.ViewToForm(); // what the next action takes
    EXPECT_EQ(w.State().FForm.mDevUserId.mText, "EDIT1");
}

TEST_F(MainWindowTest, ByteTextsPassTheEditorsOneByteOneCharacter)
{
    WriteIni(kDeveloperIni);
    TNorvikIRMainForm &w = Open();
    // A serial number as a detector may hold it: a byte above 0x7F first.
    const std::string serial = "\xFFSH1234567";
    std::memcpy(w.State().FTamselCFG.mUnit.mSerial, serial.data(), 10);
    w.ShowConfig();
    const QString shown = W<QLineEdit>("UserOptSerialEdit")->text();
    ASSERT_EQ(shown.size(), 10); // all ten, none cut by the editor's limit
    EXPECT_EQ(shown[0].unicode(), 0xFF);
    EXPECT_EQ(W<QLabel>("UserSerialLabel")->text(), shown);
    w.State().FForm.mDevHWVersion.SetText("12\xB0\xC4");
    w.FormToView();
    EXPECT_EQ(W<QLineEdit>("UserOptHWVersionEdit")->text(), QStringLiteral("12\u00B0\u00C4"));
    w.ViewToForm();
    EXPECT_EQ(w.State().FForm.mDevSerial.mText, serial);
    EXPECT_EQ(w.State().FForm.mDevHWVersion.mText, "12\xB0\xC4");

    // A character typed beyond Latin-1 becomes one byte, so the limit holds.
    W<QLineEdit>("UserOptSerialEdit")->setText(QStringLiteral("\u20AC123456789"));
    w.ViewToForm();
    EXPECT_EQ(w.State().FForm.mDevSerial.mText, "?123456789");
}

// ---------------------------------------------------------------- closing

TEST_F(MainWindowTest, TrafficListSavedAtCloseAsCrLfLines)
{
    StartSim();
    WriteIni("[ETC]\nLogEnable=1\n");
    TNorvikIRMainForm &w = Open();
    EXPECT_EQ(TNorvikIRMainForm::TrafficFilePath(), Path("Comm.TXT"));
    Click("UserReadDeviceBtn");
    const int lines = W<QPlainTextEdit>("Memo")->document()->blockCount();
    ASSERT_GT(lines, 4);
    ASSERT_TRUE(w.close());

    std::ifstream in(Path("Comm.TXT"), std::ios::binary);
    ASSERT_TRUE(in.good());
    std::stringstream text;
    text << in.rdbuf();
    const std::string all = text.str();
    int count = 0;
    for (size_t at = 0, end; at < all.size(); at = end + 2, ++count) {
        end = all.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << "every line ends in CR LF";
        const QString line = QString::fromStdString(all.substr(at, end - at));
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d:\\d\\d\\d ")).match(line).hasMatch())
            << line.toStdString();
    }
    EXPECT_EQ(count, lines);
    EXPECT_NE(all.find("[SEND] A0 78 00"), std::string::npos);
}

TEST_F(MainWindowTest, TrafficLogSavedInThePrivateFolderNeverThroughALink)
{
    WriteIni("[ETC]\nLogEnable=1\n");
    unsetenv("XDG_RUNTIME_DIR"); // the private folder in the temp folder
    const std::string folder = Path("") + "/" + PrivateTempFolderName(::getuid());
    EXPECT_EQ(TNorvikIRMainForm::TrafficFilePath(), folder + "/Comm.TXT");
    struct stat st {};
    ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 077, 0u);

    // A link planted at the name is replaced, its target left untouched.
    std::ofstream(Path("victim.txt")) << "precious";
    ASSERT_EQ(::symlink(Path("victim.txt").c_str(), (folder + "/Comm.TXT").c_str()), 0);
    TNorvikIRMainForm &w = Open();
    w.Screen().AppendTraffic("12:00:00:000 [SEND] A0 78 00 ");
    ASSERT_TRUE(w.close());
    const auto read = [](const std::string &path) {
        std::stringstream text;
        text << std::ifstream(path, std::ios::binary).rdbuf();
        return text.str();
    };
    EXPECT_EQ(read(Path("victim.txt")), "precious");
    ASSERT_EQ(::lstat((folder + "/Comm.TXT").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(read(folder + "/Comm.TXT"), "12:00:00:000 [SEND] A0 78 00 \r\n");
}

TEST_F(MainWindowTest, NothingSavedWithoutTrafficLogOrDuringADownload)
{
    {
        TNorvikIRMainForm &w = Open();
        ASSERT_TRUE(w.close());
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(Path("Comm.TXT"))));
    }
    FWindow.reset();
    session.UseStoreFile(Path("store2.ini"));
    WriteIni("[ETC]\nLogEnable=1\n");
    TNorvikIRMainForm &w = Open();
    w.State().FUpgrade = true;
    EXPECT_FALSE(w.close()); // waits for the download
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(Path("Comm.TXT"))));
    EXPECT_FALSE(session.Store().Contains(TStoreGroup::WINDOW, "WIDTH"));
}

// --------------------------------------------------------- single instance

TEST(SingleInstanceTest, SecondInstanceRefusedAndCrashedLockTakenOver)
{
    QTemporaryDir dir;
    // The user's lock, in the user's run-time folder.
    const RRuntimeEnv env{dir.path().toStdString(), dir.path().toStdString(), ::getuid()};
    const std::string path = TSingleInstance::LockPath(env);
    EXPECT_EQ(path, dir.filePath(QString::fromLatin1(kInstanceLockName)).toStdString());
    {
        TSingleInstance first(env);
        ASSERT_TRUE(first.Acquire());
        TSingleInstance second(env);
        EXPECT_FALSE(second.Acquire());
        // Another user, with a session folder of its own, is not locked out.
        ASSERT_TRUE(QDir().mkdir(dir.filePath(QStringLiteral("bob")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        TSingleInstance other(RRuntimeEnv{dir.filePath(QStringLiteral("bob")).toStdString(), "", ::getuid()});
        EXPECT_TRUE(other.Acquire());
        EXPECT_TRUE(other.Held());
    }
    TSingleInstance again(env);
    EXPECT_TRUE(again.Acquire());

    // A lock file left by a process that is gone.
    const std::string stale = dir.filePath(QStringLiteral("stale/") + QString::fromLatin1(kInstanceLockName)).toStdString();
    ASSERT_TRUE(QDir().mkdir(dir.filePath(QStringLiteral("stale")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    ASSERT_GT(child, 0);
    waitpid(child, nullptr, 0);
    std::ofstream(stale) << child << "\nbeamport\n\n";
    TSingleInstance after(RRuntimeEnv{dir.filePath(QStringLiteral("stale")).toStdString(), "", ::getuid()});
    EXPECT_TRUE(after.Acquire());
    EXPECT_EQ(after.Path(), stale);

    // A lock file that names this very process (its id, name and host), left
    // by an earlier process with the same id: not a live instance.
    const QString mine = dir.filePath(QStringLiteral("mine/") + QString::fromLatin1(kInstanceLockName));
    ASSERT_TRUE(QDir().mkdir(dir.filePath(QStringLiteral("mine")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QByteArray left;
    {
        QLockFile held(dir.filePath(QStringLiteral("held.lock")));
        ASSERT_TRUE(held.tryLock(0));
        QFile f(dir.filePath(QStringLiteral("held.lock")));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        left = f.readAll();
    }
    QFile f(mine);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(left);
    f.close();
    TSingleInstance reborn(RRuntimeEnv{dir.filePath(QStringLiteral("mine")).toStdString(), "", ::getuid()});
    EXPECT_TRUE(reborn.Acquire());
    EXPECT_TRUE(reborn.Held());
}

// ------------------------------------------------------------ the screen

TEST(QtScreenTest, DialogTextsInTheFormQtTakes)
{
    const struct {
        const char *given;
        const char *qt;
    } filters[] = {
        {"configuration file|*.cfg", "configuration file (*.cfg)"},
        {"Data file (*.csv)", "Data file (*.csv)"},
        {"Image File|*.img|All|*.a;*.b", "Image File (*.img);;All (*.a *.b)"},
    };
    for (const auto &f : filters)
        EXPECT_EQ(DialogFilter(f.given).toStdString(), f.qt) << f.given;
    EXPECT_EQ(BoxText("one\rtwo\r\nthree").toStdString(), "one\ntwo\nthree");
}

TEST(QtScreenTest, StatusProgressAndTrafficReachTheirWidgets)
{
    TestApp();
    QWidget window;
    auto *status = new QLabel(&window);
    auto *memo = new QPlainTextEdit(&window);
    auto *a = new QProgressBar(&window);
    a->setObjectName(QStringLiteral("A"));
    auto *b = new QProgressBar(&window);
    b->setObjectName(QStringLiteral("B"));
    TQtScreen screen(&window, status, memo);
    screen.SetStatus(clRed, clWhite, "Hibernate... FAIL");
    EXPECT_EQ(status->text(), QStringLiteral("Hibernate... FAIL"));
    EXPECT_EQ(status->palette().color(QPalette::Window), QColor(255, 0, 0));
    EXPECT_EQ(status->palette().color(QPalette::WindowText), QColor(255, 255, 255));
    screen.AppendTraffic("12:00:00:000 [SEND] B2 75 80");
    screen.AppendTraffic("12:00:00:001 [READ] ACK:B5 B7 C1");
    EXPECT_EQ(memo->toPlainText(), QStringLiteral("12:00:00:000 [SEND] B2 75 80\n12:00:00:001 [READ] ACK:B5 B7 C1"));
    screen.SetProgressAlias("both", {"A", "B"});
    screen.Progress("both", 3, 8);
    EXPECT_EQ(a->value(), 3);
    EXPECT_EQ(b->maximum(), 8);
    screen.Progress("B", 9, 8); // held within the bar
    EXPECT_EQ(b->value(), 8);
    screen.Progress("A", 0, 0);
    EXPECT_EQ(a->value(), 0);
    screen.Progress("nothing", 1, 2); // an unknown bar is no error
}
