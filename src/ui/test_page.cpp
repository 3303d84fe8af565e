#include "ui/main_window.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/session.h"
#include "ui/widget_kit.h"

// The developer layout's "TEST" page: the test and service commands and the
// EEPROM grid.

using namespace kit;

namespace {

QColor QtColor(RColor c)
{
    return QColor(c.r, c.g, c.b);
}

// Draws the EEPROM grid's cells: the address column on button face, a
// selected cell white on blue, every other black on white; text centred.
class TEEPROMCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const bool selected = (option.state & QStyle::State_Selected) && index.column() > 0;
        const REEPROMCellLook look = EEPROMCellLook(index.column(), selected);
        const QColor background =
            look.mButtonFace ? option.palette.color(QPalette::Button) : QtColor(look.mBackground);
        painter->save();
        painter->fillRect(option.rect, background);
        painter->setPen(QtColor(look.mText));
        painter->setFont(option.font);
        const QString text = index.data(Qt::DisplayRole).toString();
        const QFontMetrics metrics(option.font);
        const RCellRect rect{option.rect.left(), option.rect.top(), option.rect.right() + 1,
                             option.rect.bottom() + 1};
        const RTextOrigin origin =
            EEPROMTextOrigin(rect, metrics.horizontalAdvance(text), metrics.height());
        painter->drawText(QPoint(origin.mLeft, origin.mTop + metrics.ascent()), text);
        painter->restore();
    }
};

} // namespace

QWidget *TNorvikIRMainForm::BuildTestPage()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("ETCTS"));
    auto *v = new QVBoxLayout(page);
    v->setContentsMargins(10, 10, 10, 10);
    v->setSpacing(8);

    auto *buttons = new QGridLayout;
    buttons->setHorizontalSpacing(6);
    buttons->setVerticalSpacing(6);
    buttons->addWidget(MakeButton("EtcFactoryResetBtn", "Factory Reset"), 0, 0);
    buttons->addWidget(MakeButton("EtcIdentifyBtn", "Identify"), 0, 1);
    buttons->addWidget(MakeButton("EtcBeepONBtn", "Beep ON"), 1, 0);
    buttons->addWidget(MakeButton("EtcRLEDONBtn", "R LED ON"), 1, 1);
    buttons->addWidget(MakeButton("EtcLLEDONBtn", "L LED ON"), 1, 2);
    buttons->addWidget(MakeButton("EtcVibratorBtn", "Vibrator"), 1, 3);
    buttons->addWidget(MakeButton("EtcClearPeakBtn", "Clear Peak"), 2, 0);
    buttons->addWidget(MakeButton("EtcBumpFailBtn", "Bump Fail"), 2, 1);
    buttons->addWidget(MakeButton("EtcBumpPassBtn", "Bump Pass"), 2, 2);
    buttons->setColumnStretch(4, 1);
    v->addLayout(buttons);

    auto *eeprom = new QGroupBox(QStringLiteral("EEPROM"));
    eeprom->setObjectName(QStringLiteral("EtcEEPROMGroup"));
    auto *ev = new QVBoxLayout(eeprom);
    ev->setContentsMargins(8, 8, 8, 8);
    ev->addLayout(ButtonRow({MakeButton("EtcEEPROMReadBtn", "Read"), MakeButton("EtcEEPROMSaveBtn", "Save File")}));

    EtcEEPROMGrid = new QTableWidget(0, kEEPROMColumns);
    EtcEEPROMGrid->setObjectName(QStringLiteral("EtcEEPROMGrid"));
    EtcEEPROMGrid->horizontalHeader()->hide();
    EtcEEPROMGrid->verticalHeader()->hide();
    EtcEEPROMGrid->horizontalHeader()->setMinimumSectionSize(kEEPROMByteWidth);
    EtcEEPROMGrid->verticalHeader()->setMinimumSectionSize(kEEPROMRowHeight);
    EtcEEPROMGrid->verticalHeader()->setDefaultSectionSize(kEEPROMRowHeight);
    EtcEEPROMGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    EtcEEPROMGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    EtcEEPROMGrid->setColumnWidth(0, kEEPROMAddressWidth);
    for (int c = 1; c < kEEPROMColumns; ++c)
        EtcEEPROMGrid->setColumnWidth(c, kEEPROMByteWidth);
    EtcEEPROMGrid->setSelectionMode(QAbstractItemView::ContiguousSelection);
    EtcEEPROMGrid->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                   QAbstractItemView::AnyKeyPressed);
    EtcEEPROMGrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    EtcEEPROMGrid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    EtcEEPROMGrid->setWordWrap(false);
    EtcEEPROMGrid->setItemDelegate(new TEEPROMCellDelegate(EtcEEPROMGrid));
    const int frame = 2 * EtcEEPROMGrid->frameWidth();
    EtcEEPROMGrid->setFixedWidth(kEEPROMAddressWidth + (kEEPROMColumns - 1) * kEEPROMByteWidth + frame +
                                 EtcEEPROMGrid->verticalScrollBar()->sizeHint().width());
    EtcEEPROMGrid->setMinimumHeight(16 * kEEPROMRowHeight + frame);
    ev->addWidget(EtcEEPROMGrid, 1, Qt::AlignLeft);
    v->addWidget(eeprom, 1);
    return page;
}

void TNorvikIRMainForm::LayOutEEPROMGrid()
{
    FEEPROM = MakeEEPROMGrid(FSession.DeviceCFG.mEEPROMMaxAddress);
    ShowEEPROMGrid();
}

void TNorvikIRMainForm::ShowEEPROMGrid()
{
    const QSignalBlocker block(EtcEEPROMGrid);
    EtcEEPROMGrid->setRowCount(FEEPROM.RowCount());
    for (int r = 0; r < FEEPROM.RowCount(); ++r) {
        for (int c = 0; c < kEEPROMColumns; ++c) {
            QTableWidgetItem *item = EtcEEPROMGrid->item(r, c);
            if (!item) {
                item = new QTableWidgetItem;
                if (c == 0)
                    item->setFlags(Qt::ItemIsEnabled);
                EtcEEPROMGrid->setItem(r, c, item);
            }
            item->setText(QString::fromStdString(FEEPROM.Cell(c, r)));
        }
    }
}
