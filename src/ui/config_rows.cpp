#include "ui/config_rows.h"

#include <string>

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

#include "ui/form_binding.h"
#include "ui/widget_kit.h"

using namespace kit;

const RConfigRowFields kUserLayoutRows{"User",
                                       &ConfigForm::mUserAlarmHigh,
                                       &ConfigForm::mUserAlarmLow,
                                       &ConfigForm::mUserCalInterval,
                                       &ConfigForm::mUserBumpInterval,
                                       &ConfigForm::mUserUserId,
                                       &ConfigForm::mUserTestInterval,
                                       &ConfigForm::mUserDisplayMode,
                                       &ConfigForm::mUserHideBumpLed};

const RConfigRowFields kDeveloperLayoutRows{"UserOpt",
                                            &ConfigForm::mDevAlarmHigh,
                                            &ConfigForm::mDevAlarmLow,
                                            &ConfigForm::mDevCalInterval,
                                            &ConfigForm::mDevBumpInterval,
                                            &ConfigForm::mDevUserId,
                                            &ConfigForm::mDevTestInterval,
                                            &ConfigForm::mDevDisplayMode,
                                            &ConfigForm::mDevHideBumpLed};

namespace {

struct RName {
    std::string mText;
    RName(const char *prefix, const char *part) : mText(std::string(prefix) + part) {}
    operator const char *() const { return mText.c_str(); }
};

} // namespace

RConfigEditors AddConfigRows(const RConfigRowFields &f, QGridLayout *grid, TFormBinding &binding)
{
    const char *p = f.mPrefix;
    RConfigEditors e;
    e.mHighAlarm = MakeSpin(RName(p, "HighAlarmSpin"));
    e.mLowAlarm = MakeSpin(RName(p, "LowAlarmSpin"));
    e.mCalInterval = MakeSpin(RName(p, "CalIntervalSpin"));
    e.mBumpInterval = MakeSpin(RName(p, "BumpIntervalSpin"));
    e.mUserId = MakeEdit(RName(p, "IDEdit"), 110);
    e.mTestInterval = MakeSpin(RName(p, "TestIntervalSpin"));
    e.mDisplay = MakeCombo(RName(p, "DispCombo"));
    e.mHideBumpLed = new QCheckBox(QStringLiteral("Hide bump due LED flashing"));
    e.mHideBumpLed->setObjectName(Text(RName(p, "HideBumpLEDCheck")));

    AddRow(grid, "  High Alarm", e.mHighAlarm);
    AddRow(grid, "  Low Alarm", e.mLowAlarm);
    AddRow(grid, "  Calibration Interval", WithUnit(e.mCalInterval, "Days"));
    AddRow(grid, "  Bump Interval", WithUnit(e.mBumpInterval, "Days"));
    AddRow(grid, "  User ID", e.mUserId);
    AddRow(grid, "  Self Test Interval", WithUnit(e.mTestInterval, "hours"));
    AddRow(grid, "  Display", e.mDisplay);

    binding.Bind(e.mHighAlarm, f.mHighAlarm);
    binding.Bind(e.mLowAlarm, f.mLowAlarm);
    binding.Bind(e.mCalInterval, f.mCalInterval);
    binding.Bind(e.mBumpInterval, f.mBumpInterval);
    binding.Bind(e.mUserId, f.mUserId);
    binding.Bind(e.mTestInterval, f.mTestInterval);
    binding.Bind(e.mDisplay, f.mDisplay);
    binding.Bind(e.mHideBumpLed, f.mHideBumpLed);
    return e;
}

RConfigButtons MakeConfigButtons(const char *p, int width)
{
    RConfigButtons b;
    b.mReadFile = MakeButton(RName(p, "ReadFileBtn"), "Read File", width);
    b.mReadDevice = MakeButton(RName(p, "ReadDeviceBtn"), "Read Device", width);
    b.mWriteFile = MakeButton(RName(p, "WriteFileBtn"), "Write File", width);
    b.mWriteDevice = MakeButton(RName(p, "WriteDeviceBtn"), "Write Device", width);
    b.mHibernate = MakeButton(RName(p, "HibernateBtn"), "Hibernate", width);
    b.mLogSave = MakeButton(RName(p, "LogSaveBtn"), "Save Event Log", 140);
    b.mLogPanel = ButtonPanel(RName(p, "LogPanel"), b.mLogSave);
    b.mCompare = MakeButton(RName(p, "CompareBtn"), "Compare...", 92);
    b.mCompare->setToolTip(QStringLiteral("The detector against what Write Device would send, field by field; "
                                          "nothing is written"));
    b.mComparePanel = ButtonPanel(RName(p, "ComparePanel"), b.mCompare);
    b.mGrid = new QGridLayout;
    b.mGrid->setContentsMargins(0, 0, 0, 0);
    b.mGrid->setHorizontalSpacing(6);
    b.mGrid->setVerticalSpacing(6);
    b.mGrid->addWidget(b.mReadFile, 0, 0);
    b.mGrid->addWidget(b.mReadDevice, 0, 1);
    b.mGrid->addWidget(b.mWriteFile, 1, 0);
    b.mGrid->addWidget(b.mWriteDevice, 1, 1);
    b.mGrid->addWidget(b.mHibernate, 2, 0);
    b.mGrid->addLayout(ButtonRow({b.mLogPanel, b.mComparePanel}), 3, 0, 1, 2);
    return b;
}

QFrame *ButtonPanel(const char *name, QPushButton *button)
{
    QFrame *panel = MakePanel(name);
    auto *h = new QHBoxLayout(panel);
    h->setContentsMargins(8, 6, 8, 6);
    h->addWidget(button);
    return panel;
}
