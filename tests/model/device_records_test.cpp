#include "model/device_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Packed fields are read by value: gtest binds its arguments by reference.
template <typename T> T Val(T v) { return v; }

template <typename T> T FromBytes(const std::vector<uint8_t> &bytes)
{
    T record;
    EXPECT_EQ(bytes.size(), sizeof record);
    std::memcpy(static_cast<void *>(&record), bytes.data(), sizeof record);
    return record;
}

TEST(DeviceRecordsTest, ProductTableAndAcceptance)
{
    struct Case {
        uint8_t pid;
        std::string name;
        uint8_t user, developer; // status in each layout, expected product 2
    };
    const std::vector<Case> cases = {
        {0, "Tamsel", 146, 0},       {1, "Tamsel (TS)", 146, 146}, {2, "Norvik", 0, 0},
        {3, "Norvik (TS)", 146, 146}, {4, "Dravik Clip", 146, 0},   {5, "Dravik Clip (TS)", 146, 146},
        {6, "---", 146, 146},        {255, "---", 146, 146},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(GetProductName(c.pid), c.name) << int(c.pid);
        EXPECT_EQ(CheckProductID(c.pid, kProductNorvik, true), c.user) << int(c.pid);
        EXPECT_EQ(CheckProductID(c.pid, kProductNorvik, false), c.developer) << int(c.pid);
    }
    // The layout the caller passes decides (a session passes its UserMode).
    for (const bool userMode : {false, true})
        EXPECT_EQ(CheckProductID(4, kProductNorvik, userMode), userMode ? 146 : 0);
}

TEST(DeviceRecordsTest, FindSensorType)
{
    const std::vector<RSensorType> builtIn = BuiltInSensorTypes();
    std::vector<RSensorType> dup = builtIn;
    dup.push_back({"CO-B", 2, "ppm", "SC", 180, 0, 500});
    struct Case {
        const std::vector<RSensorType> *table;
        uint8_t code;
        int index;
    };
    const std::vector<RSensorType> empty;
    const std::vector<Case> cases = {
        {&builtIn, 4, 2}, {&builtIn, 3, -1}, {&builtIn, 0, -1}, {&empty, 1, -1}, {&dup, 2, 3},
    };
    for (const auto &c : cases)
        EXPECT_EQ(FindSensorType(c.code, *c.table), c.index) << int(c.code);

    // The table the caller passes is the one searched (a session passes its SensorTypes).
    EXPECT_EQ(FindSensorType(2, dup), 3);
    EXPECT_EQ(FindSensorType(2, empty), -1);
}

TEST(DeviceRecordsTest, IdentityFromReplyBytes)
{
    const auto id = FromBytes<RTamselIdenty>({0x02, 0x05, 0x0E, 0x04, 0x00, 0x67, 0xC2, 0x03, 'S', 'H', '1', '2',
                                              '3', '4', '5', '6', '7', '8'});
    const std::vector<std::string> lines = {
        "Product ID = 2",
        "Hardware Version = 005",
        "Firmware Version = 1.4",
        "Life Remaining = 63072000 sec",
        "Sensor present = 0x04",
        "Serial Number = SH12345678",
    };
    EXPECT_EQ(IdentyLines(id), lines);

    RTamselIdenty odd = id;
    odd.mSensor = 0xAB;
    odd.mSerial[4] = 0;
    const auto oddLines = IdentyLines(odd);
    EXPECT_EQ(oddLines[4], "Sensor present = 0xAB");
    EXPECT_EQ(oddLines[5], "Serial Number = SH12");
}

TEST(DeviceRecordsTest, GasReadingRules)
{
    struct Case {
        uint16_t raw;
        uint8_t history;
        std::string text;
        double value;
    };
    const std::vector<Case> cases = {
        {0x7FFF, 0x01, "OL", 3276.7},
        {0x7FFF, 0x00, "OL", 32767},
        {0xFFF6, 0x01, "-1.0", -1.0},
        {0x0096, 0x01, "15.0", 15.0},
        {0xFFFF, 0x01, "-0.1", -0.1},
        {0x8000, 0x00, "-32768", -32768},
        {0x0005, 0x02, "0.05", 0.05},
        {0x0000, 0x03, "0.000", 0.0},
        {0x0096, 0xFD, "15.0", 15.0}, // flag bits do not change the decimals
    };
    for (const auto &c : cases) {
        RTamselSensor r;
        r.mSensor = c.raw;
        r.mHistory = c.history;
        EXPECT_EQ(GasReadingToStr(r), c.text) << std::hex << c.raw;
        EXPECT_DOUBLE_EQ(GasValue(r), c.value) << std::hex << c.raw;
    }
}

