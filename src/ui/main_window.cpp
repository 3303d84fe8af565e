#include "ui/main_window.h"
#include "ui/runtime_dir.h"

#include <algorithm>
#include <cstdlib>

#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QDoubleSpinBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextBlock>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "app/device_actions.h"
#include "app/settings.h"
#include "app/status.h"
#include "ui/qt_screen.h"
#include "app/user_store.h"
#include "files/cfg_file.h"
#include "files/eeprom_dump.h"
#include "files/event_log.h"
#include "files/firmware.h"
#include "link/tamsel_comms.h"
#include "model/config_form.h"
#include "model/convert.h"
#include "ui/sensor_cal_dlg.h"
#include "ui/sensor_log_dlg.h"

// The resource file is compiled into the static library; its registration
// must be pulled in by name.
static void InitUiResources()
{
    Q_INIT_RESOURCE(beamport_ui);
}

namespace {

constexpr int kRowHeight = 24;
constexpr int kCaptionWidth = 172;
constexpr int kButtonWidth = 100;
constexpr int kStatusPanelHeight = 28;
constexpr int kStatusTimeWidth = 120;
constexpr int kMakerPanelHeight = 88;
constexpr int kMemoWidth = 280;
const QColor kFocusColour(0, 255, 0);

const char *const kWindowStyle = R"(
QLabel[role="caption"] { background: #e6ebf1; border: 1px solid #b3bdca; color: #18283a; }
QLabel[role="value"] { background: #ffffff; border: 1px solid #a3adba; padding-left: 4px; padding-right: 4px; }
QLabel#UserOptIDLabel { background: #1f4e8c; color: #ffffff; font-weight: bold; border: 1px solid #163a69; }
QFrame[role="panel"] { background: #f3f5f8; border: 1px solid #b3bdca; border-radius: 3px; }
QWidget#CustomerPanel { background: #ffffff; border-top: 1px solid #c7cdd5; }
QWidget#CustomerPanel QLabel { background: #ffffff; }
)";

QFont WindowFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    return font;
}

QString Text(const char *text)
{
    return QString::fromUtf8(text);
}

QLabel *MakeCaption(const char *text, int width = kCaptionWidth)
{
    auto *label = new QLabel(Text(text));
    label->setTextFormat(Qt::PlainText);
    label->setProperty("role", "caption");
    label->setFixedHeight(kRowHeight);
    label->setMinimumWidth(width);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

QLabel *MakeValue(const char *name, int minWidth = 200)
{
    auto *label = new QLabel;
    label->setObjectName(Text(name));
    label->setTextFormat(Qt::PlainText);
    label->setProperty("role", "value");
    label->setFixedHeight(kRowHeight);
    label->setMinimumWidth(minWidth);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

QLabel *MakeUnit(const char *text)
{
    auto *label = new QLabel(Text(text));
    label->setTextFormat(Qt::PlainText);
    return label;
}

QDoubleSpinBox *MakeSpin(const char *name, int width = 110)
{
    auto *spin = new QDoubleSpinBox;
    spin->setObjectName(Text(name));
    // "." as the decimal separator and no digit grouping, as every other
    // number of the program is written.
    spin->setLocale(QLocale::c());
    spin->setFixedHeight(kRowHeight);
    spin->setFixedWidth(width);
    spin->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    spin->setAccelerated(true);
    spin->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    return spin;
}

QLineEdit *MakeEdit(const char *name, int width = 200)
{
    auto *edit = new QLineEdit;
    edit->setObjectName(Text(name));
    edit->setFixedHeight(kRowHeight);
    edit->setFixedWidth(width);
    return edit;
}

QComboBox *MakeCombo(const char *name)
{
    auto *combo = new QComboBox;
    combo->setObjectName(Text(name));
    combo->setFixedHeight(kRowHeight);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return combo;
}

QPushButton *MakeButton(const char *name, const char *text, int width = kButtonWidth)
{
    auto *button = new QPushButton(Text(text));
    button->setObjectName(Text(name));
    button->setMinimumWidth(width);
    button->setFixedHeight(28);
    button->setAutoDefault(false);
    return button;
}

QFrame *MakePanel(const char *name)
{
    auto *panel = new QFrame;
    panel->setObjectName(Text(name));
    panel->setProperty("role", "panel");
    return panel;
}

// A label with its unit caption behind it, in one cell.
QWidget *WithUnit(QWidget *editor, const char *unit)
{
    auto *box = new QWidget;
    auto *h = new QHBoxLayout(box);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(6);
    h->addWidget(editor);
    h->addWidget(MakeUnit(unit));
    h->addStretch(1);
    return box;
}

void AddRow(QGridLayout *grid, const char *caption, QWidget *value, int width = kCaptionWidth)
{
    const int row = grid->rowCount();
    grid->addWidget(MakeCaption(caption, width), row, 0);
    grid->addWidget(value, row, 1, Qt::AlignLeft | Qt::AlignVCenter);
}

QGridLayout *MakeRowGrid()
{
    auto *grid = new QGridLayout;
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    grid->setColumnStretch(2, 1);
    return grid;
}

QHBoxLayout *ButtonRow(std::initializer_list<QWidget *> buttons)
{
    auto *h = new QHBoxLayout;
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(6);
    for (QWidget *b : buttons)
        h->addWidget(b);
    h->addStretch(1);
    return h;
}

QScrollArea *MakeScrollBox(const char *name, QWidget *content)
{
    auto *box = new QScrollArea;
    box->setObjectName(Text(name));
    box->setFrameShape(QFrame::NoFrame);
    box->setWidgetResizable(true);
    box->setWidget(content);
    return box;
}

QColor QtColor(RColor c)
{
    return QColor(c.r, c.g, c.b);
}

// Draws the EEPROM grid's cells: the address column on button face, a
// selected cell white on blue, every other black on white; text centred.
class TEEPROMCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const bool selected = (option.state & QStyle::State_Selected) && index.column() > 0;
        const REEPROMCellLook look = EEPROMCellLook(index.column(), selected);
        const QColor background =
            look.mButtonFace ? option.palette.color(QPalette::Button) : QtColor(look.mBackground);
        painter->save();
        painter->fillRect(option.rect, background);
        painter->setPen(QtColor(look.mText));
        painter->setFont(option.font);
        const QString text = index.data(Qt::DisplayRole).toString();
        const QFontMetrics metrics(option.font);
        const RCellRect rect{option.rect.left(), option.rect.top(), option.rect.right() + 1,
                             option.rect.bottom() + 1};
        const RTextOrigin origin =
            EEPROMTextOrigin(rect, metrics.horizontalAdvance(text), metrics.height());
        painter->drawText(QPoint(origin.mLeft, origin.mTop + metrics.ascent()), text);
        painter->restore();
    }
};

bool IsEnterKey(const QKeyEvent *key)
{
    return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
}

} // namespace

// ======================================================================= set-up

TNorvikIRMainForm::TNorvikIRMainForm(bool bLoadSettings, QWidget *parent) : QMainWindow(parent)
{
    InitUiResources();
    FOpenUrl = [](const QUrl &url) { QDesktopServices::openUrl(url); };
    BuildWindow();
    FormCreate(bLoadSettings);
}

TNorvikIRMainForm::~TNorvikIRMainForm()
{
    // The controls are deleted after this body; the focus moving away from
    // them must no longer reach this window.
    disconnect(qApp, nullptr, this, nullptr);
    // The screen goes before the link; the link must not call into it any more.
    if (FLink)
        FLink->OnTamselEvent = nullptr;
}

void TNorvikIRMainForm::FormCreate(bool bLoadSettings)
{
    FFirst = true;
    FState.FTamselCFG = DefaultCFG();
    FState.FUpgradeFile.clear();
    FState.FUpgrade = false;
    FState.FHibernateBtn = false;
    FState.FReadSW = 0;
    setWindowTitle(Text(kMainCaption));
    std::string settingsWarning;
    if (bLoadSettings) {
        AppDir = GetWorkDir();
        settingsWarning = LoadSettings();
    }
    Memo->setVisible(DeviceCFG.mLogEnable);
    StartConfigView(FState.FForm, FState.FTamselCFG);
    FormToView();
    LayOutEEPROMGrid();

    FLink = std::make_unique<TComTamsel>();
    FScreen = std::make_unique<TQtScreen>(this, StatusLabel, Memo);
    FScreen->SetProgressAlias(kFirmwareProgress, {"UserFMProgressBar", "UserOptFMProgressBar"});
    AttachTraffic(*FLink, *FScreen);

    FActions = std::make_unique<TDeviceActions>(*FLink, *FScreen, FState);
    FFirmware = std::make_unique<TFirmwareUpgrade>(*FLink, *FScreen, FState);
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
    UserScrollBox = MakeScrollBox("UserScrollBox", BuildUserLayout());
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

    v->addWidget(BuildMakerPanel());
    v->addWidget(BuildStatusPanel());
    setCentralWidget(central);

    TimeTimer = new QTimer(this);
    TimeTimer->setObjectName(QStringLiteral("TimeTimer"));
    TimeTimer->setInterval(1000);
    connect(TimeTimer, &QTimer::timeout, this, &TNorvikIRMainForm::TimeTimerTimer);

    // Until the first activation applies the layout, the user layout shows.
    DevScrollBox->hide();

    BindControls();
    ConnectHandlers();
}

QWidget *TNorvikIRMainForm::BuildUserLayout()
{
    auto *content = new QWidget;
    content->setObjectName(QStringLiteral("UserScrollContent"));
    auto *v = new QVBoxLayout(content);
    v->setContentsMargins(12, 12, 12, 12);
    v->setSpacing(8);

    QGridLayout *grid = MakeRowGrid();
    AddRow(grid, "  Hardware Version", MakeValue("UserHWVersionLabel"));
    AddRow(grid, "  Firmware Version", MakeValue("UserSWVersionLabel"));
    AddRow(grid, "  Serial Number", MakeValue("UserSerialLabel"));
    AddRow(grid, "  Life Remaining", MakeValue("UserLifeLabel"));
    auto *sensor = new QWidget;
    auto *sh = new QHBoxLayout(sensor);
    sh->setContentsMargins(0, 0, 0, 0);
    sh->addWidget(MakeValue("UserSensorTypeLabel"));
    QComboBox *hiddenList = MakeCombo("UserSensorTypeCombo");
    hiddenList->setEnabled(false);
    hiddenList->setVisible(false);
    sh->addWidget(hiddenList);
    AddRow(grid, "  Sensor Type", sensor);
    AddRow(grid, "  High Alarm", MakeSpin("UserHighAlarmSpin"));
    AddRow(grid, "  Low Alarm", MakeSpin("UserLowAlarmSpin"));
    AddRow(grid, "  Calibration Interval", WithUnit(MakeSpin("UserCalIntervalSpin"), "Days"));
    AddRow(grid, "  Bump Interval", WithUnit(MakeSpin("UserBumpIntervalSpin"), "Days"));
    AddRow(grid, "  User ID", MakeEdit("UserIDEdit", 110));
    AddRow(grid, "  Self Test Interval", WithUnit(MakeSpin("UserTestIntervalSpin"), "hours"));
    AddRow(grid, "  Display", MakeCombo("UserDispCombo"));
    v->addLayout(grid);

    auto *hide = new QCheckBox(QStringLiteral("Hide bump due LED flashing"));
    hide->setObjectName(QStringLiteral("UserHideBumpLEDCheck"));
    v->addWidget(hide);

    v->addLayout(ButtonRow({MakeButton("UserReadFileBtn", "Read File"), MakeButton("UserReadDeviceBtn", "Read Device"),
                            MakeButton("UserWriteFileBtn", "Write File"),
                            MakeButton("UserWriteDeviceBtn", "Write Device"),
                            MakeButton("UserHibernateBtn", "Hibernate")}));

    QFrame *logPanel = MakePanel("UserLogPanel");
    auto *lh = new QHBoxLayout(logPanel);
    lh->setContentsMargins(8, 6, 8, 6);
    lh->addWidget(MakeButton("UserLogSaveBtn", "Save Event Log", 140));
    QFrame *calPanel = MakePanel("UserCalPanel");
    auto *ch = new QHBoxLayout(calPanel);
    ch->setContentsMargins(8, 6, 8, 6);
    ch->addWidget(MakeButton("UserCalBtn", "Sensor Calibration", 140));
    v->addLayout(ButtonRow({logPanel, calPanel}));

    v->addWidget(BuildFirmwarePanel(QStringLiteral("UserFM")));
    v->addStretch(1);
    return content;
}

QWidget *TNorvikIRMainForm::BuildDeveloperLayout()
{
    auto *content = new QWidget;
    content->setObjectName(QStringLiteral("DevScrollContent"));
    auto *v = new QVBoxLayout(content);
    v->setContentsMargins(6, 6, 6, 6);
    PageControl = new QTabWidget;
    PageControl->setObjectName(QStringLiteral("PageControl"));
    PageControl->addTab(BuildUserOptionsPage(), QStringLiteral("User Options"));
    PageControl->addTab(BuildFactoryPage(), QStringLiteral("Factory Options"));
    PageControl->addTab(BuildTestPage(), QStringLiteral("TEST"));
    v->addWidget(PageControl);
    return content;
}

QWidget *TNorvikIRMainForm::BuildUserOptionsPage()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("UserTS"));
    auto *v = new QVBoxLayout(page);
    v->setContentsMargins(10, 10, 10, 10);
    v->setSpacing(8);

    QGridLayout *grid = MakeRowGrid();
    auto *hw = new QWidget;
    auto *hh = new QHBoxLayout(hw);
    hh->setContentsMargins(0, 0, 0, 0);
    hh->setSpacing(6);
    hh->addWidget(MakeEdit("UserOptHWVersionEdit", 110));
    QLabel *product = MakeValue("UserOptIDLabel", 150);
    product->setAlignment(Qt::AlignCenter);
    hh->addWidget(product);
    AddRow(grid, "  Hardware Version", hw);
    AddRow(grid, "  Firmware Version", MakeValue("UserOptSWVersionLabel", 110));
    QLineEdit *serial = MakeEdit("UserOptSerialEdit", 160);
    serial->setMaxLength(10);
    AddRow(grid, "  Serial Number", serial);
    auto *life = new QWidget;
    auto *lh = new QHBoxLayout(life);
    lh->setContentsMargins(0, 0, 0, 0);
    lh->setSpacing(6);
    lh->addWidget(MakeSpin("UserOptMonthLifeSpin", 70));
    lh->addWidget(MakeUnit("Months"));
    lh->addSpacing(8);
    lh->addWidget(MakeSpin("UserOptDayLifeSpin", 70));
    lh->addWidget(MakeUnit("Days"));
    AddRow(grid, "  Life Remaining", life);
    QComboBox *sensorList = MakeCombo("UserOptSensorTypeCombo");
    sensorList->setMinimumWidth(160);
    AddRow(grid, "  Sensor Type", sensorList);
    AddRow(grid, "  High Alarm", MakeSpin("UserOptHighAlarmSpin"));
    AddRow(grid, "  Low Alarm", MakeSpin("UserOptLowAlarmSpin"));
    AddRow(grid, "  Calibration Interval", WithUnit(MakeSpin("UserOptCalIntervalSpin"), "Days"));
    AddRow(grid, "  Bump Interval", WithUnit(MakeSpin("UserOptBumpIntervalSpin"), "Days"));
    AddRow(grid, "  User ID", MakeEdit("UserOptIDEdit", 110));
    AddRow(grid, "  Self Test Interval", WithUnit(MakeSpin("UserOptTestIntervalSpin"), "hours"));
    AddRow(grid, "  Display", MakeCombo("UserOptDispCombo"));
    v->addLayout(grid);

    auto *hide = new QCheckBox(QStringLiteral("Hide bump due LED flashing"));
    hide->setObjectName(QStringLiteral("UserOptHideBumpLEDCheck"));
    v->addWidget(hide);

    v->addLayout(ButtonRow({MakeButton("UserOptReadFileBtn", "Read File", 90),
                            MakeButton("UserOptReadDeviceBtn", "Read Device", 90),
                            MakeButton("UserOptWriteFileBtn", "Write File", 90),
                            MakeButton("UserOptWriteDeviceBtn", "Write Device", 90),
                            MakeButton("UserOptHibernateBtn", "Hibernate", 90)}));
    QFrame *logPanel = MakePanel("UserOptLogPanel");
    auto *ph = new QHBoxLayout(logPanel);
    ph->setContentsMargins(8, 6, 8, 6);
    ph->addWidget(MakeButton("UserOptLogSaveBtn", "Save Event Log", 140));
    v->addLayout(ButtonRow({logPanel}));

    v->addWidget(BuildFirmwarePanel(QStringLiteral("UserOptFM")));
    v->addStretch(1);
    return page;
}

