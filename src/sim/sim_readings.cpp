#include "sim/sim_detector.h"

#include <algorithm>
#include <cmath>

// ---------------------------------------------------------------- readings and calibration

double SimDetector::Seconds(Clock::time_point t) const
{
    return std::chrono::duration<double>(t - FBorn).count();
}

SimSensorSettings SimDetector::SensorSettings() const
{
    return {FOptions.sensor_kind, FOptions.response_seconds, FOptions.slow_alarm_seconds, FOptions.drift_percent};
}

int SimDetector::ConfigWord(int address) const
{
    return FConfig[static_cast<size_t>(address)] | (FConfig[static_cast<size_t>(address + 1)] << 8);
}

SimDetector::CalOutcome SimDetector::CalibrationOutcome() const
{
    if (FOptions.calibration_fails)
        return {true, std::nullopt};
    if (FSensor.Applied()) {
        // Under gas the detector sets the gain that makes its reading the
        // span gas it was told; a sensor that shows no response fails.
        const auto gain = FSensor.GainFor(ConfigWord(kSimSpanGasAddress), static_cast<int16_t>(FReadings[0].value),
                                          Seconds(FCalEnd));
        if (!gain)
            return {true, std::nullopt};
        return {false, gain};
    }
    if (FOptions.live_readings) // it gave itself its span gas: calibrated against exactly that
        return {false, 1.0};
    return {false, std::nullopt}; // no gas: the procedure runs, the sensor keeps its gain
}

void SimDetector::Settle(Clock::time_point now)
{
    if (!FCalRunning || now < FCalEnd)
        return;
    const CalOutcome outcome = CalibrationOutcome();
    FCalRunning = false;
    FCalFailed = outcome.failed;
    if (outcome.gain)
        FSensor.SetGain(*outcome.gain);
}

SimReading SimDetector::ReadingNow(int mode, Clock::time_point now) const
{
    SimReading r = FReadings[mode];
    if (mode == 0)
        r.value = static_cast<uint16_t>(GasValue(now));
    else if (FOptions.live_readings)
        r.value = static_cast<uint16_t>(LiveValue(mode, now));
    if (FOptions.live_readings && mode != 0) // the raw ADC count follows the value
        r.peak = static_cast<uint16_t>(r.peak + (static_cast<int>(r.value) - FReadings[mode].value) *
                                                    (mode == 1 ? 8 : 237) / (mode == 1 ? 1 : 100));
    if (mode != 0)
        return r;
    const bool running = FCalRunning && now < FCalEnd;
    const bool failed = FCalRunning ? (!running && CalibrationOutcome().failed) : FCalFailed;
    if (running)
        r.history |= kSimHistoryCalProgress;
    if (failed)
        r.history |= kSimHistoryCalFail;
    if (FBumpFailed)
        r.history |= kSimHistoryBumpFail;
    if (r.value < 0x8000 && r.value > r.peak)
        r.peak = r.value;
    // A live unit keeps its alarms quiet while it takes span gas for a calibration.
    if ((r.history & 3) == 1 && !(running && FOptions.live_readings) &&
        !FOptions.silent_alarms) { // alarm levels are kept in tenths
        const int low = ConfigWord(kSimAlarmLowAddress);
        const int high = ConfigWord(kSimAlarmHighAddress);
        const int value = static_cast<int16_t>(r.value);
        if (FOxygen) { // too little oxygen is the low alarm, too much the high one
            if (low > 0 && value <= low)
                r.alarm |= kSimAlarmLowFlag;
            if (high > 0 && value >= high)
                r.alarm |= kSimAlarmHighFlag;
        } else if (value >= 0) {
            if (low > 0 && value >= low)
                r.alarm |= kSimAlarmLowFlag;
            if (high > 0 && value >= high)
                r.alarm |= kSimAlarmHighFlag;
        }
    }
    return r;
}

int SimDetector::GasValue(Clock::time_point now) const
{
    const int base = static_cast<int16_t>(FReadings[0].value);
    if (base == 0x7FFF)
        return base; // over range stays over range
    // The sensor's share, with the gain a calibration that is over has given it.
    const SimSensorSettings settings = SensorSettings();
    double gain = FSensor.Gain(settings);
    if (FCalRunning && now >= FCalEnd)
        gain = CalibrationOutcome().gain.value_or(gain);
    const double sensor = base + gain * FSensor.Sensed(Seconds(now)) - FSensor.Clean();
    if (!FOptions.live_readings)
        return static_cast<int>(std::lround(std::clamp(sensor, -32768.0, 32766.0))) & 0xFFFF;
    // Live: the span gas it gives itself while a calibration asks for it (when
    // none is applied) and a little noise, never below zero unless the
    // reading is.
    const double calGas = FSensor.Applied() ? 0.0 : gain * CalibrationGas(now);
    const int v = static_cast<int>(std::lround(sensor + calGas)) + Noise(now, 0x6A5, 2);
    return std::clamp(v, std::min(static_cast<int>(std::lround(sensor)), 0), 0x7FFE) & 0xFFFF;
}

int SimDetector::Noise(Clock::time_point now, uint32_t channel, int range) const
{
    // Seeded noise that changes four times a second: the same moment always
    // reads the same, two readings a second apart rarely do.
    const uint32_t tick = static_cast<uint32_t>(Seconds(now) * 4);
    return static_cast<int>(SimHash(FOptions.seed ^ channel, tick) % static_cast<uint32_t>(2 * range + 1)) - range;
}

int SimDetector::LiveValue(int mode, Clock::time_point now) const
{
    const double t = Seconds(now);
    const int base = FReadings[mode].value;
    if (mode == 1) { // temperature, tenths of a degree: a slow swing of 0.8 over fifteen minutes
        const int swing = static_cast<int>(std::lround(8 * std::sin(t * 2 * M_PI / 900)));
        return std::max(0, base + swing + Noise(now, 0x7E3, 1));
    }
    // battery, hundredths of a volt: 0.01 down every four minutes, down to 2.70
    const int jitter = Noise(now, 0xBA7, 4) / 4; // -1 .. 1, mostly 0
    return std::max(std::min(base, 270), base - static_cast<int>(t / 240) + jitter);
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
    // From clean air to the span gas: up for a toxic gas, down for oxygen.
    const double span = ConfigWord(kSimSpanGasAddress) - FSensor.Clean();
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
