#include "app/journal.h"

std::string HexText(const uint8_t *bytes, size_t count)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

std::string DeriveOutcome(const std::string &job, uint8_t status)
{
    switch (status) {
    case 0:
        if (job == kJobCalibration)
            return outcome::kStarted;
        if (job == kJobBumpPass || job == kJobBumpFail)
            return outcome::kDeclared;
        return outcome::kSuccess;
    case 0x86: return outcome::kStopped; // the status table's "USER STOP"
    case kJobDeclined: return outcome::kDeclined;
    case kJobRefused: return outcome::kRefused;
    default: return outcome::kFailed;
    }
}