QWidget *TNorvikIRMainForm::BuildFactoryPage()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("FactoryTS"));
    auto *v = new QVBoxLayout(page);
    v->setContentsMargins(10, 10, 10, 10);
    v->setSpacing(8);

    auto *columns = new QHBoxLayout;
    columns->setSpacing(12);
    auto *left = new QVBoxLayout;
    left->setSpacing(8);
    auto *right = new QVBoxLayout;
    right->setSpacing(8);
    // Captions sized so that each column's boxes line up on both edges.
    constexpr int leftCaption = 102;
    constexpr int rightCaption = 128;
    constexpr int spinWidth = 100;

    auto group = [](const char *name, const char *title) {
        auto *box = new QGroupBox(Text(title));
        box->setObjectName(Text(name));
        return box;
    };

    QGroupBox *battery = group("FatoryOptBatteryGroup", "  Battery Limits");
    QGridLayout *bg = MakeRowGrid();
    bg->setContentsMargins(8, 8, 8, 8);
    AddRow(bg, "Critical", MakeSpin("FatoryOptBatteryLimitSpin", spinWidth), leftCaption);
    AddRow(bg, "Startup", MakeSpin("FatoryOptBatteryLimitStartupSpin", spinWidth), leftCaption);
    AddRow(bg, "~-10℃", MakeSpin("FatoryOptBatteryLimit1Spin", spinWidth), leftCaption);
    AddRow(bg, "- 10℃~ ", MakeSpin("FatoryOptBatteryLimit2Spin", spinWidth), leftCaption);
    battery->setLayout(bg);
    left->addWidget(battery);

    constexpr int valueCaption = 132;
    QGridLayout *counters = MakeRowGrid();
    AddRow(counters, "  Alarm Time (sec)", MakeValue("FatoryOptAlarmTimeLabel", 100), valueCaption);
    AddRow(counters, "  Alarm Count", MakeValue("FatoryOptAlarmCountLabel", 100), valueCaption);
    AddRow(counters, "  Test Time (sec)", MakeValue("FatoryOptTestTimeLabel", 100), valueCaption);
    AddRow(counters, "  Test Count", MakeValue("FatoryOptTestCountLabel", 100), valueCaption);
    QComboBox *hibernate = MakeCombo("FactoryOptHibernateCombo");
    hibernate->setFixedWidth(100);
    AddRow(counters, "  Hibernate", hibernate, valueCaption);
    AddRow(counters, "  Zero", MakeValue("FatoryOptZeroLabel", 100), valueCaption);
    AddRow(counters, "  Span", MakeValue("FatoryOptSpanLabel", 100), valueCaption);
    AddRow(counters, "  Minimum Span", MakeValue("FatoryOptMinSpanLabel", 100), valueCaption);
    AddRow(counters, "  Tau", MakeValue("FatoryOptTauLabel", 100), valueCaption);
    left->addLayout(counters);
    left->addStretch(1);

    QGroupBox *sensor = group("FatoryOptSensorGroup", "  Sensor");
    QGridLayout *sg = MakeRowGrid();
    sg->setContentsMargins(8, 8, 8, 8);
    AddRow(sg, "Span Gas", MakeSpin("FatoryOptSpanGasSpin", spinWidth), rightCaption);
    AddRow(sg, "Max", MakeSpin("FatoryOptSensorMaxSpin", spinWidth), rightCaption);
    AddRow(sg, "Base", MakeSpin("FatoryOptSensorBaseSpin", spinWidth), rightCaption);
    AddRow(sg, "Dead Zone", MakeSpin("FatoryOptDeadZoneSpin", spinWidth), rightCaption);
    sensor->setLayout(sg);
    right->addWidget(sensor);

    QGroupBox *comp = group("FatoryOptTempCompGroup", "  Temp. Comp.");
    QGridLayout *cg = MakeRowGrid();
    cg->setContentsMargins(8, 8, 8, 8);
    AddRow(cg, "#1", MakeSpin("FatoryOptTempComp1Spin", spinWidth), rightCaption);
    AddRow(cg, "#2", MakeSpin("FatoryOptTempComp2Spin", spinWidth), rightCaption);
    AddRow(cg, "#3", MakeSpin("FatoryOptTempComp3Spin", spinWidth), rightCaption);
    comp->setLayout(cg);
    right->addWidget(comp);
    QGridLayout *times = MakeRowGrid();
    AddRow(times, "  Last Calibration (sec)", MakeValue("FatoryOptLastCalLabel", 90), 160);
    AddRow(times, "  Peak Timer (sec)", MakeValue("FatoryOptPeakTimerLabel", 90), 160);
    AddRow(times, "  Last Bump Timer (sec)", MakeValue("FatoryOptLastBumpTimerLabel", 90), 160);
    right->addLayout(times);
    right->addStretch(1);

    columns->addLayout(left);
    columns->addLayout(right);
    columns->addStretch(1);
    v->addLayout(columns);

    v->addLayout(ButtonRow({MakeButton("FatoryOptCalBtn", "Calibration"), MakeButton("FatoryOptTurnOffBtn", "Turn Off"),
                            MakeButton("FatoryOptLogResetBtn", "Log Reset"),
                            MakeButton("FatoryOptLogSensorBtn", "Log Readings")}));
    v->addStretch(1);
    return page;
}

