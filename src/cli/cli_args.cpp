#include "cli/cli_args.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <sstream>

namespace {

// The global options that take a value, and where it goes.
std::string *ValueTarget(RCliArgs &o, const std::string &a)
{
    if (a == "--port")
        return &o.port;
    if (a == "--ini")
        return &o.ini;
    if (a == "--records")
        return &o.records;
    return nullptr;
}

bool GlobalFlag(RCliArgs &o, const std::string &a)
{
    if (a == "--simulate")
        o.simulate = true;
    else if (a == "--traffic")
        o.traffic = true;
    else if (a == "--yes")
        o.yes = true;
    else
        return false;
    return true;
}

// "-5" or "-0.5" is a value, not an option.
bool LooksLikeOption(const std::string &a)
{
    return a.size() > 1 && a[0] == '-' && !std::isdigit(static_cast<unsigned char>(a[1])) && a[1] != '.';
}

std::string FirstLine(const std::string &text) { return text.substr(0, text.find('\n')); }

} // namespace

bool ParseCliArgs(const std::vector<std::string> &argv, RCliArgs &o, std::string &error)
{
    error.clear();
    bool haveCommand = false;
    for (size_t i = 1; i < argv.size(); ++i) {
        const std::string &a = argv[i];
        if (std::string *target = ValueTarget(o, a)) {
            if (i + 1 >= argv.size()) {
                if (error.empty())
                    error = a + " needs a value";
                continue;
            }
            *target = argv[++i];
            o.recordsGiven = o.recordsGiven || a == "--records";
        } else if (GlobalFlag(o, a)) {
        } else if (haveCommand) {
            o.args.push_back(a); // the command's own, its --help among them
        } else if (a == "-h" || a == "--help") {
            o.help = true;
            return false;
        } else if (a == "--version") {
            o.version = true;
            return false;
        } else if (!a.empty() && a[0] == '-') {
            if (error.empty())
                error = "unknown option " + a;
        } else {
            o.command = a;
            haveCommand = true;
        }
    }
    if (!haveCommand && error.empty())
        error = "no command given";
    return error.empty();
}

std::string GlobalUsage()
{
    return "usage: beamport-cli [--port DEVICE] [--simulate] [--ini FILE] [--traffic] [--yes]\n"
           "                    [--records off|sqlite:PATH|postgresql://...] COMMAND [ARGS]\n"
           "       beamport-cli --version | --help | COMMAND --help\n"
           "options (before the command or after it):\n"
           "  --port DEVICE     talk to DEVICE instead of looking for the adapter (env BEAMPORT_PORT)\n"
           "  --simulate        talk to a simulated detector started inside the program\n"
           "  --ini FILE        the settings file instead of OPTAVO.INI in the current folder\n"
           "  --traffic         every traffic-log line on stderr\n"
           "  --yes             answer Yes to every question (without it: No); factory-reset, log-reset,\n"
           "                    power-down and hibernate do nothing without it\n"
           "  --records WHERE   where the service records go: off, sqlite:PATH or a postgresql:// URI\n"
           "                    (env BEAMPORT_RECORDS; default the local SQLite store)\n"
           "commands:\n" +
           CommandList();
}

std::string CommandUsage(const CliEntry &e)
{
    std::string out;
    std::istringstream forms(e.usage);
    bool first = true;
    for (std::string form; std::getline(forms, form); first = false)
        out += (first ? "usage: " : "       ") + std::string("beamport-cli [options] ") + form + "\n";
    out += "'beamport-cli " + e.name + " --help' explains it; 'beamport-cli --help' lists the options.\n";
    return out;
}

std::string ArgumentFault(const CliEntry &e, const std::vector<std::string> &args)
{
    // The options the command knows, and whether each takes a value.
    std::map<std::string, std::string> valueOf; // "--out" -> "FILE.csv" ("" for a flag)
    for (const CliOption &o : e.options) {
        const size_t space = o.name.find(' ');
        valueOf[o.name.substr(0, space)] = space == std::string::npos ? "" : o.name.substr(space + 1);
    }
    // The first usage form: the options and words it needs, and the optional words.
    std::vector<std::string> neededOptions, neededWords;
    size_t optionalWords = 0;
    std::istringstream usage(FirstLine(e.usage));
    std::string token;
    usage >> token; // the command's name
    int depth = 0;
    bool skipValue = false;
    while (usage >> token) {
        const int opens = static_cast<int>(std::count(token.begin(), token.end(), '['));
        const int closes = static_cast<int>(std::count(token.begin(), token.end(), ']'));
        depth += opens;
        std::string word = token;
        word.erase(std::remove_if(word.begin(), word.end(), [](char ch) { return ch == '[' || ch == ']'; }),
                   word.end());
        if (skipValue) {
            skipValue = false;
        } else if (word.rfind("--", 0) == 0) {
            skipValue = valueOf.count(word) && !valueOf[word].empty();
            if (depth == 0)
                neededOptions.push_back(word);
        } else if (!word.empty() && word != "|") {
            if (depth == 0)
                neededWords.push_back(word);
            else
                ++optionalWords;
        }
        depth -= closes;
    }

    std::set<std::string> given;
    size_t words = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        if (LooksLikeOption(a)) {
            const auto known = valueOf.find(a);
            if (known == valueOf.end())
                return e.name + ": unknown option " + a;
            if (!known->second.empty()) {
                if (i + 1 >= args.size() || args[i + 1].empty())
                    return e.name + ": " + a + " needs a value (" + a + " " + known->second + ")";
                ++i;
            }
            given.insert(a);
        } else if (a.empty()) {
            return e.name + ": an empty argument";
        } else if (words >= neededWords.size() + optionalWords) {
            return e.name + ": unexpected argument '" + a + "'";
        } else {
            ++words;
        }
    }
    for (const std::string &o : neededOptions)
        if (!given.count(o))
            return e.name + " needs " + o + (valueOf[o].empty() ? "" : " " + valueOf[o]);
    if (words < neededWords.size())
        return e.name + " needs " + neededWords[words];
    return {};
}
