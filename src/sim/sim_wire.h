#pragma once
// The one-byte answers of the simulated detector and the opcodes of the
// wake-up and kill frames: shared by the line handling and the command handlers.
#include <cstdint>

namespace sim_wire {

inline constexpr uint8_t kAck = 0xB5;
inline constexpr uint8_t kNak = 0xB6;
inline constexpr uint8_t kRefused = 0xB1;
inline constexpr uint8_t kWakeUp = 0xB2;
inline constexpr uint8_t kKill = 0xB3;

} // namespace sim_wire
