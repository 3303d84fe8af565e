#include "app/session.h"
#include "ui/service_test_page.h"

#include <algorithm>

#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>

#include "model/read_buf.h"
#include "ui/widget_kit.h"

using namespace kit;

namespace {

// Marks a byte cell that holds the start-up stand-in rather than data.
constexpr int kStandInRole = Qt::UserRole + 1;
const QColor kStandInText(0x9a, 0xa1, 0xaa);

QColor QtColor(RColor c)
{
    return QColor(c.r, c.g, c.b);
}

// Draws the EEPROM grid's cells: the address column on button face, a
// selected cell white on blue, every other black on white (a stand-in grey);
// text centred.
class TEEPROMCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const bool selected = (option.state & QStyle::State_Selected) && index.column() > 0;
        const REEPROMCellLook look = EEPROMCellLook(index.column(), selected);
        const QColor background =
            look.mButtonFace ? option.palette.color(QPalette::Button) : QtColor(look.mBackground);
        const bool standIn = !selected && index.data(kStandInRole).toBool();
        painter->save();
        painter->fillRect(option.rect, background);
        painter->setPen(standIn ? kStandInText : QtColor(look.mText));
        painter->setFont(option.font);
        const QString text = index.data(Qt::DisplayRole).toString();
        const QFontMetrics metrics(option.font);
        const RCellRect rect{option.rect.left(), option.rect.top(), option.rect.right() + 1,
                             option.rect.bottom() + 1};
        const RTextOrigin origin = EEPROMTextOrigin(rect, metrics.horizontalAdvance(text), metrics.height());
        painter->drawText(QPoint(origin.mLeft, origin.mTop + metrics.ascent()), text);
        painter->restore();
    }
};

} // namespace

