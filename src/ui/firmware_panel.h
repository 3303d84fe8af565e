#pragma once
// The firmware panel, one on each layout: the image file with its open
// button, what the image is, "Upgrade Firmware", "Cancel" and the download's
// progress. Both panels show the one RFirmwarePanel of the upgrade job.
#include <QFrame>
#include <QString>

struct RFirmwarePanel;
class QLabel;
class QProgressBar;
class QPushButton;

class TFirmwarePanel : public QFrame {
    Q_OBJECT

public:
    // `prefix` begins every control's name: "UserFM" or "UserOptFM".
    explicit TFirmwarePanel(const QString &prefix, QWidget *parent = nullptr);

    void Show(const RFirmwarePanel &panel);

    QPushButton *OpenBtn() const { return FOpenBtn; }
    QPushButton *UpgradeBtn() const { return FUpgradeBtn; }
    QPushButton *CancelBtn() const { return FCancelBtn; }
    QString ProgressBarName() const;

private:
    QLabel *FFileLabel = nullptr;
    QLabel *FDescLabel = nullptr;
    QPushButton *FOpenBtn = nullptr;
    QPushButton *FUpgradeBtn = nullptr;
    QPushButton *FCancelBtn = nullptr;
    QProgressBar *FProgressBar = nullptr;
};
