#pragma once
// The state the main window's actions share: the configuration being edited,
// the editors' values and the small flags. Only the window and its actions
// (app/device_actions.h) work on it; the detector jobs below them take
// records and flags of their own.
#include <cstdint>
#include <optional>

#include "model/config_form.h"
#include "model/config_record.h"

// Where the record the editors show came from.
enum class ERecordSource : uint8_t {
    Defaults, // the default record of the start: nothing has been read yet
    Detector, // read from a detector
    File,     // read from a .cfg file
};

struct RMainState {
    RTamselCFG FTamselCFG = DefaultCFG();              // the configuration being edited
    ConfigForm FForm;                                  // what the editors hold
    bool FUpgrade = false;                             // a firmware download is running: closing waits
    bool FHibernateConfirmed = false;                  // hibernate confirmed since the last other action
    uint8_t FReadSW = 0;                               // firmware version of the last configuration read
    ERecordSource FRecordSource = ERecordSource::Defaults; // what the last successful read read from
    std::optional<RTamselCFG> FDetectorCFG;            // as last read from a detector, whatever was edited since
};
