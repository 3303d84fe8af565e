#pragma once
// The status bar at the bottom of the window: the operation text (coloured by
// the result), the "Check adapter..." button beside it while a job could not
// reach the adapter, in simulate mode a label that says so, and the clock.
#include <QWidget>

class QLabel;
class QPushButton;

class TStatusPanel : public QWidget {
    Q_OBJECT

public:
    explicit TStatusPanel(QWidget *parent = nullptr);

    QLabel *StatusLabel() const { return FStatusLabel; }
    QLabel *TimeLabel() const { return FTimeLabel; }
    QPushButton *AdapterCheckBtn() const { return FAdapterCheckBtn; }
    // Shows the adapter check beside the text, or hides it.
    void OfferAdapterCheck(bool bOffer);
    // Says, beside the clock, that the detector is simulated.
    void ShowSimulated(bool bSimulated);
    QLabel *SimulatedLabel() const { return FSimulatedLabel; }

private:
    QLabel *FSimulatedLabel = nullptr;
    QLabel *FStatusLabel = nullptr;
    QLabel *FTimeLabel = nullptr;
    QPushButton *FAdapterCheckBtn = nullptr;
};
