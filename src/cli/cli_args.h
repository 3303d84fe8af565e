#pragma once
// The command line of beamport-cli: the global options (before the command or
// after it), the command and its own arguments, and the usage texts a usage
// error shows.
#include <string>
#include <vector>

#include "cli/cli_commands.h"

struct RCliArgs {
    std::string port;
    std::string ini;
    std::string records;
    bool recordsGiven = false;
    bool simulate = false;
    bool traffic = false;
    bool yes = false;
    bool help = false;    // --help before the command
    bool version = false; // --version before the command
    std::string command;  // the first word that is no option
    std::vector<std::string> args; // the command's own (its --help among them)
};

// Parses argv (argv[0] the program). A global option counts wherever it
// stands; --help and --version before the command stop the parse. False on a
// usage error, with error naming the argument at fault; the command found so
// far (or after the fault) is kept, so that its usage can be shown.
bool ParseCliArgs(const std::vector<std::string> &argv, RCliArgs &out, std::string &error);

// --help: the global options and the command list.
std::string GlobalUsage();

// The usage lines of one command ("usage: beamport-cli [options] ..."), and
// where to read more.
std::string CommandUsage(const CliEntry &entry);

// What is wrong with args for the command, judged by its usage and options,
// as a sentence naming the command and the argument at fault: an unknown
// option, an option without its value, a word too many, a missing option or
// argument. Empty when the words fit and a value itself was refused.
std::string ArgumentFault(const CliEntry &entry, const std::vector<std::string> &args);
