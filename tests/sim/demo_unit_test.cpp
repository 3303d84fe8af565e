// The demonstration unit that beamport-sim and --simulate serve.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>
#include <unistd.h>

#include "raw_line.h"
#include "sim/sim_detector.h"
#include "support/process.h"

using namespace simtest;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

TEST(SimDemoUnit, MemoriesAgreeWithEachOther)
{
    const SimUnitMemories unit = SimDemoUnit(1, 1);
    const auto &m = unit.config;
    auto get = [&](int at, int size) {
        uint32_t v = 0;
        for (int i = size - 1; i >= 0; --i)
            v = v << 8 | m[static_cast<size_t>(at + i)];
        return v;
    };
    const SimIdentity id = unit.identity;
    const uint32_t life = id.mLife;
    EXPECT_TRUE(SimBlockCrcOk(m, kSimUnitBlock) && SimBlockCrcOk(m, kSimSensorBlock));
    EXPECT_EQ(std::memcmp(m.data() + 16, id.mSerial, 10), 0);
    EXPECT_EQ((std::vector<uint32_t>{m[34], m[35], get(36, 4), m[85]}),
              (std::vector<uint32_t>{id.mHW, id.mSW, life, id.mSensor}));
    // hibernation allowed, calibration every 180 days, bump test every 30
    EXPECT_EQ((std::vector<uint32_t>{m[15], get(68, 4), get(72, 2)}), (std::vector<uint32_t>{0x80, 180 * 86400, 30}));

    // Events of every kind within the last eight weeks, oldest first, then the end marker.
    std::map<std::string, int> kinds;
    uint32_t previous = 0xFFFFFFFFu, lastBump = 0, lastCal = 0;
    size_t at = 0;
    for (; at + kSimEventSize <= unit.log.size(); at += kSimEventSize) {
        SimEvent e;
        std::memcpy(&e, unit.log.data() + at, kSimEventSize);
        const uint32_t start = e.mStartEvent;
        if (start == 0xFFFFFFFFu)
            break;
        EXPECT_TRUE(start > life && start - life < 57u * 86400u && start < previous) << at;
        previous = start;
        const bool alarm = e.mAlarmStatusFlag != 0, bump = e.mDurationEvent & 0x8000;
        const char *kind = bump ? "bump" : alarm ? "alarm" : e.mSensorReading == 250 ? "calibration" : "self-test";
        ++kinds[kind];
        if (bump)
            lastBump = start;
        if (std::string(kind) == "calibration")
            lastCal = start;
    }
    EXPECT_EQ(at + kSimEventSize, unit.log.size());
    EXPECT_EQ(m[52], at / kSimEventSize);
    EXPECT_TRUE(kinds["bump"] >= 2 && kinds["alarm"] >= 5 && kinds["calibration"] == 1 && kinds["self-test"] >= 10);
    EXPECT_EQ(lastBump, get(122, 4)); // mLastBump
    EXPECT_EQ(lastCal, get(112, 4));  // mLastCal
    EXPECT_GE(get(48, 2), static_cast<uint32_t>(kinds["alarm"])); // lifetime counters
    EXPECT_GT(get(50, 2), static_cast<uint32_t>(kinds["self-test"]));

    EXPECT_EQ(SimDemoUnit(1, 1).log, unit.log); // seeded: the same unit every time
}

