// beamport-cli: one device action per command, on the same code path, with
// the same statuses and texts as the window.
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QString>

#include "app/session.h"
#include "app/end_program.h"
#include "app/runtime_dir.h"
#include "app/settings.h"
#include "app/status.h"
#include "app/user_store.h"
#include "cli/cli_args.h"
#include "cli/cli_commands.h"
#include "cli/cli_screen.h"
#include "cli/console.h"
#include "link/discovery.h"
#include "app/journal.h"
#include "records/driver_messages.h"
#include "records/journal_store.h"
#include "records/location.h"
#include "sim/sim_detector.h"

#ifndef BEAMPORT_VERSION
#error "BEAMPORT_VERSION comes from the project version (CMakeLists.txt)"
#endif

namespace {
// A usage error: what is wrong, then the usage of the command at fault (or,
// without one, of the whole program).
int Usage(const std::string &error, const CliEntry *entry = nullptr)
{
    if (!error.empty())
        std::cerr << "beamport-cli: " << error << "\n";
    std::cerr << (entry ? CommandUsage(*entry) : GlobalUsage());
    return kExitUsage;
}

int Help()
{
    std::cout << GlobalUsage();
    std::cout << ExitStatusTable() << std::flush;
    return 0;
}

int Version()
{
    std::cout << "beamport-cli " BEAMPORT_VERSION "\n" << std::flush;
    return 0;
}

// A status byte is the exit status; the exit table's own block is not one.
bool IsStatusByte(int code) { return code > 0 && code <= 255 && !exits::IsOwnCode(code); }

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

// The Qt application object the records need: Qt SQL loads its drivers through
// one, and the certificate's PDF writer needs a GUI one (offscreen unless a
// platform is chosen). The C library's locale stays as it was, so that numbers
// and messages come out as they do without it. argc and argv must outlive it.
std::unique_ptr<QCoreApplication> MakeApplication(int &argc, char **argv, bool gui)
{
    const std::string locale = std::setlocale(LC_ALL, nullptr);
    std::unique_ptr<QCoreApplication> app;
    if (gui) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        ProvideXdgRuntimeDir();
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    std::setlocale(LC_ALL, locale.c_str());
    return app;
}
// Gives the stop signals back (and waits for a last wish under way) when it
// goes, before the session the last wish uses.
struct RStopSignalsRelease {
    TCliScreen &screen;
    ~RStopSignalsRelease() { screen.ReleaseStopSignals(); }
};
} // namespace

namespace {

int Run(int argc, char **argv)
{
    UseUtf8Console();
    RCliArgs o;
    std::string error;
    const bool parsed = ParseCliArgs(CommandLineUtf8(argc, argv), o, error);
    if (o.help || o.version)
        return o.help ? Help() : Version();
    std::optional<CliEntry> entry;
    if (!o.command.empty())
        entry = FindCliCommand(o.command);
    if (!entry && !o.command.empty())
        return Usage(parsed ? "unknown command " + o.command : error);
    if (!parsed)
        return Usage(error, entry ? &*entry : nullptr);
    const std::vector<std::string> commandArgs = o.args;
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
    }

    // Qt sees only the program's name: the rest of the command line is ours.
    int qtArgc = 1;
    char *qtArgv[] = {argv[0], nullptr};
    const std::unique_ptr<QCoreApplication> app = MakeApplication(qtArgc, qtArgv, entry->gui);
    // The database drivers' own complaints stay off stderr: a store that
    // fails says so in one line.
    const TQuietDrivers quietDrivers;
    TCliScreen screen;
    screen.FYes = o.yes;
    screen.FTraffic = o.traffic;
    screen.FTerminal = StderrIsTerminal();

    std::unique_ptr<SimDetector> sim; // outlives the session's link

    // The one session of this run.
    // Simulate mode keeps its remembered values apart from the real ones.
    TSession session(o.simulate ? SimulatedStoreFile() : std::string());
    session.RecordsChoice = o.records;
    const std::string settingsWarning = o.ini.empty() ? LoadSettings(session) : LoadSettings(session, o.ini);
    if (!settingsWarning.empty())
        std::cerr << "beamport-cli: " << WithLineBreaks(settingsWarning) << "\n";

    if (o.simulate) {
        // The unit a new user tries every job on (as beamport-sim serves by default).
        sim = std::make_unique<SimDetector>(SimDemoOptions());
        if (!sim->Start()) {
            std::cerr << "beamport-cli: the simulated detector could not start: " << sim->Error() << "\n";
            return 1;
        }
    }
    session.ChoosePort(o.port, sim ? sim->DevicePath() : std::string(), sim ? sim->LineTally() : nullptr);
    AttachTraffic(session, screen, o.traffic);
    // Device jobs leave their service records; a store that cannot be used
    // never stops a job, it only says so.
    if (entry->kind != ECliKind::kLocal) {
        QString why;
        session.SetJournal(MakeJournal(session, why));
        if (!why.isEmpty())
            screen.JournalWarning("service records are off: " + why.toStdString());
        // A second Ctrl-C ends the program, but the job under way is on the
        // record (as stopped) before it does.
        TSession *kept = &session;
        screen.FLastWish = [kept] { kept->Journal().Abandon(); };
    }
    // The last wish uses the session: the screen lets the signals go first.
    const RStopSignalsRelease release{screen};
    CliContext context{screen, session, o.yes, o.args};
    const int code = RunCommand(*entry, context);
    // The job's output is out; now its record, before the program ends (the
    // store's time-outs bound the wait): a job that exits 0 is on the record.
    session.Journal().Flush();
    if (code == kExitUsage) {
        if (context.usageReported)
            return Usage("", &*entry);
        const std::string fault = ArgumentFault(*entry, commandArgs);
        return Usage(fault.empty() ? o.command + ": the arguments do not fit its usage" : fault, &*entry);
    }
    // The codes of the commands without device work are their own.
    if (entry->kind == ECliKind::kLocal)
        return code;
    // Every failure of a device job or of the adapter search says what
    // happened, also where the window stays silent (the actuator tests): the
    // status table's text for the byte.
    const bool differs = entry->kind == ECliKind::kCompare && code == 1;
    if (IsStatusByte(code) && !screen.FErrorShown && !differs)
        std::cerr << WithLineBreaks(StatusMessage(static_cast<uint8_t>(code))) << std::endl;
    // No adapter to talk to: say where to go from here, once.
    if (IsDiscoveryFailure(code) && !differs && entry->kind != ECliKind::kDiscovery &&
        session.Link().PortChoice().empty())
        std::cerr << "beamport-cli: no adapter to use: 'beamport-cli doctor' says why; --port DEVICE names the "
                     "device, --simulate tries a simulated detector"
                  << std::endl;
    return code;
}

} // namespace

int main(int argc, char **argv)
{
    // Every object of the run is gone by now: the records are closed.
    EndProgram(Run(argc, argv));
}
