#include "app/app_state.h"
#include "app/device_actions.h"
#include "cli/cli_commands.h"

namespace {
const CliCommand kClearPeak("clear-peak", "clear-peak                     Clear Peak", [](CliContext &c) {
    if (!c.args.empty())
        return kExitUsage;
    RMainState state;
    TDeviceActions actions(c.link, c.screen, state);
    return static_cast<int>(actions.PeakBumpReport(1).mStatus);
});
} // namespace
