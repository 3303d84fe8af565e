#include "sim/sim_memory.h"

#include <cstring>

#include "link/crc16.h"

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
    std::vector<uint8_t> log(sizeof(events));
    std::memcpy(log.data(), events, sizeof(events));
    log.insert(log.end(), kSimEventSize, 0xFF);
    return log;
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
