#include "app/cfg_actions.h"
#include "app/detector_jobs.h"
#include "app/session.h"
#include "cli/cli_commands.h"
#include "model/config_form.h"

// Read File into the editor, then Write Device from it: the same round trip
// through the configuration view as the window (ConfigToView after the
// read, ViewToConfig for the detector before the write). A file that cannot
// be read or is refused exits kExitFile before any connection; so does a record
// that Write Device refuses to send (no sensor information). Settings whose
// write ranges leave the record, and alarm set points that contradict each
// other (a low alarm above the high alarm), exit kExitRefused before the
// detector is woken.
CliEntry WriteCommand()
{
    return {"write", "write FILE.cfg", "Read File, then Write Device",
            "Read File, then Write Device: loads FILE.cfg into the editor as the window does, then writes the parts "
            "of the record the layout allows to the detector and reads it back. A file that cannot be read or is "
            "refused exits 65 before the detector is woken; settings whose write ranges leave the record, a low "
            "alarm above the high alarm (for oxygen: not below it) and an alarm outside the sensor's range exit 67 "
            "(the checks program, restore and template save make too).",
            {},
            [](CliContext &c) {
                if (c.args.size() != 1 || c.args[0].empty())
                    return kExitUsage;
                RTamselCFG cfg = DefaultCFG();
                c.screen.FFiles.push_back(c.args[0]);
                const EFileOutcome read = ReadConfigFile(c.session, c.screen, cfg);
                c.screen.FFiles.clear();
                if (read != EFileOutcome::Done)
                    return kExitFile;
                // The record as Write Device builds it from the editors Read File filled.
                const RActionResult result = TDetectorJobs(c.session, c.screen).WriteDevice([&] {
                    RecordThroughView(c.session, cfg, 0, true, &c.screen);
                    return cfg;
                });
                if (result.mRefused)
                    return result.mBadSettings || result.mBadAlarms ? kExitRefused : kExitFile;
                return static_cast<int>(result.mStatus);
            }};
}
