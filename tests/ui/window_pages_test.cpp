// The main window's pages: the editors both configuration pages share bound to
// their own members, the buttons a firmware download locks (whatever a page
// holds), the stand-ins drawn grey until something is read, and the adapter
// checks offered when a job could not reach the adapter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include "support/fake_machine.h"
#include "ui/adapter_check_dlg.h"
#include "ui/service_test_page.h"
#include "ui/window_fixture.h"

namespace {

// A spin box, text or list of one layout and the view's member behind it.
struct RBound {
    const char *mName;
    std::function<void(QWidget *)> mType;             // sets the widget as the user would
    std::function<bool(const ConfigForm &)> mTaken;   // the member holds what was set
};

template <class W> W *As(QWidget *w)
{
    return qobject_cast<W *>(w);
}

RBound Spin(const char *name, RSpinEdit ConfigForm::*field, double value)
{
    return {name, [value](QWidget *w) { As<QDoubleSpinBox>(w)->setValue(value); },
            [field, value](const ConfigForm &f) { return (f.*field).mValue == value; }};
}

} // namespace

TEST_F(MainWindowTest, SharedEditorsOfBothPagesReachTheirOwnMembers)
{
    WriteIni(kDeveloperIni);
    TNorvikIRMainForm &w = Open();
    const RBound bound[] = {
        Spin("UserHighAlarmSpin", &ConfigForm::mUserAlarmHigh, 42.5),
        Spin("UserOptHighAlarmSpin", &ConfigForm::mDevAlarmHigh, 43.5),
        Spin("UserLowAlarmSpin", &ConfigForm::mUserAlarmLow, 12.5),
        Spin("UserOptLowAlarmSpin", &ConfigForm::mDevAlarmLow, 13.5),
        Spin("UserCalIntervalSpin", &ConfigForm::mUserCalInterval, 90),
        Spin("UserOptCalIntervalSpin", &ConfigForm::mDevCalInterval, 91),
        Spin("UserBumpIntervalSpin", &ConfigForm::mUserBumpInterval, 14),
        Spin("UserOptBumpIntervalSpin", &ConfigForm::mDevBumpInterval, 15),
        Spin("UserTestIntervalSpin", &ConfigForm::mUserTestInterval, 7),
        Spin("UserOptTestIntervalSpin", &ConfigForm::mDevTestInterval, 8),
        {"UserIDEdit", [](QWidget *e) { As<QLineEdit>(e)->setText(QStringLiteral("AB1")); },
         [](const ConfigForm &f) { return f.mUserUserId.mText == "AB1"; }},
        {"UserOptIDEdit", [](QWidget *e) { As<QLineEdit>(e)->setText(QStringLiteral("AB2")); },
         [](const ConfigForm &f) { return f.mDevUserId.mText == "AB2"; }},
        {"UserDispCombo", [](QWidget *c) { As<QComboBox>(c)->setCurrentIndex(1); },
         [](const ConfigForm &f) { return f.mUserDisplayMode.mItemIndex == 1; }},
        {"UserOptDispCombo", [](QWidget *c) { As<QComboBox>(c)->setCurrentIndex(2); },
         [](const ConfigForm &f) { return f.mDevDisplayMode.mItemIndex == 2; }},
        {"UserHideBumpLEDCheck", [](QWidget *c) { As<QCheckBox>(c)->setChecked(true); },
         [](const ConfigForm &f) { return f.mUserHideBumpLed && !f.mDevHideBumpLed; }},
        {"UserOptHideBumpLEDCheck", [](QWidget *c) { As<QCheckBox>(c)->setChecked(true); },
         [](const ConfigForm &f) { return f.mDevHideBumpLed; }},
    };
    for (const RBound &b : bound) {
        SCOPED_TRACE(b.mName);
        QWidget *widget = W<QWidget>(b.mName);
        ASSERT_NE(widget, nullptr);
        b.mType(widget);
        w.ViewToForm();
        EXPECT_TRUE(b.mTaken(w.State().FForm));
    }
    // And back: what the view holds is what each editor shows.
    w.ShowConfig();
    EXPECT_EQ(W<QDoubleSpinBox>("UserOptHighAlarmSpin")->value(), W<QDoubleSpinBox>("UserHighAlarmSpin")->value());
    EXPECT_EQ(W<QLineEdit>("UserOptIDEdit")->text(), W<QLineEdit>("UserIDEdit")->text());
}

