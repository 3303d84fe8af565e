// The real link against the simulator's line knobs: an adapter that echoes
// what the program sends, a detector that acknowledges the wake-up more than
// once, and firmware blocks repeated after each kind of fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "app/firmware_job.h"
#include "link/tamsel_comms.h"
#include "link/wire.h"
#include "sim/sim_detector.h"
#include "support/fake_screen.h"
#include "support/test_session.h"

TEST(SimLink, WakeUpEchoesAndRepeatedAcknowledgesAreLeftBehind)
{
    struct Case {
        const char *name;
        bool echo;
        int acks, gapUs;
    } cases[] = {
        {"echoed wake-up frames", true, 1, 0},
        {"three acknowledges, close together", false, 3, 100},
        {"echo and a second acknowledge after the handshake has read", true, 2, 600},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SimOptions o;
        o.echo = c.echo;
        o.echo_opcode = wire::kOpWakeUp;
        o.wake_acks = c.acks;
        o.wake_ack_gap_us = c.gapUs;
        SimDetector det(o);
        ASSERT_TRUE(det.Start());
        TComTamsel link;
        std::vector<std::string> lines;
        link.OnTamselEvent = [&](TComTamsel *, TDateTime, const std::string &s) { lines.push_back(s); };
        link.SetPortDevice(1, det.DevicePath());
        link.SetSimulatedLine(det.DevicePath(), det.LineTally()); // as the programs' --simulate
        for (int job = 0; job < 2; ++job) { // what one job leaves behind never reaches the next
            RTamselIdenty id{};
            RTamselCFG cfg{};
            RComTamselReadBuf log{};
            link.ComOpen(1);
            uint8_t status = link.ConnectTamsel(1.5f);
            if (status == 0)
                status = link.RequireIdenty(id);
            if (status == 0)
                status = link.ReadUnitCFGData(cfg.mUnit, 32, 64);
            if (status == 0)
                status = link.ReadSensorCFGData(cfg.mSensor, 32, 64);
            if (status == 0)
                status = link.LoadLog(log, 32);
            link.CloseUSB(status);
            ASSERT_EQ(status, 0) << "job " << job;
            const SimIdentity want = det.Identity();
            EXPECT_EQ(std::memcmp(&id, &want, sizeof want), 0);
            EXPECT_EQ(std::memcmp(&cfg, det.Config().data(), sizeof cfg), 0);
            EXPECT_EQ(log.mData, static_cast<int>(det.EventLog().size()));
        }
        // The handshake reported the echoed frame it skipped.
        const auto echoed = [](const std::string &l) { return l.rfind("B2 75 80 ", 0) == 0; };
        EXPECT_EQ(std::any_of(lines.begin(), lines.end(), echoed), c.echo);
        EXPECT_EQ(det.CommandCount(wire::kOpKill), 2); // each job ended with one kill
    }
}

TEST(SimLink, RepeatedFirmwareBlocksLandInTheirPlace)
{
    constexpr int kPackets = 6, kSize = 32;
    const std::vector<uint8_t> image = SimMakeFirmwareImage(kPackets, kSize, 2, 15, 5, 10, 5);
    TImagePackets packets;
    for (int i = 0; i < kPackets; ++i)
        packets.emplace_back(image.begin() + i * kSize, image.begin() + (i + 1) * kSize);
    const struct {
        const char *name;
        uint8_t opcode;
        SimFault fault;
    } cases[] = {
        {"first send refused", wire::kOpData, SimFault::kNak},
        {"first send answered with an error", wire::kOpData, SimFault::kError},
        {"first send's reply lost", wire::kOpData, SimFault::kDrop},
        {"first send's reply damaged", wire::kOpData, SimFault::kCorrupt},
        {"block refused", kSimDataFrame, SimFault::kNak},
        {"block's reply damaged", kSimDataFrame, SimFault::kCorrupt},
        {"repeat refused as well", wire::kOpDataRepeat, SimFault::kNak},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SimOptions o = SimDemoOptions();
        o.firmware_packet_size = kSize;
        TTestSession run;
        run.session.DeviceCFG.mConnectTime = 1500;
        run.session.DeviceCFG.mFLASHRetry = 3;
        SimDetector &det = run.StartSim(o);
        TFakeScreen screen;
        const bool goOn = true;
        TImageDownload download(run.session, screen, packets, goOn);
        ASSERT_TRUE(download.Begin());
        for (int sent = 1; download.Pass(); ++sent)
            if (sent == 3) { // the fourth block meets the fault once
                det.SetFault(c.opcode, c.fault, 1);
                if (c.opcode == wire::kOpDataRepeat)
                    det.SetFault(kSimDataFrame, SimFault::kNak, 1);
            }
        EXPECT_EQ(download.End().mStatus, 0);
        EXPECT_EQ(det.FirmwareBlocks(), packets);
        EXPECT_TRUE(det.ExecutePassed());
        EXPECT_EQ(det.Config()[kSimFWVersionAddress], 15); // the record follows the new firmware
        EXPECT_TRUE(SimBlockCrcOk(det.Config(), kSimUnitBlock));
    }
}
