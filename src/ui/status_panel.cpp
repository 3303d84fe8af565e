#include "ui/status_panel.h"

#include <algorithm>

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>
#include <QPushButton>

#include "ui/widget_kit.h"

using namespace kit;

namespace {

constexpr int kStatusPanelHeight = 28;
constexpr int kStatusTimeWidth = 120;

} // namespace

TStatusPanel::TStatusPanel(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("StatusPanel"));
    setFixedHeight(kStatusPanelHeight);
    auto *h = new QHBoxLayout(this);
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
    FStatusLabel = label("StatusLabel");
    FStatusLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    FTimeLabel = label("StatusTimeLabel");
    // Wide enough for the clock in the font it gets (a face wider than Arial
    // stands in for it where Arial is missing).
    const int clockWidth = QFontMetrics(bold).horizontalAdvance(QStringLiteral("00-00-00 00:00:00")) +
                           2 * FTimeLabel->frameWidth() + 8;
    FTimeLabel->setFixedWidth(std::max(kStatusTimeWidth, clockWidth));

    FAdapterCheckBtn = new QPushButton(QStringLiteral("Check adapter..."));
    FAdapterCheckBtn->setObjectName(QStringLiteral("AdapterCheckBtn"));
    FAdapterCheckBtn->setToolTip(
        QStringLiteral("What stops this computer from reaching the infrared adapter, and what to do about it"));
    FAdapterCheckBtn->setAutoDefault(false);
    FAdapterCheckBtn->setFixedHeight(kStatusPanelHeight - 2);
    FAdapterCheckBtn->hide();

    FSimulatedLabel = label("SimulatedLabel");
    FSimulatedLabel->setText(QStringLiteral("SIMULATED DETECTOR"));
    FSimulatedLabel->setToolTip(QStringLiteral("The program talks to a simulated detector: nothing it does is real"));
    QPalette amber = FSimulatedLabel->palette();
    amber.setColor(QPalette::Window, QColor(255, 200, 0));
    FSimulatedLabel->setPalette(amber);
    FSimulatedLabel->setContentsMargins(6, 0, 6, 0);
    FSimulatedLabel->hide();

    h->addWidget(FStatusLabel, 1);
    h->addWidget(FAdapterCheckBtn);
    h->addWidget(FSimulatedLabel);
    h->addWidget(FTimeLabel);
}

void TStatusPanel::ShowSimulated(bool bSimulated)
{
    FSimulatedLabel->setVisible(bSimulated);
}

void TStatusPanel::OfferAdapterCheck(bool bOffer)
{
    FAdapterCheckBtn->setVisible(bOffer);
}
