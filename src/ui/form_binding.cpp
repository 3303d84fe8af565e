#include "app/session.h"
#include "ui/form_binding.h"

#include <algorithm>
#include <utility>

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

namespace {

const QColor kChangedField(255, 228, 150);
const QColor kChangedText(138, 84, 0);
const QString kChangedMark = QStringLiteral("\u25CF");

QString SpinText(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

// Tints the roles, or gives them back their parent's colours.
void Tint(QWidget *w, std::initializer_list<QPalette::ColorRole> roles, const QColor &colour, bool bOn)
{
    const QPalette normal = w->parentWidget() ? w->parentWidget()->palette() : QPalette();
    QPalette p = w->palette();
    for (const QPalette::ColorRole role : roles)
        p.setColor(role, bOn ? colour : normal.color(role));
    w->setPalette(p);
}

struct RMarks {
    // Each mark with the loaded values of its changed editors.
    std::vector<std::pair<QLabel *, QStringList>> mMarks;
    void Note(QWidget *editor, bool bChanged, const QString &loaded)
    {
        QLabel *mark = ChangeMarkOf(editor);
        if (!mark)
            return;
        if (mark->objectName().isEmpty())
            mark->setObjectName(editor->objectName() + QStringLiteral("Mark"));
        auto it = std::find_if(mMarks.begin(), mMarks.end(), [&](const auto &m) { return m.first == mark; });
        if (it == mMarks.end()) {
            mMarks.push_back({mark, {}});
            it = mMarks.end() - 1;
        }
        if (bChanged)
            it->second << loaded;
    }
};

} // namespace

void TFormBinding::MarkChanged(const ConfigForm &loaded, const QString &source) const
{
    RMarks marks;
    const auto tip = [&](QWidget *w, bool bChanged, const QString &value) {
        const QString text = source + QStringLiteral(": ") + value;
        w->setToolTip(bChanged ? text : QString());
        marks.Note(w, bChanged, text);
    };
    for (const RSpin &b : FSpins) {
        const RSpinEdit &was = loaded.*(b.mField);
        const QString before = SpinText(was.mValue, was.mDecimals);
        const bool changed = SpinText(b.mWidget->value(), b.mWidget->decimals()) != before;
        if (!b.mWidget->hasFocus())
            Tint(b.mWidget, {QPalette::Base}, kChangedField, changed);
        tip(b.mWidget, changed, before);
    }
    for (const RText &b : FTexts) {
        const QString before = BytesToText((loaded.*(b.mField)).mText);
        const bool changed = b.mWidget->text() != before;
        Tint(b.mWidget, {QPalette::Base}, kChangedField, changed);
        tip(b.mWidget, changed, QStringLiteral("\"") + before + QStringLiteral("\""));
    }
    for (const RCombo &b : FCombos) {
        const RComboBox &was = loaded.*(b.mField);
        const bool changed = b.mWidget->currentIndex() != was.mItemIndex;
        Tint(b.mWidget, {QPalette::Base, QPalette::Button}, kChangedField, changed);
        const QString before = was.mItemIndex >= 0 && was.mItemIndex < static_cast<int>(was.mItems.size())
                                   ? BytesToText(was.mItems[static_cast<size_t>(was.mItemIndex)])
                                   : QStringLiteral("(none)");
        tip(b.mWidget, changed, before);
    }
    for (const RCheck &b : FChecks) {
        const bool before = loaded.*(b.mField);
        const bool changed = b.mWidget->isChecked() != before;
        Tint(b.mWidget, {QPalette::WindowText}, kChangedText, changed);
        tip(b.mWidget, changed, before ? QStringLiteral("on") : QStringLiteral("off"));
    }
    for (const auto &[mark, loadedValues] : marks.mMarks) {
        mark->setText(loadedValues.isEmpty() ? QString() : kChangedMark);
        mark->setToolTip(loadedValues.isEmpty() ? QString()
                                                : QStringLiteral("Changed here. ") + loadedValues.join(QStringLiteral("; ")));
        QPalette p = mark->palette();
        p.setColor(QPalette::WindowText, kChangedText);
        mark->setPalette(p);
    }
}

bool TFormBinding::AnyMarked() const
{
    for (const RSpin &b : FSpins)
        if (auto *mark = ChangeMarkOf(b.mWidget); mark && !mark->text().isEmpty())
            return true;
    for (const RText &b : FTexts)
        if (auto *mark = ChangeMarkOf(b.mWidget); mark && !mark->text().isEmpty())
            return true;
    for (const RCombo &b : FCombos)
        if (auto *mark = ChangeMarkOf(b.mWidget); mark && !mark->text().isEmpty())
            return true;
    for (const RCheck &b : FChecks)
        if (auto *mark = ChangeMarkOf(b.mWidget); mark && !mark->text().isEmpty())
            return true;
    return false;
}

void TFormBinding::OnEdited(QObject *context, const std::function<void()> &edited) const
{
    for (const RSpin &b : FSpins)
        QObject::connect(b.mWidget, &QDoubleSpinBox::valueChanged, context, [edited] { edited(); });
    for (const RText &b : FTexts)
        QObject::connect(b.mWidget, &QLineEdit::textChanged, context, [edited] { edited(); });
    for (const RCombo &b : FCombos)
        QObject::connect(b.mWidget, &QComboBox::currentIndexChanged, context, [edited] { edited(); });
    for (const RCheck &b : FChecks)
        QObject::connect(b.mWidget, &QCheckBox::toggled, context, [edited] { edited(); });
}
