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

// A CP210x USB-to-UART bridge: vendor 10C4 with one of the bridges' product
// IDs (EA60, EA61, EA63, EA70, EA71, EA7A, EA7B), as the udev rule lists them.
bool IsBridgeId(uint16_t vid, uint16_t pid);

// A device instance ID as Windows names a USB device,
// "USB\VID_10C4&PID_EA60\0001" (any letter case; an interface of a composite
// device adds "&MI_nn"): its IDs and the part after the last backslash, the
// serial number. False when it names no vendor and product.
bool ParseInstanceId(const std::string &id, uint16_t &vid, uint16_t &pid, std::string &serial);

// The number of a COM port name, "COM5" -> 5 (any letter case, 1..255);
// 0 for anything else.
int ComPortNumber(const std::string &name);
