#include "sim/sim_detector.h"

#include <algorithm>
#include <cstring>

#include "link/wire.h"

using namespace wire;

// ---------------------------------------------------------------- commands

SimDetector::Reply SimDetector::HandleCommand(uint8_t op)
{
    const auto now = Clock::now();
    Settle(now); // a calibration whose time is over has ended, whatever comes now
    FExpect = Expect::kCommand;
    switch (op) {
    case kOpUpgradeStart:
        FFirmwareMode = true;
        FBlocks.clear();
        FBlocksAnnounced = 0;
        FExecutePassed = false;
        return Short(kReplyAck);
    case kOpUpgradeExecute: { // check the image CRC over all blocks received
        std::vector<uint8_t> image;
        for (const auto &b : FBlocks)
            image.insert(image.end(), b.begin(), b.end());
        ++FExecutes;
        FExecutePassed = FFirmwareMode && SimImageCrcOk(image);
        if (!FExecutePassed)
            return Short(kReplyNak);
        // The new firmware reports its own version, in the record too when
        // the record carried the old one.
        if (FConfig[kSimFWVersionAddress] == FIdentity.mSW)
            WriteConfig(kSimFWVersionAddress, &image[3], 1);
        FIdentity.mSW = image[3];
        FFirmwareMode = false;
        return Short(kReplyAck);
    }
    case kOpFactoryReset:
        FConfig = FFactoryConfig;
        return Short(kReplyAck);
    case kOpLogReset:
        FLog = SimEmptyEventLog();
        return Short(kReplyAck);
    case kOpResetUnit: // power down: silent from now on
        FPoweredDown = true;
        FAwake = false;
        return Short(kReplyAck);
    case kOpHibernate: // clears the event log and sleeps
        if (FOptions.refuse_hibernate)
            return Short(kReplyRefused);
        FLog = SimEmptyEventLog();
        FAwake = false;
        FSource = Source::kNone;
        return Short(kReplyAck);
    case kOpRequireSensor + kReadGas:
    case kOpRequireSensor + kReadTemperature:
    case kOpRequireSensor + kReadBattery: {
        const SimReading r = ReadingNow(op - kOpRequireSensor, now);
        if (op == kOpRequireSensor + kReadGas && r.value < 0x8000 && r.value > FReadings[0].peak)
            FReadings[0].peak = r.value; // the peak holds what was reported
        return Data({static_cast<uint8_t>(r.value), static_cast<uint8_t>(r.value >> 8), static_cast<uint8_t>(r.peak),
                     static_cast<uint8_t>(r.peak >> 8), r.history, r.alarm});
    }
    case kAvBeep:
    case kAvRightLed:
    case kAvLeftLed:
    case 0x33: // between the LEDs and the vibrator: no actuator, acknowledged all the same
    case kAvVibrator:
        return Short(kReplyAck);
    case kCalZero: // done at once
        return Short(kReplyAck);
    case kCalSpan:
    case kCalZeroSpan: { // runs for a while, shown by the progress flag
        const auto length = std::chrono::milliseconds(std::max(0, FOptions.calibration_ms));
        FCalRunning = true;
        FCalUsed = true;
        FCalFailed = false;
        FCalEnd = now + length;
        FCalStop = FCalEnd;
        // Zero and span zeroes in clean air first, for a quarter of the time,
        // then asks for span gas until the end.
        FCalSpanAt = op == kCalSpan ? now : now + length / 4;
        return Short(kReplyAck);
    }
    case kCalAbort:
        if (FCalRunning)
            FCalStop = now;
        FCalRunning = false;
        return Short(kReplyAck);
    case kCalClearPeak: {
        const SimReading r = ReadingNow(0, now);
        FReadings[0].peak = r.value < 0x8000 ? r.value : 0;
        return Short(kReplyAck);
    }
    case kCalBumpFail:
        FBumpFailed = true;
        return Short(kReplyAck);
    case kCalBumpPass:
        FBumpFailed = false;
        return Short(kReplyAck);
    case kOpSelectSensorBlock: // also the first step of a calibration code
    case kOpSelectUnitBlock:
        FSource = Source::kConfig;
        FSourcePos = op == kOpSelectSensorBlock ? kSimSensorBlock : kSimUnitBlock;
        FPacketSize = std::clamp(FOptions.config_packet_size, 1, 256);
        return Short(kReplyAck);
    case kOpLoadLog:
        FSource = Source::kLog;
        FSourcePos = 0;
        FPacketSize = std::clamp(FOptions.log_packet_size, 1, 256);
        return Short(kReplyAck);
    case kOpWriteConfig: // an address frame follows
        FExpect = Expect::kAddress;
        return Short(kReplyAck);
    case kOpWriteLife: // a life value follows
        FExpect = Expect::kTime;
        return Short(kReplyAck);
    case kOpNextPacket:
        if (FSource == Source::kNone)
            return Short(kReplyNak);
        return Data(NextPacket());
    case kOpData:
    case kOpDataRepeat:
        if (FFirmwareMode) {
            FExpect = Expect::kFirmwareData;
            return Short(kReplyAck);
        }
        if (FSource == Source::kEeprom) { // after kOpWriteConfig and an address frame: a configuration write
            FExpect = Expect::kConfigData;
            return Short(kReplyAck);
        }
        return Short(kReplyNak);
    case kOpIdentity: {
        std::vector<uint8_t> id(sizeof(SimIdentity));
        std::memcpy(id.data(), &FIdentity, sizeof(SimIdentity));
        return Data(id);
    }
    case kOpLogLength: { // low byte first
        const uint32_t size = static_cast<uint32_t>(FLog.size());
        FSource = Source::kLog;
        FSourcePos = 0;
        FPacketSize = std::clamp(FOptions.log_packet_size, 1, 256);
        return Data({static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size >> 16),
                     static_cast<uint8_t>(size >> 24)});
    }
    case kOpWakeUp: // still awake?
        return Short(kReplyAck);
    case kOpKill:
        FAwake = false;
        FSource = Source::kNone;
        return Short(kReplyAck);
    default:
        return Short(kReplyNak);
    }
}

