#include "ui/main_window.h"

#include <exception>

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableWidget>
#include <QUrl>

#include "app/device_actions.h"
#include "app/settings.h"
#include "app/session.h"
#include "app/status.h"
#include "app/cfg_actions.h"
#include "app/eeprom_job.h"
#include "app/event_log_job.h"
#include "app/firmware_job.h"
#include "model/config_form.h"
#include "model/config_record.h"
#include "ui/qt_screen.h"
#include "ui/records_dialog.h"
#include "ui/sensor_cal_dlg.h"
#include "ui/sensor_log_dlg.h"
#include "ui/widget_kit.h"

// What the window's buttons and keys do: each handler hands its job to the
// core and shows the outcome.

using namespace kit;

namespace {

bool IsEnterKey(const QKeyEvent *key)
{
    return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
}


} // namespace

void TNorvikIRMainForm::RunBound(const std::function<void()> &action)
{
    if (FActionDepth > 0)
        return;
    ViewToForm();
    Guarded(action);
    FormToView();
    ApplyFocusRequest();
}

void TNorvikIRMainForm::Guarded(const std::function<void()> &action)
{
    // The actions let the window process its messages while they hold the
    // link (busy text, actuator wait, download). A click that arrives then
    // must not start a second action on the open connection: it is dropped.
    if (FActionDepth > 0)
        return;
    struct RDepth {
        int &mDepth;
        explicit RDepth(int &depth) : mDepth(depth) { ++mDepth; }
        ~RDepth() { --mDepth; }
    } depth(FActionDepth);
    // An error the core did not turn into a status ends the action here; it
    // must not unwind through the event loop.
    try {
        action();
    } catch (const std::exception &e) {
        ShowError(*FScreen, e.what());
    } catch (...) {
        ShowError(*FScreen, "Unknown error");
    }
}

void TNorvikIRMainForm::ApplyFocusRequest()
{
    std::string &request = FState.FForm.mFocusRequest;
    if (request.empty())
        return;
    if (auto *w = findChild<QWidget *>(QString::fromStdString(request)))
        w->setFocus(Qt::OtherFocusReason);
    request.clear();
}

// ==================================================================== handlers

void TNorvikIRMainForm::ConnectHandlers()
{
    const auto click = [this](const char *name, auto handler) {
        connect(Child<QPushButton>(name), &QPushButton::clicked, this, handler);
    };
    click("UserReadFileBtn", [this] { UserReadFileBtnClick(); });
    click("UserOptReadFileBtn", [this] { UserReadFileBtnClick(); });
    click("UserWriteFileBtn", [this] { UserWriteFileBtnClick(); });
    click("UserOptWriteFileBtn", [this] { UserWriteFileBtnClick(); });
    click("UserReadDeviceBtn", [this] { UserReadDeviceBtnClick(); });
    click("UserOptReadDeviceBtn", [this] { UserReadDeviceBtnClick(); });
    click("UserWriteDeviceBtn", [this] { UserWriteDeviceBtnClick(); });
    click("UserOptWriteDeviceBtn", [this] { UserWriteDeviceBtnClick(); });
    click("UserHibernateBtn", [this] { UserOptHibernateBtnClick(); });
    click("UserOptHibernateBtn", [this] { UserOptHibernateBtnClick(); });
    click("UserLogSaveBtn", [this] { UserLogSaveBtnClick(); });
    click("UserOptLogSaveBtn", [this] { UserLogSaveBtnClick(); });
    click("UserCalBtn", [this] { UserCalBtnClick(); });
    for (const char *prefix : {"UserFM", "UserOptFM"}) {
        const std::string p = prefix;
        click((p + "OpenBtn").c_str(), [this] { UserFMOpenBtnClick(); });
        click((p + "UpgradeBtn").c_str(), [this] { UserFMUpgradeBtnClick(); });
        click((p + "CancelBtn").c_str(), [this] { UserFMCancelBtnClick(); });
    }
    click("FatoryOptLogResetBtn", [this] { UserLogResetBtnClick(); });
    click("FatoryOptTurnOffBtn", [this] { FatoryOptTurnOffBtnClick(); });
    click("FatoryOptCalBtn", [this] { FatoryOptCalBtnClick(); });
    click("FatoryOptLogSensorBtn", [this] { FatoryOptLogSensorBtnClick(); });
    click("EtcBeepONBtn", [this] { EtcBeepONBtnClick(1); });
    click("EtcRLEDONBtn", [this] { EtcBeepONBtnClick(2); });
    click("EtcLLEDONBtn", [this] { EtcBeepONBtnClick(3); });
    click("EtcVibratorBtn", [this] { EtcBeepONBtnClick(4); });
    click("EtcClearPeakBtn", [this] { EtcClearPeakBtnClick(1); });
    click("EtcBumpFailBtn", [this] { EtcClearPeakBtnClick(2); });
    click("EtcBumpPassBtn", [this] { EtcClearPeakBtnClick(3); });
    click("EtcFactoryResetBtn", [this] { EtcFactoryResetBtnClick(); });
    click("EtcIdentifyBtn", [this] { EtcIdentifyBtnClick(); });
    click("EtcEEPROMReadBtn", [this] { EtcEEPROMReadBtnClick(); });
    click("EtcEEPROMSaveBtn", [this] { EtcEEPROMSaveBtnClick(); });

    // Only a pick by the user: the binding's own selection is no choice.
    connect(Child<QComboBox>("UserOptSensorTypeCombo"), &QComboBox::activated, this,
            [this](int index) { UserOptSensorTypeComboChange(index); });

    for (QLineEdit *edit : {Child<QLineEdit>("UserIDEdit"), Child<QLineEdit>("UserOptIDEdit")}) {
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textEdited, this, [this, edit] { UserIDEditChanged(edit); });
    }
    Child<QLineEdit>("UserOptSerialEdit")->installEventFilter(this);
    // A focused button is pressed with Enter as with the space bar.
    for (QPushButton *button : findChildren<QPushButton *>())
        button->installEventFilter(this);

    connect(EtcEEPROMGrid, &QTableWidget::itemChanged, this, [this](QTableWidgetItem *item) {
        FEEPROM.SetCell(item->column(), item->row(), item->text().toStdString());
    });
    connect(qApp, &QApplication::focusChanged, this, &TNorvikIRMainForm::FocusChanged);
}

