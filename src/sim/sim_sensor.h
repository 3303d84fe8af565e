#pragma once
// The gas sensor behind the simulated detector's gas reading: the gas it is
// exposed to, how fast it follows it (a first-order response), and its gain.
// Times are seconds on the simulator's own clock, concentrations tenths of the
// sensor's unit. Plain state: the detector keeps it under its lock.
#include <cstdint>
#include <optional>

// How the sensor answers gas.
enum class SimSensorKind : uint8_t {
    kResponsive, // follows the gas with its response time
    kDead,       // never responds: reads clean air whatever is applied
    kSlow,       // follows so slowly that the low alarm comes only after SimSensorSettings::slowAlarm
    kDrifted,    // reads drift percent low until a calibration under gas corrects its gain
};

struct SimSensorSettings {
    SimSensorKind kind = SimSensorKind::kResponsive;
    double t90 = 10.0;       // seconds to 90 % of a step of gas
    double slowAlarm = 90.0; // seconds from applying gas to the low alarm (kSlow)
    double drift = 30.0;     // percent the reading is low (kDrifted), until calibrated
};

class SimGasSensor {
public:
    // `clean`: what the sensor sees in clean air (0, or 209 for oxygen).
    explicit SimGasSensor(double clean = 0) : FClean(clean), FFrom(clean), FTarget(clean) {}

    // Gas of `tenths` from `now` on. A slow sensor takes its pace from the
    // reading at hand and where it will settle: `offset` is what the detector
    // adds to Deviation (see below) and `lowAlarm` the level to reach after
    // slowAlarm seconds (0: none, the whole response then takes that long).
    void Expose(double tenths, double now, const SimSensorSettings &settings, double offset, double lowAlarm);
    // Clean air from `now` on.
    void Clear(double now, const SimSensorSettings &settings);
    // The gas applied, in tenths; none in clean air.
    std::optional<double> Applied() const { return FApplied; }

    // The concentration at the sensor now: it moves toward the gas (or clean
    // air) by a first-order response.
    double Sensed(double now) const;
    // What the sensor adds to a clean-air reading: gain x sensed - clean.
    double Deviation(double now, const SimSensorSettings &settings) const;
    double Gain(const SimSensorSettings &settings) const;

    // The gain that makes the reading at `at` equal `span` (tenths) given the
    // detector's `offset`; none when the sensor shows no response to speak
    // of (a dead sensor, or no gas) or the gain it would take is absurd.
    std::optional<double> GainFor(double span, double offset, double at) const;
    // A calibration sets the gain; a drifted sensor reads true from then on.
    void SetGain(double gain) { FGain = gain; }

    double Clean() const { return FClean; }

private:
    double Tau(const SimSensorSettings &settings) const;
    void MoveTo(double target, double tau, double now);

    double FClean;
    double FFrom;           // sensed at FSince
    double FTarget;         // where it is heading
    double FSince = 0;      // when it started heading there
    double FTau = 1;        // time constant of that move, seconds
    std::optional<double> FApplied;
    std::optional<double> FGain; // set by a calibration; until then the sensor's own
};
