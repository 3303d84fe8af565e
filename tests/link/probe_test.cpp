// The quiet try a waiting loop makes once a second: does a detector answer?
#include <gtest/gtest.h>

#include <chrono>

#include "link/tamsel_comms.h"
#include "link/wire.h"
#include "sim/sim_detector.h"

TEST(Probe, AnswersWithoutKeepingTheDetectorAwakeOrLeavingTraces)
{
    const struct {
        const char *mName;
        bool mAbsent;
        int mWakeAfter;
        uint8_t mStatus;
    } rows[] = {
        {"answers the first frame", false, 1, 0},
        {"needs a burst of frames", false, 20, 0},
        {"absent", true, 1, wire::kStatusNoWakeUp},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.mName);
        SimOptions o;
        o.absent = row.mAbsent;
        o.wake_after = row.mWakeAfter;
        SimDetector sim(o);
        ASSERT_TRUE(sim.Start());
        TComTamsel link;
        link.SetPortChoice(sim.DevicePath());
        link.SetSimulatedLine(sim.DevicePath(), sim.LineTally());
        int traffic = 0;
        link.OnTamselEvent = [&](TComTamsel *, TDateTime, const std::string &) { ++traffic; };

        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(link.Probe(0.1f), row.mStatus);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_LT(seconds, 0.5);
        EXPECT_FALSE(link.Port().Enabled());
        EXPECT_FALSE(sim.Awake()); // asleep again: the job that follows wakes it itself
        EXPECT_EQ(traffic, 0);
        EXPECT_EQ(link.Seen().mOpens, 0);
        // Only wake-up frames, and the end of connection after an answer.
        int wakeUps = 0, kills = 0, others = 0;
        for (const auto &frame : sim.ReceivedFrames())
            (frame[0] == wire::kOpWakeUp ? wakeUps : frame[0] == wire::kOpKill ? kills : others)++;
        EXPECT_GE(wakeUps, row.mWakeAfter);
        EXPECT_EQ(kills, row.mStatus == 0 ? 1 : 0);
        EXPECT_EQ(others, 0);
        // A job after the probe connects as ever.
        if (row.mStatus == 0) {
            EXPECT_EQ(link.OpenUSB(1.0f), 0);
            RTamselIdenty identity{};
            EXPECT_EQ(link.RequireIdenty(identity), 0);
            link.CloseUSB(0);
        }
    }

    // Asked to, the probe leaves an answering detector awake for the job that follows.
    SimDetector awake;
    ASSERT_TRUE(awake.Start());
    TComTamsel link;
    link.SetPortChoice(awake.DevicePath());
    link.SetSimulatedLine(awake.DevicePath(), awake.LineTally());
    EXPECT_EQ(link.Probe(0.1f, false), 0);
    EXPECT_TRUE(awake.Awake());
    EXPECT_FALSE(link.Port().Enabled());
    EXPECT_EQ(link.OpenUSB(1.0f), 0);
    link.CloseUSB(0);
    EXPECT_FALSE(awake.Awake());

    // A port that is gone (a simulator stopped, an adapter pulled) is no answer.
    TComTamsel gone;
    gone.SetPortChoice("/nonexistent/beamport-probe");
    EXPECT_EQ(gone.Probe(0.1f), wire::kStatusPortFailed);
    EXPECT_FALSE(gone.Port().Enabled());
}
