// What leaves a command as an exception: a port's error is the port failing
// (161), anything else an internal error (70), each with its text.
#include <gtest/gtest.h>

#include <stdexcept>

#include "cli/cli_commands.h"
#include "link/comm.h"
#include "support/test_session.h"

TEST(RunCommand, APortErrorIs161AnyOtherExceptionIs70)
{
    const struct {
        const char *name;
        CliRun run;
        int code;
        const char *said;
    } rows[] = {
        {"port error", [](CliContext &) -> int { throw ECommError("Read error", 5); }, 161, "beamport-cli: Read error"},
        {"other", [](CliContext &) -> int { throw std::runtime_error("no memory"); }, 70,
         "beamport-cli: internal error: no memory"},
        {"none", [](CliContext &) { return 3; }, 3, ""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        TTestSession t;
        TCliScreen screen;
        CliContext context{screen, t.session, false, {}};
        CliEntry entry;
        entry.name = "test";
        entry.run = row.run;
        testing::internal::CaptureStderr();
        EXPECT_EQ(RunCommand(entry, context), row.code);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(said.rfind(row.said, 0), 0u) << said;
        EXPECT_EQ(said.empty(), !*row.said) << said;
    }
}