QWidget *TNorvikIRMainForm::BuildTestPage()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("ETCTS"));
    auto *v = new QVBoxLayout(page);
    v->setContentsMargins(10, 10, 10, 10);
    v->setSpacing(8);

    auto *buttons = new QGridLayout;
    buttons->setHorizontalSpacing(6);
    buttons->setVerticalSpacing(6);
    buttons->addWidget(MakeButton("EtcFactoryResetBtn", "Factory Reset"), 0, 0);
    buttons->addWidget(MakeButton("EtcIdentifyBtn", "Identify"), 0, 1);
    buttons->addWidget(MakeButton("EtcBeepONBtn", "Beep ON"), 1, 0);
    buttons->addWidget(MakeButton("EtcRLEDONBtn", "R LED ON"), 1, 1);
    buttons->addWidget(MakeButton("EtcLLEDONBtn", "L LED ON"), 1, 2);
    buttons->addWidget(MakeButton("EtcVibratorBtn", "Vibrator"), 1, 3);
    buttons->addWidget(MakeButton("EtcClearPeakBtn", "Clear Peak"), 2, 0);
    buttons->addWidget(MakeButton("EtcBumpFailBtn", "Bump Fail"), 2, 1);
    buttons->addWidget(MakeButton("EtcBumpPassBtn", "Bump Pass"), 2, 2);
    buttons->setColumnStretch(4, 1);
    v->addLayout(buttons);

    auto *eeprom = new QGroupBox(QStringLiteral("EEPROM"));
    eeprom->setObjectName(QStringLiteral("EtcEEPROMGroup"));
    auto *ev = new QVBoxLayout(eeprom);
    ev->setContentsMargins(8, 8, 8, 8);
    ev->addLayout(ButtonRow({MakeButton("EtcEEPROMReadBtn", "Read"), MakeButton("EtcEEPROMSaveBtn", "Save File")}));

    EtcEEPROMGrid = new QTableWidget(0, kEEPROMColumns);
    EtcEEPROMGrid->setObjectName(QStringLiteral("EtcEEPROMGrid"));
    EtcEEPROMGrid->horizontalHeader()->hide();
    EtcEEPROMGrid->verticalHeader()->hide();
    EtcEEPROMGrid->horizontalHeader()->setMinimumSectionSize(kEEPROMByteWidth);
    EtcEEPROMGrid->verticalHeader()->setMinimumSectionSize(kEEPROMRowHeight);
    EtcEEPROMGrid->verticalHeader()->setDefaultSectionSize(kEEPROMRowHeight);
    EtcEEPROMGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    EtcEEPROMGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    EtcEEPROMGrid->setColumnWidth(0, kEEPROMAddressWidth);
    for (int c = 1; c < kEEPROMColumns; ++c)
        EtcEEPROMGrid->setColumnWidth(c, kEEPROMByteWidth);
    EtcEEPROMGrid->setSelectionMode(QAbstractItemView::ContiguousSelection);
    EtcEEPROMGrid->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                   QAbstractItemView::AnyKeyPressed);
    EtcEEPROMGrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    EtcEEPROMGrid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    EtcEEPROMGrid->setWordWrap(false);
    EtcEEPROMGrid->setItemDelegate(new TEEPROMCellDelegate(EtcEEPROMGrid));
    const int frame = 2 * EtcEEPROMGrid->frameWidth();
    EtcEEPROMGrid->setFixedWidth(kEEPROMAddressWidth + (kEEPROMColumns - 1) * kEEPROMByteWidth + frame +
                                 EtcEEPROMGrid->verticalScrollBar()->sizeHint().width());
    EtcEEPROMGrid->setMinimumHeight(16 * kEEPROMRowHeight + frame);
    ev->addWidget(EtcEEPROMGrid, 1, Qt::AlignLeft);
    v->addWidget(eeprom, 1);
    return page;
}

