#pragma once
// Simulate mode's "Apply gas" control: gas applied to and removed from the
// simulated detector running inside the program, as a technician applies a
// cylinder to a real one. It says plainly that the detector is simulated.
// The main window carries one, and so does each measuring dialog, which
// blocks the window while it runs. Its parts keep their places whatever the
// state line says.
#include <vector>

#include <QFrame>

#include "model/settings_types.h"

class QDoubleSpinBox;
class QLabel;
class QPushButton;
class SimDetector;

// The unit of the sensor the simulated detector has installed ("" when unknown).
QString SimSensorUnit(const SimDetector &sim, const std::vector<RSensorType> &types);

class TSimGasPanel : public QFrame {
    Q_OBJECT

public:
    // `unit`: the installed sensor's unit; the value starts at the detector's span gas.
    TSimGasPanel(SimDetector &sim, const QString &unit, QWidget *parent = nullptr);

    void ApplyBtnClick();
    void RemoveBtnClick();
    // The gas at the sensor, as the state line shows it.
    void ShowState();
    // The concentration the next Apply gas puts on (a cylinder's), in the unit.
    void SetValue(double value);

private:
    SimDetector &FSim;
    QString FUnit;
    QDoubleSpinBox *FValueSpin = nullptr;
    QPushButton *FApplyBtn = nullptr;
    QPushButton *FRemoveBtn = nullptr;
    QLabel *FStateLabel = nullptr;
};
