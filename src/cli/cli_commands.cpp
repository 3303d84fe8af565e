#include "cli/cli_commands.h"

#include <algorithm>
#include <iostream>

#include "app/status.h"
#include "link/comm.h"

int RunCommand(const CliEntry &entry, CliContext &context)
{
    try {
        return entry.run(context);
    } catch (const ECommError &e) {
        // Only a port that failed is exits::kPortFailed.
        std::cerr << "beamport-cli: " << e.what() << std::endl;
        return kStatusAborted;
    } catch (const std::exception &e) {
        std::cerr << "beamport-cli: internal error: " << e.what() << std::endl;
        return kExitInternal;
    }
}

std::vector<CliEntry> CliCommands()
{
    std::vector<CliEntry> all = ActionCommands();
    for (CliEntry e : {BumpTestCommand(), CertificateCommand(), CylindersCommand(), DiffCommand(), DoctorCommand(),
                       DueCommand(), EepromCommand(), EventsCommand(), IdentifyCommand(), LogCommand(), OrgKeyCommand(), PortsCommand(),
                       ProgramCommand(), ReadCommand(), RecordsCommand(), RestoreCommand(), SensorCalCommand(),
                       SettingsCommand(), TemplateCommand(), UpgradeCommand(), WriteCommand()})
        all.push_back(std::move(e));
    std::sort(all.begin(), all.end(), [](const CliEntry &a, const CliEntry &b) { return a.name < b.name; });
    return all;
}

std::optional<CliEntry> FindCliCommand(const std::string &name)
{
    for (CliEntry &e : CliCommands())
        if (e.name == name)
            return std::move(e);
    return std::nullopt;
}

namespace {
constexpr size_t kUsageColumn = 31; // where the summaries start in the command list
constexpr size_t kWidth = 78;

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        const size_t nl = text.find('\n', start);
        lines.push_back(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
        if (nl == std::string::npos)
            return lines;
        start = nl + 1;
    }
}

// Words filled into lines of at most kWidth characters, each starting with `indent`.
std::string Wrap(const std::string &text, const std::string &indent)
{
    std::string out, line;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t begin = text.find_first_not_of(' ', pos);
        if (begin == std::string::npos)
            break;
        const size_t end = std::min(text.find(' ', begin), text.size());
        const std::string word = text.substr(begin, end - begin);
        if (!line.empty() && indent.size() + line.size() + 1 + word.size() > kWidth) {
            out += indent + line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        pos = end;
    }
    if (!line.empty())
        out += indent + line + "\n";
    return out;
}
} // namespace

std::string CommandList()
{
    std::string out;
    for (const CliEntry &e : CliCommands()) {
        const std::vector<std::string> forms = Lines(e.usage);
        std::string first = forms.front();
        first += first.size() + 2 <= kUsageColumn ? std::string(kUsageColumn - first.size(), ' ') : "   ";
        out += "  " + first + e.summary + "\n";
        for (size_t i = 1; i < forms.size(); ++i)
            out += "    " + forms[i] + "\n";
    }
    return out;
}

std::string CommandHelp(const CliEntry &e)
{
    std::string out;
    const std::vector<std::string> forms = Lines(e.usage);
    for (size_t i = 0; i < forms.size(); ++i)
        out += (i == 0 ? "usage: " : "       ") + std::string("beamport-cli [options] ") + forms[i] + "\n";
    out += "\n" + Wrap(e.description, "") + "\n";
    if (e.options.empty()) {
        out += "options: none of its own\n";
    } else {
        out += "options:\n";
        size_t width = 0;
        for (const CliOption &o : e.options)
            width = std::max(width, o.name.size());
        for (const CliOption &o : e.options) {
            const std::string head = "  " + o.name + std::string(width - o.name.size() + 2, ' ');
            const std::string body = Wrap(o.text, std::string(head.size(), ' '));
            out += head + body.substr(head.size());
        }
    }
    out += "\nGlobal options and exit statuses: beamport-cli --help\n";
    return out;
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
           "  1-255  (but 64-70) the status byte that ended the action, with the meaning of the status table:\n"
           "         device and link statuses, adapter discovery 253-255, firmware image checks 128-131\n"
           "         (upgrade of an unreadable image is 128) and download outcomes 132-135\n"
           "  64     usage error: the command line was wrong\n"
           "  65     a .cfg or CSV file could not be read or written, or was refused\n"
           "  66     nothing was done because a question was answered No (no --yes)\n"
           "  67     refused before anything was sent: the detector, the sensor or the settings do not\n"
           "         allow the job\n"
           "  68     the job ran but did not succeed in a way that has no status byte (calibration failed,\n"
           "         timed out or was stopped); the message says which\n"
           "  161    the port failed during the job (only then)\n"
           "commands without device work (records, due, certificate, settings, doctor, ...):\n"
           "  0      fine\n"
           "  1      something wrong was found (records verify, doctor, template diff)\n"
           "  64     usage error; 65 a file could not be read or written; 67 refused\n"
           "  69     the records store cannot be reached or opened\n"
           "  70     an internal error (an exception that is no port error), with its text\n";
}
