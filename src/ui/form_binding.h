#pragma once
// One page's editors bound to the configuration view (ConfigForm): each
// widget to the member that stands for it, in both directions.
#include <functional>
#include <vector>

#include <QString>

#include "model/config_form.h"

class QAbstractSpinBox;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QObject;

class TFormBinding {
public:
    void Bind(QDoubleSpinBox *widget, RSpinEdit ConfigForm::*field) { FSpins.push_back({widget, field}); }
    void Bind(QLineEdit *widget, RTextEdit ConfigForm::*field) { FTexts.push_back({widget, field}); }
    void Bind(QComboBox *widget, RComboBox ConfigForm::*field) { FCombos.push_back({widget, field}); }
    void Bind(QLabel *widget, std::string ConfigForm::*field) { FLabels.push_back({widget, field}); }
    void Bind(QCheckBox *widget, bool ConfigForm::*field) { FChecks.push_back({widget, field}); }

    // The view into the widgets: ranges, decimals, lists and values; no
    // widget reports a change while it is set.
    void Show(const ConfigForm &form) const;
    // What the widgets hold into the view (a number typed but not yet
    // confirmed counts as the editor's value).
    void Take(ConfigForm &form) const;
    // Whether the number editor is one of this binding's.
    bool HasNumberEditor(const QAbstractSpinBox *spin) const;
    // Draws the values and editors grey while they hold stand-ins (nothing
    // has been read yet), or in their parent's colours.
    void ShowStandIn(bool bStandIn) const;
    // Marks each editor whose value differs from `loaded` (the view as last
    // read or loaded): a tinted field and the mark beside it, both with
    // `source` and the loaded value in their tooltips; unmarks the others.
    // A number editor with the focus keeps its focus colour.
    void MarkChanged(const ConfigForm &loaded, const QString &source) const;
    // Whether any editor is marked.
    bool AnyMarked() const;
    // Calls `edited` whenever the technician changes one of the editors.
    void OnEdited(QObject *context, const std::function<void()> &edited) const;

private:
    struct RSpin {
        QDoubleSpinBox *mWidget;
        RSpinEdit ConfigForm::*mField;
    };
    struct RText {
        QLineEdit *mWidget;
        RTextEdit ConfigForm::*mField;
    };
    struct RCombo {
        QComboBox *mWidget;
        RComboBox ConfigForm::*mField;
    };
    struct RLabel {
        QLabel *mWidget;
        std::string ConfigForm::*mField;
    };
    struct RCheck {
        QCheckBox *mWidget;
        bool ConfigForm::*mField;
    };
    std::vector<RSpin> FSpins;
    std::vector<RText> FTexts;
    std::vector<RCombo> FCombos;
    std::vector<RLabel> FLabels;
    std::vector<RCheck> FChecks;
};
