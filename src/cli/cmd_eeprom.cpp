#include "cli/cli_commands.h"
#include "app/eeprom_job.h"
#include "cli/read_progress.h"
#include "model/settings_types.h"

namespace {
// EEPROM Read into a grid of the start-up layout, then Save File into FILE.
// Nothing is written when the read fails; a file that cannot be written
// exits 65.
const CliCommand kEeprom({
    "eeprom", "eeprom --out FILE.csv", "EEPROM Read, then Save File",
    "EEPROM Read, then Save File: reads the detector's memory from the settings' start address up to their "
    "last address and saves it as the window's EEPROM grid does. Nothing is written when the read fails. On a "
    "terminal, stderr shows the packets read.",
    {{"--out FILE.csv", "the file the memory dump goes to (required)"}},
    [](CliContext &c) {
    std::string out;
    if (!TakeOption(c.args, "--out", out) || out.empty() || !c.args.empty())
        return kExitUsage;
    REEPROMGrid grid = MakeEEPROMGrid(DeviceCFG.mEEPROMMaxAddress);
    ROpResult read;
    {
        const TReadProgress progress = TReadProgress::EEPROM(c.link, c.screen, DeviceCFG.mEEPROMMaxAddress);
        read = EEPROMReadAction(c.screen, c.link, grid);
    }
    if (!read.Ok())
        return static_cast<int>(read.mStatus);
    c.screen.FFiles.push_back(out);
    const EFileOutcome saved = EEPROMSaveAction(c.screen, grid);
    c.screen.FFiles.clear();
    return saved == EFileOutcome::Done ? 0 : kExitFile;
}});
} // namespace