QWidget *TNorvikIRMainForm::BuildFirmwarePanel(const QString &prefix)
{
    const auto name = [&](const char *part) { return (prefix + Text(part)).toUtf8(); };
    QFrame *panel = MakePanel(name("Panel").constData());
    auto *v = new QVBoxLayout(panel);
    v->setContentsMargins(8, 8, 8, 8);
    v->setSpacing(6);

    auto *fileRow = new QHBoxLayout;
    fileRow->setSpacing(6);
    QLabel *file = MakeValue(name("FileLabel").constData(), 100);
    file->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    fileRow->addWidget(file, 1);
    QPushButton *open = MakeButton(name("OpenBtn").constData(), "...", 32);
    open->setFixedWidth(32);
    open->setToolTip(QStringLiteral("Select Firmware Upgrade File"));
    fileRow->addWidget(open);
    v->addLayout(fileRow);

    auto *desc = new QLabel(Text(kFirmwareNoImageText));
    desc->setObjectName(QString::fromUtf8(name("DescLabel")));
    desc->setTextFormat(Qt::PlainText);
    v->addWidget(desc);

    auto *actions = new QHBoxLayout;
    actions->setSpacing(6);
    QPushButton *upgrade = MakeButton(name("UpgradeBtn").constData(), "Upgrade Firmware", 130);
    upgrade->setEnabled(false);
    QPushButton *cancel = MakeButton(name("CancelBtn").constData(), "Cancel", 80);
    cancel->setEnabled(false);
    auto *bar = new QProgressBar;
    bar->setObjectName(QString::fromUtf8(name("ProgressBar")));
    bar->setRange(0, 1);
    bar->setValue(0);
    bar->setTextVisible(false);
    bar->setFixedHeight(20);
    actions->addWidget(upgrade);
    actions->addWidget(cancel);
    actions->addWidget(bar, 1);
    v->addLayout(actions);
    return panel;
}

