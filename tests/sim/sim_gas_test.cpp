// Gas applied and removed while the simulated detector runs, read through the
// link over its pty: how each kind of sensor answers, the alarm flags by the
// detector's own set points, a calibration under gas, and the controls of
// beamport-sim. Response times are short knobs, so nothing waits long.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <functional>
#include <optional>
#include <thread>

#include "link/tamsel_comms.h"
#include "link/wire.h"
#include "sim/sim_control.h"
#include "sim/sim_detector.h"
#include "support/process.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kT90 = 0.3;       // response_seconds of every detector here
constexpr double kSlowAlarm = 1.5; // slow_alarm_seconds
constexpr uint8_t kH2S = 1, kO2 = 4;
constexpr uint8_t kLow = 0x04, kHigh = 0x08;                         // mAlarm
constexpr uint8_t kCalFail = 0x08, kBumpFail = 0x10, kCalBusy = 0x80; // mHistory

// The detector's own set points (tenths), written into its configuration memory.
struct Levels {
    uint16_t low, high, span;
};
constexpr Levels kToxic = {100, 150, 250};
constexpr Levels kOxygen = {195, 235, 180};

SimOptions Options(uint8_t sensor, SimSensorKind kind)
{
    SimOptions o; // the plain unit: steady, no noise
    o.sensor_code = sensor;
    o.sensor_kind = kind;
    o.response_seconds = kT90;
    o.slow_alarm_seconds = kSlowAlarm;
    o.drift_percent = 30;
    o.calibration_ms = 800;
    return o;
}

struct Reading {
    bool ok = false;
    int value = 0; // tenths, signed
    uint8_t history = 0, alarm = 0;
    double sent = 0, received = 0; // seconds since the bench's mark
};

// The link, connected to a detector: on an in-process simulator's pty, or on
// the device a beamport-sim prints.
class Bench {
public:
    explicit Bench(const std::string &device)
    {
        FLink.SetPortDevice(1, device);
        FLink.ComOpen(1);
        FConnected = FLink.ConnectTamsel(2.0f) == 0;
    }
    ~Bench() { FLink.CloseUSB(0); }
    bool Connected() const { return FConnected; }
    TComTamsel &Link() { return FLink; }

    void Mark() { FMark = Clock::now(); }
    double Since() const { return std::chrono::duration<double>(Clock::now() - FMark).count(); }

    Reading Read()
    {
        Reading r;
        RTamselSensor s{};
        r.sent = Since();
        r.ok = FLink.RequireSensor(s, wire::kReadGas) == 0;
        r.received = Since();
        r.value = static_cast<int16_t>(s.mSensor);
        r.history = s.mHistory;
        r.alarm = s.mAlarm;
        return r;
    }

