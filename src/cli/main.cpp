// beamport-cli: one device action per command, on the same code path, with
// the same statuses and texts as the window.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include <QString>

#include "app/settings.h"
#include "app/status.h"
#include "cli/cli_commands.h"
#include "cli/cli_screen.h"
#include "link/discovery.h"
#include "link/tamsel_comms.h"
#include "app/journal.h"
#include "records/journal_store.h"
#include "records/location.h"
#include "sim/sim_detector.h"

#ifndef BEAMPORT_VERSION
#error "BEAMPORT_VERSION comes from the project version (CMakeLists.txt)"
#endif

namespace {
void PrintUsage(std::ostream &out)
{
    out << "usage: beamport-cli [--port DEVICE] [--simulate] [--ini FILE] [--traffic] [--yes]\n"
           "                    [--records off|sqlite:PATH|postgresql://...] COMMAND [ARGS]\n"
           "       beamport-cli --version | --help | COMMAND --help\n"
           "options:\n"
           "  --port DEVICE     talk to DEVICE instead of looking for the adapter (env BEAMPORT_PORT)\n"
           "  --simulate        talk to a simulated detector started inside the program\n"
           "  --ini FILE        the settings file instead of OPTAVO.INI in the current folder\n"
           "  --traffic         every traffic-log line on stderr\n"
           "  --yes             answer Yes to every question (without it: No)\n"
           "  --records WHERE   where the service records go: off, sqlite:PATH or a postgresql:// URI\n"
           "                    (env BEAMPORT_RECORDS; default the local SQLite store)\n"
           "commands:\n"
        << CommandList();
}

struct Options {
    std::string port;
    std::string ini;
    std::string records;
    bool recordsGiven = false;
    bool simulate = false;
    bool traffic = false;
    bool yes = false;
    bool help = false;
    bool version = false;
    std::string command;
    std::vector<std::string> args;
};

bool Parse(int argc, char **argv, Options &o, std::string &error)
{
    int i = 1;
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--port" || a == "--ini" || a == "--records") {
            if (i + 1 >= argc) {
                error = a + " needs a value";
                return false;
            }
            (a == "--port" ? o.port : a == "--ini" ? o.ini : o.records) = argv[++i];
            o.recordsGiven = o.recordsGiven || a == "--records";
        } else if (a == "--simulate") {
            o.simulate = true;
        } else if (a == "--traffic") {
            o.traffic = true;
        } else if (a == "--yes") {
            o.yes = true;
        } else if (a == "-h" || a == "--help") {
            o.help = true;
            return false;
        } else if (a == "--version") {
            o.version = true;
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

int Version()
{
    std::cout << "beamport-cli " BEAMPORT_VERSION "\n" << std::flush;
    return 0;
}

// A status byte is the exit status; 64 to 70 are the command line's own.
bool IsStatusByte(int code) { return code > 0 && code <= 255 && (code < kExitUsage || code > kExitInternal); }

// The statuses of a search for the adapter that found none to use: no
// adapter, several, no device tree, and the adapter library's own (1 to 9).
bool IsDiscoveryFailure(int code)
{
    return code == kDiscoveryNone || code == kDiscoverySeveral || code == kDiscoveryUnsupported ||
           (code >= 1 && code <= 9);
}

bool AsksForHelp(const std::vector<std::string> &args)
{
    return std::find_if(args.begin(), args.end(), [](const std::string &a) { return a == "--help" || a == "-h"; }) !=
           args.end();
}
} // namespace

int main(int argc, char **argv)
{
    Options o;
    std::string error;
    if (!Parse(argc, argv, o, error))
        return o.help ? Help() : o.version ? Version() : Usage(error);
    const CliEntry *entry = FindCliCommand(o.command);
    if (!entry)
        return Usage("unknown command " + o.command);
    if (AsksForHelp(o.args)) {
        std::cout << CommandHelp(*entry) << std::flush;
        return 0;
    }
    if (o.recordsGiven) {
        RStoreLocation location;
        QString why;
        if (o.records.empty() || !ParseStoreLocation(QString::fromStdString(o.records), location, why)) {
            // The value itself is not repeated: it might hold a password.
            std::cerr << "beamport-cli: --records: "
                      << (o.records.empty() ? std::string("no place given") : why.toStdString())
                      << " (off, sqlite:PATH or postgresql://USER@HOST/DB)" << std::endl;
            return kExitUsage;
        }
        SetRecordsOption(o.records);
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
    screen.FTerminal = ::isatty(STDERR_FILENO) == 1;
    TComTamsel link;
    AttachTraffic(link, screen, o.traffic);
    // Device jobs leave their service records; a store that cannot be used
    // never stops a job, it only says so.
    std::unique_ptr<IJournal> journal;
    if (entry->kind != ECliKind::kLocal) {
        QString why;
        journal = MakeJournal(why);
        if (!why.isEmpty())
            screen.JournalWarning("service records are off: " + why.toStdString());
        SetJournal(journal.get());
        // A second Ctrl-C ends the program, but the job under way is on the
        // record (as stopped) before it does.
        IJournal *kept = journal.get();
        SetLastWish([kept] { kept->Abandon(); });
    }
    CliContext context{screen, link, o.yes, o.args};
    int code = 0;
    try {
        code = entry->run(context);
    } catch (const ECommError &e) {
        // Only a port that failed is 161.
        std::cerr << "beamport-cli: " << e.what() << std::endl;
        code = kStatusAborted;
    } catch (const std::exception &e) {
        std::cerr << "beamport-cli: internal error: " << e.what() << std::endl;
        code = kExitInternal;
    }
    // The job's output is out; now its record, before the program ends (the
    // store's time-outs bound the wait): a job that exits 0 is on the record.
    if (journal)
        journal->Flush();
    if (code == kExitUsage && !context.usageReported)
        return Usage("wrong arguments for " + o.command);
    // The codes of the commands without device work are their own.
    if (entry->kind == ECliKind::kLocal)
        return code;
    // Every failure of a device job or of the adapter search says what
    // happened, also where the window stays silent (the actuator tests): the
    // status table's text for the byte.
    if (IsStatusByte(code) && !screen.FErrorShown)
        std::cerr << WithLineBreaks(StatusMessage(static_cast<uint8_t>(code))) << std::endl;
    // No adapter to talk to: say where to go from here, once.
    if (IsDiscoveryFailure(code) && entry->kind == ECliKind::kDevice && PortOverride().empty())
        std::cerr << "beamport-cli: no adapter to use: 'beamport-cli doctor' says why; --port DEVICE names the "
                     "device, --simulate tries a simulated detector"
                  << std::endl;
    return code;
}
