#pragma once
// The small records the detector hands over besides its configuration: the
// identity, a live reading and the event-log entries; the product table and
// the sensor-type lookup.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "model/config_record.h"
#include "model/read_buf.h"
#include "model/settings_types.h"

#pragma pack(push, 1)
// The first 18 payload bytes of the identity reply.
struct RTamselIdenty {
    uint8_t mPID = 0;      // product ID
    uint8_t mHW = 0;       // hardware version
    uint8_t mSW = 0;       // firmware version x10
    uint8_t mSensor = 0;   // installed sensor code
    uint32_t mLife = 0;    // life remaining, seconds
    char mSerial[10] = {}; // no terminator
};

// The first 6 payload bytes of a reading reply. One shape for three
// quantities: gas (mode 0), temperature (1), battery (2).
struct RTamselSensor {
    uint16_t mSensor = 0;  // reading (gas: signed, 0x7FFF over range)
    uint16_t mPeak = 0;    // gas peak (mode 0) or raw ADC count (modes 1, 2)
    uint8_t mHistory = 0;  // bits 0..1 decimals; bits 2..7 history flags
    uint8_t mAlarm = 0;    // alarm flags
};

// One entry of the detector's event log.
struct RTamselEvent {
    uint32_t mStartEvent = 0;     // life counter at the start; all ones ends the log
    uint16_t mDurationEvent = 0;  // bit 15 bump test, bits 0..14 seconds
    uint8_t mAlarmStatusFlag = 0; // bit 2 low alarm, bit 3 high alarm
    int16_t mSensorReading = 0;   // tenths; 0x7FFF over range
};
#pragma pack(pop)

static_assert(std::is_trivially_copyable_v<RTamselIdenty> && std::is_standard_layout_v<RTamselIdenty>);
static_assert(sizeof(RTamselIdenty) == 18);
static_assert(offsetof(RTamselIdenty, mPID) == 0);
static_assert(offsetof(RTamselIdenty, mHW) == 1);
static_assert(offsetof(RTamselIdenty, mSW) == 2);
static_assert(offsetof(RTamselIdenty, mSensor) == 3);
static_assert(offsetof(RTamselIdenty, mLife) == 4);
static_assert(offsetof(RTamselIdenty, mSerial) == 8);

static_assert(std::is_trivially_copyable_v<RTamselSensor> && std::is_standard_layout_v<RTamselSensor>);
static_assert(sizeof(RTamselSensor) == 6);
static_assert(offsetof(RTamselSensor, mSensor) == 0);
static_assert(offsetof(RTamselSensor, mPeak) == 2);
static_assert(offsetof(RTamselSensor, mHistory) == 4);
static_assert(offsetof(RTamselSensor, mAlarm) == 5);

static_assert(std::is_trivially_copyable_v<RTamselEvent> && std::is_standard_layout_v<RTamselEvent>);
static_assert(sizeof(RTamselEvent) == 9);
static_assert(offsetof(RTamselEvent, mStartEvent) == 0);
static_assert(offsetof(RTamselEvent, mDurationEvent) == 4);
static_assert(offsetof(RTamselEvent, mAlarmStatusFlag) == 6);
static_assert(offsetof(RTamselEvent, mSensorReading) == 7);

// ---- product table ----

inline constexpr uint8_t kProductNorvik = 2;
inline constexpr uint8_t kStatusWrongProduct = 0x92; // 146

// "Tamsel", "Tamsel (TS)", "Norvik", "Norvik (TS)", "Dravik Clip",
// "Dravik Clip (TS)" for 0..5; "---" for any other ID.
std::string GetProductName(uint8_t nPID);
// 0 when the product is accepted, 146 when not. User layout: only nExpected;
// developer layout: 0, 2 and 4.
uint8_t CheckProductID(uint8_t nPID, uint8_t nExpected, bool bUserMode);

// Index of the last entry whose mIndex equals nCode; -1 when none (or empty).
int FindSensorType(uint8_t nCode, const std::vector<RSensorType> &types);

