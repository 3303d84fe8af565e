#include "model/device_records.h"
#include "model/visible_text.h"

#include <cstring>

#include "model/convert.h"

const std::array<RFlagCaption, 6> kHistoryFlags = {{
    {0x04, "Self Test Fail", "Self-test failed"},
    {0x08, "Calibration Fail", "Last cal failed"},
    {0x10, "Bump Test Fail", "Last bump failed"},
    {0x20, "Calibration Due", "Calibration due"},
    {0x40, "Bump Due", "Bump due"},
    {0x80, "Calibration progress", "Calibration Progress"},
}};

const std::array<RFlagCaption, 5> kAlarmFlags = {{
    {0x01, "TWA", nullptr},
    {0x02, "STEL", nullptr},
    {0x04, "LOW", "LOW Alarm"},
    {0x08, "HIGH", "HIGH Alarm"},
    {0x10, "MULTI", nullptr},
}};

std::string GetProductName(uint8_t nPID)
{
    static const char *const names[] = {"Tamsel",      "Tamsel (TS)",     "Norvik",
                                        "Norvik (TS)", "Dravik Clip", "Dravik Clip (TS)"};
    return nPID < std::size(names) ? names[nPID] : "---";
}

uint8_t CheckProductID(uint8_t nPID, uint8_t nExpected, bool bUserMode)
{
    const bool accepted = bUserMode ? nPID == nExpected : (nPID == 0 || nPID == 2 || nPID == 4);
    return accepted ? 0 : kStatusWrongProduct;
}

int FindSensorType(uint8_t nCode, const std::vector<RSensorType> &types)
{
    int found = -1;
    for (size_t i = 0; i < types.size(); ++i)
        if (types[i].mIndex == nCode)
            found = static_cast<int>(i);
    return found;
}

std::vector<std::string> IdentyLines(const RTamselIdenty &mIdenty)
{
    static const char hex[] = "0123456789ABCDEF";
    const std::string sensor{hex[mIdenty.mSensor >> 4], hex[mIdenty.mSensor & 0x0F]};
    return {
        "Product ID = " + std::to_string(mIdenty.mPID),
        "Hardware Version = " + HWVersionToStr(mIdenty.mHW),
        "Firmware Version = " + FWVersionToStr(mIdenty.mSW),
        "Life Remaining = " + std::to_string(mIdenty.mLife) + " sec",
        "Sensor present = 0x" + sensor,
        "Serial Number = " + VisibleLatin1(CharFieldToStr(mIdenty.mSerial)),
    };
}

double SensorDivisor(const RTamselSensor &r)
{
    static const double divisors[] = {1.0, 10.0, 100.0, 1000.0};
    return divisors[SensorDecimals(r)];
}

std::string ScaledToStr(int64_t nRaw, int nDecimals)
{
    const size_t d = static_cast<size_t>(nDecimals < 0 ? 0 : nDecimals > 8 ? 8 : nDecimals);
    const bool negative = nRaw < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(nRaw) : static_cast<uint64_t>(nRaw);
    std::string digits = std::to_string(magnitude);
    if (digits.size() < d + 1)
        digits.insert(0, d + 1 - digits.size(), '0');
    std::string out = negative ? "-" : "";
    out += digits.substr(0, digits.size() - d);
    if (d > 0)
        out += "." + digits.substr(digits.size() - d);
    return out;
}

double GasValue(const RTamselSensor &r) { return GasRaw(r.mSensor) / SensorDivisor(r); }

std::string GasReadingToStr(const RTamselSensor &r)
{
    return GasOverRange(r) ? std::string("OL") : ScaledToStr(GasRaw(r.mSensor), SensorDecimals(r));
}

double GasPeakValue(const RTamselSensor &r) { return r.mPeak / SensorDivisor(r); }

std::string GasPeakToStr(const RTamselSensor &r) { return ScaledToStr(r.mPeak, SensorDecimals(r)); }

double ChannelValue(const RTamselSensor &r) { return r.mSensor / SensorDivisor(r); }

std::string ChannelValueToStr(const RTamselSensor &r) { return ScaledToStr(r.mSensor, SensorDecimals(r)); }

bool EventFromBuf(const RComTamselReadBuf &mBuf, int nIndex, int nPacketSize, RTamselEvent &mEvent)
{
    if (nPacketSize < 1 || nIndex < 0)
        return false;
    const int64_t offset = static_cast<int64_t>(nIndex) * nPacketSize;
    if (offset + static_cast<int64_t>(sizeof(RTamselEvent)) > kReadBufCapacity)
        return false;
    std::memcpy(&mEvent, mBuf.mBuf + offset, sizeof mEvent);
    return true;
}
