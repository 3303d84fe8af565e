#pragma once
// The event log: download from the detector, parse into events, sort oldest
// first, and export as a CSV text file (CR LF lines) headed by values of the
// configuration record.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/status.h"
#include "files/cfg_file.h"
#include "model/config_record.h"
#include "model/datetime.h"
#include "model/device_records.h"
#include "model/read_buf.h"

class IScreen;
class TComTamsel;
struct RMainState;

inline constexpr const char *kEventLogPrefix = "Load Event Log";
inline constexpr const char *kEventNoDataCaption = "Log Event";
inline constexpr const char *kEventNoDataText = "No logging event data...";
inline constexpr const char *kEventSaveTitle = "Save Logging Data...";
inline constexpr const char *kEventFilter = "Data file (*.csv)";
inline constexpr const char *kEventDefaultExt = "CSV";
inline constexpr const char *kEventSaveCaption = "Save Event Log";
inline constexpr const char *kEventNotSavedText = "Event logging file did not save\rRetry SAVE EVENT LOG";
inline constexpr const char *kEventColumnTitles =
    "Event Date,Event Time,BumpTest,Duration(seconds),Sensor Reading,Alarm";

// The events of a downloaded log in download order: entry k is the 9 bytes
// at k * nStride, for k below mData div nStride, up to (not including) the
// first entry whose mStartEvent is all ones. Only received bytes are read:
// an entry reaching past mData (or the carrier) ends the list, and a count
// outside 0..1024 is taken as its bound. A stride below 1 gives no events.
std::vector<RTamselEvent> ParseEventLog(const RComTamselReadBuf &mBuf, int nStride);

// Largest mStartEvent first (the oldest event, since the counter counts
// down), by exchanging whole entries: for each position, every later entry
// with a larger start is swapped into it.
void SortEventLog(std::vector<RTamselEvent> &events);

// "3months 12 days", or "12 days" when there are no whole months.
std::string EventLifeText(uint32_t nLifeRemaining);

// The time of an event: rNow less (mStartEvent - nLifeRemaining) seconds,
// the difference taken as an unsigned 32-bit number.
TDateTime EventTime(const RTamselEvent &e, uint32_t nLifeRemaining, TDateTime rNow);

// One row without its line end: date, time, YES/NO, duration, reading
// ("O.L." over range) and the alarm texts ("LOW Alarm ", "HIGH Alarm ").
std::string EventLogRow(const RTamselEvent &e, uint32_t nLifeRemaining, TDateTime rNow);

// The whole file: the header lines taken from mCFG, an empty line, the
// column titles and one row per event in list order; every line ends in CR LF.
std::string EventLogText(const RTamselCFG &mCFG, const std::vector<RTamselEvent> &events, TDateTime rNow);

// Writes EventLogText with the current local time as the reference. An
// existing file is replaced only by a complete new one. False on failure.
bool SaveEventLog(const std::string &fileName, const RTamselCFG &mCFG, const std::vector<RTamselEvent> &events,
                  std::string *error = nullptr);

// The proposed name: serial + "_LOG_" + "YYMMDDHHNNSS" + ".CSV".
std::string EventLogFileName(const RTamselCFG &mCFG, TDateTime rNow);

// The configuration read on the open link; returns the status.
using TReadDeviceConfig = std::function<uint8_t()>;

struct REventLogResult {
    ROpResult mOp;              // the download's result, as reported
    int mEvents = 0;            // events found before the end marker
    EFileOutcome mFile = EFileOutcome::Cancelled; // Cancelled also when nothing was offered for saving
    std::string mPath;          // the file chosen
};

// Save Event Log: in the operation frame ("Load Event Log") the
// configuration read of Read Device (TDeviceActions::ReadDeviceConfig: on
// success FTamselCFG, FReadSW and state.FForm are refreshed), the identity
// again with its product check, and the download; then mLifeRemaining of
// FTamselCFG := the identity's life, the parse, the sort, the save dialog,
// SaveEventLog and the remembered folder. readDeviceConfig replaces the
// configuration read when given.
REventLogResult SaveEventLogAction(IScreen &screen, TComTamsel &link, RMainState &state,
                                   const TReadDeviceConfig &readDeviceConfig = {});
