// The stable-reading judge the bump test and the calibration measurement
// share, and the reading in tenths whatever the detector's decimals.
#include <gtest/gtest.h>

#include <vector>

#include "tools/gas_watch.h"

TEST(GasWatchTest, ThreeSuccessiveReadingsWithinTheBand)
{
    const struct {
        int32_t band;
        std::vector<int32_t> readings;
        int stableAt; // index of the reading that makes it stable; -1: never
        int32_t value;
    } cases[] = {
        {2, {0, 1, 2}, 2, 1},
        {2, {0, 1, 4, 3, 3}, 4, 3},       // 0..4 and 1..4 are too wide; 4, 3, 3 is not
        {2, {5, 0, 0}, -1, 0},             // two readings are not three
        {5, {100, 150, 200, 248, 250, 251}, 5, 250},
        {5, {248, 250, 260, 249}, -1, 0},  // one reading off the band breaks the run
        {1, {-3, -3, -2}, 2, -3},
    };
    for (const auto &c : cases) {
        TStableReading judge(c.band);
        int at = -1;
        for (size_t i = 0; i < c.readings.size() && at < 0; ++i)
            if (judge.Add(c.readings[i]))
                at = static_cast<int>(i);
        EXPECT_EQ(at, c.stableAt) << ::testing::PrintToString(c.readings);
        if (at >= 0) {
            EXPECT_EQ(judge.Value(), c.value);
        }
    }
    // Under gas the band is 2 % of the concentration, never below one tenth.
    EXPECT_EQ(TStableReading::GasBand(250), 5);
    EXPECT_EQ(TStableReading::GasBand(180), 4);
    EXPECT_EQ(TStableReading::GasBand(20), 1);
    EXPECT_EQ(TStableReading::kCleanAirBand, 2);
}

TEST(GasWatchTest, ReadingsInTenthsWhateverTheirDecimals)
{
    const struct {
        uint16_t raw;
        uint8_t history;
        int32_t tenths;
    } cases[] = {
        {250, 0x01, 250},            // one decimal: 25.0
        {25, 0x00, 250},             // none: 25
        {2504, 0x02, 250},           // two: 25.04
        {0xFFF6, 0x01, -10},         // negative
        {0x7FFF, 0x01, kOverRangeTenths},
    };
    for (const auto &c : cases) {
        RTamselSensor r;
        r.mSensor = c.raw;
        r.mHistory = c.history;
        EXPECT_EQ(ReadingTenths(r), c.tenths) << c.raw;
    }
}
