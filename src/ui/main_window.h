#pragma once
// The main window: one of two layouts chosen at start-up (the user layout, a
// single page; the developer layout, three tabbed pages), the maker's panel,
// the status bar with its clock and the traffic list.
//
// The pages and panels are widgets of their own (user_page.h,
// user_options_page.h, factory_page.h, service_test_page.h, firmware_panel.h,
// maker_panel.h, status_panel.h), each owning its controls and their binding
// to the configuration view. The window composes them, owns the state the
// actions share (RMainState) and wires the buttons to the core's actions:
// each handler copies the editors into the view, runs the action and shows
// the view again. No device work happens here.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QMainWindow>
#include <QPointer>
#include <QSize>
#include <QString>

#include "app/app_state.h"
#include "files/eeprom_dump.h"
#include "model/config_form.h"
#include "link/adapter_doctor.h"
#include "ui/certifier_form.h"
#include "ui/maker_panel.h"

class QAbstractSpinBox;
class QDateTime;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QTabWidget;
class QTimer;
class QUrl;
class SimDetector;
class TAdapterCheckDlg;
class TComTamsel;
class TDeviceActions;
class TFactoryPage;
class TFirmwareUpgrade;
class TFormBinding;
class TQtScreen;
class TServiceRecordsDlg;
class TProgramUnitsDlg;
class TSimGasPanel;
class TSession;
class TStatusPanel;
class TServiceTestPage;
class TUserOptionsPage;
class TUserPage;
struct RFirmwarePanel;

inline constexpr const char *kMainCaption = "Corvane Beamport [ver 1.4.1.0]";
inline constexpr const char *kSimulatedCaptionSuffix = " - simulated detector";
inline constexpr int kMinWindowWidth = 590;
inline constexpr int kMinWindowHeight = 580;
inline constexpr const char *kTrafficFileName = "Comm.TXT";

class TNorvikIRMainForm : public QMainWindow {
    Q_OBJECT

public:
    // Builds the controls, then runs FormCreate on the program's session: its
    // AppDir becomes the working folder and LoadSettings fills its settings.
    // With bLoadSettings false the session's settings are used as they are
    // (AppDir and LoadSettings are left to the caller).
    explicit TNorvikIRMainForm(TSession &session, bool bLoadSettings = true, QWidget *parent = nullptr);
    ~TNorvikIRMainForm() override;

    // First activation: layout and placement, the remembered firmware image,
    // the status clock. Runs once; later calls do nothing.
    void FormActivate();
    // A close request: saves the traffic list and the placement unless a
    // firmware download runs. Always allows the close.
    bool FormCloseQuery();
    // Shows the layout the session's UserMode chooses and restores the window placement,
    // brought within the screen. Without a remembered size the window takes
    // most of the screen (FirstStartSize).
    void ApplyLayout();
    // That first-start size: nine tenths of the screen's usable size (none
    // when empty), or the default's widened to the content where that is
    // larger, bounded by the screen, never below the smallest size where the
    // screen has room for it.
    static QSize FirstStartSize(const QSize &content, const QSize &defaults, const QSize &available);

    // ---- button handlers (both layouts' twins share one) ----
    void UserReadFileBtnClick();
    void UserWriteFileBtnClick();
    void UserReadDeviceBtnClick();
    void UserWriteDeviceBtnClick();
    // "Compare...": the detector against what Write Device would send.
    void UserCompareBtnClick();
    void UserOptHibernateBtnClick();
    void UserLogSaveBtnClick();
    void UserCalBtnClick();
    // "Bump Test...": the guided bump test against a cylinder on record.
    void UserBumpTestBtnClick();
    void UserFMOpenBtnClick();
    void UserFMUpgradeBtnClick();
    void UserFMCancelBtnClick();
    void UserLogResetBtnClick();
    void FatoryOptTurnOffBtnClick();
    void FatoryOptCalBtnClick();
    void FatoryOptLogSensorBtnClick();
    void EtcBeepONBtnClick(int nTag);    // 1 beeper, 2 right LED, 3 left LED, 4 vibrator
    void EtcClearPeakBtnClick(int nTag); // 1 clear peak, 2 bump fail, 3 bump pass
    void EtcFactoryResetBtnClick();
    void EtcIdentifyBtnClick();
    void EtcEEPROMReadBtnClick();
    void EtcEEPROMSaveBtnClick();
    void DevSensorTypePicked(int nIndex);
    void TimeTimerTimer();
    void CustomerImageClick();
    // Opens the service records (one window, kept), listing the serial last read.
    void ServiceRecordsBtnClick();
    // "Program Units...": one stored template to detector after detector.
    void ProgramUnitsBtnClick();
    // Opens "Check Adapter" (one window, kept) with the checks run afresh.
    void AdapterCheckBtnClick();

    // ---- binding ----
    // The view (FForm) into the editors of both layouts.
    void FormToView();
    // The editors of both layouts into the view.
    void ViewToForm();
    // ConfigToView of FTamselCFG, then FormToView.
    void ShowConfig();

    // Simulate mode: the title and the status bar say the detector is
    // simulated, and the "Apply gas" panel drives it, here and in each
    // measuring dialog. The simulator must outlive the window.
    void UseSimulator(SimDetector &sim);

    // Whether any editor differs from what was last read or loaded (and is marked).
    bool AnyFieldMarked() const;

