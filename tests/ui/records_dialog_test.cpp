// The Service Records window, offscreen, over a temporary SQLite store chosen
// with BEAMPORT_RECORDS: the list and its filters, the details, which records
// get a certificate, the CSV export, the due list and what a store that cannot
// be opened shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "app/journal.h"
#include "app/user_store.h"
#include "model/config_record.h"
#include "records/location.h"
#include "records/record.h"
#include "records/store.h"
#include "ui/main_window.h"
#include "ui/qt_screen.h"
#include "support/test_session.h"
#include "ui/records_dialog.h"

#include <QRegularExpression>
#include "ui/ui_app.h"

namespace {

class RecordsDialogTest : public ::testing::Test, protected TTestSession {
protected:
    void SetUp() override
    {
        TestApp();
        ASSERT_TRUE(FDir.isValid());
        const char *old = std::getenv("BEAMPORT_RECORDS");
        FOldRecords = old ? std::optional<std::string>(old) : std::nullopt;
        UseRecords("sqlite:" + Path("records.sqlite"));
        setenv("XDG_CONFIG_HOME", Path("config").c_str(), 1); // the bench key of these tests
        session.UseStoreFile(Path("store.ini"));
        FScreen.FOnChooseFile = [this](bool, const FileChoice &choice) {
            FChoices.push_back(choice);
            std::optional<std::string> answer;
            if (!FFiles.empty()) {
                answer = FFiles.front();
                FFiles.erase(FFiles.begin());
            }
            return answer;
        };
    }

    void TearDown() override
    {
        FDialog.reset();
        if (FOldRecords)
            setenv("BEAMPORT_RECORDS", FOldRecords->c_str(), 1);
        else
            unsetenv("BEAMPORT_RECORDS");
    }

    static void UseRecords(const std::string &value) { setenv("BEAMPORT_RECORDS", value.c_str(), 1); }

    std::string Path(const char *name) const { return FDir.filePath(QString::fromLatin1(name)).toStdString(); }

    // One finished job of a detector, `daysAgo` days before now, as the
    // journal would store it (the configuration read carries the serial and
    // the intervals: 180 days between calibrations, 30 between bump tests).
    void Append(const char *serial, const char *job, int status, double daysAgo, QJsonObject data = {},
                const char *outcome = nullptr, bool simulated = false)
    {
        RJobRecord j;
        j.mSimulated = simulated;
        j.mJob = job;
        j.mStatus = static_cast<uint8_t>(status);
        j.mText = std::string(job) + (status == 0 ? "... OK" : "... failed");
        RTamselCFG cfg = DefaultCFG();
        std::memset(cfg.mUnit.mSerial, 0, sizeof cfg.mUnit.mSerial);
        std::memcpy(cfg.mUnit.mSerial, serial, std::min(std::strlen(serial), sizeof cfg.mUnit.mSerial));
        cfg.mSensor.mCalInterval = 180 * 86400;
        cfg.mSensor.mBumpInterval = 30;
        j.mConfig = cfg;
        j.mData = data;
        const QDateTime when = QDateTime::currentDateTimeUtc().addSecs(static_cast<qint64>(-daysAgo * 86400));
        if (outcome)
            j.mOutcome = outcome;
        RServiceRecord r = RecordOfJob(j, when, QStringLiteral("bench-1"), QStringLiteral("tech"), session.SensorTypes);
        QString error;
        RStoreLocation location;
        ASSERT_TRUE(ResolveStoreLocation(session.RecordsChoice, location, error)) << error.toStdString();
        const std::unique_ptr<TRecordStore> store = TRecordStore::Open(location, error);
        ASSERT_NE(store, nullptr) << error.toStdString();
        ASSERT_EQ(store->Append(r, error), EAppend::kAdded) << error.toStdString();
    }

    TServiceRecordsDlg &Open(const QString &serial = {})
    {
        FDialog = std::make_unique<TServiceRecordsDlg>(session, FScreen, serial);
        Loaded(*FDialog);
        return *FDialog;
    }

