#include "model/crc16.h"

#include <array>

namespace {
constexpr std::array<uint16_t, 256> MakeTable()
{
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t reg = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 1) ? static_cast<uint16_t>((reg >> 1) ^ 0xA001) : static_cast<uint16_t>(reg >> 1);
        table[i] = reg;
    }
    return table;
}
constexpr auto kTable = MakeTable();
static_assert(kTable[1] == 0xC0C1 && kTable[255] == 0x4040);
} // namespace

uint16_t CRC16Step(uint16_t crc, uint8_t byte)
{
    return static_cast<uint16_t>(kTable[(crc ^ byte) & 0xFF] ^ (crc >> 8));
}

uint16_t CRC16(const uint8_t *buf, int count)
{
    uint16_t crc = 0;
    for (int i = 0; i < count; ++i)
        crc = CRC16Step(crc, buf[i]);
    return crc;
}
