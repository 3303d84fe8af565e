#pragma once
// "Bump Test": the window of the guided bump test. A thin binding of
// TBumpTest: the technician picks a cylinder, starts, and acts on the step
// shown in large type (the button beside it says the step is done; the test
// also goes on by itself when the readings show the gas); the readings, the
// measurements and the result in large type land in the widgets. A timer
// runs the test's passes at their due times.
#include <QTimer>
#include <memory>
#include <vector>

#include "ui/guarded_dialog.h"
#include "app/cylinder.h"
#include "tools/bump_test.h"

class QCloseEvent;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class IScreen;
class TSession;
class TToolDialogScreen;

inline constexpr const char *kBumpTestCaption = "Bump Test";

class TBumpTestDlg : public TGuardedDialog, private IBumpTestView {
    Q_OBJECT
public:
    // The test works on the session (its settings, link and clock). The
    // cylinders offered are those given that are in service (not retired).
    // `screen` takes the message boxes (null: the dialog's own).
    TBumpTestDlg(TSession &session, const std::vector<RGasCylinder> &cylinders, QWidget *parent = nullptr,
                 IScreen *screen = nullptr);
    ~TBumpTestDlg() override;

    TBumpTest &Test() { return FTest; }
    bool CloseAllowed() const override { return !FTest.Running(); }
    // Picks the cylinder of that id in the list; false when it is not offered.
    bool SelectCylinder(int64_t id);
    // A line below the result (why no cylinder is offered).
    void SetNote(const QString &text);

public slots:
    void StartBtnClick();
    void StepBtnClick();
    void CancelBtnClick();

private slots:
    void RunPass();

private:
    void SchedulePass();
    void ShowRunning(bool running);

    // --- IBumpTestView ---
    void PhaseChanged(EBumpPhase phase, const std::string &text) override;
    void StepShown(EGasStep step, const std::string &text) override;
    void ReadingShown(const RTamselSensor &reading, int32_t tenths, double seconds) override;
    void Finished(const RBumpResult &result) override;

    std::unique_ptr<TToolDialogScreen> FOwnScreen;
    IClock &FClock;
    TBumpTest FTest;
    std::vector<RGasCylinder> FCylinders; // in the combo's order
    QTimer FPassTimer;
    bool FInPass = false;
    std::string FUnit;

    QComboBox *FCylinderCombo = nullptr;
    QSpinBox *FWithinSpin = nullptr;
    QLabel *FStepLabel = nullptr;
    QPushButton *FStepBtn = nullptr;
    QLabel *FPhaseLabel = nullptr;
    QLabel *FReadingLabel = nullptr;
    QLabel *FBaselineLabel = nullptr;
    QLabel *FPeakLabel = nullptr;
    QLabel *FAlarmLabel = nullptr;
    QLabel *FFlagsLabel = nullptr;
    QLabel *FRecoveryLabel = nullptr;
    QLabel *FCriteriaLabel = nullptr;
    QLabel *FResultLabel = nullptr;
    QLabel *FReasonLabel = nullptr;
    QPushButton *FStartBtn = nullptr;
    QPushButton *FCancelBtn = nullptr;
    QPushButton *FCloseBtn = nullptr;
};
