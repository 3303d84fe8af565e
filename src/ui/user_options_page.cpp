#include "ui/main_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/widget_kit.h"

// The developer layout's "User Options" page: the user layout's rows, editable.

using namespace kit;

QWidget *TNorvikIRMainForm::BuildUserOptionsPage()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("UserTS"));
    auto *v = new QVBoxLayout(page);
    v->setContentsMargins(10, 10, 10, 10);
    v->setSpacing(8);

    QGridLayout *grid = MakeRowGrid();
    auto *hw = new QWidget;
    auto *hh = new QHBoxLayout(hw);
    hh->setContentsMargins(0, 0, 0, 0);
    hh->setSpacing(6);
    hh->addWidget(MakeEdit("UserOptHWVersionEdit", 110));
    QLabel *product = MakeValue("UserOptIDLabel", 150);
    product->setAlignment(Qt::AlignCenter);
    hh->addWidget(product);
    AddRow(grid, "  Hardware Version", hw);
    AddRow(grid, "  Firmware Version", MakeValue("UserOptSWVersionLabel", 110));
    QLineEdit *serial = MakeEdit("UserOptSerialEdit", 160);
    serial->setMaxLength(10);
    AddRow(grid, "  Serial Number", serial);
    auto *life = new QWidget;
    auto *lh = new QHBoxLayout(life);
    lh->setContentsMargins(0, 0, 0, 0);
    lh->setSpacing(6);
    lh->addWidget(MakeSpin("UserOptMonthLifeSpin", 70));
    lh->addWidget(MakeUnit("Months"));
    lh->addSpacing(8);
    lh->addWidget(MakeSpin("UserOptDayLifeSpin", 70));
    lh->addWidget(MakeUnit("Days"));
    AddRow(grid, "  Life Remaining", life);
    QComboBox *sensorList = MakeCombo("UserOptSensorTypeCombo");
    sensorList->setMinimumWidth(160);
    AddRow(grid, "  Sensor Type", sensorList);
    AddRow(grid, "  High Alarm", MakeSpin("UserOptHighAlarmSpin"));
    AddRow(grid, "  Low Alarm", MakeSpin("UserOptLowAlarmSpin"));
    AddRow(grid, "  Calibration Interval", WithUnit(MakeSpin("UserOptCalIntervalSpin"), "Days"));
    AddRow(grid, "  Bump Interval", WithUnit(MakeSpin("UserOptBumpIntervalSpin"), "Days"));
    AddRow(grid, "  User ID", MakeEdit("UserOptIDEdit", 110));
    AddRow(grid, "  Self Test Interval", WithUnit(MakeSpin("UserOptTestIntervalSpin"), "hours"));
    AddRow(grid, "  Display", MakeCombo("UserOptDispCombo"));
    v->addLayout(grid);

    auto *hide = new QCheckBox(QStringLiteral("Hide bump due LED flashing"));
    hide->setObjectName(QStringLiteral("UserOptHideBumpLEDCheck"));
    v->addWidget(hide);

    v->addLayout(ButtonRow({MakeButton("UserOptReadFileBtn", "Read File", 90),
                            MakeButton("UserOptReadDeviceBtn", "Read Device", 90),
                            MakeButton("UserOptWriteFileBtn", "Write File", 90),
                            MakeButton("UserOptWriteDeviceBtn", "Write Device", 90),
                            MakeButton("UserOptHibernateBtn", "Hibernate", 90)}));
    QFrame *logPanel = MakePanel("UserOptLogPanel");
    auto *ph = new QHBoxLayout(logPanel);
    ph->setContentsMargins(8, 6, 8, 6);
    ph->addWidget(MakeButton("UserOptLogSaveBtn", "Save Event Log", 140));
    v->addLayout(ButtonRow({logPanel}));

    v->addWidget(BuildFirmwarePanel(QStringLiteral("UserOptFM")));
    v->addStretch(1);
    return page;
}