TServiceTestPage::TServiceTestPage(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ETCTS"));
    auto *v = new QVBoxLayout(this);
    v->setContentsMargins(10, 10, 10, 10);
    v->setSpacing(8);

    FFactoryResetBtn = MakeButton("EtcFactoryResetBtn", "Factory Reset");
    FIdentifyBtn = MakeButton("EtcIdentifyBtn", "Identify");
    FActuatorBtns = {MakeButton("EtcBeepONBtn", "Beep ON"), MakeButton("EtcRLEDONBtn", "R LED ON"),
                     MakeButton("EtcLLEDONBtn", "L LED ON"), MakeButton("EtcVibratorBtn", "Vibrator")};
    FReportBtns = {MakeButton("EtcClearPeakBtn", "Clear Peak"), MakeButton("EtcBumpFailBtn", "Bump Fail"),
                   MakeButton("EtcBumpPassBtn", "Bump Pass")};
    auto *buttons = new QGridLayout;
    buttons->setHorizontalSpacing(6);
    buttons->setVerticalSpacing(6);
    // Factory Reset erases the detector's settings: it stands apart, at the
    // row's far end behind a rule, not beside the everyday Identify.
    buttons->addWidget(FIdentifyBtn, 0, 0);
    auto *apart = new QFrame;
    apart->setObjectName(QStringLiteral("EtcFactoryResetRule"));
    apart->setFrameShape(QFrame::VLine);
    apart->setFrameShadow(QFrame::Sunken);
    buttons->addWidget(apart, 0, 1, 1, 2, Qt::AlignHCenter);
    buttons->addWidget(FFactoryResetBtn, 0, 3);
    FFactoryResetBtn->setToolTip(QStringLiteral("Returns the detector's settings to the factory's"));
    for (int i = 0; i < static_cast<int>(FActuatorBtns.size()); ++i)
        buttons->addWidget(FActuatorBtns[static_cast<size_t>(i)], 1, i);
    for (int i = 0; i < static_cast<int>(FReportBtns.size()); ++i)
        buttons->addWidget(FReportBtns[static_cast<size_t>(i)], 2, i);
    buttons->setColumnStretch(4, 1);
    v->addLayout(buttons);

    auto *eeprom = new QGroupBox(QStringLiteral("EEPROM"));
    eeprom->setObjectName(QStringLiteral("EtcEEPROMGroup"));
    auto *ev = new QVBoxLayout(eeprom);
    ev->setContentsMargins(8, 8, 8, 8);
    FEEPROMReadBtn = MakeButton("EtcEEPROMReadBtn", "Read");
    FEEPROMSaveBtn = MakeButton("EtcEEPROMSaveBtn", "Save File");
    ev->addLayout(ButtonRow({FEEPROMReadBtn, FEEPROMSaveBtn}));

    FGrid = new QTableWidget(0, kEEPROMColumns);
    FGrid->setObjectName(QStringLiteral("EtcEEPROMGrid"));
    FGrid->horizontalHeader()->hide();
    FGrid->verticalHeader()->hide();
    FGrid->horizontalHeader()->setMinimumSectionSize(kEEPROMByteWidth);
    FGrid->verticalHeader()->setMinimumSectionSize(kEEPROMRowHeight);
    FGrid->verticalHeader()->setDefaultSectionSize(kEEPROMRowHeight);
    FGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    FGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    FGrid->setColumnWidth(0, kEEPROMAddressWidth);
    for (int c = 1; c < kEEPROMColumns; ++c)
        FGrid->setColumnWidth(c, kEEPROMByteWidth);
    FGrid->setSelectionMode(QAbstractItemView::ContiguousSelection);
    FGrid->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                           QAbstractItemView::AnyKeyPressed);
    FGrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    FGrid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    FGrid->setWordWrap(false);
    FGrid->setItemDelegate(new TEEPROMCellDelegate(FGrid));
    FGrid->setToolTip(QStringLiteral("Grey bytes have not been read from a detector yet"));
    const int frame = 2 * FGrid->frameWidth();
    FGrid->setFixedWidth(kEEPROMAddressWidth + (kEEPROMColumns - 1) * kEEPROMByteWidth + frame +
                         FGrid->verticalScrollBar()->sizeHint().width());
    FGrid->setMinimumHeight(16 * kEEPROMRowHeight + frame);
    ev->addWidget(FGrid, 1, Qt::AlignLeft);
    v->addWidget(eeprom, 1);

    connect(FGrid, &QTableWidget::itemChanged, this, [this](QTableWidgetItem *item) {
        {
            const QSignalBlocker block(FGrid);
            item->setData(kStandInRole, false);
        }
        if (OnCellEdited)
            OnCellEdited(item->column(), item->row(), item->text().toStdString());
    });
}

void TServiceTestPage::ShowGrid(const REEPROMGrid &grid)
{
    const QSignalBlocker block(FGrid);
    FGrid->setRowCount(grid.RowCount());
    for (int r = 0; r < grid.RowCount(); ++r) {
        for (int c = 0; c < kEEPROMColumns; ++c) {
            QTableWidgetItem *item = FGrid->item(r, c);
            if (!item) {
                item = new QTableWidgetItem;
                if (c == 0)
                    item->setFlags(Qt::ItemIsEnabled);
                else
                    item->setData(kStandInRole, true);
                FGrid->setItem(r, c, item);
            }
            item->setText(QString::fromStdString(grid.Cell(c, r)));
        }
    }
}

void TServiceTestPage::MarkRowsRead(int firstRow)
{
    const QSignalBlocker block(FGrid);
    const int end = std::min(FGrid->rowCount(), std::max(0, firstRow) + kReadBufCapacity / kEEPROMBytesPerRow);
    for (int r = std::max(0, firstRow); r < end; ++r)
        for (int c = 1; c < kEEPROMColumns; ++c)
            if (QTableWidgetItem *item = FGrid->item(r, c))
                item->setData(kStandInRole, false);
    FGrid->viewport()->update();
    FGrid->setToolTip(QString());
}

bool TServiceTestPage::IsStandIn(int nCol, int nRow) const
{
    const QTableWidgetItem *item = FGrid->item(nRow, nCol);
    return item && item->data(kStandInRole).toBool();
}
