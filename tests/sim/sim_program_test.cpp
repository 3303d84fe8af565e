#include "sim/sim_args.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <sys/stat.h>
#include <sys/wait.h>

#include "raw_line.h"

using namespace simtest;

TEST(SimArgs, KnobsAndMistakes)
{
    SimArgs a;
    std::string error;
    ASSERT_EQ(ParseSimArgs({"--link", "/tmp/x", "--nak", "0xA0", "--drop=81:2", "--error", "b3", "--wake-after", "4",
                            "--bad-block-crc=sensor", "--split", "3", "--paced", "--latency-us", "1500", "--product",
                            "4", "--maintain-crc"},
                           a, error),
              SimArgsResult::kRun)
        << error;
    EXPECT_EQ(a.link, "/tmp/x");
    EXPECT_EQ(a.options.faults[0xA0].fault, SimFault::kNak);
    EXPECT_EQ(a.options.faults[0xA0].times, -1);
    EXPECT_EQ(a.options.faults[0x81].fault, SimFault::kDrop);
    EXPECT_EQ(a.options.faults[0x81].times, 2);
    EXPECT_EQ(a.options.faults[0xB3].fault, SimFault::kError);
    EXPECT_EQ(a.options.wake_after, 4);
    EXPECT_EQ(a.options.bad_block_crc, 2);
    EXPECT_EQ(a.options.split_pieces, 3);
    EXPECT_TRUE(a.options.paced);
    EXPECT_EQ(a.options.latency_us, 1500);
    EXPECT_EQ(a.options.product_id, 4);
    EXPECT_EQ(a.options.crc_on_write, SimCrcOnWrite::kMaintain);
    EXPECT_EQ(a.options.unit, SimUnit::kDemo); // the demonstration unit unless --plain
    EXPECT_EQ(a.options.serial, "");
    EXPECT_EQ(a.options.corrupt_write, -1);

    SimArgs f;
    ASSERT_EQ(ParseSimArgs({"--serial", "FL0042", "--corrupt-write", "0x40"}, f, error), SimArgsResult::kRun) << error;
    EXPECT_EQ(f.options.serial, "FL0042");
    EXPECT_EQ(f.options.corrupt_write, 64);

    SimArgs p;
    ASSERT_EQ(ParseSimArgs({"--gas", "12.5", "--echo=B2", "--wake-acks", "3", "--no-reseal", "--plain"}, p, error),
              SimArgsResult::kRun);
    EXPECT_TRUE(p.options.unit == SimUnit::kPlain && p.options.gas == 12.5 && p.options.echo_opcode == 0xB2 &&
                p.options.wake_acks == 3 && p.options.crc_on_write == SimCrcOnWrite::kKeep);

    // The sensor knobs: the kind of sensor, with its time or drift when given.
    const struct {
        std::vector<std::string> args;
        SimSensorKind kind;
        double response, slowAlarm, drift;
    } sensors[] = {
        {{}, SimSensorKind::kResponsive, 10, 90, 30},
        {{"--response-seconds", "0.25"}, SimSensorKind::kResponsive, 0.25, 90, 30},
        {{"--dead-sensor"}, SimSensorKind::kDead, 10, 90, 30},
        {{"--slow-sensor"}, SimSensorKind::kSlow, 10, 90, 30},
        {{"--slow-sensor=2.5", "--response-seconds=3"}, SimSensorKind::kSlow, 3, 2.5, 30},
        {{"--drifted-sensor"}, SimSensorKind::kDrifted, 10, 90, 30},
        {{"--drifted-sensor=45"}, SimSensorKind::kDrifted, 10, 90, 45},
    };
    for (const auto &row : sensors) {
        SCOPED_TRACE(row.args.empty() ? "defaults" : row.args[0]);
        SimArgs s;
        ASSERT_EQ(ParseSimArgs(row.args, s, error), SimArgsResult::kRun) << error;
        EXPECT_EQ(s.options.sensor_kind, row.kind);
        EXPECT_EQ(s.options.response_seconds, row.response);
        EXPECT_EQ(s.options.slow_alarm_seconds, row.slowAlarm);
        EXPECT_EQ(s.options.drift_percent, row.drift);
    }

    const std::vector<std::vector<std::string>> bad = {
        {"--nak"}, {"--nak", "1A0"}, {"--corrupt", "zz"}, {"--split", "0"}, {"--product", "256"},
        {"--bad-block-crc=middle"}, {"--frobnicate"}, {"--drop", "A0:x"}, {"--gas", "1e9"}, {"--echo=XYZ"},
        {"--wake-acks", "0"}, {"--response-seconds", "0"}, {"--response-seconds", "-1"}, {"--response-seconds"},
        {"--slow-sensor=soon"}, {"--slow-sensor=0"}, {"--drifted-sensor=100"}, {"--drifted-sensor=-5"},
        {"--serial"}, {"--serial", ""}, {"--serial", "SH2403150700"}, {"--serial", "SH 1"}, {"--corrupt-write", "128"},
        {"--corrupt-write", "-1"},
    };
    for (const auto &args : bad) {
        SimArgs b;
        error.clear();
        EXPECT_EQ(ParseSimArgs(args, b, error), SimArgsResult::kError) << args[0];
        EXPECT_FALSE(error.empty());
    }
    SimArgs h;
    EXPECT_EQ(ParseSimArgs({"--absent", "--help"}, h, error), SimArgsResult::kHelp);
}

TEST(SimProgram, ServesBehindItsLinkUntilTerminated)
{
    const std::string link = testing::TempDir() + "beamport-sim-test-link-" + std::to_string(::getpid());
    std::remove(link.c_str());
    ASSERT_EQ(::symlink("/nonexistent/stale", link.c_str()), 0); // a stale link is replaced

    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::execl(BEAMPORT_SIM, BEAMPORT_SIM, "--link", link.c_str(), "--product", "3", static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    FILE *f = ::fdopen(out[0], "r");
    char first[512] = {};
    ASSERT_NE(std::fgets(first, sizeof(first), f), nullptr);
    EXPECT_EQ(std::string(first), link + "\n");
    {
        RawLine line(link);
        ASSERT_TRUE(line.Open());
        ASSERT_TRUE(line.Wake());
        const Bytes id = line.Ask({wire::kOpIdentity}, 20);
        ASSERT_EQ(id.size(), 20u);
        EXPECT_EQ(id[0], 3);
    }
    ::kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    struct stat st{};
    EXPECT_NE(::lstat(link.c_str(), &st), 0);
    std::fclose(f);
}
