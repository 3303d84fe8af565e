// The main window's device actions end to end on arbitrary detector bytes:
// each one opens the link (handshake), runs its commands and checks, shows
// its result and closes the link again, whatever the detector answers.
//
// Input: a flags byte (the layout; the line's piece size), a count of
// actions (1..6), one byte per action (which action; its top bit answers the
// action's question), and the rest is the reply script of the fake line (see
// fake_line.h). The session's link runs over that line; questions
// and file dialogs are answered by a scripted screen (file dialogs are
// cancelled, so nothing is written but the scratch store).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/device_actions.h"
#include "app/profile.h"
#include "app/settings.h"
#include "app/session.h"
#include "app/eeprom_job.h"
#include "app/event_log_job.h"
#include "app/firmware_job.h"
#include "fuzz_util.h"
#include "model/crc16.h"
#include "support/fake_screen.h"

namespace {

// A valid image of 2 packets of 16 bytes for the firmware upgrade.
std::vector<uint8_t> SmallImage()
{
    std::vector<uint8_t> image(32);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 5);
    const uint8_t header[5] = {2, 14, 5, 10, 1}; // product, version, hardware, lowest version, lowest hardware
    std::copy(header, header + 5, image.begin() + 2);
    const uint16_t crc = CRC16(image.data() + 2, static_cast<int>(image.size() - 2));
    image[0] = static_cast<uint8_t>(crc & 0xFF);
    image[1] = static_cast<uint8_t>(crc >> 8);
    return image;
}

struct RSetup {
    TScratchFile storeFile{"actions-store"};
    TScratchFile imageFile{"actions-img"};
    RSetup()
    {
        const std::vector<uint8_t> image = SmallImage();
        WriteScratch(imageFile.Path(), image.data(), image.size());
    }
};

bool Known(uint8_t s)
{
    // Link statuses, the product check, the actions' own and the firmware's.
    return s == 0 || (s >= 128 && s <= 135) || s == 146 || s == 148 || (s >= 160 && s <= 162) ||
           (s >= 176 && s <= 178) || (s >= 192 && s <= 195);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzHeapTick();
    static RSetup setup;
    TFuzzInput in(data, size);
    const uint8_t flags = in.Byte();
    const int count = in.Byte() % 6 + 1;
    const std::vector<uint8_t> actions = in.Bytes(static_cast<size_t>(count));

    // A session over the fake line, as the program makes one; every action opens the link itself.
    TSession session(setup.storeFile.Path(), std::make_unique<TFakeLine>(in.Rest(), in.Left(), flags & 0x0F));
    LoadSettings(session, TProfile(""));
    session.UserMode = (flags & 0x40) == 0;
    session.DeviceCFG.mFLASHMaxAddress = 2;
    session.DeviceCFG.mFALSHPacketSize = 16;
    session.DeviceCFG.mFLASHRetry = 1;
    session.DeviceCFG.mFLASHDownloadRetry = 2;
    TComTamsel &link = session.Link();
    link.SetPauseScale(0);
    link.SetPortChoice("/fuzz/line");
    TFakeScreen screen;
    RMainState state;
    TDeviceActions device(session, screen, state);
    TFirmwareUpgrade firmware(session, screen, state);
    FUZZ_CHECK(firmware.LoadUpgradeFile(setup.imageFile.Path(), true) == 0);
    REEPROMGrid grid = MakeEEPROMGrid(session.DeviceCFG.mEEPROMMaxAddress);

    for (uint8_t a : actions) {
        screen.defaultAnswer = (a & 0x80) != 0;
        ROpResult r;
        switch (a % 12) {
        case 0: r = device.ReadDevice(); break;
        case 1: r = device.WriteDevice(); break;
        case 2: r = device.Identify(); break;
        case 3: r = SaveEventLogAction(session, screen, state).mOp; break;
        case 4: r = EEPROMReadAction(session, screen, grid); break;
        case 5: r = device.Hibernate(); break;
        case 6: r = device.LogReset(); break;
        case 7: r = device.FactoryReset(); break;
        case 8: r = device.PeakBumpReport(a / 12 % 3 + 1); break;
        case 9: r = device.Calibration(); break;
        case 10: r = device.TurnOff(); break;
        default:
            r = firmware.Upgrade();
            FUZZ_CHECK(!firmware.Running() && !state.FUpgrade);
            break;
        }
        const uint8_t status = r.mStatus;
        FUZZ_SAY("action %d: %u\n", a % 12, status);
        FUZZ_CHECK(Known(status));
        // The line raises no error that could end an action from outside.
        FUZZ_CHECK(!r.mAborted);
        // Whatever happened, the action leaves the link closed.
        FUZZ_CHECK(!link.Port().Enabled());
        FUZZ_CHECK(grid.RowCount() == session.DeviceCFG.mEEPROMMaxAddress / 16);
    }
    return 0;
}