    // Reads every 20 ms, each reading to `seen`, until `done` holds or
    // `seconds` pass since the mark; the last reading.
    Reading Until(const std::function<bool(const Reading &)> &done, double seconds,
                  const std::function<void(const Reading &)> &seen = {})
    {
        for (;;) {
            const Reading r = Read();
            if (r.ok && seen)
                seen(r);
            if ((r.ok && done(r)) || Since() > seconds)
                return r;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

private:
    TComTamsel FLink;
    bool FConnected = false;
    Clock::time_point FMark = Clock::now();
};

// A started simulator with the set points written into its memory.
std::unique_ptr<SimDetector> StartSim(const SimOptions &o, Levels levels)
{
    auto det = std::make_unique<SimDetector>(o);
    auto config = det->Config();
    SimSetSensorLevels(config, levels.low, levels.high, levels.span);
    det->SetConfig(config);
    det->Start();
    return det;
}

// The flags the detector's set points give a reading.
uint8_t FlagsFor(int value, Levels levels, bool oxygen)
{
    uint8_t flags = 0;
    if (oxygen ? value <= levels.low : value >= levels.low)
        flags |= kLow;
    if (value >= levels.high)
        flags |= kHigh;
    return flags;
}

auto Near(int target, int tolerance = 2)
{
    return [=](const Reading &r) { return std::abs(r.value - target) <= tolerance; };
}

} // namespace

TEST(SimGas, EachKindOfSensorAnswersGasOnAndOff)
{
    struct Row {
        const char *name;
        uint8_t sensor;
        SimSensorKind kind;
        Levels levels;
        double gas;   // applied, in the sensor's unit
        int clean;    // the reading in clean air
        int settled;  // the reading the gas settles at
        uint8_t flags; // the alarm flags there
    } rows[] = {
        {"responsive", kH2S, SimSensorKind::kResponsive, kToxic, 25.0, 0, 250, kLow | kHigh},
        {"responsive, between the set points", kH2S, SimSensorKind::kResponsive, kToxic, 12.0, 0, 120, kLow},
        {"drifted: 30 % low, so below the high alarm", kH2S, SimSensorKind::kDrifted, kToxic, 20.0, 0, 140, kLow},
        {"dead", kH2S, SimSensorKind::kDead, kToxic, 25.0, 0, 0, 0},
        {"oxygen: the gas lowers the level", kO2, SimSensorKind::kResponsive, kOxygen, 18.0, 209, 180, kLow},
        {"oxygen, enriched", kO2, SimSensorKind::kResponsive, kOxygen, 25.0, 209, 250, kHigh},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const bool oxygen = row.sensor == kO2;
        const auto det = StartSim(Options(row.sensor, row.kind), row.levels);
        Bench bench(det->DevicePath());
        ASSERT_TRUE(bench.Connected());
        const Reading before = bench.Read();
        ASSERT_TRUE(before.ok);
        EXPECT_EQ(before.value, row.clean);
        EXPECT_EQ(before.alarm, 0);

        // Every reading on the way lies on the first-order response between
        // the moment it was asked for and the moment it came (the gas changed
        // at most 10 ms after the mark), and carries the flags of the
        // detector's own set points.
        auto onTheCurve = [&](int from, int to, int tolerance) {
            return [&, from, to, tolerance](const Reading &r) {
                auto at = [&](double t) { return from + (to - from) * (1 - std::pow(10.0, -std::max(t, 0.0) / kT90)); };
                const double a = at(r.sent - 0.01), b = at(r.received);
                EXPECT_GE(r.value, std::min(a, b) - tolerance) << r.sent;
                EXPECT_LE(r.value, std::max(a, b) + tolerance) << r.received;
                EXPECT_EQ(r.alarm, FlagsFor(r.value, row.levels, oxygen)) << r.value;
            };
        };
        bench.Mark();
        ASSERT_TRUE(det->ApplyGas(row.gas));
        EXPECT_EQ(det->AppliedGas(), row.gas);
        if (row.kind == SimSensorKind::kDead) {
            // Three response times and more: nothing moves.
            bench.Until([](const Reading &) { return false; }, 4 * kT90, [&](const Reading &r) {
                EXPECT_EQ(r.value, row.clean);
                EXPECT_EQ(r.alarm, 0);
            });
        } else {
            const Reading settled = bench.Until(Near(row.settled), 5.0, onTheCurve(row.clean, row.settled, 2));
            EXPECT_NEAR(settled.value, row.settled, 2);
            EXPECT_EQ(settled.alarm, row.flags);
        }

        // Back from where it settled (within 2) to clean air.
        bench.Mark();
        det->RemoveGas();
        EXPECT_FALSE(det->AppliedGas());
        const Reading after = bench.Until(Near(row.clean), 5.0, onTheCurve(row.settled, row.clean, 4));
        EXPECT_NEAR(after.value, row.clean, 2);
        EXPECT_EQ(after.alarm, 0);
    }
}

TEST(SimGas, ASlowSensorReachesTheLowAlarmOnlyAfterItsTime)
{
    struct Row {
        const char *name;
        uint8_t sensor;
        Levels levels;
        double gas;
    } rows[] = {
        {"toxic gas rising to the low alarm", kH2S, kToxic, 25.0},
        {"oxygen falling to the low alarm", kO2, kOxygen, 15.0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const auto det = StartSim(Options(row.sensor, SimSensorKind::kSlow), row.levels);
        Bench bench(det->DevicePath());
        ASSERT_TRUE(bench.Connected());
        const int clean = bench.Read().value;
        bench.Mark();
        ASSERT_TRUE(det->ApplyGas(row.gas));
        std::optional<double> moved; // when the reading first left clean air
        const Reading alarm = bench.Until([](const Reading &r) { return (r.alarm & kLow) != 0; }, kSlowAlarm + 3.0,
                                          [&](const Reading &r) {
                                              if (!moved && std::abs(r.value - clean) >= 2)
                                                  moved = r.received;
                                          });
        ASSERT_TRUE(alarm.alarm & kLow) << alarm.value;
        // The alarm cannot have come before its time: the detector answered
        // no earlier than the reading was asked for, and no later than it came.
        EXPECT_GE(alarm.received, 0.95 * kSlowAlarm);
        EXPECT_LE(alarm.sent, kSlowAlarm + 1.0);
        // It is slow, not dead: the reading moved well before the alarm.
        ASSERT_TRUE(moved);
        EXPECT_LT(*moved, 0.5 * kSlowAlarm);
        bench.Mark();
        det->RemoveGas();
        EXPECT_EQ(bench.Until([](const Reading &r) { return r.alarm == 0; }, 3.0).alarm, 0);
    }
}

TEST(SimGas, ACalibrationUnderGasMovesAsLeftToTheSpanItWasTold)
{
    struct Row {
        const char *name;
        uint8_t sensor;
        SimSensorKind kind;
        Levels levels; // span: the span gas the calibration is told
        std::optional<double> cylinder;
        int asFound, asLeft; // readings under the cylinder's gas
        bool fails;          // the detector's "Calibration Fail" flag afterwards
        double later;        // another gas afterwards
        int laterReading;
    } rows[] = {
        {"drifted, span gas of the cylinder", kH2S, SimSensorKind::kDrifted, kToxic, 25.0, 175, 250, false, 12.5, 125},
        {"told another span than the cylinder's", kH2S, SimSensorKind::kResponsive, {100, 150, 200}, 25.0, 250, 200,
         false, 12.5, 100},
        {"oxygen, drifted", kO2, SimSensorKind::kDrifted, kOxygen, 18.0, 126, 180, false, 10.0, 100},
        {"dead: no response, the calibration fails", kH2S, SimSensorKind::kDead, kToxic, 25.0, 0, 0, true, 12.5, 0},
        {"in clean air a drifted sensor stays drifted", kH2S, SimSensorKind::kDrifted, kToxic, std::nullopt, 0, 0,
         false, 25.0, 175},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const auto det = StartSim(Options(row.sensor, row.kind), row.levels);
        Bench bench(det->DevicePath());
        ASSERT_TRUE(bench.Connected());
        bench.Mark();
        if (row.cylinder) {
            ASSERT_TRUE(det->ApplyGas(*row.cylinder));
        }
        EXPECT_NEAR(bench.Until(Near(row.asFound), 5.0).value, row.asFound, 2);

        // The detector's zero-then-span procedure: the progress flag, then the result.
        ASSERT_EQ(bench.Link().SensorCalibration(wire::kCalZeroSpan), 0);
        bench.Mark();
        bool busy = false;
        const Reading done = bench.Until([](const Reading &r) { return !(r.history & kCalBusy); }, 5.0,
                                         [&](const Reading &r) { busy = busy || (r.history & kCalBusy); });
        EXPECT_TRUE(busy);
        EXPECT_FALSE(done.history & kCalBusy);
        EXPECT_EQ((done.history & kCalFail) != 0, row.fails);
        EXPECT_NEAR(done.value, row.asLeft, 2);

        // Clean air, then another gas: the gain stays as the calibration left it.
        det->RemoveGas();
        bench.Mark();
        const int clean = row.sensor == kO2 ? 209 : 0;
        EXPECT_NEAR(bench.Until(Near(clean), 5.0).value, clean, 2);
        bench.Mark();
        ASSERT_TRUE(det->ApplyGas(row.later));
        EXPECT_NEAR(bench.Until(Near(row.laterReading), 5.0).value, row.laterReading, 2);
    }
}

TEST(SimGas, BumpReportsSetAndClearTheirFlagUnderGas)
{
    const auto det = StartSim(Options(kH2S, SimSensorKind::kResponsive), kToxic);
    Bench bench(det->DevicePath());
    ASSERT_TRUE(bench.Connected());
    ASSERT_TRUE(det->ApplyGas(25.0));
    const std::pair<uint8_t, uint8_t> reports[] = {{wire::kCalBumpFail, kBumpFail}, {wire::kCalBumpPass, 0}};
    for (const auto &[code, flag] : reports) {
        SCOPED_TRACE(int(code));
        ASSERT_EQ(bench.Link().SensorCalibration(code), 0);
        const Reading r = bench.Read();
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.history & kBumpFail, flag);
        EXPECT_GT(r.value, 0); // the gas reading goes on
    }
}

TEST(SimGas, AnOxygenUnitReadsAirAndItsOwnCalibrationGasLowersIt)
{
    // The demonstration unit with an oxygen sensor: 20.9 % with a little
    // noise, oxygen set points, and the span gas it gives itself during a
    // calibration brings the level down, not up.
    SimOptions o = SimDemoOptions();
    o.sensor_code = kO2;
    o.calibration_ms = 2000;
    const auto det = std::make_unique<SimDetector>(o);
    EXPECT_EQ(det->SpanGas(), 18.0);
    const SimReading air = det->Reading(0);
    EXPECT_NEAR(static_cast<int16_t>(air.value), 209, 2);
    EXPECT_EQ(air.alarm, 0);
    ASSERT_TRUE(det->Start());
    Bench bench(det->DevicePath());
    ASSERT_TRUE(bench.Connected());
    ASSERT_EQ(bench.Link().SensorCalibration(wire::kCalZeroSpan), 0);
    bench.Mark();
    EXPECT_NEAR(bench.Until(Near(180, 4), 3.0).value, 180, 4);
}

TEST(SimGas, ApplyGasRefusesWhatIsNoConcentration)
{
    SimDetector det(Options(kH2S, SimSensorKind::kResponsive));
    for (double bad : {-0.1, 3276.7, std::nan(""), HUGE_VAL}) {
        EXPECT_FALSE(det.ApplyGas(bad)) << bad;
        EXPECT_FALSE(det.AppliedGas());
    }
    EXPECT_TRUE(det.ApplyGas(0)); // a gas without the target: for oxygen, nitrogen
    EXPECT_EQ(det.AppliedGas(), 0.0);
}

TEST(SimControl, LinesOfStandardInput)
{
    using K = SimControl::EKind;
    struct Row {
        const char *line;
        bool ok;
        K kind;
        double value;
        const char *error; // the start of the message
    } rows[] = {
        {"gas 50", true, K::kApply, 50, ""},
        {"  GAS   12.5  ", true, K::kApply, 12.5, ""},
        {"gas 0", true, K::kApply, 0, ""},
        {"gas off", true, K::kRemove, 0, ""},
        {"Gas Span", true, K::kApplySpan, 0, ""},
        {"", true, K::kNothing, 0, ""},
        {"# a comment", true, K::kNothing, 0, ""},
        {"gas", false, K::kNothing, 0, "not a control: 'gas'"},
        {"gas 5 6", false, K::kNothing, 0, "not a control"},
        {"steam 5", false, K::kNothing, 0, "not a control"},
        {"gas -1", false, K::kNothing, 0, "gas: bad value '-1'"},
        {"gas 3276.7", false, K::kNothing, 0, "gas: bad value"},
        {"gas nan", false, K::kNothing, 0, "gas: bad value"},
        {"gas 5ppm", false, K::kNothing, 0, "gas: bad value"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.line);
        SimControl control;
        std::string error;
        EXPECT_EQ(ParseSimControl(row.line, control, error), row.ok);
        EXPECT_EQ(control.mKind, row.kind);
        EXPECT_EQ(control.mValue, row.value);
        EXPECT_EQ(error.rfind(row.error, 0), 0u) << error;
    }
}

TEST(SimControl, BeamportSimTakesGasFromItsInputAndSignals)
{
#ifdef _WIN32
    GTEST_SKIP() << "beamport-sim, its standard input and SIGUSR1/SIGUSR2 are Linux's";
#else
    SimProcess sim({"--plain", "--sensor", "1", "--response-seconds", "0.2", "--maintain-crc"}, true);
    Bench bench(sim.Path());
    ASSERT_TRUE(bench.Connected());
    // The span gas "gas span" and SIGUSR1 apply: 30.0, written as the window would.
    RComTamselReadBuf image{};
    image.mData = 128;
    image.mBuf[88] = 300 & 0xFF;
    image.mBuf[89] = 300 >> 8;
    ASSERT_EQ(bench.Link().WriteCFGData(image, 88, 2), 0);

    const struct {
        std::string control; // a line, or a signal
        int signal;
        const char *answer;
        int reading;
    } rows[] = {
        {"gas 50", 0, "gas 50.0 on", 500},
        {"GAS 12.5", 0, "gas 12.5 on", 125},
        {"gas off", 0, "gas off", 0},
        {"gas span", 0, "gas 30.0 on (span)", 300},
        {"gas 0", 0, "gas 0.0 on", 0},
        {"", SIGUSR1, "gas 30.0 on (span)", 300},
        {"", SIGUSR2, "gas off", 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.signal ? std::to_string(row.signal) : row.control);
        if (row.signal)
            ASSERT_EQ(kill(sim.Pid(), row.signal), 0);
        else
            ASSERT_TRUE(sim.Control(row.control));
        EXPECT_TRUE(sim.WaitOutput(row.answer + std::string("\n")));
        bench.Mark();
        EXPECT_NEAR(bench.Until(Near(row.reading), 5.0).value, row.reading, 2);
    }

    // Mistakes are told on stderr and change nothing; the detector goes on.
    ASSERT_TRUE(sim.Control("gas 25"));
    ASSERT_TRUE(sim.WaitOutput("gas 25.0 on\n"));
    bench.Mark();
    EXPECT_NEAR(bench.Until(Near(250), 5.0).value, 250, 2);
    for (const char *line : {"gas lots", "vent"}) {
        ASSERT_TRUE(sim.Control(line));
        EXPECT_TRUE(sim.WaitErrors(std::string("beamport-sim: ") + (line[0] == 'g' ? "gas: bad value 'lots'"
                                                                                    : "not a control: 'vent'")));
    }
    const Reading still = bench.Read();
    EXPECT_TRUE(still.ok);
    EXPECT_NEAR(still.value, 250, 2);
#endif
}