QWidget *TNorvikIRMainForm::BuildMakerPanel()
{
    auto *panel = new QWidget;
    panel->setObjectName(QStringLiteral("CustomerPanel"));
    panel->setAttribute(Qt::WA_StyledBackground, true);
    panel->setFixedHeight(kMakerPanelHeight);
    auto *h = new QHBoxLayout(panel);
    h->setContentsMargins(12, 8, 12, 8);
    h->setSpacing(16);

    CustomerImage = new QLabel;
    CustomerImage->setObjectName(QStringLiteral("CustomerImage"));
    CustomerImage->setPixmap(QPixmap(QStringLiteral(":/beamport/corvane_logo.png")));
    CustomerImage->setToolTip(Text(kMakerWebPage));
    CustomerImage->installEventFilter(this);
    h->addWidget(CustomerImage, 0, Qt::AlignVCenter);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto *address = new QLabel(QStringLiteral("Corvane Instruments\n"
                                              "100 Sample Road, Exampleton EX1 0AA\n"
                                              "Support: +00 (0)000 000 0000"));
    address->setObjectName(QStringLiteral("CustomerAddressLabel"));
    address->setTextFormat(Qt::PlainText);
    texts->addWidget(address);
    auto *mail = new QLabel(QStringLiteral("<a href=\"mailto:%1\">%1</a>").arg(Text(kMakerSupportMail)));
    mail->setObjectName(QStringLiteral("CustomerMailLabel"));
    mail->setTextFormat(Qt::RichText);
    mail->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(mail, &QLabel::linkActivated, this, [this](const QString &link) { FOpenUrl(QUrl(link)); });
    texts->addWidget(mail);
    h->addLayout(texts, 1);
    return panel;
}

