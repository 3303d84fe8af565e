#include <iostream>

#include "app/config_json.h"
#include "cli/cli_commands.h"

namespace {
// The settings as loaded at start-up (settings file and per-user store).
const CliCommand kSettings("settings", "settings                       DeviceCFG, SensorTypes and UserMode as JSON",
                           [](CliContext &c) {
                               if (!c.args.empty())
                                   return kExitUsage;
                               std::cout << SettingsToJson() << std::flush;
                               return 0;
                           });
} // namespace
