#include "tools/gas_watch.h"

#include <algorithm>
#include <cmath>

#include "app/session.h"
#include "link/tamsel_comms.h"
#include "link/wire.h"
#include "tools/sensor_logger.h"

namespace {
// Readings once a second, whatever the logger's interval says.
constexpr double kReadingSeconds = 1.0;
} // namespace

int32_t ReadingTenths(const RTamselSensor &reading)
{
    if (GasOverRange(reading))
        return kOverRangeTenths;
    return static_cast<int32_t>(std::lround(GasValue(reading) * 10.0));
}

int32_t TStableReading::GasBand(int32_t concentration)
{
    const int32_t band = static_cast<int32_t>(std::lround(std::abs(concentration) * 0.02));
    return std::max(band, 1);
}

bool TStableReading::Add(int32_t tenths)
{
    FLast.push_back(tenths);
    while (FLast.size() > static_cast<size_t>(kNeeded))
        FLast.pop_front();
    return Stable();
}

bool TStableReading::Stable() const
{
    if (FLast.size() < static_cast<size_t>(kNeeded))
        return false;
    const auto [lo, hi] = std::minmax_element(FLast.begin(), FLast.end());
    return static_cast<int64_t>(*hi) - *lo <= FBand;
}

int32_t TStableReading::Value() const
{
    if (FLast.empty())
        return 0;
    int64_t sum = 0;
    for (int32_t v : FLast)
        sum += v;
    return static_cast<int32_t>(std::lround(static_cast<double>(sum) / static_cast<double>(FLast.size())));
}

// ---------------------------------------------------------------------------

TReadingLink::TReadingLink(TSession &session) : FSession(session), FLink(session.Link()), FClock(session.Clock()) {}

float TReadingLink::TimeOut() const { return static_cast<float>(FSession.DeviceCFG.mConnectTime) / 1000.0f; }

bool TReadingLink::AdapterFailed() const { return IsAdapterFailure(FStatus); }

uint8_t TReadingLink::Open()
{
    FReadings = 0;
    FReading = {};
    const TDateTime now = FClock.Now();
    FNextReading = now - 1.0;
    FNextConnection = now - 1.0;
    FStatus = FLink.OpenUSB(TimeOut());
    FOpen = true;
    FConnected = FStatus == 0;
    return FStatus;
}

bool TReadingLink::Step(TDateTime now)
{
    if (!FOpen || AdapterFailed())
        return false;
    // While the link is down only the connection pace counts.
    const bool due = now >= FNextConnection || (FConnected && now >= FNextReading);
    if (!due)
        return false;
    bool arrived = false;
    if (FConnected) {
        if (now < FNextReading) {
            FStatus = FLink.ConnectTamselCheck();
        } else {
            RTamselSensor reading{};
            FStatus = FLink.RequireSensor(reading, wire::kReadGas);
            if (FStatus == 0) {
                FReading = reading;
                ++FReadings;
                arrived = true;
            }
            FNextReading = AddSeconds(now, kReadingSeconds);
        }
        if (FStatus != 0)
            FConnected = false;
    } else {
        FStatus = FLink.ConnectTamsel(TimeOut());
        FConnected = FStatus == 0;
    }
    FNextConnection = AddMilliseconds(FClock.Now(), std::max<uint16_t>(FSession.DeviceCFG.mLogConnectTime, 1));
    return arrived;
}

TDateTime TReadingLink::NextDue() const
{
    if (!FOpen)
        return kDueNever;
    if (AdapterFailed())
        return kDueNow;
    return FConnected ? std::min(FNextConnection, FNextReading) : FNextConnection;
}

uint8_t TReadingLink::Send(uint8_t nCode)
{
    if (!FOpen)
        return FStatus;
    uint8_t status = FLink.ConnectTamselCheck();
    if (status != 0)
        status = FLink.ConnectTamsel(TimeOut());
    if (status == 0)
        status = FLink.SensorCalibration(nCode);
    FConnected = status == 0;
    FStatus = status;
    return status;
}

void TReadingLink::Close()
{
    if (!FOpen)
        return;
    FOpen = false;
    try {
        FLink.CloseUSB(FStatus);
    } catch (...) {
        Drop();
    }
}

void TReadingLink::Drop()
{
    FOpen = false;
    try {
        FLink.ComClose();
    } catch (...) {
    }
}
