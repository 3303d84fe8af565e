#pragma once
// "Sensor Reading Data Logging": the window of the sensor logger. A thin
// binding of TSensorLogger: the buttons set the controller's flags, a timer
// runs its passes at their due times, and what it shows lands in the labels,
// boxes and the chart. The values carry their units, the chart's axes their
// titles, and the detector's alarm levels are drawn across the chart when its
// configuration is known.
#include <functional>

#include <QDialog>
#include <QString>
#include <QTimer>
#include <array>
#include <memory>
#include <optional>

#include "tools/sensor_logger.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QCloseEvent;
class SimDetector;
class TSession;
class TSimGasPanel;
class IScreen;
class TToolDialogScreen;
class TReadingChart;

class TSensorLogDlg : public QDialog, private ISensorLogView {
    Q_OBJECT
public:
    // The logger works on the session (its settings, store, link and clock).
    // `screen` takes the dialog's message boxes and the save dialog (null: the
    // dialog's own, parented to it).
    explicit TSensorLogDlg(TSession &session, QWidget *parent = nullptr, IScreen *screen = nullptr);
    ~TSensorLogDlg() override;

    // Closing allowed, not logging, no command pending; then shown modally.
    int ShowDlg();
    // The configuration last read from a detector. When the detector logged
    // is that one (same serial), its alarm levels are drawn on the chart; its
    // sensor names the gas until a run has read the detector's identity.
    void SetKnownConfiguration(const RTamselCFG &cfg);
    // The gas's name and unit as shown ("H2S", "ppm"); empty when unknown.
    QString GasName() const { return FGasName; }
    QString GasUnit() const { return FGasUnit; }
    // The alarm levels drawn, in the gas's unit (low, high); none when unknown.
    std::optional<std::pair<double, double>> AlarmLevels() const { return FAlarmLevels; }
    bool CloseEnabled() const { return FLogger.CloseEnabled(); }
    TSensorLogger &Logger() { return FLogger; }
    // Simulate mode: the gas at the simulated detector's sensor is applied
    // and removed from this dialog.
    void UseSimulator(SimDetector &sim);
    // "Bump Test..." (while not logging): opens the guided bump test; the
    // button shows only when this is set.
    std::function<void()> OnBumpTest;

public slots:
    void StartBtnClick();
    void StopBtnClick();
    void CalBtnClick() { Press(kLogBtnCalibration); }
    void ZeroBtnClick() { Press(kLogBtnZero); }
    void SpanBtnClick() { Press(kLogBtnSpan); }
    void CalAbortBtnClick() { Press(kLogBtnCalAbort); }
    void ClearPeakBtnClick() { Press(kLogBtnClearPeak); }
    void BumpPassBtnClick() { Press(kLogBtnBumpPass); }
    void BumpFailBtnClick() { Press(kLogBtnBumpFail); }
    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private slots:
    void RunPass();

private:
    void Press(uint8_t nBtnSel);
    void SchedulePass();
    // The gas and the alarm levels for a detector of this sensor code and serial.
    void ShowGas(uint8_t nSensorCode, const char (&serial)[10]);
    void DrawAlarmLevels();

    // --- ISensorLogView ---
    void LogStateChanged(bool logging) override;
    void CommandButtonsEnabled(bool enabled) override;
    void CalLabelChanged(const std::string &text, RColor color) override;
    void CalProgressChanged(int position, int max) override;
    void CalProgLabelChanged(const std::string &text) override;
    void ReadingShown(const RSensorLogDisplay &shown) override;
    void ChartReset(double rMin, double rMax, double rTick) override;
    void ChartAdded(const RChartPoint &point) override;
    void ChartMoved(double rMin, double rMax, const std::vector<RChartPoint> &points) override;

    TSession &FSession;
    std::unique_ptr<TToolDialogScreen> FOwnScreen;
    IClock &FClock;
    TSensorLogger FLogger;
    QTimer FPassTimer;
    bool FInPass = false;

    QPushButton *StartBtn = nullptr;
    QPushButton *StopBtn = nullptr;
    QPushButton *CloseBtn = nullptr;
    QPushButton *BumpTestBtn = nullptr;
    TSimGasPanel *FSimGas = nullptr;
    QLabel *SensorValueLabel1 = nullptr;
    QLabel *SensorPeakLabel1 = nullptr;
    QLabel *SensorValueLabel2 = nullptr;
    QLabel *SensorPeakLabel2 = nullptr;
    QLabel *SensorValueLabel3 = nullptr;
    QLabel *SensorPeakLabel3 = nullptr;
    QCheckBox *SensorCheck2 = nullptr;
    QCheckBox *SensorCheck3 = nullptr;
    std::array<QCheckBox *, 6> SensorHistoryCheck{};
    std::array<QCheckBox *, 5> SensorAlarmCheck{};
    QPushButton *CalBtn = nullptr;
    QPushButton *ZeroBtn = nullptr;
    QPushButton *SpanBtn = nullptr;
    QPushButton *CalAbortBtn = nullptr;
    QPushButton *ClearPeakBtn = nullptr;
    QPushButton *BumpPassBtn = nullptr;
    QPushButton *BumpFailBtn = nullptr;
    QProgressBar *CalProgressBar = nullptr;
    QLabel *CalLabel = nullptr;
    QLabel *CalProgLabel = nullptr;
    TReadingChart *SensorChart = nullptr;
    std::array<QLabel *, 3> FValueUnits{}; // beside SensorValueLabel1..3
    std::array<QLabel *, 3> FPeakUnits{};  // beside SensorPeakLabel1..3
    QLabel *FAlarmLevelsLabel = nullptr;
    std::optional<RTamselCFG> FKnown;
    QString FGasName;
    QString FGasUnit;
    std::optional<std::pair<double, double>> FAlarmLevels;
};
