#include "app/session.h"
#include "ui/form_binding.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QSignalBlocker>
#include <QStringList>

#include "ui/widget_kit.h"

using namespace kit;

void TFormBinding::Show(const ConfigForm &form) const
{
    for (const RSpin &b : FSpins) {
        const RSpinEdit &spin = form.*(b.mField);
        const QSignalBlocker block(b.mWidget);
        b.mWidget->setDecimals(spin.mDecimals);
        b.mWidget->setRange(spin.mMin, spin.mMax);
        b.mWidget->setSingleStep(spin.mDecimals > 0 ? 0.1 : 1.0);
        b.mWidget->setValue(spin.mValue);
    }
    for (const RText &b : FTexts) {
        const RTextEdit &edit = form.*(b.mField);
        const QSignalBlocker block(b.mWidget);
        b.mWidget->setMaxLength(edit.mMaxLength > 0 ? edit.mMaxLength : 32767);
        const QString text = BytesToText(edit.mText);
        if (b.mWidget->text() != text)
            b.mWidget->setText(text);
    }
    for (const RCombo &b : FCombos) {
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
    for (const RLabel &b : FLabels)
        b.mWidget->setText(BytesToText(form.*(b.mField)));
    for (const RCheck &b : FChecks) {
        const QSignalBlocker block(b.mWidget);
        b.mWidget->setChecked(form.*(b.mField));
    }
}

void TFormBinding::Take(ConfigForm &form) const
{
    for (const RSpin &b : FSpins) {
        b.mWidget->interpretText();
        (form.*(b.mField)).SetValue(b.mWidget->value());
    }
    for (const RText &b : FTexts)
        (form.*(b.mField)).SetText(TextToBytes(b.mWidget->text()));
    for (const RCombo &b : FCombos)
        (form.*(b.mField)).Select(b.mWidget->currentIndex());
    for (const RCheck &b : FChecks)
        form.*(b.mField) = b.mWidget->isChecked();
}

namespace {

const QColor kStandInText(0x8c, 0x93, 0x9c);

void SetTextColour(QWidget *w, std::initializer_list<QPalette::ColorRole> roles, bool bStandIn)
{
    const QPalette normal = w->parentWidget() ? w->parentWidget()->palette() : QPalette();
    QPalette p = w->palette();
    for (const QPalette::ColorRole role : roles)
        p.setColor(role, bStandIn ? kStandInText : normal.color(role));
    w->setPalette(p);
}

} // namespace

void TFormBinding::ShowStandIn(bool bStandIn) const
{
    for (const RSpin &b : FSpins) {
        SetTextColour(b.mWidget, {QPalette::Text}, bStandIn);
        // The number is drawn by the editor's own line edit.
        if (auto *edit = b.mWidget->findChild<QLineEdit *>())
            SetTextColour(edit, {QPalette::Text}, bStandIn);
    }
    for (const RText &b : FTexts)
        SetTextColour(b.mWidget, {QPalette::Text}, bStandIn);
    for (const RCombo &b : FCombos)
        SetTextColour(b.mWidget, {QPalette::Text, QPalette::ButtonText}, bStandIn);
    for (const RLabel &b : FLabels)
        SetTextColour(b.mWidget, {QPalette::WindowText}, bStandIn);
}

bool TFormBinding::HasNumberEditor(const QAbstractSpinBox *spin) const
{
    for (const RSpin &b : FSpins)
        if (b.mWidget == spin)
            return true;
    return false;
}
