// beamport-cli: one device action per command, on the same code path, with
// the same statuses and texts as the window.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <algorithm>

#include "cli/cli_commands.h"
#include "app/settings.h"
#include "app/status.h"
#include "cli/cli_screen.h"
#include "link/discovery.h"
#include "link/tamsel_comms.h"
#include "sim/sim_detector.h"

namespace {
void PrintUsage()
{
    std::cerr << "usage: beamport-cli [--port DEVICE] [--simulate] [--ini FILE] [--traffic] [--yes] COMMAND [ARGS]\n"
                 "commands:\n";
    for (const CliEntry &e : CliCommands())
        std::cerr << "  " << e.usage << "\n";
}

struct Options {
    std::string port;
    std::string ini;
    bool simulate = false;
    bool traffic = false;
    bool yes = false;
    std::string command;
    std::vector<std::string> args;
};

bool Parse(int argc, char **argv, Options &o, std::string &error)
{
    int i = 1;
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--port" || a == "--ini") {
            if (i + 1 >= argc) {
                error = a + " needs a value";
                return false;
            }
            (a == "--port" ? o.port : o.ini) = argv[++i];
        } else if (a == "--simulate") {
            o.simulate = true;
        } else if (a == "--traffic") {
            o.traffic = true;
        } else if (a == "--yes") {
            o.yes = true;
        } else if (a == "-h" || a == "--help") {
            error.clear();
            return false;
        } else if (!a.empty() && a[0] == '-') {
            error = "unknown option " + a;
            return false;
        } else {
            break;
        }
    }
    if (i >= argc) {
        error = "no command given";
        return false;
    }
    o.command = argv[i++];
    for (; i < argc; ++i)
        o.args.emplace_back(argv[i]);
    return true;
}

int Usage(const std::string &error)
{
    if (!error.empty())
        std::cerr << "beamport-cli: " << error << "\n";
    PrintUsage();
    return kExitUsage;
}
} // namespace

int main(int argc, char **argv)
{
    Options o;
    std::string error;
    if (!Parse(argc, argv, o, error))
        return Usage(error);
    const auto &commands = CliCommands();
    const auto entry = std::find_if(commands.begin(), commands.end(), [&](const CliEntry &e) { return e.name == o.command; });
    if (entry == commands.end())
        return Usage("unknown command " + o.command);

    const std::string settingsWarning = o.ini.empty() ? LoadSettings() : LoadSettings(o.ini);
    if (!settingsWarning.empty())
        std::cerr << "beamport-cli: " << WithLineBreaks(settingsWarning) << "\n";

    std::unique_ptr<SimDetector> sim;
    if (o.simulate) {
        // The detector tried out here keeps its block CRCs valid after a
        // write, so Write Device followed by Read Device works as a user expects.
        SimOptions options;
        options.crc_on_write = SimCrcOnWrite::kMaintain;
        sim = std::make_unique<SimDetector>(options);
        if (!sim->Start()) {
            std::cerr << "beamport-cli: the simulated detector could not start: " << sim->Error() << "\n";
            return 1;
        }
        SetPortOverride(sim->DevicePath());
    }
    if (!o.port.empty())
        SetPortOverride(o.port);

    TCliScreen screen;
    screen.FYes = o.yes;
    screen.FTraffic = o.traffic;
    TComTamsel link;
    AttachTraffic(link, screen, o.traffic);
    CliContext context{screen, link, o.yes, o.args};
    const int code = entry->run(context);
    if (code == kExitUsage)
        return Usage("wrong arguments for " + o.command);
    return code;
}
