#pragma once
// The detector's 128-byte configuration record: a byte-exact image of its
// configuration memory (record byte n is configuration address n). Two
// 64-byte blocks, each closed by a CRC word over its first 62 bytes.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "model/crc16.h"
#include "model/convert.h"
#include "model/read_buf.h"
#include "model/settings_types.h"

static_assert(std::endian::native == std::endian::little,
              "records are copied byte for byte to and from the little-endian detector");

#pragma pack(push, 1)
// Unit block, configuration addresses 0..63.
struct RTamselUnitCFG {
    uint8_t mUnitFlag = 0;         // bit 0 show reading, bit 1 hide bump-due LED, bit 2 reading only
    char mUserID[6] = {};          // left-aligned, blank padded, no terminator
    uint8_t mTestInterval = 0;     // hours
    uint8_t mDummy1[7] = {};       // reserved
    uint8_t mAllowSuspend = 0;     // 0x80 = hibernation allowed
    char mSerial[10] = {};         // no terminator
    uint16_t mBatLimit[2] = {};    // ADC counts: low temperature, normal temperature
    uint16_t mBatLimitStartUp = 0; // ADC counts
    uint16_t mBatLimitCritical = 0;
    uint8_t mHWVersion = 0;
    uint8_t mFWVersion = 0;        // version x10
    uint32_t mLifeRemaining = 0;   // seconds, counting down
    uint32_t mAlarmTime = 0;       // seconds
    uint32_t mTestTime = 0;        // seconds
    uint16_t mAlarmCount = 0;
    uint16_t mTestCount = 0;
    uint8_t mPEventLog = 0;        // kept by the detector, never interpreted
    uint8_t mDummy2[9] = {};       // reserved
    uint16_t mCRC = 0;             // CRC16 of block bytes 0..61
};

// Sensor block, configuration addresses 64..127. Levels are in tenths of
// the sensor's unit.
struct RTamselSensorCFG {
    uint16_t mAlarmHigh = 0;
    uint16_t mAlarmLow = 0;
    uint32_t mCalInterval = 0;     // seconds (edited in whole days)
    uint16_t mBumpInterval = 0;    // days
    uint8_t mDummy1[11] = {};      // reserved
    uint8_t mSensorType = 0;       // SensorTypes code; 0 = no sensor information
    uint16_t mDeadZone = 0;
    uint16_t mSpanGas = 0;
    uint16_t mSensorMax = 0;
    uint16_t mSensorBase = 0;
    int32_t mTempCompSpan[3] = {}; // temperature compensation coefficients
    uint16_t mZero = 0;            // raw counts
    uint16_t mSpan = 0;            // thousandths
    uint16_t mTau = 0;
    uint32_t mLastCal = 0;         // seconds
    uint32_t mPeakTimer = 0;       // seconds
    uint16_t mMinSpan = 0;         // thousandths
    uint32_t mLastBump = 0;        // seconds
    uint16_t mCRC = 0;             // CRC16 of block bytes 0..61
};

struct RTamselCFG {
    RTamselUnitCFG mUnit;
    RTamselSensorCFG mSensor;
};
#pragma pack(pop)

static_assert(std::is_trivially_copyable_v<RTamselCFG> && std::is_standard_layout_v<RTamselCFG>);
static_assert(sizeof(RTamselUnitCFG) == 64);
static_assert(offsetof(RTamselUnitCFG, mUnitFlag) == 0);
static_assert(offsetof(RTamselUnitCFG, mUserID) == 1);
static_assert(offsetof(RTamselUnitCFG, mTestInterval) == 7);
static_assert(offsetof(RTamselUnitCFG, mDummy1) == 8);
static_assert(offsetof(RTamselUnitCFG, mAllowSuspend) == 15);
static_assert(offsetof(RTamselUnitCFG, mSerial) == 16);
static_assert(offsetof(RTamselUnitCFG, mBatLimit) == 26);
static_assert(offsetof(RTamselUnitCFG, mBatLimitStartUp) == 30);
static_assert(offsetof(RTamselUnitCFG, mBatLimitCritical) == 32);
static_assert(offsetof(RTamselUnitCFG, mHWVersion) == 34);
static_assert(offsetof(RTamselUnitCFG, mFWVersion) == 35);
static_assert(offsetof(RTamselUnitCFG, mLifeRemaining) == 36);
static_assert(offsetof(RTamselUnitCFG, mAlarmTime) == 40);
static_assert(offsetof(RTamselUnitCFG, mTestTime) == 44);
static_assert(offsetof(RTamselUnitCFG, mAlarmCount) == 48);
static_assert(offsetof(RTamselUnitCFG, mTestCount) == 50);
static_assert(offsetof(RTamselUnitCFG, mPEventLog) == 52);
static_assert(offsetof(RTamselUnitCFG, mDummy2) == 53);
static_assert(offsetof(RTamselUnitCFG, mCRC) == 62);

