#pragma once
// Simulate mode's "Apply gas" control: gas applied to and removed from the
// simulated detector running inside the program, as a technician applies a
// cylinder to a real one. It says plainly that the detector is simulated.
#include <QFrame>

class QDoubleSpinBox;
class QLabel;
class QPushButton;
class SimDetector;

class TSimGasPanel : public QFrame {
    Q_OBJECT

public:
    // `unit`: the installed sensor's unit; the value starts at the detector's span gas.
    TSimGasPanel(SimDetector &sim, const QString &unit, QWidget *parent = nullptr);

    void ApplyBtnClick();
    void RemoveBtnClick();
    // The gas at the sensor, as the state line shows it.
    void ShowState();

private:
    SimDetector &FSim;
    QString FUnit;
    QDoubleSpinBox *FValueSpin = nullptr;
    QPushButton *FApplyBtn = nullptr;
    QPushButton *FRemoveBtn = nullptr;
    QLabel *FStateLabel = nullptr;
};
