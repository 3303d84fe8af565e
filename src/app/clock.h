#pragma once
// The session's clock, the one the long-running tools (sensor logger,
// calibration polling) run on. Times are day counts (TDateTime); a tool never
// spins while it waits: it asks for its next due time and sleeps until then
// (or the window's event loop waits that long).
//
// Two readings: Now() paces the work and measures elapsed time (it never
// jumps), WallNow() is the local time of day a user reads in a file (it
// follows clock changes and daylight saving).
#include <chrono>

#include "model/datetime.h"

inline constexpr double kSecondsPerDayF = 86400.0;

inline TDateTime AddSeconds(TDateTime t, double seconds) { return t + seconds / kSecondsPerDayF; }
inline TDateTime AddMilliseconds(TDateTime t, double ms) { return t + ms / (kSecondsPerDayF * 1000.0); }

// "At once": a due time that is never in the future.
inline constexpr TDateTime kDueNow = -1e9;
// "Never": no work is pending.
inline constexpr TDateTime kDueNever = 1e12;

class IClock {
public:
    virtual ~IClock() = default;
    // The current time on the monotonic scale: waits, due times, elapsed seconds.
    virtual TDateTime Now() = 0;
    // The local wall clock now, read afresh: the time written into rows and
    // proposed file names. A clock that keeps no separate wall time answers Now().
    virtual TDateTime WallNow() { return Now(); }
    // Returns once Now() has reached t (at once when it has already).
    virtual void SleepUntil(TDateTime t) = 0;
};

// Now(): the wall clock read at construction, carried on by the steady clock:
// it never jumps (daylight saving, clock adjustments), so waits stay the
// length they were computed with. WallNow(): the local wall clock itself.
class TRealClock : public IClock {
public:
    TRealClock();
    TDateTime Now() override;
    TDateTime WallNow() override;
    void SleepUntil(TDateTime t) override;

private:
    TDateTime FBase;
    std::chrono::steady_clock::time_point FStart;
};

// Milliseconds from now until t, rounded up; 0 when t has passed, capped at
// one day (a timer interval).
int MillisecondsUntil(IClock &clock, TDateTime t);
