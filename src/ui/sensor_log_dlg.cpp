#include "app/session.h"
#include "ui/sensor_log_dlg.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "link/tamsel_comms.h"
#include "model/device_records.h"
#include "model/settings_types.h"
#include "tools/tool_common.h"
#include "ui/reading_chart.h"
#include "ui/screen_fit.h"
#include "ui/sim_gas_panel.h"
#include "ui/tool_dialog_screen.h"

namespace {

QLabel *ValueLabel(const char *name, QWidget *parent)
{
    auto *label = new QLabel(QStringLiteral("0"), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setFrameShape(QFrame::StyledPanel);
    label->setMinimumWidth(60);
    return label;
}

QCheckBox *ReadOnlyBox(const QString &caption, const QString &name, QWidget *parent)
{
    auto *box = new QCheckBox(caption, parent);
    box->setObjectName(name);
    box->setAttribute(Qt::WA_TransparentForMouseEvents);
    box->setFocusPolicy(Qt::NoFocus);
    return box;
}

QPushButton *Button(const char *caption, const char *name, QWidget *parent)
{
    auto *button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

QString Shown(const std::string &text) { return QString::fromStdString(LocaleDecimal(text)); }

QLabel *UnitLabel(const QString &text, QWidget *parent)
{
    return new QLabel(text, parent);
}

const QColor kLowAlarmColour(0xE0, 0x8A, 0x00);
const QColor kHighAlarmColour(0xB0, 0x00, 0x00);

// An alarm level as its line on the chart is labelled: "Low alarm 10.0 ppm".
QString LevelText(const char *which, double value, const QString &unit)
{
    return QStringLiteral("%1 alarm %2 %3")
        .arg(QString::fromLatin1(which), Shown(QString::number(value, 'f', 1).toStdString()), unit)
        .trimmed();
}

} // namespace

TSensorLogDlg::TSensorLogDlg(TSession &session, QWidget *parent, IScreen *screen)
    : QDialog(parent), FSession(session), FOwnScreen(screen ? nullptr : std::make_unique<TToolDialogScreen>(this)),
      FClock(session.Clock()), FLogger(session, screen ? *screen : *FOwnScreen, *this)
{
    setObjectName(QStringLiteral("SensorLogDlg"));
    setWindowTitle(QStringLiteral("Sensor Reading Data Logging"));
    setFixedWidth(700);
    setMinimumHeight(360);
    setMaximumHeight(560);
    resize(700, 520);

    // --- left: the acquired values, history and alarm boxes ---
    auto *valueGroup = new QGroupBox(QStringLiteral("Acquired Sensor Value"), this);
    auto *valueGrid = new QGridLayout;
    SensorValueLabel1 = ValueLabel("SensorValueLabel1", valueGroup);
    SensorPeakLabel1 = ValueLabel("SensorPeakLabel1", valueGroup);
    SensorValueLabel2 = ValueLabel("SensorValueLabel2", valueGroup);
    SensorPeakLabel2 = ValueLabel("SensorPeakLabel2", valueGroup);
    SensorValueLabel3 = ValueLabel("SensorValueLabel3", valueGroup);
    SensorPeakLabel3 = ValueLabel("SensorPeakLabel3", valueGroup);
    QPalette peakPalette = SensorPeakLabel1->palette();
    peakPalette.setColor(QPalette::WindowText, Qt::red);
    SensorPeakLabel1->setPalette(peakPalette);
    SensorCheck2 = new QCheckBox(valueGroup);
    SensorCheck2->setObjectName(QStringLiteral("SensorCheck2"));
    SensorCheck2->setChecked(true);
    SensorCheck3 = new QCheckBox(valueGroup);
    SensorCheck3->setObjectName(QStringLiteral("SensorCheck3"));
    SensorCheck3->setChecked(true);
    // Each value with its unit; the gas peak is in the gas's unit, battery
    // and temperature show their converter's raw count there ("ADC").
    FValueUnits = {UnitLabel(QString(), valueGroup), UnitLabel(QStringLiteral("V"), valueGroup),
                   UnitLabel(QStringLiteral("\u00B0C"), valueGroup)};
    FPeakUnits = {UnitLabel(QString(), valueGroup), UnitLabel(QString(), valueGroup), UnitLabel(QString(), valueGroup)};
    const char *unitNames[] = {"SensorUnitLabel1", "SensorUnitLabel2", "SensorUnitLabel3"};
    const char *peakUnitNames[] = {"SensorPeakUnitLabel1", "SensorPeakUnitLabel2", "SensorPeakUnitLabel3"};
    for (size_t i = 0; i < FValueUnits.size(); ++i) {
        FValueUnits[i]->setObjectName(QString::fromLatin1(unitNames[i]));
        FPeakUnits[i]->setObjectName(QString::fromLatin1(peakUnitNames[i]));
    }
    valueGrid->addWidget(new QLabel(QStringLiteral("Reading"), valueGroup), 0, 2);
    valueGrid->addWidget(new QLabel(QStringLiteral("Peak / ADC"), valueGroup), 0, 4);
    QLabel *const values[] = {SensorValueLabel1, SensorValueLabel2, SensorValueLabel3};
    QLabel *const peaks[] = {SensorPeakLabel1, SensorPeakLabel2, SensorPeakLabel3};
    const char *captions[] = {"Sensor", "Battery", "Temperature"};
    for (int i = 0; i < 3; ++i) {
        const int row = i + 1;
        valueGrid->addWidget(new QLabel(QString::fromLatin1(captions[i]), valueGroup), row, 1);
        valueGrid->addWidget(values[i], row, 2);
        valueGrid->addWidget(FValueUnits[static_cast<size_t>(i)], row, 3);
        valueGrid->addWidget(peaks[i], row, 4);
        valueGrid->addWidget(FPeakUnits[static_cast<size_t>(i)], row, 5);
    }
    valueGrid->addWidget(SensorCheck2, 2, 0);
    valueGrid->addWidget(SensorCheck3, 3, 0);

    auto *historyGroup = new QGroupBox(QStringLiteral("History"), valueGroup);
    auto *historyLayout = new QVBoxLayout(historyGroup);
    for (size_t i = 0; i < SensorHistoryCheck.size(); ++i) {
        SensorHistoryCheck[i] = ReadOnlyBox(QString::fromLatin1(kHistoryFlags[i].mCaption),
                                            QStringLiteral("SensorHistoryCheck%1").arg(i + 1), historyGroup);
        historyLayout->addWidget(SensorHistoryCheck[i]);
    }
    auto *alarmGroup = new QGroupBox(QStringLiteral("Alarm"), valueGroup);
    auto *alarmLayout = new QVBoxLayout(alarmGroup);
    for (size_t i = 0; i < SensorAlarmCheck.size(); ++i) {
        SensorAlarmCheck[i] = ReadOnlyBox(QString::fromLatin1(kAlarmFlags[i].mCaption),
                                          QStringLiteral("SensorAlarmCheck%1").arg(i + 1), alarmGroup);
        alarmLayout->addWidget(SensorAlarmCheck[i]);
    }
    alarmLayout->addStretch();
    auto *flagsRow = new QHBoxLayout;
    flagsRow->addWidget(historyGroup);
    flagsRow->addWidget(alarmGroup);
    auto *valueLayout = new QVBoxLayout(valueGroup);
    valueLayout->addLayout(valueGrid);
    valueLayout->addLayout(flagsRow);
    valueLayout->addStretch();

    // --- right: the chart and the calibration group ---
    SensorChart = new TReadingChart(this);
    SensorChart->setObjectName(QStringLiteral("SensorChart"));
    SensorChart->setMinimumHeight(150);
    FAlarmLevelsLabel = new QLabel(this);
    FAlarmLevelsLabel->setObjectName(QStringLiteral("SensorAlarmLevelsLabel"));
    FAlarmLevelsLabel->setWordWrap(true);
    ShowGas(0, {});
    ChartReset(0, session.DeviceCFG.mLogDisplayTime, session.DeviceCFG.mLogDisplayTime / 10.0);

    auto *calGroup = new QGroupBox(QStringLiteral("Calibration"), this);
    CalBtn = Button("Calibration", "CalBtn", calGroup);
    ZeroBtn = Button("Zero", "ZeroBtn", calGroup);
    SpanBtn = Button("Span", "SpanBtn", calGroup);
    CalAbortBtn = Button("Cal. Abort", "CalAbortBtn", calGroup);
    ClearPeakBtn = Button("Clear Peak", "ClearPeakBtn", calGroup);
    BumpPassBtn = Button("Bump Pass", "BumpPassBtn", calGroup);
    BumpFailBtn = Button("Bump Fail", "BumpFailBtn", calGroup);
    CalProgressBar = new QProgressBar(calGroup);
    CalProgressBar->setObjectName(QStringLiteral("CalProgressBar"));
    CalProgressBar->setTextVisible(false);
    CalProgressBar->setRange(0, std::max<int>(session.DeviceCFG.mCalTime, 1));
    CalProgressBar->setValue(0);
    CalProgLabel = new QLabel(QStringLiteral("(0)"), calGroup);
    CalProgLabel->setObjectName(QStringLiteral("CalProgLabel"));
    CalLabel = new QLabel(calGroup);
    CalLabel->setObjectName(QStringLiteral("CalLabel"));
    auto *calGrid = new QGridLayout(calGroup);
    calGrid->addWidget(CalBtn, 0, 0);
    calGrid->addWidget(ZeroBtn, 0, 1);
    calGrid->addWidget(SpanBtn, 0, 2);
    calGrid->addWidget(CalAbortBtn, 0, 3);
    calGrid->addWidget(ClearPeakBtn, 1, 0);
    calGrid->addWidget(BumpPassBtn, 1, 1);
    calGrid->addWidget(BumpFailBtn, 1, 2);
    calGrid->addWidget(CalProgressBar, 2, 0, 1, 3);
    calGrid->addWidget(CalProgLabel, 2, 3);
    calGrid->addWidget(CalLabel, 3, 0, 1, 4);

    auto *right = new QVBoxLayout;
    right->addWidget(SensorChart, 1);
    right->addWidget(FAlarmLevelsLabel);
    right->addWidget(calGroup);

    StartBtn = Button("Start Logging", "StartBtn", this);
    StopBtn = Button("Stop Logging", "StopBtn", this);
    BumpTestBtn = Button("Bump Test...", "BumpTestBtn", this);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(BumpTestBtn);
    buttons->addStretch();
    buttons->addWidget(StartBtn);
    buttons->addWidget(StopBtn);
    CloseBtn = Button("Close", "SensorLogCloseBtn", this);
    buttons->addSpacing(16);
    buttons->addWidget(CloseBtn);

    auto *columns = new QHBoxLayout;
    columns->addWidget(valueGroup);
    columns->addLayout(right, 1);
    auto *main = new QVBoxLayout(this);
    main->addLayout(columns, 1);
    main->addLayout(buttons);

    connect(StartBtn, &QPushButton::clicked, this, &TSensorLogDlg::StartBtnClick);
    connect(StopBtn, &QPushButton::clicked, this, &TSensorLogDlg::StopBtnClick);
    connect(CloseBtn, &QPushButton::clicked, this, &TSensorLogDlg::reject);
    connect(BumpTestBtn, &QPushButton::clicked, this, [this] {
        if (OnBumpTest && !FLogger.Running())
            OnBumpTest();
    });
    connect(CalBtn, &QPushButton::clicked, this, &TSensorLogDlg::CalBtnClick);
    connect(ZeroBtn, &QPushButton::clicked, this, &TSensorLogDlg::ZeroBtnClick);
    connect(SpanBtn, &QPushButton::clicked, this, &TSensorLogDlg::SpanBtnClick);
    connect(CalAbortBtn, &QPushButton::clicked, this, &TSensorLogDlg::CalAbortBtnClick);
    connect(ClearPeakBtn, &QPushButton::clicked, this, &TSensorLogDlg::ClearPeakBtnClick);
    connect(BumpPassBtn, &QPushButton::clicked, this, &TSensorLogDlg::BumpPassBtnClick);
    connect(BumpFailBtn, &QPushButton::clicked, this, &TSensorLogDlg::BumpFailBtnClick);
    connect(SensorCheck2, &QCheckBox::toggled, this, [this](bool on) { FLogger.SetPollBattery(on); });
    connect(SensorCheck3, &QCheckBox::toggled, this, [this](bool on) { FLogger.SetPollTemperature(on); });

    FPassTimer.setSingleShot(true);
    FPassTimer.setTimerType(Qt::PreciseTimer);
    connect(&FPassTimer, &QTimer::timeout, this, &TSensorLogDlg::RunPass);

    LogStateChanged(false);
}

TSensorLogDlg::~TSensorLogDlg()
{
    FPassTimer.stop();
    // A run still open when the dialog goes away ends here, closing the link.
    FLogger.Shutdown();
}

int TSensorLogDlg::ShowDlg()
{
    FLogger.Reset();
    BumpTestBtn->setVisible(static_cast<bool>(OnBumpTest));
    return exec();
}

void TSensorLogDlg::SetKnownConfiguration(const RTamselCFG &cfg)
{
    FKnown = cfg;
    ShowGas(cfg.mSensor.mSensorType, cfg.mUnit.mSerial);
}

void TSensorLogDlg::ShowGas(uint8_t nSensorCode, const char (&serial)[10])
{
    const int index = FindSensorType(nSensorCode, FSession.SensorTypes);
    FGasName.clear();
    FGasUnit.clear();
    if (index >= 0) {
        const RSensorType &type = FSession.SensorTypes[static_cast<size_t>(index)];
        FGasName = QString::fromLatin1(type.mName.c_str());
        FGasUnit = QString::fromLatin1(type.mUnit.c_str());
    }
    // The levels of a configuration read from this very detector, not another's.
    FAlarmLevels.reset();
    if (index >= 0 && FKnown && FKnown->mSensor.mSensorType == nSensorCode &&
        std::memcmp(FKnown->mUnit.mSerial, serial, sizeof serial) == 0)
        FAlarmLevels = std::make_pair(FKnown->mSensor.mAlarmLow / 10.0, FKnown->mSensor.mAlarmHigh / 10.0);

    for (QLabel *unit : {FValueUnits[0], FPeakUnits[0]})
        unit->setText(FGasUnit);
    SensorChart->SetValueTitle(FGasName.isEmpty() ? QStringLiteral("Gas reading")
                                                  : QStringLiteral("%1 (%2)").arg(FGasName, FGasUnit));
    if (FAlarmLevels) {
        const auto level = [this](double v) {
            return Shown(QString::number(v, 'f', 1).toStdString()) + QLatin1Char(' ') + FGasUnit;
        };
        FAlarmLevelsLabel->setText(QStringLiteral("Dashed: low alarm %1, high alarm %2")
                                       .arg(level(FAlarmLevels->first), level(FAlarmLevels->second)));
    } else {
        FAlarmLevelsLabel->setText(
            QStringLiteral("Alarm levels: read this detector first (Read Device)."));
    }
    DrawAlarmLevels();
}

void TSensorLogDlg::DrawAlarmLevels()
{
    // The chart keeps its levels in view.
    std::vector<TReadingChart::RLevel> levels;
    if (FAlarmLevels)
        levels = {{FAlarmLevels->first, LevelText("Low", FAlarmLevels->first, FGasUnit), kLowAlarmColour},
                  {FAlarmLevels->second, LevelText("High", FAlarmLevels->second, FGasUnit), kHighAlarmColour}};
    SensorChart->SetLevels(std::move(levels));
}

void TSensorLogDlg::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    FitToScreen(this);
}

void TSensorLogDlg::closeEvent(QCloseEvent *event)
{
    if (FLogger.CloseEnabled())
        event->accept();
    else
        event->ignore();
}

void TSensorLogDlg::reject()
{
    if (FLogger.CloseEnabled())
        QDialog::reject();
}

void TSensorLogDlg::StartBtnClick()
{
    if (FLogger.Running() || FInPass)
        return;
    FInPass = true;
    const bool running = FLogger.Start();
    FInPass = false;
    // The identity the run read names the gas (and tells whether the known
    // configuration is this detector's).
    if (const std::optional<RTamselIdenty> &identity = FSession.Link().Seen().mIdentity)
        ShowGas(identity->mSensor, identity->mSerial);
    if (running)
        SchedulePass();
}

void TSensorLogDlg::StopBtnClick()
{
    FLogger.Stop();
    SchedulePass();
}

void TSensorLogDlg::Press(uint8_t nBtnSel)
{
    FLogger.Press(nBtnSel);
    SchedulePass();
}

void TSensorLogDlg::SchedulePass()
{
    if (FInPass)
        return; // the pass that runs reschedules when it returns
    if (!FLogger.Running()) {
        FPassTimer.stop();
        return;
    }
    FPassTimer.start(MillisecondsUntil(FClock, FLogger.NextDue()));
}

void TSensorLogDlg::RunPass()
{
    if (FInPass)
        return;
    FInPass = true;
    FLogger.Pass();
    FInPass = false;
    SchedulePass();
}

// --- ISensorLogView ---------------------------------------------------------

void TSensorLogDlg::LogStateChanged(bool logging)
{
    StartBtn->setEnabled(!logging);
    StopBtn->setEnabled(logging);
    CloseBtn->setEnabled(!logging); // a run is stopped first
    BumpTestBtn->setEnabled(!logging); // the test holds a connection of its own
    for (QPushButton *b : {CalBtn, ZeroBtn, SpanBtn, CalAbortBtn, ClearPeakBtn, BumpPassBtn, BumpFailBtn})
        b->setEnabled(logging);
}

void TSensorLogDlg::CommandButtonsEnabled(bool enabled)
{
    for (QPushButton *b : {CalBtn, ZeroBtn, SpanBtn, ClearPeakBtn, BumpPassBtn, BumpFailBtn})
        b->setEnabled(enabled);
}

void TSensorLogDlg::CalLabelChanged(const std::string &text, RColor color)
{
    QPalette palette = CalLabel->palette();
    palette.setColor(QPalette::WindowText, ToQColor(color));
    CalLabel->setPalette(palette);
    CalLabel->setText(QString::fromStdString(text));
}

void TSensorLogDlg::CalProgressChanged(int position, int max)
{
    CalProgressBar->setRange(0, std::max(max, 1));
    CalProgressBar->setValue(std::clamp(position, 0, std::max(max, 1)));
}

void TSensorLogDlg::CalProgLabelChanged(const std::string &text) { CalProgLabel->setText(QString::fromStdString(text)); }

void TSensorLogDlg::ReadingShown(const RSensorLogDisplay &shown)
{
    SensorValueLabel1->setText(Shown(shown.mSensorValue));
    SensorPeakLabel1->setText(Shown(shown.mSensorPeak));
    SensorValueLabel2->setText(Shown(shown.mBatteryValue));
    SensorPeakLabel2->setText(Shown(shown.mBatteryAdc));
    SensorValueLabel3->setText(Shown(shown.mTemperatureValue));
    SensorPeakLabel3->setText(Shown(shown.mTemperatureAdc));
    for (size_t i = 0; i < SensorHistoryCheck.size(); ++i)
        SensorHistoryCheck[i]->setChecked(shown.mHistory[i]);
    for (size_t i = 0; i < SensorAlarmCheck.size(); ++i)
        SensorAlarmCheck[i]->setChecked(shown.mAlarm[i]);
}

void TSensorLogDlg::ChartReset(double rMin, double rMax, double)
{
    // The chart picks its own ticks for the width it has.
    SensorChart->ClearReadings();
    SensorChart->SetTimeRange(rMin, rMax);
}

void TSensorLogDlg::ChartAdded(const RChartPoint &point) { SensorChart->AddReading(QPointF(point.mX, point.mY)); }

void TSensorLogDlg::ChartMoved(double rMin, double rMax, const std::vector<RChartPoint> &points)
{
    std::vector<QPointF> readings;
    readings.reserve(points.size());
    for (const RChartPoint &p : points)
        readings.emplace_back(p.mX, p.mY);
    SensorChart->SetTimeRange(rMin, rMax);
    SensorChart->SetReadings(std::move(readings));
}

void TSensorLogDlg::UseSimulator(SimDetector &sim)
{
    auto *main = qobject_cast<QVBoxLayout *>(layout());
    if (FSimGas || !main)
        return;
    FSimGas = new TSimGasPanel(sim, SimSensorUnit(sim, FSession.SensorTypes), this);
    main->insertWidget(main->count() - 1, FSimGas);
}
