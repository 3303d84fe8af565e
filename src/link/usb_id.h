#pragma once
// USB vendor and product IDs as sysfs writes them ("10c4") and as this
// program shows them ("10C4").
#include <cstdint>
#include <string>

// Four upper-case hexadecimal digits.
std::string Hex4(uint16_t value);
// "10C4:EA60"
std::string VidPid(uint16_t vid, uint16_t pid);

// 1 to 4 hexadecimal digits and nothing else (no blanks, no "0x").
bool ParseHexId(const std::string &text, uint16_t &value);
