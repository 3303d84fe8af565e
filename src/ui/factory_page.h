#pragma once
// The developer layout's "Factory Options" page: battery limits, the counters,
// hibernation, the sensor's range, temperature compensation, the calibration
// values and the factory buttons.
#include <QWidget>

#include "ui/form_binding.h"

class QPushButton;

class TFactoryPage : public QWidget {
    Q_OBJECT

public:
    explicit TFactoryPage(QWidget *parent = nullptr);

    const TFormBinding &Binding() const { return FBinding; }
    QPushButton *CalBtn() const { return FCalBtn; }             // "Calibration"
    QPushButton *TurnOffBtn() const { return FTurnOffBtn; }     // "Turn Off"
    QPushButton *LogResetBtn() const { return FLogResetBtn; }   // "Log Reset"
    QPushButton *LogSensorBtn() const { return FLogSensorBtn; } // "Log Readings"

private:
    TFormBinding FBinding;
    QPushButton *FCalBtn = nullptr;
    QPushButton *FTurnOffBtn = nullptr;
    QPushButton *FLogResetBtn = nullptr;
    QPushButton *FLogSensorBtn = nullptr;
};
