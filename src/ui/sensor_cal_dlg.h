#pragma once
// "Sensor Calibration": the window of the calibration tool. A thin binding
// of TSensorCalibration: the buttons call the controller, a timer runs its
// polling passes at their due times, and its status lines, progress and span
// gas entry land in the widgets. With a cylinder picked, the run is measured
// around the procedure (TCalEvidence): the span gas is the cylinder's, the
// step to act on shows with a button that says it is done, and the as-found
// and as-left readings land beside it: the numbered steps with the current
// one marked, the live reading with the alarm set points, the time left of
// every wait and each value the moment it is measured. What to do, the time
// left and the buttons keep their places whatever the texts say. In
// simulate mode the dialog carries the simulated gas controls itself.
#include <QTimer>
#include <array>
#include <memory>

#include <vector>

#include "ui/guarded_dialog.h"
#include "app/cylinder.h"
#include "tools/cal_evidence.h"
#include "tools/sensor_cal.h"

class QCloseEvent;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;
class SimDetector;
class TCountdown;
class TLiveReading;
class TSession;
class TSimGasPanel;
class TStepList;
class IScreen;
class TToolDialogScreen;

class TSensorCalDlg : public TGuardedDialog, private ISensorCalView, private ICalEvidenceView {
    Q_OBJECT
public:
    // The calibration works on the session (its settings, store, link and
    // clock). `screen` takes the dialog's message boxes (null: the dialog's
    // own, parented to it).
    explicit TSensorCalDlg(TSession &session, QWidget *parent = nullptr, IScreen *screen = nullptr);
    ~TSensorCalDlg() override;

    // The opening for a copy of the configuration record: false when its
    // sensor type is unknown (the "Wrong Sensor" box was shown) and the dialog
    // must not appear.
    bool Prepare(const RTamselCFG &mCFG);
    // Prepare, then shown modally. QDialog::Rejected at once when Prepare fails.
    int ShowDlg(const RTamselCFG &mCFG);
    bool CloseAllowed() const override { return FCal.CloseAllowed() && !FEvidence.Running(); }
    TSensorCalibration &Calibration() { return FCal; }
    TCalEvidence &Evidence() { return FEvidence; }
    // The cylinders offered (those in service); the first choice is none: the
    // span gas as entered, a run without a certificate.
    void SetCylinders(const std::vector<RGasCylinder> &cylinders);
    // Picks the cylinder of that id; false when it is not offered.
    bool SelectCylinder(int64_t id);
    // Simulate mode: the gas at the simulated detector's sensor is applied
    // and removed from this dialog (its value the picked cylinder's).
    void UseSimulator(SimDetector &sim);

public slots:
    void CalBtnClick();
    void CalAbortBtnClick();
    void StepBtnClick();
    void CloseBtnClick();

private slots:
    void RunPass();

private:
    void SchedulePass();
    bool Measuring() const { return FEvidence.Running(); }
    const RGasCylinder *PickedCylinder() const;
    void CylinderPicked();
    void ShowButtons();
    // The time left of the wait that runs.
    void ShowCountdown();

    // --- ISensorCalView ---
    void CaptionChanged(const std::string &text) override;
    void SpanRangeChanged(double rMin, double rMax) override;
    void SpanValueChanged(double rValue) override;
    void UnitChanged(const std::string &text) override;
    void StatusLineChanged(int line, const std::string &text, RColor color) override;
    void RunningChanged(bool running) override;
    void CalProgressChanged(int position, int max) override;

    // --- ICalEvidenceView ---
    void EvidencePhaseChanged(ECalEvidencePhase phase, const std::string &text) override;
    void EvidenceStepShown(EGasStep step, const std::string &text) override;
    void EvidenceReading(const RTamselSensor &reading, int32_t tenths) override;
    void MeasuresChanged(const RCalEvidence &evidence) override;

    std::unique_ptr<TToolDialogScreen> FOwnScreen;
    TSession &FSession;
    IClock &FClock;
    TSensorCalibration FCal;
    TCalEvidence FEvidence;
    std::vector<RGasCylinder> FCylinders; // the combo's order, after "none"
    int FTolerance = 100;
    QTimer FPassTimer;
    bool FInPass = false;

    QPushButton *CalBtn = nullptr;
    QPushButton *CalAbortBtn = nullptr;
    QPushButton *CloseBtn = nullptr;
    QLabel *SpanGasLabel = nullptr;
    QDoubleSpinBox *SpanGasSpin = nullptr;
    QLabel *CalUnitLabel = nullptr;
    QProgressBar *CalProgressBar = nullptr;
    std::array<QLabel *, 3> FStatusLines{}; // CalLabel, CalLabel1, CalLabel2
    QComboBox *CylinderCombo = nullptr;
    QLabel *FCylinderText = nullptr; // the picked cylinder's whole label
    QLabel *StepLabel = nullptr;
    QPushButton *StepBtn = nullptr;
    // as found clean air, as found under gas, as left under gas, as left clean air
    std::array<QLabel *, 4> FMeasures{};
    QLabel *ResultLabel = nullptr;
    TStepList *FSteps = nullptr;
    TLiveReading *FLive = nullptr;
    TCountdown *FCountdown = nullptr;
    TSimGasPanel *FSimGas = nullptr;
    QVBoxLayout *FMainLayout = nullptr;
};