// A button put on a page later is locked during a download without being
// named anywhere; the download's own Cancel and the window's other buttons
// stay usable, and a button that was disabled before stays so after.
TEST_F(MainWindowTest, EveryPageButtonIsLockedWhileADownloadRuns)
{
    SimDetector &sim = StartSim();
    WriteIni(kDeveloperIni);
    TNorvikIRMainForm &w = Open();
    WriteImage(sim, "good.img");
    FFiles.push_back(Path("good.img"));
    Click("UserOptFMOpenBtn");
    ASSERT_TRUE(W<QPushButton>("UserOptFMUpgradeBtn")->isEnabled());

    QWidget *factory = W<QWidget>("FactoryTS");
    auto *added = new QPushButton(QStringLiteral("New Job"), factory);
    factory->layout()->addWidget(added);
    W<QPushButton>("EtcIdentifyBtn")->setEnabled(false); // disabled for a reason of its own
    const std::vector<QPushButton *> locked = w.DownloadLockedButtons();
    EXPECT_NE(std::find(locked.begin(), locked.end(), added), locked.end());

    struct RSeen {
        bool added, readDevice, eeprom, cancel, records;
    };
    std::optional<RSeen> during;
    QObject::connect(W<QProgressBar>("UserOptFMProgressBar"), &QProgressBar::valueChanged, &w, [&](int packet) {
        if (packet == 1 && !during)
            during = RSeen{added->isEnabled(), W<QPushButton>("UserReadDeviceBtn")->isEnabled(),
                           W<QPushButton>("EtcEEPROMSaveBtn")->isEnabled(),
                           W<QPushButton>("UserOptFMCancelBtn")->isEnabled(),
                           W<QPushButton>("ServiceRecordsBtn")->isEnabled()};
    });
    Click("UserOptFMUpgradeBtn");
    EXPECT_EQ(StatusText(), QStringLiteral("Download Image... OK"));
    ASSERT_TRUE(during.has_value());
    EXPECT_FALSE(during->added);
    EXPECT_FALSE(during->readDevice);
    EXPECT_FALSE(during->eeprom);
    EXPECT_TRUE(during->cancel);
    EXPECT_TRUE(during->records);

    EXPECT_TRUE(added->isEnabled());
    EXPECT_TRUE(W<QPushButton>("UserReadDeviceBtn")->isEnabled());
    EXPECT_FALSE(W<QPushButton>("EtcIdentifyBtn")->isEnabled());
}

TEST_F(MainWindowTest, StandInsAreGreyUntilSomethingIsRead)
{
    SimDetector &sim = StartSim();
    WriteIni(std::string(kDeveloperIni) + "[EEPROM]\nReadStartAddress=512\nMaxAddress=1024\n");
    TNorvikIRMainForm &w = Open();
    // A value is grey when its text colour is not its page's.
    const auto grey = [](QWidget *widget, QPalette::ColorRole role) {
        return widget->palette().color(role) != widget->parentWidget()->palette().color(role);
    };
    const struct {
        const char *mName;
        QPalette::ColorRole mRole;
    } values[] = {{"UserSerialLabel", QPalette::WindowText}, {"UserOptHighAlarmSpin", QPalette::Text},
                  {"UserOptSerialEdit", QPalette::Text},    {"UserOptDispCombo", QPalette::ButtonText},
                  {"FatoryOptZeroLabel", QPalette::WindowText}};
    for (const auto &v : values)
        EXPECT_TRUE(grey(W<QWidget>(v.mName), v.mRole)) << v.mName;
    TServiceTestPage &page = w.TestPage();
    EXPECT_TRUE(page.IsStandIn(1, 0));
    EXPECT_TRUE(page.IsStandIn(16, 63));
    EXPECT_FALSE(page.IsStandIn(0, 0)); // the address column is no stand-in

    // A read that fails changes nothing; one that succeeds shows real values.
    SimOptions silent;
    silent.absent = true;
    sim.SetOptions(silent);
    session.DeviceCFG.mConnectTime = 300;
    Click("UserOptReadDeviceBtn");
    EXPECT_TRUE(grey(W<QWidget>("UserOptHighAlarmSpin"), QPalette::Text));
    sim.SetOptions(SimOptions());
    Click("UserOptReadDeviceBtn");
    ASSERT_EQ(StatusText(), QStringLiteral("Read Norvik Information... OK"));
    for (const auto &v : values)
        EXPECT_FALSE(grey(W<QWidget>(v.mName), v.mRole)) << v.mName;

    // The EEPROM read fills rows 32 on; the rows before stay stand-ins until typed over.
    Click("EtcEEPROMReadBtn");
    ASSERT_EQ(StatusText(), QStringLiteral("Read EEPROM data... OK"));
    EXPECT_TRUE(page.IsStandIn(1, 31));
    EXPECT_FALSE(page.IsStandIn(1, 32));
    EXPECT_FALSE(page.IsStandIn(16, 63));
    W<QTableWidget>("EtcEEPROMGrid")->item(0, 1)->setText(QStringLiteral("7E"));
    EXPECT_FALSE(page.IsStandIn(1, 0));
    EXPECT_TRUE(page.IsStandIn(2, 0));
}

