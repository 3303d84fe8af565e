#pragma once
// The wire's names: every byte value the program and the detector give a
// meaning to on the serial line. The link builds its frames from these names
// and judges replies by them, the status table words the statuses, and the
// simulated detector answers by the same names, so a value lives in one place.
//
// A frame is [opcode] [payload] CRC-high CRC-low; an opcode of 0 means the
// frame carries its payload alone (address, time and data frames). Every
// request is answered by a reply of a length the requester knows; a reply of
// three bytes is a short answer: one code byte and its CRC.
#include <cstdint>

#include "model/config_record.h"
#include "model/device_records.h"
#include "model/exit_table.h"

namespace wire {

// ---- opcodes: the first byte of a request ------------------------------------

inline constexpr uint8_t kOpUpgradeStart = 0x10;   // the detector gets ready for firmware blocks
inline constexpr uint8_t kOpUpgradeExecute = 0x11; // it checks the blocks' image CRC and runs the image
inline constexpr uint8_t kOpFactoryReset = 0x12;   // the configuration goes back to the factory's
inline constexpr uint8_t kOpLogReset = 0x13;       // the event log is emptied
inline constexpr uint8_t kOpResetUnit = 0x14;      // power down: the detector is silent afterwards
inline constexpr uint8_t kOpHibernate = 0x17;      // clears the event log and sleeps
inline constexpr uint8_t kOpRequireSensor = 0x20;  // + a read mode (below): one live reading
// The sensor block is read next; also the first step of every report command.
inline constexpr uint8_t kOpSelectSensorBlock = 0x50;
inline constexpr uint8_t kOpSelectUnitBlock = 0x5F; // the unit block is read next
inline constexpr uint8_t kOpLoadLog = 0x60;        // the event log is read next
// An address frame follows (count, 0x00, address high, address low): a
// configuration write when kOpData and the data follow, else an EEPROM read.
inline constexpr uint8_t kOpWriteConfig = 0x70;
inline constexpr uint8_t kOpWriteLife = 0x71;      // a frame of the life remaining follows (4 bytes, low first)
inline constexpr uint8_t kOpNextPacket = 0x81;     // the next packet of whatever is being read
// kOpDataBase + a pointer: a data frame follows. A configuration write and
// the first send of a firmware block use kOpData, a block's repeat kOpDataRepeat.
inline constexpr uint8_t kOpDataBase = 0x90;
inline constexpr uint8_t kPointerFirst = 1;
inline constexpr uint8_t kPointerRepeat = 3;
inline constexpr uint8_t kOpData = kOpDataBase + kPointerFirst;        // 0x91
inline constexpr uint8_t kOpDataRepeat = kOpDataBase + kPointerRepeat; // 0x93
inline constexpr uint8_t kOpIdentity = 0xA0;       // the 18-byte identity
inline constexpr uint8_t kOpLogLength = 0xA1;      // the event log's length (4 bytes, low first)
// The wake-up frame, repeated until the detector acknowledges; while awake,
// one of them checks that it still is.
inline constexpr uint8_t kOpWakeUp = 0xB2;
inline constexpr uint8_t kOpKill = 0xB3;           // end of connection: the detector sleeps again

// ---- read modes: kOpRequireSensor + mode -------------------------------------

inline constexpr uint8_t kReadGas = 0;
inline constexpr uint8_t kReadTemperature = 1;
inline constexpr uint8_t kReadBattery = 2;

// ---- actuator codes: sent as opcodes by AVOn ---------------------------------

inline constexpr uint8_t kAvBeep = 0x30;
inline constexpr uint8_t kAvRightLed = 0x31;
inline constexpr uint8_t kAvLeftLed = 0x32;
inline constexpr uint8_t kAvVibrator = 0x34;

// ---- report commands: the codes SensorCalibration sends after kOpSelectSensorBlock

inline constexpr uint8_t kCalZero = 0x40;      // zero calibration, done at once
inline constexpr uint8_t kCalSpan = 0x41;      // span calibration: runs while the progress flag is up
inline constexpr uint8_t kCalZeroSpan = 0x42;  // zero, then span
inline constexpr uint8_t kCalAbort = 0x43;     // stops a running calibration
inline constexpr uint8_t kCalClearPeak = 0x44;
inline constexpr uint8_t kCalBumpFail = 0x45;  // the technician reports a failed bump test
inline constexpr uint8_t kCalBumpPass = 0x46;  // ... a passed one

// ---- short replies: the code byte of a 3-byte answer -------------------------

inline constexpr uint8_t kReplyAck = 0xB5;
inline constexpr uint8_t kReplyNak = 0xB6;
// No response: 0x00, or the wake-up opcode itself (kOpWakeUp) coming back.
inline constexpr uint8_t kReplyNone = 0x00;
// Any other code is an error; this is the one a detector refuses a command
// it may not carry out with (a hibernation that is not allowed).
inline constexpr uint8_t kReplyRefused = 0xB1;

// Whole short frames, CRC included (CRC16 of the code byte, high byte first).
inline constexpr uint8_t kWakeUpFrame[3] = {kOpWakeUp, 0x75, 0x80};
inline constexpr uint8_t kAckFrame[3] = {kReplyAck, 0xB7, 0xC1};
inline constexpr uint8_t kNakFrame[3] = {kReplyNak, 0xB6, 0x81};

// ---- status bytes: what an exchange, a command or a connection comes to ------

inline constexpr uint8_t kStatusOk = 0;
inline constexpr uint8_t kStatusNoWakeUp = 0xA0;      // 160: no acknowledge to the wake-up frames in time
inline constexpr uint8_t kStatusPortFailed = exits::kJobPortFailed; // the port raised an error while writing or reading
inline constexpr uint8_t kStatusNoResponse = 0xA2;    // 162: reply short or late, or a "no response" code
inline constexpr uint8_t kStatusNak = 0xB0;           // 176: a valid NAK
inline constexpr uint8_t kStatusDeviceError = 0xB1;   // 177: a valid short reply with any other code
inline constexpr uint8_t kStatusCrcError = 0xB2;      // 178: the reply's CRC is wrong
// Made by the model's rules, named here with the link's own:
// 146, the product check refused the identity's product ID;
inline constexpr uint8_t kStatusWrongProduct = ::kStatusWrongProduct;
// 192, a configuration block arrived whole but its CRC word is wrong (or it
// could not arrive whole).
inline constexpr uint8_t kStatusBadBlock = ::kStatusBlockCRC;

} // namespace wire