    // The lists are read off the window's thread: waits until they arrived.
    static void Loaded(TServiceRecordsDlg &dialog)
    {
        for (int i = 0; i < 1000 && dialog.IsLoading(); ++i)
            QTest::qWait(10);
        EXPECT_FALSE(dialog.IsLoading());
    }

    template <class T> T *W(const char *name) const
    {
        T *w = FDialog->findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    // A column of the records list, top to bottom.
    QStringList Column(int column) const
    {
        auto *table = W<QTableWidget>("RecordsTable");
        QStringList out;
        for (int r = 0; r < table->rowCount(); ++r)
            out << table->item(r, column)->text();
        return out;
    }

    QString Message() const
    {
        auto *label = W<QLabel>("RecordsMessageLabel");
        return label->isVisibleTo(FDialog.get()) ? label->text() : QString();
    }

    QTemporaryDir FDir;
    std::optional<std::string> FOldRecords;
    TQtScreen FScreen{nullptr, nullptr, nullptr};
    std::vector<FileChoice> FChoices;
    std::vector<std::string> FFiles;
    std::unique_ptr<TServiceRecordsDlg> FDialog;
};

constexpr int kJobColumn = 1;
constexpr int kOutcomeColumn = 2;
constexpr int kSerialColumn = 3;

} // namespace

TEST_F(RecordsDialogTest, ListsNewestFirstAndFiltersBySerialAndJob)
{
    Append("SN-A", kJobRead, 0, 3);
    Append("SN-B", kJobCalibration, 0, 2);
    Append("SN-A", kJobBumpPass, 0, 1, QJsonObject{{"note", "first"}});

    Open();
    EXPECT_EQ(Column(kJobColumn), (QStringList{"bump-pass", "calibration", "read"}));
    EXPECT_EQ(Message(), QString());
    // The newest is selected, every field shown, data one entry a line.
    const QString details = W<QPlainTextEdit>("RecordDetails")->toPlainText();
    for (const char *line : {"job: bump-pass", "serial: SN-A", "bench: bench-1", "user: tech", "\n  note: first",
                             "outcome: declared", "status: 0 (success)", "simulated: no"})
        EXPECT_TRUE(details.contains(QString::fromLatin1(line))) << line << "\n" << details.toStdString();
    // Behind "Show raw": the record as stored and hashed.
    W<QPushButton>("RecordsShowRawBtn")->click();
    const QString raw = W<QPlainTextEdit>("RecordDetails")->toPlainText();
    EXPECT_TRUE(raw.contains(QStringLiteral("\"note\": \"first\""))) << raw.toStdString();
    EXPECT_TRUE(raw.contains(QStringLiteral("\"sig\": \""))) << raw.toStdString();
    W<QPushButton>("RecordsShowRawBtn")->click();
    for (const QString &name : RecordFieldNames())
        EXPECT_TRUE(details.contains(QStringLiteral("\n") + name + QStringLiteral(": ")) ||
                    details.startsWith(name + QStringLiteral(": ")))
            << name.toStdString();

    auto *serial = W<QLineEdit>("RecordsSerialEdit");
    serial->setText(QStringLiteral("SN-A"));
    Loaded(*FDialog);
    EXPECT_EQ(Column(kSerialColumn), (QStringList{"SN-A", "SN-A"}));
    EXPECT_EQ(Column(kJobColumn), (QStringList{"bump-pass", "read"}));
    serial->setText(QStringLiteral("SN-C"));
    Loaded(*FDialog);
    EXPECT_EQ(W<QTableWidget>("RecordsTable")->rowCount(), 0);
    EXPECT_TRUE(W<QPlainTextEdit>("RecordDetails")->toPlainText().isEmpty());

    serial->clear();
    auto *job = W<QComboBox>("RecordsJobCombo");
    job->setCurrentIndex(job->findData(QStringLiteral("calibration")));
    Loaded(*FDialog);
    EXPECT_EQ(Column(kSerialColumn), (QStringList{"SN-B"}));

    // Opened for a serial, it lists that serial only; a record written
    // meanwhile appears on Refresh.
    FDialog.reset();
    Open(QStringLiteral("SN-B"));
    EXPECT_EQ(W<QLineEdit>("RecordsSerialEdit")->text(), QStringLiteral("SN-B"));
    EXPECT_EQ(Column(kJobColumn), (QStringList{"calibration"}));
    Append("SN-B", kJobIdentify, 0, 0);
    W<QPushButton>("RecordsRefreshBtn")->click();
    Loaded(*FDialog);
    EXPECT_EQ(Column(kJobColumn), (QStringList{"identify", "calibration"}));
}

TEST_F(RecordsDialogTest, CertificateOnlyForMeasuredTestsOutcomesInColour)
{
    struct RCase {
        const char *mJob;
        int mStatus;
        QJsonObject mData;
        const char *mOutcome;
        bool mCertificate;
        bool mRed;
    };
    const std::vector<RCase> cases = {
        {kJobCalibration, 0, {}, "started", false, false},
        {kJobCalibration, 160, {}, "failed", false, true},
        {"bump-test", 0, {}, "pass", true, false},
        {"bump-test", 68, {}, "fail", true, true},
        {"bump-test", 67, {}, "refused", false, true},
        {kJobBumpPass, 0, {}, "declared", false, false},
        {kJobSensorCal, 0, {{"result", "OK"}, {"cylinder", "CYL-1"}, {"certified", "pass"}}, "pass", true, false},
        {kJobSensorCal, 68, {{"result", "User Stop"}, {"cylinder", "CYL-1"}}, "stopped", false, true},
        {kJobSensorCal, 0, {{"result", "OK"}}, "success", false, false},
        {kJobSensorCal, 68, {{"result", "User Stop"}}, "stopped", false, true},
        {kJobHibernate, 67, {}, "refused", false, true},
        {kJobHibernate, 66, {}, "declined", false, false},
    };
    // Oldest first, so the list shows them in reverse.
    for (size_t i = 0; i < cases.size(); ++i)
        Append("SN-CERT", cases[i].mJob, cases[i].mStatus, static_cast<double>(cases.size() - i), cases[i].mData,
               cases[i].mOutcome);
    Open();
    auto *table = W<QTableWidget>("RecordsTable");
    auto *button = W<QPushButton>("RecordsCertificateBtn");
    ASSERT_EQ(table->rowCount(), static_cast<int>(cases.size()));
    for (size_t i = 0; i < cases.size(); ++i) {
        const int row = static_cast<int>(cases.size() - 1 - i);
        table->selectRow(row);
        SCOPED_TRACE(std::string(cases[i].mJob) + " " + cases[i].mOutcome);
        EXPECT_EQ(table->item(row, kJobColumn)->text().toStdString(), cases[i].mJob);
        EXPECT_EQ(table->item(row, kOutcomeColumn)->text().toStdString(), cases[i].mOutcome);
        EXPECT_EQ(table->item(row, kOutcomeColumn)->foreground().color() == QColor(0xC0, 0, 0), cases[i].mRed);
        EXPECT_EQ(button->isEnabled(), cases[i].mCertificate);
    }
    table->clearSelection();
    EXPECT_FALSE(button->isEnabled());

    // A passed bump test: the PDF is written where the user chose, and the
    // folder is offered again the next time.
    QDir(FDir.path()).mkdir(QStringLiteral("certs"));
    const std::string pdf = Path("certs/bump.pdf");
    table->selectRow(static_cast<int>(cases.size() - 1 - 2));
    FFiles = {pdf};
    button->click();
    ASSERT_EQ(FChoices.size(), 1u);
    EXPECT_EQ(FChoices[0].defaultExt, "pdf");
    EXPECT_NE(FChoices[0].fileName.find("SN-CERT"), std::string::npos);
    QFile file(QString::fromStdString(pdf));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << Message().toStdString();
    EXPECT_TRUE(file.read(5).startsWith("%PDF")) << pdf;
    EXPECT_TRUE(Message().contains(QRegularExpression(QStringLiteral("Certificate BP-[0-9A-F]{8}-000001 saved"))))
        << Message().toStdString();

    button->click(); // cancelled: nothing written, the folder was remembered
    ASSERT_EQ(FChoices.size(), 2u);
    EXPECT_EQ(QDir(QString::fromStdString(FChoices[1].initialDir)), QDir(FDir.filePath(QStringLiteral("certs"))));

    // Paper from the locale: Letter where it is the custom, A4 elsewhere.
    EXPECT_EQ(TServiceRecordsDlg::DefaultPaper(QLocale(QLocale::English, QLocale::UnitedStates)), EPaper::kLetter);
    EXPECT_EQ(TServiceRecordsDlg::DefaultPaper(QLocale(QLocale::French, QLocale::Canada)), EPaper::kLetter);
    EXPECT_EQ(TServiceRecordsDlg::DefaultPaper(QLocale(QLocale::German, QLocale::Germany)), EPaper::kA4);
    EXPECT_EQ(TServiceRecordsDlg::DefaultPaper(QLocale(QLocale::English, QLocale::UnitedKingdom)), EPaper::kA4);
}
TEST_F(RecordsDialogTest, ExportWritesTheListedRecords)
{
    Append("SN-A", kJobRead, 0, 2);
    Append("SN-B", kJobRead, 0, 1);
    Open(QStringLiteral("SN-A"));
    const std::string csv = Path("out.csv");
    FFiles = {csv};
    W<QPushButton>("RecordsExportBtn")->click();
    QFile file(QString::fromStdString(csv));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << Message().toStdString();
    const QList<QByteArray> lines = file.readAll().split('\n');
    ASSERT_EQ(lines.size(), 3); // header, one record, the empty rest after the last line end
    EXPECT_EQ(lines[0], CsvHeader().toUtf8() + "\r");
    EXPECT_TRUE(lines[1].contains(",SN-A,")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].isEmpty());

