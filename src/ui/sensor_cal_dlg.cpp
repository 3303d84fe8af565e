#include "app/session.h"
#include "ui/sensor_cal_dlg.h"

#include <QCloseEvent>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>

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
} // namespace

TSensorCalDlg::TSensorCalDlg(TSession &session, QWidget *parent, IScreen *screen)
    : QDialog(parent), FOwnScreen(screen ? nullptr : std::make_unique<TToolDialogScreen>(this)),
      FClock(session.Clock()), FCal(session, screen ? *screen : *FOwnScreen, *this)
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

    auto *main = new QVBoxLayout(this);
    main->addLayout(spanRow);
    main->addWidget(CalProgressBar);
    main->addLayout(lines);
    main->addLayout(buttons);
    main->setSizeConstraint(QLayout::SetFixedSize); // fixed dialog border

    connect(CalBtn, &QPushButton::clicked, this, &TSensorCalDlg::CalBtnClick);
    connect(CalAbortBtn, &QPushButton::clicked, this, &TSensorCalDlg::CalAbortBtnClick);
    connect(CloseBtn, &QPushButton::clicked, this, &TSensorCalDlg::CloseBtnClick);
    FPassTimer.setSingleShot(true);
    FPassTimer.setTimerType(Qt::PreciseTimer);
    connect(&FPassTimer, &QTimer::timeout, this, &TSensorCalDlg::RunPass);

    RunningChanged(false);
}

TSensorCalDlg::~TSensorCalDlg()
{
    FPassTimer.stop();
    // A procedure still running when the dialog goes away is aborted on the detector.
    FCal.Shutdown();
}

bool TSensorCalDlg::Prepare(const RTamselCFG &mCFG) { return FCal.Open(mCFG); }

int TSensorCalDlg::ShowDlg(const RTamselCFG &mCFG)
{
    if (!Prepare(mCFG))
        return QDialog::Rejected;
    return exec();
}

void TSensorCalDlg::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    FitToScreen(this);
}

void TSensorCalDlg::closeEvent(QCloseEvent *event)
{
    if (FCal.CloseAllowed())
        event->accept();
    else
        event->ignore();
}

void TSensorCalDlg::reject()
{
    if (FCal.CloseAllowed())
        QDialog::reject();
}

void TSensorCalDlg::CloseBtnClick()
{
    if (FCal.CloseAllowed())
        close();
}

void TSensorCalDlg::CalBtnClick()
{
    if (FCal.Running() || FInPass)
        return;
    FCal.SetSpanEntry(SpanGasSpin->value());
    FInPass = true;
    const bool running = FCal.Start();
    FInPass = false;
    if (running)
        SchedulePass();
}

void TSensorCalDlg::CalAbortBtnClick()
{
    FCal.Cancel();
    SchedulePass();
}

void TSensorCalDlg::SchedulePass()
{
    if (FInPass)
        return;
    if (!FCal.Running()) {
        FPassTimer.stop();
        return;
    }
    FPassTimer.start(MillisecondsUntil(FClock, FCal.NextDue()));
}

void TSensorCalDlg::RunPass()
{
    if (FInPass)
        return;
    FInPass = true;
    FCal.Pass();
    FInPass = false;
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

void TSensorCalDlg::RunningChanged(bool running)
{
    CalBtn->setEnabled(!running);
    CloseBtn->setEnabled(!running);
    CalAbortBtn->setEnabled(running);
}

void TSensorCalDlg::CalProgressChanged(int position, int max)
{
    CalProgressBar->setRange(0, std::max(max, 1));
    CalProgressBar->setValue(std::clamp(position, 0, std::max(max, 1)));
}
