// The detector's command set, built from single exchanges.
//
// Bounds: every payload lands in a 1024-byte carrier and every configuration
// write comes out of the 128-byte record. Downloads (event log, EEPROM) stop at
// the carrier's end and keep what fits; a configuration write that does not
// fit the record (CFGRangeFits) is refused before a byte goes out
// (wire::kStatusBadBlock), so the detector never receives bytes the program did not mean to
// write. The device actions check the settings' ranges with the same rule
// before they connect at all.
#include <algorithm>
#include <cstring>

#include "link/tamsel_comms.h"
#include "link/wire.h"

namespace {

// Configurations a job may read and still have them all on its record.
constexpr size_t kSeenConfigs = 16;
// Largest packet a read loop may ask for: the reply (packet + CRC) plus the
// slack of one read must fit the exchange's 256-byte scratch buffer.
constexpr int kMaxPacket = 244;

int ClampPacket(int nPacket) { return std::clamp(nPacket, 1, kMaxPacket); }

void PutAddressFrame(uint8_t frame[4], uint16_t count, uint16_t address)
{
    frame[0] = static_cast<uint8_t>(count & 0xFF);
    frame[1] = 0x00;
    frame[2] = static_cast<uint8_t>(address >> 8);
    frame[3] = static_cast<uint8_t>(address & 0xFF);
}
} // namespace

void TComTamsel::ReportCollected(const RTamselLogRead *records, int count)
{
    if (!OnTamselEvent)
        return;
    for (int i = 0; i < count; ++i) {
        if (!records[i].mOK)
            continue;
        Report(records[i].mSendTime, records[i].mSendLog);
        Report(records[i].mRevTime, records[i].mRevLog);
    }
}

uint8_t TComTamsel::ReadBlock(uint8_t opcode, uint8_t *record, uint16_t nPacket, uint16_t nSize)
{
    uint8_t status = SendCommand(0, opcode, 3, 0.1f);
    if (status != 0)
        return status;
    const int packet = ClampPacket(nPacket);
    const int count = nSize / packet;
    RComTamselReadBuf received;
    received.mData = 0;
    for (int i = 0; i < count; ++i) {
        status = SendCommand(0, wire::kOpNextPacket, packet + 2, 0.1f);
        if (status != 0)
            return status;
        const int take = std::min(packet, kReadBufCapacity - received.mData);
        std::memcpy(received.mBuf + received.mData, FReadBuf.mBuf, static_cast<size_t>(take));
        received.mData += take;
    }
    // A block that cannot have arrived whole cannot be checked: refuse it
    // and leave the caller's block as it was.
    if (received.mData < kCFGBlockSize)
        return wire::kStatusBadBlock;
    CopyCFGBlock(received, record);
    return CheckBlockCRC(received);
}

uint8_t TComTamsel::ReadUnitCFGData(RTamselUnitCFG &mData, uint16_t nPacket, uint16_t nSize)
{
    static_assert(sizeof(RTamselUnitCFG) == 64);
    const uint8_t status = ReadBlock(wire::kOpSelectUnitBlock, reinterpret_cast<uint8_t *>(&mData), nPacket, nSize);
    if (status == 0)
        FSeen.mUnit = mData;
    return status;
}

uint8_t TComTamsel::ReadSensorCFGData(RTamselSensorCFG &mData, uint16_t nPacket, uint16_t nSize)
{
    static_assert(sizeof(RTamselSensorCFG) == 64);
    const uint8_t status = ReadBlock(wire::kOpSelectSensorBlock, reinterpret_cast<uint8_t *>(&mData), nPacket, nSize);
    if (status == 0 && FSeen.mUnit && FSeen.mConfigs.size() < kSeenConfigs) {
        RTamselCFG cfg;
        cfg.mUnit = *FSeen.mUnit;
        cfg.mSensor = mData;
        FSeen.mConfigs.push_back(cfg);
    }
    return status;
}

uint8_t TComTamsel::WriteCFGData(const RComTamselReadBuf &mBuf, uint16_t nAddress, uint16_t nSize)
{
    if (!CFGRangeFits(nAddress, nSize))
        return wire::kStatusBadBlock;
    RTamselLogRead logs[4];
    uint8_t status = SendCommand(1, wire::kOpWriteConfig, 3, 0.1f);
    GetLogRead(logs[0]);
    if (status == 0) {
        uint8_t frame[4];
        PutAddressFrame(frame, nSize, nAddress);
        status = SendFrame(1, 0, frame, 4, 3, 0.1f);
        GetLogRead(logs[1]);
    }
    if (status == 0) {
        status = SendCommand(1, wire::kOpData, 3, 0.1f);
        GetLogRead(logs[2]);
    }
    if (status == 0) {
        status = SendFrame(1, 0, mBuf.mBuf + nAddress, nSize, 3, 0.1f);
        GetLogRead(logs[3]);
    }
    ReportCollected(logs, 4);
    if (status == 0)
        FSeen.mWrites.push_back({nAddress, std::vector<uint8_t>(mBuf.mBuf + nAddress, mBuf.mBuf + nAddress + nSize)});
    return status;
}

uint8_t TComTamsel::WriteCFGTimeData(uint32_t nTime)
{
    RTamselLogRead logs[2];
    uint8_t status = SendCommand(1, wire::kOpWriteLife, 3, 0.1f);
    GetLogRead(logs[0]);
    if (status == 0) {
        const uint8_t frame[4] = {static_cast<uint8_t>(nTime), static_cast<uint8_t>(nTime >> 8),
                                  static_cast<uint8_t>(nTime >> 16), static_cast<uint8_t>(nTime >> 24)};
        status = SendFrame(1, 0, frame, 4, 3, 0.1f);
        GetLogRead(logs[1]);
    }
    ReportCollected(logs, 2);
    if (status == 0)
        FSeen.mLifeWritten = nTime;
    return status;
}