void TNorvikIRMainForm::UserReadFileBtnClick()
{
    RunBound([this] {
        ReadConfigFileAction(FSession, *FScreen, FState,
                             [this] { ConfigToView(FState.FTamselCFG, FState.FForm, FSession.SensorTypes); });
    });
}

void TNorvikIRMainForm::UserWriteFileBtnClick()
{
    RunBound([this] {
        WriteConfigFileAction(FSession, *FScreen, FState, [this] { ViewToMainState(FSession, FState, *FScreen, false); });
    });
}

void TNorvikIRMainForm::UserReadDeviceBtnClick()
{
    RunBound([this] { FActions->ReadDevice(); });
}

void TNorvikIRMainForm::UserWriteDeviceBtnClick()
{
    RunBound([this] { FActions->WriteDevice(); });
}

void TNorvikIRMainForm::UserOptHibernateBtnClick()
{
    RunBound([this] { FActions->Hibernate(); });
}

void TNorvikIRMainForm::UserLogSaveBtnClick()
{
    RunBound([this] {
        SaveEventLogAction(FSession, *FScreen, FState, [this] { return FActions->ReadDeviceConfig(); });
    });
}

void TNorvikIRMainForm::UserCalBtnClick()
{
    // The detector's record first, so the dialog works on the sensor that is
    // installed; the dialog refuses a sensor type it does not know.
    bool read = false;
    RunBound([this, &read] { read = FActions->ReadForSensorCalibration().Ok(); });
    if (!read)
        return;
    Guarded([this] {
        TSensorCalDlg dialog(FSession, this, FScreen.get());
        dialog.ShowDlg(FState.FTamselCFG);
    });
}

// The firmware panel works on the image alone, never on the configuration
// editors: they are neither read before nor written after. The download lets
// the window process its messages for every packet, and whatever the user
// types into the editors meanwhile stays there.
void TNorvikIRMainForm::UserFMOpenBtnClick()
{
    Guarded([this] { FFirmware->OpenUpgradeFile(); });
}

void TNorvikIRMainForm::UserFMUpgradeBtnClick()
{
    Guarded([this] { FFirmware->Upgrade(); });
    // A close asked for during the download happens now (nothing saved).
    if (FCloseAfterUpgrade && !FFirmware->Running())
        close();
}

void TNorvikIRMainForm::UserFMCancelBtnClick()
{
    FFirmware->Cancel();
}

void TNorvikIRMainForm::UserLogResetBtnClick()
{
    RunBound([this] { FActions->LogReset(); });
}

void TNorvikIRMainForm::FatoryOptTurnOffBtnClick()
{
    RunBound([this] { FActions->TurnOff(); });
}

void TNorvikIRMainForm::FatoryOptCalBtnClick()
{
    RunBound([this] { FActions->Calibration(); });
}

