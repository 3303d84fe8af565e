#include "ui/user_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/firmware_panel.h"
#include "ui/widget_kit.h"

using namespace kit;

TUserPage::TUserPage(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("UserScrollContent"));
    auto *v = new QVBoxLayout;
    v->setSpacing(8);

    QGridLayout *grid = MakeRowGrid();
    const struct {
        const char *mCaption;
        const char *mName;
        std::string ConfigForm::*mField;
    } values[] = {
        {"  Hardware Version", "UserHWVersionLabel", &ConfigForm::mUserHWVersion},
        {"  Firmware Version", "UserSWVersionLabel", &ConfigForm::mUserSWVersion},
        {"  Serial Number", "UserSerialLabel", &ConfigForm::mUserSerial},
        {"  Life Remaining", "UserLifeLabel", &ConfigForm::mUserLife},
    };
    for (const auto &row : values) {
        QLabel *label = MakeValue(row.mName);
        AddRow(grid, row.mCaption, label);
        FBinding.Bind(label, row.mField);
    }
    // The sensor type is shown by name; its list is kept, hidden, so that
    // list position and table index agree in both layouts.
    auto *sensor = new QWidget;
    auto *sh = new QHBoxLayout(sensor);
    sh->setContentsMargins(0, 0, 0, 0);
    QLabel *sensorName = MakeValue("UserSensorTypeLabel");
    sh->addWidget(sensorName);
    QComboBox *hiddenList = MakeCombo("UserSensorTypeCombo");
    hiddenList->setEnabled(false);
    hiddenList->setVisible(false);
    sh->addWidget(hiddenList);
    AddRow(grid, "  Sensor Type", sensor);
    FBinding.Bind(sensorName, &ConfigForm::mUserSensorName);
    FBinding.Bind(hiddenList, &ConfigForm::mUserSensorType);

    FEditors = AddConfigRows(kUserLayoutRows, grid, FBinding);
    v->addLayout(grid);
    v->addWidget(WithMark(FEditors.mHideBumpLed));

    v->addStretch(1);

    // The actions beside the fields, never scrolled away.
    auto *actions = new QVBoxLayout;
    actions->setSpacing(8);
    FButtons = MakeConfigButtons("User", kButtonWidth);
    actions->addLayout(FButtons.mGrid);
    FCalBtn = MakeButton("UserCalBtn", "Sensor Calibration", 140);
    FBumpTestBtn = MakeButton("UserBumpTestBtn", "Bump Test...", 96);
    QFrame *calPanel = ButtonPanel("UserCalPanel", FCalBtn);
    calPanel->layout()->addWidget(FBumpTestBtn);
    actions->addLayout(ButtonRow({calPanel}));

    FFirmware = new TFirmwarePanel(QStringLiteral("UserFM"));
    actions->addWidget(FFirmware);
    SplitPage(this, v, actions, 12);
}