uint8_t TComTamsel::SendHibernate() { return SendCommand(0, wire::kOpHibernate, 3, 0.1f); }
uint8_t TComTamsel::LogReset() { return SendCommand(0, wire::kOpLogReset, 3, 0.5f); }
uint8_t TComTamsel::UpgradeStart() { return SendCommand(0, wire::kOpUpgradeStart, 3, 0.1f); }
uint8_t TComTamsel::UpgradeExecute() { return SendCommand(0, wire::kOpUpgradeExecute, 3, 0.5f); }
uint8_t TComTamsel::ResetUnit() { return SendCommand(0, wire::kOpResetUnit, 3, 0.5f); }
uint8_t TComTamsel::FactoryReset() { return SendCommand(0, wire::kOpFactoryReset, 3, 0.5f); }
uint8_t TComTamsel::AVOn(uint8_t nCom) { return SendCommand(0, nCom, 3, 0.1f); }

uint8_t TComTamsel::RequireIdenty(RTamselIdenty &mData)
{
    static_assert(sizeof(RTamselIdenty) == 18);
    const uint8_t status = SendCommand(0, wire::kOpIdentity, 20, 0.1f);
    if (status == 0) {
        std::memcpy(&mData, FReadBuf.mBuf, sizeof mData);
        FSeen.mIdentity = mData;
    }
    return status;
}

uint8_t TComTamsel::RequireSensor(RTamselSensor &mData, uint8_t nMode)
{
    static_assert(sizeof(RTamselSensor) == 6);
    const uint8_t status = SendCommand(0, static_cast<uint8_t>(wire::kOpRequireSensor + nMode), 8, 0.1f);
    if (status == 0)
        std::memcpy(&mData, FReadBuf.mBuf, sizeof mData);
    return status;
}

uint8_t TComTamsel::SensorCalibration(uint8_t nCom)
{
    const uint8_t status = SendCommand(0, wire::kOpSelectSensorBlock, 3, 0.1f);
    if (status != 0)
        return status;
    return SendCommand(0, nCom, 3, 0.5f);
}

uint8_t TComTamsel::LoadLog(RComTamselReadBuf &mBuf, int32_t nReadPacket)
{
    mBuf.mData = 0;
    int32_t total = 0;
    uint8_t status = SendCommand(0, wire::kOpLoadLog, 3, 0.1f);
    if (status == 0)
        status = SendCommand(0, wire::kOpLogLength, 6, 0.1f);
    if (status != 0)
        return status;
    std::memcpy(&total, FReadBuf.mBuf, 4);
    const int packet = ClampPacket(nReadPacket);
    while (mBuf.mData < total && mBuf.mData < kReadBufCapacity) {
        status = SendCommand(0, wire::kOpNextPacket, packet + 2, 0.1f);
        if (status != 0)
            return status;
        const int take = std::min(packet, kReadBufCapacity - mBuf.mData);
        std::memcpy(mBuf.mBuf + mBuf.mData, FReadBuf.mBuf, static_cast<size_t>(take));
        mBuf.mData += take;
    }
    // The last packet may bring more than the announced length; a log longer
    // than the carrier keeps what fits.
    mBuf.mData = mBuf.mData < total ? mBuf.mData : total;
    return 0;
}

uint8_t TComTamsel::ReadEEPROMData(RComTamselReadBuf &mBuf, uint16_t nPacket, uint16_t nStart, uint16_t nMax)
{
    mBuf.mData = 0;
    const int packet = ClampPacket(nPacket);
    uint8_t status = SendCommand(0, wire::kOpWriteConfig, 3, 0.1f);
    if (status == 0) {
        uint8_t frame[4];
        PutAddressFrame(frame, static_cast<uint16_t>(packet), nStart);
        status = SendFrame(0, 0, frame, 4, 3, 0.1f);
    }
    while (status == 0) {
        status = SendCommand(0, wire::kOpNextPacket, packet + 2, 0.1f);
        if (status != 0)
            break;
        const int take = std::min(packet, kReadBufCapacity - mBuf.mData);
        std::memcpy(mBuf.mBuf + mBuf.mData, FReadBuf.mBuf, static_cast<size_t>(take));
        mBuf.mData += take;
        const bool lastWanted = static_cast<int>(nMax) - packet <= mBuf.mData;
        const bool carrierFull = mBuf.mData + packet > kReadBufCapacity;
        if (lastWanted || carrierFull) {
            const int fill = std::min(packet, kReadBufCapacity - mBuf.mData);
            std::memset(mBuf.mBuf + mBuf.mData, 0xFF, static_cast<size_t>(fill));
            break;
        }
    }
    return status;
}

uint8_t TComTamsel::UpgradeData(uint8_t nPointer, const RComTamselReadBuf &mBuf)
{
    RTamselLogRead first, second;
    uint8_t status = SendCommand(1, static_cast<uint8_t>(wire::kOpDataBase + nPointer), 3, 0.1f);
    GetLogRead(first);
    if (status == 0) {
        const int count = std::clamp(mBuf.mData, 0, kReadBufCapacity - 2);
        status = SendFrame(2, 0, mBuf.mBuf, count, 3, 0.5f);
        GetLogRead(second);
        BusyWait(4);
    }
    if (status != 0 && OnTamselEvent) {
        if (first.mOK) {
            Report(first.mSendTime, first.mSendLog);
            Report(first.mRevTime, first.mRevLog);
        }
        if (second.mOK)
            Report(second.mRevTime, second.mRevLog);
    }
    return status;
}
