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

bool IsBridgeId(uint16_t vid, uint16_t pid)
{
    static constexpr uint16_t kProducts[] = {0xEA60, 0xEA61, 0xEA63, 0xEA70, 0xEA71, 0xEA7A, 0xEA7B};
    if (vid != 0x10C4)
        return false;
    for (const uint16_t p : kProducts)
        if (p == pid)
            return true;
    return false;
}

namespace {
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string UpperCase(std::string text)
{
    for (char &c : text)
        c = Upper(c);
    return text;
}

// The four hexadecimal digits after `key` in `text`, which must end there or
// go on with '&' or '\'.
bool IdAfter(const std::string &text, const std::string &key, uint16_t &value)
{
    const size_t at = text.find(key);
    if (at == std::string::npos)
        return false;
    const size_t from = at + key.size();
    if (from + 4 > text.size() || (from + 4 < text.size() && text[from + 4] != '&' && text[from + 4] != '\\'))
        return false;
    return ParseHexId(text.substr(from, 4), value);
}
} // namespace

bool ParseInstanceId(const std::string &id, uint16_t &vid, uint16_t &pid, std::string &serial)
{
    const std::string upper = UpperCase(id);
    if (!IdAfter(upper, "VID_", vid) || !IdAfter(upper, "PID_", pid))
        return false;
    const size_t slash = id.rfind('\\');
    const size_t ids = upper.find("VID_");
    serial = slash != std::string::npos && slash > ids ? id.substr(slash + 1) : std::string();
    return true;
}

int ComPortNumber(const std::string &name)
{
    if (name.size() < 4 || name.size() > 6 || UpperCase(name.substr(0, 3)) != "COM")
        return 0;
    int n = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || (i == 3 && name[i] == '0'))
            return 0;
        n = n * 10 + (name[i] - '0');
    }
    return n <= 255 ? n : 0;
}
