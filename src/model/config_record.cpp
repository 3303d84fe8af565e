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

void CopyCFGBlock(const RComTamselReadBuf &received, void *block)
{
    const int32_t n = std::clamp<int32_t>(received.mData, 0, kCFGBlockSize);
    std::memcpy(block, received.mBuf, static_cast<size_t>(n));
}

void CopyUnitCFG(const RComTamselReadBuf &received, RTamselUnitCFG &mData) { CopyCFGBlock(received, &mData); }

void CopySensorCFG(const RComTamselReadBuf &received, RTamselSensorCFG &mData) { CopyCFGBlock(received, &mData); }

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
        {"unit factory", cfg.mUnitWriteFactoryStart - 1, cfg.mUnitWriteFactorySize, kKeyUnitWriteFactoryStart,
         kKeyUnitWriteFactorySize},
        {"unit user", cfg.mUnitWriteUserStart - 1, cfg.mUnitWriteUserSize, kKeyUnitWriteUserStart,
         kKeyUnitWriteUserSize},
        {"sensor factory", cfg.mSensorWriteFactoryStart - 1, cfg.mSensorWriteFactorySize,
         kKeySensorWriteFactoryStart, kKeySensorWriteFactorySize},
        {"sensor user", cfg.mSensorWriteUserStart - 1, cfg.mSensorWriteUserSize, kKeySensorWriteUserStart,
         kKeySensorWriteUserSize},
    };
    std::vector<RCFGWriteRange> ranges;
    for (const RCFGWriteRange &r : all)
        if (r.mSize != 0)
            ranges.push_back(r);
    return ranges;
}

std::vector<std::string> CFGWriteRangeProblems(const RDeviceCFG &cfg)
{
    std::vector<std::string> problems;
    for (const RCFGWriteRange &r : CFGWriteRanges(cfg)) {
        if (CFGRangeFits(r.mAddress, r.mSize))
            continue;
        const int64_t start = int64_t{r.mAddress} + 1;
        const int64_t last = start + r.mSize - 1;
        std::string line = "[" + std::string(kSectionUnit) + "] " + r.mStartKey + "=" + std::to_string(start) +
                           ", " + r.mSizeKey + "=" + std::to_string(r.mSize) + ": ";
        if (start < 1)
            line += "the start counts from 1";
        else
            line += "bytes " + std::to_string(start) + " to " + std::to_string(last) + ", past byte " +
                    std::to_string(kCFGRecordSize);
        problems.push_back(std::move(line));
    }
    return problems;
}
