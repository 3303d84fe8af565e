#include "app/clock.h"

#include <cmath>
#include <thread>

TRealClock::TRealClock() : FBase(::Now()), FStart(std::chrono::steady_clock::now()) {}

TDateTime TRealClock::Now()
{
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - FStart;
    return AddSeconds(FBase, elapsed.count());
}

TDateTime TRealClock::WallNow() { return ::Now(); }

void TRealClock::SleepUntil(TDateTime t)
{
    const double seconds = (t - FBase) * kSecondsPerDayF;
    if (!(seconds > 0) || !std::isfinite(seconds))
        return;
    // Rounded up to the next microsecond so that Now() has reached t on return.
    const auto offset = std::chrono::microseconds(static_cast<long long>(std::ceil(seconds * 1e6)));
    std::this_thread::sleep_until(FStart + offset);
}

int MillisecondsUntil(IClock &clock, TDateTime t)
{
    const double ms = (t - clock.Now()) * kSecondsPerDayF * 1000.0;
    if (!(ms > 0))
        return 0;
    constexpr double kCap = 86400000.0;
    return static_cast<int>(std::ceil(ms < kCap ? ms : kCap));
}