QWidget *TNorvikIRMainForm::BuildStatusPanel()
{
    StatusPanel = new QWidget;
    StatusPanel->setObjectName(QStringLiteral("StatusPanel"));
    StatusPanel->setFixedHeight(kStatusPanelHeight);
    auto *h = new QHBoxLayout(StatusPanel);
    h->setContentsMargins(1, 1, 1, 1);
    h->setSpacing(2);

    QFont bold = WindowFont();
    bold.setBold(true);
    auto label = [&](const char *name) {
        auto *l = new QLabel;
        l->setObjectName(Text(name));
        l->setTextFormat(Qt::PlainText);
        l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        l->setAlignment(Qt::AlignCenter);
        l->setFont(bold);
        l->setAutoFillBackground(true);
        QPalette p = l->palette();
        p.setColor(QPalette::Window, Qt::white);
        p.setColor(QPalette::WindowText, Qt::black);
        l->setPalette(p);
        return l;
    };
    StatusLabel = label("StatusLabel");
    StatusLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    StatusTimeLabel = label("StatusTimeLabel");
    StatusTimeLabel->setFixedWidth(kStatusTimeWidth);
    h->addWidget(StatusLabel, 1);
    h->addWidget(StatusTimeLabel);
    return StatusPanel;
}

void TNorvikIRMainForm::LayOutEEPROMGrid()
{
    FEEPROM = MakeEEPROMGrid(DeviceCFG.mEEPROMMaxAddress);
    ShowEEPROMGrid();
}

void TNorvikIRMainForm::ShowEEPROMGrid()
{
    const QSignalBlocker block(EtcEEPROMGrid);
    EtcEEPROMGrid->setRowCount(FEEPROM.RowCount());
    for (int r = 0; r < FEEPROM.RowCount(); ++r) {
        for (int c = 0; c < kEEPROMColumns; ++c) {
            QTableWidgetItem *item = EtcEEPROMGrid->item(r, c);
            if (!item) {
                item = new QTableWidgetItem;
                if (c == 0)
                    item->setFlags(Qt::ItemIsEnabled);
                EtcEEPROMGrid->setItem(r, c, item);
            }
            item->setText(QString::fromStdString(FEEPROM.Cell(c, r)));
        }
    }
}

// ===================================================================== binding

