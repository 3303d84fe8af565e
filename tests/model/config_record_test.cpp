#include "model/config_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Packed fields are read by value: gtest binds its arguments by reference.
template <typename T> T Val(T v) { return v; }

// The default record as the detector's memory holds it, 16 bytes a line.
const uint8_t kDefaultImage[128] = {
    0x01, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x14, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, //
    0x53, 0x48, 0x31, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x89, 0x02, 0x89, 0x02, 0xC4, 0x02, //
    0x58, 0x02, 0x00, 0x00, 0x00, 0x67, 0xC2, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, //
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, //
    0x96, 0x00, 0x64, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, //
    0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x0F, 0x00, 0xFA, 0x00, 0xE8, 0x03, 0x00, 0x00, 0x38, 0x7E, //
    0xFC, 0xFF, 0xD6, 0xFD, 0xFF, 0xFF, 0xC9, 0x81, 0xFD, 0xFF, 0xCC, 0x00, 0xB9, 0x15, 0x05, 0x00, //
    0x00, 0x67, 0xC2, 0x03, 0x00, 0x00, 0x00, 0x00, 0x70, 0x0D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, //
};

// Sets every byte of a record, so a test sees which bytes a routine writes.
template <typename T> void Fill(T &record, uint8_t value)
{
    std::memset(static_cast<void *>(&record), value, sizeof record);
}

RTamselCFG FromImage(const uint8_t *image)
{
    RTamselCFG cfg;
    std::memcpy(&cfg, image, sizeof cfg);
    return cfg;
}

TEST(ConfigRecordTest, DefaultRecordByteForByte)
{
    RTamselCFG cfg;
    Fill(cfg, 0xA5); // every byte must be written
    SetDefaultCFG(cfg);
    const auto *bytes = reinterpret_cast<const uint8_t *>(&cfg);
    for (int i = 0; i < 128; ++i)
        EXPECT_EQ(bytes[i], kDefaultImage[i]) << "record byte " << i;
    EXPECT_EQ(Val(cfg.mUnit.mCRC), 0);
    EXPECT_EQ(Val(cfg.mSensor.mCRC), 0);
    const RTamselCFG fresh = DefaultCFG();
    EXPECT_EQ(std::memcmp(&cfg, &fresh, 128), 0);
}

TEST(ConfigRecordTest, FieldsReadFromImage)
{
    // Offsets are fixed at compile time; this checks width and sign.
    const RTamselCFG cfg = FromImage(kDefaultImage);
    EXPECT_EQ(CharFieldToStr(cfg.mUnit.mSerial), "SH10000000");
    EXPECT_EQ(Val(cfg.mUnit.mLifeRemaining), 63072000u);
    EXPECT_EQ(Val(cfg.mSensor.mTempCompSpan[0]), -229832);
    EXPECT_EQ(Val(cfg.mSensor.mTempCompSpan[2]), -163383);
    EXPECT_EQ(Val(cfg.mSensor.mMinSpan), 3440);

    const char cut[6] = {'A', 'B', 0, 'D', 'E', 'F'};
    const char none[6] = {};
    EXPECT_EQ(CharFieldToStr(cut), "AB");
    EXPECT_EQ(CharFieldToStr(none), "");
}

RComTamselReadBuf Received(const void *bytes, int32_t n)
{
    RComTamselReadBuf rx;
    std::memcpy(rx.mBuf, bytes, static_cast<size_t>(n));
    rx.mData = n;
    return rx;
}

