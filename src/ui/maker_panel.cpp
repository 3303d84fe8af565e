#include "ui/maker_panel.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/widget_kit.h"

using namespace kit;

namespace {

constexpr int kMakerPanelHeight = 88;

} // namespace

TMakerPanel::TMakerPanel(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("CustomerPanel"));
    setAttribute(Qt::WA_StyledBackground, true);
    setFixedHeight(kMakerPanelHeight);
    auto *h = new QHBoxLayout(this);
    h->setContentsMargins(12, 8, 12, 8);
    // 16 between the logo and the texts, less before the buttons: the
    // narrow user layout keeps the whole address beside two buttons.
    h->setSpacing(4);

    FLogo = new QLabel;
    FLogo->setObjectName(QStringLiteral("CustomerImage"));
    FLogo->setPixmap(QPixmap(QStringLiteral(":/beamport/corvane_logo.png")));
    FLogo->setToolTip(Text(kMakerWebPage));
    FLogo->installEventFilter(this);
    h->addWidget(FLogo, 0, Qt::AlignVCenter);
    h->addSpacing(8);

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
    connect(mail, &QLabel::linkActivated, this, [this](const QString &link) {
        if (OnOpenUrl)
            OnOpenUrl(QUrl(link));
    });
    texts->addWidget(mail);
    h->addLayout(texts, 1);

    // The service records of the detector last read, in their own window.
    FRecordsBtn = MakeButton("ServiceRecordsBtn", "Records...", 90);
    FRecordsBtn->setToolTip(QStringLiteral("Service records, certificates and the due list"));
    // One template to unit after unit, above the records: the panel keeps
    // its width in the narrow user layout.
    FProgramBtn = MakeButton("ProgramUnitsBtn", "Program Units...", 108);
    FProgramBtn->setToolTip(QStringLiteral("Programs detector after detector with a stored template"));
    auto *buttons = new QVBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(FProgramBtn, 0, Qt::AlignRight);
    buttons->addWidget(FRecordsBtn, 0, Qt::AlignRight);
    h->addLayout(buttons);
}

void TMakerPanel::LogoClick()
{
    if (OnOpenUrl)
        OnOpenUrl(QUrl(Text(kMakerWebPage)));
}

bool TMakerPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == FLogo) {
        switch (event->type()) {
        case QEvent::Enter: FLogo->setCursor(Qt::PointingHandCursor); break;
        case QEvent::Leave: FLogo->unsetCursor(); break;
        case QEvent::MouseButtonRelease: {
            const auto *mouse = static_cast<QMouseEvent *>(event);
            if (mouse->button() == Qt::LeftButton && FLogo->rect().contains(mouse->position().toPoint())) {
                LogoClick();
                return true;
            }
            break;
        }
        default: break;
        }
    }
    return QWidget::eventFilter(watched, event);
}
