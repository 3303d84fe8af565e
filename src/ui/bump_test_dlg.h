#pragma once
// "Bump Test": the window of the guided bump test. A thin binding of
// TBumpTest: the technician picks a cylinder, starts, and follows the
// numbered steps: the one to act on in large type with the button that says
// it is done (the test also goes on by itself when the readings show the
// gas), the time left of every wait, the live reading with the detector's
// set points, each value the moment it is measured and the verdict the
// moment it is known. Every time shown counts from the same moment as the
// test's own (the gas going on). A timer runs the test's passes at their due
// times; the view is brought up to date after each. In simulate mode the
// dialog carries the simulated gas controls itself.
#include <QTimer>
#include <memory>
#include <vector>

#include "ui/guarded_dialog.h"
#include "app/cylinder.h"
#include "tools/bump_procedure.h"

class QCloseEvent;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QVBoxLayout;
class IScreen;
class SimDetector;
class TCountdown;
class TLiveReading;
class TSession;
class TSimGasPanel;
class TStepList;
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
    // Simulate mode: the gas at the simulated detector's sensor is applied
    // and removed from this dialog (its value the picked cylinder's).
    void UseSimulator(SimDetector &sim);

public slots:
    void StartBtnClick();
    void StepBtnClick();
    void CancelBtnClick();

private slots:
    void RunPass();

private:
    void SchedulePass();
    void ShowRunning(bool running);
    // The countdown, the live line and the measured values as the test has them now.
    void Refresh();
    void ShowVerdict(bool passed);
    void CylinderPicked();

    // --- IBumpTestView ---
    void PhaseChanged(EBumpPhase phase, const std::string &text) override;
    void StepShown(EGasStep step, const std::string &text) override;
    void ReadingShown(const RTamselSensor &reading, int32_t tenths, double seconds) override;
    void Finished(const RBumpResult &result) override;

    std::unique_ptr<TToolDialogScreen> FOwnScreen;
    TSession &FSession;
    IClock &FClock;
    TBumpTest FTest;
    std::vector<RGasCylinder> FCylinders; // in the combo's order
    QTimer FPassTimer;
    bool FInPass = false;
    std::string FUnit;
    TDateTime FGasSince = 0;      // the watch's start: the clock of every time shown
    TDateTime FLastReadingAt = 0; // when the last reading arrived
    uint8_t FLastFlags = 0;
    bool FHaveReading = false;

    QComboBox *FCylinderCombo = nullptr;
    QSpinBox *FWithinSpin = nullptr;
    TStepList *FSteps = nullptr;
    TLiveReading *FLive = nullptr;
    TCountdown *FCountdown = nullptr;
    TSimGasPanel *FSimGas = nullptr;
    QLabel *FStepLabel = nullptr;
    QPushButton *FStepBtn = nullptr;
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
    QVBoxLayout *FMainLayout = nullptr;
};
