// The window's fleet dialogs, offscreen, over a SQLite store of the test's
// own: Program Units with a stored template, its refusal before anything is
// sent, and "Restore this configuration..." in the Service Records window.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

#include "records/journal_store.h"
#include "records/templates.h"
#include "ui/program_units_dlg.h"
#include "ui/records_dialog.h"
#include "window_fixture.h"

namespace {

class FleetDialogsTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        const char *config = std::getenv("XDG_CONFIG_HOME");
        FOldConfig = config ? std::optional<std::string>(config) : std::nullopt;
        setenv("XDG_CONFIG_HOME", Path("config").c_str(), 1); // the bench key of these tests
        session.RecordsChoice = "sqlite:" + Path("records.sqlite");
        QString error;
        session.SetJournal(MakeJournal(session, error));
        ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    }

    void TearDown() override
    {
        MainWindowTest::TearDown();
        if (FOldConfig)
            setenv("XDG_CONFIG_HOME", FOldConfig->c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
    }

    void Save(const std::string &name, std::vector<RTemplateField> fields)
    {
        QString error;
        const std::unique_ptr<TRecordStore> store = OpenStoreInForce(session, error);
        ASSERT_TRUE(store) << error.toStdString();
        RConfigTemplate tpl;
        tpl.mName = name;
        tpl.mSensor = 1;
        tpl.mFields = std::move(fields);
        ASSERT_TRUE(SaveTemplate(*store, tpl, "bench", "tech", error)) << error.toStdString();
    }

    TProgramUnitsDlg *Dialog()
    {
        Click("ProgramUnitsBtn");
        return FWindow->findChild<TProgramUnitsDlg *>();
    }
    template <class T> T *D(QWidget *dialog, const char *name)
    {
        T *w = dialog->findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    std::optional<std::string> FOldConfig;
};

uint16_t AlarmHigh(const std::array<uint8_t, kSimConfigSize> &cfg)
{
    const int at = offsetof(RTamselCFG, mSensor) + offsetof(RTamselSensorCFG, mAlarmHigh);
    return static_cast<uint16_t>(cfg[at] | cfg[at + 1] << 8);
}

} // namespace

TEST_F(FleetDialogsTest, ProgramUnitsThenRestoreTheBackupFromTheRecords)
{
    SimDetector &sim = StartSim();
    const uint16_t original = AlarmHigh(sim.Config());
    ASSERT_NE(original, 200);
    Save("site", {{FindConfigField("mAlarmHigh"), {{200}, {}}}});
    Open();
    TProgramUnitsDlg *dlg = Dialog();
    ASSERT_NE(dlg, nullptr);
    auto *combo = D<QComboBox>(dlg, "ProgramTemplateCombo");
    ASSERT_EQ(combo->count(), 1);
    EXPECT_EQ(combo->itemText(0), QStringLiteral("site (version 1, 1 field)"));
    D<QSpinBox>(dlg, "ProgramCountSpin")->setValue(1);
    D<QPushButton>(dlg, "ProgramStartBtn")->click();

    // One unit present: programmed, read back, the run over.
    auto *units = D<QListWidget>(dlg, "ProgramUnitsList");
    ASSERT_EQ(units->count(), 1);
    EXPECT_TRUE(units->item(0)->text().endsWith(QStringLiteral(" programmed (1 field changed) [1/1]")))
        << units->item(0)->text().toStdString();
    EXPECT_EQ(units->item(0)->toolTip(), QStringLiteral("mAlarmHigh: 15.0 ppm -> 20.0 ppm"));
    EXPECT_EQ(D<QLabel>(dlg, "ProgramStateLabel")->text(), QStringLiteral("programmed 1, unchanged 0, failed 0"));
    EXPECT_FALSE(dlg->Running());
    EXPECT_TRUE(D<QPushButton>(dlg, "ProgramStartBtn")->isEnabled());
    EXPECT_EQ(AlarmHigh(sim.Config()), 200);
    session.Journal().Flush();

    // The program record keeps the backup: restore it from the records window.
    Click("ServiceRecordsBtn");
    auto *records = FWindow->findChild<TServiceRecordsDlg *>();
    ASSERT_NE(records, nullptr);
    for (int i = 0; i < 1000 && records->IsLoading(); ++i)
        QTest::qWait(10);
    auto *table = D<QTableWidget>(records, "RecordsTable");
    ASSERT_GE(table->rowCount(), 1);
    table->selectRow(0);
    auto *restore = D<QPushButton>(records, "RecordsRestoreBtn");
    ASSERT_TRUE(restore->isEnabled());
    std::string asked;
    FWindow->Screen().FOnAskYesNo = [&asked](const std::string &, const std::string &text) {
        asked = text;
        return true;
    };
    restore->click();
    EXPECT_NE(asked.find("\rmAlarmHigh: 20.0 ppm -> 15.0 ppm"), std::string::npos) << asked;
    EXPECT_EQ(AlarmHigh(sim.Config()), original);
}

