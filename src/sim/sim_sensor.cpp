#include "sim/sim_sensor.h"

#include <algorithm>
#include <cmath>

namespace {

// A first-order response reaches 90 % of a step after ln(10) time constants.
const double kLn10 = std::log(10.0);
// Below this a time (seconds) is taken as none, so that a zero knob cannot divide by zero.
constexpr double kShortest = 1e-3;

} // namespace

double SimGasSensor::Sensed(double now) const
{
    if (now <= FSince)
        return FFrom;
    return FTarget + (FFrom - FTarget) * std::exp(-(now - FSince) / FTau);
}

double SimGasSensor::Gain(const SimSensorSettings &settings) const
{
    if (FGain)
        return *FGain;
    if (settings.kind == SimSensorKind::kDrifted)
        return 1.0 - std::clamp(settings.drift, 0.0, 99.0) / 100.0;
    return 1.0;
}

double SimGasSensor::Deviation(double now, const SimSensorSettings &settings) const
{
    return Gain(settings) * Sensed(now) - FClean;
}

double SimGasSensor::Tau(const SimSensorSettings &settings) const
{
    return std::max(settings.t90, kShortest) / kLn10;
}

void SimGasSensor::MoveTo(double target, double tau, double now)
{
    FFrom = Sensed(now);
    FTarget = target;
    FTau = std::max(tau, kShortest);
    FSince = now;
}

void SimGasSensor::Expose(double tenths, double now, const SimSensorSettings &settings, double offset,
                          double lowAlarm)
{
    FApplied = tenths;
    if (settings.kind == SimSensorKind::kDead)
        return; // whatever it was doing, the gas changes nothing
    double tau = Tau(settings);
    if (settings.kind == SimSensorKind::kSlow) {
        // Pace the response so that the reading passes the low alarm level
        // (rising, or falling for oxygen) slowAlarm seconds from now:
        // r(t) = end + (start - end) e^(-t/tau) meets the level when
        // e^(-t/tau) = (level - end) / (start - end).
        const double slow = std::max(settings.slowAlarm, kShortest);
        tau = slow / kLn10;
        const double gain = Gain(settings);
        const double start = offset + gain * Sensed(now) - FClean;
        const double end = offset + gain * tenths - FClean;
        if (lowAlarm > 0 && start != end) {
            const double part = (lowAlarm - end) / (start - end);
            if (part > 0 && part < 1)
                tau = slow / std::log(1 / part);
        }
    }
    MoveTo(tenths, tau, now);
}

void SimGasSensor::Clear(double now, const SimSensorSettings &settings)
{
    FApplied.reset();
    // A slow sensor clears as slowly as it came; the others by their response time.
    MoveTo(FClean, settings.kind == SimSensorKind::kSlow ? FTau : Tau(settings), now);
}

std::optional<double> SimGasSensor::GainFor(double span, double offset, double at) const
{
    const double sensed = Sensed(at);
    if (std::abs(sensed - FClean) < 1.0)
        return std::nullopt; // no response to the gas: nothing to calibrate against
    const double gain = (span + FClean - offset) / sensed;
    if (!std::isfinite(gain) || gain < 0.1 || gain > 10)
        return std::nullopt;
    return gain;
}
