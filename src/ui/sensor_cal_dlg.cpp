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
QString Q(const std::string &text) { return QString::fromStdString(text); }
} // namespace

TSensorCalDlg::TSensorCalDlg(TSession &session, QWidget *parent, IScreen *screen)
    : TGuardedDialog(parent), FOwnScreen(screen ? nullptr : std::make_unique<TToolDialogScreen>(this)),
      FClock(session.Clock()), FCal(session, screen ? *screen : *FOwnScreen, *this),
      FEvidence(session, screen ? *screen : *FOwnScreen, FCal, *this), FTolerance(session.RecordsCFG.mCalTolerance)
{
    setObjectName(QStringLiteral("SensorCalDlg"));
    setWindowTitle(QStringLiteral("Sensor Calibration"));

    SpanGasLabel = new QLabel(QStringLiteral("Span Gas"), this);
    SpanGasLabel->setObjectName(QStringLiteral("SpanGasLabel"));
    SpanGasSpin = new QDoubleSpinBox(this);
    SpanGasSpin->setObjectName(QStringLiteral("SpanGasSpin"));
    SpanGasSpin->setDecimals(1);
    SpanGasSpin->setSingleStep(0.1);
    CalUnitLabel = new QLabel(this);
    CalUnitLabel->setObjectName(QStringLiteral("CalUnitLabel"));
    auto *spanRow = new QHBoxLayout;
    spanRow->addWidget(SpanGasLabel);
    spanRow->addWidget(SpanGasSpin, 1);
    spanRow->addWidget(CalUnitLabel);

    CalProgressBar = new QProgressBar(this);
    CalProgressBar->setObjectName(QStringLiteral("CalProgressBar"));
    CalProgressBar->setTextVisible(false);
    CalProgressBar->setRange(0, 1);
    CalProgressBar->setValue(0);

    auto *lines = new QVBoxLayout;
    const char *names[] = {"CalLabel", "CalLabel1", "CalLabel2"};
    for (size_t i = 0; i < FStatusLines.size(); ++i) {
        FStatusLines[i] = new QLabel(this);
        FStatusLines[i]->setObjectName(QString::fromLatin1(names[i]));
        FStatusLines[i]->setMinimumWidth(320);
        lines->addWidget(FStatusLines[i]);
    }

    CalBtn = Button("Calibration", "CalBtn", this);
    CalAbortBtn = Button("Cancel", "CalAbortBtn", this);
    CloseBtn = Button("Close", "CloseBtn", this);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(CalBtn);
    buttons->addWidget(CalAbortBtn);
    buttons->addStretch();
    buttons->addWidget(CloseBtn);

    // The cylinder, and what was measured against it.
    CylinderCombo = new QComboBox(this);
    CylinderCombo->setObjectName(QStringLiteral("CalCylinderCombo"));
    CylinderCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    CylinderCombo->setMinimumContentsLength(28);
    CylinderCombo->addItem(QStringLiteral("None: span gas as entered, no certificate"));
    auto *cylinderRow = new QHBoxLayout;
    cylinderRow->addWidget(new QLabel(QStringLiteral("Cylinder"), this));
    cylinderRow->addWidget(CylinderCombo, 1);
    auto *evidenceBox = new QGroupBox(QStringLiteral("Measured against the cylinder"), this);
    evidenceBox->setObjectName(QStringLiteral("CalEvidenceBox"));
    StepLabel = new QLabel(evidenceBox);
    StepLabel->setObjectName(QStringLiteral("CalStepLabel"));
    StepLabel->setWordWrap(true);
    QFont big = StepLabel->font();
    big.setPixelSize(18);
    big.setBold(true);
    StepLabel->setFont(big);
    StepBtn = Button("Done", "CalStepBtn", evidenceBox);
    ReadingLabel = new QLabel(evidenceBox);
    ReadingLabel->setObjectName(QStringLiteral("CalReadingLabel"));
    auto *stepRow = new QHBoxLayout;
    stepRow->addWidget(StepLabel, 1);
    stepRow->addWidget(StepBtn);
    auto *grid = new QFormLayout;
    const char *measureNames[] = {"CalFoundZeroLabel", "CalFoundSpanLabel", "CalLeftSpanLabel", "CalLeftZeroLabel"};
    const char *measureCaptions[] = {"As found, clean air", "As found, under gas", "As left, under gas",
                                     "As left, clean air"};
    for (size_t i = 0; i < FMeasures.size(); ++i) {
        FMeasures[i] = new QLabel(QStringLiteral("-"), evidenceBox);
        FMeasures[i]->setObjectName(QString::fromLatin1(measureNames[i]));
        grid->addRow(QString::fromLatin1(measureCaptions[i]), FMeasures[i]);
    }
    ResultLabel = new QLabel(evidenceBox);
    ResultLabel->setObjectName(QStringLiteral("CalResultLabel"));
    ResultLabel->setWordWrap(true);
    ResultLabel->setFont(big);
    auto *evidenceLayout = new QVBoxLayout(evidenceBox);
    evidenceLayout->addLayout(stepRow);
    evidenceLayout->addWidget(ReadingLabel);
    evidenceLayout->addLayout(grid);
    evidenceLayout->addWidget(ResultLabel);
    evidenceBox->setMinimumWidth(360);
    evidenceBox->hide();

    // The procedure on the left, what was measured against the cylinder
    // beside it: the dialog stays low enough for a small screen.
    auto *procedure = new QVBoxLayout;
    procedure->addLayout(cylinderRow);
    procedure->addLayout(spanRow);
    procedure->addWidget(CalProgressBar);
    procedure->addLayout(lines);
    procedure->addStretch(1);
    procedure->addLayout(buttons);
    auto *main = new QHBoxLayout(this);
    main->addLayout(procedure);
    main->addWidget(evidenceBox);
    main->setSizeConstraint(QLayout::SetFixedSize); // fixed dialog border

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

bool TSensorCalDlg::Prepare(const RTamselCFG &mCFG) { return FCal.Open(mCFG); }

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
        FEvidence.SetTolerance(FTolerance);
        running = FEvidence.Start(*cylinder);
    } else {
        FCal.SetSpanEntry(SpanGasSpin->value());
        running = FCal.Start();
    }
    FInPass = false;
    ShowButtons();
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

