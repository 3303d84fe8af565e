#pragma once
// The event log's format: parse the downloaded bytes into events, sort them
// oldest first, and export them as a CSV text file (CR LF lines) headed by
// values of the configuration record.
#include <cstdint>
#include <string>
#include <vector>

#include "model/config_record.h"
#include "model/datetime.h"
#include "model/device_records.h"
#include "model/read_buf.h"

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
