#include "link/usb_id.h"

std::string Hex4(uint16_t value)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text(4, '0');
    for (int i = 3; i >= 0; --i) {
        text[static_cast<size_t>(i)] = digits[value & 0x0F];
        value = static_cast<uint16_t>(value >> 4);
    }
    return text;
}

std::string VidPid(uint16_t vid, uint16_t pid) { return Hex4(vid) + ":" + Hex4(pid); }

bool ParseHexId(const std::string &text, uint16_t &value)
{
    if (text.empty() || text.size() > 4)
        return false;
    unsigned v = 0;
    for (char c : text) {
        v <<= 4;
        if (c >= '0' && c <= '9')
            v |= static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            v |= static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            v |= static_cast<unsigned>(c - 'A' + 10);
        else
            return false;
    }
    value = static_cast<uint16_t>(v);
    return true;
}
