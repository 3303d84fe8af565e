#pragma once
// The main window's device actions: the detector jobs (app/detector_jobs.h)
// on the window's shared state (RMainState: FTamselCFG, FForm, FReadSW,
// FHibernateConfirmed). The command line and the tools use the detector jobs
// directly; only the window works through these.
#include <cstdint>

#include "app/app_state.h"
#include "app/detector_jobs.h"

class TSession;

// FTamselCFG := ViewToConfig(FForm, forDevice) for the session's layout and
// sensor types. When a life remaining above 730 days was cut while building
// for the detector, the life editors are set to 24 months and 0 days and the
// information box "Check Life Remaining" is shown; the build goes on either way.
void ViewToMainState(const TSession &session, RMainState &state, IScreen &screen, bool forDevice);

// The window's "Compare...": Write Device's own refusals first (write ranges
// that leave the record, a record without a sensor type; the same boxes),
// then the record Write Device would send is built from the view (without
// touching the editors or showing the life box) and compared with the
// detector; the list is told in one information box captioned
// kCompareCaption. mRefused for a refusal.
RActionResult CompareAction(TSession &session, IScreen &screen, const RMainState &state);

class TDeviceActions {
public:
    TDeviceActions(TSession &session, IScreen &screen, RMainState &state);

    // --- sequences on an open connection (also used by other actions) ---

    // Identity, product check (2), unit block, sensor block (3 attempts
    // each). Only when all succeeded: FTamselCFG takes both blocks, FReadSW
    // the firmware version, and the view is refreshed (ConfigToView). The
    // product name box (FForm.mDevProductName) is emptied first and shows the
    // product name once the product is accepted.
    uint8_t ReadDeviceConfig();
    // Identity, product check (2), in the user layout the sensor check
    // (148), then the four write ranges of DeviceCFG in order (unit factory,
    // unit user, sensor factory, sensor user; size 0 skipped; 3 attempts
    // each), and in the developer layout the life remaining (3 attempts).
    // Settings with a range that leaves the record give 192 before anything
    // is sent.
    uint8_t WriteDeviceConfig();

    // The detector jobs on the window's state; every one but Hibernate and
    // Identify forgets a confirmed hibernation (FHibernateConfirmed).
    ROpResult ReadForSensorCalibration();
    RActionResult ReadDevice();                // "Read Norvik Information"
    // "Write Norvik Information" of the record the editors hold; after a
    // write in the developer layout the serial editor takes the focus, ready
    // for the next unit.
    RActionResult WriteDevice();
    RActionResult Hibernate();
    RActionResult LogReset();
    RActionResult TurnOff();
    RActionResult Calibration();
    RActionResult ActuatorTest(int nButton);
    RActionResult PeakBumpReport(int nButton, const std::string &serial = {});
    RActionResult FactoryReset();
    RActionResult Identify(RTamselIdenty *identity = nullptr, bool bShowBox = true);

private:
    TDetectorJobs &Forgetting();

    TSession &FSession;
    IScreen &FScreen;
    RMainState &FState;
    TDetectorJobs FJobs;
};
