#include "app/session.h"
#include "ui/main_window.h"

#include <exception>

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QAbstractSpinBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableWidget>
#include <QUrl>

#include "app/device_actions.h"
#include "app/settings.h"
#include "app/status.h"
#include "app/cfg_actions.h"
#include "app/config_jobs.h"
#include "ui/program_units_dlg.h"
#include "app/eeprom_job.h"
#include "app/event_log_job.h"
#include "app/firmware_job.h"
#include "link/tamsel_comms.h"
#include "model/config_form.h"
#include "model/config_record.h"
#include "ui/adapter_check_dlg.h"
#include "ui/bump_test_dlg.h"
#include "ui/cylinder_choice.h"
#include "ui/factory_page.h"
#include "ui/firmware_panel.h"
#include "ui/form_binding.h"
#include "ui/qt_screen.h"
#include "ui/records_dialog.h"
#include "ui/status_panel.h"
#include "ui/service_test_page.h"
#include "ui/user_options_page.h"
#include "ui/user_page.h"
#include "ui/verdict_status.h"
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

const QColor kFocusColour(0, 255, 0);


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
    EFocusRequest &request = FState.FForm.mFocusRequest;
    switch (request) {
    case EFocusRequest::SerialNumber: FOptionsPage->SerialEdit()->setFocus(Qt::OtherFocusReason); break;
    case EFocusRequest::None: break;
    }
    request = EFocusRequest::None;
}

// ==================================================================== handlers

void TNorvikIRMainForm::ConnectHandlers()
{
    const auto click = [this](QPushButton *button, auto handler) {
        connect(button, &QPushButton::clicked, this, handler);
    };
    for (const RConfigButtons *b : {&FUserPage->Buttons(), &FOptionsPage->Buttons()}) {
        click(b->mReadFile, [this] { UserReadFileBtnClick(); });
        click(b->mWriteFile, [this] { UserWriteFileBtnClick(); });
        click(b->mReadDevice, [this] { UserReadDeviceBtnClick(); });
        click(b->mWriteDevice, [this] { UserWriteDeviceBtnClick(); });
        click(b->mHibernate, [this] { UserOptHibernateBtnClick(); });
        click(b->mLogSave, [this] { UserLogSaveBtnClick(); });
        click(b->mCompare, [this] { UserCompareBtnClick(); });
    }
    click(FUserPage->CalBtn(), [this] { UserCalBtnClick(); });
    click(FUserPage->BumpTestBtn(), [this] { UserBumpTestBtnClick(); });
    for (TFirmwarePanel *panel : {FUserPage->FirmwarePanel(), FOptionsPage->FirmwarePanel()}) {
        click(panel->OpenBtn(), [this] { UserFMOpenBtnClick(); });
        click(panel->UpgradeBtn(), [this] { UserFMUpgradeBtnClick(); });
        click(panel->CancelBtn(), [this] { UserFMCancelBtnClick(); });
    }
    click(FFactoryPage->LogResetBtn(), [this] { UserLogResetBtnClick(); });
    click(FFactoryPage->TurnOffBtn(), [this] { FatoryOptTurnOffBtnClick(); });
    click(FFactoryPage->CalBtn(), [this] { FatoryOptCalBtnClick(); });
    click(FFactoryPage->LogSensorBtn(), [this] { FatoryOptLogSensorBtnClick(); });
    for (int tag = 1; tag <= static_cast<int>(FTestPage->ActuatorBtns().size()); ++tag)
        click(FTestPage->ActuatorBtns()[static_cast<size_t>(tag - 1)], [this, tag] { EtcBeepONBtnClick(tag); });
    for (int tag = 1; tag <= static_cast<int>(FTestPage->ReportBtns().size()); ++tag)
        click(FTestPage->ReportBtns()[static_cast<size_t>(tag - 1)], [this, tag] { EtcClearPeakBtnClick(tag); });
    click(FTestPage->FactoryResetBtn(), [this] { EtcFactoryResetBtnClick(); });
    click(FTestPage->IdentifyBtn(), [this] { EtcIdentifyBtnClick(); });
    click(FTestPage->EEPROMReadBtn(), [this] { EtcEEPROMReadBtnClick(); });
    click(FTestPage->EEPROMSaveBtn(), [this] { EtcEEPROMSaveBtnClick(); });
    click(FMakerPanel->RecordsBtn(), [this] { ServiceRecordsBtnClick(); });
    click(FMakerPanel->ProgramBtn(), [this] { ProgramUnitsBtnClick(); });
    click(FStatusPanel->AdapterCheckBtn(), [this] { AdapterCheckBtnClick(); });

    // Only a pick by the user: the binding's own selection is no choice.
    connect(FOptionsPage->SensorTypeCombo(), &QComboBox::activated, this,
            [this](int index) { DevSensorTypePicked(index); });

    for (QLineEdit *edit : {FUserPage->Editors().mUserId, FOptionsPage->Editors().mUserId}) {
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textEdited, this, [this, edit] { UserIDEditChanged(edit); });
    }
    FOptionsPage->SerialEdit()->installEventFilter(this);
    // A focused button is pressed with Enter as with the space bar.
    for (QPushButton *button : findChildren<QPushButton *>())
        button->installEventFilter(this);

    FTestPage->OnCellEdited = [this](int nCol, int nRow, const std::string &text) { FEEPROM.SetCell(nCol, nRow, text); };
    connect(qApp, &QApplication::focusChanged, this, &TNorvikIRMainForm::FocusChanged);

    // Every edit is marked against what was last read or loaded.
    for (const TFormBinding *binding : Bindings())
        binding->OnEdited(this, [this] {
            if (!FBinding)
                MarkChanges();
        });
    // The wheel changes only the field being worked in.
    GuardWheel(this);
}