    // A folder that cannot be written: said in the dialog.
    FFiles = {Path("missing/out.csv")};
    W<QPushButton>("RecordsExportBtn")->click();
    EXPECT_TRUE(Message().contains(QStringLiteral("could not be written"))) << Message().toStdString();
}

TEST_F(RecordsDialogTest, DueListSoonestFirstWithOverdueRowsInRed)
{
    // SN-OLD: calibrated and bump-tested 400 days ago, long overdue. SN-NEW:
    // both done yesterday, next due in 29 days.
    const QJsonObject ok{{"result", "OK"}};
    Append("SN-NEW", kJobSensorCal, 0, 1, ok);
    Append("SN-NEW", kJobBumpPass, 0, 1);
    Append("SN-OLD", kJobSensorCal, 0, 400, ok);
    Append("SN-OLD", kJobBumpPass, 0, 400);
    Open();
    auto *due = W<QTableWidget>("DueTable");
    ASSERT_EQ(due->rowCount(), 2);
    EXPECT_EQ(due->item(0, 0)->text(), QStringLiteral("SN-OLD"));
    EXPECT_EQ(due->item(1, 0)->text(), QStringLiteral("SN-NEW"));
    for (int c = 0; c < due->columnCount(); ++c) {
        EXPECT_EQ(due->item(0, c)->foreground().color(), QColor(0xC0, 0, 0)) << c;
        EXPECT_NE(due->item(1, c)->foreground().color(), QColor(0xC0, 0, 0)) << c;
    }
    EXPECT_TRUE(due->item(0, 7)->text().contains(QStringLiteral("overdue")));
    EXPECT_FALSE(due->item(1, 7)->text().contains(QStringLiteral("overdue")));
    EXPECT_FALSE(due->item(1, 4)->text().isEmpty()); // next calibration shown
}

