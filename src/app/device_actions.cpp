#include "app/device_actions.h"

#include <cstring>

#include "link/tamsel_comms.h"
#include "model/convert.h"

std::string IdentityText(const RTamselIdenty &identity)
{
    static const char hex[] = "0123456789ABCDEF";
    size_t serialLength = 0;
    while (serialLength < sizeof identity.mSerial && identity.mSerial[serialLength] != 0)
        ++serialLength;
    std::string text;
    text += "Product ID = " + std::to_string(identity.mPID) + "\r";
    text += "Hardware Version = " + HWVersionToStr(identity.mHW) + "\r";
    text += "Firmware Version = " + FWVersionToStr(identity.mSW) + "\r";
    text += "Life Remaining = " + std::to_string(identity.mLife) + " sec\r";
    text += std::string("Sensor present = 0x") + hex[identity.mSensor >> 4] + hex[identity.mSensor & 0x0F] + "\r";
    text += "Serial Number = " + std::string(reinterpret_cast<const char *>(identity.mSerial), serialLength);
    return text;
}

ROpResult TDeviceActions::Identify()
{
    RTamselIdenty identity{};
    const ROpResult result =
        RunOperation(FScreen, FLink, "Load Identify", [&] { return FLink.RequireIdenty(identity); });
    if (result.Ok())
        FScreen.Message("Norvik Identify", IdentityText(identity), MsgIcon::Information);
    return result;
}
