// The demonstration unit that beamport-sim and --simulate serve: memories that
// agree with each other, readings that move, and every job working on it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

#include "raw_line.h"
#include "sim/sim_args.h"
#include "sim/sim_detector.h"
#include "support/process.h"

using namespace simtest;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

uint32_t Get32(const std::array<uint8_t, kSimConfigSize> &m, int at)
{
    return static_cast<uint32_t>(m[at] | m[at + 1] << 8 | m[at + 2] << 16) | static_cast<uint32_t>(m[at + 3]) << 24;
}
uint16_t Get16(const std::array<uint8_t, kSimConfigSize> &m, int at)
{
    return static_cast<uint16_t>(m[at] | m[at + 1] << 8);
}

std::vector<SimEvent> Events(const std::vector<uint8_t> &log)
{
    std::vector<SimEvent> events;
    for (size_t at = 0; at + kSimEventSize <= log.size(); at += kSimEventSize) {
        SimEvent e;
        std::memcpy(&e, log.data() + at, kSimEventSize);
        if (e.mStartEvent == 0xFFFFFFFFu)
            break;
        events.push_back(e);
    }
    return events;
}

} // namespace

TEST(SimDemoUnit, MemoriesAgreeWithEachOther)
{
    const SimUnitMemories unit = SimDemoUnit(1, 1);
    const auto &m = unit.config;
    const SimIdentity &id = unit.identity;
    const uint32_t life = id.mLife;
    EXPECT_TRUE(SimBlockCrcOk(m, kSimUnitBlock));
    EXPECT_TRUE(SimBlockCrcOk(m, kSimSensorBlock));
    EXPECT_EQ(std::memcmp(m.data() + 16, id.mSerial, 10), 0);
    EXPECT_EQ(m[34], id.mHW);
    EXPECT_EQ(m[kSimFWVersionAddress], id.mSW);
    EXPECT_EQ(Get32(m, kSimLifeAddress), life);
    EXPECT_EQ(m[kSimSensorTypeAddress], id.mSensor);
    EXPECT_EQ(m[15], 0x80);                  // hibernation allowed
    EXPECT_EQ(Get32(m, 68), 180u * 86400u);  // calibration interval
    EXPECT_EQ(Get16(m, 72), 30);             // bump interval, days
    EXPECT_LT(Get16(m, 66), Get16(m, 64));   // low alarm below the high one
    EXPECT_LT(life, 63072000u);

    // The log: a few dozen events of every kind, all in the past, within
    // eight weeks, oldest first, closed by the end marker.
    ASSERT_EQ(unit.log.size() % kSimEventSize, 0u);
    EXPECT_TRUE(std::all_of(unit.log.end() - kSimEventSize, unit.log.end(), [](uint8_t b) { return b == 0xFF; }));
    const std::vector<SimEvent> events = Events(unit.log);
    EXPECT_GE(events.size(), 24u);
    EXPECT_LE(events.size(), 113u); // fits the program's 1024-byte carrier
    EXPECT_EQ(m[52], events.size());
    int bumps = 0, alarms = 0, calibrations = 0, tests = 0;
    uint32_t lastBump = 0;
    uint32_t previous = 0xFFFFFFFFu;
    for (const SimEvent &e : events) {
        // Packed fields: taken by value before they meet the checks.
        const uint32_t start = e.mStartEvent;
        const uint16_t duration = e.mDurationEvent;
        const uint8_t flags = e.mAlarmStatusFlag;
        const int reading = e.mSensorReading;
        EXPECT_GT(start, life);
        EXPECT_LT(start - life, 57u * 86400u);
        EXPECT_LT(start, previous);
        previous = start;
        if (duration & 0x8000) {
            ++bumps;
            EXPECT_EQ(flags, 0x0C);
            lastBump = start;
        } else if (flags != 0) {
            ++alarms;
            EXPECT_TRUE(reading == 0x7FFF || reading >= Get16(m, 66));
        } else if (reading == Get16(m, kSimSpanGasAddress)) {
            ++calibrations;
            EXPECT_EQ(start, Get32(m, 112)); // mLastCal
        } else {
            ++tests;
            EXPECT_EQ(reading, 0);
        }
    }
    EXPECT_GE(bumps, 2);
    EXPECT_GE(alarms, 5);
    EXPECT_EQ(calibrations, 1);
    EXPECT_GE(tests, 10);
    EXPECT_EQ(lastBump, Get32(m, 122)); // mLastBump: the newest bump test
    EXPECT_GE(Get16(m, 48), alarms);    // lifetime alarm count
    EXPECT_GT(Get16(m, 50), tests);     // lifetime self-tests

    // The same seed makes the same unit, another seed another history.
    EXPECT_EQ(SimDemoUnit(1, 1).log, unit.log);
    EXPECT_NE(SimDemoUnit(1, 2).log, unit.log);
    EXPECT_EQ(SimDemoUnit(2, 1).config[kSimSensorTypeAddress], 2);

    // The EEPROM holds the record, the identity and the log.
    const std::vector<uint8_t> ee = SimComposeEeprom(m, id, unit.log);
    ASSERT_EQ(ee.size(), static_cast<size_t>(kSimEepromSize));
    EXPECT_TRUE(std::equal(m.begin(), m.end(), ee.begin()));
    EXPECT_EQ(std::memcmp(ee.data() + kSimEepromIdentityAddress, &id, sizeof id), 0);
    EXPECT_TRUE(std::equal(unit.log.begin(), unit.log.end(), ee.begin() + kSimEepromLogAddress));
    EXPECT_EQ(ee.back(), 0xFF);
}