static_assert(sizeof(RTamselSensorCFG) == 64);
static_assert(offsetof(RTamselSensorCFG, mAlarmHigh) == 0);
static_assert(offsetof(RTamselSensorCFG, mAlarmLow) == 2);
static_assert(offsetof(RTamselSensorCFG, mCalInterval) == 4);
static_assert(offsetof(RTamselSensorCFG, mBumpInterval) == 8);
static_assert(offsetof(RTamselSensorCFG, mDummy1) == 10);
static_assert(offsetof(RTamselSensorCFG, mSensorType) == 21);
static_assert(offsetof(RTamselSensorCFG, mDeadZone) == 22);
static_assert(offsetof(RTamselSensorCFG, mSpanGas) == 24);
static_assert(offsetof(RTamselSensorCFG, mSensorMax) == 26);
static_assert(offsetof(RTamselSensorCFG, mSensorBase) == 28);
static_assert(offsetof(RTamselSensorCFG, mTempCompSpan) == 30);
static_assert(offsetof(RTamselSensorCFG, mZero) == 42);
static_assert(offsetof(RTamselSensorCFG, mSpan) == 44);
static_assert(offsetof(RTamselSensorCFG, mTau) == 46);
static_assert(offsetof(RTamselSensorCFG, mLastCal) == 48);
static_assert(offsetof(RTamselSensorCFG, mPeakTimer) == 52);
static_assert(offsetof(RTamselSensorCFG, mMinSpan) == 56);
static_assert(offsetof(RTamselSensorCFG, mLastBump) == 58);
static_assert(offsetof(RTamselSensorCFG, mCRC) == 62);

static_assert(sizeof(RTamselCFG) == 128);
static_assert(offsetof(RTamselCFG, mUnit) == 0);
static_assert(offsetof(RTamselCFG, mSensor) == 64);

inline constexpr int kCFGBlockSize = 64;
inline constexpr int kCFGRecordSize = 128;
inline constexpr int kCFGSensorBase = 64; // record offset of the sensor block

// mUnitFlag bits.
inline constexpr uint8_t kUnitFlagShowReading = 0x01;
inline constexpr uint8_t kUnitFlagHideBumpLED = 0x02;
inline constexpr uint8_t kUnitFlagReadingOnly = 0x04;
// mAllowSuspend values the editor writes.
inline constexpr uint8_t kSuspendAllowed = 0x80;
inline constexpr uint8_t kSuspendDenied = 0xFF;

// Status of a block read whose CRC word does not match.
inline constexpr uint8_t kStatusBlockCRC = 0xC0;

// Fills all 128 bytes with the default record (both CRC words 0).
void SetDefaultCFG(RTamselCFG &mCFG);
RTamselCFG DefaultCFG();

// Copy the first 64 received bytes of a block read into the block. When fewer
// arrived, only those are copied and the rest of the block is left as it was.
void CopyCFGBlock(const RComTamselReadBuf &received, void *block);
void CopyUnitCFG(const RComTamselReadBuf &received, RTamselUnitCFG &mData);
void CopySensorCFG(const RComTamselReadBuf &received, RTamselSensorCFG &mData);

// The write carrier: mData = 128, bytes 0..127 the record, every byte after
// it zero (so a configured range reaching past the record sends zeros).
void CFGToReadBuf(const RTamselCFG &mCFG, RComTamselReadBuf &mBuf);

