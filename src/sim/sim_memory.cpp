#include "sim/sim_memory.h"

#include <algorithm>
#include <cstring>

#include "model/crc16.h"

namespace {

void Put16(std::array<uint8_t, kSimConfigSize> &m, int at, uint16_t v)
{
    m[at] = static_cast<uint8_t>(v);
    m[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(std::array<uint8_t, kSimConfigSize> &m, int at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        m[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutText(std::array<uint8_t, kSimConfigSize> &m, int at, const char *text, int size)
{
    std::memcpy(m.data() + at, text, static_cast<size_t>(size));
}

} // namespace

std::array<uint8_t, kSimConfigSize> SimDefaultConfig()
{
    std::array<uint8_t, kSimConfigSize> m{};
    // Unit block.
    m[0] = 0x01;                      // mUnitFlag: show the sensor reading
    PutText(m, 1, "      ", 6);       // mUserID
    m[7] = 20;                        // mTestInterval, hours
    m[15] = 0xFF;                     // mAllowSuspend: not allowed
    PutText(m, 16, "SH10000000", 10); // mSerial
    Put16(m, 26, 649);                // mBatLimit[0]
    Put16(m, 28, 649);                // mBatLimit[1]
    Put16(m, 30, 708);                // mBatLimitStartUp
    Put16(m, 32, 600);                // mBatLimitCritical
    Put32(m, kSimLifeAddress, 63072000); // mLifeRemaining
    // Sensor block.
    Put16(m, 64, 150);          // mAlarmHigh
    Put16(m, 66, 100);          // mAlarmLow
    m[kSimSensorTypeAddress] = 1; // mSensorType: H2S
    Put16(m, 86, 15);           // mDeadZone
    Put16(m, 88, 250);          // mSpanGas
    Put16(m, 90, 1000);         // mSensorMax
    Put32(m, 94, static_cast<uint32_t>(-229832)); // mTempCompSpan
    Put32(m, 98, static_cast<uint32_t>(-554));
    Put32(m, 102, static_cast<uint32_t>(-163383));
    Put16(m, 106, 204);         // mZero
    Put16(m, 108, 5561);        // mSpan
    Put16(m, 110, 5);           // mTau
    Put32(m, 112, 63072000);    // mLastCal
    Put16(m, 120, 3440);        // mMinSpan
    SimSealBlock(m, kSimUnitBlock);
    SimSealBlock(m, kSimSensorBlock);
    return m;
}

void SimSetSensorLevels(std::array<uint8_t, kSimConfigSize> &config, uint16_t low, uint16_t high, uint16_t span)
{
    Put16(config, kSimAlarmLowAddress, low);
    Put16(config, kSimAlarmHighAddress, high);
    Put16(config, kSimSpanGasAddress, span);
    SimSealBlock(config, kSimSensorBlock);
}

void SimSealBlock(std::array<uint8_t, kSimConfigSize> &config, int blockStart)
{
    Put16(config, blockStart + kSimBlockCrcOffset, CRC16(config.data() + blockStart, kSimBlockCrcOffset));
}

bool SimBlockCrcOk(const std::array<uint8_t, kSimConfigSize> &config, int blockStart)
{
    const int at = blockStart + kSimBlockCrcOffset;
    const uint16_t stored = static_cast<uint16_t>(config[at] | (config[at + 1] << 8));
    return stored == CRC16(config.data() + blockStart, kSimBlockCrcOffset);
}

std::vector<uint8_t> SimDefaultEventLog(uint32_t life)
{
    constexpr uint32_t kDay = 86400;
    const SimEvent events[] = {
        {life + 5 * kDay + 3600, 90, 0x04, 255},             // low alarm, 25.5
        {life + 4 * kDay, 0x803C, 0x00, 250},                // bump test, 60 s
        {life + 3 * kDay + 7200, 300, 0x0C, 0x7FFF},         // high alarm, over range
        {life + 2 * kDay, 45, 0x04, 120},                    // low alarm, 12.0
        {life + kDay, 0x801E, 0x00, 248},                    // bump test, 30 s
    };
    // The events, then one erased (0xFF) record that ends the log.
    std::vector<uint8_t> log(sizeof(events) + kSimEventSize, 0xFF);
    std::memcpy(log.data(), events, sizeof(events));
    return log;
}

uint32_t SimHash(uint32_t a, uint32_t b)
{
    uint32_t z = a * 0x9E3779B9u ^ (b + 0x7F4A7C15u + (a << 6) + (a >> 2));
    z = (z ^ (z >> 16)) * 0x85EBCA6Bu;
    z = (z ^ (z >> 13)) * 0xC2B2AE35u;
    return z ^ (z >> 16);
}

SimUnitMemories SimDemoUnit(uint8_t sensorCode, uint32_t seed)
{
    constexpr uint32_t kDay = 86400;
    constexpr uint32_t kHour = 3600;
    constexpr uint32_t kFullLife = 63072000;
    constexpr int kDaysInService = 152;
    constexpr int kLogDays = 56;
    constexpr uint16_t kBump = 0x8000;
    constexpr uint16_t kSpanGas = 250; // 25.0 ppm
    constexpr uint8_t kTestInterval = 20; // hours
    constexpr char kSerial[] = "SH24031507";

    SimUnitMemories unit;
    const uint32_t life = kFullLife - kDaysInService * kDay;
    uint32_t draws = 0;
    auto pick = [&](uint32_t lo, uint32_t hi) { return lo + SimHash(seed, draws++) % (hi - lo + 1); };
    // The life counter runs down, so an event `days` days and less `hour` hours
    // (less a part of the next hour) before the present started at this value.
    auto at = [&](int days, uint32_t hour) { return life + days * kDay - hour * kHour - pick(0, kHour - 1); };

    std::vector<SimEvent> events;
    uint32_t lastCal = 0, lastBump = 0, alarmTime = 0, peakAt = 0;
    uint16_t alarms = 0;
    int16_t peak = 0;
    for (int day = kLogDays; day >= 1; --day) {
        if (day % 3 == 0) // the self-test the unit logs every third day
            events.push_back({at(day, 5), static_cast<uint16_t>(pick(8, 14)), 0x00, 0});
        if (day == 41) { // calibration with the span gas of the record
            lastCal = at(day, 9);
            events.push_back({lastCal, static_cast<uint16_t>(pick(90, 130)), 0x00, static_cast<int16_t>(kSpanGas)});
        }
        if (day % 14 == 8) { // bump test: span gas sets off both alarms
            lastBump = at(day, 7);
            events.push_back({lastBump, static_cast<uint16_t>(kBump | pick(30, 60)), 0x0C,
                              static_cast<int16_t>(pick(238, 256))});
        }
        if (pick(0, 99) < 28) { // an alarm at work
            const uint32_t kind = pick(0, 99);
            SimEvent e{at(day, pick(8, 16)), 0, 0x0C, 0};
            if (kind < 60) {
                e = {e.mStartEvent, static_cast<uint16_t>(pick(15, 240)), 0x04, static_cast<int16_t>(pick(100, 149))};
            } else if (kind < 94) {
                e.mDurationEvent = static_cast<uint16_t>(pick(30, 900));
                e.mSensorReading = static_cast<int16_t>(pick(150, 480));
            } else {
                e.mDurationEvent = static_cast<uint16_t>(pick(60, 300));
                e.mSensorReading = 0x7FFF; // over range
            }
            ++alarms;
            alarmTime += e.mDurationEvent;
            if (e.mSensorReading >= peak) {
                peak = e.mSensorReading;
                peakAt = e.mStartEvent;
            }
            events.push_back(e);
        }
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const SimEvent &a, const SimEvent &b) { return a.mStartEvent > b.mStartEvent; });
    unit.log.resize(events.size() * kSimEventSize);
    std::memcpy(unit.log.data(), events.data(), unit.log.size());
    unit.log.insert(unit.log.end(), kSimEventSize, 0xFF);

    // Lifetime counters: the log holds the last weeks, the counters everything.
    const uint16_t olderAlarms = static_cast<uint16_t>(pick(5, 12));
    alarms += olderAlarms;
    alarmTime += olderAlarms * pick(60, 200);
    const uint16_t tests = static_cast<uint16_t>(kDaysInService * 24 / kTestInterval);

    auto &m = unit.config;
    m = SimDefaultConfig();
    PutText(m, 1, "CREW-B", 6);    // mUserID
    m[7] = kTestInterval;          // mTestInterval
    m[15] = 0x80;                  // mAllowSuspend: hibernation allowed
    PutText(m, 16, kSerial, 10);   // mSerial
    m[34] = 5;                     // mHWVersion
    m[kSimFWVersionAddress] = 14;  // mFWVersion: 1.4
    Put32(m, kSimLifeAddress, life);
    Put32(m, 40, alarmTime);       // mAlarmTime
    Put32(m, 44, tests * 11u);     // mTestTime: about 11 s a self-test
    Put16(m, 48, alarms);          // mAlarmCount
    Put16(m, 50, tests);           // mTestCount
    m[52] = static_cast<uint8_t>(events.size()); // mPEventLog
    Put32(m, 68, 180 * kDay);      // mCalInterval
    Put16(m, 72, 30);              // mBumpInterval, days
    m[kSimSensorTypeAddress] = sensorCode;
    Put16(m, kSimSpanGasAddress, kSpanGas);
    Put16(m, 106, 209);            // mZero
    Put16(m, 108, 5472);           // mSpan: this sensor's own factor
    Put32(m, 112, lastCal);        // mLastCal
    Put32(m, 116, peakAt);         // mPeakTimer
    Put32(m, 122, lastBump);       // mLastBump
    SimSealBlock(m, kSimUnitBlock);
    SimSealBlock(m, kSimSensorBlock);

    unit.identity.mPID = 2;
    unit.identity.mHW = m[34];
    unit.identity.mSW = m[kSimFWVersionAddress];
    unit.identity.mSensor = sensorCode;
    unit.identity.mLife = life;
    std::memcpy(unit.identity.mSerial, kSerial, 10);
    return unit;
}

std::vector<uint8_t> SimComposeEeprom(const std::array<uint8_t, kSimConfigSize> &config, const SimIdentity &identity,
                                      const std::vector<uint8_t> &log)
{
    std::vector<uint8_t> e(kSimEepromSize, 0xFF);
    std::copy(config.begin(), config.end(), e.begin());
    std::memcpy(e.data() + kSimEepromIdentityAddress, &identity, sizeof identity);
    const size_t room = e.size() - kSimEepromLogAddress;
    std::copy_n(log.begin(), std::min(room, log.size()), e.begin() + kSimEepromLogAddress);
    return e;
}

std::vector<uint8_t> SimEmptyEventLog()
{
    return std::vector<uint8_t>(kSimEventSize, 0xFF);
}

uint8_t SimEepromPattern(int address)
{
    return static_cast<uint8_t>((address & 0xFF) ^ ((address >> 8) & 0xFF));
}

std::vector<uint8_t> SimDefaultEeprom()
{
    std::vector<uint8_t> e(kSimEepromSize);
    for (int a = 0; a < kSimEepromSize; ++a)
        e[static_cast<size_t>(a)] = SimEepromPattern(a);
    return e;
}

std::vector<uint8_t> SimMakeFirmwareImage(int packets, int packetSize, uint8_t product, uint8_t fwVersion,
                                          uint8_t hwVersion, uint8_t minFw, uint8_t minHw)
{
    const int size = packets * packetSize;
    std::vector<uint8_t> image(static_cast<size_t>(size > 7 ? size : 7));
    image[2] = product;
    image[3] = fwVersion;
    image[4] = hwVersion;
    image[5] = minFw;
    image[6] = minHw;
    for (size_t i = 7; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 31 + 7);
    const uint16_t crc = CRC16(image.data() + 2, static_cast<int>(image.size()) - 2);
    image[0] = static_cast<uint8_t>(crc);
    image[1] = static_cast<uint8_t>(crc >> 8);
    return image;
}

bool SimImageCrcOk(const std::vector<uint8_t> &image)
{
    if (image.size() < 7)
        return false;
    const uint16_t stored = static_cast<uint16_t>(image[0] | (image[1] << 8));
    return stored == CRC16(image.data() + 2, static_cast<int>(image.size()) - 2);
}
