#pragma once
// Save Event Log: the download from the detector in the operation frame, then
// the parse, the save dialog and the CSV file.
#include <functional>
#include <string>

#include "app/cfg_actions.h"
#include "app/detector_jobs.h"
#include "app/device_job.h"
#include "files/event_log.h"

class IScreen;
class TSession;
struct RMainState;

inline constexpr const char *kEventLogPrefix = "Load Event Log";
inline constexpr const char *kEventNoDataCaption = "Log Event";
inline constexpr const char *kEventNoDataText = "No logging event data...";
inline constexpr const char *kEventSaveTitle = "Save Logging Data...";
inline constexpr const char *kEventFilter = "Data file (*.csv)";
inline constexpr const char *kEventDefaultExt = "CSV";
inline constexpr const char *kEventSaveCaption = "Save Event Log";
inline constexpr const char *kEventNotSavedText = "Event logging file did not save\rRetry SAVE EVENT LOG";

// The configuration read on the open link; returns the status.
using TReadDeviceConfig = std::function<uint8_t()>;

struct REventLogResult {
    ROpResult mOp;              // the download's result, as reported
    int mEvents = 0;            // events found before the end marker
    EFileOutcome mFile = EFileOutcome::Cancelled; // Cancelled also when nothing was offered for saving
    std::string mPath;          // the file chosen
};

// Save Event Log: in the operation frame ("Load Event Log") the
// configuration read (`read`, Read Device's sequence over `cfg` when none is
// given), the identity again with its product check, and the download; then
// cfg's mLifeRemaining := the identity's life, the parse, the sort, the save
// dialog, SaveEventLog and the remembered folder.
REventLogResult SaveEventLogAction(TSession &session, IScreen &screen, RTamselCFG &cfg, const TConfigRead &read = {});
// The window's: on its state (FTamselCFG), its hibernation confirmation
// forgotten; the configuration read is TDeviceActions::ReadDeviceConfig
// (which refreshes state.FForm) unless readDeviceConfig is given.
REventLogResult SaveEventLogAction(TSession &session, IScreen &screen, RMainState &state,
                                   const TReadDeviceConfig &readDeviceConfig = {});
