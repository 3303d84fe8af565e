#pragma once
// The command table of beamport-cli: each command's name, usage, help and the
// code that runs it. Each cmd_*.cpp makes its own entries (the functions at
// the end); CliCommands lists them all.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_screen.h"
#include "model/config_record.h"
#include "model/exit_table.h"

class TRecordStore;
class TSession;

// The exit statuses of the command line's own: the one exit table's
// (model/exit_table.h), under the names the commands use.
inline constexpr int kExitUsage = exits::kUsage;
inline constexpr int kExitFile = exits::kFile;
inline constexpr int kExitDeclined = exits::kDeclined;
inline constexpr int kExitRefused = exits::kRefused;
inline constexpr int kExitNotDone = exits::kNotDone;
// Commands without device work.
inline constexpr int kExitFound = exits::kFound;
inline constexpr int kExitUnavailable = exits::kUnavailable;
inline constexpr int kExitInternal = exits::kInternal;

struct CliContext {
    TCliScreen &screen;
    TSession &session;            // settings, store, link, records: the program's one session
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

// One option of a command, as its --help lists it.
struct CliOption {
    std::string name; // "--out FILE.csv"
    std::string text; // what it does
};

// What a command's exit status stands for.
enum class ECliKind {
    kDevice,    // a job on the detector: a status byte, explained with the status table's text
    kDiscovery, // the adapter search itself (ports): its status, explained by the command
    kLocal,     // no device work (records, settings, doctor, ...): the command's own codes
    kCompare,   // a job on the detector that compares: 1 says it differs, other codes as kDevice
};

struct CliEntry {
    std::string name;
    std::string usage;       // "events --out FILE.csv"; further forms on further lines
    std::string summary;     // its line in the command list
    std::string description; // the paragraph of COMMAND --help
    std::vector<CliOption> options;
    CliRun run;
    ECliKind kind = ECliKind::kDevice;
    bool gui = false;        // needs a GUI application object (the certificate's PDF writer)
};

// Runs the command. An exception that leaves it ends it with its text on
// stderr: a port's error (ECommError) with exits::kPortFailed, as every
// job's own port failure; any other with kExitInternal.
int RunCommand(const CliEntry &entry, CliContext &context);

// Every command, sorted by name.
std::vector<CliEntry> CliCommands();
std::optional<CliEntry> FindCliCommand(const std::string &name);

// The command list of --help: the usage of each command and its summary.
std::string CommandList();
// COMMAND --help: usage, description, options.
std::string CommandHelp(const CliEntry &entry);

// Takes "--name VALUE" out of args; true when present. Missing value: usage error.
bool TakeOption(std::vector<std::string> &args, const std::string &name, std::string &value);
bool TakeFlag(std::vector<std::string> &args, const std::string &name);

// The record `write FILE.cfg` would send: the file read as Read File reads it
// (its boxes on stderr), then built for the detector as Write Device builds
// it. 0, or the exit code: kExitFile for a file that cannot be read or is
// refused, kExitRefused for settings whose write ranges leave the record.
int ConfigOfFile(CliContext &c, const std::string &path, RTamselCFG &sent);

// ---- the commands, each made by its cmd_*.cpp ----
std::vector<CliEntry> ActionCommands(); // beep ... hibernate: the one-shot device actions
CliEntry BumpTestCommand();
CliEntry CertificateCommand();
CliEntry DiffCommand();
CliEntry CylindersCommand();
CliEntry DoctorCommand();
CliEntry DueCommand();
CliEntry EepromCommand();
CliEntry EventsCommand();
CliEntry IdentifyCommand();
CliEntry LogCommand();
CliEntry PortsCommand();
CliEntry ProgramCommand();
CliEntry ReadCommand();
CliEntry RecordsCommand();
CliEntry OrgKeyCommand();
CliEntry RestoreCommand();
CliEntry SensorCalCommand();
CliEntry SettingsCommand();
CliEntry TemplateCommand();
CliEntry UpgradeCommand();
CliEntry WriteCommand();
// template show NAME --versions (cmd_template_versions.cpp): the template's
// versions, oldest first; 0, or the exit code with its reason on stderr.
int ShowTemplateVersions(TRecordStore &store, const std::string &name);
