#include <iostream>

#include "app/cfg_actions.h"
#include "app/config_json.h"
#include "app/detector_jobs.h"
#include "app/session.h"
#include "cli/cli_commands.h"
#include "model/config_form.h"

// Read Device: the status line, then the record read as JSON. --out then
// runs the window's Write File on what Read Device showed: the record is
// rebuilt from the configuration view (in the user layout the default record
// with the user's fields, in the developer layout the developer rebuild; the
// firmware version just read either way), so the file is the one the window
// would save, not the detector's raw memory.
CliEntry ReadCommand()
{
    return {"read", "read [--out FILE.cfg] [--json]", "Read Device; prints the record as JSON",
            "Read Device: wakes the detector, reads its configuration record and checks it as the window does. "
            "Prints \"Read Norvik Information... OK\", then the record as JSON with the record's field names "
            "(character fields as text, one character a byte; numbers as numbers).",
            {{"--out FILE.cfg", "then saves the record as the window's Write File does after that read (in the user "
                                "layout the default record with the user's fields)"},
             {"--json", "the JSON output, which read always prints (accepted for scripts that give it to every "
                        "command)"}},
            [](CliContext &c) {
                std::string out;
                const bool save = TakeOption(c.args, "--out", out);
                TakeFlag(c.args, "--json");
                if (!c.args.empty() || (save && out.empty()))
                    return kExitUsage;
                RTamselCFG cfg = DefaultCFG();
                const RActionResult result = TDetectorJobs(c.session, c.screen).ReadDevice(cfg);
                if (!result.Ok())
                    return static_cast<int>(result.mStatus);
                std::cout << ConfigToJson(cfg) << std::flush;
                if (!save)
                    return 0;
                c.screen.FFiles.push_back(out);
                const EFileOutcome saved = WriteRecordFile(c.session, c.screen, cfg, cfg.mUnit.mFWVersion);
                c.screen.FFiles.clear();
                return saved == EFileOutcome::Done ? 0 : kExitFile;
            }};
}
