#include "app/session.h"
#include "ui/sensor_cal_dlg.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>

#include "ui/cylinder_choice.h"
#include "ui/procedure_view.h"
#include "ui/screen_fit.h"
#include "ui/sim_gas_panel.h"
#include "ui/tool_dialog_screen.h"

namespace {
QString Q(const std::string &text) { return QString::fromStdString(text); }
} // namespace

TSensorCalDlg::TSensorCalDlg(TSession &session, QWidget *parent, IScreen *screen)
    : TGuardedDialog(parent), FOwnScreen(screen ? nullptr : std::make_unique<TToolDialogScreen>(this)),
      FSession(session), FClock(session.Clock()), FCal(session, screen ? *screen : *FOwnScreen, *this),
      FEvidence(session, screen ? *screen : *FOwnScreen, FCal, *this), FTolerance(session.RecordsCFG.mCalTolerance)
{
    setObjectName(QStringLiteral("SensorCalDlg"));
    setWindowTitle(QStringLiteral("Sensor Calibration"));

    // What scrolls on a small screen: the procedure and what is measured around it.
    auto *content = new QWidget;
    SpanGasLabel = new QLabel(QStringLiteral("Span Gas"), content);
    SpanGasLabel->setObjectName(QStringLiteral("SpanGasLabel"));
    SpanGasSpin = new QDoubleSpinBox(content);
    SpanGasSpin->setObjectName(QStringLiteral("SpanGasSpin"));
    SpanGasSpin->setDecimals(1);
    SpanGasSpin->setSingleStep(0.1);
    CalUnitLabel = new QLabel(content);
    CalUnitLabel->setObjectName(QStringLiteral("CalUnitLabel"));
    auto *spanRow = new QHBoxLayout;
    spanRow->addWidget(SpanGasLabel);
    spanRow->addWidget(SpanGasSpin, 1);
    spanRow->addWidget(CalUnitLabel);

    CalProgressBar = new QProgressBar(content);
    CalProgressBar->setObjectName(QStringLiteral("CalProgressBar"));
    CalProgressBar->setTextVisible(false);
    CalProgressBar->setRange(0, 1);
    CalProgressBar->setValue(0);

    auto *lines = new QVBoxLayout;
    const char *names[] = {"CalLabel", "CalLabel1", "CalLabel2"};
    for (size_t i = 0; i < FStatusLines.size(); ++i) {
        FStatusLines[i] = new QLabel(content);
        FStatusLines[i]->setObjectName(QString::fromLatin1(names[i]));
        FStatusLines[i]->setMinimumWidth(320);
        ReserveLines(FStatusLines[i], 1);
        lines->addWidget(FStatusLines[i]);
    }

    // The cylinder, and what was measured against it.
    CylinderCombo = new QComboBox(content);
    CylinderCombo->setObjectName(QStringLiteral("CalCylinderCombo"));
    CylinderCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    CylinderCombo->setMinimumContentsLength(28);
    CylinderCombo->addItem(QStringLiteral("None: span gas as entered, no certificate"));
    auto *cylinderRow = new QGridLayout;
    cylinderRow->addWidget(new QLabel(QStringLiteral("Cylinder"), content), 0, 0);
    cylinderRow->addWidget(CylinderCombo, 0, 1);
    cylinderRow->setColumnStretch(1, 1);
    // The picked cylinder's whole label, wrapped: the list may cut it.
    FCylinderText = new QLabel(content);
    FCylinderText->setObjectName(QStringLiteral("CalCylinderText"));
    FCylinderText->setWordWrap(true);
    FCylinderText->setTextFormat(Qt::PlainText);
    FCylinderText->hide();
    cylinderRow->addWidget(FCylinderText, 1, 1);
    auto *evidenceBox = new QGroupBox(QStringLiteral("Measured against the cylinder"), content);
    evidenceBox->setObjectName(QStringLiteral("CalEvidenceBox"));
    FSteps = new TStepList(QStringLiteral("CalStep"),
                           {QStringLiteral("As found in clean air"), QStringLiteral("Apply the gas: as found"),
                            QStringLiteral("Remove the gas: clean air"), QStringLiteral("The detector's zero and span"),
                            QStringLiteral("As left under the gas"), QStringLiteral("Remove the gas: as left")},
                           evidenceBox);
    FLive = new TLiveReading(QStringLiteral("Cal"), evidenceBox);
    auto *stepsAndLive = new QHBoxLayout;
    stepsAndLive->addWidget(FSteps);
    stepsAndLive->addWidget(FLive, 1);
    auto *grid = new QFormLayout;
    grid->setRowWrapPolicy(QFormLayout::DontWrapRows);
    const char *measureNames[] = {"CalFoundZeroLabel", "CalFoundSpanLabel", "CalLeftSpanLabel", "CalLeftZeroLabel"};
    const char *measureCaptions[] = {"As found, clean air", "As found, under gas", "As left, under gas",
                                     "As left, clean air"};
    for (size_t i = 0; i < FMeasures.size(); ++i) {
        FMeasures[i] = new QLabel(QStringLiteral("-"), evidenceBox);
        FMeasures[i]->setObjectName(QString::fromLatin1(measureNames[i]));
        FMeasures[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        ReserveWidth(FMeasures[i], {QStringLiteral("3276.7 ppm (-100.0 %), within +-10.0 %, did not settle")});
        grid->addRow(QString::fromLatin1(measureCaptions[i]), FMeasures[i]);
    }
    ResultLabel = new QLabel(evidenceBox);
    ResultLabel->setObjectName(QStringLiteral("CalResultLabel"));
    ResultLabel->setWordWrap(true);
    SetLargeFont(ResultLabel, 18);
    ReserveLines(ResultLabel, 2);
    auto *evidenceLayout = new QVBoxLayout(evidenceBox);
    evidenceLayout->addLayout(stepsAndLive);
    evidenceLayout->addLayout(grid);
    evidenceLayout->addWidget(ResultLabel);
    evidenceBox->hide();

    // The procedure on the left, what was measured against the cylinder beside it.
    auto *procedure = new QVBoxLayout;
    procedure->addLayout(cylinderRow);
    procedure->addLayout(spanRow);
    procedure->addWidget(CalProgressBar);
    procedure->addLayout(lines);
    procedure->addStretch(1);
    auto *columns = new QHBoxLayout(content);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->addLayout(procedure);
    columns->addWidget(evidenceBox, 1);

    // What never scrolls nor moves: what to do now, the time left, the
    // button that says it is done, and the dialog's buttons.
    const RProcedureFrame frame = BuildProcedureFrame(
        this, content, {"Cal", "CalStepLabel", "CalStepBtn", "CalBtn", "Calibration", "CalAbortBtn", "CloseBtn"});
    StepLabel = frame.mStep;
    FCountdown = frame.mCountdown;
    StepBtn = frame.mStepBtn;
    CalBtn = frame.mStart;
    CalAbortBtn = frame.mCancel;
    CloseBtn = frame.mClose;
    FMainLayout = frame.mMain;

    connect(CalBtn, &QPushButton::clicked, this, &TSensorCalDlg::CalBtnClick);
    connect(CalAbortBtn, &QPushButton::clicked, this, &TSensorCalDlg::CalAbortBtnClick);
    connect(CloseBtn, &QPushButton::clicked, this, &TSensorCalDlg::CloseBtnClick);
    connect(StepBtn, &QPushButton::clicked, this, &TSensorCalDlg::StepBtnClick);
    connect(CylinderCombo, &QComboBox::currentIndexChanged, this, [this] { CylinderPicked(); });
    FEvidence.SetConfirmSteps(true);
    FPassTimer.setSingleShot(true);
    FPassTimer.setTimerType(Qt::PreciseTimer);
    connect(&FPassTimer, &QTimer::timeout, this, &TSensorCalDlg::RunPass);

    RunningChanged(false);
}

TSensorCalDlg::~TSensorCalDlg()
{
    FPassTimer.stop();
    // A procedure still running when the dialog goes away is aborted on the
    // detector; a measurement around it ends as stopped.
    FEvidence.Shutdown();
    FCal.Shutdown();
}

bool TSensorCalDlg::Prepare(const RTamselCFG &mCFG)
{
    if (!FCal.Open(mCFG))
        return false;
    // The one cylinder that fits this detector today is the likely choice.
    if (CylinderCombo->currentIndex() == 0) {
        const int only = OnlyFittingCylinder(FCylinders, mCFG, FSession.SensorTypes,
                                             LocalDateText(FSession.Clock().WallNow()));
        if (only >= 0)
            CylinderCombo->setCurrentIndex(only + 1);
    }
    return true;
}

int TSensorCalDlg::ShowDlg(const RTamselCFG &mCFG)
{
    if (!Prepare(mCFG))
        return QDialog::Rejected;
    return exec();
}

void TSensorCalDlg::CloseBtnClick()
{
    if (CloseAllowed())
        close();
}

void TSensorCalDlg::CalBtnClick()
{
    if (FCal.Running() || Measuring() || FInPass)
        return;
    FInPass = true;
    bool running = false;
    if (const RGasCylinder *cylinder = PickedCylinder()) {
        for (QLabel *label : FMeasures)
            label->setText(QStringLiteral("-"));
        ResultLabel->clear();
        FLive->Clear();
        FSteps->SetCurrent(-1);
        const RTamselCFG &cfg = FCal.Record();
        const QString unit = CalUnitLabel->text();
        FLive->SetSetPoints(QStringLiteral("alarm set points: LOW %1 %3, HIGH %2 %3")
                                .arg(Q(TenthsText(cfg.mSensor.mAlarmLow)), Q(TenthsText(cfg.mSensor.mAlarmHigh)), unit));
        FEvidence.SetTolerance(FTolerance);
        running = FEvidence.Start(*cylinder);
    } else {
        FCal.SetSpanEntry(SpanGasSpin->value());
        running = FCal.Start();
    }
    FInPass = false;
    ShowButtons();
    ShowCountdown();
    if (running)
        SchedulePass();
}

void TSensorCalDlg::CalAbortBtnClick()
{
    if (Measuring())
        FEvidence.Cancel();
    else
        FCal.Cancel();
    SchedulePass();
}

void TSensorCalDlg::StepBtnClick()
{
    FEvidence.Confirm();
    ShowButtons();
    ShowCountdown();
    SchedulePass();
}

void TSensorCalDlg::SetCylinders(const std::vector<RGasCylinder> &cylinders)
{
    FCylinders.clear();
    while (CylinderCombo->count() > 1)
        CylinderCombo->removeItem(1);
    for (const RGasCylinder &cyl : cylinders) {
        if (cyl.mRetired)
            continue;
        FCylinders.push_back(cyl);
        CylinderCombo->addItem(CylinderChoiceText(cyl));
        CylinderCombo->setItemData(CylinderCombo->count() - 1, CylinderWholeText(cyl), Qt::ToolTipRole);
    }
}

bool TSensorCalDlg::SelectCylinder(int64_t id)
{
    for (size_t i = 0; i < FCylinders.size(); ++i)
        if (FCylinders[i].mId == id) {
            CylinderCombo->setCurrentIndex(static_cast<int>(i) + 1);
            return true;
        }
    return false;
}

void TSensorCalDlg::UseSimulator(SimDetector &sim)
{
    if (FSimGas)
        return;
    FSimGas = new TSimGasPanel(sim, SimSensorUnit(sim, FSession.SensorTypes), this);
    FMainLayout->insertWidget(FMainLayout->count() - 1, FSimGas);
    if (const RGasCylinder *cylinder = PickedCylinder())
        FSimGas->SetValue(cylinder->mConcentration / 10.0);
}

const RGasCylinder *TSensorCalDlg::PickedCylinder() const
{
    const int index = CylinderCombo->currentIndex() - 1;
    return index >= 0 && index < static_cast<int>(FCylinders.size()) ? &FCylinders[static_cast<size_t>(index)] : nullptr;
}

void TSensorCalDlg::CylinderPicked()
{
    const RGasCylinder *cylinder = PickedCylinder();
    FCylinderText->setText(cylinder ? CylinderWholeText(*cylinder) : QString());
    FCylinderText->setVisible(cylinder != nullptr);
    // With a cylinder the span gas is its concentration.
    if (cylinder)
        SpanValueChanged(cylinder->mConcentration / 10.0);
    if (cylinder && FSimGas)
        FSimGas->SetValue(cylinder->mConcentration / 10.0);
    if (QWidget *box = findChild<QWidget *>(QStringLiteral("CalEvidenceBox")))
        box->setVisible(cylinder != nullptr);
    ShowButtons();
    if (isVisible()) {
        resize(sizeHint().expandedTo(minimumSizeHint()));
        FitToScreen(this);
    }
}

void TSensorCalDlg::ShowButtons()
{
    const bool busy = FCal.Running() || Measuring();
    CalBtn->setEnabled(!busy);
    CloseBtn->setEnabled(!busy);
    CalAbortBtn->setEnabled(busy);
    CylinderCombo->setEnabled(!busy);
    SpanGasSpin->setEnabled(!busy && !PickedCylinder());
    StepBtn->setEnabled(Measuring() && FEvidence.AwaitingStep());
    StepBtn->setVisible(PickedCylinder() != nullptr);
}

void TSensorCalDlg::ShowCountdown()
{
    const ECalEvidencePhase phase = FEvidence.Phase();
    if (FCal.Running() && (!Measuring() || phase == ECalEvidencePhase::kProcedure)) {
        const RSensorType *type = FCal.SensorType();
        FCountdown->Show(QStringLiteral("for the detector's calibration"), FClock.Now(),
                         type ? AddSeconds(FCal.StartTime(), type->mCalTime) : kDueNever);
        return;
    }
    if (!Measuring()) {
        FCountdown->Clear();
        return;
    }
    const bool apply = phase == ECalEvidencePhase::kFoundSpan || phase == ECalEvidencePhase::kLeftSpan;
    QString what;
    if (FEvidence.Settling())
        what = QStringLiteral("for a stable reading");
    else if (FEvidence.AwaitingStep())
        what = apply ? QStringLiteral("to apply the gas") : QStringLiteral("to remove the gas");
    else
        what = apply ? QStringLiteral("for the gas at the sensor") : QStringLiteral("for clean air at the sensor");
    FCountdown->Show(what, FClock.Now(), FEvidence.WaitEnds());
}

void TSensorCalDlg::SchedulePass()
{
    if (FInPass)
        return;
    if (!FCal.Running() && !Measuring()) {
        FPassTimer.stop();
        return;
    }
    FPassTimer.start(MillisecondsUntil(FClock, Measuring() ? FEvidence.NextDue() : FCal.NextDue()));
}

void TSensorCalDlg::RunPass()
{
    if (FInPass)
        return;
    FInPass = true;
    if (Measuring())
        FEvidence.Pass();
    else
        FCal.Pass();
    FInPass = false;
    ShowButtons();
    ShowCountdown();
    SchedulePass();
}

// --- ISensorCalView ---------------------------------------------------------

void TSensorCalDlg::CaptionChanged(const std::string &text) { setWindowTitle(QString::fromStdString(text)); }

void TSensorCalDlg::SpanRangeChanged(double rMin, double rMax)
{
    const QSignalBlocker block(SpanGasSpin);
    SpanGasSpin->setRange(rMin, std::max(rMin, rMax));
}

void TSensorCalDlg::SpanValueChanged(double rValue)
{
    const QSignalBlocker block(SpanGasSpin);
    SpanGasSpin->setValue(rValue);
}

void TSensorCalDlg::UnitChanged(const std::string &text) { CalUnitLabel->setText(QString::fromStdString(text)); }

void TSensorCalDlg::StatusLineChanged(int line, const std::string &text, RColor color)
{
    if (line < 0 || line >= static_cast<int>(FStatusLines.size()))
        return;
    QLabel *label = FStatusLines[static_cast<size_t>(line)];
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, ToQColor(color));
    label->setPalette(palette);
    label->setText(QString::fromStdString(text));
}