void TNorvikIRMainForm::UserReadFileBtnClick()
{
    bool loaded = false;
    RunBound([this, &loaded] {
        loaded = ReadConfigFileAction(FSession, *FScreen, FState, [this] {
                     ConfigToView(FState.FTamselCFG, FState.FForm, FSession.SensorTypes);
                 }) == EFileOutcome::Done;
    });
    if (loaded)
        TakeLoaded(QStringLiteral("Loaded from the file"));
}

void TNorvikIRMainForm::UserWriteFileBtnClick()
{
    RunBound([this] {
        WriteConfigFileAction(FSession, *FScreen, FState, [this] { ViewToMainState(FSession, FState, *FScreen, false); });
    });
}

void TNorvikIRMainForm::UserReadDeviceBtnClick()
{
    bool read = false;
    RunBound([this, &read] { read = FActions->ReadDevice().Ok(); });
    if (read)
        TakeLoaded(QStringLiteral("Read from the detector"));
}

void TNorvikIRMainForm::UserWriteDeviceBtnClick()
{
    bool written = false;
    RunBound([this, &written] { written = FActions->WriteDevice().Ok(); });
    if (written)
        TakeLoaded(QStringLiteral("Written to the detector"));
}

void TNorvikIRMainForm::UserCompareBtnClick()
{
    RunBound([this] { CompareAction(FSession, *FScreen, FState); });
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
        AskCertifier(this);
        TSensorCalDlg dialog(FSession, this, FScreen.get());
        QString error;
        dialog.SetCylinders(CylindersOnRecord(FSession, error));
        TVerdictWatch verdict(dialog, *FScreen);
        if (FSim)
            dialog.UseSimulator(*FSim);
        dialog.ShowDlg(FState.FTamselCFG);
        verdict.Check();
    });
}

void TNorvikIRMainForm::UserBumpTestBtnClick()
{
    FState.FHibernateConfirmed = false;
    Guarded([this] { OpenBumpTest(this); });
}

void TNorvikIRMainForm::AskCertifier(QWidget *parent)
{
    AskCertifierOnce(FSession, FCertifierAsked, FAskCertifier, parent);
}

void TNorvikIRMainForm::OpenBumpTest(QWidget *parent)
{
    AskCertifier(parent);
    QString error;
    const std::vector<RGasCylinder> cylinders = CylindersOnRecord(FSession, error);
    TBumpTestDlg dialog(FSession, cylinders, parent, FScreen.get());
    if (!error.isEmpty())
        dialog.SetNote(QStringLiteral("The cylinders are kept with the service records: ") + error);
    TVerdictWatch verdict(dialog, *FScreen);
    if (FSim)
        dialog.UseSimulator(*FSim);
    dialog.exec();
    verdict.Check();
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
    FState.FHibernateConfirmed = false;
    Guarded([this] {
        TSensorLogDlg dialog(FSession, this, FScreen.get());
        // The alarm levels of the detector last read: the dialog shows them
        // once the detector it logs is that one.
        if (FState.FDetectorCFG)
            dialog.SetKnownConfiguration(*FState.FDetectorCFG);
        dialog.OnBumpTest = [this, &dialog] { Guarded([this, &dialog] { OpenBumpTest(&dialog); }); };
        if (FSim)
            dialog.UseSimulator(*FSim);
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
    bool read = false;
    Guarded([this, &read] { read = EEPROMReadAction(FSession, *FScreen, FEEPROM).Ok(); });
    FTestPage->ShowGrid(FEEPROM);
    if (read)
        FTestPage->MarkRowsRead(FSession.DeviceCFG.mEEPROMReadAddress / kEEPROMBytesPerRow);
}

void TNorvikIRMainForm::EtcEEPROMSaveBtnClick()
{
    Guarded([this] { EEPROMSaveAction(FSession, *FScreen, FEEPROM); });
}

void TNorvikIRMainForm::DevSensorTypePicked(int nIndex)
{
    if (FBinding)
        return;
    ViewToForm();
    ::DevSensorTypePicked(FState.FForm, nIndex, FSession.SensorTypes);
    FormToView();
}

void TNorvikIRMainForm::TimeTimerTimer()
{
    FStatusPanel->TimeLabel()->setText(ClockText(QDateTime::currentDateTime()));
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
        if (!FRecordsDlg) {
            FRecordsDlg = new TServiceRecordsDlg(FSession, *FScreen, LastReadSerial(), this);
            FRecordsDlg->OnBeforeCertificate = [this] { AskCertifier(FRecordsDlg); };
        } else
            FRecordsDlg->ShowSerial(LastReadSerial());
        FRecordsDlg->show();
        FRecordsDlg->raise();
        FRecordsDlg->activateWindow();
    });
}

