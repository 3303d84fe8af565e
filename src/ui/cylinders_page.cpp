#include "ui/cylinders_page.h"

#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/session.h"
#include "model/datetime.h"
#include "records/cylinder_store.h"
#include "records/location.h"
#include "records/record.h"

namespace {

QString Q(const std::string &text) { return QString::fromStdString(text); }

QTableWidgetItem *Cell(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    return item;
}

} // namespace

TCylindersPage::TCylindersPage(TSession &session, std::function<void(const QString &, bool)> say, QWidget *parent)
    : QWidget(parent), FSession(session), FSay(std::move(say))
{
    setObjectName(QStringLiteral("CylindersPage"));
    FTable = new QTableWidget(0, 8, this);
    FTable->setObjectName(QStringLiteral("CylindersTable"));
    FTable->setHorizontalHeaderLabels({QStringLiteral("Id"), QStringLiteral("Gas"), QStringLiteral("Concentration"),
                                       QStringLiteral("Lot"), QStringLiteral("Expires"), QStringLiteral("Balance"),
                                       QStringLiteral("Maker"), QStringLiteral("State")});
    FTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    FTable->setSelectionMode(QAbstractItemView::SingleSelection);
    FTable->verticalHeader()->hide();
    FTable->horizontalHeader()->setStretchLastSection(true);

    FGasCombo = new QComboBox(this);
    FGasCombo->setObjectName(QStringLiteral("CylinderGasCombo"));
    for (const RSensorType &t : session.SensorTypes)
        FGasCombo->addItem(QStringLiteral("%1 (%2)").arg(Q(t.mName), Q(t.mUnit)), Q(t.mName));
    FConcentrationSpin = new QDoubleSpinBox(this);
    FConcentrationSpin->setObjectName(QStringLiteral("CylinderConcentrationSpin"));
    FConcentrationSpin->setDecimals(1);
    FConcentrationSpin->setRange(0, 3276.7);
    FLotEdit = new QLineEdit(this);
    FLotEdit->setObjectName(QStringLiteral("CylinderLotEdit"));
    FExpiresEdit = new QDateEdit(QDate::currentDate().addYears(1), this);
    FExpiresEdit->setObjectName(QStringLiteral("CylinderExpiresEdit"));
    FExpiresEdit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    FExpiresEdit->setCalendarPopup(true);
    FBalanceEdit = new QLineEdit(this);
    FBalanceEdit->setObjectName(QStringLiteral("CylinderBalanceEdit"));
    FBalanceEdit->setPlaceholderText(QStringLiteral("N2, air"));
    FMakerEdit = new QLineEdit(this);
    FMakerEdit->setObjectName(QStringLiteral("CylinderMakerEdit"));
    FAddBtn = new QPushButton(QStringLiteral("Add Cylinder"), this);
    FAddBtn->setObjectName(QStringLiteral("CylinderAddBtn"));
    FAddBtn->setAutoDefault(false);
    FRetireBtn = new QPushButton(QStringLiteral("Retire"), this);
    FRetireBtn->setObjectName(QStringLiteral("CylinderRetireBtn"));
    FRetireBtn->setAutoDefault(false);
    FRetireBtn->setEnabled(false);

    // The form in two columns, so the page fits a small screen.
    auto *left = new QFormLayout;
    left->addRow(QStringLiteral("Gas"), FGasCombo);
    left->addRow(QStringLiteral("Concentration"), FConcentrationSpin);
    left->addRow(QStringLiteral("Lot"), FLotEdit);
    auto *right = new QFormLayout;
    right->addRow(QStringLiteral("Expires"), FExpiresEdit);
    right->addRow(QStringLiteral("Balance gas"), FBalanceEdit);
    right->addRow(QStringLiteral("Maker"), FMakerEdit);
    auto *form = new QHBoxLayout;
    form->addLayout(left, 1);
    form->addLayout(right, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(FAddBtn);
    buttons->addStretch(1);
    buttons->addWidget(FRetireBtn);

    auto *v = new QVBoxLayout(this);
    v->addWidget(FTable, 1);
    v->addLayout(form);
    v->addLayout(buttons);

    connect(FAddBtn, &QPushButton::clicked, this, [this] { AddBtnClick(); });
    connect(FRetireBtn, &QPushButton::clicked, this, [this] { RetireBtnClick(); });
    connect(FTable, &QTableWidget::itemSelectionChanged, this, [this] { SelectionChanged(); });
}

void TCylindersPage::SetStore(TRecordStore *store)
{
    FStore = store;
    Fill();
}

void TCylindersPage::Fill()
{
    FCylinders.clear();
    FTable->setRowCount(0);
    FAddBtn->setEnabled(FStore != nullptr);
    if (!FStore) {
        SelectionChanged();
        return;
    }
    QString error;
    if (!ListCylinders(*FStore, FCylinders, error)) {
        FSay(QStringLiteral("The cylinders could not be read: ") + error, true);
        FCylinders.clear();
    }
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    FTable->setRowCount(static_cast<int>(FCylinders.size()));
    for (int row = 0; row < static_cast<int>(FCylinders.size()); ++row) {
        const RGasCylinder &c = FCylinders[static_cast<size_t>(row)];
        const QString state = c.mRetired                    ? QStringLiteral("retired")
                              : Q(c.mExpires) < today ? QStringLiteral("expired")
                                                            : QStringLiteral("in service");
        const QStringList cells = {QString::number(c.mId), Q(c.mGas),
                                   Q(TenthsText(c.mConcentration) + " " + c.mUnit), VisibleText(Q(c.mLot)),
                                   Q(c.mExpires), VisibleText(Q(c.mBalance)), VisibleText(Q(c.mMaker)), state};
        for (int col = 0; col < static_cast<int>(cells.size()); ++col) {
            QTableWidgetItem *item = Cell(cells[col]);
            if (c.mRetired || state == QLatin1String("expired"))
                item->setForeground(Qt::gray);
            FTable->setItem(row, col, item);
        }
    }
    FTable->resizeColumnsToContents();
    SelectionChanged();
}

void TCylindersPage::AddBtnClick()
{
    if (!FStore)
        return;
    RGasCylinder cylinder;
    const std::string why =
        MakeCylinder(FGasCombo->currentData().toString().toStdString(), FConcentrationSpin->value(),
                     FLotEdit->text().trimmed().toStdString(),
                     FExpiresEdit->date().toString(QStringLiteral("yyyy-MM-dd")).toStdString(),
                     FBalanceEdit->text().trimmed().toStdString(), FMakerEdit->text().trimmed().toStdString(),
                     FSession.SensorTypes, cylinder);
    if (!why.empty()) {
        FSay(QStringLiteral("The cylinder was not added: ") + Q(why), true);
        return;
    }
    QString error;
    std::vector<RGasCylinder> kept;
    if (!ListCylinders(*FStore, kept, error)) {
        FSay(QStringLiteral("The cylinder was not added: ") + error, true);
        return;
    }
    if (const std::string refused = CylinderEntryRefusal(cylinder, kept, LocalDateText(Now())); !refused.empty()) {
        FSay(QStringLiteral("The cylinder was not added: ") + Q(refused), true);
        return;
    }
    if (!AddCylinder(*FStore, cylinder, LoginName(), error)) {
        FSay(QStringLiteral("The cylinder was not added: ") + error, true);
        return;
    }
    FLotEdit->clear();
    Fill();
    FSay(QStringLiteral("Cylinder %1 added: %2").arg(cylinder.mId).arg(Q(CylinderText(cylinder))), false);
}

void TCylindersPage::RetireBtnClick()
{
    const QList<QTableWidgetItem *> items = FTable->selectedItems();
    if (!FStore || items.isEmpty())
        return;
    const int row = items.front()->row();
    if (row < 0 || row >= static_cast<int>(FCylinders.size()))
        return;
    const qint64 id = FCylinders[static_cast<size_t>(row)].mId;
    QString error;
    if (!RetireCylinder(*FStore, id, error)) {
        FSay(QStringLiteral("Cylinder %1 was not retired: %2").arg(id).arg(error.isEmpty() ? QStringLiteral("no such cylinder") : error), true);
        return;
    }
    Fill();
    FSay(QStringLiteral("Cylinder %1 retired: no test or calibration may use it any more.").arg(id), false);
}

void TCylindersPage::SelectionChanged()
{
    const QList<QTableWidgetItem *> items = FTable->selectedItems();
    const int row = items.isEmpty() ? -1 : items.front()->row();
    FRetireBtn->setEnabled(FStore && row >= 0 && row < static_cast<int>(FCylinders.size()) &&
                           !FCylinders[static_cast<size_t>(row)].mRetired);
}
