#pragma once
// The status bar after a measuring procedure: a bump test or a calibration
// that failed or was refused turns it red with its verdict, as every other
// failed job does; a pass turns it green. A watch on the open dialog shows
// the verdict the moment the procedure ends, while the dialog is still up.
#include <string>

#include <QObject>
#include <QTimer>

#include "tools/bump_procedure.h"
#include "tools/cal_evidence.h"
#include "tools/sensor_cal.h"

class IScreen;
class TBumpTestDlg;
class TSensorCalDlg;

enum class EVerdictLook : uint8_t { kNone, kPass, kFail, kNeutral };

struct RStatusVerdict {
    EVerdictLook mLook = EVerdictLook::kNone; // kNone: the status bar is left as it is
    std::string mText;
};

inline constexpr const char *kBumpVerdictPrefix = "Bump Test";
inline constexpr const char *kCalVerdictPrefix = "Sensor Calibration";

// A finished bump test's status-bar verdict ("Bump Test... FAIL: <reason>").
// One that could not reach the detector has shown its own status already.
RStatusVerdict BumpVerdict(const RBumpResult &result);
// A finished calibration's: the measured verdict when it ran against a
// cylinder (`evidence`, null without one), else the procedure's own outcome.
RStatusVerdict CalVerdict(ECalOutcome procedure, const RCalEvidence *evidence);
// The verdict into the status bar in the colours of its look.
void ShowVerdict(IScreen &screen, const RStatusVerdict &verdict);

// Watches a dialog while it is open: each time its procedure ends, the
// verdict goes to the screen's status bar. Made after the dialog and gone
// before it.
class TVerdictWatch : public QObject {
public:
    TVerdictWatch(TBumpTestDlg &dialog, IScreen &screen);
    TVerdictWatch(TSensorCalDlg &dialog, IScreen &screen);
    // Looks once: a procedure that has ended and whose verdict is not shown
    // yet shows it (the dialog's close looks a last time).
    void Check();

private:
    void Start();

    TBumpTestDlg *FBump = nullptr;
    TSensorCalDlg *FCal = nullptr;
    IScreen &FScreen;
    QTimer FTimer;
    bool FBusy = false;     // a procedure was running at the last look
    bool FMeasured = false; // ... and it was measured against a cylinder
    bool FShown = false;    // the last verdict has been shown
};
