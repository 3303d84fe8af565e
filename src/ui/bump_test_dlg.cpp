#include "ui/bump_test_dlg.h"

#include <QCloseEvent>
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
#include "ui/screen_fit.h"
#include "ui/tool_dialog_screen.h"

namespace {

QPushButton *Button(const char *caption, const char *name, QWidget *parent)
{
    auto *button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

QLabel *Value(const char *name, QWidget *parent)
{
    auto *label = new QLabel(QStringLiteral("-"), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QString Q(const std::string &text) { return QString::fromStdString(text); }

void Large(QLabel *label, int pixels)
{
    QFont font = label->font();
    font.setPixelSize(pixels);
    font.setBold(true);
    label->setFont(font);
}

void Colour(QLabel *label, const QColor &color)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

} // namespace

TBumpTestDlg::TBumpTestDlg(TSession &session, const std::vector<RGasCylinder> &cylinders, QWidget *parent,
                           IScreen *screen)
    : TGuardedDialog(parent), FOwnScreen(screen ? nullptr : std::make_unique<TToolDialogScreen>(this)),
      FClock(session.Clock()), FTest(session, screen ? *screen : *FOwnScreen, *this)
{
    setObjectName(QStringLiteral("BumpTestDlg"));
    setWindowTitle(QString::fromLatin1(kBumpTestCaption));

    FCylinderCombo = new QComboBox(this);
    FCylinderCombo->setObjectName(QStringLiteral("BumpCylinderCombo"));
    FCylinderCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    FCylinderCombo->setMinimumContentsLength(36);
    for (const RGasCylinder &cyl : cylinders) {
        if (cyl.mRetired)
            continue;
        FCylinders.push_back(cyl);
        FCylinderCombo->addItem(CylinderChoiceText(cyl));
    }
    FWithinSpin = new QSpinBox(this);
    FWithinSpin->setObjectName(QStringLiteral("BumpWithinSpin"));
    FWithinSpin->setRange(1, 3600);
    FWithinSpin->setValue(TBumpTest::kDefaultWithin);
    FWithinSpin->setSuffix(QStringLiteral(" s"));
    auto *setup = new QFormLayout;
    setup->addRow(QStringLiteral("Cylinder"), FCylinderCombo);
    setup->addRow(QStringLiteral("Alarm within"), FWithinSpin);

    // The step the technician acts on, in large type, and the button that says it is done.
    auto *stepBox = new QGroupBox(QStringLiteral("Step"), this);
    FStepLabel = new QLabel(stepBox);
    FStepLabel->setObjectName(QStringLiteral("BumpStepLabel"));
    FStepLabel->setWordWrap(true);
    FStepLabel->setMinimumHeight(48);
    Large(FStepLabel, 20);
    FStepBtn = Button("Done", "BumpStepBtn", stepBox);
    FPhaseLabel = new QLabel(stepBox);
    FPhaseLabel->setObjectName(QStringLiteral("BumpPhaseLabel"));
    FPhaseLabel->setWordWrap(true);
    FReadingLabel = new QLabel(stepBox);
    FReadingLabel->setObjectName(QStringLiteral("BumpReadingLabel"));
    auto *stepRow = new QHBoxLayout;
    stepRow->addWidget(FStepLabel, 1);
    stepRow->addWidget(FStepBtn);
    auto *stepLayout = new QVBoxLayout(stepBox);
    stepLayout->addLayout(stepRow);
    stepLayout->addWidget(FPhaseLabel);
    stepLayout->addWidget(FReadingLabel);

    auto *measured = new QGroupBox(QStringLiteral("Measured"), this);
    auto *grid = new QFormLayout(measured);
    FBaselineLabel = Value("BumpBaselineLabel", measured);
    FPeakLabel = Value("BumpPeakLabel", measured);
    FAlarmLabel = Value("BumpAlarmLabel", measured);
    FFlagsLabel = Value("BumpFlagsLabel", measured);
    FRecoveryLabel = Value("BumpRecoveryLabel", measured);
    FCriteriaLabel = Value("BumpCriteriaLabel", measured);
    FCriteriaLabel->setWordWrap(true);
    grid->addRow(QStringLiteral("Baseline (clean air)"), FBaselineLabel);
    grid->addRow(QStringLiteral("Peak under gas"), FPeakLabel);
    grid->addRow(QStringLiteral("LOW alarm"), FAlarmLabel);
    grid->addRow(QStringLiteral("Alarm flags seen"), FFlagsLabel);
    grid->addRow(QStringLiteral("Recovery"), FRecoveryLabel);
    grid->addRow(QStringLiteral("Criteria"), FCriteriaLabel);

    FResultLabel = new QLabel(this);
    FResultLabel->setObjectName(QStringLiteral("BumpResultLabel"));
    FResultLabel->setAlignment(Qt::AlignCenter);
    Large(FResultLabel, 28);
    FReasonLabel = new QLabel(this);
    FReasonLabel->setObjectName(QStringLiteral("BumpReasonLabel"));
    FReasonLabel->setWordWrap(true);
    FReasonLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

    FStartBtn = Button("Start", "BumpStartBtn", this);
    FCancelBtn = Button("Cancel", "BumpCancelBtn", this);
    FCloseBtn = Button("Close", "BumpCloseBtn", this);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(FStartBtn);
    buttons->addWidget(FCancelBtn);
    buttons->addStretch();
    buttons->addWidget(FCloseBtn);

    auto *main = new QVBoxLayout(this);
    main->addLayout(setup);
    main->addWidget(stepBox);
    main->addWidget(measured);
    main->addWidget(FResultLabel);
    main->addWidget(FReasonLabel);
    main->addLayout(buttons);
    setMinimumWidth(520);

    connect(FStartBtn, &QPushButton::clicked, this, &TBumpTestDlg::StartBtnClick);
    connect(FStepBtn, &QPushButton::clicked, this, &TBumpTestDlg::StepBtnClick);
    connect(FCancelBtn, &QPushButton::clicked, this, &TBumpTestDlg::CancelBtnClick);
    connect(FCloseBtn, &QPushButton::clicked, this, &QDialog::close);
    FPassTimer.setSingleShot(true);
    FPassTimer.setTimerType(Qt::PreciseTimer);
    connect(&FPassTimer, &QTimer::timeout, this, &TBumpTestDlg::RunPass);

    FTest.SetConfirmSteps(true);
    if (FCylinders.empty())
        FReasonLabel->setText(QStringLiteral("No cylinder in service: add one on the Cylinders page of the Service "
                                             "Records window."));
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
    FReadingLabel->clear();
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
        SchedulePass();
    }
}

void TBumpTestDlg::StepBtnClick()
{
    FTest.Confirm();
    ShowRunning(FTest.Running());
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
    SchedulePass();
}

// --- IBumpTestView ---------------------------------------------------------

void TBumpTestDlg::PhaseChanged(EBumpPhase phase, const std::string &text)
{
    FPhaseLabel->setText(Q(text));
    if (phase == EBumpPhase::kWatch || phase == EBumpPhase::kRecovery || phase == EBumpPhase::kDone)
        FStepBtn->setEnabled(false);
}

void TBumpTestDlg::StepShown(EGasStep step, const std::string &text)
{
    FStepLabel->setText(Q(text));
    FStepBtn->setText(step == EGasStep::kApply ? QStringLiteral("Gas applied") : QStringLiteral("Gas removed"));
    FStepBtn->setEnabled(FTest.AwaitingStep());
}

void TBumpTestDlg::ReadingShown(const RTamselSensor &reading, int32_t tenths, double seconds)
{
    FReadingLabel->setText(QStringLiteral("Reading %1 %2 at %3 s, alarm flags: %4")
                               .arg(Q(TenthsText(tenths)), Q(FUnit))
                               .arg(static_cast<long>(seconds))
                               .arg(Q(AlarmFlagNames(reading.mAlarm))));
}

void TBumpTestDlg::Finished(const RBumpResult &r)
{
    const auto tenths = [this](const std::optional<int32_t> &v) {
        return v ? Q(TenthsText(*v) + " " + FUnit) : QStringLiteral("-");
    };
    FBaselineLabel->setText(tenths(r.mBaseline));
    FPeakLabel->setText(tenths(r.mPeak));
    FAlarmLabel->setText(r.mSecondsToAlarm ? QStringLiteral("after %1 s").arg(*r.mSecondsToAlarm)
                                           : QStringLiteral("never"));
    FFlagsLabel->setText(Q(AlarmFlagNames(r.mAlarmFlags)));
    FRecoveryLabel->setText(r.mRecoverySeconds ? QStringLiteral("%1 s").arg(*r.mRecoverySeconds) : QStringLiteral("-"));
    FStepLabel->clear();
    FStepBtn->setEnabled(false);
    switch (r.mOutcome) {
    case EBumpOutcome::kPass:
        FResultLabel->setText(QStringLiteral("PASS"));
        Colour(FResultLabel, QColor(0, 128, 0));
        break;
    case EBumpOutcome::kFail:
        FResultLabel->setText(QStringLiteral("FAIL"));
        Colour(FResultLabel, QColor(192, 0, 0));
        break;
    default:
        FResultLabel->setText(r.mOutcome == EBumpOutcome::kRefused   ? QStringLiteral("Refused")
                              : r.mOutcome == EBumpOutcome::kStopped ? QStringLiteral("Stopped")
                                                                     : QStringLiteral("Not done"));
        Colour(FResultLabel, QColor(128, 0, 0));
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