TEST(ConfigRecordTest, BlockCRCRule)
{
    RTamselCFG cfg = DefaultCFG();
    SealCFG(cfg);
    EXPECT_EQ(Val(cfg.mUnit.mCRC), CRC16(reinterpret_cast<const uint8_t *>(&cfg), 62));
    EXPECT_EQ(Val(cfg.mSensor.mCRC), CRC16(reinterpret_cast<const uint8_t *>(&cfg) + 64, 62));

    for (const void *block : {static_cast<const void *>(&cfg.mUnit), static_cast<const void *>(&cfg.mSensor)}) {
        const RComTamselReadBuf good = Received(block, 64);
        EXPECT_EQ(CheckBlockCRC(good), 0);
        for (int i = 0; i < 64; ++i) {
            RComTamselReadBuf bad = good;
            bad.mBuf[i] ^= 0x01;
            EXPECT_EQ(CheckBlockCRC(bad), kStatusBlockCRC) << "changed block byte " << i;
        }
    }
    // The default record carries CRC words 0, which is not what a detector stores.
    EXPECT_EQ(CheckBlockCRC(Received(&kDefaultImage[0], 64)), kStatusBlockCRC);

    // A short read must not pass, not even when it happens to match.
    const uint8_t zeros[64] = {};
    for (int32_t n : {0, 2, 32, 63, -5, 5000}) {
        RComTamselReadBuf rx = Received(zeros, 64);
        rx.mData = n;
        EXPECT_EQ(CheckBlockCRC(rx), kStatusBlockCRC) << n;
    }
}

TEST(ConfigRecordTest, CopyBlocks)
{
    RTamselCFG src = DefaultCFG();
    SealCFG(src);
    RComTamselReadBuf rx = Received(&src.mUnit, 64);
    std::memset(rx.mBuf + 64, 0xEE, 64); // bytes past the block are not copied

    RTamselCFG dst;
    Fill(dst, 0x11);
    CopyUnitCFG(rx, dst.mUnit);
    EXPECT_EQ(std::memcmp(&dst.mUnit, &src.mUnit, 64), 0);
    EXPECT_EQ(reinterpret_cast<const uint8_t *>(&dst)[64], 0x11); // sensor block untouched

    rx = Received(&src.mSensor, 64);
    CopySensorCFG(rx, dst.mSensor);
    EXPECT_EQ(std::memcmp(&dst.mSensor, &src.mSensor, 64), 0);

    // Fewer bytes than a block: only those are taken.
    RTamselUnitCFG part;
    Fill(part, 0x22);
    rx = Received(&src.mUnit, 32);
    CopyUnitCFG(rx, part);
    EXPECT_EQ(std::memcmp(&part, &src.mUnit, 32), 0);
    EXPECT_EQ(reinterpret_cast<const uint8_t *>(&part)[32], 0x22);
}

TEST(ConfigRecordTest, WriteCarrier)
{
    const RTamselCFG cfg = DefaultCFG();
    RComTamselReadBuf buf;
    std::memset(buf.mBuf, 0x77, sizeof buf.mBuf);
    CFGToReadBuf(cfg, buf);
    EXPECT_EQ(buf.mData, 128);
    EXPECT_EQ(std::memcmp(buf.mBuf, kDefaultImage, 128), 0);
    for (int i = 128; i < kReadBufCapacity; ++i)
        ASSERT_EQ(buf.mBuf[i], 0) << "carrier byte " << i;
}

TEST(ConfigRecordTest, CountersNotSetAboveTwoYears)
{
    const std::vector<std::pair<uint32_t, std::string>> cases = {
        {0, "0"}, {63072000, "63072000"}, {63072001, "---"}, {0xFFFFFFFF, "---"}};
    for (const auto &[v, s] : cases) {
        EXPECT_EQ(CounterToStr(v), s) << v;
        EXPECT_EQ(CounterIsSet(v), s != "---") << v;
    }
}

