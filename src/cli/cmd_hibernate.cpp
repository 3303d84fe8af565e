#include <iostream>

#include "app/app_state.h"
#include "app/device_actions.h"
#include "cli/cli_commands.h"

namespace {
// Hibernate asks first; only --yes lets it go on. A detector that does not
// allow suspend ends with 195 (its box says why); an unconfirmed hibernate
// ends as a usage error, since nothing was done.
const CliCommand kHibernate("hibernate", "hibernate                      Hibernate (needs --yes)", [](CliContext &c) {
    if (!c.args.empty())
        return kExitUsage;
    RMainState state;
    TDeviceActions actions(c.link, c.screen, state);
    const RActionResult result = actions.Hibernate();
    if (result.mRefused)
        return static_cast<int>(kStatusNoHibernation);
    if (result.mDeclined) {
        std::cerr << "beamport-cli: hibernate was not confirmed; give --yes to hibernate" << std::endl;
        return kExitUsage;
    }
    return static_cast<int>(result.mStatus);
});
} // namespace
