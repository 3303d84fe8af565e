#pragma once
// The user layout: one page for customers. The detector's identity as read-only
// values, the editors a customer may change, the file and device buttons, the
// event log, the sensor calibration and the guided bump test, and the firmware
// panel.
#include <QWidget>

#include "ui/config_rows.h"
#include "ui/form_binding.h"

class TFirmwarePanel;

class TUserPage : public QWidget {
    Q_OBJECT

public:
    explicit TUserPage(QWidget *parent = nullptr);

    const TFormBinding &Binding() const { return FBinding; }
    const RConfigEditors &Editors() const { return FEditors; }
    const RConfigButtons &Buttons() const { return FButtons; }
    QPushButton *CalBtn() const { return FCalBtn; } // "Sensor Calibration"
    QPushButton *BumpTestBtn() const { return FBumpTestBtn; } // "Bump Test..."
    TFirmwarePanel *FirmwarePanel() const { return FFirmware; }

private:
    TFormBinding FBinding;
    RConfigEditors FEditors;
    RConfigButtons FButtons;
    QPushButton *FCalBtn = nullptr;
    QPushButton *FBumpTestBtn = nullptr;
    TFirmwarePanel *FFirmware = nullptr;
};
