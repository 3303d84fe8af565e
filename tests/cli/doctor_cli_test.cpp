// beamport-cli doctor and ports over fake machines, as a script runs them.
#include <gtest/gtest.h>

#include "support/fake_machine.h"
#include "support/process.h"

TEST(CliDoctor, ExitStatusTellsWhetherAllIsWell)
{
    FakeMachine well;
    well.InstallRule();
    const std::string node = well.AddUsb({});
    ProcessResult r = RunProcess(BEAMPORT_CLI, {"doctor"}, well.Env());
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "all well: adapter 1 " + node + " (10C4:EA60, serial 0001) ready\n");

    r = RunProcess(BEAMPORT_CLI, {"ports"}, well.Env());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("1  " + node + "  ", 0), 0u) << r.out;

    FakeMachine empty;
    empty.InstallRule();
    r = RunProcess(BEAMPORT_CLI, {"doctor"}, empty.Env());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("problem: no CP210x adapter found -> ", 0), 0u) << r.out;

    r = RunProcess(BEAMPORT_CLI, {"ports"}, empty.Env());
    EXPECT_EQ(r.status, 255); // the discovery status for "no adapter"
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("no adapter found"), std::string::npos) << r.err;

    r = RunProcess(BEAMPORT_CLI, {"--port", "/dev/given", "ports"}, empty.Env());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "discovery skipped: using /dev/given (from the command line)\n");

    EXPECT_EQ(RunProcess(BEAMPORT_CLI, {"doctor", "extra"}, empty.Env()).status, 64);
}
