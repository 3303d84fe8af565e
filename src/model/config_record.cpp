#include "model/config_record.h"

#include <algorithm>
#include <cstring>

const char *const kDisplayModeTexts[kDisplayModeCount] = {
    "Life Remaining (+ Sensor Reading when gas applied)",
    "Sensor Reading",
    "Life Remaining",
};

void SetDefaultCFG(RTamselCFG &mCFG)
{
    mCFG = RTamselCFG{}; // every byte not named below is 0, the CRC words included

    RTamselUnitCFG &u = mCFG.mUnit;
    u.mUnitFlag = kUnitFlagShowReading;
    std::memset(u.mUserID, ' ', sizeof u.mUserID);
    u.mTestInterval = 20;
    u.mAllowSuspend = kSuspendDenied;
    std::memcpy(u.mSerial, "SH10000000", sizeof u.mSerial);
    u.mBatLimit[0] = 649;
    u.mBatLimit[1] = 649;
    u.mBatLimitStartUp = 708;
    u.mBatLimitCritical = 600;
    u.mLifeRemaining = kMaxLifeSeconds;

    RTamselSensorCFG &s = mCFG.mSensor;
    s.mAlarmHigh = 150;
    s.mAlarmLow = 100;
    s.mSensorType = 1;
    s.mDeadZone = 15;
    s.mSpanGas = 250;
    s.mSensorMax = 1000;
    s.mTempCompSpan[0] = -229832;
    s.mTempCompSpan[1] = -554;
    s.mTempCompSpan[2] = -163383;
    s.mZero = 204;
    s.mSpan = 5561;
    s.mTau = 5;
    s.mLastCal = u.mLifeRemaining;
    s.mMinSpan = 3440;
}

RTamselCFG DefaultCFG()
{
    RTamselCFG cfg;
    SetDefaultCFG(cfg);
    return cfg;
}

namespace {
void CopyBlock(const RComTamselReadBuf &received, void *block)
{
    const int32_t n = std::clamp<int32_t>(received.mData, 0, kCFGBlockSize);
    std::memcpy(block, received.mBuf, static_cast<size_t>(n));
}
} // namespace

void CopyUnitCFG(const RComTamselReadBuf &received, RTamselUnitCFG &mData) { CopyBlock(received, &mData); }

void CopySensorCFG(const RComTamselReadBuf &received, RTamselSensorCFG &mData) { CopyBlock(received, &mData); }

void CFGToReadBuf(const RTamselCFG &mCFG, RComTamselReadBuf &mBuf)
{
    std::memset(mBuf.mBuf, 0, sizeof mBuf.mBuf);
    std::memcpy(mBuf.mBuf, &mCFG, sizeof mCFG);
    mBuf.mData = kCFGRecordSize;
}

std::string CounterToStr(uint32_t nSeconds)
{
    return CounterIsSet(nSeconds) ? std::to_string(nSeconds) : std::string("---");
}

std::string CharFieldToStr(const char *field, size_t size)
{
    const void *zero = std::memchr(field, 0, size);
    const size_t len = zero ? static_cast<size_t>(static_cast<const char *>(zero) - field) : size;
    return std::string(field, len);
}

EDisplayMode DisplayModeOfFlag(uint8_t mUnitFlag)
{
    if (!(mUnitFlag & kUnitFlagShowReading))
        return EDisplayMode::LifeRemaining;
    return (mUnitFlag & kUnitFlagReadingOnly) ? EDisplayMode::SensorReading : EDisplayMode::LifeAndReading;
}

uint8_t UnitFlagFromView(int nMode, bool bHideBumpLED)
{
    uint8_t flag = bHideBumpLED ? kUnitFlagHideBumpLED : 0;
    if (nMode == static_cast<int>(EDisplayMode::LifeAndReading))
        flag |= kUnitFlagShowReading;
    else if (nMode == static_cast<int>(EDisplayMode::SensorReading))
        flag |= kUnitFlagShowReading | kUnitFlagReadingOnly;
    return flag;
}

std::vector<RCFGWriteRange> CFGWriteRanges(const RDeviceCFG &cfg)
{
    const RCFGWriteRange all[] = {
        {"unit factory", static_cast<uint16_t>(cfg.mUnitWriteFactoryStart - 1), cfg.mUnitWriteFactorySize},
        {"unit user", static_cast<uint16_t>(cfg.mUnitWriteUserStart - 1), cfg.mUnitWriteUserSize},
        {"sensor factory", static_cast<uint16_t>(cfg.mSensorWriteFactoryStart - 1), cfg.mSensorWriteFactorySize},
        {"sensor user", static_cast<uint16_t>(cfg.mSensorWriteUserStart - 1), cfg.mSensorWriteUserSize},
    };
    const uint16_t starts[] = {cfg.mUnitWriteFactoryStart, cfg.mUnitWriteUserStart, cfg.mSensorWriteFactoryStart,
                               cfg.mSensorWriteUserStart};
    std::vector<RCFGWriteRange> ranges;
    for (size_t i = 0; i < 4; ++i)
        if (all[i].mSize != 0 && starts[i] != 0 && all[i].mAddress + all[i].mSize <= kReadBufCapacity)
            ranges.push_back(all[i]);
    return ranges;
}
