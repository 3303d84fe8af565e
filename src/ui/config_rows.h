#pragma once
// What the user layout's page and the developer layout's "User Options" page
// share: the eight editors of the configuration both offer (alarms, intervals,
// user ID, display, the bump LED check), and the row of file and device
// buttons. Each page builds them through these, named with its own prefix.
#include "model/config_form.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QFrame;
class QGridLayout;
class QHBoxLayout;
class QLineEdit;
class QPushButton;
class TFormBinding;

// The view's members behind one layout's shared editors.
struct RConfigRowFields {
    const char *mPrefix; // "User" or "UserOpt": every control's name begins with it
    RSpinEdit ConfigForm::*mHighAlarm;
    RSpinEdit ConfigForm::*mLowAlarm;
    RSpinEdit ConfigForm::*mCalInterval;
    RSpinEdit ConfigForm::*mBumpInterval;
    RTextEdit ConfigForm::*mUserId;
    RSpinEdit ConfigForm::*mTestInterval;
    RComboBox ConfigForm::*mDisplay;
    bool ConfigForm::*mHideBumpLed;
};
extern const RConfigRowFields kUserLayoutRows;      // User...
extern const RConfigRowFields kDeveloperLayoutRows; // UserOpt...

struct RConfigEditors {
    QDoubleSpinBox *mHighAlarm = nullptr;
    QDoubleSpinBox *mLowAlarm = nullptr;
    QDoubleSpinBox *mCalInterval = nullptr;
    QDoubleSpinBox *mBumpInterval = nullptr;
    QLineEdit *mUserId = nullptr;
    QDoubleSpinBox *mTestInterval = nullptr;
    QComboBox *mDisplay = nullptr;
    QCheckBox *mHideBumpLed = nullptr; // not in the grid: the page puts it below
};

// Adds the seven rows "  High Alarm" to "  Display" to the grid, makes the
// hide check, and binds all eight to their members.
RConfigEditors AddConfigRows(const RConfigRowFields &fields, QGridLayout *grid, TFormBinding &binding);

// "Read File", "Read Device", "Write File", "Write Device", "Hibernate",
// "Save Event Log" and "Compare..." (each of the last two in a panel of its
// own), laid out for a page's action column: reading beside writing, the
// panels in a row of their own.
struct RConfigButtons {
    QPushButton *mReadFile = nullptr;
    QPushButton *mReadDevice = nullptr;
    QPushButton *mWriteFile = nullptr;
    QPushButton *mWriteDevice = nullptr;
    QPushButton *mHibernate = nullptr;
    QPushButton *mLogSave = nullptr;
    QGridLayout *mGrid = nullptr;  // all of them, two a row, for the page's action column
    QFrame *mLogPanel = nullptr;   // the event log's panel
    QPushButton *mCompare = nullptr; // the detector against what Write Device would send
    QFrame *mComparePanel = nullptr;
};
RConfigButtons MakeConfigButtons(const char *prefix, int width);

// A framed panel holding one button.
QFrame *ButtonPanel(const char *name, QPushButton *button);
