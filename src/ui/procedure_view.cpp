#include "ui/procedure_view.h"

#include <algorithm>
#include <cmath>

#include <QFontMetrics>
#include <QGridLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include "app/clock.h"

namespace {

const QColor kDoneColour(0, 110, 0);
const QColor kCurrentBackground(255, 236, 150);

} // namespace

QString CountdownText(double secondsLeft)
{
    if (secondsLeft < 0)
        return {};
    // A day count's rounding is a few microseconds: not a second more.
    const int left = static_cast<int>(std::ceil(secondsLeft - 1e-3));
    if (left < 60)
        return QStringLiteral("%1 s left").arg(left);
    return QStringLiteral("%1:%2 left").arg(left / 60).arg(left % 60, 2, 10, QLatin1Char('0'));
}

int WholeSeconds(TDateTime from, TDateTime to)
{
    return static_cast<int>(std::lround((to - from) * kSecondsPerDayF));
}

void SetLargeFont(QLabel *label, int pixels)
{
    QFont font = label->font();
    font.setPixelSize(pixels);
    font.setBold(true);
    label->setFont(font);
}

void SetTextColour(QLabel *label, const QColor &colour)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

void ReserveWidth(QLabel *label, const QStringList &samples)
{
    const QFontMetrics metrics(label->font());
    int width = label->minimumWidth();
    for (const QString &s : samples)
        width = std::max(width, metrics.horizontalAdvance(s) + 2 * label->margin() + 4);
    label->setMinimumWidth(width);
}

void ReserveLines(QLabel *label, int lines)
{
    const QFontMetrics metrics(label->font());
    label->setMinimumHeight(lines * metrics.lineSpacing() + 2 * label->margin() + 2);
}

// ------------------------------------------------------------------ steps

TStepList::TStepList(const QString &name, const QStringList &steps, QWidget *parent) : QFrame(parent)
{
    setObjectName(name);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    for (int i = 0; i < steps.size(); ++i) {
        auto *row = new QLabel(QStringLiteral("%1.  %2").arg(i + 1).arg(steps[i]), this);
        row->setObjectName(name + QString::number(i + 1));
        row->setMargin(3);
        row->setAutoFillBackground(true);
        // Room for the row in bold: marking it current moves nothing.
        QFont bold = row->font();
        bold.setBold(true);
        row->setMinimumWidth(QFontMetrics(bold).horizontalAdvance(row->text()) + 2 * row->margin() + 6);
        row->setMinimumHeight(QFontMetrics(bold).lineSpacing() + 2 * row->margin());
        layout->addWidget(row);
        FRows.append(row);
    }
    layout->addStretch(1);
    Paint();
}

void TStepList::SetCurrent(int index)
{
    FAllDone = false;
    FCurrent = index;
    Paint();
}

void TStepList::SetAllDone()
{
    FAllDone = true;
    FCurrent = -1;
    Paint();
}

QLabel *TStepList::Row(int index) const { return index >= 0 && index < FRows.size() ? FRows[index] : nullptr; }

void TStepList::Paint()
{
    for (int i = 0; i < FRows.size(); ++i) {
        QLabel *row = FRows[i];
        const bool current = i == FCurrent;
        const bool done = FAllDone || (FCurrent >= 0 && i < FCurrent);
        // Only a row whose mark changes is touched: a pass stays quick.
        const QString mark = current ? QStringLiteral("current") : done ? QStringLiteral("done") : QString();
        if (row->property("mark").toString() == mark && row->property("marked").toBool())
            continue;
        row->setProperty("mark", mark);
        row->setProperty("marked", true);
        QFont font = row->font();
        font.setBold(current);
        row->setFont(font);
        QPalette palette = this->palette();
        palette.setColor(QPalette::Window, current ? kCurrentBackground : palette.color(QPalette::Window));
        palette.setColor(QPalette::WindowText, done ? kDoneColour : palette.color(QPalette::WindowText));
        row->setPalette(palette);
    }
}

// ------------------------------------------------------------ live reading

TLiveReading::TLiveReading(const QString &prefix, QWidget *parent) : QFrame(parent)
{
    setObjectName(prefix + QStringLiteral("LiveBox"));
    setFrameShape(QFrame::StyledPanel);
    FValue = new QLabel(QStringLiteral("-"), this);
    FValue->setObjectName(prefix + QStringLiteral("LiveLabel"));
    FValue->setAlignment(Qt::AlignCenter);
    SetLargeFont(FValue, 34);
    ReserveWidth(FValue, {QStringLiteral("-3276.7 ppm"), QStringLiteral("over range")});
    FSetPoints = new QLabel(this);
    FSetPoints->setObjectName(prefix + QStringLiteral("SetPointsLabel"));
    FSetPoints->setAlignment(Qt::AlignCenter);
    FDetail = new QLabel(this);
    FDetail->setObjectName(prefix + QStringLiteral("LiveFlagsLabel"));
    FDetail->setAlignment(Qt::AlignCenter);
    ReserveWidth(FDetail, {QStringLiteral("alarm flags now: LOW, HIGH; 999 s after the gas")});
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->addWidget(FValue);
    layout->addWidget(FSetPoints);
    layout->addWidget(FDetail);
    layout->addStretch(1);
}

