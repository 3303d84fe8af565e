#include <iostream>

#include "app/app_state.h"
#include "app/config_json.h"
#include "app/device_actions.h"
#include "cli/cli_commands.h"
#include "files/cfg_file.h"

namespace {
// Read Device: the status line, then the record read as JSON; --out also
// saves it as Write File does.
const CliCommand kRead("read", "read [--out FILE.cfg]          Read Device; prints the record as JSON", [](CliContext &c) {
    std::string out;
    const bool save = TakeOption(c.args, "--out", out);
    if (!c.args.empty())
        return kExitUsage;
    RMainState state;
    TDeviceActions actions(c.link, c.screen, state);
    const RActionResult result = actions.ReadDevice();
    if (!result.Ok())
        return static_cast<int>(result.mStatus);
    std::cout << ConfigToJson(state.FTamselCFG) << std::flush;
    if (save && !SaveConfigFile(c.screen, out, state.FTamselCFG))
        return kExitFile;
    return 0;
});
} // namespace