    // The serial of the configuration last read from a detector; empty
    // before the first read.
    QString LastReadSerial() const;

    TQtScreen &Screen() { return *FScreen; }
    TComTamsel &Link();
    RMainState &State() { return FState; }
    bool First() const { return FFirst; }
    TServiceTestPage &TestPage() { return *FTestPage; }

    // The window's pages: every button on them starts file or device work.
    std::vector<QWidget *> Pages() const;
    // The buttons a running firmware download locks: every button of the
    // pages but the firmware panels' own (they follow the download's state).
    std::vector<QPushButton *> DownloadLockedButtons() const;

    // Opens the maker's web page; QDesktopServices::openUrl unless replaced.
    std::function<void(const QUrl &)> FOpenUrl;
    // The checks behind "Check adapter...": the adapter doctor on this
    // machine (the port given on the command line, if any) unless replaced.
    std::function<RDoctorReport()> FRunAdapterChecks;
    // Asks for what certificates name and the settings lack (before a bump
    // test, a calibration or a certificate; once a run): the form unless replaced.
    FCertifierPrompt FAskCertifier;

    // The clock text of the status bar: "yy-mm-dd hh:nn:ss".
    static QString ClockText(const QDateTime &t);
    // Where the traffic list is saved at close: Comm.TXT in the user's
    // run-time folder (runtime_dir.h); empty, with `error` set, when that
    // folder is refused.
    static std::string TrafficFilePath(std::string *error = nullptr);
    // Saves the traffic list as CR LF lines into that folder's Comm.TXT (or
    // the given folder's, for tests), replacing the file without following a
    // symbolic link; false, with `error` set, when it could not be written.
    bool SaveTrafficList(std::string *error = nullptr) const;
    bool SaveTrafficList(const std::string &dir, std::string *error) const;

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FormCreate(bool bLoadSettings);
    void BuildWindow();
    QWidget *BuildDeveloperLayout();
    void ConnectHandlers();
    // What the shown layout needs: its pages with their scroll bar, the traffic list.
    QSize LayoutContentSize() const;
    void LayOutEEPROMGrid();
    void ShowFirmwarePanel(const RFirmwarePanel &panel);
    // The Bump Test dialog over `parent` (the window or the logger), with the cylinders on record.
    void OpenBumpTest(QWidget *parent);
    // FAskCertifier over `parent` when a value is missing and it was not asked yet.
    void AskCertifier(QWidget *parent);
    // Locks the download's buttons while it runs and gives them back after.
    void LockForDownload(bool bRunning);
    // The editors drawn as stand-ins until a record has been read.
    void ShowRecordSource();
    // What the editors are compared with: the view as last read, loaded or
    // written; each editor that differs from it is marked.
    void TakeLoaded(const QString &source);
    void MarkChanges();
    std::vector<const TFormBinding *> Bindings() const;

    // Copies the editors into the view, runs the action, shows the view again
    // and gives the focus to the control the view asks for.
    void RunBound(const std::function<void()> &action);
    // Runs the action; an exception that escapes it is shown in the error box.
    void Guarded(const std::function<void()> &action);
    void ApplyFocusRequest();
    void UserIDEditChanged(QLineEdit *edit);
    void FocusChanged(QWidget *from, QWidget *to);
    QAbstractSpinBox *NumberEditorOf(QWidget *w) const;

    bool FFirst = true;
    RMainState FState;
    TSession &FSession;
    std::unique_ptr<TQtScreen> FScreen;
    std::unique_ptr<TDeviceActions> FActions;
    std::unique_ptr<TFirmwareUpgrade> FFirmware;
    REEPROMGrid FEEPROM;              // what the EEPROM grid shows
    bool FCloseAfterUpgrade = false;  // a close was asked for while a download ran
    int FActionDepth = 0;             // an action is running (the window may be processing messages inside it)
    std::vector<QPointer<QPushButton>> FLocked; // locked by the running download, to be given back
    std::optional<bool> FStandInShown; // the editors are drawn as stand-ins (unknown before the first showing)

    // ---- frame ----
    QScrollArea *UserScrollBox = nullptr;
    QScrollArea *DevScrollBox = nullptr;
    QTabWidget *PageControl = nullptr;
    QPlainTextEdit *Memo = nullptr;
    QTimer *TimeTimer = nullptr;
    TUserPage *FUserPage = nullptr;
    TUserOptionsPage *FOptionsPage = nullptr;
    TFactoryPage *FFactoryPage = nullptr;
    TServiceTestPage *FTestPage = nullptr;
    TMakerPanel *FMakerPanel = nullptr;
    TStatusPanel *FStatusPanel = nullptr;
    TServiceRecordsDlg *FRecordsDlg = nullptr;   // made on first use, owned by the window
    TProgramUnitsDlg *FProgramDlg = nullptr;     // made on first use, owned by the window
    TAdapterCheckDlg *FAdapterCheckDlg = nullptr; // made on first use, owned by the window
    TSimGasPanel *FSimGasPanel = nullptr;         // simulate mode only
    SimDetector *FSim = nullptr;                  // simulate mode only: the measuring dialogs' gas
    bool FCertifierAsked = false; // FAskCertifier ran in this run
    bool FBinding = false; // FormToView is setting the editors
    ConfigForm FLoaded;    // the view as last read, loaded or written
    QString FLoadedSource; // where FLoaded came from, for the marks' tooltips
};
