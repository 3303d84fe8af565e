#pragma once
// The developer layout's "Factory Options" page: battery limits, the counters,
// hibernation, the sensor's range, temperature compensation, the calibration
// values and the factory buttons.
#include <vector>

#include <QString>
#include <QWidget>

#include "ui/form_binding.h"

class QLabel;
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

    // The counters of seconds again as days and hours, beside them ("1 d 3 h"
    // for 97200); called whenever the values have been shown.
    void ShowDurations() const;
    // "<days> d <hours> h" for a number of seconds; empty for anything else ("---").
    static QString DurationText(const QString &seconds);

private:
    struct RDuration {
        QLabel *mSeconds;
        QLabel *mDuration;
    };
    std::vector<RDuration> FDurations;
    TFormBinding FBinding;
    QPushButton *FCalBtn = nullptr;
    QPushButton *FTurnOffBtn = nullptr;
    QPushButton *FLogResetBtn = nullptr;
    QPushButton *FLogSensorBtn = nullptr;
};
