#pragma once
// The service records of the store in force, for the technician at the bench:
// the records of one detector (or all), newest first, with every field of the
// one selected; its certificate when it proves a calibration or a passed bump
// test; the listed records as CSV; the due list, overdue detectors in red; and
// the gas cylinders the tests and calibrations use.
//
// The lists are read on a thread of the dialog's own (with a connection of
// its own), when the dialog opens, on Refresh and when a filter changes: a
// store that is slow or does not answer never holds up the window; the
// dialog says it is loading and fills its pages when the lists arrive.
// Whatever goes wrong with the store (records off, a bad location, an
// unreachable server, a damaged file) is shown in the dialog's error line,
// never more.
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include <QDialog>
#include <QLocale>
#include <QString>

#include "records/certificate.h"
#include "records/due.h"
#include "records/record.h"

class IScreen;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QTabWidget;
class TRecordStore;
class TCylindersPage;
class TSession;

inline constexpr const char *kServiceRecordsCaption = "Service Records";

class TServiceRecordsDlg : public QDialog {
    Q_OBJECT

public:
    // The records of the session's store in force, its per-user store for the
    // folder and the technician. `screen` asks for the files (the window's, so
    // that its dialogs can be scripted); `serial` fills the serial filter
    // (empty: every record).
    TServiceRecordsDlg(TSession &session, IScreen &screen, const QString &serial, QWidget *parent = nullptr);
    ~TServiceRecordsDlg() override;

    // Sets the serial filter and reads the lists again (Refresh).
    void ShowSerial(const QString &serial);
    // Reads both lists again; the pages are filled when they arrive.
    void Refresh();
    // The lists are being read.
    bool IsLoading() const { return FLoading; }
    void CertificateBtnClick();
    // Runs when Certificate... is pressed, before anything else (the window
    // asks for what a certificate names and the settings lack).
    std::function<void()> OnBeforeCertificate;
    void ExportBtnClick();
    // "Restore this configuration...": the configuration the selected record
    // keeps, written back to its detector after a question listing the changes.
    void RestoreBtnClick();

    // The paper a certificate is printed on where the locale is in force:
    // Letter in the countries that use it, A4 everywhere else.
    static EPaper DefaultPaper(const QLocale &locale);
    // A record's fields, one "name: value" line each in the record's field
    // order, readable: times also in local time, the status with its
    // meaning, data one entry a line with its unit, texts from the detector
    // with their control characters shown.
    static QString DetailsText(const RServiceRecord &record);
    // The record object exactly as `records show --json` prints it.
    static QString RawText(const RServiceRecord &record);

    // What one reading of the store found (on the loading thread).
    struct RLoaded {
        QString mError; // the store could not be opened, or the list read
        std::vector<RServiceRecord> mRecords;
        std::vector<RDueEntry> mDue;
        QString mDueError;
        int mDueSimulated = 0; // detectors left out of the due list as simulated
    };

signals:
    // Both lists arrived (or the reason they could not be read).
    void Loaded();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void BuildDialog();
    // The store for a certificate, opened on first use after each reading.
    TRecordStore *Store();
    void Show(RLoaded loaded);
    void FillRecords();
    void FillDue(const std::vector<RDueEntry> &due, int simulated);
    void SelectionChanged();
    const RServiceRecord *Selected() const;
    void ShowError(const QString &text);
    void ShowNote(const QString &text);
    // The folder of the last certificate or export, remembered per user.
    QString SaveDirectory() const;
    void SetSaveDirectory(const QString &path);

    TSession &FSession;
    IScreen &FScreen;
    std::unique_ptr<TRecordStore> FStore;
    std::vector<RServiceRecord> FRecords; // what the list shows, in its order
    std::thread FLoader;
    bool FLoading = false;
    bool FLoadAgain = false; // a filter changed or Refresh was pressed while loading

    QTabWidget *FTabs = nullptr;
    QLineEdit *FSerialEdit = nullptr;
    QComboBox *FJobCombo = nullptr;
    QTableWidget *FTable = nullptr;
    QPlainTextEdit *FDetails = nullptr;
    QPushButton *FRawBtn = nullptr;
    QComboBox *FPaperCombo = nullptr;
    QPushButton *FCertificateBtn = nullptr;
    QPushButton *FExportBtn = nullptr;
    QPushButton *FRestoreBtn = nullptr;
    QTableWidget *FDueTable = nullptr;
    QLabel *FDueEmpty = nullptr; // why the due list is empty
    TCylindersPage *FCylindersPage = nullptr;
    QLabel *FMessage = nullptr;
};
