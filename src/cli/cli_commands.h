#pragma once
// The command table of beamport-cli. Each command lives in its own file and
// registers itself with a static CliCommand object.
#include <functional>
#include <string>
#include <vector>

#include "cli/cli_screen.h"

class TComTamsel;

inline constexpr int kExitUsage = 64; // the command line was wrong
inline constexpr int kExitFile = 65;  // a file could not be read or written, or was refused
inline constexpr int kExitDeclined = 66;   // nothing was done: a question was answered No
inline constexpr int kExitRefused = 67;    // refused before anything was sent (detector, sensor or settings)
inline constexpr int kExitNotDone = 68;    // ran but did not succeed, with no status byte to say why

struct CliContext {
    TCliScreen &screen;
    TComTamsel &link;
    bool yes = false;
    std::vector<std::string> args; // the command's own arguments
    bool usageReported = false;    // the command said itself what was wrong with its arguments
};

// A usage error the command explains itself: "beamport-cli: " + text on
// stderr; returns kExitUsage.
int UsageError(CliContext &c, const std::string &text);

// The exit status table, as --help prints it.
std::string ExitStatusTable();

using CliRun = std::function<int(CliContext &)>;

struct CliCommand {
    CliCommand(const char *name, const char *usage, CliRun run);
};

struct CliEntry {
    std::string name;
    std::string usage;
    CliRun run;
};
const std::vector<CliEntry> &CliCommands();

// Takes "--name VALUE" out of args; true when present. Missing value: usage error.
bool TakeOption(std::vector<std::string> &args, const std::string &name, std::string &value);
bool TakeFlag(std::vector<std::string> &args, const std::string &name);