TEST(SimDemoUnit, ReadingsMoveAndFollowTheSpanGas)
{
    SimOptions o = SimDemoOptions();
    o.gas = 12.0;
    o.calibration_ms = 2000;
    SimDetector det(o);
    std::vector<int> values;
    for (int i = 0; i < 8; ++i, std::this_thread::sleep_for(260ms)) {
        const SimReading r = det.Reading(0);
        values.push_back(r.value);
        EXPECT_NEAR(r.value, 120, 2);
        EXPECT_EQ(r.alarm, 0x04); // above the low alarm, below the high one
        EXPECT_NEAR(det.Reading(2).value, 300, 2);
    }
    EXPECT_NE(std::count(values.begin(), values.end(), values[0]), 8);

    // Zero and span: clean air, then the record's span gas (25.0) with the
    // alarms quiet, then the gas clears.
    ASSERT_TRUE(det.Start());
    RawLine line(det.DevicePath());
    ASSERT_TRUE(line.Wake());
    ASSERT_EQ(line.Ask({wire::kOpSelectSensorBlock}, 3), kAckFrame);
    ASSERT_EQ(line.Ask({wire::kCalZeroSpan}, 3), kAckFrame);
    const auto start = std::chrono::steady_clock::now();
    auto reading = [&](std::chrono::milliseconds when) {
        std::this_thread::sleep_until(start + when);
        const Bytes r = line.Ask({wire::kOpRequireSensor + wire::kReadGas}, 8);
        EXPECT_TRUE(CrcGood(r));
        return r.size() == 8 ? std::vector<int>{r[0] | r[1] << 8, r[4] & 0x80, r[5]} : std::vector<int>{};
    };
    EXPECT_NEAR(reading(0ms)[0], 120, 2);
    const std::vector<int> span = reading(1600ms);
    EXPECT_NEAR(span[0], 120 + 237, 16);
    EXPECT_EQ(span[1], 0x80);
    EXPECT_EQ(span[2], 0);
    const std::vector<int> after = reading(4000ms);
    EXPECT_NEAR(after[0], 120, 12);
    EXPECT_EQ(after[1], 0);
}

// beamport-sim and beamport-cli --simulate with their defaults, as a user meets them.
TEST(SimDemoUnit, ProgramsServeIt)
{
#ifdef _WIN32
    GTEST_SKIP() << "beamport-sim serves a pseudo-terminal: a Linux program";
#else
    if (!fs::exists(BEAMPORT_CLI))
        GTEST_SKIP() << "beamport-cli not built";
    const fs::path dir = fs::temp_directory_path() / ("beamport-demo-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::vector<std::string> env = {"XDG_CONFIG_HOME=" + dir.string(), "BEAMPORT_PORT=", "BEAMPORT_RECORDS=off"};
    auto cli = [&](const std::vector<std::string> &args) { return RunProcess(BEAMPORT_CLI, args, env); };

    // Write Device then Read Device; the file comes from another unit, so that
    // the write changes both blocks.
    const std::string file = (dir / "unit.cfg").string();
    const struct {
        std::vector<std::string> from, to;
        int readAfterWrite;
    } rows[] = {{{"--plain"}, {}, 0}, {{}, {"--plain"}, 0}, {{}, {"--plain", "--no-reseal"}, wire::kStatusBadBlock}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.to.empty() ? "defaults" : row.to.back());
        ASSERT_EQ(cli({"--port", SimProcess(row.from).Path(), "read", "--out", file}).status, 0);
        SimProcess sim(row.to);
        EXPECT_EQ(cli({"--port", sim.Path(), "write", file}).status, 0);
        EXPECT_EQ(cli({"--port", sim.Path(), "read"}).status, row.readAfterWrite);
    }

    const ProcessResult identify = cli({"--simulate", "identify"});
    const ProcessResult read = cli({"--simulate", "read"});
    EXPECT_NE(identify.out.find("Firmware Version = 1.4\nLife Remaining = 49939200 sec\nSensor present = 0x01\n"
                                "Serial Number = SH24031507\n"),
              std::string::npos)
        << identify.out;
    for (const char *field : {"\"mSerial\": \"SH24031507\"", "\"mFWVersion\": 14,", "\"mLifeRemaining\": 49939200,"})
        EXPECT_NE(read.out.find(field), std::string::npos) << field;
    EXPECT_EQ(cli({"--simulate", "--yes", "hibernate"}).out, "Hibernate... OK\n");

    const std::string csv = (dir / "e.csv").string();
    ASSERT_EQ(cli({"--simulate", "events", "--out", csv}).status, 0);
    std::ifstream in(csv);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    const size_t header = text.find("Event Date,Event Time,BumpTest");
    ASSERT_NE(header, std::string::npos) << text;
    EXPECT_GE(std::count(text.begin() + static_cast<std::ptrdiff_t>(header), text.end(), '\n'), 21);
    EXPECT_NE(text.find(",YES,"), std::string::npos); // a bump test
    fs::remove_all(dir);
#endif
}
