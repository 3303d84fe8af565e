#include "app/event_log_job.h"
#include "app/session.h"
#include "cli/cli_commands.h"
#include "cli/read_progress.h"
#include "model/config_form.h"

// Save Event Log into FILE: the download's status line, then the file. A log
// without events says so and writes nothing (exit 0); a file that cannot be
// written exits kExitFile.
CliEntry EventsCommand()
{
    return {"events", "events --out FILE.csv", "Save Event Log",
            "Save Event Log: reads the detector's configuration and identity, downloads its event log and saves it, "
            "oldest event first, as the window does. A log without events says so and writes no file (exit 0). On a "
            "terminal, stderr shows the packets downloaded.",
            {{"--out FILE.csv", "the file the events go to (required)"}},
            [](CliContext &c) {
                std::string out;
                if (!TakeOption(c.args, "--out", out) || out.empty() || !c.args.empty())
                    return kExitUsage;
                RTamselCFG cfg = DefaultCFG();
                c.screen.FFiles.push_back(out);
                REventLogResult result;
                {
                    const TReadProgress progress = TReadProgress::EventLog(c.session.Link(), c.screen);
                    result = SaveEventLogAction(c.session, c.screen, cfg);
                }
                c.screen.FFiles.clear();
                if (!result.mOp.Ok())
                    return static_cast<int>(result.mOp.mStatus);
                return result.mFile == EFileOutcome::Failed ? kExitFile : 0;
            }};
}
