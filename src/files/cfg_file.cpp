#include "files/cfg_file.h"


#include <cmath>
#include <cstring>


#include "files/atomic_save.h"
#include "files/input_file.h"
#include "model/settings_types.h"

namespace {

// Payload offsets of the fields of versions 1..7, one entry per version.
// -1: the version does not carry the field.
struct RColumns {
    int mUserID;      // 3 characters in versions 3..5, 6 from version 6 on
    int mTestInterval;
    int mAllowSuspend;
    int mSerial;
    int mBatLimit;
    int mBatLimitStartUp;
    int mBatLimitCritical;
    int mHWVersion;
    int mFWVersion;
    int mLifeRemaining;
    int mAlarmTime;
    int mTestTime;
    int mAlarmCount;
    int mTestCount;
    int mPEventLog;   // 2 bytes, low byte used
    int mAlarmHigh;
    int mAlarmLow;
    int mCalInterval;
    int mBumpInterval; // 4 bytes, low 16 bits used
    int mSensorType;
    int mDeadZone;
    int mSpanGas;
    int mSensorMax;
    int mSensorBase;
    int mTempCompSpan;
    int mZero;
    int mSpan;
    int mTau;
    int mLastCal;
    int mPeakTimer;
    int mMinSpan;
    int mLastBump;
};

// mUnitFlag is at payload offset 0 in every version.
constexpr RColumns kColumns[7] = {
    // uid  ti  sus ser bat bsu bcr  hw  fw life atm ttm acn tcn pel  ah  al cal bmp typ  dz  sg smx sba tcs  zr  sp tau lca pkt msp lbp
    {-1, -1, -1, 1, 12, 16, 18, 20, 21, 24, 28, 32, 36, 38, 40, 44, 46, -1, -1, 48, 50, 52, 54, 56, 60, 72, 74, 76, 80, 84, 88, -1},
    {-1, -1, -1, 1, 12, 16, 18, 20, 21, 24, 28, 32, 36, 38, 40, 44, 46, 48, -1, 52, 54, 56, 58, 60, 64, 76, 78, 80, 84, 88, 92, -1},
    {1, -1, -1, 5, 16, 20, 22, 24, 25, 28, 32, 36, 40, 42, 44, 48, 50, 52, -1, 56, 58, 60, 62, 64, 68, 80, 82, 84, 88, 92, 96, -1},
    {1, -1, -1, 5, 16, 20, 22, 24, 25, 28, 32, 36, 40, 42, 44, 48, 50, 52, 56, 60, 62, 64, 66, 68, 72, 84, 86, 88, 92, 96, 100, 104},
    {1, -1, 5, 6, 18, 22, 24, 26, 27, 28, 32, 36, 40, 42, 44, 48, 50, 52, 56, 60, 62, 64, 66, 68, 72, 84, 86, 88, 92, 96, 100, 104},
    {1, -1, 8, 9, 20, 24, 26, 28, 29, 32, 36, 40, 44, 46, 48, 52, 54, 56, 60, 64, 66, 68, 70, 72, 76, 88, 90, 92, 96, 100, 104, 108},
    {1, 8, 9, 10, 22, 26, 28, 30, 31, 32, 36, 40, 44, 46, 48, 52, 54, 56, 60, 64, 66, 68, 70, 72, 76, 88, 90, 92, 96, 100, 104, 108},
};

constexpr int kPayloadSizes[8] = {92, 96, 100, 112, 112, 116, 116, 128};

// Field copies by memcpy only: the record is packed, so its fields may sit
// at any address and are never bound to references.
#define TAKE(offset, field) std::memcpy(&(field), payload + (offset), sizeof(field))
#define PUT(offset, field) std::memcpy(out + (offset), &(field), sizeof(field))

} // namespace

int CFGPayloadSize(int32_t nVersion)
{
    if (nVersion < 1 || nVersion > 8)
        return 0;
    return kPayloadSizes[nVersion - 1];
}