void TSensorCalDlg::RunningChanged(bool) { ShowButtons(); }

void TSensorCalDlg::CalProgressChanged(int position, int max)
{
    CalProgressBar->setRange(0, std::max(max, 1));
    CalProgressBar->setValue(std::clamp(position, 0, std::max(max, 1)));
}

// --- ICalEvidenceView -------------------------------------------------------

void TSensorCalDlg::EvidencePhaseChanged(ECalEvidencePhase phase, const std::string &text)
{
    // What to do now: a gas step's own text, shown once.
    StepLabel->setText(Q(text));
    switch (phase) {
    case ECalEvidencePhase::kFoundZero: FSteps->SetCurrent(0); break;
    case ECalEvidencePhase::kFoundSpan: FSteps->SetCurrent(1); break;
    case ECalEvidencePhase::kClearing: FSteps->SetCurrent(2); break;
    case ECalEvidencePhase::kProcedure: FSteps->SetCurrent(3); break;
    case ECalEvidencePhase::kLeftSpan: FSteps->SetCurrent(4); break;
    case ECalEvidencePhase::kLeftZero: FSteps->SetCurrent(5); break;
    case ECalEvidencePhase::kIdle:
    case ECalEvidencePhase::kDone: break;
    }
    ShowCountdown();
    if (phase != ECalEvidencePhase::kDone)
        return;
    const RCalEvidence &e = FEvidence.Evidence();
    switch (e.mOutcome) {
    case ECalEvidenceOutcome::kPass:
        ResultLabel->setText(QStringLiteral("PASS: as left within tolerance"));
        SetTextColour(ResultLabel, QColor(0, 128, 0));
        FSteps->SetAllDone();
        break;
    case ECalEvidenceOutcome::kFail:
        ResultLabel->setText(QStringLiteral("FAIL: ") + Q(e.mReason));
        SetTextColour(ResultLabel, QColor(192, 0, 0));
        FSteps->SetAllDone();
        break;
    default:
        ResultLabel->setText(QStringLiteral("Not certified") + (e.mReason.empty() ? QString() : QStringLiteral(": ") + Q(e.mReason)));
        SetTextColour(ResultLabel, QColor(128, 0, 0));
    }
    FCountdown->Clear();
    ShowButtons();
}