void TLiveReading::SetReading(const QString &value) { FValue->setText(value); }
void TLiveReading::SetSetPoints(const QString &text) { FSetPoints->setText(text); }
void TLiveReading::SetDetail(const QString &text) { FDetail->setText(text); }

void TLiveReading::Clear()
{
    FValue->setText(QStringLiteral("-"));
    FDetail->clear();
}

// --------------------------------------------------------------- countdown

TCountdown::TCountdown(const QString &prefix, QWidget *parent) : QFrame(parent)
{
    setObjectName(prefix + QStringLiteral("CountdownBox"));
    FWhat = new QLabel(this);
    FWhat->setObjectName(prefix + QStringLiteral("WaitLabel"));
    FWhat->setAlignment(Qt::AlignCenter);
    FWhat->setWordWrap(true);
    ReserveLines(FWhat, 2);
    FTime = new QLabel(this);
    FTime->setObjectName(prefix + QStringLiteral("CountdownLabel"));
    FTime->setAlignment(Qt::AlignCenter);
    SetLargeFont(FTime, 24);
    ReserveWidth(FTime, {QStringLiteral("88:88 left")});
    ReserveLines(FTime, 1);
    FWhat->setFixedWidth(FTime->minimumWidth() + 40);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(FWhat);
    layout->addWidget(FTime);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void TCountdown::Show(const QString &what, TDateTime now, TDateTime ends)
{
    if (ends >= kDueNever) {
        Clear();
        return;
    }
    FWhat->setText(what);
    FTime->setText(CountdownText(std::max(0.0, (ends - now) * kSecondsPerDayF)));
}

void TCountdown::Clear()
{
    FWhat->clear();
    FTime->clear();
}

// ----------------------------------------------------------------- scroll

TRoomyScroll::TRoomyScroll(const QString &name, QWidget *content, QWidget *parent) : QScrollArea(parent)
{
    setObjectName(name);
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setWidget(content);
}

QSize TRoomyScroll::sizeHint() const
{
    const int frame = 2 * frameWidth();
    return widget() ? widget()->sizeHint() + QSize(frame, frame) : QScrollArea::sizeHint();
}

QSize TRoomyScroll::minimumSizeHint() const
{
    // Narrower than the content only by what a scroll bar takes back: the
    // content scrolls down, not across.
    const int frame = 2 * frameWidth();
    const int width = widget() ? widget()->minimumSizeHint().width() + verticalScrollBar()->sizeHint().width() : 0;
    return {width + frame, 80};
}

QPushButton *ProcedureButton(const char *caption, const char *name, QWidget *parent)
{
    auto *button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

RProcedureFrame BuildProcedureFrame(QWidget *dialog, QWidget *content, const RProcedureNames &names, QLayout *between)
{
    RProcedureFrame f;
    f.mStep = new QLabel(dialog);
    f.mStep->setObjectName(QString::fromLatin1(names.mStep));
    f.mStep->setWordWrap(true);
    SetLargeFont(f.mStep, 18);
    ReserveLines(f.mStep, 2);
    f.mStep->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    f.mStep->setFixedHeight(f.mStep->minimumHeight());
    const QString prefix = QString::fromLatin1(names.mPrefix);
    f.mCountdown = new TCountdown(prefix, dialog);
    f.mStepBtn = ProcedureButton("Gas applied", names.mStepBtn, dialog);
    f.mStepBtn->setFixedWidth(
        std::max({f.mStepBtn->sizeHint().width(),
                  f.mStepBtn->fontMetrics().horizontalAdvance(QStringLiteral("Gas removed")) + 24, 110}));
    QSizePolicy keep = f.mStepBtn->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    f.mStepBtn->setSizePolicy(keep);
    auto *stepRow = new QHBoxLayout;
    stepRow->addWidget(f.mStep, 1);
    stepRow->addWidget(f.mCountdown);
    stepRow->addWidget(f.mStepBtn, 0, Qt::AlignVCenter);

    f.mStart = ProcedureButton(names.mStartCaption, names.mStart, dialog);
    f.mCancel = ProcedureButton("Cancel", names.mCancel, dialog);
    f.mClose = ProcedureButton("Close", names.mClose, dialog);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(f.mStart);
    buttons->addWidget(f.mCancel);
    buttons->addStretch();
    buttons->addWidget(f.mClose);

    auto *rule = new QFrame(dialog);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    f.mMain = new QVBoxLayout(dialog);
    f.mMain->addWidget(new TRoomyScroll(prefix + QStringLiteral("Scroll"), content, dialog), 1);
    f.mMain->addWidget(rule);
    f.mMain->addLayout(stepRow);
    if (between)
        f.mMain->addLayout(between);
    f.mMain->addLayout(buttons);
    return f;
}