TEST(SimDemoUnit, EepromFollowsWrites)
{
    SimDetector det(SimDemoOptions());
    ASSERT_TRUE(det.Start());
    RawLine line(det.DevicePath());
    ASSERT_TRUE(line.Wake());
    // Write the user ID, then read the first EEPROM packet: it shows the write.
    ASSERT_EQ(line.Ask({0x70}, 3), kAckFrame);
    ASSERT_EQ(line.Ask({6, 0, 0, 1}, 3), kAckFrame);
    ASSERT_EQ(line.Ask({0x91}, 3), kAckFrame);
    ASSERT_EQ(line.Ask({'T', 'E', 'A', 'M', '-', '9'}, 3), kAckFrame);
    ASSERT_EQ(line.Ask({0x70}, 3), kAckFrame);
    ASSERT_EQ(line.Ask({32, 0, 0, 0}, 3), kAckFrame);
    const Bytes packet = line.Ask({0x81}, 34);
    ASSERT_TRUE(CrcGood(packet));
    EXPECT_EQ(std::string(packet.begin() + 1, packet.begin() + 7), "TEAM-9");
    EXPECT_TRUE(SimBlockCrcOk(det.Config(), kSimUnitBlock));
}

TEST(SimDemoUnit, ReadingsMoveAndFollowTheSpanGas)
{
    // Applied gas with noise: near the value, not always the same.
    SimOptions o = SimDemoOptions();
    o.gas = 12.0;
    SimDetector gas(o);
    std::vector<int> values;
    for (int i = 0; i < 10; ++i) {
        const SimReading r = gas.Reading(0);
        values.push_back(r.value);
        EXPECT_GE(r.value, 118);
        EXPECT_LE(r.value, 122);
        EXPECT_EQ(r.alarm, 0x04); // above the low alarm, below the high one
        const SimReading battery = gas.Reading(2);
        EXPECT_NEAR(battery.value, 300, 2);
        EXPECT_NEAR(gas.Reading(1).value, 235, 10);
        std::this_thread::sleep_for(260ms);
    }
    EXPECT_NE(std::count(values.begin(), values.end(), values[0]), 10);

    // The plain unit with gas applied holds it still.
    SimOptions plain;
    plain.gas = 12.5;
    SimDetector steady(plain);
    EXPECT_EQ(steady.Reading(0).value, 125);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(steady.Reading(0).value, 125);

    // Zero and span: clean air first, then the span gas of the record (25.0),
    // alarms quiet meanwhile; the gas clears after the end.
    SimOptions cal = SimDemoOptions();
    cal.calibration_ms = 2000;
    SimDetector det(cal);
    ASSERT_TRUE(det.Start());
    RawLine line(det.DevicePath());
    ASSERT_TRUE(line.Wake());
    ASSERT_EQ(line.Ask({0x50}, 3), kAckFrame);
    ASSERT_EQ(line.Ask({0x42}, 3), kAckFrame);
    const auto start = std::chrono::steady_clock::now();
    auto reading = [&] {
        const Bytes r = line.Ask({0x20}, 8);
        EXPECT_TRUE(CrcGood(r));
        return r.size() == 8 ? SimReading{static_cast<uint16_t>(r[0] | r[1] << 8), 0, r[4], r[5]} : SimReading{};
    };
    const SimReading zero = reading();
    EXPECT_LE(zero.value, 2);
    std::this_thread::sleep_until(start + 1600ms);
    const SimReading span = reading();
    EXPECT_GE(span.value, 200);
    EXPECT_LE(span.value, 252);
    EXPECT_EQ(span.history & 0x80, 0x80);
    EXPECT_EQ(span.alarm, 0);
    std::this_thread::sleep_until(start + 4000ms);
    const SimReading after = reading();
    EXPECT_EQ(after.history & 0x80, 0);
    EXPECT_LE(after.value, 15);
}

