#pragma once
// The clock the long-running tools (sensor logger, calibration polling) run
// on. Times are day counts (TDateTime); a tool never spins while it waits: it
// asks for its next due time and sleeps until then (or the window's event
// loop waits that long).
#include <chrono>

#include "model/datetime.h"

inline constexpr double kSecondsPerDayF = 86400.0;

inline TDateTime AddSeconds(TDateTime t, double seconds) { return t + seconds / kSecondsPerDayF; }
inline TDateTime AddMilliseconds(TDateTime t, double ms) { return t + ms / (kSecondsPerDayF * 1000.0); }

// "At once": a due time that is never in the future.
inline constexpr TDateTime kDueNow = -1e9;
// "Never": no work is pending.
inline constexpr TDateTime kDueNever = 1e12;

class IToolClock {
public:
    virtual ~IToolClock() = default;
    // The current time.
    virtual TDateTime Now() = 0;
    // Returns once Now() has reached t (at once when it has already).
    virtual void SleepUntil(TDateTime t) = 0;
};

// The wall clock read at construction, carried on by the steady clock: it
// never jumps (daylight saving, clock adjustments), so waits stay the length
// they were computed with.
class TRealToolClock : public IToolClock {
public:
    TRealToolClock();
    TDateTime Now() override;
    void SleepUntil(TDateTime t) override;

private:
    TDateTime FBase;
    std::chrono::steady_clock::time_point FStart;
};

// Milliseconds from now until t, rounded up; 0 when t has passed, capped at
// one day (a timer interval).
int MillisecondsUntil(IToolClock &clock, TDateTime t);
