#include "sim/sim_detector.h"

#include <algorithm>
#include <cmath>

// ---------------------------------------------------------------- readings and calibration

void SimDetector::FinishCalibration(Clock::time_point now)
{
    if (FCalRunning && now >= FCalEnd) {
        FCalRunning = false;
        FCalFailed = FOptions.calibration_fails;
    }
}

SimReading SimDetector::ReadingNow(int mode, Clock::time_point now) const
{
    SimReading r = FReadings[mode];
    if (FOptions.live_readings)
        r.value = static_cast<uint16_t>(LiveValue(mode, now));
    if (FOptions.live_readings && mode != 0) // the raw ADC count follows the value
        r.peak = static_cast<uint16_t>(r.peak + (static_cast<int>(r.value) - FReadings[mode].value) *
                                                    (mode == 1 ? 8 : 237) / (mode == 1 ? 1 : 100));
    if (mode != 0)
        return r;
    const bool running = FCalRunning && now < FCalEnd;
    const bool failed = FCalRunning ? (!running && FOptions.calibration_fails) : FCalFailed;
    if (running)
        r.history |= 0x80;
    if (failed)
        r.history |= 0x08;
    if (FBumpFailed)
        r.history |= 0x10;
    if (r.value < 0x8000 && r.value > r.peak)
        r.peak = r.value;
    // A live unit keeps its alarms quiet while it takes span gas for a calibration.
    if ((r.history & 3) == 1 && !(running && FOptions.live_readings)) { // alarm levels are kept in tenths
        const uint16_t low = static_cast<uint16_t>(FConfig[kSimAlarmLowAddress] | (FConfig[kSimAlarmLowAddress + 1] << 8));
        const uint16_t high =
            static_cast<uint16_t>(FConfig[kSimAlarmHighAddress] | (FConfig[kSimAlarmHighAddress + 1] << 8));
        if (r.value < 0x8000) {
            if (low > 0 && r.value >= low)
                r.alarm |= 0x04;
            if (high > 0 && r.value >= high)
                r.alarm |= 0x08;
        }
    }
    return r;
}

int SimDetector::LiveValue(int mode, Clock::time_point now) const
{
    const double t = std::chrono::duration<double>(now - FBorn).count();
    // Seeded noise that changes four times a second: the same moment always
    // reads the same, two readings a second apart rarely do.
    const uint32_t tick = static_cast<uint32_t>(t * 4);
    auto noise = [&](uint32_t channel, int range) {
        return static_cast<int>(SimHash(FOptions.seed ^ channel, tick) % static_cast<uint32_t>(2 * range + 1)) - range;
    };
    const int base = mode == 0 ? static_cast<int16_t>(FReadings[0].value) : FReadings[mode].value;
    switch (mode) {
    case 0: { // gas, tenths: a little noise, never below zero unless the applied gas is
        if (base == 0x7FFF)
            return base; // over range stays over range
        const int v = base + CalibrationGas(now) + noise(0x6A5, 2);
        return std::clamp(v, std::min(base, 0), 0x7FFE) & 0xFFFF;
    }
    case 1: // temperature, tenths of a degree: a slow swing of 0.8 over fifteen minutes
        return std::max(0, base + static_cast<int>(std::lround(8 * std::sin(t * 2 * M_PI / 900))) + noise(0x7E3, 1));
    default: { // battery, hundredths of a volt: 0.01 down every four minutes, down to 2.70
        const int jitter = noise(0xBA7, 4) / 4; // -1 .. 1, mostly 0
        return std::max(std::min(base, 270), base - static_cast<int>(t / 240) + jitter);
    }
    }
}

int SimDetector::CalibrationGas(Clock::time_point now) const
{
    if (!FCalUsed || now < FCalSpanAt)
        return 0;
    // The sensor follows the gas with a time constant of two seconds, shorter
    // when the span phase is short, so that it settles before the end; the gas
    // clears a little slower than it came.
    const double phase = std::chrono::duration<double>(FCalEnd - FCalSpanAt).count();
    const double tauIn = std::clamp(phase / 4, 0.05, 2.0);
    const int span = FConfig[kSimSpanGasAddress] | (FConfig[kSimSpanGasAddress + 1] << 8);
    auto rise = [&](Clock::time_point at) {
        return span * (1 - std::exp(-std::chrono::duration<double>(at - FCalSpanAt).count() / tauIn));
    };
    if (now <= FCalStop)
        return static_cast<int>(std::lround(rise(now)));
    if (FCalStop <= FCalSpanAt)
        return 0;
    const double away = std::chrono::duration<double>(now - FCalStop).count();
    return static_cast<int>(std::lround(rise(FCalStop) * std::exp(-away / (1.5 * tauIn))));
}
