#include "cli/cli_commands.h"

#include <algorithm>
#include <iostream>

namespace {
std::vector<CliEntry> &Table()
{
    static std::vector<CliEntry> table;
    return table;
}
} // namespace

CliCommand::CliCommand(const char *name, const char *usage, CliRun run)
{
    Table().push_back({name, usage, std::move(run)});
}

const std::vector<CliEntry> &CliCommands()
{
    auto &t = Table();
    std::sort(t.begin(), t.end(), [](const CliEntry &a, const CliEntry &b) { return a.name < b.name; });
    return t;
}

bool TakeOption(std::vector<std::string> &args, const std::string &name, std::string &value)
{
    const auto it = std::find(args.begin(), args.end(), name);
    if (it == args.end() || it + 1 == args.end())
        return false;
    value = *(it + 1);
    args.erase(it, it + 2);
    return true;
}

bool TakeFlag(std::vector<std::string> &args, const std::string &name)
{
    const auto it = std::find(args.begin(), args.end(), name);
    if (it == args.end())
        return false;
    args.erase(it);
    return true;
}

int UsageError(CliContext &c, const std::string &text)
{
    std::cerr << "beamport-cli: " << text << std::endl;
    c.usageReported = true;
    return kExitUsage;
}

std::string ExitStatusTable()
{
    return "exit status:\n"
           "  0      success\n"
           "  1-255  (but 64-68) the status byte that ended the action, with the meaning of the status table:\n"
           "         device and link statuses, adapter discovery 253-255, firmware image checks 128-131\n"
           "         (upgrade of an unreadable image is 128) and download outcomes 132-135\n"
           "  64     usage error: the command line was wrong\n"
           "  65     a .cfg or CSV file could not be read or written, or was refused\n"
           "  66     nothing was done because a question was answered No (no --yes)\n"
           "  67     refused before anything was sent: the detector, the sensor or the settings do not\n"
           "         allow the job\n"
           "  68     the job ran but did not succeed in a way that has no status byte (calibration failed,\n"
           "         timed out or was stopped); the message says which\n";
}
