#include "app/firmware_job.h"
#include "cli/cli_commands.h"

// Loading Upgrade File, then the upgrade: Check Program (--yes answers the
// older-image question) and Download Image ("packet i/N" on a terminal). An image
// that does not load ends with its check's status (128 to 131). A stop
// signal during the download acts as the window's Cancel (134).
CliEntry UpgradeCommand()
{
    return {"upgrade", "upgrade FILE.img", "Loading Upgrade File, then Upgrade Firmware",
            "Loading Upgrade File, then Upgrade Firmware: checks the image (an image that cannot be read ends with "
            "128, a wrong size, CRC or product with 129 to 131), checks it against the detector (an image older than "
            "the firmware asks first: --yes answers Yes), then downloads it and has the detector run it. On a "
            "terminal, stderr shows the packets sent. Ctrl-C or SIGTERM during the download stops it after the "
            "packet under way, as the window's Cancel does (134).",
            {},
            [](CliContext &c) {
                if (c.args.size() != 1 || c.args[0].empty())
                    return kExitUsage;
                TFirmwareUpgrade firmware(c.session, c.screen);
                c.screen.FFiles.push_back(c.args[0]);
                const std::optional<uint8_t> loaded = firmware.OpenUpgradeFile();
                c.screen.FFiles.clear();
                if (!loaded)
                    return static_cast<int>(kStatusImageOpen);
                if (*loaded != 0)
                    return static_cast<int>(*loaded);
                c.screen.CatchStopSignals();
                c.screen.FOnStop = [&firmware] { firmware.Cancel(); };
                const int status = firmware.Upgrade().mStatus;
                c.screen.FOnStop = nullptr;
                return status;
            }};
}