// The CRC word a block must carry: CRC16 over its bytes 0..61.
inline uint16_t BlockCRC(const void *block)
{
    return CRC16(static_cast<const uint8_t *>(block), kCFGBlockSize - 2);
}
// Writes the correct CRC word into both blocks (the detector's side of the rule).
inline void SealCFG(RTamselCFG &mCFG)
{
    mCFG.mUnit.mCRC = BlockCRC(&mCFG.mUnit);
    mCFG.mSensor.mCRC = BlockCRC(&mCFG.mSensor);
}

// The check of a block read: CRC16 over the first (received - 2) bytes against
// the little-endian word at block bytes 62..63. 0 when they match, 192 when
// not, and 192 when fewer than a whole block (64 bytes) arrived, since such a
// block cannot be trusted.
inline uint8_t CheckBlockCRC(const RComTamselReadBuf &received)
{
    const int32_t n = received.mData;
    if (n < kCFGBlockSize || n > kReadBufCapacity)
        return kStatusBlockCRC;
    const uint16_t stored = static_cast<uint16_t>(received.mBuf[62] | (received.mBuf[63] << 8));
    return CRC16(received.mBuf, n - 2) == stored ? 0 : kStatusBlockCRC;
}

// The second counters (mAlarmTime, mTestTime, mLastCal, mPeakTimer,
// mLastBump) mean "not set" above 63072000.
inline bool CounterIsSet(uint32_t nSeconds) { return nSeconds <= kMaxLifeSeconds; }
// The counter in decimal, or "---" when not set.
std::string CounterToStr(uint32_t nSeconds);

// A character field as text: its bytes up to the first zero byte.
std::string CharFieldToStr(const char *field, size_t size);
template <size_t N> std::string CharFieldToStr(const char (&field)[N]) { return CharFieldToStr(field, N); }

// The display modes, in the order of the display choice lists.
enum class EDisplayMode : int {
    LifeAndReading = 0, // "Life Remaining (+ Sensor Reading when gas applied)"
    SensorReading = 1,  // "Sensor Reading"
    LifeRemaining = 2,  // "Life Remaining"
};
inline constexpr int kDisplayModeCount = 3;
extern const char *const kDisplayModeTexts[kDisplayModeCount];
// Bit 0 clear: LifeRemaining; bits 0 and 2 set: SensorReading; else LifeAndReading.
EDisplayMode DisplayModeOfFlag(uint8_t mUnitFlag);
inline bool HideBumpLEDOfFlag(uint8_t mUnitFlag) { return (mUnitFlag & kUnitFlagHideBumpLED) != 0; }
// The flag byte the editor builds: 2 for the hide-bump option, plus 1 for the
// first mode, 5 for the second, nothing for the third or for no selection
// (any nMode outside 0..2). Bits 3..7 are always 0.
uint8_t UnitFlagFromView(int nMode, bool bHideBumpLED);

// One partial write of the settings: mSize bytes of the carrier from record
// byte mAddress (the settings' 1-based start minus 1, so -1 for a start of 0),
// with the settings keys its start and size come from (section "UNIT").
struct RCFGWriteRange {
    const char *mName;
    int32_t mAddress;
    uint16_t mSize;
    const char *mStartKey = "";
    const char *mSizeKey = "";
    bool operator==(const RCFGWriteRange &o) const { return mAddress == o.mAddress && mSize == o.mSize; }
};
// The one rule for what may be written: at least one byte, and every byte
// within the 128-byte record (record bytes nAddress .. nAddress + nSize - 1).
inline bool CFGRangeFits(int64_t nAddress, int64_t nSize)
{
    return nSize > 0 && nAddress >= 0 && nAddress + nSize <= kCFGRecordSize;
}
// The write ranges of a settings record in sending order (unit factory, unit
// user, sensor factory, sensor user), those of size 0 left out (they are not
// written). Ranges that do not fit the record are listed too:
// CFGWriteRangeProblems names them, and nothing may be sent while it does.
std::vector<RCFGWriteRange> CFGWriteRanges(const RDeviceCFG &cfg);
// One line per range of size above 0 that does not fit the record, naming its
// settings keys, their values and what is wrong; empty when all fit.
std::vector<std::string> CFGWriteRangeProblems(const RDeviceCFG &cfg);
