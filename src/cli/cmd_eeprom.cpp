#include "app/eeprom_job.h"
#include "app/session.h"
#include "cli/cli_commands.h"
#include "cli/read_progress.h"

// EEPROM Read into a grid of the start-up layout, then Save File into FILE.
// Nothing is written when the read fails; a file that cannot be written
// exits kExitFile.
CliEntry EepromCommand()
{
    return {"eeprom", "eeprom --out FILE.csv", "EEPROM Read, then Save File",
            "EEPROM Read, then Save File: reads the detector's memory from the settings' start address up to their "
            "last address and saves it as the window's EEPROM grid does. Nothing is written when the read fails. On "
            "a terminal, stderr shows the packets read.",
            {{"--out FILE.csv", "the file the memory dump goes to (required)"}},
            [](CliContext &c) {
                std::string out;
                if (!TakeOption(c.args, "--out", out) || out.empty() || !c.args.empty())
                    return kExitUsage;
                const uint16_t maxAddress = c.session.DeviceCFG.mEEPROMMaxAddress;
                REEPROMGrid grid = MakeEEPROMGrid(maxAddress);
                ROpResult read;
                {
                    const TReadProgress progress = TReadProgress::EEPROM(c.session.Link(), c.screen, maxAddress);
                    read = EEPROMReadAction(c.session, c.screen, grid);
                }
                if (!read.Ok())
                    return static_cast<int>(read.mStatus);
                c.screen.FFiles.push_back(out);
                const EFileOutcome saved = EEPROMSaveAction(c.session, c.screen, grid);
                c.screen.FFiles.clear();
                return saved == EFileOutcome::Done ? 0 : kExitFile;
            }};
}
