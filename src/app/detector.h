#pragma once
// The detector in front of the adapter, as every job reaches it: the steps
// above the framed link (link/tamsel_comms.h) that the window's buttons, the
// configuration, event-log and firmware jobs, the tools and the command line
// share. Each step works on the session's open connection; the job frame
// (app/device_job.h) opens and closes it, and says what happened.
//
// One rule for retries: the configuration blocks and write ranges are tried
// up to kAttempts times each, and the last status counts.
#include <cstdint>
#include <functional>
#include <vector>

#include "model/config_record.h"
#include "model/device_records.h"

class TComTamsel;
class TSession;

// Record's sensor type is not the installed one (user layout): Write Device stops before writing.
inline constexpr uint8_t kStatusSensorMismatch = 0x94; // 148

class TDetector {
public:
    static constexpr int kAttempts = 3;

    explicit TDetector(TSession &session) : FSession(session) {}

    // Calls the step until it returns 0, at most `attempts` times; the last status counts.
    static uint8_t Retried(const std::function<uint8_t()> &step, int attempts = kAttempts);

    // The identity, then the product check: 0, the link's status, or the
    // check's (2: not a detector of this kind for the session's layout).
    uint8_t Connect(RTamselIdenty &identity);
    uint8_t Connect();

    // Both configuration blocks over `cfg`, each retried; `cfg` changes only
    // when both arrived (bytes the settings' sizes leave out keep its values).
    uint8_t ReadConfig(RTamselCFG &cfg);
    // Connect, then ReadConfig: Read Device's sequence.
    uint8_t ReadConfiguration(RTamselCFG &cfg, RTamselIdenty &identity);
    uint8_t ReadConfiguration(RTamselCFG &cfg);

    // The record's bytes of each range, in order, each retried; stops at the first failure.
    uint8_t WriteRanges(const RTamselCFG &cfg, const std::vector<RCFGWriteRange> &ranges);
    // Write Device's write, once connected to `identity`: in the user layout
    // a record for another sensor than the installed one stops it (148), then
    // the settings' write ranges, then in the developer layout the life
    // remaining. The record must have passed ConfigWriteProblem.
    uint8_t WriteConfig(const RTamselCFG &cfg, const RTamselIdenty &identity);

    TComTamsel &Link();

private:
    TSession &FSession;
};
