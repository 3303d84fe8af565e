#include "ui/main_window.h"

#include <algorithm>

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>

#include "model/config_form.h"
#include "app/session.h"
#include "ui/widget_kit.h"

// The editors of both layouts and the configuration view (ConfigForm): one
// binding per editor, both directions, and the editors' own behaviour.

using namespace kit;

namespace {

const QColor kFocusColour(0, 255, 0);

} // namespace

#define BIND(list, type, field) list.push_back({Child<type>(#field), &ConfigForm::field})

void TNorvikIRMainForm::BindControls()
{
    BIND(FSpins, QDoubleSpinBox, UserHighAlarmSpin);
    BIND(FSpins, QDoubleSpinBox, UserLowAlarmSpin);
    BIND(FSpins, QDoubleSpinBox, UserCalIntervalSpin);
    BIND(FSpins, QDoubleSpinBox, UserBumpIntervalSpin);
    BIND(FSpins, QDoubleSpinBox, UserTestIntervalSpin);
    BIND(FSpins, QDoubleSpinBox, UserOptMonthLifeSpin);
    BIND(FSpins, QDoubleSpinBox, UserOptDayLifeSpin);
    BIND(FSpins, QDoubleSpinBox, UserOptHighAlarmSpin);
    BIND(FSpins, QDoubleSpinBox, UserOptLowAlarmSpin);
    BIND(FSpins, QDoubleSpinBox, UserOptCalIntervalSpin);
    BIND(FSpins, QDoubleSpinBox, UserOptBumpIntervalSpin);
    BIND(FSpins, QDoubleSpinBox, UserOptTestIntervalSpin);
    BIND(FSpins, QDoubleSpinBox, FatoryOptBatteryLimitSpin);
    BIND(FSpins, QDoubleSpinBox, FatoryOptBatteryLimitStartupSpin);
    BIND(FSpins, QDoubleSpinBox, FatoryOptBatteryLimit1Spin);
    BIND(FSpins, QDoubleSpinBox, FatoryOptBatteryLimit2Spin);
    BIND(FSpins, QDoubleSpinBox, FatoryOptSpanGasSpin);
    BIND(FSpins, QDoubleSpinBox, FatoryOptSensorMaxSpin);
    BIND(FSpins, QDoubleSpinBox, FatoryOptSensorBaseSpin);
    BIND(FSpins, QDoubleSpinBox, FatoryOptDeadZoneSpin);
    BIND(FSpins, QDoubleSpinBox, FatoryOptTempComp1Spin);
    BIND(FSpins, QDoubleSpinBox, FatoryOptTempComp2Spin);
    BIND(FSpins, QDoubleSpinBox, FatoryOptTempComp3Spin);

    BIND(FTexts, QLineEdit, UserIDEdit);
    BIND(FTexts, QLineEdit, UserOptHWVersionEdit);
    BIND(FTexts, QLineEdit, UserOptSerialEdit);
    BIND(FTexts, QLineEdit, UserOptIDEdit);

    BIND(FCombos, QComboBox, UserSensorTypeCombo);
    BIND(FCombos, QComboBox, UserDispCombo);
    BIND(FCombos, QComboBox, UserOptSensorTypeCombo);
    BIND(FCombos, QComboBox, UserOptDispCombo);
    BIND(FCombos, QComboBox, FactoryOptHibernateCombo);

    BIND(FLabels, QLabel, UserHWVersionLabel);
    BIND(FLabels, QLabel, UserSWVersionLabel);
    BIND(FLabels, QLabel, UserSerialLabel);
    BIND(FLabels, QLabel, UserLifeLabel);
    BIND(FLabels, QLabel, UserSensorTypeLabel);
    BIND(FLabels, QLabel, UserOptIDLabel);
    BIND(FLabels, QLabel, UserOptSWVersionLabel);
    BIND(FLabels, QLabel, FatoryOptAlarmTimeLabel);
    BIND(FLabels, QLabel, FatoryOptAlarmCountLabel);
    BIND(FLabels, QLabel, FatoryOptTestTimeLabel);
    BIND(FLabels, QLabel, FatoryOptTestCountLabel);
    BIND(FLabels, QLabel, FatoryOptZeroLabel);
    BIND(FLabels, QLabel, FatoryOptSpanLabel);
    BIND(FLabels, QLabel, FatoryOptMinSpanLabel);
    BIND(FLabels, QLabel, FatoryOptTauLabel);
    BIND(FLabels, QLabel, FatoryOptLastCalLabel);
    BIND(FLabels, QLabel, FatoryOptPeakTimerLabel);
    BIND(FLabels, QLabel, FatoryOptLastBumpTimerLabel);

    BIND(FChecks, QCheckBox, UserHideBumpLEDCheck);
    BIND(FChecks, QCheckBox, UserOptHideBumpLEDCheck);
}