void TNorvikIRMainForm::ProgramUnitsBtnClick()
{
    Guarded([this] {
        if (!FProgramDlg)
            FProgramDlg = new TProgramUnitsDlg(FSession, *FScreen, this);
        else if (!FProgramDlg->Running())
            FProgramDlg->Refresh();
        FProgramDlg->show();
        FProgramDlg->raise();
        FProgramDlg->activateWindow();
    });
}

void TNorvikIRMainForm::AdapterCheckBtnClick()
{
    Guarded([this] {
        if (!FAdapterCheckDlg)
            FAdapterCheckDlg = new TAdapterCheckDlg([this] { return FRunAdapterChecks(); }, this);
        else
            FAdapterCheckDlg->Recheck();
        FAdapterCheckDlg->show();
        FAdapterCheckDlg->raise();
        FAdapterCheckDlg->activateWindow();
    });
}

void TNorvikIRMainForm::CustomerImageClick()
{
    FMakerPanel->LogoClick();
}

bool TNorvikIRMainForm::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (watched == FUserPage->Editors().mUserId || watched == FOptionsPage->Editors().mUserId) {
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
    } else if (event->type() == QEvent::KeyRelease && watched == FOptionsPage->SerialEdit()) {
        // UserOptSerialEditKeyUp: ten characters typed (or scanned), so the
        // next Enter writes them.
        if (SerialMovesFocusToWrite(FOptionsPage->SerialEdit()->cursorPosition()))
            FOptionsPage->Buttons().mWriteDevice->setFocus(Qt::OtherFocusReason);
    }
    return QMainWindow::eventFilter(watched, event);
}

// ========================================================== editors' behaviour

void TNorvikIRMainForm::UserIDEditChanged(QLineEdit *edit)
{
    // Pasted text passes the same rules as typed keys.
    const QString text = edit->text();
    const QString filtered = BytesToText(FilterUserIdText(TextToBytes(text)));
    if (filtered == text)
        return;
    const int cursor = edit->cursorPosition();
    edit->setText(filtered);
    edit->setCursorPosition(std::min<int>(cursor, static_cast<int>(filtered.size())));
}

QAbstractSpinBox *TNorvikIRMainForm::NumberEditorOf(QWidget *w) const
{
    for (; w; w = w->parentWidget()) {
        if (auto *spin = qobject_cast<QAbstractSpinBox *>(w)) {
            for (const TFormBinding *binding : Bindings())
                if (binding->HasNumberEditor(spin))
                    return spin;
            return nullptr;
        }
        if (w == this)
            return nullptr;
    }
    return nullptr;
}

void TNorvikIRMainForm::FocusChanged(QWidget *from, QWidget *to)
{
    // UserHighAlarmSpinEnter / UserHighAlarmSpinExit: a number editor is bright
    // green while it has the focus, in the window colour again after.
    QAbstractSpinBox *left = NumberEditorOf(from);
    QAbstractSpinBox *entered = NumberEditorOf(to);
    const auto paint = [](QAbstractSpinBox *spin, bool focused) {
        QPalette p = spin->palette();
        const QPalette normal = spin->parentWidget() ? spin->parentWidget()->palette() : QPalette();
        p.setColor(QPalette::Base, focused ? kFocusColour : normal.color(QPalette::Base));
        spin->setPalette(p);
    };
    if (left && left != entered)
        paint(left, false);
    if (entered && entered != left)
        paint(entered, true);
    // A marked editor left keeps its mark's colour.
    if (left && left != entered)
        MarkChanges();
}
