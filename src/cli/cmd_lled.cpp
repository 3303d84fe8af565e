#include "app/app_state.h"
#include "app/device_actions.h"
#include "cli/cli_commands.h"

namespace {
const CliCommand kLled("lled", "lled                           actuator test: left LED", [](CliContext &c) {
    if (!c.args.empty())
        return kExitUsage;
    RMainState state;
    TDeviceActions actions(c.link, c.screen, state);
    return static_cast<int>(actions.ActuatorTest(3).mStatus);
});
} // namespace
