#pragma once
// The main window: one of two layouts chosen at start-up (the user layout, a
// single page; the developer layout, three tabbed pages), the maker's panel,
// the status bar with its clock and the traffic list.
//
// The window is a thin binding: the editors mirror the configuration view
// (RMainState::FForm, one member per editor, named like it), each button's
// handler copies the editors into the view, runs the core action and shows
// the view again. No device work happens here.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QMainWindow>
#include <QSize>
#include <QString>

#include "app/app_state.h"
#include "app/eeprom_job.h"

class QAbstractSpinBox;
class QCheckBox;
class QComboBox;
class QDateTime;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QTabWidget;
class QTableWidget;
class QTimer;
class QUrl;
class TComTamsel;
class TDeviceActions;
class TFirmwareUpgrade;
struct RFirmwarePanel;
class TQtScreen;
class TServiceRecordsDlg;
class TSession;

inline constexpr const char *kMainCaption = "Corvane Beamport [ver 1.4.1.0]";
inline constexpr int kMinWindowWidth = 590;
inline constexpr int kMinWindowHeight = 580;
inline constexpr const char *kMakerWebPage = "https://www.corvane.example/";
inline constexpr const char *kMakerSupportMail = "support@corvane.example";
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
    // Shows the layout the session's UserMode chooses and restores the window placement.
    // Without a remembered size the window is as large as the default
    // placement, or wider when the layout's pages need it, within the screen.
    void ApplyLayout();
    // That first-start size: the default's, widened to the content, bounded by
    // the screen's available size (none when empty), never below the smallest size.
    static QSize FirstStartSize(const QSize &content, const QSize &defaults, const QSize &available);

    // ---- button handlers (both layouts' twins share one) ----
    void UserReadFileBtnClick();
    void UserWriteFileBtnClick();
    void UserReadDeviceBtnClick();
    void UserWriteDeviceBtnClick();
    void UserOptHibernateBtnClick();
    void UserLogSaveBtnClick();
    void UserCalBtnClick();
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
    void UserOptSensorTypeComboChange(int nIndex);
    void TimeTimerTimer();
    void CustomerImageClick();
    // Opens the service records (one window, kept), listing the serial last read.
    void ServiceRecordsBtnClick();

    // ---- binding ----
    // The view (FForm) into the editors of both layouts.
    void FormToView();
    // The editors of both layouts into the view.
    void ViewToForm();
    // ConfigToView of FTamselCFG, then FormToView.
    void ShowConfig();

    // The serial of the configuration last read from a detector; empty
    // before the first read.
    QString LastReadSerial() const;

    TQtScreen &Screen() { return *FScreen; }
    TComTamsel &Link();
    RMainState &State() { return FState; }
    bool First() const { return FFirst; }

    // Opens the maker's web page; QDesktopServices::openUrl unless replaced.
    std::function<void(const QUrl &)> FOpenUrl;

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
    QWidget *BuildUserLayout();
    QWidget *BuildDeveloperLayout();
    QWidget *BuildUserOptionsPage();
    QWidget *BuildFactoryPage();
    QWidget *BuildTestPage();
    QWidget *BuildFirmwarePanel(const QString &prefix);
    QWidget *BuildMakerPanel();
    QWidget *BuildStatusPanel();
    void BindControls();
    void ConnectHandlers();
    // What the shown layout needs: its pages with their scroll bar, the traffic list.
    QSize LayoutContentSize() const;
    void LayOutEEPROMGrid();
    void ShowEEPROMGrid();
    void ShowFirmwarePanel(const RFirmwarePanel &panel);

    // Copies the editors into the view, runs the action, shows the view again
    // and gives the focus to the control the view asks for.
    void RunBound(const std::function<void()> &action);
    // Runs the action; an exception that escapes it is shown in the error box.
    void Guarded(const std::function<void()> &action);
    void ApplyFocusRequest();
    void UserIDEditChanged(QLineEdit *edit);
    void UserHighAlarmSpinEnter(QAbstractSpinBox *spin);
    void UserHighAlarmSpinExit(QAbstractSpinBox *spin);
    void FocusChanged(QWidget *from, QWidget *to);
    QAbstractSpinBox *NumberEditorOf(QWidget *w) const;

    template <class T> T *Child(const char *name) const;

    TSession &FSession;
    bool FFirst = true;
    RMainState FState;
    std::unique_ptr<TQtScreen> FScreen;
    std::unique_ptr<TDeviceActions> FActions;
    std::unique_ptr<TFirmwareUpgrade> FFirmware;
    REEPROMGrid FEEPROM;              // what the EEPROM grid shows
    bool FCloseAfterUpgrade = false;  // a close was asked for while a download ran
    int FActionDepth = 0;             // an action is running (the window may be processing messages inside it)

    // ---- frame ----
    QScrollArea *UserScrollBox = nullptr;
    QScrollArea *DevScrollBox = nullptr;
    QTabWidget *PageControl = nullptr;
    QPlainTextEdit *Memo = nullptr;
    QWidget *StatusPanel = nullptr;
    QWidget *CustomerPanel = nullptr;
    QLabel *StatusLabel = nullptr;
    QLabel *StatusTimeLabel = nullptr;
    QTimer *TimeTimer = nullptr;
    QLabel *CustomerImage = nullptr;
    QTableWidget *EtcEEPROMGrid = nullptr;
    TServiceRecordsDlg *FRecordsDlg = nullptr; // made on first use, owned by the window

    // ---- bindings of the view's members to their editors ----
    struct RSpinBinding {
        QDoubleSpinBox *mWidget;
        RSpinEdit ConfigForm::*mField;
    };
    struct RTextBinding {
        QLineEdit *mWidget;
        RTextEdit ConfigForm::*mField;
    };
    struct RComboBinding {
        QComboBox *mWidget;
        RComboBox ConfigForm::*mField;
    };
    struct RLabelBinding {
        QLabel *mWidget;
        std::string ConfigForm::*mField;
    };
    struct RCheckBinding {
        QCheckBox *mWidget;
        bool ConfigForm::*mField;
    };
    std::vector<RSpinBinding> FSpins;
    std::vector<RTextBinding> FTexts;
    std::vector<RComboBinding> FCombos;
    std::vector<RLabelBinding> FLabels;
    std::vector<RCheckBinding> FChecks;
    bool FBinding = false; // FormToView is setting the editors
};

// The window's control of that name; every name asked for is one the window made.
template <class T> T *TNorvikIRMainForm::Child(const char *name) const
{
    T *w = findChild<T *>(QString::fromLatin1(name));
    Q_ASSERT_X(w, "TNorvikIRMainForm", name);
    return w;
}
