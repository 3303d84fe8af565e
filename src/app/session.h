#pragma once
// The session: what a running program has, in one object. The window's and
// the command line's main each build one and hand it to the core by
// reference; each test builds its own (tests/support/test_session.h).
//
//   settings  DeviceCFG, SensorTypes, UserMode, AppDir, RecordsCFG: LoadSettings fills
//             them at start-up (app/settings.h); until then they hold the
//             user layout's values and the built-in sensor types
//   store     the per-user store: remembered folders, span gases, placement
//   link      the one TComTamsel, with its port choice (--port, --simulate,
//             BEAMPORT_PORT)
//   records   where the user chose to keep them, and the journal every
//             finished job goes to
//   clock     the clock the long-running tools pace themselves by
//
// The rooms below app (model, link, files) never see the session: they take
// what they need of it as parameters.
#include <memory>
#include <string>
#include <vector>

#include "app/clock.h"
#include "link/tamsel_comms.h"
#include "model/settings_types.h"

class IJournal;
class TUserStore;

class TSession {
public:
    // storeFile: the per-user store kept in that file (tests, tools); empty:
    // the current user's. line: the link's line (the fuzzing harness's
    // in-memory one); null: the serial port.
    explicit TSession(const std::string &storeFile = {}, std::unique_ptr<TComm> line = nullptr);
    ~TSession();
    TSession(const TSession &) = delete;
    TSession &operator=(const TSession &) = delete;

    // ---- the settings, under their own names ----
    RDeviceCFG DeviceCFG;
    std::vector<RSensorType> SensorTypes = BuiltInSensorTypes();
    bool UserMode = true;  // the user layout; false: the developer layout
    std::string AppDir;    // the folder the settings file is looked for in
    RRecordsCFG RecordsCFG; // [RECORDS]: calibration tolerance, organisation

    // ---- the per-user store ----
    TUserStore &Store() { return *FStore; }
    // From now on the store kept in filePath (empty: the current user's).
    void UseStoreFile(const std::string &filePath);

    // ---- the link ----
    TComTamsel &Link() { return FLink; }
    // Sets the link's port choice: the --port device, else the simulated
    // detector's, else the one BEAMPORT_PORT names; none (discovery finds the
    // adapter) when all three are empty. The simulated detector's tally goes
    // with its device (TComTamsel::SetSimulatedLine).
    void ChoosePort(const std::string &portOption, const std::string &simulatorDevice = {},
                    std::shared_ptr<TLineTally> simulatorTally = nullptr);

    // ---- the service records ----
    // Where the user chose to keep them (--records); empty: BEAMPORT_RECORDS,
    // else the default store (records/location.h).
    std::string RecordsChoice;
    // The journal every finished job goes to; records nothing until one is
    // set. A journal may keep its records on a thread of its own: a program
    // calls Journal().Flush() before the screen that hears of trouble with
    // them goes, and the session's end waits for what is still handed over.
    IJournal &Journal() { return *FJournal; }
    // Takes the journal over (null: records nothing).
    void SetJournal(std::unique_ptr<IJournal> journal);

    // ---- the clock ----
    IClock &Clock() { return *FClock; }
    // Runs the session on another clock (tests); it must outlive its use.
    void UseClock(IClock &clock) { FClock = &clock; }

private:
    std::unique_ptr<TUserStore> FStore;
    TComTamsel FLink;
    std::unique_ptr<IJournal> FJournal;
    TRealClock FRealClock;
    IClock *FClock = &FRealClock;
};
