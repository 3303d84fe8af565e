#include "app/app_state.h"
#include "app/device_actions.h"
#include "cli/cli_commands.h"

namespace {
const CliCommand kVibrator("vibrator", "vibrator                       actuator test: vibrator", [](CliContext &c) {
    if (!c.args.empty())
        return kExitUsage;
    RMainState state;
    TDeviceActions actions(c.link, c.screen, state);
    return static_cast<int>(actions.ActuatorTest(4).mStatus);
});
} // namespace