std::optional<RTamselCFG> ConvertCFGFile(int32_t nVersion, const uint8_t *payload, size_t count)
{
    if (nVersion < 1 || nVersion > 7 || payload == nullptr || count < static_cast<size_t>(CFGPayloadSize(nVersion)))
        return std::nullopt;
    const RColumns &c = kColumns[nVersion - 1];
    RTamselCFG cfg{}; // reserved bytes and CRC words 0
    RTamselUnitCFG &u = cfg.mUnit;
    RTamselSensorCFG &s = cfg.mSensor;

    u.mUnitFlag = payload[0];
    std::memset(u.mUserID, ' ', sizeof u.mUserID);
    if (c.mUserID >= 0)
        std::memcpy(u.mUserID, payload + c.mUserID, nVersion <= 5 ? 3 : sizeof u.mUserID);
    u.mTestInterval = 20;
    if (c.mTestInterval >= 0)
        u.mTestInterval = payload[c.mTestInterval];
    u.mAllowSuspend = kSuspendDenied;
    if (c.mAllowSuspend >= 0)
        u.mAllowSuspend = payload[c.mAllowSuspend];
    TAKE(c.mSerial, u.mSerial);
    TAKE(c.mBatLimit, u.mBatLimit);
    TAKE(c.mBatLimitStartUp, u.mBatLimitStartUp);
    TAKE(c.mBatLimitCritical, u.mBatLimitCritical);
    u.mHWVersion = payload[c.mHWVersion];
    u.mFWVersion = payload[c.mFWVersion];
    TAKE(c.mLifeRemaining, u.mLifeRemaining);
    TAKE(c.mAlarmTime, u.mAlarmTime);
    TAKE(c.mTestTime, u.mTestTime);
    TAKE(c.mAlarmCount, u.mAlarmCount);
    TAKE(c.mTestCount, u.mTestCount);
    u.mPEventLog = payload[c.mPEventLog];

    TAKE(c.mAlarmHigh, s.mAlarmHigh);
    TAKE(c.mAlarmLow, s.mAlarmLow);
    if (c.mCalInterval >= 0)
        TAKE(c.mCalInterval, s.mCalInterval);
    if (c.mBumpInterval >= 0)
        TAKE(c.mBumpInterval, s.mBumpInterval); // the low 16 bits of the 32-bit slot
    s.mSensorType = payload[c.mSensorType];
    TAKE(c.mDeadZone, s.mDeadZone);
    TAKE(c.mSpanGas, s.mSpanGas);
    TAKE(c.mSensorMax, s.mSensorMax);
    TAKE(c.mSensorBase, s.mSensorBase);
    TAKE(c.mTempCompSpan, s.mTempCompSpan);
    TAKE(c.mZero, s.mZero);
    TAKE(c.mSpan, s.mSpan);
    TAKE(c.mTau, s.mTau);
    TAKE(c.mLastCal, s.mLastCal);
    TAKE(c.mPeakTimer, s.mPeakTimer);
    TAKE(c.mMinSpan, s.mMinSpan);
    if (c.mLastBump >= 0)
        TAKE(c.mLastBump, s.mLastBump);
    return cfg;
}

std::array<uint8_t, kCFGPayloadV7Size> MakeCFGFile(const RTamselCFG &mCFG)
{
    const RColumns &c = kColumns[6];
    const RTamselUnitCFG &u = mCFG.mUnit;
    const RTamselSensorCFG &s = mCFG.mSensor;
    std::array<uint8_t, kCFGPayloadV7Size> p{};
    uint8_t *out = p.data();

    out[0] = u.mUnitFlag;
    PUT(c.mUserID, u.mUserID);
    out[c.mTestInterval] = u.mTestInterval;
    out[c.mAllowSuspend] = u.mAllowSuspend;
    PUT(c.mSerial, u.mSerial);
    PUT(c.mBatLimit, u.mBatLimit);
    PUT(c.mBatLimitStartUp, u.mBatLimitStartUp);
    PUT(c.mBatLimitCritical, u.mBatLimitCritical);
    out[c.mHWVersion] = u.mHWVersion;
    out[c.mFWVersion] = u.mFWVersion;
    PUT(c.mLifeRemaining, u.mLifeRemaining);
    PUT(c.mAlarmTime, u.mAlarmTime);
    PUT(c.mTestTime, u.mTestTime);
    PUT(c.mAlarmCount, u.mAlarmCount);
    PUT(c.mTestCount, u.mTestCount);
    const uint16_t eventLog = u.mPEventLog;
    PUT(c.mPEventLog, eventLog);
    // payload bytes 50..51: the unit block's CRC slot, written as 0

    PUT(c.mAlarmHigh, s.mAlarmHigh);
    PUT(c.mAlarmLow, s.mAlarmLow);
    PUT(c.mCalInterval, s.mCalInterval);
    const uint32_t bumpInterval = s.mBumpInterval;
    PUT(c.mBumpInterval, bumpInterval);
    out[c.mSensorType] = s.mSensorType;
    PUT(c.mDeadZone, s.mDeadZone);
    PUT(c.mSpanGas, s.mSpanGas);
    PUT(c.mSensorMax, s.mSensorMax);
    PUT(c.mSensorBase, s.mSensorBase);
    PUT(c.mTempCompSpan, s.mTempCompSpan);
    PUT(c.mZero, s.mZero);
    PUT(c.mSpan, s.mSpan);
    PUT(c.mTau, s.mTau);
    PUT(c.mLastCal, s.mLastCal);
    PUT(c.mPeakTimer, s.mPeakTimer);
    PUT(c.mMinSpan, s.mMinSpan);
    PUT(c.mLastBump, s.mLastBump);
    // payload bytes 112..113: the sensor block's CRC slot, written as 0
    return p;
}

