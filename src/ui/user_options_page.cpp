#include "ui/user_options_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/firmware_panel.h"
#include "ui/widget_kit.h"

using namespace kit;

TUserOptionsPage::TUserOptionsPage(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("UserTS"));
    auto *v = new QVBoxLayout;
    v->setSpacing(8);

    QGridLayout *grid = MakeRowGrid();
    auto *hw = new QWidget;
    auto *hh = new QHBoxLayout(hw);
    hh->setContentsMargins(0, 0, 0, 0);
    hh->setSpacing(6);
    QLineEdit *hwEdit = MakeEdit("UserOptHWVersionEdit", 110);
    hh->addWidget(hwEdit);
    QLabel *product = MakeValue("UserOptIDLabel", 150);
    product->setAlignment(Qt::AlignCenter);
    hh->addWidget(product);
    AddRow(grid, "  Hardware Version", hw);
    QLabel *firmware = MakeValue("UserOptSWVersionLabel", 110);
    AddRow(grid, "  Firmware Version", firmware);
    FSerialEdit = MakeEdit("UserOptSerialEdit", 160);
    FSerialEdit->setMaxLength(10);
    AddRow(grid, "  Serial Number", FSerialEdit);
    auto *life = new QWidget;
    auto *lh = new QHBoxLayout(life);
    lh->setContentsMargins(0, 0, 0, 0);
    lh->setSpacing(6);
    QDoubleSpinBox *months = MakeSpin("UserOptMonthLifeSpin", 70);
    QDoubleSpinBox *days = MakeSpin("UserOptDayLifeSpin", 70);
    lh->addWidget(months);
    lh->addWidget(MakeUnit("Months"));
    lh->addSpacing(8);
    lh->addWidget(days);
    lh->addWidget(MakeUnit("Days"));
    AddRow(grid, "  Life Remaining", life);
    FSensorTypeCombo = MakeCombo("UserOptSensorTypeCombo");
    FSensorTypeCombo->setMinimumWidth(160);
    AddRow(grid, "  Sensor Type", FSensorTypeCombo);

    FBinding.Bind(hwEdit, &ConfigForm::mDevHWVersion);
    FBinding.Bind(product, &ConfigForm::mDevProductName);
    FBinding.Bind(firmware, &ConfigForm::mDevSWVersion);
    FBinding.Bind(FSerialEdit, &ConfigForm::mDevSerial);
    FBinding.Bind(months, &ConfigForm::mDevLifeMonths);
    FBinding.Bind(days, &ConfigForm::mDevLifeDays);
    FBinding.Bind(FSensorTypeCombo, &ConfigForm::mDevSensorType);

    FEditors = AddConfigRows(kDeveloperLayoutRows, grid, FBinding);
    v->addLayout(grid);
    v->addWidget(WithMark(FEditors.mHideBumpLed));

    v->addStretch(1);

    // The actions beside the fields, never scrolled away.
    auto *actions = new QVBoxLayout;
    actions->setSpacing(8);
    FButtons = MakeConfigButtons("UserOpt", 90);
    actions->addLayout(FButtons.mGrid);
    FFirmware = new TFirmwarePanel(QStringLiteral("UserOptFM"));
    actions->addWidget(FFirmware);
    SplitPage(this, v, actions, 10);
}
