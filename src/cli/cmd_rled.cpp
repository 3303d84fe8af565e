#include "app/app_state.h"
#include "app/device_actions.h"
#include "cli/cli_commands.h"

namespace {
const CliCommand kRled("rled", "rled                           actuator test: right LED", [](CliContext &c) {
    if (!c.args.empty())
        return kExitUsage;
    RMainState state;
    TDeviceActions actions(c.link, c.screen, state);
    return static_cast<int>(actions.ActuatorTest(2).mStatus);
});
} // namespace
