// program NAME [--count N] [--gone-seconds S]: one template pushed to unit
// after unit presented at the adapter, each read back and on the record.
// restore RECORD_ID: a configuration a record keeps written back.
#include <iostream>
#include <memory>

#include "app/config_jobs.h"
#include "app/session.h"
#include "cli/cli_commands.h"
#include "records/kept_config.h"
#include "records/store.h"
#include "records/templates.h"
#include "tools/program_units.h"

namespace {

int Fail(int code, const std::string &text)
{
    std::cerr << "beamport-cli: " << text << "\n";
    return code;
}

// The run's lines: one per unit on stdout, its changes and the waiting on stderr.
class TCliProgramView final : public IProgramView {
public:
    TCliProgramView(TCliScreen &screen, int count) : FScreen(screen), FCount(count) {}
    void WaitingForUnit(int number) override
    {
        FScreen.EndProgress();
        std::cerr << "Waiting for unit " << number << (FCount > 0 ? "/" + std::to_string(FCount) : std::string())
                  << ": present a detector to the adapter" << std::endl;
    }
    void UnitDone(const RUnitReport &report) override
    {
        for (const std::string &line : report.mDiff)
            std::cerr << "  " << line << "\n";
        std::cout << UnitLine(report, FCount) << std::endl;
    }
    void Finished(const RProgramSummary &summary) override { std::cout << SummaryLine(summary) << std::endl; }

private:
    TCliScreen &FScreen;
    int FCount;
};

bool ParseNumber(const std::string &text, double &value)
{
    bool ok = false;
    value = QString::fromStdString(text).toDouble(&ok);
    return ok && value >= 0 && value <= 3600;
}

} // namespace

CliEntry ProgramCommand()
{
    return {"program", "program NAME [--count N] [--gone-seconds S]",
            "program unit after unit with a template",
            "Pushes the newest version of template NAME to one detector after another: it waits until a detector "
            "answers at the adapter (one short wake-up try a second), reads it, writes only the template's fields "
            "through the settings' write ranges, reads the configuration back and compares every written byte; "
            "on success the detector beeps and the line says \"SERIAL programmed (K fields changed) [n/N]\". A "
            "unit that holds the template already is recorded unchanged and not written. Then it waits until the "
            "detector is taken away (no answer for 3 s) before the next. Each unit is one `program` record with "
            "the template's name, version and hash, the configuration read before the write, the fields changed "
            "and the read-back. The question before the first unit is answered with --yes. A field of the "
            "template outside every write range, or alarm set points `write` would refuse (in the wrong order, outside "
            "the sensor's range), is refused before the first unit (67); a unit whose own alarm would contradict the "
            "template's is not written (failed, 67); a unit whose read-back "
            "differs is reported failed with the field, and the run goes on (exit 68 at the end). Ctrl-C ends the "
            "run after the unit under way. A summary ends the output.",
            {{"--count N", "stop after N units (default: until Ctrl-C)"},
             {"--gone-seconds S", "a unit counts as taken away after S s without an answer (default 3)"}},
            [](CliContext &c) {
                std::string countText, goneText;
                RProgramKnobs knobs;
                if (TakeOption(c.args, "--count", countText)) {
                    bool ok = false;
                    knobs.mCount = QString::fromStdString(countText).toInt(&ok);
                    if (!ok || knobs.mCount < 1)
                        return UsageError(c, "--count \"" + countText + "\" is not a number of units (1, 2, ...)");
                }
                if (TakeOption(c.args, "--gone-seconds", goneText) && !ParseNumber(goneText, knobs.mGoneSeconds))
                    return UsageError(c, "--gone-seconds \"" + goneText + "\" is not a number of seconds (0 to 3600)");
                if (TakeFlag(c.args, "--yes"))
                    c.screen.FYes = true;
                if (c.args.size() != 1 || c.args[0].empty())
                    return kExitUsage;
                QString error;
                const std::unique_ptr<TRecordStore> store = OpenStoreInForce(c.session, error);
                if (!store)
                    return Fail(kExitUnavailable, error.toStdString());
                bool refused = false;
                const std::optional<RStoredTemplate> stored = LoadTemplate(*store, c.args[0], 0, error, &refused);
                if (!stored)
                    return error.isEmpty() ? Fail(kExitFile, "there is no template " + c.args[0])
                           : refused       ? Fail(kExitFile, "refused: " + error.toStdString())
                                           : Fail(kExitUnavailable, error.toStdString());
                const RConfigTemplate &tpl = stored->mTemplate;
                TCliProgramView view(c.screen, knobs.mCount);
                TProgramRun run(c.session, c.screen, view, tpl, knobs);
                if (const std::string why = run.Refusal(); !why.empty())
                    return Fail(kExitRefused, "refused: " + why);
                const std::string question = "Program " +
                                             (knobs.mCount > 0 ? std::to_string(knobs.mCount) + " unit(s)"
                                                               : std::string("units until stopped")) +
                                             " with template " + tpl.mName + " version " +
                                             std::to_string(tpl.mVersion) + " (" + std::to_string(tpl.mFields.size()) +
                                             " fields)?";
                if (!c.screen.AskYesNo("Program Units", question))
                    return kExitDeclined;
                // Ctrl-C ends the run after the unit under way.
                c.screen.CatchStopSignals();
                const RProgramSummary summary = run.Run([&c] { return c.screen.StopRequested(); });
                return summary.mFailed > 0 ? kExitNotDone : 0;
            }};
}

