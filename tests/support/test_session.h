#pragma once
// The one session of a test: what a program's main builds, made fresh for
// each test in a scratch folder of its own, so that nothing a test sets
// (settings, port, store, journal, clock) reaches the next one.
//
// It starts with the user layout's settings and the built-in sensor types,
// a per-user store in the scratch folder, records off and no port chosen;
// StartSim points the link at a simulated detector, UsePort at any device,
// CaptureJournal keeps what the jobs record. A fixture derives from it (next
// to ::testing::Test) or holds one.
#include <filesystem>
#include <memory>
#include <string>

#include "app/session.h"
#include "sim/sim_detector.h"
#include "support/capturing_journal.h"

class TTestSession {
public:
    TTestSession();
    // The link closed, the simulator stopped, the scratch folder removed.
    ~TTestSession();
    TTestSession(const TTestSession &) = delete;
    TTestSession &operator=(const TTestSession &) = delete;

    // Starts a simulated detector (replacing one that runs) and points the link at it.
    SimDetector &StartSim(const SimOptions &options = {});
    // Points the link at a device of the test's own (a pty peer, a path that does not exist).
    void UsePort(const std::string &device);
    // From now on the session's journal keeps every record, for the test to read.
    TCapturingJournal &CaptureJournal();
    // A file or folder name in the scratch folder.
    std::string Path(const std::string &name) const;

    const std::filesystem::path dir; // the scratch folder
    TSession session;                // its per-user store: dir/store.conf
    TComTamsel &link;                // session.Link()
    std::unique_ptr<SimDetector> sim;
};