TEST(DeviceRecordsTest, PeakAndChannelValues)
{
    // Reply bytes: mSensor 0xFFF6, mPeak 0x9000, two decimals, alarm flags.
    const auto gas = FromBytes<RTamselSensor>({0xF6, 0xFF, 0x00, 0x90, 0x02, 0x0C});
    EXPECT_EQ(GasPeakToStr(gas), "368.64"); // the peak is unsigned
    EXPECT_DOUBLE_EQ(GasPeakValue(gas), 368.64);
    EXPECT_EQ(GasReadingToStr(gas), "-0.10");

    // A battery reading is unsigned even above 0x8000; its ADC count is unscaled.
    const auto battery = FromBytes<RTamselSensor>({0x10, 0x90, 0xC4, 0x02, 0x03, 0x00});
    EXPECT_EQ(ChannelValueToStr(battery), "36.880");
    EXPECT_DOUBLE_EQ(ChannelValue(battery), 36.88);
    EXPECT_EQ(ChannelAdcToStr(battery), "708");

    struct Case {
        int64_t raw;
        int d;
        std::string out;
    };
    const std::vector<Case> scaled = {
        {1234, 2, "12.34"}, {-7, 3, "-0.007"}, {0, 1, "0.0"}, {5, -2, "5"},
        {1, 12, "0.00000001"}, {INT64_MIN, 0, "-9223372036854775808"},
    };
    for (const auto &c : scaled)
        EXPECT_EQ(ScaledToStr(c.raw, c.d), c.out) << c.raw << " / " << c.d;
}

TEST(DeviceRecordsTest, FlagCaptions)
{
    // The decimals are the low two bits; bit 2 is the first flag.
    const std::vector<std::pair<uint8_t, int>> decimals = {{0x05, 1}, {0x07, 3}, {0x04, 0}, {0x06, 2}};
    for (const auto &[history, d] : decimals) {
        RTamselSensor r;
        r.mHistory = history;
        EXPECT_EQ(SensorDecimals(r), d) << int(history);
        std::vector<std::string> set;
        for (const auto &f : kHistoryFlags)
            if (FlagSet(r.mHistory, f))
                set.push_back(f.mCaption);
        EXPECT_EQ(set, std::vector<std::string>{"Self Test Fail"}) << int(history);
    }

    EXPECT_STREQ(kHistoryFlags[5].mLogColumn, "Calibration Progress");
    EXPECT_STREQ(kAlarmFlags[3].mLogColumn, "HIGH Alarm");
    EXPECT_EQ(kAlarmFlags[4].mLogColumn, nullptr);
}

TEST(DeviceRecordsTest, EventEntries)
{
    struct Case {
        std::vector<uint8_t> bytes;
        bool end, bump;
        uint16_t seconds;
        bool low, high, over;
        double reading;
    };
    const std::vector<Case> cases = {
        {{0x10, 0x27, 0, 0, 0x3C, 0x80, 0x00, 0xFB, 0xFF}, false, true, 60, false, false, false, -0.5},
        {{0x10, 0x27, 0, 0, 0x10, 0x0E, 0x0C, 0xFF, 0x00}, false, false, 3600, true, true, false, 25.5},
        {{0x10, 0x27, 0, 0, 0xFF, 0xFF, 0x04, 0xFF, 0x7F}, false, true, 0x7FFF, true, false, true, 3276.7},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0}, true, false, 0, false, false, false, 0.0},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const auto &c = cases[i];
        const auto e = FromBytes<RTamselEvent>(c.bytes);
        EXPECT_EQ(IsEventLogEnd(e), c.end) << i;
        EXPECT_EQ(IsBumpEvent(e), c.bump) << i;
        EXPECT_EQ(EventDurationSeconds(e), c.seconds) << i;
        EXPECT_EQ((e.mAlarmStatusFlag & kEventLowAlarm) != 0, c.low) << i;
        EXPECT_EQ((e.mAlarmStatusFlag & kEventHighAlarm) != 0, c.high) << i;
        EXPECT_EQ(EventOverRange(e), c.over) << i;
        EXPECT_DOUBLE_EQ(EventReading(e), c.reading) << i;
    }
}

TEST(DeviceRecordsTest, EventsFromCarrier)
{
    RComTamselReadBuf buf;
    for (int i = 0; i < kReadBufCapacity; ++i)
        buf.mBuf[i] = static_cast<uint8_t>(i);
    buf.mData = 90;
    RTamselEvent e;
    ASSERT_TRUE(EventFromBuf(buf, 1, 9, e));
    EXPECT_EQ(Val(e.mStartEvent), 0x0C0B0A09u);
    ASSERT_TRUE(EventFromBuf(buf, 112, 9, e)); // last whole entry of the carrier
    EXPECT_EQ(Val(e.mStartEvent), 0xF3F2F1F0u); // carrier bytes 1008..1011

    RTamselEvent keep;
    keep.mStartEvent = 42;
    EXPECT_FALSE(EventFromBuf(buf, 113, 9, keep)); // would end past byte 1023
    EXPECT_FALSE(EventFromBuf(buf, 0, 0, keep));
    EXPECT_FALSE(EventFromBuf(buf, 0x7FFFFFFF, 0x7FFFFFFF, keep));
    EXPECT_EQ(Val(keep.mStartEvent), 42u);
}

} // namespace
