#pragma once
// "Check Adapter": the checks of the adapter doctor, for a technician whose job
// could not reach the infrared adapter. Each finding is listed with what to do
// about it; "Check Again" runs the checks anew (after replugging, say).
#include <functional>

#include <QDialog>

#include "link/adapter_doctor.h"

class QLabel;
class QPushButton;
class QVBoxLayout;

inline constexpr const char *kAdapterCheckCaption = "Check Adapter";

class TAdapterCheckDlg : public QDialog {
    Q_OBJECT

public:
    using TChecks = std::function<RDoctorReport()>;

    // `checks` looks at the machine; it runs on opening and on every Recheck.
    explicit TAdapterCheckDlg(TChecks checks, QWidget *parent = nullptr);

    // Runs the checks and lists what they found.
    void Recheck();
    const RDoctorReport &Report() const { return FReport; }
    // The line above the list: how many problems, or that all is well.
    static QString SummaryText(const RDoctorReport &report);

protected:
    void showEvent(QShowEvent *event) override;

private:
    TChecks FChecks;
    RDoctorReport FReport;
    QLabel *FSummary = nullptr;
    QWidget *FList = nullptr;
    QVBoxLayout *FListLayout = nullptr;
};
