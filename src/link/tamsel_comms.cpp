#include "link/tamsel_comms.h"

#include <QLocale>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "link/discovery.h"
#include "link/wire.h"
#include "model/crc16.h"

namespace {
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Sleeps until shortly before `deadline`, then spins the last stretch, so short
// pauses keep their length without holding a core.
void PauseUntil(Clock::time_point deadline)
{
    constexpr auto kSpin = std::chrono::microseconds(80);
    const auto wake = deadline - kSpin;
    if (Clock::now() < wake) {
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wake.time_since_epoch()).count();
        timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        // steady_clock is CLOCK_MONOTONIC on this platform.
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
        }
    }
    while (Clock::now() < deadline) {
    }
}

// Sleeps for `seconds` (nothing for none or less).
void SleepFor(double seconds)
{
    if (!(seconds > 0))
        return;
    const auto ns = static_cast<int64_t>(seconds * 1e9);
    timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, &ts) == EINTR) {
    }
}
} // namespace

TComTamsel::TComTamsel() : TComTamsel(std::make_unique<TComm>()) {}

TComTamsel::TComTamsel(std::unique_ptr<TComm> line) : FLine(std::move(line)), RSCom(*FLine)
{
    RSCom.FReadTimeout = 10;
    RSCom.SetReadBufSize(128);
}

TComTamsel::~TComTamsel() { ComClose(); }

std::string TComTamsel::HexBytes(const uint8_t *buf, int count)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(static_cast<size_t>(std::max(count, 0)) * 3);
    for (int i = 0; i < count; ++i) {
        text += digits[buf[i] >> 4];
        text += digits[buf[i] & 0x0F];
        text += ' ';
    }
    return text;
}

void TComTamsel::Report(TDateTime t, const std::string &line)
{
    if (OnTamselEvent)
        OnTamselEvent(this, t, line);
}

// --- exchange engine ---------------------------------------------------------

uint8_t TComTamsel::SendCommand(uint8_t nLogMode, uint8_t opcode, int32_t nLen, float rTimeOut)
{
    return SendFrame(nLogMode, opcode, nullptr, 0, nLen, rTimeOut);
}

uint8_t TComTamsel::SendFrame(uint8_t nLogMode, uint8_t opcode, const uint8_t *payload, int32_t count, int32_t nLen,
                              float rTimeOut)
{
    // The frame (opcode, payload, two CRC bytes) must fit the send buffer.
    const int32_t room = kReadBufCapacity - 2 - (opcode != 0 ? 1 : 0);
    count = payload != nullptr ? std::clamp(count, 0, room) : 0;
    int32_t pos = 0;
    if (opcode != 0)
        FSendBuf.mBuf[pos++] = opcode;
    if (count > 0)
        std::memcpy(FSendBuf.mBuf + pos, payload, static_cast<size_t>(count));
    FSendBuf.mData = pos + count;
    const uint16_t crc = CRC16(FSendBuf.mBuf, FSendBuf.mData);
    FSendBuf.mBuf[FSendBuf.mData++] = static_cast<uint8_t>(crc >> 8);
    FSendBuf.mBuf[FSendBuf.mData++] = static_cast<uint8_t>(crc & 0xFF);
    FReadBuf.mData = 0;
    return Exchange(nLogMode, nLen, rTimeOut);
}

uint8_t TComTamsel::JudgeReply(const uint8_t *buf, int32_t nLen, std::string &prefix)
{
    prefix.clear();
    // Too short to hold its own CRC: it cannot be checked, so it is not taken.
    if (nLen < 2) {
        prefix = "CRCERROR:";
        return wire::kStatusCrcError;
    }
    const uint16_t crc = CRC16(buf, nLen - 2);
    const uint16_t received = static_cast<uint16_t>(buf[nLen - 2] << 8 | buf[nLen - 1]);
    if (crc != received) {
        if (nLen == 3 && buf[0] == wire::kAckFrame[0] && buf[1] == wire::kAckFrame[1]) {
            prefix = "WRONGACK:";
            return wire::kStatusOk;
        }
        prefix = "CRCERROR:";
        return wire::kStatusCrcError;
    }
    if (nLen != 3)
        return wire::kStatusOk;
    switch (buf[0]) {
    case wire::kReplyNone:
    case wire::kOpWakeUp: prefix = "NORESPONSE:"; return wire::kStatusNoResponse;
    case wire::kReplyAck: prefix = "ACK:"; return wire::kStatusOk;
    case wire::kReplyNak: prefix = "NAK:"; return wire::kStatusNak;
    default: prefix = "ERROR:"; return wire::kStatusDeviceError;
    }
}