TEST(ConfigRecordTest, DisplayModeOfFlag)
{
    struct Case {
        uint8_t flag;
        EDisplayMode mode;
        bool hide;
        uint8_t rebuilt; // what the editor builds back from mode and check box
    };
    const std::vector<Case> cases = {
        {0x01, EDisplayMode::LifeAndReading, false, 0x01}, {0x05, EDisplayMode::SensorReading, false, 0x05},
        {0x04, EDisplayMode::LifeRemaining, false, 0x00},  {0x00, EDisplayMode::LifeRemaining, false, 0x00},
        {0x03, EDisplayMode::LifeAndReading, true, 0x03},  {0x06, EDisplayMode::LifeRemaining, true, 0x02},
        {0x07, EDisplayMode::SensorReading, true, 0x07},
        {0xF9, EDisplayMode::LifeAndReading, false, 0x01}, // unused bits are dropped
    };
    for (const auto &c : cases) {
        EXPECT_EQ(DisplayModeOfFlag(c.flag), c.mode) << int(c.flag);
        EXPECT_EQ(HideBumpLEDOfFlag(c.flag), c.hide) << int(c.flag);
        EXPECT_EQ(UnitFlagFromView(static_cast<int>(c.mode), c.hide), c.rebuilt) << int(c.flag);
    }
    EXPECT_EQ(UnitFlagFromView(-1, false), 0); // no selection
    EXPECT_EQ(UnitFlagFromView(-1, true), 2);
    EXPECT_STREQ(kDisplayModeTexts[int(EDisplayMode::SensorReading)], "Sensor Reading");
}

TEST(ConfigRecordTest, WriteRanges)
{
    // User layout: record bytes 0..7 and 64..73 and nothing else.
    const RDeviceCFG user;
    const std::vector<RCFGWriteRange> userRanges = {{"unit user", 0, 8}, {"sensor user", 64, 10}};
    EXPECT_EQ(CFGWriteRanges(user), userRanges);

    // Developer layout without range keys: only the sensor user range.
    RDeviceCFG dev;
    dev.mUnitWriteUserSize = 0;
    EXPECT_EQ(CFGWriteRanges(dev), (std::vector<RCFGWriteRange>{{"sensor user", 64, 10}}));

    // All four, in sending order.
    RDeviceCFG all;
    all.mUnitWriteFactorySize = 10;
    all.mSensorWriteFactorySize = 1;
    const std::vector<RCFGWriteRange> order = {
        {"unit factory", 16, 10}, {"unit user", 0, 8}, {"sensor factory", 85, 1}, {"sensor user", 64, 10}};
    EXPECT_EQ(CFGWriteRanges(all), order);

    EXPECT_TRUE(CFGWriteRangeProblems(all).empty());
}

TEST(ConfigRecordTest, WriteRangesThatLeaveTheRecordAreNamed)
{
    const struct {
        uint16_t RDeviceCFG::*start;
        uint16_t RDeviceCFG::*size;
        uint16_t startValue, sizeValue;
        const char *problem; // empty: the range fits (or is not written)
    } rows[] = {
        {&RDeviceCFG::mSensorWriteFactoryStart, &RDeviceCFG::mSensorWriteFactorySize, 128, 1, ""},
        {&RDeviceCFG::mUnitWriteFactoryStart, &RDeviceCFG::mUnitWriteFactorySize, 256, 0, ""},
        {&RDeviceCFG::mSensorWriteFactoryStart, &RDeviceCFG::mSensorWriteFactorySize, 120, 10,
         "[UNIT] SensorWriteFactoryStart=120, SensorWriteFactorySize=10: bytes 120 to 129, past byte 128"},
        {&RDeviceCFG::mUnitWriteUserStart, &RDeviceCFG::mUnitWriteUserSize, 0, 8,
         "[UNIT] UnitWriteUserStart=0, UnitWriteUserSize=8: the start counts from 1"},
    };
    for (const auto &r : rows) {
        RDeviceCFG cfg;
        cfg.*r.start = r.startValue;
        cfg.*r.size = r.sizeValue;
        const std::vector<std::string> expected = *r.problem ? std::vector<std::string>{r.problem} : std::vector<std::string>{};
        EXPECT_EQ(CFGWriteRangeProblems(cfg), expected) << r.startValue << " " << r.sizeValue;
    }
    // The link's rule for a single write is the same one.
    EXPECT_TRUE(CFGRangeFits(0, 128) && CFGRangeFits(127, 1));
    EXPECT_FALSE(CFGRangeFits(127, 2) || CFGRangeFits(0, 0) || CFGRangeFits(-1, 8) || CFGRangeFits(65535, 65535));
}

} // namespace