TEST(SimDemoUnit, ArgumentsChooseTheUnit)
{
    SimArgs demo;
    std::string error;
    ASSERT_EQ(ParseSimArgs({"--gas", "12.5", "--seed", "7", "--echo=B2", "--wake-acks", "3", "--wake-ack-gap-us", "50"},
                           demo, error),
              SimArgsResult::kRun)
        << error;
    EXPECT_EQ(demo.options.unit, SimUnit::kDemo);
    EXPECT_TRUE(demo.options.live_readings);
    EXPECT_EQ(demo.options.crc_on_write, SimCrcOnWrite::kMaintain);
    EXPECT_DOUBLE_EQ(demo.options.gas, 12.5);
    EXPECT_EQ(demo.options.seed, 7u);
    EXPECT_TRUE(demo.options.echo);
    EXPECT_EQ(demo.options.echo_opcode, 0xB2);
    EXPECT_EQ(demo.options.wake_acks, 3);
    EXPECT_EQ(demo.options.wake_ack_gap_us, 50);

    SimArgs plain;
    ASSERT_EQ(ParseSimArgs({"--echo", "--no-reseal", "--plain"}, plain, error), SimArgsResult::kRun) << error;
    EXPECT_EQ(plain.options.unit, SimUnit::kPlain);
    EXPECT_FALSE(plain.options.live_readings);
    EXPECT_EQ(plain.options.crc_on_write, SimCrcOnWrite::kKeep);
    EXPECT_EQ(plain.options.echo_opcode, -1);

    for (const std::vector<std::string> &bad : std::vector<std::vector<std::string>>{
             {"--gas", "lots"}, {"--gas", "1e9"}, {"--echo=XYZ"}, {"--wake-acks", "0"}, {"--seed", "-1"}}) {
        SimArgs b;
        error.clear();
        EXPECT_EQ(ParseSimArgs(bad, b, error), SimArgsResult::kError) << bad[0];
    }
}

// The programs as a user meets them: beamport-sim and beamport-cli --simulate
// with their defaults.
class SimDemoPrograms : public testing::Test {
protected:
    void SetUp() override
    {
        if (!fs::exists(BEAMPORT_CLI))
            GTEST_SKIP() << "beamport-cli not built";
        dir = fs::temp_directory_path() / ("beamport-demo-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        env = {"XDG_CONFIG_HOME=" + dir.string(), "BEAMPORT_PORT=", "BEAMPORT_RECORDS=off"};
    }
    void TearDown() override { fs::remove_all(dir); }
    ProcessResult Cli(const std::vector<std::string> &args) { return RunProcess(BEAMPORT_CLI, args, env); }
    static std::string Line(const std::string &out, const std::string &label)
    {
        const size_t at = out.find(label);
        return at == std::string::npos ? std::string() : out.substr(at + label.size(), out.find('\n', at) - at - label.size());
    }

    fs::path dir;
    std::vector<std::string> env;
};

TEST_F(SimDemoPrograms, WriteThenReadKeepsTheBlocksValid)
{
    // The file comes from another unit, so that the write changes bytes of
    // both blocks.
    const std::string file = (dir / "unit.cfg").string();
    const struct {
        std::vector<std::string> from, to;
        int readAfterWrite;
    } rows[] = {
        {{"--plain"}, {}, 0},
        {{}, {"--plain"}, 0},
        {{}, {"--plain", "--no-reseal"}, 192}, // the fault knob: the old CRC words stay
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.to.empty() ? "defaults" : row.to.back());
        {
            SimProcess from(row.from);
            const ProcessResult read = Cli({"--port", from.Path(), "read", "--out", file});
            ASSERT_EQ(read.status, 0) << read.err;
        }
        SimProcess sim(row.to);
        const ProcessResult write = Cli({"--port", sim.Path(), "write", file});
        EXPECT_EQ(write.status, 0) << write.err;
        const ProcessResult read = Cli({"--port", sim.Path(), "read"});
        EXPECT_EQ(read.status, row.readAfterWrite) << read.err;
    }
}

TEST_F(SimDemoPrograms, SimulateServesTheDemonstrationUnit)
{
    const ProcessResult identify = Cli({"--simulate", "identify"});
    ASSERT_EQ(identify.status, 0) << identify.err;
    const ProcessResult read = Cli({"--simulate", "read"});
    ASSERT_EQ(read.status, 0) << read.err;
    const std::string serial = Line(identify.out, "Serial Number = ");
    EXPECT_EQ(serial, "SH24031507");
    EXPECT_NE(read.out.find("\"mSerial\": \"" + serial + "\""), std::string::npos) << read.out;
    EXPECT_EQ(Line(identify.out, "Firmware Version = "), "1.4");
    EXPECT_NE(read.out.find("\"mFWVersion\": 14,"), std::string::npos);
    EXPECT_NE(read.out.find("\"mLifeRemaining\": " + Line(identify.out, "Life Remaining = ").substr(0, 8)),
              std::string::npos);

    const ProcessResult hibernate = Cli({"--simulate", "--yes", "hibernate"});
    EXPECT_EQ(hibernate.status, 0) << hibernate.err;
    EXPECT_EQ(hibernate.out, "Hibernate... OK\n");

    const std::string csv = (dir / "e.csv").string();
    const ProcessResult events = Cli({"--simulate", "events", "--out", csv});
    ASSERT_EQ(events.status, 0) << events.err;
    std::ifstream in(csv);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    const size_t header = text.find("Event Date,Event Time,BumpTest");
    ASSERT_NE(header, std::string::npos) << text;
    EXPECT_GE(std::count(text.begin() + static_cast<std::ptrdiff_t>(header), text.end(), '\n'), 21);
    EXPECT_NE(text.find(",YES,"), std::string::npos);
    EXPECT_NE(text.find("HIGH Alarm "), std::string::npos);
    EXPECT_NE(text.find("Serial Number," + serial), std::string::npos);
}
