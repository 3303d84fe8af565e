#include "app/session.h"
#include "ui/main_window.h"
#include "app/runtime_dir.h"

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QScrollArea>
#include <QTabWidget>
#include <QTextBlock>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "app/device_actions.h"
#include "app/firmware_job.h"
#include "app/settings.h"
#include "app/status.h"
#include "app/user_store.h"
#include "files/atomic_save.h"
#include "link/discovery.h"
#include "link/tamsel_comms.h"
#include "model/config_form.h"
#include "model/device_records.h"
#include "sim/sim_detector.h"
#include "sim/sim_memory.h"
#include "ui/factory_page.h"
#include "ui/firmware_panel.h"
#include "ui/qt_screen.h"
#include "ui/screen_fit.h"
#include "ui/sim_gas_panel.h"
#include "ui/status_panel.h"
#include "ui/service_test_page.h"
#include "ui/user_options_page.h"
#include "ui/user_page.h"
#include "ui/widget_kit.h"

// The window's frame: creation, the two layouts' scroll boxes, the traffic
// list, first activation with layout and placement, and close. The binding of
// the pages to the view is in form_binding.cpp and each page's own file, the
// handlers and their wiring in main_window_handlers.cpp.

using namespace kit;

// The resource file is compiled into the static library; its registration
// must be pulled in by name.
static void InitUiResources()
{
    Q_INIT_RESOURCE(beamport_ui);
}

