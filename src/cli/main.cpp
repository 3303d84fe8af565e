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
void PrintUsage(std::ostream &out)
{
    out << "usage: beamport-cli [--port DEVICE] [--simulate] [--ini FILE] [--traffic] [--yes] COMMAND [ARGS]\n"
           "commands:\n";
    for (const CliEntry &e : CliCommands())
        out << "  " << e.usage << "\n";
}

struct Options {
    std::string port;
    std::string ini;
    bool simulate = false;
    bool traffic = false;
    bool yes = false;
    bool help = false;
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
            o.help = true;
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
    PrintUsage(std::cerr);
    return kExitUsage;
}

int Help()
{
    PrintUsage(std::cout);
    std::cout << ExitStatusTable() << std::flush;
    return 0;
}

// A status byte is the exit status; 64 to 68 are the command line's own.
bool IsStatusByte(int code) { return code > 0 && code <= 255 && (code < kExitUsage || code > kExitNotDone); }
} // namespace

int main(int argc, char **argv)
{
    Options o;
    std::string error;
    if (!Parse(argc, argv, o, error))
        return o.help ? Help() : Usage(error);
    const auto &commands = CliCommands();
    const auto entry = std::find_if(commands.begin(), commands.end(), [&](const CliEntry &e) { return e.name == o.command; });
    if (entry == commands.end())
        return Usage("unknown command " + o.command);
    if (o.args.size() == 1 && (o.args[0] == "--help" || o.args[0] == "-h")) {
        std::cout << "usage: beamport-cli [options] " << entry->usage << "\n" << ExitStatusTable() << std::flush;
        return 0;
    }

    const std::string settingsWarning = o.ini.empty() ? LoadSettings() : LoadSettings(o.ini);
    if (!settingsWarning.empty())
        std::cerr << "beamport-cli: " << WithLineBreaks(settingsWarning) << "\n";

    std::unique_ptr<SimDetector> sim;
    if (o.simulate) {
        // The unit a new user tries every job on (as beamport-sim serves by default).
        sim = std::make_unique<SimDetector>(SimDemoOptions());
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
    if (code == kExitUsage && !context.usageReported)
        return Usage("wrong arguments for " + o.command);
    // Every failure says what happened, also where the window stays silent
    // (the actuator tests): the status table's text for the byte.
    if (IsStatusByte(code) && !screen.FErrorShown)
        std::cerr << WithLineBreaks(StatusMessage(static_cast<uint8_t>(code))) << std::endl;
    return code;
}
