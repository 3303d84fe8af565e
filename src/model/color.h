#pragma once
// Colours of the status bar and the EEPROM grid, as plain values.
#include <cstdint>

struct RColor {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const RColor &) const = default;
};

inline constexpr RColor clWhite{255, 255, 255};
inline constexpr RColor clBlack{0, 0, 0};
inline constexpr RColor clLime{0, 255, 0};
inline constexpr RColor clRed{255, 0, 0};