uint8_t TComTamsel::Exchange(uint8_t nLogMode, int32_t nLen, float rTimeOut)
{
    uint8_t result = wire::kStatusPortFailed;
    FSendTime = Now();
    FSendLog = nLogMode == 2 ? std::string() : "[SEND] " + HexBytes(FSendBuf.mBuf, FSendBuf.mData);
    FRevLog.clear();
    RSCom.PurgeIn();

    const auto start = Clock::now();
    uint8_t status = wire::kStatusNoResponse;
    // A reply must hold at least its CRC and fit the receive buffer.
    const bool lengthValid = nLen >= 2 && nLen <= kReadBufCapacity;
    try {
        if (lengthValid) {
            RSCom.Write(FSendBuf.mBuf, FSendBuf.mData);
            uint8_t scratch[256];
            const int chunk = std::min<int32_t>(nLen + 10, static_cast<int32_t>(sizeof scratch));
            // The whole reply cannot be in before the request and the reply have
            // crossed the line (8N1: ten bits a byte), however the adapter
            // bunches the bytes on their way in.
            const double lineSeconds =
                RSCom.BaudData() > 0 ? 10.0 * (FSendBuf.mData + nLen) / RSCom.BaudData() : 0.0;
            for (;;) {
                const double elapsed = SecondsSince(start);
                if (elapsed >= rTimeOut)
                    break;
                const int n = RSCom.Read(scratch, chunk);
                if (n > 0) {
                    const int take = std::min(n, kReadBufCapacity - FReadBuf.mData);
                    std::memcpy(FReadBuf.mBuf + FReadBuf.mData, scratch, static_cast<size_t>(take));
                    FReadBuf.mData += take;
                    if (FReadBuf.mData >= nLen) {
                        status = 0;
                        break;
                    }
                    // Part of the reply is in: sleep until the rest can be,
                    // rather than wake for every byte of it.
                    const double now = SecondsSince(start);
                    if (now < lineSeconds)
                        SleepFor(std::min(lineSeconds, static_cast<double>(rTimeOut)) - now);
                    else
                        RSCom.WaitInput(rTimeOut - now);
                    continue;
                }
                // Nothing queued: sleep on the descriptor for the rest of the time-out.
                RSCom.WaitInput(rTimeOut - elapsed);
            }
        }
        FRevTime = Now();
        std::string prefix;
        if (status == 0) {
            status = JudgeReply(FReadBuf.mBuf, nLen, prefix);
        } else if (nLen != 3 && FReadBuf.mData == 3) {
            // The detector refused with a short frame instead of the data reply:
            // a valid NAK or error code says so, it is not silence.
            std::string shortPrefix;
            const uint8_t shortStatus = JudgeReply(FReadBuf.mBuf, 3, shortPrefix);
            if (shortStatus == wire::kStatusNak || shortStatus == wire::kStatusDeviceError) {
                status = shortStatus;
                prefix = shortPrefix;
            }
        }
        FRevLog = prefix + HexBytes(FReadBuf.mBuf, FReadBuf.mData);
        result = status;
    } catch (const std::exception &) {
        result = wire::kStatusPortFailed;
    }
    FRevLog = "[READ] " + FRevLog;
    BusyWait(1);
    if (nLogMode == 0) {
        Report(FSendTime, FSendLog);
        Report(FRevTime, FRevLog);
    }
    return result;
}

void TComTamsel::BusyWait(float ms)
{
    const double scaled = ms * FPauseScale;
    if (!(scaled > 0))
        return;
    PauseUntil(Clock::now() +
               std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(scaled)));
}

void TComTamsel::GetLogRead(RTamselLogRead &rec) const
{
    rec.mSendTime = FSendTime;
    rec.mSendLog = FSendLog;
    rec.mRevTime = FRevTime;
    rec.mRevLog = FRevLog;
    rec.mOK = true;
}

// --- connection --------------------------------------------------------------

std::string TComTamsel::WindowsPortName(int nPort)
{
    return (nPort > 9 ? "\\\\.\\COM" : "COM") + std::to_string(nPort);
}

void TComTamsel::SetPortDevice(int nPort, const std::string &path) { FPortDevices[nPort] = path; }

void TComTamsel::SetSimulatedLine(const std::string &device, std::shared_ptr<TLineTally> tally)
{
    FSimulatedDevice = device;
    FSimulatedTally = std::move(tally);
}

std::string TComTamsel::PortDevice(int nPort) const
{
    const auto it = FPortDevices.find(nPort);
    return it != FPortDevices.end() ? it->second : std::string();
}

void TComTamsel::ComOpen(int nPort)
{
    if (RSCom.Enabled())
        return;
    // Only a number that discovery (or the bypass device) gave a path stands
    // for a device; any other, such as the 0 of an adapter without a device
    // node, fails like a missing port instead of naming a file in the
    // current folder.
    const std::string device = PortDevice(nPort);
    if (device.empty())
        throw ECommError(kNoAdapterText, ENODEV);
    RSCom.SetDeviceName(device);
    RSCom.SetTally(device == FSimulatedDevice ? FSimulatedTally : nullptr);
    RSCom.SetBaudData(115200);
    RSCom.SetDatabits(da8);
    RSCom.SetStopbits(sb10);
    RSCom.SetParity(paNone);
    RSCom.Open();
}

