#pragma once
// "Sensor Calibration": the window of the calibration tool. A thin binding
// of TSensorCalibration: the buttons call the controller, a timer runs its
// polling passes at their due times, and its status lines, progress and span
// gas entry land in the widgets.
#include <QDialog>
#include <QTimer>
#include <array>
#include <memory>

#include "tools/sensor_cal.h"

class QCloseEvent;
class QDoubleSpinBox;
class QLabel;
class QProgressBar;
class QPushButton;
class TSession;
class IScreen;
class TToolDialogScreen;

class TSensorCalDlg : public QDialog, private ISensorCalView {
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
    bool CloseAllowed() const { return FCal.CloseAllowed(); }
    TSensorCalibration &Calibration() { return FCal; }

public slots:
    void CalBtnClick();
    void CalAbortBtnClick();
    void CloseBtnClick();
    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private slots:
    void RunPass();

private:
    void SchedulePass();

    // --- ISensorCalView ---
    void CaptionChanged(const std::string &text) override;
    void SpanRangeChanged(double rMin, double rMax) override;
    void SpanValueChanged(double rValue) override;
    void UnitChanged(const std::string &text) override;
    void StatusLineChanged(int line, const std::string &text, RColor color) override;
    void RunningChanged(bool running) override;
    void CalProgressChanged(int position, int max) override;

    std::unique_ptr<TToolDialogScreen> FOwnScreen;
    IClock &FClock;
    TSensorCalibration FCal;
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
};