const RGasCylinder *TSensorCalDlg::PickedCylinder() const
{
    const int index = CylinderCombo->currentIndex() - 1;
    return index >= 0 && index < static_cast<int>(FCylinders.size()) ? &FCylinders[static_cast<size_t>(index)] : nullptr;
}

void TSensorCalDlg::CylinderPicked()
{
    const RGasCylinder *cylinder = PickedCylinder();
    // With a cylinder the span gas is its concentration.
    if (cylinder)
        SpanValueChanged(cylinder->mConcentration / 10.0);
    if (QWidget *box = findChild<QWidget *>(QStringLiteral("CalEvidenceBox")))
        box->setVisible(cylinder != nullptr);
    ShowButtons();
    if (isVisible()) {
        adjustSize();
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
    ReadingLabel->setText(Q(text));
    if (phase == ECalEvidencePhase::kProcedure || phase == ECalEvidencePhase::kDone)
        StepLabel->clear();
    if (phase != ECalEvidencePhase::kDone)
        return;
    const RCalEvidence &e = FEvidence.Evidence();
    switch (e.mOutcome) {
    case ECalEvidenceOutcome::kPass: ResultLabel->setText(QStringLiteral("PASS: as left within tolerance")); break;
    case ECalEvidenceOutcome::kFail: ResultLabel->setText(QStringLiteral("FAIL: ") + Q(e.mReason)); break;
    default: ResultLabel->setText(QStringLiteral("Not certified") + (e.mReason.empty() ? QString() : QStringLiteral(": ") + Q(e.mReason)));
    }
    ShowButtons();
}

void TSensorCalDlg::EvidenceStepShown(EGasStep step, const std::string &text)
{
    StepLabel->setText(Q(text));
    StepBtn->setText(step == EGasStep::kApply ? QStringLiteral("Gas applied") : QStringLiteral("Gas removed"));
    ShowButtons();
}

void TSensorCalDlg::EvidenceReading(const RTamselSensor &, int32_t tenths)
{
    ReadingLabel->setText(QStringLiteral("Reading %1 %2").arg(Q(TenthsText(tenths)), CalUnitLabel->text()));
}

void TSensorCalDlg::MeasuresChanged(const RCalEvidence &e)
{
    const RGasCylinder *cylinder = &FEvidence.Cylinder();
    const auto show = [&](QLabel *label, const std::optional<RCalReading> &m, int32_t expected) {
        if (!m)
            return;
        label->setText(QStringLiteral("%1 %2 (%3)%4")
                           .arg(Q(TenthsText(m->mValue)), Q(e.mUnit),
                                Q(PermilleText(DeviationPermille(m->mValue, expected, cylinder->mConcentration))),
                                m->mStable ? QString() : QStringLiteral(", did not settle")));
    };
    show(FMeasures[0], e.mFound.mZero, e.mClean);
    show(FMeasures[1], e.mFound.mSpan, cylinder->mConcentration);
    show(FMeasures[2], e.mLeft.mSpan, cylinder->mConcentration);
    show(FMeasures[3], e.mLeft.mZero, e.mClean);
}
