#include "ui/bump_test_dlg.h"

#include <QCloseEvent>
#include <algorithm>
#include <QComboBox>
#include <QFormLayout>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/session.h"
#include "link/wire.h"
#include "ui/cylinder_choice.h"
#include "ui/procedure_view.h"
#include "ui/screen_fit.h"
#include "ui/sim_gas_panel.h"
#include "ui/tool_dialog_screen.h"

namespace {

QLabel *Value(const char *name, QWidget *parent)
{
    auto *label = new QLabel(QStringLiteral("-"), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QString Q(const std::string &text) { return QString::fromStdString(text); }

} // namespace

TBumpTestDlg::TBumpTestDlg(TSession &session, const std::vector<RGasCylinder> &cylinders, QWidget *parent,
                           IScreen *screen)
    : TGuardedDialog(parent), FOwnScreen(screen ? nullptr : std::make_unique<TToolDialogScreen>(this)),
      FSession(session), FClock(session.Clock()), FTest(session, screen ? *screen : *FOwnScreen, *this)
{
    setObjectName(QStringLiteral("BumpTestDlg"));
    setWindowTitle(QString::fromLatin1(kBumpTestCaption));

    // What scrolls on a small screen: the set-up, the steps, the live reading, the values.
    auto *content = new QWidget;
    FCylinderCombo = new QComboBox(content);
    FCylinderCombo->setObjectName(QStringLiteral("BumpCylinderCombo"));
    FCylinderCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    FCylinderCombo->setMinimumContentsLength(36);
    for (const RGasCylinder &cyl : cylinders) {
        if (cyl.mRetired)
            continue;
        FCylinders.push_back(cyl);
        FCylinderCombo->addItem(CylinderChoiceText(cyl));
    }
    FWithinSpin = new QSpinBox(content);
    FWithinSpin->setObjectName(QStringLiteral("BumpWithinSpin"));
    FWithinSpin->setRange(1, 3600);
    FWithinSpin->setValue(TBumpTest::kDefaultWithin);
    FWithinSpin->setSuffix(QStringLiteral(" s"));
    auto *setup = new QHBoxLayout;
    setup->addWidget(new QLabel(QStringLiteral("Cylinder"), content));
    setup->addWidget(FCylinderCombo, 1);
    setup->addSpacing(12);
    setup->addWidget(new QLabel(QStringLiteral("Alarm within"), content));
    setup->addWidget(FWithinSpin);

    auto *stepsBox = new QGroupBox(QStringLiteral("Steps"), content);
    FSteps = new TStepList(QStringLiteral("BumpStep"),
                           {QStringLiteral("Baseline in clean air"), QStringLiteral("Apply the gas"),
                            QStringLiteral("Watch for the LOW alarm"), QStringLiteral("Remove the gas"),
                            QStringLiteral("Recovery"), QStringLiteral("Report to the detector")},
                           stepsBox);
    (new QVBoxLayout(stepsBox))->addWidget(FSteps);

    auto *liveBox = new QGroupBox(QStringLiteral("Live reading"), content);
    FLive = new TLiveReading(QStringLiteral("Bump"), liveBox);
    (new QVBoxLayout(liveBox))->addWidget(FLive);

    auto *measured = new QGroupBox(QStringLiteral("Measured"), content);
    auto *grid = new QFormLayout(measured);
    grid->setRowWrapPolicy(QFormLayout::DontWrapRows);
    FBaselineLabel = Value("BumpBaselineLabel", measured);
    FPeakLabel = Value("BumpPeakLabel", measured);
    FAlarmLabel = Value("BumpAlarmLabel", measured);
    FFlagsLabel = Value("BumpFlagsLabel", measured);
    FRecoveryLabel = Value("BumpRecoveryLabel", measured);
    FCriteriaLabel = Value("BumpCriteriaLabel", measured);
    FCriteriaLabel->setWordWrap(true);
    ReserveWidth(FFlagsLabel, {QStringLiteral("TWA, STEL, LOW, HIGH")});
    ReserveLines(FCriteriaLabel, 3);
    grid->addRow(QStringLiteral("Baseline (clean air)"), FBaselineLabel);
    grid->addRow(QStringLiteral("Peak under gas"), FPeakLabel);
    grid->addRow(QStringLiteral("LOW alarm"), FAlarmLabel);
    grid->addRow(QStringLiteral("Alarm flags seen"), FFlagsLabel);
    grid->addRow(QStringLiteral("Recovery"), FRecoveryLabel);
    grid->addRow(QStringLiteral("Criteria"), FCriteriaLabel);

    auto *columns = new QHBoxLayout;
    columns->addWidget(stepsBox);
    columns->addWidget(liveBox);
    columns->addWidget(measured, 1);
    auto *contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->addLayout(setup);
    contentLayout->addLayout(columns);
    contentLayout->addStretch(1);

    // What never scrolls nor moves: what to do now, the time left, the
    // button that says it is done, the verdict and the dialog's buttons.
    FResultLabel = new QLabel(this);
    FResultLabel->setObjectName(QStringLiteral("BumpResultLabel"));
    FResultLabel->setAlignment(Qt::AlignCenter);
    SetLargeFont(FResultLabel, 28);
    ReserveWidth(FResultLabel, {QStringLiteral("Not done"), QStringLiteral("Refused"), QStringLiteral("Stopped")});
    ReserveLines(FResultLabel, 1);
    FReasonLabel = new QLabel(this);
    FReasonLabel->setObjectName(QStringLiteral("BumpReasonLabel"));
    FReasonLabel->setWordWrap(true);
    FReasonLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    FReasonLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    ReserveLines(FReasonLabel, 2);
    FReasonLabel->setFixedHeight(FReasonLabel->minimumHeight());
    auto *verdictRow = new QHBoxLayout;
    verdictRow->addWidget(FResultLabel);
    verdictRow->addWidget(FReasonLabel, 1);

    const RProcedureFrame frame =
        BuildProcedureFrame(this, content,
                            {"Bump", "BumpStepLabel", "BumpStepBtn", "BumpStartBtn", "Start", "BumpCancelBtn",
                             "BumpCloseBtn"},
                            verdictRow);
    FStepLabel = frame.mStep;
    FCountdown = frame.mCountdown;
    FStepBtn = frame.mStepBtn;
    FStartBtn = frame.mStart;
    FCancelBtn = frame.mCancel;
    FCloseBtn = frame.mClose;
    FMainLayout = frame.mMain;
    setMinimumWidth(520);

    connect(FStartBtn, &QPushButton::clicked, this, &TBumpTestDlg::StartBtnClick);
    connect(FStepBtn, &QPushButton::clicked, this, &TBumpTestDlg::StepBtnClick);
    connect(FCancelBtn, &QPushButton::clicked, this, &TBumpTestDlg::CancelBtnClick);
    connect(FCloseBtn, &QPushButton::clicked, this, &QDialog::close);
    connect(FCylinderCombo, &QComboBox::currentIndexChanged, this, [this] { CylinderPicked(); });
    FPassTimer.setSingleShot(true);
    FPassTimer.setTimerType(Qt::PreciseTimer);
    connect(&FPassTimer, &QTimer::timeout, this, &TBumpTestDlg::RunPass);

    FTest.SetConfirmSteps(true);
    if (FCylinders.empty())
        FReasonLabel->setText(QStringLiteral("No cylinder in service: add one on the Cylinders page of the Service "
                                             "Records window."));
    FLive->SetSetPoints(QStringLiteral("alarm set points: read at Start"));
    ShowRunning(false);
}

TBumpTestDlg::~TBumpTestDlg()
{
    FPassTimer.stop();
    // A test still running when the dialog goes away ends as stopped.
    FTest.Shutdown();
}

void TBumpTestDlg::SetNote(const QString &text) { FReasonLabel->setText(text); }

bool TBumpTestDlg::SelectCylinder(int64_t id)
{
    for (size_t i = 0; i < FCylinders.size(); ++i) {
        if (FCylinders[i].mId == id) {
            FCylinderCombo->setCurrentIndex(static_cast<int>(i));
            return true;
        }
    }
    return false;
}

void TBumpTestDlg::UseSimulator(SimDetector &sim)
{
    if (FSimGas)
        return;
    FSimGas = new TSimGasPanel(sim, SimSensorUnit(sim, FSession.SensorTypes), this);
    FMainLayout->insertWidget(FMainLayout->count() - 1, FSimGas);
    CylinderPicked();
}

void TBumpTestDlg::CylinderPicked()
{
    const int index = FCylinderCombo->currentIndex();
    if (FSimGas && index >= 0 && index < static_cast<int>(FCylinders.size()))
        FSimGas->SetValue(FCylinders[static_cast<size_t>(index)].mConcentration / 10.0);
}

void TBumpTestDlg::ShowRunning(bool running)
{
    FStartBtn->setEnabled(!running && !FCylinders.empty());
    FCylinderCombo->setEnabled(!running);
    FWithinSpin->setEnabled(!running);
    FCancelBtn->setEnabled(running);
    FCloseBtn->setEnabled(!running);
    FStepBtn->setEnabled(running && FTest.AwaitingStep());
}

void TBumpTestDlg::StartBtnClick()
{
    const int index = FCylinderCombo->currentIndex();
    if (FTest.Running() || FInPass || index < 0 || index >= static_cast<int>(FCylinders.size()))
        return;
    for (QLabel *label : {FBaselineLabel, FPeakLabel, FAlarmLabel, FFlagsLabel, FRecoveryLabel, FCriteriaLabel})
        label->setText(QStringLiteral("-"));
    FResultLabel->clear();
    FReasonLabel->clear();
    FStepLabel->clear();
    FLive->Clear();
    FCountdown->Clear();
    FSteps->SetCurrent(-1);
    FGasSince = FLastReadingAt = 0;
    FLastFlags = 0;
    FHaveReading = false;
    FStepBtn->setText(QStringLiteral("Gas applied"));
    FUnit = FCylinders[static_cast<size_t>(index)].mUnit;
    FTest.SetWithin(FWithinSpin->value());
    FInPass = true;
    ShowRunning(true);
    const bool running = FTest.Start(FCylinders[static_cast<size_t>(index)]);
    FInPass = false;
    ShowRunning(running);
    if (running) {
        const RBumpCriteria &c = FTest.Result().mCriteria;
        QString criteria = QStringLiteral("LOW alarm at %1 %2 within %3 s")
                               .arg(Q(TenthsText(c.mAlarmLow)), Q(FUnit))
                               .arg(c.mWithin);
        if (c.mPeakRule)
            criteria += QStringLiteral("; peak %1 to %2 %3").arg(Q(TenthsText(c.mPeakMin)), Q(TenthsText(c.mPeakMax)), Q(FUnit));
        FCriteriaLabel->setText(criteria);
        FLive->SetSetPoints(QStringLiteral("alarm set points: LOW %1 %3, HIGH %2 %3")
                                .arg(Q(TenthsText(c.mAlarmLow)), Q(TenthsText(c.mAlarmHigh)), Q(FUnit)));
        Refresh();
        SchedulePass();
    }
}

void TBumpTestDlg::StepBtnClick()
{
    FTest.Confirm();
    ShowRunning(FTest.Running());
    Refresh();
    SchedulePass();
}

void TBumpTestDlg::CancelBtnClick()
{
    FTest.Cancel();
    SchedulePass();
}

void TBumpTestDlg::SchedulePass()
{
    if (FInPass)
        return;
    if (!FTest.Running()) {
        FPassTimer.stop();
        return;
    }
    FPassTimer.start(MillisecondsUntil(FClock, FTest.NextDue()));
}

void TBumpTestDlg::RunPass()
{
    if (FInPass)
        return;
    FInPass = true;
    FTest.Pass();
    FInPass = false;
    ShowRunning(FTest.Running());
    Refresh();
    SchedulePass();
}

void TBumpTestDlg::Refresh()
{
    const RBumpResult &r = FTest.Result();
    const auto tenths = [this](const std::optional<int32_t> &v) {
        return v ? Q(TenthsText(*v) + " " + FUnit) : QStringLiteral("-");
    };
    const EBumpPhase phase = FTest.Phase();
    const bool underGas = FGasSince != 0;
    FBaselineLabel->setText(tenths(r.mBaseline));
    FPeakLabel->setText(tenths(r.mPeak));
    if (r.mSecondsToAlarm)
        FAlarmLabel->setText(QStringLiteral("after %1 s").arg(*r.mSecondsToAlarm));
    else if (FTest.Verdict() || phase == EBumpPhase::kDone)
        FAlarmLabel->setText(underGas ? QStringLiteral("never") : QStringLiteral("-"));
    else
        FAlarmLabel->setText(phase == EBumpPhase::kWatch ? QStringLiteral("not yet") : QStringLiteral("-"));
    FFlagsLabel->setText(underGas ? Q(AlarmFlagNames(r.mAlarmFlags)) : QStringLiteral("-"));
    FRecoveryLabel->setText(r.mRecoverySeconds ? QStringLiteral("%1 s").arg(*r.mRecoverySeconds) : QStringLiteral("-"));

    if (FHaveReading) {
        // One clock: the time since the gas went on, as the alarm's time is counted.
        const QString when = underGas && FLastReadingAt >= FGasSince
                                 ? QStringLiteral("%1 s after the gas").arg(WholeSeconds(FGasSince, FLastReadingAt))
                                 : QStringLiteral("before the gas");
        FLive->SetDetail(QStringLiteral("alarm flags now: %1; %2").arg(Q(AlarmFlagNames(FLastFlags)), when));
    }
    if (!FTest.Running()) {
        FCountdown->Clear();
        return;
    }
    QString what;
    switch (phase) {
    case EBumpPhase::kBaseline: what = QStringLiteral("clean-air readings"); break;
    case EBumpPhase::kApplyGas: what = QStringLiteral("to apply the gas"); break;
    case EBumpPhase::kWatch: what = QStringLiteral("for the LOW alarm"); break;
    case EBumpPhase::kRemoveGas: what = QStringLiteral("to remove the gas"); break;
    case EBumpPhase::kRecovery: what = QStringLiteral("for the recovery"); break;
    case EBumpPhase::kIdle:
    case EBumpPhase::kDone: break;
    }
    FCountdown->Show(what, FClock.Now(), FTest.WaitEnds());
}

void TBumpTestDlg::ShowVerdict(bool passed)
{
    FResultLabel->setText(passed ? QStringLiteral("PASS") : QStringLiteral("FAIL"));
    SetTextColour(FResultLabel, passed ? QColor(0, 128, 0) : QColor(192, 0, 0));
}

// --- IBumpTestView ---------------------------------------------------------

void TBumpTestDlg::PhaseChanged(EBumpPhase phase, const std::string &text)
{
    // The line of what to do now: a gas step's own text, shown once.
    FStepLabel->setText(Q(text));
    switch (phase) {
    case EBumpPhase::kBaseline: FSteps->SetCurrent(0); break;
    case EBumpPhase::kApplyGas: FSteps->SetCurrent(1); break;
    case EBumpPhase::kWatch:
        FSteps->SetCurrent(2);
        FGasSince = FTest.PhaseStart();
        break;
    case EBumpPhase::kRemoveGas: FSteps->SetCurrent(3); break;
    case EBumpPhase::kRecovery: FSteps->SetCurrent(4); break;
    case EBumpPhase::kIdle:
    case EBumpPhase::kDone: break;
    }
    if (phase == EBumpPhase::kWatch || phase == EBumpPhase::kRecovery || phase == EBumpPhase::kDone)
        FStepBtn->setEnabled(false);
}

void TBumpTestDlg::StepShown(EGasStep step, const std::string &)
{
    FStepBtn->setText(step == EGasStep::kApply ? QStringLiteral("Gas applied") : QStringLiteral("Gas removed"));
    FStepBtn->setEnabled(FTest.AwaitingStep());
    // "Remove gas" follows the verdict: shown now, reported after the recovery.
    if (step == EGasStep::kRemove && FTest.Verdict()) {
        const bool passed = *FTest.Verdict();
        ShowVerdict(passed);
        const QString reason = Q(FTest.Result().mReason);
        FReasonLabel->setText((reason.isEmpty() ? QString() : reason + QStringLiteral("\n")) +
                              QStringLiteral("Remove the gas: the recovery is recorded, then the detector is sent %1.")
                                  .arg(passed ? QStringLiteral("Bump Pass") : QStringLiteral("Bump Fail")));
    }
}

void TBumpTestDlg::ReadingShown(const RTamselSensor &reading, int32_t tenths, double)
{
    FLive->SetReading(tenths == kOverRangeTenths ? QStringLiteral("over range") : Q(TenthsText(tenths) + " " + FUnit));
    FLastFlags = reading.mAlarm;
    FLastReadingAt = FClock.Now();
    FHaveReading = true;
}

void TBumpTestDlg::Finished(const RBumpResult &r)
{
    Refresh();
    // Nothing more to do: the verdict below says how it ended.
    FStepLabel->clear();
    FStepBtn->setEnabled(false);
    FCountdown->Clear();
    switch (r.mOutcome) {
    case EBumpOutcome::kPass:
    case EBumpOutcome::kFail:
        ShowVerdict(r.mOutcome == EBumpOutcome::kPass);
        FSteps->SetAllDone();
        break;
    default:
        FResultLabel->setText(r.mOutcome == EBumpOutcome::kRefused   ? QStringLiteral("Refused")
                              : r.mOutcome == EBumpOutcome::kStopped ? QStringLiteral("Stopped")
                                                                     : QStringLiteral("Not done"));
        SetTextColour(FResultLabel, QColor(128, 0, 0));
        break;
    }
    QString reason = Q(r.mReason);
    if (r.mReportCode != 0)
        reason += QStringLiteral("%1The detector was sent %2%3.")
                      .arg(reason.isEmpty() ? QString() : QStringLiteral("\n"),
                           r.mReportCode == wire::kCalBumpPass ? QStringLiteral("Bump Pass") : QStringLiteral("Bump Fail"),
                           r.mReportStatus == 0 ? QString() : QStringLiteral(", which it did not take"));
    FReasonLabel->setText(reason);
}
