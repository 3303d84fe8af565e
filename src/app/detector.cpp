#include "app/detector.h"

#include "app/session.h"
#include "link/tamsel_comms.h"

uint8_t TDetector::Retried(const std::function<uint8_t()> &step, int attempts)
{
    uint8_t status = 0;
    for (int i = 0; i < attempts; ++i) {
        status = step();
        if (status == 0)
            break;
    }
    return status;
}

TComTamsel &TDetector::Link() { return FSession.Link(); }

uint8_t TDetector::Connect(RTamselIdenty &identity)
{
    uint8_t status = Link().RequireIdenty(identity);
    if (status == 0)
        status = CheckProductID(identity.mPID, kProductNorvik, FSession.UserMode);
    return status;
}

uint8_t TDetector::Connect()
{
    RTamselIdenty identity{};
    return Connect(identity);
}

uint8_t TDetector::ReadConfig(RTamselCFG &cfg)
{
    const RDeviceCFG &settings = FSession.DeviceCFG;
    RTamselCFG read = cfg;
    uint8_t status =
        Retried([&] { return Link().ReadUnitCFGData(read.mUnit, settings.mUnitPacketSize, settings.mUnitDataSize); });
    if (status == 0)
        status = Retried([&] {
            return Link().ReadSensorCFGData(read.mSensor, settings.mUnitPacketSize, settings.mUnitSensorDataSize);
        });
    if (status == 0)
        cfg = read;
    return status;
}

uint8_t TDetector::ReadConfiguration(RTamselCFG &cfg, RTamselIdenty &identity)
{
    uint8_t status = Connect(identity);
    if (status == 0)
        status = ReadConfig(cfg);
    return status;
}

uint8_t TDetector::ReadConfiguration(RTamselCFG &cfg)
{
    RTamselIdenty identity{};
    return ReadConfiguration(cfg, identity);
}

uint8_t TDetector::WriteRanges(const RTamselCFG &cfg, const std::vector<RCFGWriteRange> &ranges)
{
    RComTamselReadBuf buf;
    CFGToReadBuf(cfg, buf);
    uint8_t status = 0;
    for (const RCFGWriteRange &range : ranges) {
        const auto address = static_cast<uint16_t>(range.mAddress);
        status = Retried([&] { return Link().WriteCFGData(buf, address, range.mSize); });
        if (status != 0)
            break;
    }
    return status;
}

uint8_t TDetector::WriteConfig(const RTamselCFG &cfg, const RTamselIdenty &identity)
{
    const bool userMode = FSession.UserMode;
    if (userMode && cfg.mSensor.mSensorType != identity.mSensor)
        return kStatusSensorMismatch;
    uint8_t status = WriteRanges(cfg, CFGWriteRanges(FSession.DeviceCFG));
    if (status == 0 && !userMode)
        status = Retried([&] { return Link().WriteCFGTimeData(cfg.mUnit.mLifeRemaining); });
    return status;
}