CliEntry RestoreCommand()
{
    return {"restore", "restore RECORD_ID",
            "write the configuration a record keeps back",
            "Writes back the configuration record RECORD_ID keeps: the one read before its write (program, "
            "restore, template writes), the one it read (read and the other jobs that read the configuration), "
            "or for a `write` the configuration before it (the newest earlier record that read that detector's "
            "configuration). Only to the detector it came from, and only the fields the settings' write ranges "
            "allow in the current layout. The detector is read first (its configuration kept on the new `restore` "
            "record), the fields that change are listed as \"field: detector -> kept\" and the question is "
            "answered with --yes; after the write the configuration is read back and compared. Exit 0 when "
            "restored or already equal, 65 for a record that keeps no configuration, 66 when answered No, 67 for "
            "another detector or a kept configuration `write` would refuse (before the detector is woken), 68 when the read-back differs, 69 when the store cannot be opened.",
            {},
            [](CliContext &c) {
                if (TakeFlag(c.args, "--yes"))
                    c.screen.FYes = true;
                bool ok = false;
                const qint64 id = c.args.size() == 1 ? QString::fromStdString(c.args[0]).toLongLong(&ok) : 0;
                if (!ok || id < 1)
                    return kExitUsage;
                QString error;
                const std::unique_ptr<TRecordStore> store = OpenStoreInForce(c.session, error);
                if (!store)
                    return Fail(kExitUnavailable, error.toStdString());
                const std::optional<RKeptConfig> kept = KeptConfigOf(*store, id, error);
                if (!kept)
                    return Fail(kExitFile, error.toStdString());
                const RRestoreResult r =
                    RestoreConfiguration(c.session, c.screen, *kept, [&c](const std::vector<std::string> &lines) {
                        for (const std::string &line : lines)
                            std::cout << line << "\n";
                        std::cout << std::flush;
                        return c.screen.AskYesNo(kRestoreCaption, "Write these " + std::to_string(lines.size()) +
                                                                      " field(s) back to the detector?");
                    });
                switch (r.mOutcome) {
                case ERestore::kRestored:
                case ERestore::kUnchanged: return 0;
                case ERestore::kRefused: return kExitRefused;
                case ERestore::kDeclined: return kExitDeclined;
                case ERestore::kDiffers: return kExitNotDone;
                case ERestore::kFailed: break;
                }
                return static_cast<int>(r.mStatus);
            }};
}