void TSensorCalDlg::EvidenceStepShown(EGasStep step, const std::string &text)
{
    StepLabel->setText(Q(text));
    StepBtn->setText(step == EGasStep::kApply ? QStringLiteral("Gas applied") : QStringLiteral("Gas removed"));
    ShowButtons();
}

void TSensorCalDlg::EvidenceReading(const RTamselSensor &reading, int32_t tenths)
{
    FLive->SetReading(tenths == kOverRangeTenths ? QStringLiteral("over range")
                                                 : Q(TenthsText(tenths)) + QLatin1Char(' ') + CalUnitLabel->text());
    FLive->SetDetail(QStringLiteral("alarm flags now: %1").arg(Q(AlarmFlagNames(reading.mAlarm))));
}

void TSensorCalDlg::MeasuresChanged(const RCalEvidence &e)
{
    const RGasCylinder *cylinder = &FEvidence.Cylinder();
    const auto show = [&](QLabel *label, const std::optional<RCalReading> &m, int32_t expected, bool judged) {
        if (!m)
            return;
        const int deviation = DeviationPermille(m->mValue, expected, cylinder->mConcentration);
        QString text = QStringLiteral("%1 %2 (%3)").arg(Q(TenthsText(m->mValue)), Q(e.mUnit), Q(PermilleText(deviation)));
        // The as-left span decides the verdict: it is told the moment it is measured.
        if (judged && m->mStable)
            text += std::abs(deviation) <= e.mTolerance
                        ? QStringLiteral(", within +-%1").arg(Q(PermilleText(e.mTolerance).substr(1)))
                        : QStringLiteral(", beyond +-%1").arg(Q(PermilleText(e.mTolerance).substr(1)));
        if (!m->mStable)
            text += QStringLiteral(", did not settle");
        label->setText(text);
    };
    show(FMeasures[0], e.mFound.mZero, e.mClean, false);
    show(FMeasures[1], e.mFound.mSpan, cylinder->mConcentration, false);
    show(FMeasures[2], e.mLeft.mSpan, cylinder->mConcentration, true);
    show(FMeasures[3], e.mLeft.mZero, e.mClean, false);
}