void TComTamsel::ComClose()
{
    if (RSCom.Enabled())
        RSCom.Close();
}

void TComTamsel::CloseUSB(uint8_t nStatus)
{
    switch (nStatus) {
    case wire::kStatusOk:
    case wire::kStatusWrongProduct:
    case wire::kStatusNak:
    case wire::kStatusDeviceError:
    case wire::kStatusCrcError:
    case wire::kStatusBadBlock:
        if (KillTamsel() != 0)
            KillTamsel();
        break;
    default: break;
    }
    ComClose();
}

uint8_t TComTamsel::ConnectTamselCheck() { return SendCommand(0, wire::kOpWakeUp, 3, 0.1f); }

uint8_t TComTamsel::KillTamsel() { return SendCommand(0, wire::kOpKill, 3, 0.1f); }

uint8_t TComTamsel::WakeUpFrames(float rTimeOut, bool bReport, int &sent)
{
    const auto start = Clock::now();
    uint8_t status = wire::kStatusNoWakeUp;
    uint8_t buf[10];
    int received = 0;
    while (SecondsSince(start) < rTimeOut || rTimeOut != rTimeOut) {
        const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                 std::chrono::duration<double, std::micro>(1050.0 * FPauseScale));
        try {
            ++sent;
            RSCom.Write(wire::kWakeUpFrame, sizeof wire::kWakeUpFrame);
        } catch (const std::exception &) {
            status = wire::kStatusPortFailed;
        }
        PauseUntil(deadline);
        if (status == wire::kStatusNoWakeUp) {
            received = 0;
            try {
                received = RSCom.Read(buf, sizeof buf);
                if (received >= 3)
                    status = 0;
            } catch (const std::exception &) {
                status = wire::kStatusPortFailed;
            }
        }
        bool awake = false;
        while (status == 0) {
            const uint16_t crc = CRC16(buf, 1);
            if (crc != static_cast<uint16_t>(buf[1] << 8 | buf[2])) {
                status = wire::kStatusNoWakeUp;
                break;
            }
            if (bReport)
                Report(Now(), HexBytes(buf, received));
            if (buf[0] == wire::kReplyAck) {
                awake = true;
                break;
            }
            std::memmove(buf, buf + 3, static_cast<size_t>(received - 3));
            received -= 3;
            if (received < 3)
                status = wire::kStatusNoWakeUp;
        }
        if (awake || status == wire::kStatusPortFailed)
            break;
    }
    return status;
}

uint8_t TComTamsel::ConnectTamsel(float rTimeOut)
{
    const auto start = Clock::now();
    int sent = 0;
    const uint8_t status = WakeUpFrames(rTimeOut, true, sent);
    RSCom.PurgeIn();
    if (OnTamselEvent) {
        // The time is taken before the locale formats it: on Windows the
        // first look at the user's locale costs milliseconds of its own.
        const double took = SecondsSince(start);
        const TDateTime t = Now();
        const QString seconds = QLocale().toString(took, 'f', 3);
        Report(t, "[CHECK TIME] " + seconds.toStdString() + " (" + std::to_string(sent) + ")");
    }
    BusyWait(1);
    RSCom.PurgeIn();
    BusyWait(1);
    return status;
}

uint8_t TComTamsel::Probe(float rTimeOut, bool bSleep)
{
    int32_t nPort = 0;
    const uint8_t found = FindAdapterPort(*this, FDefPort, nPort);
    if (found != 0)
        return found;
    uint8_t status = wire::kStatusPortFailed;
    try {
        ComOpen(nPort);
        RSCom.PurgeIn();
        int sent = 0;
        status = WakeUpFrames(rTimeOut, false, sent);
        if (status == 0 && bSleep) {
            // Asleep again at once: a job that follows wakes it itself.
            BusyWait(1);
            RSCom.PurgeIn();
            SendCommand(2, wire::kOpKill, 3, 0.1f);
        }
    } catch (const std::exception &) {
        status = wire::kStatusPortFailed;
    }
    ComClose();
    return status;
}

uint8_t TComTamsel::OpenUSB(float rTimeOut)
{
    ++FSeen.mOpens;
    int32_t nPort = 0;
    const uint8_t status = FindAdapterPort(*this, FDefPort, nPort);
    if (status != 0)
        return status;
    ComOpen(nPort);
    if (RSCom.IsPseudoTerminal())
        FSeen.mPseudoTerminal = true;
    return ConnectTamsel(rTimeOut);
}
