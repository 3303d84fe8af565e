#include <iostream>

#include "app/config_json.h"
#include "cli/cli_commands.h"

// The settings as loaded at start-up (settings file and per-user store).
CliEntry SettingsCommand()
{
    return {"settings", "settings [--json]", "DeviceCFG, SensorTypes and UserMode as JSON",
            "The settings as loaded at start-up from the settings file (OPTAVO.INI or --ini FILE) and the per-user "
            "store: DeviceCFG, SensorTypes and UserMode, as JSON. Nothing is sent to a detector.",
            {{"--json", "the JSON output, which settings always prints"}},
            [](CliContext &c) {
                TakeFlag(c.args, "--json");
                if (!c.args.empty())
                    return kExitUsage;
                std::cout << SettingsToJson(c.session) << std::flush;
                return 0;
            },
            ECliKind::kLocal};
}
