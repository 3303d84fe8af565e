#include "ui/main_window.h"

#include <algorithm>

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/widget_kit.h"

// The bottom of the window: the maker's panel and the status bar.

using namespace kit;

namespace {

constexpr int kStatusPanelHeight = 28;
constexpr int kStatusTimeWidth = 120;
constexpr int kMakerPanelHeight = 88;

} // namespace

QWidget *TNorvikIRMainForm::BuildMakerPanel()
{
    CustomerPanel = new QWidget;
    QWidget *panel = CustomerPanel;
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

    // The service records of the detector last read, in their own window.
    QPushButton *records = MakeButton("ServiceRecordsBtn", "Records...", 90);
    records->setToolTip(QStringLiteral("Service records, certificates and the due list"));
    connect(records, &QPushButton::clicked, this, [this] { ServiceRecordsBtnClick(); });
    h->addWidget(records, 0, Qt::AlignRight | Qt::AlignBottom);
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
    // Wide enough for the clock in the font it gets (a face wider than Arial
    // stands in for it where Arial is missing).
    const int clockWidth = QFontMetrics(bold).horizontalAdvance(QStringLiteral("00-00-00 00:00:00")) +
                           2 * StatusTimeLabel->frameWidth() + 8;
    StatusTimeLabel->setFixedWidth(std::max(kStatusTimeWidth, clockWidth));
    h->addWidget(StatusLabel, 1);
    h->addWidget(StatusTimeLabel);
    return StatusPanel;
}