#undef BIND

void TNorvikIRMainForm::FormToView()
{
    FBinding = true;
    const ConfigForm &form = FState.FForm;
    for (const RSpinBinding &b : FSpins) {
        const RSpinEdit &spin = form.*(b.mField);
        const QSignalBlocker block(b.mWidget);
        b.mWidget->setDecimals(spin.mDecimals);
        b.mWidget->setRange(spin.mMin, spin.mMax);
        b.mWidget->setSingleStep(spin.mDecimals > 0 ? 0.1 : 1.0);
        b.mWidget->setValue(spin.mValue);
    }
    for (const RTextBinding &b : FTexts) {
        const RTextEdit &edit = form.*(b.mField);
        const QSignalBlocker block(b.mWidget);
        b.mWidget->setMaxLength(edit.mMaxLength > 0 ? edit.mMaxLength : 32767);
        const QString text = BytesToText(edit.mText);
        if (b.mWidget->text() != text)
            b.mWidget->setText(text);
    }
    for (const RComboBinding &b : FCombos) {
        const RComboBox &combo = form.*(b.mField);
        const QSignalBlocker block(b.mWidget);
        QStringList items;
        for (const std::string &item : combo.mItems)
            items << BytesToText(item);
        QStringList shown;
        for (int i = 0; i < b.mWidget->count(); ++i)
            shown << b.mWidget->itemText(i);
        if (shown != items) {
            b.mWidget->clear();
            b.mWidget->addItems(items);
        }
        b.mWidget->setCurrentIndex(combo.mItemIndex >= 0 && combo.mItemIndex < b.mWidget->count() ? combo.mItemIndex
                                                                                                  : -1);
    }
    for (const RLabelBinding &b : FLabels)
        b.mWidget->setText(BytesToText(form.*(b.mField)));
    for (const RCheckBinding &b : FChecks) {
        const QSignalBlocker block(b.mWidget);
        b.mWidget->setChecked(form.*(b.mField));
    }
    FBinding = false;
}

void TNorvikIRMainForm::ViewToForm()
{
    ConfigForm &form = FState.FForm;
    for (const RSpinBinding &b : FSpins) {
        // A value typed but not yet confirmed counts as the editor's value.
        b.mWidget->interpretText();
        (form.*(b.mField)).SetValue(b.mWidget->value());
    }
    for (const RTextBinding &b : FTexts)
        (form.*(b.mField)).SetText(TextToBytes(b.mWidget->text()));
    for (const RComboBinding &b : FCombos)
        (form.*(b.mField)).Select(b.mWidget->currentIndex());
    for (const RCheckBinding &b : FChecks)
        form.*(b.mField) = b.mWidget->isChecked();
}

void TNorvikIRMainForm::ShowConfig()
{
    ConfigToView(FState.FTamselCFG, FState.FForm, FSession.SensorTypes);
    FormToView();
}

// ========================================================== editors' behaviour

void TNorvikIRMainForm::UserIDEditChanged(QLineEdit *edit)
{
    // Pasted text passes the same rules as typed keys.
    const QString text = edit->text();
    const QString filtered = BytesToText(FilterUserIdText(TextToBytes(text)));
    if (filtered == text)
        return;
    const int cursor = edit->cursorPosition();
    edit->setText(filtered);
    edit->setCursorPosition(std::min<int>(cursor, static_cast<int>(filtered.size())));
}

QAbstractSpinBox *TNorvikIRMainForm::NumberEditorOf(QWidget *w) const
{
    for (; w; w = w->parentWidget()) {
        if (auto *spin = qobject_cast<QAbstractSpinBox *>(w)) {
            for (const RSpinBinding &b : FSpins)
                if (b.mWidget == spin)
                    return spin;
            return nullptr;
        }
        if (w == this)
            return nullptr;
    }
    return nullptr;
}

void TNorvikIRMainForm::FocusChanged(QWidget *from, QWidget *to)
{
    QAbstractSpinBox *left = NumberEditorOf(from);
    QAbstractSpinBox *entered = NumberEditorOf(to);
    if (left && left != entered)
        UserHighAlarmSpinExit(left);
    if (entered && entered != left)
        UserHighAlarmSpinEnter(entered);
}

void TNorvikIRMainForm::UserHighAlarmSpinEnter(QAbstractSpinBox *spin)
{
    QPalette p = spin->palette();
    p.setColor(QPalette::Base, kFocusColour);
    spin->setPalette(p);
}

void TNorvikIRMainForm::UserHighAlarmSpinExit(QAbstractSpinBox *spin)
{
    // Back to the window colour of the style.
    spin->setPalette(QPalette());
}

