#pragma once
// The simulated detector's memories and their factory contents.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr int kSimConfigSize = 128; // configuration memory, addresses 0..127
inline constexpr int kSimBlockSize = 64;   // unit block 0..63, sensor block 64..127
inline constexpr int kSimUnitBlock = 0;
inline constexpr int kSimSensorBlock = 64;
inline constexpr int kSimBlockCrcOffset = 62;  // CRC word within a block, low byte first
inline constexpr int kSimSensorTypeAddress = 85;
inline constexpr int kSimSerialAddress = 16;
inline constexpr int kSimFWVersionAddress = 35;
inline constexpr int kSimLifeAddress = 36;
inline constexpr int kSimAlarmHighAddress = 64;
inline constexpr int kSimAlarmLowAddress = 66;
inline constexpr int kSimSpanGasAddress = 88;
inline constexpr int kSimEepromSize = 1024;

// The gas reading's flags: mAlarm bits, and the history bits of mHistory.
inline constexpr uint8_t kSimAlarmLowFlag = 0x04;
inline constexpr uint8_t kSimAlarmHighFlag = 0x08;
inline constexpr uint8_t kSimHistoryCalFail = 0x08;
inline constexpr uint8_t kSimHistoryBumpFail = 0x10;
inline constexpr uint8_t kSimHistoryCalProgress = 0x80;

// The oxygen sensor: 20.9 % in clean air; its alarms come as the level falls
// to the low set point (or rises to the high one).
inline constexpr uint8_t kSimOxygenSensor = 4;
inline constexpr int kSimOxygenClean = 209;
inline constexpr int kSimEventSize = 9;

#pragma pack(push, 1)
// The identity as the detector sends it: the 18 data bytes of the 0xA0 reply.
struct SimIdentity {
    uint8_t mPID = 2;
    uint8_t mHW = 5;
    uint8_t mSW = 14;
    uint8_t mSensor = 1;
    uint32_t mLife = 31536000;
    char mSerial[10] = {'N', 'V', '0', '0', '0', '1', '2', '3', '4', '5'};
};

// One entry of the event log.
struct SimEvent {
    uint32_t mStartEvent;
    uint16_t mDurationEvent;
    uint8_t mAlarmStatusFlag;
    int16_t mSensorReading;
};
#pragma pack(pop)

static_assert(sizeof(SimIdentity) == 18);
static_assert(offsetof(SimIdentity, mPID) == 0 && offsetof(SimIdentity, mHW) == 1 && offsetof(SimIdentity, mSW) == 2 &&
              offsetof(SimIdentity, mSensor) == 3 && offsetof(SimIdentity, mLife) == 4 &&
              offsetof(SimIdentity, mSerial) == 8);
static_assert(sizeof(SimEvent) == kSimEventSize);
static_assert(offsetof(SimEvent, mStartEvent) == 0 && offsetof(SimEvent, mDurationEvent) == 4 &&
              offsetof(SimEvent, mAlarmStatusFlag) == 6 && offsetof(SimEvent, mSensorReading) == 7);

// The factory record with both block CRC words valid.
std::array<uint8_t, kSimConfigSize> SimDefaultConfig();
// Writes the sensor block's low and high alarm levels and its span gas
// (tenths of the sensor's unit) and reseals the block.
void SimSetSensorLevels(std::array<uint8_t, kSimConfigSize> &config, uint16_t low, uint16_t high, uint16_t span);
// Recomputes the CRC word of the block starting at blockStart (0 or 64).
void SimSealBlock(std::array<uint8_t, kSimConfigSize> &config, int blockStart);
// True when the block's CRC word matches its first 62 bytes.
bool SimBlockCrcOk(const std::array<uint8_t, kSimConfigSize> &config, int blockStart);

// A few plausible events (oldest first) ending in a whole entry of 0xFF: the
// end marker. `life` is the identity's life counter: the newest event started
// one day before it.
std::vector<uint8_t> SimDefaultEventLog(uint32_t life = SimIdentity().mLife);
// The log after a reset: the end marker alone.
std::vector<uint8_t> SimEmptyEventLog();

// A detector in service for five months with the given sensor: identity and
// configuration agree (serial, versions, life, sensor), hibernation allowed,
// calibration every 180 days and bump test every 30, lifetime counters, and
// an event log of the last eight weeks (self-tests, alarms, bump tests, a
// calibration) whose last calibration and bump are the record's mLastCal and
// mLastBump. The same seed gives the same unit.
struct SimUnitMemories {
    std::array<uint8_t, kSimConfigSize> config{};
    SimIdentity identity{};
    std::vector<uint8_t> log;
};
SimUnitMemories SimDemoUnit(uint8_t sensorCode, uint32_t seed);
// The EEPROM of such a unit: the configuration at 0, the identity at 128, the
// event log from 256 on, erased (0xFF) elsewhere.
std::vector<uint8_t> SimComposeEeprom(const std::array<uint8_t, kSimConfigSize> &config, const SimIdentity &identity,
                                      const std::vector<uint8_t> &log);
inline constexpr int kSimEepromIdentityAddress = 128;
inline constexpr int kSimEepromLogAddress = 256;

// A well-mixed 32-bit value of two inputs: the simulator's seeded randomness.
uint32_t SimHash(uint32_t a, uint32_t b);

// 1024 bytes: byte at address a is (a & 0xFF) XOR (a >> 8), so every page of
// 256 bytes differs from the others.
std::vector<uint8_t> SimDefaultEeprom();
uint8_t SimEepromPattern(int address);

// A firmware image of `packets` blocks of `packetSize` bytes with a valid image
// CRC (little-endian word at 0 = CRC16 of bytes 2..end) and the given header.
std::vector<uint8_t> SimMakeFirmwareImage(int packets, int packetSize, uint8_t product, uint8_t fwVersion,
                                          uint8_t hwVersion, uint8_t minFw, uint8_t minHw);
// True when the image is at least 7 bytes and its stored CRC matches.
bool SimImageCrcOk(const std::vector<uint8_t> &image);