// ------------------------------------------------------------ adapter checks

namespace {

// Discovery looks at the fake machine's sysfs and device nodes.
class TDiscoveryRoots {
public:
    explicit TDiscoveryRoots(const FakeMachine &m)
    {
        for (const char *name : {"BEAMPORT_SYSFS_ROOT", "BEAMPORT_DEV_ROOT"}) {
            const char *v = std::getenv(name);
            FSaved.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
        }
        setenv("BEAMPORT_SYSFS_ROOT", m.sys.c_str(), 1);
        setenv("BEAMPORT_DEV_ROOT", m.dev.c_str(), 1);
    }
    ~TDiscoveryRoots()
    {
        for (const auto &[name, value] : FSaved)
            value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> FSaved;
};

} // namespace

TEST_F(MainWindowTest, JobsThatCannotReachTheAdapterOfferItsChecks)
{
    FakeMachine machine;
    machine.InstallRule();
    const TDiscoveryRoots roots(machine);
    SimDetector &sim = StartSim();
    TNorvikIRMainForm &w = Open();
    RDoctorUser user;
    user.mUid = machine.nodeUid;
    user.mGroups = {machine.nodeGid};
    w.FRunAdapterChecks = [&] { return RunDoctor(machine.Roots(), user); };
    session.DeviceCFG.mConnectTime = 300;
    auto *check = W<QPushButton>("AdapterCheckBtn");
    EXPECT_FALSE(check->isVisible());

    const struct {
        const char *mWhat;
        std::string mPort; // empty: discovery on the fake machine
        bool mSilent;      // the detector does not answer
        uint8_t mProduct;
        bool mOffered;
    } cases[] = {
        {"no adapter", "", false, 2, true},
        {"a port that will not open", Path("no-such-tty"), false, 2, true},
        {"a detector that does not answer", sim.DevicePath(), true, 2, true},
        {"a read that succeeds", sim.DevicePath(), false, 2, false},
        {"another product", sim.DevicePath(), false, 9, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.mWhat);
        SimOptions o;
        o.absent = c.mSilent;
        o.product_id = c.mProduct;
        sim.SetOptions(o);
        UsePort(c.mPort);
        FMessages.clear();
        Click("UserReadDeviceBtn");
        if (c.mOffered) { // beside the job's own error box, whose texts are as ever
            EXPECT_FALSE(FMessages.empty());
        }
        EXPECT_EQ(check->isVisible(), c.mOffered);
    }

    // The checks list each finding with what to do, and look again when asked.
    UsePort("");
    Click("UserReadDeviceBtn");
    ASSERT_TRUE(check->isVisible());
    EXPECT_EQ(FMessages.back().mText, "Beamport isnot found\rBeamport Re-Install driver(A)");
    Click("AdapterCheckBtn");
    auto *dialog = w.findChild<TAdapterCheckDlg *>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    const auto texts = [&](const char *name) {
        QStringList list;
        for (QLabel *l : dialog->findChildren<QLabel *>(QString::fromLatin1(name)))
            list << l->text();
        return list.join(QLatin1Char('\n')).toStdString();
    };
    EXPECT_NE(texts("AdapterFindingWhat").find("no CP210x adapter found"), std::string::npos);
    EXPECT_NE(texts("AdapterFindingFix").find("What to do: plug in the infrared adapter"), std::string::npos);
    EXPECT_EQ(texts("AdapterCheckSummary"), "One problem stops this computer from reaching the adapter:")
        << texts("AdapterFindingWhat");

    machine.AddUsb({});
    dialog->findChild<QPushButton *>(QStringLiteral("AdapterCheckAgainBtn"))->click();
    EXPECT_TRUE(dialog->Report().Ok()) << texts("AdapterFindingWhat");
    EXPECT_EQ(texts("AdapterFindingWhat").find("no CP210x adapter found"), std::string::npos);
    EXPECT_EQ(texts("AdapterCheckSummary").rfind("Nothing on this computer stops the adapter: ", 0), 0u);
}
