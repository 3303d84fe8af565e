// beamport-cli's command line: global options on either side of the command,
// the faults a usage error names, and the usage it shows.
#include <gtest/gtest.h>

#include "cli/cli_args.h"
#include "support/process.h"

namespace {

std::vector<std::string> Words(std::initializer_list<const char *> words)
{
    std::vector<std::string> out = {"beamport-cli"};
    out.insert(out.end(), words.begin(), words.end());
    return out;
}

std::vector<std::string> Env() { return {"BEAMPORT_PORT=", "BEAMPORT_RECORDS=off"}; }

size_t Lines(const std::string &text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

} // namespace

TEST(CliArgs, GlobalOptionsStandOnEitherSideOfTheCommand)
{
    const struct {
        std::vector<std::string> argv;
        std::string command;
        std::vector<std::string> args;
        bool yes, simulate, traffic;
        std::string port, ini, records;
    } rows[] = {
        {Words({"sensor-cal", "--span", "50", "--yes"}), "sensor-cal", {"--span", "50"}, true, false, false, "", "", ""},
        {Words({"--yes", "sensor-cal", "--span", "50"}), "sensor-cal", {"--span", "50"}, true, false, false, "", "", ""},
        {Words({"identify", "--port", "/dev/ttyUSB1", "--json", "--traffic"}), "identify", {"--json"}, false, false,
         true, "/dev/ttyUSB1", "", ""},
        {Words({"--ini", "a.ini", "read", "--out", "x.cfg", "--records", "off", "--simulate"}), "read",
         {"--out", "x.cfg"}, false, true, false, "", "a.ini", "off"},
        // a value that looks like a command stays the option's value
        {Words({"--port", "identify", "beep"}), "beep", {}, false, false, false, "identify", "", ""},
        // the command's own help, and its other words in their order
        {Words({"records", "show", "12", "--yes", "--help"}), "records", {"show", "12", "--help"}, true, false, false,
         "", "", ""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.argv[1] + " ... " + row.argv.back());
        RCliArgs o;
        std::string error;
        ASSERT_TRUE(ParseCliArgs(row.argv, o, error)) << error;
        EXPECT_EQ(o.command, row.command);
        EXPECT_EQ(o.args, row.args);
        EXPECT_EQ(o.yes, row.yes);
        EXPECT_EQ(o.simulate, row.simulate);
        EXPECT_EQ(o.traffic, row.traffic);
        EXPECT_EQ(o.port, row.port);
        EXPECT_EQ(o.ini, row.ini);
        EXPECT_EQ(o.records, row.records);
        EXPECT_EQ(o.recordsGiven, !row.records.empty());
    }
}

TEST(CliArgs, ParseFaultsNameTheArgumentAndKeepTheCommand)
{
    const struct {
        std::vector<std::string> argv;
        std::string error;
        std::string command; // kept for its usage
    } rows[] = {
        {Words({"--bogus", "identify"}), "unknown option --bogus", "identify"},
        {Words({"identify", "--port"}), "--port needs a value", "identify"},
        {Words({"--records"}), "--records needs a value", ""},
        {Words({"--yes"}), "no command given", ""},
        {Words({}), "no command given", ""},
    };
    for (const auto &row : rows) {
        RCliArgs o;
        std::string error;
        EXPECT_FALSE(ParseCliArgs(row.argv, o, error)) << row.error;
        EXPECT_EQ(error, row.error);
        EXPECT_EQ(o.command, row.command) << row.error;
    }
    RCliArgs help, version;
    std::string error;
    EXPECT_FALSE(ParseCliArgs(Words({"--yes", "-h", "identify"}), help, error));
    EXPECT_TRUE(help.help);
    EXPECT_FALSE(ParseCliArgs(Words({"--version"}), version, error));
    EXPECT_TRUE(version.version);
}

TEST(CliArgs, ArgumentFaultNamesTheWordAtFault)
{
    const struct {
        const char *command;
        std::vector<std::string> args;
        std::string fault; // empty: the words fit the usage
    } rows[] = {
        {"bump-pass", {"extra"}, "bump-pass: unexpected argument 'extra'"},
        {"sensor-cal", {"--spam", "5"}, "sensor-cal: unknown option --spam"},
        {"sensor-cal", {"--span"}, "sensor-cal: --span needs a value (--span VALUE)"},
        {"sensor-cal", {"--span", "-5"}, ""}, // a negative value is a value
        {"events", {}, "events needs --out FILE.csv"},
        {"events", {"--out", ""}, "events: --out needs a value (--out FILE.csv)"},
        {"log", {"--out", "x.csv"}, "log needs --seconds N"},
        {"log", {"--seconds", "abc"}, ""},
        {"write", {}, "write needs FILE.cfg"},
        {"write", {"a.cfg", "b.cfg"}, "write: unexpected argument 'b.cfg'"},
        {"write", {""}, "write: an empty argument"},
        {"upgrade", {"fw.img", "--json"}, "upgrade: unknown option --json"},
        {"read", {"--json", "--out", "x.cfg"}, ""},
        {"certificate", {"--out", "c.pdf"}, "certificate needs ID"},
        {"certificate", {"7", "--out", "c.pdf", "--paper", "a4"}, ""},
        {"due", {"--within", "5", "soon"}, "due: unexpected argument 'soon'"},
    };
    for (const auto &row : rows) {
        const std::optional<CliEntry> entry = FindCliCommand(row.command);
        ASSERT_TRUE(entry.has_value()) << row.command;
        EXPECT_EQ(ArgumentFault(*entry, row.args), row.fault) << row.command;
    }
}

// A usage error on the command line: the fault in one line, then the usage
// lines of that command only, never the whole command list.
TEST(CliArgs, UsageErrorShowsTheCommandsUsageOnly)
{
    const struct {
        std::vector<std::string> args;
        std::string first; // the first line on stderr
        std::string usage; // the command's usage line
    } rows[] = {
        {{"--simulate", "bump-pass", "extra"}, "beamport-cli: bump-pass: unexpected argument 'extra'",
         "usage: beamport-cli [options] bump-pass"},
        {{"sensor-cal", "--spam", "5"}, "beamport-cli: sensor-cal: unknown option --spam",
         "usage: beamport-cli [options] sensor-cal [--span VALUE]"},
        {{"--bogus", "identify"}, "beamport-cli: unknown option --bogus",
         "usage: beamport-cli [options] identify [--json]"},
        {{"--simulate", "log", "--seconds", "soon"},
         "beamport-cli: --seconds needs a number of seconds from 0 up, not 'soon'",
         "usage: beamport-cli [options] log --seconds N"},
        {{"records", "show"}, "beamport-cli: records show needs one record id",
         "       beamport-cli [options] records show ID [--json]"},
    };
    for (const auto &row : rows) {
        const ProcessResult r = RunProcess(BEAMPORT_CLI, row.args, Env());
        SCOPED_TRACE(row.first);
        EXPECT_EQ(r.status, 64);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind(row.first, 0), 0u) << r.err;
        EXPECT_NE(r.err.find("\n" + row.usage), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("commands:"), std::string::npos) << r.err;
        EXPECT_LE(Lines(r.err), 8u) << r.err;
    }
    // Without a command there is no usage but the whole one.
    const ProcessResult none = RunProcess(BEAMPORT_CLI, {"--yes"}, Env());
    EXPECT_EQ(none.status, 64);
    EXPECT_NE(none.err.find("beamport-cli: no command given\n"), std::string::npos) << none.err;
    EXPECT_NE(none.err.find("commands:"), std::string::npos) << none.err;
}

