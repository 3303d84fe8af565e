#include "cli/cli_commands.h"

#include <algorithm>

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
