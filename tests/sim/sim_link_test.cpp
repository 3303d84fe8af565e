// The real link against the simulator's line knobs: an adapter that echoes
// what the program sends, a detector that acknowledges the wake-up more than
// once, and firmware blocks whose repeats follow a refused or lost reply.
#include <gtest/gtest.h>

#include <cstring>

#include "app/app_state.h"
#include "files/firmware.h"
#include "link/discovery.h"
#include "link/tamsel_comms.h"
#include "model/settings_types.h"
#include "sim/sim_detector.h"
#include "support/fake_screen.h"

namespace {

struct Linked {
    explicit Linked(const SimOptions &options) : det(options)
    {
        det.Start();
        link.SetPortDevice(1, det.DevicePath());
        link.OnTamselEvent = [this](TComTamsel *, TDateTime, const std::string &s) { lines.push_back(s); };
    }
    bool HasLineStarting(const std::string &start) const
    {
        for (const auto &l : lines)
            if (l.rfind(start, 0) == 0)
                return true;
        return false;
    }
    SimDetector det;
    TComTamsel link;
    std::vector<std::string> lines;
};

// One connection as a read job makes it: wake, identity, both blocks, the
// event log, end. Returns the first status that is not 0.
uint8_t ReadJob(Linked &s, RTamselIdenty &id, RTamselCFG &cfg, RComTamselReadBuf &log)
{
    s.link.ComOpen(1);
    uint8_t status = s.link.ConnectTamsel(1.5f);
    if (status == 0)
        status = s.link.RequireIdenty(id);
    if (status == 0)
        status = s.link.ReadUnitCFGData(cfg.mUnit, 32, 64);
    if (status == 0)
        status = s.link.ReadSensorCFGData(cfg.mSensor, 32, 64);
    if (status == 0)
        status = s.link.LoadLog(log, 32);
    s.link.CloseUSB(status);
    return status;
}

} // namespace

TEST(SimLink, WakeUpEchoesAndRepeatedAcknowledgesAreLeftBehind)
{
    struct Case {
        const char *name;
        bool echo;
        int acks;
        int gapUs;
        bool paced;
    } cases[] = {
        {"echoed wake-up frames", true, 1, 0, false},
        {"three acknowledges, close together", false, 3, 100, false},
        {"a second acknowledge after the handshake has read", false, 2, 600, false},
        {"echo and repeats at line speed", true, 2, 400, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SimOptions o;
        o.echo = c.echo;
        o.echo_opcode = 0xB2;
        o.wake_acks = c.acks;
        o.wake_ack_gap_us = c.gapUs;
        o.paced = c.paced;
        Linked s(o);
        for (int job = 0; job < 2; ++job) { // the leftovers of one job never reach the next
            RTamselIdenty id{};
            RTamselCFG cfg{};
            RComTamselReadBuf log{};
            ASSERT_EQ(ReadJob(s, id, cfg, log), 0) << "job " << job;
            const SimIdentity want = s.det.Identity();
            EXPECT_EQ(std::memcmp(&id, &want, sizeof want), 0);
            const auto config = s.det.Config();
            EXPECT_EQ(std::memcmp(&cfg, config.data(), sizeof cfg), 0);
            EXPECT_EQ(log.mData, static_cast<int>(s.det.EventLog().size()));
        }
        // The handshake reported the echoed frame it skipped.
        EXPECT_EQ(s.HasLineStarting("B2 75 80 "), c.echo);
        EXPECT_EQ(s.det.CommandCount(0xB3), 2); // every job ended with one kill
    }
}

TEST(SimLink, EchoOfEveryRequestIsTakenForTheReply)
{
    // The link purges the input before it sends, not after: an adapter that
    // echoes every request lets the handshake through, and the first data
    // exchange judges the echo as the start of its reply.
    SimOptions o;
    o.echo = true;
    Linked s(o);
    s.link.ComOpen(1);
    ASSERT_EQ(s.link.ConnectTamsel(1.5f), 0);
    RTamselIdenty id{};
    EXPECT_EQ(s.link.RequireIdenty(id), 178);
    EXPECT_EQ(s.link.ConnectTamselCheck(), 162); // the echoed wake-up frame reads as "no response"
    s.link.CloseUSB(162);
}

TEST(SimLink, RepeatedFirmwareBlocksLandInTheirPlace)
{
    const RDeviceCFG saved = DeviceCFG;
    DeviceCFG.mConnectTime = 1500;
    DeviceCFG.mFLASHRetry = 3;
    constexpr int kPackets = 6;
    constexpr int kSize = 32;
    const std::vector<uint8_t> image = SimMakeFirmwareImage(kPackets, kSize, 2, 15, 5, 10, 5);
    TImagePackets packets;
    for (int i = 0; i < kPackets; ++i)
        packets.emplace_back(image.begin() + i * kSize, image.begin() + (i + 1) * kSize);

    struct Case {
        const char *name;
        uint8_t opcode;
        SimFault fault;
        int times;
    } cases[] = {
        {"first send refused", 0x91, SimFault::kNak, 1},
        {"first send answered with an error", 0x91, SimFault::kError, 1},
        {"first send's reply lost", 0x91, SimFault::kDrop, 1},
        {"first send's reply damaged", 0x91, SimFault::kCorrupt, 1},
        {"block refused", kSimDataFrame, SimFault::kNak, 1},
        {"block's reply damaged", kSimDataFrame, SimFault::kCorrupt, 1},
        {"repeat refused as well", 0x93, SimFault::kNak, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SimOptions o = SimDemoOptions();
        o.firmware_packet_size = kSize;
        SimDetector det(o);
        ASSERT_TRUE(det.Start());
        SetPortOverride(det.DevicePath());
        TComTamsel link;
        TFakeScreen screen;
        const bool goOn = true;
        TImageDownload download(link, screen, packets, goOn);
        ASSERT_TRUE(download.Begin());
        int sent = 0;
        while (download.Pass()) {
            // Arm the fault for the fourth block, once three went through.
            if (++sent == 3) {
                det.SetFault(c.opcode, c.fault, c.times);
                if (c.opcode == 0x93)
                    det.SetFault(kSimDataFrame, SimFault::kNak, 1);
            }
        }
        const ROpResult result = download.End();
        EXPECT_EQ(result.mStatus, 0);
        EXPECT_GE(det.CommandCount(0x93), 1);
        EXPECT_EQ(det.FirmwareBlocks(), packets);
        EXPECT_TRUE(det.ExecutePassed());
        EXPECT_EQ(det.Identity().mSW, 15);
        EXPECT_EQ(det.Config()[kSimFWVersionAddress], 15); // the record follows the new firmware
        EXPECT_TRUE(SimBlockCrcOk(det.Config(), kSimUnitBlock));
    }
    SetPortOverride("");
    DeviceCFG = saved;
}
