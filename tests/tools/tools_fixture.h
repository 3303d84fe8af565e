#pragma once
// Shared pieces of the tool tests: a fake clock that moves only when the
// controller sleeps, views that record what the controllers show, and a
// fixture on a test session (a simulated detector, a scratch per-user store)
// running on that clock.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/user_store.h"
#include "link/tamsel_comms.h"
#include "sim/sim_detector.h"
#include "support/fake_screen.h"
#include "support/test_session.h"
#include "tools/sensor_cal.h"
#include "tools/sensor_logger.h"
#include "app/clock.h"

namespace toolstest {

// 2023-03-15 12:00:00.
inline constexpr TDateTime kT0 = 45000.5;

class TFakeToolClock : public IClock {
public:
    TDateTime FNow = kT0;
    double FWallOffset = 0; // days the wall clock stands ahead of Now() (a clock change)
    int FSleeps = 0;
    // Real milliseconds each sleep also takes, for a simulated detector whose
    // own processes (a calibration) run on real time.
    int FNapMs = 0;
    TDateTime Now() override { return FNow; }
    TDateTime WallNow() override { return FNow + FWallOffset; }
    void SleepUntil(TDateTime t) override
    {
        ++FSleeps;
        if (t > FNow)
            FNow = t;
        if (FNapMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(FNapMs));
    }
    // Seconds since kT0.
    double Seconds() const { return (FNow - kT0) * 86400.0; }
    void SetSeconds(double s) { FNow = AddSeconds(kT0, s); }
};

struct RLabel {
    std::string mText;
    RColor mColor;
    double mAt; // clock seconds
};

class TRecordingLogView : public ISensorLogView {
public:
    explicit TRecordingLogView(TFakeToolClock &clock) : FClock(clock) {}
    void LogStateChanged(bool logging) override { states.push_back(logging); }
    void CommandButtonsEnabled(bool enabled) override { buttons.push_back(enabled); }
    void CalLabelChanged(const std::string &text, RColor color) override
    {
        labels.push_back({text, color, FClock.Seconds()});
    }
    void CalProgressChanged(int position, int max) override { progress.push_back({position, max}); }
    void CalProgLabelChanged(const std::string &text) override { progLabels.push_back(text); }
    void ReadingShown(const RSensorLogDisplay &shown) override { readings.push_back(shown); }
    void ChartReset(double rMin, double rMax, double rTick) override { resets.push_back({rMin, rMax, rTick}); }
    void ChartAdded(const RChartPoint &point) override { added.push_back(point); }
    void ChartMoved(double rMin, double rMax, const std::vector<RChartPoint> &points) override
    {
        moved.push_back({rMin, rMax, points});
    }

    struct RReset {
        double mMin, mMax, mTick;
    };
    struct RMove {
        double mMin, mMax;
        std::vector<RChartPoint> mPoints;
    };
    std::vector<bool> states;
    std::vector<bool> buttons;
    std::vector<RLabel> labels;
    std::vector<std::pair<int, int>> progress;
    std::vector<std::string> progLabels;
    std::vector<RSensorLogDisplay> readings;
    std::vector<RReset> resets;
    std::vector<RChartPoint> added;
    std::vector<RMove> moved;

    std::vector<double> ReadingTimes() const
    {
        std::vector<double> t;
        for (const auto &r : readings)
            t.push_back(r.mElapsed);
        return t;
    }
    std::string LastLabel() const { return labels.empty() ? std::string() : labels.back().mText; }

private:
    TFakeToolClock &FClock;
};

class TRecordingCalView : public ISensorCalView {
public:
    explicit TRecordingCalView(TFakeToolClock &clock) : FClock(clock) {}
    void CaptionChanged(const std::string &text) override { caption = text; }
    void SpanRangeChanged(double rMin, double rMax) override
    {
        rangeMin = rMin;
        rangeMax = rMax;
    }
    void SpanValueChanged(double rValue) override { spanValues.push_back(rValue); }
    void UnitChanged(const std::string &text) override { unit = text; }
    void StatusLineChanged(int line, const std::string &text, RColor color) override
    {
        lines[line] = {text, color, FClock.Seconds()};
    }
    void RunningChanged(bool running) override { runningStates.push_back(running); }
    void CalProgressChanged(int position, int max) override { progress.push_back({position, max}); }

    std::string caption;
    double rangeMin = 0, rangeMax = 0;
    std::vector<double> spanValues;
    std::string unit;
    RLabel lines[3] = {};
    std::vector<bool> runningStates;
    std::vector<std::pair<int, int>> progress;

private:
    TFakeToolClock &FClock;
};

// One request the program sent, stamped with the fake clock: its opcode (the
// first byte of the frame; 0 for a reconnection handshake).
struct RSent {
    double mAt;
    uint8_t mOpcode;
};

class ToolsTest : public ::testing::Test, protected TTestSession {
protected:
    // The tools run on the fake clock from the start: the controllers take
    // the session's clock when they are made.
    ToolsTest() { session.UseClock(clock); }

    void SetUp() override
    {
        session.DeviceCFG.mConnectTime = 500; // a silent detector costs half a second per attempt
        session.DeviceCFG.mLogSaveDir.clear();
    }

    // Records every request with the fake clock's time.
    void RecordTraffic()
    {
        link.OnTamselEvent = [this](TComTamsel *, TDateTime, const std::string &line) {
            if (line.rfind("[SEND] ", 0) == 0 && line.size() >= 9)
                sent.push_back({clock.Seconds(), static_cast<uint8_t>(std::stoi(line.substr(7, 2), nullptr, 16))});
            else if (line.rfind("[CHECK TIME]", 0) == 0)
                sent.push_back({clock.Seconds(), 0});
        };
    }
    std::vector<double> SentAt(uint8_t opcode) const
    {
        std::vector<double> at;
        for (const RSent &s : sent)
            if (s.mOpcode == opcode)
                at.push_back(s.mAt);
        return at;
    }

    TFakeToolClock clock;
    TFakeScreen screen;
    std::vector<RSent> sent;
};

// Times (seconds) compared with a little slack for the day-count arithmetic.
inline void ExpectTimes(const std::vector<double> &actual, const std::vector<double> &expected)
{
    ASSERT_EQ(actual.size(), expected.size()) << ::testing::PrintToString(actual);
    for (size_t i = 0; i < actual.size(); ++i)
        EXPECT_NEAR(actual[i], expected[i], 1e-4) << "at " << i;
}

} // namespace toolstest