TEST_F(FleetDialogsTest, ATemplateFieldOutsideTheWriteRangesIsRefusedBeforeAnythingIsSent)
{
    SimDetector &sim = StartSim();
    Save("serials", {{FindConfigField("mSerial"), {{}, "X"}}});
    Open();
    TProgramUnitsDlg *dlg = Dialog();
    ASSERT_NE(dlg, nullptr);
    sim.ClearRecords();
    D<QPushButton>(dlg, "ProgramStartBtn")->click();
    ASSERT_EQ(FMessages.size(), 1u);
    EXPECT_EQ(FMessages[0].mCaption, "Program Units");
    EXPECT_NE(FMessages[0].mText.find("mSerial lies outside every write range"), std::string::npos)
        << FMessages[0].mText;
    EXPECT_TRUE(sim.ReceivedFrames().empty());
    EXPECT_FALSE(dlg->Running());
    EXPECT_EQ(D<QListWidget>(dlg, "ProgramUnitsList")->count(), 0);
}

TEST_F(FleetDialogsTest, ProgramUnitsSavesATemplateFromTheDetectorAndShowsWhatItWrites)
{
    SimDetector &sim = StartSim(SimDemoOptions());
    Open();
    TProgramUnitsDlg *dlg = Dialog();
    ASSERT_NE(dlg, nullptr);
    EXPECT_TRUE(D<QLabel>(dlg, "ProgramStateLabel")->text().startsWith("No template is stored yet: save one above"));
    // A name no template can have is refused before the detector is read.
    struct RCase {
        const char *mName;
        const char *mSaid; // empty: saved
    } cases[] = {{"", "Template : "}, {" FLEET", "Template  FLEET: "}, {"FLEET-A", ""}, {"FLEET-A", ""}};
    int version = 0;
    for (const RCase &c : cases) {
        FMessages.clear();
        const int reads = sim.CommandCount(0xA0);
        D<QLineEdit>(dlg, "ProgramNewNameEdit")->setText(QString::fromLatin1(c.mName));
        D<QPushButton>(dlg, "ProgramSaveDeviceBtn")->click();
        if (*c.mSaid) {
            ASSERT_EQ(FMessages.size(), 1u) << c.mName;
            EXPECT_EQ(FMessages[0].mText.rfind(c.mSaid, 0), 0u) << FMessages[0].mText;
            EXPECT_EQ(sim.CommandCount(0xA0), reads) << c.mName;
            continue;
        }
        EXPECT_TRUE(FMessages.empty()) << FMessages[0].mText;
        const QString said = D<QLabel>(dlg, "ProgramStateLabel")->text();
        EXPECT_TRUE(said.startsWith(QStringLiteral("Template FLEET-A version %1 saved: ").arg(++version)))
            << said.toStdString();
    }
    // Before a run: what it writes, as the window names it, with values and units.
    EXPECT_TRUE(D<QComboBox>(dlg, "ProgramTemplateCombo")->currentText().startsWith("FLEET-A (version 2"));
    QStringList lines;
    for (int i = 0; i < D<QListWidget>(dlg, "ProgramFieldsList")->count(); ++i)
        lines << D<QListWidget>(dlg, "ProgramFieldsList")->item(i)->text();
    EXPECT_TRUE(lines.contains(QStringLiteral("High Alarm: %1 ppm").arg(AlarmHigh(sim.Config()) / 10.0, 0, 'f', 1)))
        << lines.join('\n').toStdString();
    EXPECT_TRUE(D<QPushButton>(dlg, "ProgramStartBtn")->isEnabled());
}
