#include "app/app_state.h"
#include "app/device_actions.h"
#include "cli/cli_commands.h"

namespace {
const CliCommand kIdentify("identify", "identify                       the six identity lines", [](CliContext &c) {
    if (!c.args.empty())
        return kExitUsage;
    RMainState state;
    TDeviceActions actions(c.link, c.screen, state);
    return static_cast<int>(actions.Identify().mStatus);
});
} // namespace
