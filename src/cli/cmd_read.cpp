#include <iostream>

#include "app/app_state.h"
#include "app/config_json.h"
#include "app/device_actions.h"
#include "cli/cli_commands.h"

namespace {
// Read Device: the status line, then the record read as JSON.
const CliCommand kRead("read", "read                           Read Device; prints the record as JSON", [](CliContext &c) {
    if (!c.args.empty())
        return kExitUsage;
    RMainState state;
    TDeviceActions actions(c.link, c.screen, state);
    const RActionResult result = actions.ReadDevice();
    if (result.Ok())
        std::cout << ConfigToJson(state.FTamselCFG) << std::flush;
    return static_cast<int>(result.mStatus);
});
} // namespace
