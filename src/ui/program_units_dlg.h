#pragma once
// "Program Units": one template of the record store in force pushed to one
// detector after another. The run (tools/program_units.h) is driven by the
// dialog's timer; each unit adds one line, the summary follows at the end.
#include <memory>
#include <vector>

#include <QDialog>

#include "records/template_take.h"
#include "records/templates.h"
#include "tools/program_units.h"

class IScreen;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;
class QTimer;
class TSession;

inline constexpr const char *kProgramUnitsCaption = "Program Units";

class TProgramUnitsDlg : public QDialog, public IProgramView {
    Q_OBJECT

public:
    TProgramUnitsDlg(TSession &session, IScreen &screen, QWidget *parent = nullptr);
    ~TProgramUnitsDlg() override;

    // Reads the templates of the store in force again.
    void Refresh();
    void StartBtnClick();
    void StopBtnClick();
    // Saves the name typed as a template (a new version of a name kept):
    // the user fields of the detector or of a .cfg file.
    void SaveTemplateClick(ETemplateSource source);
    bool Running() const { return FRun != nullptr; }
    // The list keeps the newest units only: a long run stays small.
    static constexpr int kKeptLines = 500;

protected:
    void showEvent(QShowEvent *event) override;
    void reject() override;

    // What the run tells (IProgramView).
    void WaitingForUnit(int number) override;
    void UnitDone(const RUnitReport &report) override;
    void Finished(const RProgramSummary &summary) override;

private:
    void Pass();
    void SetRunning(bool running);
    void ShowFields();

    TSession &FSession;
    IScreen &FScreen;
    std::vector<RStoredTemplate> FTemplates;
    std::unique_ptr<TProgramRun> FRun;
    int FCount = 0;

    QComboBox *FTemplateCombo = nullptr;
    QSpinBox *FCountSpin = nullptr;
    QPushButton *FStartBtn = nullptr;
    QPushButton *FStopBtn = nullptr;
    QPushButton *FRefreshBtn = nullptr;
    QListWidget *FUnits = nullptr;
    QListWidget *FFields = nullptr;
    QLineEdit *FNameEdit = nullptr;
    QPushButton *FSaveDeviceBtn = nullptr;
    QPushButton *FSaveFileBtn = nullptr;
    QLabel *FState = nullptr;
    QTimer *FTimer = nullptr;
};
