// The one-shot device actions: no arguments, one button of the window each.
// Each row names the command and the action it runs; running it, checking
// its arguments and turning the result into the exit status is the same for
// all of them.
#include <iostream>

#include "app/detector_jobs.h"
#include "cli/cli_commands.h"
#include "model/convert.h"

namespace {

struct RActionRow {
    const char *name;
    const char *summary;
    const char *description;
    RActionResult (*run)(TDetectorJobs &actions);
    // What the action would do, for the commands that destroy data or switch
    // the detector off: on the command line they need --yes, and without it
    // nothing is sent. Null for the others.
    const char *withoutYes = nullptr;
};

const RActionRow kActions[] = {
    {"beep", "actuator test: beeper",
     "Wakes the detector and sounds its beeper for the actuator time of the settings, holding the connection "
     "meanwhile. As in the window, a test that works prints nothing; a failure prints its status text on stderr.",
     [](TDetectorJobs &a) { return a.ActuatorTest(1); }},
    {"rled", "actuator test: right LED",
     "Wakes the detector and lights its right LED for the actuator time of the settings, holding the connection "
     "meanwhile. A test that works prints nothing; a failure prints its status text on stderr.",
     [](TDetectorJobs &a) { return a.ActuatorTest(2); }},
    {"lled", "actuator test: left LED",
     "Wakes the detector and lights its left LED for the actuator time of the settings, holding the connection "
     "meanwhile. A test that works prints nothing; a failure prints its status text on stderr.",
     [](TDetectorJobs &a) { return a.ActuatorTest(3); }},
    {"vibrator", "actuator test: vibrator",
     "Wakes the detector and runs its vibrator for the actuator time of the settings, holding the connection "
     "meanwhile. A test that works prints nothing; a failure prints its status text on stderr.",
     [](TDetectorJobs &a) { return a.ActuatorTest(4); }},
    {"clear-peak", "Clear Peak",
     "Clear Peak: the detector forgets the highest reading it kept. Prints \"Clear Peak... OK\" or the failure.",
     [](TDetectorJobs &a) { return a.PeakBumpReport(1); }},
    {"bump-fail", "Send Bump Fail",
     "Send Bump Fail: tells the detector that its bump test failed. Prints \"Send Bump Fail... OK\" or the "
     "failure.",
     [](TDetectorJobs &a) { return a.PeakBumpReport(2); }},
    {"bump-pass", "Send Bump Pass",
     "Send Bump Pass: tells the detector that it passed its bump test. "
     "Prints \"Send Bump Pass... OK\" or the failure. With --serial S the detector's identity is read first and "
     "only the unit S gets the report (another unit: exit 67, nothing reported); its record names S and counts "
     "as the unit's bump test in `due`. Without --serial the record names no detector and counts for none.",
     [](TDetectorJobs &a) { return a.PeakBumpReport(3); }},
    {"log-reset", "Event Log Reset (needs --yes)",
     "Event Log Reset: checks the detector's identity, then clears its event log. Save the log first with "
     "`events --out FILE.csv`: the events cannot be read back afterwards. Without --yes nothing is sent "
     "(exit 66).",
     [](TDetectorJobs &a) { return a.LogReset(); },
     "log-reset would clear the detector's event log for good; give --yes to do it"},
    {"power-down", "Power Down (Turn Off) (needs --yes)",
     "Power Down: checks the detector's identity, then turns it off. A detector that must be calibrated before "
     "it is turned off refuses, and the exit status is 193. Without --yes nothing is sent (exit 66).",
     [](TDetectorJobs &a) { return a.TurnOff(); },
     "power-down would turn the detector off; give --yes to do it"},
    {"calibration", "the factory zero and span calibration",
     "Calibration: checks the detector's identity, then starts its factory zero and span calibration. A "
     "detector that refuses ends with 194 (zero calibration failed). For a calibration with span gas, "
     "step by step, use sensor-cal.",
     [](TDetectorJobs &a) { return a.Calibration(); }},
    {"factory-reset", "Factory Reset (needs --yes)",
     "Factory Reset: the detector returns to its factory settings. Prints \"Fatory Reset... OK\" (the window's "
     "text) or the failure. Without --yes nothing is sent (exit 66).",
     [](TDetectorJobs &a) { return a.FactoryReset(); },
     "factory-reset would return the detector to its factory settings; give --yes to do it"},
    {"hibernate", "Hibernate (needs --yes)",
     "Hibernate: reads the detector's configuration, refuses a unit that does not allow suspend before "
     "anything else is sent (exit 67), asks before it goes on (without --yes the answer is No and nothing is "
     "done: exit 66), then sends the detector to sleep. A detector that refuses ends with 195.",
     [](TDetectorJobs &a) {
         bool confirmed = false; // each command asks (or takes --yes) afresh
         return a.Hibernate(confirmed);
     }},
};

int RunAction(const RActionRow &row, CliContext &c)
{
    // A declared Bump Pass names the detector it is for.
    std::string serial;
    const bool named = std::string(row.name) == "bump-pass" && TakeOption(c.args, "--serial", serial);
    if (named && TrimText(serial).empty())
        return UsageError(c, "--serial needs the detector's serial number");
    if (!c.args.empty())
        return kExitUsage;
    if (row.withoutYes && !c.yes) {
        std::cerr << "beamport-cli: " << row.withoutYes << std::endl;
        return kExitDeclined;
    }
    TDetectorJobs actions(c.session, c.screen);
    const RActionResult result = named ? actions.PeakBumpReport(3, serial) : row.run(actions);
    if (result.mRefused)
        return kExitRefused; // the action's own box said why
    if (result.mDeclined) {
        std::cerr << "beamport-cli: " << row.name << " was not confirmed; give --yes to " << row.name << std::endl;
        return kExitDeclined;
    }
    return static_cast<int>(result.mStatus);
}

} // namespace

std::vector<CliEntry> ActionCommands()
{
    std::vector<CliEntry> entries;
    for (const RActionRow &row : kActions)
        entries.push_back({row.name, std::string(row.name) == "bump-pass" ? "bump-pass [--serial S]" : row.name,
                           row.summary, row.description,
                           std::string(row.name) == "bump-pass"
                               ? std::vector<CliOption>{{"--serial S", "the detector the report is for"}}
                               : std::vector<CliOption>{},
                           [&row](CliContext &c) { return RunAction(row, c); }});
    return entries;
}
