// The bytes the scripted peer's tests build frames from, on every platform.
#include <sstream>

#include "model/crc16.h"
#include "support/pty_peer.h"

Bytes WithCrc(Bytes data)
{
    const uint16_t crc = CRC16(data.data(), static_cast<int>(data.size()));
    data.push_back(static_cast<uint8_t>(crc >> 8));
    data.push_back(static_cast<uint8_t>(crc & 0xFF));
    return data;
}

Bytes Hex(const std::string &text)
{
    Bytes out;
    std::istringstream in(text);
    std::string token;
    while (in >> token)
        out.push_back(static_cast<uint8_t>(std::stoul(token, nullptr, 16)));
    return out;
}