TEST_F(RecordsDialogTest, EmptyDueListSaysWhy)
{
    const struct {
        int mSimulated; // detectors of the store, all simulated
        const char *mWhy;
    } cases[] = {
        {0, "none has a calibration, bump test or read on record yet"},
        {2, "simulated detectors are left out; 2 simulated"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.mSimulated);
        for (int i = 0; i < c.mSimulated; ++i)
            Append(i == 0 ? "SN-SIM1" : "SN-SIM2", kJobBumpPass, 0, 1, {}, nullptr, true);
        Open();
        EXPECT_EQ(W<QTableWidget>("DueTable")->rowCount(), 0);
        auto *why = W<QLabel>("DueEmptyLabel");
        EXPECT_FALSE(why->isHidden());
        EXPECT_TRUE(why->text().contains(QString::fromLatin1(c.mWhy))) << why->text().toStdString();
    }
    // A real detector on the list: nothing to explain.
    Append("SN-REAL", kJobBumpPass, 0, 1);
    Open();
    EXPECT_EQ(W<QTableWidget>("DueTable")->rowCount(), 1);
    EXPECT_TRUE(W<QLabel>("DueEmptyLabel")->isHidden());
}

TEST_F(RecordsDialogTest, StoreThatCannotBeOpenedIsShownInTheDialog)
{
    std::ofstream(Path("a-file")) << "not a folder";
    std::ofstream(Path("garbage.sqlite")) << std::string(4096, 'x');
    const std::vector<std::string> locations = {
        "off",
        "nonsense:somewhere",
        "sqlite:" + Path("a-file/records.sqlite"), // its folder is a file
        "sqlite:" + Path("garbage.sqlite"),        // not a database
    };
    for (const std::string &location : locations) {
        SCOPED_TRACE(location);
        UseRecords(location);
        FDialog.reset();
        Open(QStringLiteral("SN-A"));
        EXPECT_FALSE(Message().isEmpty());
        EXPECT_EQ(W<QTableWidget>("RecordsTable")->rowCount(), 0);
        EXPECT_EQ(W<QTableWidget>("DueTable")->rowCount(), 0);
        EXPECT_FALSE(W<QPushButton>("RecordsCertificateBtn")->isEnabled());
        EXPECT_FALSE(W<QPushButton>("RecordsExportBtn")->isEnabled());
        // Typing a filter and refreshing keep it that way, without a crash.
        W<QLineEdit>("RecordsSerialEdit")->setText(QStringLiteral("SN-B"));
        W<QPushButton>("RecordsRefreshBtn")->click();
        Loaded(*FDialog);
        EXPECT_FALSE(Message().isEmpty());
    }
}