void TNorvikIRMainForm::FatoryOptLogSensorBtnClick()
{
    FState.FHibernateBtn = false;
    Guarded([this] {
        TSensorLogDlg dialog(FSession, this, FScreen.get());
        dialog.ShowDlg();
    });
}

// The TEST page's commands do not use the configuration either; the
// actuator test holds the link for its running time while the window
// processes its messages, and edits made then stay.
void TNorvikIRMainForm::EtcBeepONBtnClick(int nTag)
{
    Guarded([this, nTag] { FActions->ActuatorTest(nTag); });
}

void TNorvikIRMainForm::EtcClearPeakBtnClick(int nTag)
{
    Guarded([this, nTag] { FActions->PeakBumpReport(nTag); });
}

void TNorvikIRMainForm::EtcFactoryResetBtnClick()
{
    Guarded([this] { FActions->FactoryReset(); });
}

void TNorvikIRMainForm::EtcIdentifyBtnClick()
{
    Guarded([this] { FActions->Identify(); });
}

void TNorvikIRMainForm::EtcEEPROMReadBtnClick()
{
    Guarded([this] { EEPROMReadAction(FSession, *FScreen, FEEPROM); });
    ShowEEPROMGrid();
}

void TNorvikIRMainForm::EtcEEPROMSaveBtnClick()
{
    Guarded([this] { EEPROMSaveAction(FSession, *FScreen, FEEPROM); });
}

void TNorvikIRMainForm::UserOptSensorTypeComboChange(int nIndex)
{
    if (FBinding)
        return;
    ViewToForm();
    ::UserOptSensorTypeComboChange(FState.FForm, nIndex, FSession.SensorTypes);
    FormToView();
}

void TNorvikIRMainForm::TimeTimerTimer()
{
    StatusTimeLabel->setText(ClockText(QDateTime::currentDateTime()));
}

QString TNorvikIRMainForm::LastReadSerial() const
{
    // FReadSW is set by every configuration read from a detector, and only then.
    if (FState.FReadSW == 0)
        return {};
    return QString::fromLatin1(CharFieldToStr(FState.FTamselCFG.mUnit.mSerial)).trimmed();
}

void TNorvikIRMainForm::ServiceRecordsBtnClick()
{
    Guarded([this] {
        if (!FRecordsDlg)
            FRecordsDlg = new TServiceRecordsDlg(FSession, *FScreen, LastReadSerial(), this);
        else
            FRecordsDlg->ShowSerial(LastReadSerial());
        FRecordsDlg->show();
        FRecordsDlg->raise();
        FRecordsDlg->activateWindow();
    });
}

void TNorvikIRMainForm::CustomerImageClick()
{
    FOpenUrl(QUrl(Text(kMakerWebPage)));
}

bool TNorvikIRMainForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == CustomerImage) {
        switch (event->type()) {
        case QEvent::Enter: CustomerImage->setCursor(Qt::PointingHandCursor); break;
        case QEvent::Leave: CustomerImage->unsetCursor(); break;
        case QEvent::MouseButtonRelease:
            if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton &&
                CustomerImage->rect().contains(static_cast<QMouseEvent *>(event)->position().toPoint())) {
                CustomerImageClick();
                return true;
            }
            break;
        default: break;
        }
        return QMainWindow::eventFilter(watched, event);
    }

    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        const QString name = watched->objectName();
        if (name == QLatin1String("UserIDEdit") || name == QLatin1String("UserOptIDEdit")) {
            // UserIDEditKeyPress: typed characters pass the user ID's key
            // filter; keys without a character and shortcuts pass as they are.
            const QString text = key->text();
            if (text.size() == 1 && text[0].isPrint() && !(key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier))) {
                const char16_t c = text[0].unicode();
                if (c > 0x7F || !AcceptUserIdKey(static_cast<char>(c)))
                    return true;
            }
        } else if (auto *button = qobject_cast<QPushButton *>(watched)) {
            if (IsEnterKey(key) && button->isEnabled()) {
                button->click();
                return true;
            }
        }
    } else if (event->type() == QEvent::KeyRelease && watched->objectName() == QLatin1String("UserOptSerialEdit")) {
        // UserOptSerialEditKeyUp: ten characters typed (or scanned), so the
        // next Enter writes them.
        auto *edit = static_cast<QLineEdit *>(watched);
        if (SerialMovesFocusToWrite(edit->cursorPosition()))
            Child<QPushButton>(kSerialFocusTarget)->setFocus(Qt::OtherFocusReason);
    }
    return QMainWindow::eventFilter(watched, event);
}

