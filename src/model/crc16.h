#pragma once
// CRC-16/ARC: reflected polynomial 0xA001, initial value 0, no final XOR.
// Used by frames, configuration blocks and firmware images.
#include <cstdint>

uint16_t CRC16Step(uint16_t crc, uint8_t byte);
uint16_t CRC16(const uint8_t *buf, int count);