namespace {

constexpr int kMemoWidth = 280;

const char *const kWindowStyle = R"(
QLabel[role="caption"] { background: #e6ebf1; border: 1px solid #b3bdca; color: #18283a; }
QLabel[role="value"] { background: #ffffff; border: 1px solid #a3adba; padding-left: 4px; padding-right: 4px; }
QLabel#mDevProductName { background: #1f4e8c; color: #ffffff; font-weight: bold; border: 1px solid #163a69; }
QFrame[role="panel"] { background: #f3f5f8; border: 1px solid #b3bdca; border-radius: 3px; }
QWidget#CustomerPanel { background: #ffffff; border-top: 1px solid #c7cdd5; }
QWidget#CustomerPanel QLabel { background: #ffffff; }
)";

// One page of the developer layout in its tab: the page scrolls up and down
// under the tab bar, which stays in view. Across it asks for the room the
// page's fields and actions want, and gives way down to the least the page
// needs (its fields then scroll beside its actions); the tab control as a
// whole scrolls sideways in DevScrollBox only below that.
class TPageScroll : public QScrollArea {
public:
    explicit TPageScroll(QWidget *page)
    {
        setObjectName(page->objectName() + QStringLiteral("Scroll"));
        setFrameShape(QFrame::NoFrame);
        setWidgetResizable(true);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setWidget(page);
    }

    QSize minimumSizeHint() const override
    {
        return {Across(widget()->minimumSizeHint()), 4 * kRowHeight};
    }
    QSize sizeHint() const override
    {
        const QSize page = widget()->sizeHint().expandedTo(widget()->minimumSizeHint());
        return {Across(page), page.height() + 2 * frameWidth()};
    }

private:
    int Across(const QSize &page) const
    {
        return page.width() + verticalScrollBar()->sizeHint().width() + 2 * frameWidth();
    }
};

} // namespace

// ======================================================================= set-up

TNorvikIRMainForm::TNorvikIRMainForm(TSession &session, bool bLoadSettings, QWidget *parent)
    : QMainWindow(parent), FSession(session)
{
    InitUiResources();
    FOpenUrl = [](const QUrl &url) { QDesktopServices::openUrl(url); };
    FAskCertifier = ShowCertifierForm;
    // The settings and the port choice the checks look at (--port, BEAMPORT_PORT).
    FRunAdapterChecks = [this] {
        return RunDoctor(DoctorRootsFromEnvironment(), CurrentUser(), FSession.Link().PortChoice());
    };
    BuildWindow();
    FormCreate(bLoadSettings);
}

TNorvikIRMainForm::~TNorvikIRMainForm()
{
    // The controls are deleted after this body; the focus moving away from
    // them must no longer reach this window.
    disconnect(qApp, nullptr, this, nullptr);
    // The screen goes before the link; the link must not call into it any more.
    FSession.Link().OnTamselEvent = nullptr;
}

TComTamsel &TNorvikIRMainForm::Link() { return FSession.Link(); }

void TNorvikIRMainForm::UseSimulator(SimDetector &sim)
{
    setWindowTitle(Text(kMainCaption) + QString::fromLatin1(kSimulatedCaptionSuffix));
    FStatusPanel->ShowSimulated(true);
    FSim = &sim;
    if (FSimGasPanel)
        return;
    FSimGasPanel = new TSimGasPanel(sim, SimSensorUnit(sim, FSession.SensorTypes));
    auto *layout = qobject_cast<QVBoxLayout *>(centralWidget()->layout());
    layout->insertWidget(layout->indexOf(FStatusPanel), FSimGasPanel);
}

void TNorvikIRMainForm::FormCreate(bool bLoadSettings)
{
    FFirst = true;
    FState.FTamselCFG = DefaultCFG();
    FState.FHibernateConfirmed = false;
    FState.FReadSW = 0;
    setWindowTitle(Text(kMainCaption));
    std::string settingsWarning;
    if (bLoadSettings) {
        FSession.AppDir = GetWorkDir();
        settingsWarning = LoadSettings(FSession);
    }
    Memo->setVisible(FSession.DeviceCFG.mLogEnable);
    StartConfigView(FState.FForm, FState.FTamselCFG, FSession.SensorTypes);
    FLoaded = FState.FForm;
    FLoadedSource = QStringLiteral("As the window started");
    FormToView();
    LayOutEEPROMGrid();

    FScreen = std::make_unique<TQtScreen>(this, FStatusPanel->StatusLabel(), Memo);
    FScreen->SetProgressAlias(kFirmwareProgress, {FUserPage->FirmwarePanel()->ProgressBarName().toStdString(),
                                                  FOptionsPage->FirmwarePanel()->ProgressBarName().toStdString()});
    FScreen->FOnAdapterTrouble = [this](bool trouble) { FStatusPanel->OfferAdapterCheck(trouble); };
    AttachTraffic(FSession, *FScreen);

    FActions = std::make_unique<TDeviceActions>(FSession, *FScreen, FState);
    FFirmware = std::make_unique<TFirmwareUpgrade>(FSession, *FScreen, FState);
    FFirmware->OnPanelChanged = [this](const RFirmwarePanel &panel) { ShowFirmwarePanel(panel); };
    ShowFirmwarePanel(FFirmware->Panel());
    if (!settingsWarning.empty())
        FScreen->Message(kSettingsNotReadCaption, settingsWarning, MsgIcon::Warning);
}

void TNorvikIRMainForm::BuildWindow()
{
    setObjectName(QStringLiteral("NorvikIRMainForm"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFont(WindowFont());
    setStyleSheet(Text(kWindowStyle));
    setMinimumSize(kMinWindowWidth, kMinWindowHeight);
    setWindowIcon(QIcon(QStringLiteral(":/beamport/corvane_icon.png")));

    auto *central = new QWidget;
    central->setObjectName(QStringLiteral("ClientArea"));
    auto *v = new QVBoxLayout(central);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);

    auto *work = new QHBoxLayout;
    work->setContentsMargins(0, 0, 0, 0);
    work->setSpacing(0);
    FUserPage = new TUserPage;
    UserScrollBox = MakeScrollBox("UserScrollBox", FUserPage);
    DevScrollBox = MakeScrollBox("DevScrollBox", BuildDeveloperLayout());
    work->addWidget(UserScrollBox, 1);
    work->addWidget(DevScrollBox, 1);

    Memo = new QPlainTextEdit;
    Memo->setObjectName(QStringLiteral("Memo"));
    Memo->setReadOnly(true);
    Memo->setFixedWidth(kMemoWidth);
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont small = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    small.setPixelSize(11);
    Memo->setFont(small);
    work->addWidget(Memo);
    v->addLayout(work, 1);

    FMakerPanel = new TMakerPanel;
    FMakerPanel->OnOpenUrl = [this](const QUrl &url) { FOpenUrl(url); };
    v->addWidget(FMakerPanel);
    FStatusPanel = new TStatusPanel;
    v->addWidget(FStatusPanel);
    setCentralWidget(central);

    TimeTimer = new QTimer(this);
    TimeTimer->setObjectName(QStringLiteral("TimeTimer"));
    TimeTimer->setInterval(1000);
    connect(TimeTimer, &QTimer::timeout, this, &TNorvikIRMainForm::TimeTimerTimer);

    // Until the first activation applies the layout, the user layout shows.
    DevScrollBox->hide();

    ConnectHandlers();
}

QWidget *TNorvikIRMainForm::BuildDeveloperLayout()
{
    auto *content = new QWidget;
    content->setObjectName(QStringLiteral("DevScrollContent"));
    auto *v = new QVBoxLayout(content);
    v->setContentsMargins(6, 6, 6, 6);
    PageControl = new QTabWidget;
    PageControl->setObjectName(QStringLiteral("PageControl"));
    FOptionsPage = new TUserOptionsPage;
    FFactoryPage = new TFactoryPage;
    FTestPage = new TServiceTestPage;
    PageControl->addTab(new TPageScroll(FOptionsPage), QStringLiteral("User Options"));
    PageControl->addTab(new TPageScroll(FFactoryPage), QStringLiteral("Factory Options"));
    PageControl->addTab(new TPageScroll(FTestPage), QStringLiteral("TEST"));
    v->addWidget(PageControl);
    return content;
}

std::vector<QWidget *> TNorvikIRMainForm::Pages() const
{
    return {FUserPage, FOptionsPage, FFactoryPage, FTestPage};
}

std::vector<const TFormBinding *> TNorvikIRMainForm::Bindings() const
{
    return {&FUserPage->Binding(), &FOptionsPage->Binding(), &FFactoryPage->Binding()};
}

// ================================================================ life cycle

bool TNorvikIRMainForm::event(QEvent *e)
{
    if (e->type() == QEvent::WindowActivate && FFirst)
        FormActivate();
    return QMainWindow::event(e);
}

void TNorvikIRMainForm::showEvent(QShowEvent *e)
{
    // The first showing applies layout and placement before the window appears.
    if (FFirst)
        FormActivate();
    QMainWindow::showEvent(e);
}

void TNorvikIRMainForm::FormActivate()
{
    if (!FFirst)
        return;
    ApplyLayout();
    Guarded([this] { FFirmware->LoadRememberedImage(); });
    TimeTimer->start();
    FFirst = false;
}

void TNorvikIRMainForm::ApplyLayout()
{
    if (!FSession.UserMode) {
        UserScrollBox->hide();
        DevScrollBox->show();
        PageControl->setCurrentIndex(0);
    } else {
        DevScrollBox->hide();
        UserScrollBox->show();
    }
    // A remembered value wins; only a missing one takes the first-start
    // default. Either is brought within the screen it lies on.
    RWindowPlacement defaults;
    const QRect defaultArea = UsableArea(ScreenOf(QRect(0, 0, defaults.mWidth, defaults.mHeight)));
    const QSize first = FirstStartSize(LayoutContentSize(), QSize(defaults.mWidth, defaults.mHeight),
                                       defaultArea.size());
    defaults.mWidth = first.width();
    defaults.mHeight = first.height();
    defaults.mLeft = defaultArea.isEmpty() ? 0 : defaultArea.left();
    defaults.mTop = defaultArea.isEmpty() ? 0 : defaultArea.top();
    const RWindowPlacement placement = FSession.Store().WindowPlacement(defaults);
    const QRect wanted(placement.mLeft, placement.mTop, std::max(placement.mWidth, kMinWindowWidth),
                       std::max(placement.mHeight, kMinWindowHeight));
    // The smallest size gives way where the screen is smaller still.
    PlaceWithin(this, wanted.topLeft(), wanted.size(), QSize(kMinWindowWidth, kMinWindowHeight),
                UsableArea(ScreenOf(wanted)));
}

QSize TNorvikIRMainForm::FirstStartSize(const QSize &content, const QSize &defaults, const QSize &available)
{
    int width = std::max({defaults.width(), kMinWindowWidth, content.width()});
    int height = std::max(defaults.height(), kMinWindowHeight);
    // Most of the screen it has, never beyond it: the fields and the actions
    // side by side where there is room.
    if (available.width() > 0)
        width = std::min(std::max(width, available.width() * 9 / 10), available.width());
    if (available.height() > 0)
        height = std::min(std::max(height, available.height() * 9 / 10), available.height());
    return {width, height};
}

QSize TNorvikIRMainForm::LayoutContentSize() const
{
    // The shown layout's pages at their preferred size (the page control is as
    // wide as its widest page), the vertical scroll bar when the pages are
    // taller than the room left by the maker's panel and the status bar, and
    // the traffic list beside them.
    const QScrollArea *box = FSession.UserMode ? UserScrollBox : DevScrollBox;
    const QWidget *content = box->widget();
    // The pages' fields have been filled since their layouts last looked:
    // the parts that scroll ask again, and the layouts around them.
    for (QScrollArea *part : content->findChildren<QScrollArea *>())
        part->updateGeometry();
    for (QWidget *w : content->findChildren<QWidget *>())
        if (w->layout())
            w->layout()->invalidate();
    content->layout()->invalidate();
    const QSize hint = content->sizeHint().expandedTo(content->minimumSizeHint());
    int width = hint.width() + 2 * box->frameWidth();
    const int room = kMinWindowHeight - FMakerPanel->minimumHeight() - FStatusPanel->minimumHeight();
    if (FSession.UserMode && hint.height() > room)
        width += box->verticalScrollBar()->sizeHint().width();
    if (FSession.DeviceCFG.mLogEnable)
        width += Memo->minimumWidth();
    return {width, hint.height() + FMakerPanel->minimumHeight() + FStatusPanel->minimumHeight()};
}

QString TNorvikIRMainForm::ClockText(const QDateTime &t)
{
    return t.toString(QStringLiteral("yy-MM-dd hh:mm:ss"));
}

std::string TNorvikIRMainForm::TrafficFilePath(std::string *error)
{
    const RRuntimeDir dir = UserRuntimeDir();
    if (!dir.mOk) {
        if (error)
            *error = dir.mError;
        return {};
    }
    return dir.mPath + "/" + kTrafficFileName;
}

bool TNorvikIRMainForm::SaveTrafficList(std::string *error) const
{
    const RRuntimeDir dir = UserRuntimeDir();
    if (!dir.mOk) {
        if (error)
            *error = dir.mError;
        return false;
    }
    return SaveTrafficList(dir.mPath, error);
}

bool TNorvikIRMainForm::SaveTrafficList(const std::string &dir, std::string *error) const
{
    // The lines are the bytes the link reported (one byte = one character).
    std::string bytes;
    if (!Memo->document()->isEmpty()) {
        for (QTextBlock block = Memo->document()->begin(); block.isValid(); block = block.next()) {
            bytes += block.text().toLatin1().toStdString();
            bytes += "\r\n";
        }
    }
    return WritePrivateFile(dir, kTrafficFileName, bytes, error);
}

bool TNorvikIRMainForm::FormCloseQuery()
{
    if (FFirmware->GoingOn() || FFirmware->Running())
        return true;
    std::string error;
    if (FSession.DeviceCFG.mLogEnable && !SaveTrafficList(&error))
        qWarning("The traffic list could not be saved: %s", error.c_str());
    FSession.Store().SetWindowPlacement({width(), height(), x(), y()});
    return true;
}

void TNorvikIRMainForm::closeEvent(QCloseEvent *e)
{
    if (FFirmware->GoingOn() || FFirmware->Running()) {
        // The download runs inside the upgrade button's handler; the window
        // closes when it has ended, so that the detector is never left with
        // half an image because the window went away.
        FCloseAfterUpgrade = true;
        e->ignore();
        return;
    }
    if (FCloseAfterUpgrade) {
        // Asked for during the download: closed as then, nothing saved.
        e->accept();
        return;
    }
    if (FormCloseQuery())
        e->accept();
    else
        e->ignore();
}

// ============================================================ pages and state

void TNorvikIRMainForm::FormToView()
{
    FBinding = true;
    for (const TFormBinding *binding : Bindings())
        binding->Show(FState.FForm);
    FBinding = false;
    FFactoryPage->ShowDurations();
    MarkChanges();
    ShowRecordSource();
}

void TNorvikIRMainForm::TakeLoaded(const QString &source)
{
    FLoaded = FState.FForm;
    FLoadedSource = source;
    MarkChanges();
}

void TNorvikIRMainForm::MarkChanges()
{
    for (const TFormBinding *binding : Bindings())
        binding->MarkChanged(FLoaded, FLoadedSource);
}

bool TNorvikIRMainForm::AnyFieldMarked() const
{
    for (const TFormBinding *binding : Bindings())
        if (binding->AnyMarked())
            return true;
    return false;
}

void TNorvikIRMainForm::ViewToForm()
{
    for (const TFormBinding *binding : Bindings())
        binding->Take(FState.FForm);
}

void TNorvikIRMainForm::ShowConfig()
{
    ConfigToView(FState.FTamselCFG, FState.FForm, FSession.SensorTypes);
    FormToView();
}

void TNorvikIRMainForm::ShowRecordSource()
{
    const bool standIn = FState.FRecordSource == ERecordSource::Defaults;
    if (FStandInShown == standIn)
        return;
    FStandInShown = standIn;
    for (const TFormBinding *binding : Bindings())
        binding->ShowStandIn(standIn);
}

void TNorvikIRMainForm::LayOutEEPROMGrid()
{
    FEEPROM = MakeEEPROMGrid(FSession.DeviceCFG.mEEPROMMaxAddress);
    FTestPage->ShowGrid(FEEPROM);
}

void TNorvikIRMainForm::ShowFirmwarePanel(const RFirmwarePanel &panel)
{
    FUserPage->FirmwarePanel()->Show(panel);
    FOptionsPage->FirmwarePanel()->Show(panel);
    LockForDownload(panel.mRunning);
}

std::vector<QPushButton *> TNorvikIRMainForm::DownloadLockedButtons() const
{
    std::vector<QPushButton *> buttons;
    for (QWidget *page : Pages())
        for (QPushButton *b : page->findChildren<QPushButton *>()) {
            bool panelOwn = false;
            for (QWidget *w = b->parentWidget(); w && w != page && !panelOwn; w = w->parentWidget())
                panelOwn = dynamic_cast<TFirmwarePanel *>(w) != nullptr;
            if (!panelOwn)
                buttons.push_back(b);
        }
    return buttons;
}

void TNorvikIRMainForm::LockForDownload(bool bRunning)
{
    if (bRunning && FLocked.empty()) {
        // Each button that was usable is locked and remembered; one that was
        // disabled for a reason of its own stays as it is afterwards.
        for (QPushButton *b : DownloadLockedButtons())
            if (b->isEnabled()) {
                b->setEnabled(false);
                FLocked.emplace_back(b);
            }
    } else if (!bRunning && !FLocked.empty()) {
        for (const QPointer<QPushButton> &b : FLocked)
            if (b)
                b->setEnabled(true);
        FLocked.clear();
    }
}
