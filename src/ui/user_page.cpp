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

// The user layout: one page for customers.

using namespace kit;

QWidget *TNorvikIRMainForm::BuildUserLayout()
{
    auto *content = new QWidget;
    content->setObjectName(QStringLiteral("UserScrollContent"));
    auto *v = new QVBoxLayout(content);
    v->setContentsMargins(12, 12, 12, 12);
    v->setSpacing(8);

    QGridLayout *grid = MakeRowGrid();
    AddRow(grid, "  Hardware Version", MakeValue("UserHWVersionLabel"));
    AddRow(grid, "  Firmware Version", MakeValue("UserSWVersionLabel"));
    AddRow(grid, "  Serial Number", MakeValue("UserSerialLabel"));
    AddRow(grid, "  Life Remaining", MakeValue("UserLifeLabel"));
    auto *sensor = new QWidget;
    auto *sh = new QHBoxLayout(sensor);
    sh->setContentsMargins(0, 0, 0, 0);
    sh->addWidget(MakeValue("UserSensorTypeLabel"));
    QComboBox *hiddenList = MakeCombo("UserSensorTypeCombo");
    hiddenList->setEnabled(false);
    hiddenList->setVisible(false);
    sh->addWidget(hiddenList);
    AddRow(grid, "  Sensor Type", sensor);
    AddRow(grid, "  High Alarm", MakeSpin("UserHighAlarmSpin"));
    AddRow(grid, "  Low Alarm", MakeSpin("UserLowAlarmSpin"));
    AddRow(grid, "  Calibration Interval", WithUnit(MakeSpin("UserCalIntervalSpin"), "Days"));
    AddRow(grid, "  Bump Interval", WithUnit(MakeSpin("UserBumpIntervalSpin"), "Days"));
    AddRow(grid, "  User ID", MakeEdit("UserIDEdit", 110));
    AddRow(grid, "  Self Test Interval", WithUnit(MakeSpin("UserTestIntervalSpin"), "hours"));
    AddRow(grid, "  Display", MakeCombo("UserDispCombo"));
    v->addLayout(grid);

    auto *hide = new QCheckBox(QStringLiteral("Hide bump due LED flashing"));
    hide->setObjectName(QStringLiteral("UserHideBumpLEDCheck"));
    v->addWidget(hide);

    v->addLayout(ButtonRow({MakeButton("UserReadFileBtn", "Read File"), MakeButton("UserReadDeviceBtn", "Read Device"),
                            MakeButton("UserWriteFileBtn", "Write File"),
                            MakeButton("UserWriteDeviceBtn", "Write Device"),
                            MakeButton("UserHibernateBtn", "Hibernate")}));

    QFrame *logPanel = MakePanel("UserLogPanel");
    auto *lh = new QHBoxLayout(logPanel);
    lh->setContentsMargins(8, 6, 8, 6);
    lh->addWidget(MakeButton("UserLogSaveBtn", "Save Event Log", 140));
    QFrame *calPanel = MakePanel("UserCalPanel");
    auto *ch = new QHBoxLayout(calPanel);
    ch->setContentsMargins(8, 6, 8, 6);
    ch->addWidget(MakeButton("UserCalBtn", "Sensor Calibration", 140));
    v->addLayout(ButtonRow({logPanel, calPanel}));

    v->addWidget(BuildFirmwarePanel(QStringLiteral("UserFM")));
    v->addStretch(1);
    return content;
}