// The six identity lines: "Product ID = 2", "Hardware Version = 005",
// "Firmware Version = 1.4", "Life Remaining = 63072000 sec",
// "Sensor present = 0x04", "Serial Number = SH10000000".
std::vector<std::string> IdentyLines(const RTamselIdenty &mIdenty);

// ---- readings ----

inline constexpr uint16_t kGasOverRange = 0x7FFF;

// Decimal places of a record's values: mHistory AND 3.
inline int SensorDecimals(const RTamselSensor &r) { return r.mHistory & 3; }
// 1, 10, 100 or 1000.
double SensorDivisor(const RTamselSensor &r);
// A raw count with nDecimals implied decimals, exactly: (1234, 2) -> "12.34",
// (-10, 1) -> "-1.0", (7, 0) -> "7". Negative nDecimals count as 0, above 8 as 8.
std::string ScaledToStr(int64_t nRaw, int nDecimals);

inline bool GasOverRange(const RTamselSensor &r) { return r.mSensor == kGasOverRange; }
// The gas reading as a signed count: 0x8000 and above are negative.
inline int32_t GasRaw(uint16_t nRaw) { return nRaw >= 0x8000 ? static_cast<int32_t>(nRaw) - 65536 : nRaw; }
// The gas value in the sensor's unit (over range gives 32767 / divisor).
double GasValue(const RTamselSensor &r);
// "OL" when over range, else the signed, scaled reading: 0xFFF6 with one
// decimal -> "-1.0", 0x0096 -> "15.0".
std::string GasReadingToStr(const RTamselSensor &r);
// The gas peak: unsigned, scaled with the record's decimals.
double GasPeakValue(const RTamselSensor &r);
std::string GasPeakToStr(const RTamselSensor &r);
// Temperature and battery: unsigned, scaled with the record's own decimals.
double ChannelValue(const RTamselSensor &r);
std::string ChannelValueToStr(const RTamselSensor &r);
// Temperature and battery raw ADC count (mPeak), unscaled.
inline std::string ChannelAdcToStr(const RTamselSensor &r) { return std::to_string(r.mPeak); }

// A flag bit with its caption and, where the reading log has one, its column.
struct RFlagCaption {
    uint8_t mMask;
    const char *mCaption;
    const char *mLogColumn; // nullptr: no column of its own
};
// mHistory bits 2..7, low bit first.
extern const std::array<RFlagCaption, 6> kHistoryFlags;
// mAlarm bits 0..4, low bit first.
extern const std::array<RFlagCaption, 5> kAlarmFlags;
inline bool FlagSet(uint8_t nBits, const RFlagCaption &flag) { return (nBits & flag.mMask) != 0; }

// ---- event log ----

inline constexpr uint32_t kEventLogEnd = 0xFFFFFFFF;
inline constexpr uint8_t kEventLowAlarm = 0x04;
inline constexpr uint8_t kEventHighAlarm = 0x08;

inline bool IsEventLogEnd(const RTamselEvent &e) { return e.mStartEvent == kEventLogEnd; }
inline bool IsBumpEvent(const RTamselEvent &e) { return (e.mDurationEvent & 0x8000) != 0; }
inline uint16_t EventDurationSeconds(const RTamselEvent &e) { return e.mDurationEvent & 0x7FFF; }
inline bool EventOverRange(const RTamselEvent &e) { return e.mSensorReading == 0x7FFF; }
// The reading in the sensor's unit (tenths / 10).
inline double EventReading(const RTamselEvent &e) { return e.mSensorReading / 10.0; }

// Entry nIndex of a downloaded log whose entries lie nPacketSize bytes apart:
// the 9 bytes at nIndex * nPacketSize. False (record unchanged) when the
// stride is below 1 or the entry would reach past the carrier.
bool EventFromBuf(const RComTamselReadBuf &mBuf, int nIndex, int nPacketSize, RTamselEvent &mEvent);