// The window's button opens one records window, for the serial last read.
TEST_F(RecordsDialogTest, MainWindowOpensItForTheSerialLastRead)
{
    QTemporaryDir work;
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(work.path());
    Append("SN-A", kJobRead, 0, 2);
    Append("SN24031507", kJobRead, 0, 1);
    {
        TNorvikIRMainForm window(session);
        window.Screen().FOnMessage = [](const std::string &, const std::string &, MsgIcon) {};
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        auto *button = window.findChild<QPushButton *>(QStringLiteral("ServiceRecordsBtn"));
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), QStringLiteral("Records..."));

        button->click(); // nothing read yet: every record
        auto *dialog = window.findChild<TServiceRecordsDlg *>();
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(dialog->isVisible());
        Loaded(*dialog);
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Service Records"));
        EXPECT_EQ(dialog->findChild<QTableWidget *>(QStringLiteral("RecordsTable"))->rowCount(), 2);

        // After a read of SN24031507 (as Read Device leaves the state).
        RMainState &state = window.State();
        std::memcpy(state.FTamselCFG.mUnit.mSerial, "SN24031507", 10);
        state.FReadSW = 14;
        dialog->close();
        button->click();
        Loaded(*dialog);
        EXPECT_EQ(window.findChildren<TServiceRecordsDlg *>().size(), 1);
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->findChild<QLineEdit *>(QStringLiteral("RecordsSerialEdit"))->text(),
                  QStringLiteral("SN24031507"));
        EXPECT_EQ(dialog->findChild<QTableWidget *>(QStringLiteral("RecordsTable"))->rowCount(), 1);
        window.close();
    }
    QDir::setCurrent(oldCwd);
}