// The view's texts are bytes (serial number, user ID, hardware version as the
// detector keeps them): one byte is one character both ways, so lengths,
// padding and cutting count alike on both sides and a byte of 0x80 or above
// comes back unchanged. A character beyond Latin-1 cannot be such a byte.
namespace {

QString BytesToText(const std::string &bytes)
{
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string TextToBytes(const QString &text)
{
    return text.toLatin1().toStdString();
}

} // namespace

#define BIND(list, type, field) list.push_back({Child<type>(#field), &ConfigForm::field})

template <class T> T *TNorvikIRMainForm::Child(const char *name) const
{
    T *w = findChild<T *>(QString::fromLatin1(name));
    Q_ASSERT_X(w, "TNorvikIRMainForm", name);
    return w;
}

void TNorvikIRMainForm::BindControls()
{
    BIND(FSpins, QDoubleSpinBox, UserHighAlarmSpin);
    BIND(FSpins, QDoubleSpinBox, UserLowAlarmSpin);
    BIND(FSpins, QDoubleSpinBox, UserCalIntervalSpin);
    BIND(FSpins, QDoubleSpinBox, UserBumpIntervalSpin);
    BIND(FSpins, QDoubleSpinBox, UserTestIntervalSpin);
    BIND(FSpins, QDoubleSpinBox, UserOptMonthLifeSpin);
    BIND(FSpins, QDoubleSpinBox, UserOptDayLifeSpin);
    BIND(FSpins, QDoubleSpinBox, UserOptHighAlarmSpin);
    BIND(FSpins, QDoubleSpinBox, UserOptLowAlarmSpin);
    BIND(FSpins, QDoubleSpinBox, UserOptCalIntervalSpin);
    BIND(FSpins, QDoubleSpinBox, UserOptBumpIntervalSpin);
    BIND(FSpins, QDoubleSpinBox, UserOptTestIntervalSpin);
    BIND(FSpins, QDoubleSpinBox, FatoryOptBatteryLimitSpin);
    BIND(FSpins, QDoubleSpinBox, FatoryOptBatteryLimitStartupSpin);
    BIND(FSpins, QDoubleSpinBox, FatoryOptBatteryLimit1Spin);
    BIND(FSpins, QDoubleSpinBox, FatoryOptBatteryLimit2Spin);
    BIND(FSpins, QDoubleSpinBox, FatoryOptSpanGasSpin);
    BIND(FSpins, QDoubleSpinBox, FatoryOptSensorMaxSpin);
    BIND(FSpins, QDoubleSpinBox, FatoryOptSensorBaseSpin);
    BIND(FSpins, QDoubleSpinBox, FatoryOptDeadZoneSpin);
    BIND(FSpins, QDoubleSpinBox, FatoryOptTempComp1Spin);
    BIND(FSpins, QDoubleSpinBox, FatoryOptTempComp2Spin);
    BIND(FSpins, QDoubleSpinBox, FatoryOptTempComp3Spin);

    BIND(FTexts, QLineEdit, UserIDEdit);
    BIND(FTexts, QLineEdit, UserOptHWVersionEdit);
    BIND(FTexts, QLineEdit, UserOptSerialEdit);
    BIND(FTexts, QLineEdit, UserOptIDEdit);

    BIND(FCombos, QComboBox, UserSensorTypeCombo);
    BIND(FCombos, QComboBox, UserDispCombo);
    BIND(FCombos, QComboBox, UserOptSensorTypeCombo);
    BIND(FCombos, QComboBox, UserOptDispCombo);
    BIND(FCombos, QComboBox, FactoryOptHibernateCombo);

    BIND(FLabels, QLabel, UserHWVersionLabel);
    BIND(FLabels, QLabel, UserSWVersionLabel);
    BIND(FLabels, QLabel, UserSerialLabel);
    BIND(FLabels, QLabel, UserLifeLabel);
    BIND(FLabels, QLabel, UserSensorTypeLabel);
    BIND(FLabels, QLabel, UserOptIDLabel);
    BIND(FLabels, QLabel, UserOptSWVersionLabel);
    BIND(FLabels, QLabel, FatoryOptAlarmTimeLabel);
    BIND(FLabels, QLabel, FatoryOptAlarmCountLabel);
    BIND(FLabels, QLabel, FatoryOptTestTimeLabel);
    BIND(FLabels, QLabel, FatoryOptTestCountLabel);
    BIND(FLabels, QLabel, FatoryOptZeroLabel);
    BIND(FLabels, QLabel, FatoryOptSpanLabel);
    BIND(FLabels, QLabel, FatoryOptMinSpanLabel);
    BIND(FLabels, QLabel, FatoryOptTauLabel);
    BIND(FLabels, QLabel, FatoryOptLastCalLabel);
    BIND(FLabels, QLabel, FatoryOptPeakTimerLabel);
    BIND(FLabels, QLabel, FatoryOptLastBumpTimerLabel);

    BIND(FChecks, QCheckBox, UserHideBumpLEDCheck);
    BIND(FChecks, QCheckBox, UserOptHideBumpLEDCheck);
}

#undef BIND

void TNorvikIRMainForm::FormToView()
{
    FBinding = true;
    const ConfigForm &form = FState.FForm;
    for (const RSpinBinding &b : FSpins) {
        const RSpinEdit &spin = form.*(b.mField);
        const QSignalBlocker block(b.mWidget);
        b.mWidget->setDecimals(spin.mDecimals);
        b.mWidget->setRange(spin.mMin, spin.mMax);
        b.mWidget->setSingleStep(spin.mDecimals > 0 ? 0.1 : 1.0);
        b.mWidget->setValue(spin.mValue);
    }
    for (const RTextBinding &b : FTexts) {
        const RTextEdit &edit = form.*(b.mField);
        const QSignalBlocker block(b.mWidget);
        b.mWidget->setMaxLength(edit.mMaxLength > 0 ? edit.mMaxLength : 32767);
        const QString text = BytesToText(edit.mText);
        if (b.mWidget->text() != text)
            b.mWidget->setText(text);
    }
    for (const RComboBinding &b : FCombos) {
        const RComboBox &combo = form.*(b.mField);
        const QSignalBlocker block(b.mWidget);
        QStringList items;
        for (const std::string &item : combo.mItems)
            items << BytesToText(item);
        QStringList shown;
        for (int i = 0; i < b.mWidget->count(); ++i)
            shown << b.mWidget->itemText(i);
        if (shown != items) {
            b.mWidget->clear();
            b.mWidget->addItems(items);
        }
        b.mWidget->setCurrentIndex(combo.mItemIndex >= 0 && combo.mItemIndex < b.mWidget->count() ? combo.mItemIndex
                                                                                                  : -1);
    }
    for (const RLabelBinding &b : FLabels)
        b.mWidget->setText(BytesToText(form.*(b.mField)));
    for (const RCheckBinding &b : FChecks) {
        const QSignalBlocker block(b.mWidget);
        b.mWidget->setChecked(form.*(b.mField));
    }
    FBinding = false;
}

void TNorvikIRMainForm::ViewToForm()
{
    ConfigForm &form = FState.FForm;
    for (const RSpinBinding &b : FSpins) {
        // A value typed but not yet confirmed counts as the editor's value.
        b.mWidget->interpretText();
        (form.*(b.mField)).SetValue(b.mWidget->value());
    }
    for (const RTextBinding &b : FTexts)
        (form.*(b.mField)).SetText(TextToBytes(b.mWidget->text()));
    for (const RComboBinding &b : FCombos)
        (form.*(b.mField)).Select(b.mWidget->currentIndex());
    for (const RCheckBinding &b : FChecks)
        form.*(b.mField) = b.mWidget->isChecked();
}

void TNorvikIRMainForm::ShowConfig()
{
    ConfigToView(FState.FTamselCFG, FState.FForm);
    FormToView();
}

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

void TNorvikIRMainForm::ShowFirmwarePanel(const RFirmwarePanel &panel)
{
    for (const char *prefix : {"UserFM", "UserOptFM"}) {
        const QString p = Text(prefix);
        findChild<QLabel *>(p + QStringLiteral("FileLabel"))->setText(QString::fromStdString(panel.mFileText));
        findChild<QLabel *>(p + QStringLiteral("FileLabel"))->setToolTip(QString::fromStdString(panel.mFileText));
        findChild<QLabel *>(p + QStringLiteral("DescLabel"))->setText(QString::fromStdString(panel.mDescText));
        findChild<QPushButton *>(p + QStringLiteral("OpenBtn"))->setEnabled(panel.mOpenEnabled);
        findChild<QPushButton *>(p + QStringLiteral("UpgradeBtn"))->setEnabled(panel.mUpgradeEnabled);
        findChild<QPushButton *>(p + QStringLiteral("CancelBtn"))->setEnabled(panel.mCancelEnabled);
        auto *bar = findChild<QProgressBar *>(p + QStringLiteral("ProgressBar"));
        bar->setRange(0, std::max(1, panel.mProgressMax));
        bar->setValue(std::clamp(panel.mProgress, 0, std::max(1, panel.mProgressMax)));
    }
    for (const std::string &name : UpgradeLockedButtons())
        if (auto *b = findChild<QPushButton *>(QString::fromStdString(name)))
            b->setEnabled(panel.mOtherButtonsEnabled);
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
        ReadConfigFileAction(*FScreen, FState, [this] { ConfigToView(FState.FTamselCFG, FState.FForm); });
    });
}