// The commands that destroy data or switch the detector off do nothing on the
// command line without --yes: not a byte on the line, one line saying what
// would have happened, exit 66. With --yes after the command they run.
TEST(CliArgs, DestructiveCommandsNeedYes)
{
#ifdef _WIN32
    GTEST_SKIP() << "beamport-sim serves a pseudo-terminal: a Linux program";
#endif
    const struct {
        const char *command;
        const char *says;
        const char *ok;
    } rows[] = {
        {"factory-reset", "factory-reset would return the detector to its factory settings", "Fatory Reset... OK\n"},
        {"log-reset", "log-reset would clear the detector's event log for good", "Event Log Reset... OK\n"},
        {"power-down", "power-down would turn the detector off", "Power Down... OK\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.command);
        SimProcess sim({"--plain"});
        const ProcessResult no = RunProcess(BEAMPORT_CLI, {"--traffic", "--port", sim.Path(), row.command}, Env());
        EXPECT_EQ(no.status, 66);
        EXPECT_EQ(no.out, "");
        EXPECT_EQ(no.err, std::string("beamport-cli: ") + row.says + "; give --yes to do it\n");
        EXPECT_EQ(no.err.find("[SEND]"), std::string::npos) << no.err;

        const ProcessResult yes = RunProcess(BEAMPORT_CLI, {"--port", sim.Path(), row.command, "--yes"}, Env());
        EXPECT_EQ(yes.status, 0) << yes.err;
        EXPECT_EQ(yes.out, row.ok);
    }
}
