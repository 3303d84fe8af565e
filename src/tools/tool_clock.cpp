#include "tools/tool_clock.h"

#include <cmath>
#include <thread>

TRealToolClock::TRealToolClock() : FBase(::Now()), FStart(std::chrono::steady_clock::now()) {}

TDateTime TRealToolClock::Now()
{
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - FStart;
    return AddSeconds(FBase, elapsed.count());
}

TDateTime TRealToolClock::WallNow() { return ::Now(); }

void TRealToolClock::SleepUntil(TDateTime t)
{
    const double seconds = (t - FBase) * kSecondsPerDayF;
    if (!(seconds > 0) || !std::isfinite(seconds))
        return;
    // Rounded up to the next microsecond so that Now() has reached t on return.
    const auto offset = std::chrono::microseconds(static_cast<long long>(std::ceil(seconds * 1e6)));
    std::this_thread::sleep_until(FStart + offset);
}

int MillisecondsUntil(IToolClock &clock, TDateTime t)
{
    const double ms = (t - clock.Now()) * kSecondsPerDayF * 1000.0;
    if (!(ms > 0))
        return 0;
    constexpr double kCap = 86400000.0;
    return static_cast<int>(std::ceil(ms < kCap ? ms : kCap));
}