void TNorvikIRMainForm::UserWriteFileBtnClick()
{
    RunBound([this] { WriteConfigFileAction(*FScreen, FState, [this] { ViewToMainState(FState, *FScreen, false); }); });
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
        SaveEventLogAction(*FScreen, *FLink, FState, [this] { return FActions->ReadDeviceConfig(); });
    });
}

void TNorvikIRMainForm::UserCalBtnClick()
{
    // The detector's record first, so the dialog works on the sensor that is
    // installed; the dialog refuses a sensor type it does not know.
    bool read = false;
    RunBound([this, &read] {
        FState.FHibernateBtn = false;
        const ROpResult result = RunLinked(*FScreen, *FLink, [this] { return FActions->ReadDeviceConfig(); });
        if (!result.mAborted && result.mStatus != 0)
            ShowResult(*FScreen, result.mStatus, "Read sensor information");
        read = result.Ok();
    });
    if (!read)
        return;
    Guarded([this] {
        TSensorCalDlg dialog(*FLink, this, FScreen.get());
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
        TSensorLogDlg dialog(*FLink, this, FScreen.get());
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
    Guarded([this] { EEPROMReadAction(*FScreen, *FLink, FEEPROM); });
    ShowEEPROMGrid();
}

void TNorvikIRMainForm::EtcEEPROMSaveBtnClick()
{
    Guarded([this] { EEPROMSaveAction(*FScreen, FEEPROM); });
}

void TNorvikIRMainForm::UserOptSensorTypeComboChange(int nIndex)
{
    if (FBinding)
        return;
    ViewToForm();
    ::UserOptSensorTypeComboChange(FState.FForm, nIndex);
    FormToView();
}

void TNorvikIRMainForm::TimeTimerTimer()
{
    StatusTimeLabel->setText(ClockText(QDateTime::currentDateTime()));
}

void TNorvikIRMainForm::CustomerImageClick()
{
    FOpenUrl(QUrl(Text(kMakerWebPage)));
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
            for (const RSpinBinding &b : FSpins)
                if (b.mWidget == spin)
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
    QAbstractSpinBox *left = NumberEditorOf(from);
    QAbstractSpinBox *entered = NumberEditorOf(to);
    if (left && left != entered)
        UserHighAlarmSpinExit(left);
    if (entered && entered != left)
        UserHighAlarmSpinEnter(entered);
}

void TNorvikIRMainForm::UserHighAlarmSpinEnter(QAbstractSpinBox *spin)
{
    QPalette p = spin->palette();
    p.setColor(QPalette::Base, kFocusColour);
    spin->setPalette(p);
}

void TNorvikIRMainForm::UserHighAlarmSpinExit(QAbstractSpinBox *spin)
{
    // Back to the window colour of the style.
    spin->setPalette(QPalette());
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
    if (!UserMode) {
        UserScrollBox->hide();
        DevScrollBox->show();
        PageControl->setCurrentIndex(0);
    } else {
        DevScrollBox->hide();
        UserScrollBox->show();
    }
    const RWindowPlacement placement = UserStore().WindowPlacement();
    resize(std::max(placement.mWidth, kMinWindowWidth), std::max(placement.mHeight, kMinWindowHeight));
    move(placement.mLeft, placement.mTop);
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
    if (FState.FUpgrade || FFirmware->Running())
        return true;
    std::string error;
    if (DeviceCFG.mLogEnable && !SaveTrafficList(&error))
        qWarning("The traffic list could not be saved: %s", error.c_str());
    UserStore().SetWindowPlacement({width(), height(), x(), y()});
    return true;
}

void TNorvikIRMainForm::closeEvent(QCloseEvent *e)
{
    if (FState.FUpgrade || FFirmware->Running()) {
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
