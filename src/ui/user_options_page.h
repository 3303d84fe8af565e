#pragma once
// The developer layout's "User Options" page: the user layout's rows, editable
// (hardware version, serial number, life remaining, sensor type), the product
// name of the detector last read, the file and device buttons, the event log
// and the firmware panel.
#include <QWidget>

#include "ui/config_rows.h"
#include "ui/form_binding.h"

class QLineEdit;
class TFirmwarePanel;

class TUserOptionsPage : public QWidget {
    Q_OBJECT

public:
    explicit TUserOptionsPage(QWidget *parent = nullptr);

    const TFormBinding &Binding() const { return FBinding; }
    const RConfigEditors &Editors() const { return FEditors; }
    const RConfigButtons &Buttons() const { return FButtons; }
    QLineEdit *SerialEdit() const { return FSerialEdit; }
    QComboBox *SensorTypeCombo() const { return FSensorTypeCombo; }
    TFirmwarePanel *FirmwarePanel() const { return FFirmware; }

private:
    TFormBinding FBinding;
    RConfigEditors FEditors;
    RConfigButtons FButtons;
    QLineEdit *FSerialEdit = nullptr;
    QComboBox *FSensorTypeCombo = nullptr;
    TFirmwarePanel *FFirmware = nullptr;
};
