// beamport-cli identify against a beamport-sim process, as a user runs it.
#include <gtest/gtest.h>

#include "support/process.h"

namespace {
ProcessResult Identify(const std::string &port, bool traffic = true)
{
    std::vector<std::string> args = {"--port", port};
    if (traffic)
        args.push_back("--traffic");
    args.push_back("identify");
    return RunProcess(BEAMPORT_CLI, args);
}
} // namespace

TEST(CliIdentify, PrintsTheSixLinesAndTheTraffic)
{
    SimProcess sim;
    const ProcessResult r = Identify(sim.Path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Load Identify... OK\nProduct ID = 2\nHardware Version = ", 0), 0u) << r.out;
    for (const char *label : {"Firmware Version = ", "Life Remaining = ", " sec\n", "Sensor present = 0x01",
                              "Serial Number = "})
        EXPECT_NE(r.out.find(label), std::string::npos) << label;
    EXPECT_NE(r.err.find("[SEND] A0 78 00 "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("[READ] "), std::string::npos);
    EXPECT_NE(r.err.find("[CHECK TIME] "), std::string::npos);
    // every traffic line carries its "hh:nn:ss:zzz " stamp
    const size_t send = r.err.find("[SEND] A0 78 00 ");
    const size_t lineStart = r.err.rfind('\n', send) == std::string::npos ? 0 : r.err.rfind('\n', send) + 1;
    EXPECT_EQ(send - lineStart, 13u);
    EXPECT_EQ(r.err[lineStart + 2], ':');
}

TEST(CliIdentify, FailuresEndWithTheirStatus)
{
    struct Case {
        std::vector<std::string> knobs;
        int status;
        const char *message;
    } cases[] = {
        {{"--nak", "A0"}, 176, "Norvik comunication error - negative response"},
        {{"--error", "A0"}, 177, "Norvik comunication error"},
        {{"--drop", "A0"}, 162, "Norvik comunication error - no response"},
        {{"--corrupt", "A0"}, 178, "Norvik comunication error - CRC error"},
    };
    for (const Case &c : cases) {
        SimProcess sim(c.knobs);
        const ProcessResult r = Identify(sim.Path(), false);
        EXPECT_EQ(r.status, c.status) << c.knobs[0];
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("Product ID"), std::string::npos);
    }
}

TEST(CliIdentify, AbsentDetectorAndMissingAdapter)
{
    {
        SimProcess sim({"--absent"});
        const ProcessResult r = Identify(sim.Path(), false);
        EXPECT_EQ(r.status, 160);
        EXPECT_GE(r.seconds, 2.9);
        EXPECT_LT(r.seconds, 10.0);
        EXPECT_NE(r.out.find("Load Identify... Norvik Dis-Connect"), std::string::npos) << r.out;
        EXPECT_NE(r.err.find("Norvik connect error\nCheck Beamport and Norvik connection"), std::string::npos);
    }
    {
        const ProcessResult r = Identify("/dev/beamport-missing", false);
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find("Error accessing specified device (Error: 2) "), std::string::npos) << r.err;
    }
    {
        const ProcessResult r = RunProcess(BEAMPORT_CLI, {"identify", "extra"});
        EXPECT_EQ(r.status, 64);
        const ProcessResult none = RunProcess(BEAMPORT_CLI, {"no-such-command"});
        EXPECT_EQ(none.status, 64);
    }
}
