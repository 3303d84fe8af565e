#pragma once
// The service records of the store in force, for the technician at the bench:
// the records of one detector (or all), newest first, with every field of the
// one selected; its certificate when it proves a calibration or a passed bump
// test; the listed records as CSV; the due list, overdue detectors in red; and
// the gas cylinders the tests and calibrations use.
//
// The store is opened when the dialog opens and again on Refresh; whatever
// goes wrong with it (records off, a bad location, an unreachable server, a
// damaged file) is shown in the dialog's error line, never more.
#include <memory>
#include <optional>
#include <vector>

#include <QDialog>
#include <QLocale>
#include <QString>

#include "records/certificate.h"
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

    // Sets the serial filter and opens the store again (Refresh).
    void ShowSerial(const QString &serial);
    // Opens the store again and fills both pages.
    void Refresh();
    void CertificateBtnClick();
    void ExportBtnClick();

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

protected:
    void showEvent(QShowEvent *event) override;

private:
    void BuildDialog();
    bool OpenStore();
    void FillRecords();
    void FillDue();
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

    QTabWidget *FTabs = nullptr;
    QLineEdit *FSerialEdit = nullptr;
    QComboBox *FJobCombo = nullptr;
    QTableWidget *FTable = nullptr;
    QPlainTextEdit *FDetails = nullptr;
    QPushButton *FRawBtn = nullptr;
    QComboBox *FPaperCombo = nullptr;
    QPushButton *FCertificateBtn = nullptr;
    QPushButton *FExportBtn = nullptr;
    QTableWidget *FDueTable = nullptr;
    TCylindersPage *FCylindersPage = nullptr;
    QLabel *FMessage = nullptr;
};
