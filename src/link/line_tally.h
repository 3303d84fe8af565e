#pragma once
// What the program has done on a line that a simulated detector in this same
// process serves (on Windows: the detector's named pipe): the bytes it has
// written, and how many of them it had written when it took in a reply the
// detector is watching for.
//
// A detector that is asleep or slow gets the wake-up frame again and again
// until the program sees its acknowledge; those repeats must go unanswered,
// while a wake-up frame sent after the acknowledge was seen is a new request
// and is answered. On a pseudo-terminal the detector can only tell them apart
// by when they come; through a tally it knows, whatever the system's pipe and
// its threads make of the timing.
//
// The detector makes the tally and hands it to whoever opens its line for the
// program (TComTamsel::SetSimulatedLine). The port keeps the program's side
// (Opened, Wrote, TookIn, Closed) on the program's thread; the detector keeps
// its side (Watch, WrittenBeforeWatchedReply) on its own. Counts start over
// when the program opens the line. A client that keeps no tally (a test's
// plain pipe, a port not told of it) leaves Attached false, and the detector
// goes by time as on a pty.
#include <cstdint>
#include <mutex>
#include <optional>

class TLineTally {
public:
    // --- the program's side ---
    void Opened();
    void Wrote(uint64_t count);
    void TookIn(uint64_t count); // read, or thrown away by a purge
    void Closed();

    // --- the detector's side ---
    // The line is open to a program that keeps this tally.
    bool Attached() const;
    // Watch for the program taking in everything the detector has written on
    // this connection up to `replyEnd` bytes; set before the reply goes out.
    void Watch(uint64_t replyEnd);
    // Whether the program wrote its first `written` bytes before it had taken
    // in the watched reply (or has not taken it in yet); false when no reply
    // is watched.
    bool WrittenBeforeWatchedReply(uint64_t written) const;

private:
    mutable std::mutex FMutex;
    bool FAttached = false;
    uint64_t FWritten = 0;
    uint64_t FTakenIn = 0;
    std::optional<uint64_t> FWatched;
    std::optional<uint64_t> FWrittenAtWatched;
};