#undef TAKE
#undef PUT

std::vector<uint8_t> CFGFileBytes(const RTamselCFG &mCFG, TDateTime rSavedAt, bool bDeveloperLayout)
{
    RCFGFileHeader header;
    header.mVersion = kCFGFileWriteVersion;
    header.mSavedAt = rSavedAt;
    header.mLayout = bDeveloperLayout ? 1 : 0;
    const auto payload = MakeCFGFile(mCFG);
    std::vector<uint8_t> bytes(kCFGFileWrittenSize);
    std::memcpy(bytes.data(), &header, sizeof header);
    std::memcpy(bytes.data() + kCFGFileHeaderSize, payload.data(), payload.size());
    return bytes;
}

std::optional<RTamselCFG> ParseCFGFile(const uint8_t *bytes, size_t count)
{
    if (bytes == nullptr || count < static_cast<size_t>(kCFGFileHeaderSize))
        return std::nullopt;
    RCFGFileHeader header;
    std::memcpy(&header, bytes, sizeof header);
    const int size = CFGPayloadSize(header.mVersion);
    if (size == 0 || count - kCFGFileHeaderSize < static_cast<size_t>(size))
        return std::nullopt;
    const uint8_t *payload = bytes + kCFGFileHeaderSize;
    if (header.mVersion == 8) {
        RTamselCFG cfg = DefaultCFG();
        std::memcpy(&cfg, payload, sizeof cfg);
        return cfg;
    }
    return ConvertCFGFile(header.mVersion, payload, static_cast<size_t>(size));
}

void ApplyCFGFileRecord(RTamselCFG &mTarget, const RTamselCFG &mFromFile)
{
    RTamselUnitCFG &u = mTarget.mUnit;
    const RTamselUnitCFG &f = mFromFile.mUnit;
    u.mUnitFlag = f.mUnitFlag;
    std::memcpy(u.mUserID, f.mUserID, sizeof u.mUserID);
    u.mTestInterval = f.mTestInterval;
    u.mAllowSuspend = f.mAllowSuspend;
    std::memcpy(u.mSerial, f.mSerial, sizeof u.mSerial);
    std::memcpy(u.mBatLimit, f.mBatLimit, sizeof u.mBatLimit);
    u.mBatLimitStartUp = f.mBatLimitStartUp;
    u.mBatLimitCritical = f.mBatLimitCritical;
    u.mHWVersion = f.mHWVersion;
    u.mFWVersion = f.mFWVersion;
    u.mLifeRemaining = f.mLifeRemaining;

    RTamselSensorCFG &s = mTarget.mSensor;
    const RTamselSensorCFG &g = mFromFile.mSensor;
    s.mAlarmHigh = g.mAlarmHigh;
    s.mAlarmLow = g.mAlarmLow;
    s.mCalInterval = g.mCalInterval;
    s.mBumpInterval = g.mBumpInterval;
    s.mSensorType = g.mSensorType;
    s.mDeadZone = g.mDeadZone;
    s.mSpanGas = g.mSpanGas;
    s.mSensorMax = g.mSensorMax;
    s.mSensorBase = g.mSensorBase;
    std::memcpy(s.mTempCompSpan, g.mTempCompSpan, sizeof s.mTempCompSpan);
}

ECFGLoad LoadConfigFile(const std::string &path, RTamselCFG &mCFG)
{
    // Never more than the largest header and payload: a wrong pick of a
    // large file costs nothing, and a FIFO or a device is refused unread.
    const RInputFile file = ReadInputFileHead(path, kCFGFileHeaderSize + kCFGPayloadMaxSize);
    if (!file.Ok())
        return ECFGLoad::NotOpened;
    const auto record = ParseCFGFile(file.mBytes);
    if (!record)
        return ECFGLoad::Wrong;
    ApplyCFGFileRecord(mCFG, *record);
    return ECFGLoad::Ok;
}

bool WriteConfigFile(const std::string &path, const RTamselCFG &mCFG, bool bDeveloperLayout, std::string *error)
{
    const std::vector<uint8_t> bytes = CFGFileBytes(mCFG, Now(), bDeveloperLayout);
    return WriteFileReplacing(path, bytes.data(), bytes.size(), error);
}
