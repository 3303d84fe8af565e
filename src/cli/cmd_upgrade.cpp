#include "app/app_state.h"
#include "cli/cli_commands.h"
#include "files/firmware.h"

namespace {
// Loading Upgrade File, then the upgrade: Check Program (--yes answers the
// older-image question) and Download Image, "packet i/N" on stderr.
const CliCommand kUpgrade("upgrade", "upgrade FILE.img               Loading Upgrade File, then Upgrade Firmware",
                          [](CliContext &c) {
                              if (c.args.size() != 1 || c.args[0].empty())
                                  return kExitUsage;
                              RMainState state;
                              TFirmwareUpgrade firmware(c.link, c.screen, state);
                              c.screen.FFiles.push_back(c.args[0]);
                              const std::optional<uint8_t> loaded = firmware.OpenUpgradeFile();
                              if (!loaded || *loaded != 0)
                                  return kExitFile;
                              return static_cast<int>(firmware.Upgrade().mStatus);
                          });
} // namespace
