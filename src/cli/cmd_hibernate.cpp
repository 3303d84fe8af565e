#include <iostream>

#include "app/app_state.h"
#include "app/device_actions.h"
#include "cli/cli_commands.h"

namespace {
// Hibernate asks first; only --yes lets it go on. A unit that does not allow
// suspend is refused with the "Check Unit" box before anything is sent (67);
// an unconfirmed hibernate did nothing (66).
const CliCommand kHibernate("hibernate", "hibernate                      Hibernate (needs --yes)", [](CliContext &c) {
    if (!c.args.empty())
        return kExitUsage;
    RMainState state;
    TDeviceActions actions(c.link, c.screen, state);
    const RActionResult result = actions.Hibernate();
    if (result.mRefused)
        return kExitRefused;
    if (result.mDeclined) {
        std::cerr << "beamport-cli: hibernate was not confirmed; give --yes to hibernate" << std::endl;
        return kExitDeclined;
    }
    return static_cast<int>(result.mStatus);
});
} // namespace