SimDetector::Reply SimDetector::HandleData(Expect expect, const std::vector<uint8_t> &payload)
{
    switch (expect) {
    case Expect::kAddress:
        // count, 0x00, address high byte, address low byte
        FAddrCount = payload[0];
        FAddress = (payload[2] << 8) | payload[3];
        FSource = Source::kEeprom;
        FSourcePos = FAddress;
        if (FEepromMirror)
            FEeprom = SimComposeEeprom(FConfig, FIdentity, FLog);
        FPacketSize = FAddrCount == 0 ? 256 : FAddrCount;
        FFirmwareMode = false;
        return Short(kReplyAck);
    case Expect::kTime: {
        uint8_t life[4];
        std::memcpy(life, payload.data(), 4);
        WriteConfig(kSimLifeAddress, life, 4);
        FIdentity.mLife = static_cast<uint32_t>(life[0] | (life[1] << 8) | (life[2] << 16)) |
                          (static_cast<uint32_t>(life[3]) << 24);
        return Short(kReplyAck);
    }
    case Expect::kConfigData:
        WriteConfig(FAddress, payload.data(), static_cast<int>(payload.size()));
        return Short(kReplyAck);
    case Expect::kFirmwareData: {
        // The block of the last kOpData: a first send or a repeat of it (kOpDataRepeat).
        const size_t block = static_cast<size_t>(std::max(0, FBlocksAnnounced - 1));
        if (FBlocks.size() <= block)
            FBlocks.resize(block + 1);
        FBlocks[block] = payload;
        return Short(kReplyAck);
    }
    case Expect::kCommand:
        break;
    }
    return Short(kReplyNak);
}

void SimDetector::WriteConfig(int address, const uint8_t *bytes, int count)
{
    for (int i = 0; i < count; ++i) {
        const int at = address + i;
        if (at >= 0 && at < kSimConfigSize)
            FConfig[static_cast<size_t>(at)] = at == FOptions.corrupt_write ? static_cast<uint8_t>(bytes[i] ^ 0x01) : bytes[i];
    }
    if (FOptions.crc_on_write != SimCrcOnWrite::kMaintain)
        return;
    const int end = address + count;
    for (int block : {kSimUnitBlock, kSimSensorBlock}) {
        const bool touched = address < block + kSimBlockSize && end > block;
        const int crcAt = block + kSimBlockCrcOffset;
        const bool wroteCrc = address < crcAt + 2 && end > crcAt;
        if (touched && !wroteCrc)
            SimSealBlock(FConfig, block);
    }
}

std::vector<uint8_t> SimDetector::NextPacket()
{
    std::vector<uint8_t> out(static_cast<size_t>(FPacketSize), 0xFF);
    for (int i = 0; i < FPacketSize; ++i) {
        const int at = FSourcePos + i;
        switch (FSource) {
        case Source::kConfig:
            if (at < kSimConfigSize)
                out[static_cast<size_t>(i)] = FConfig[static_cast<size_t>(at)];
            break;
        case Source::kLog:
            if (at < static_cast<int>(FLog.size()))
                out[static_cast<size_t>(i)] = FLog[static_cast<size_t>(at)];
            break;
        case Source::kEeprom:
            if (at < static_cast<int>(FEeprom.size()))
                out[static_cast<size_t>(i)] = FEeprom[static_cast<size_t>(at)];
            break;
        case Source::kNone:
            break;
        }
    }
    FSourcePos += FPacketSize;
    return out;
}
