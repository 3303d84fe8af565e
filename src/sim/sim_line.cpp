#include "sim/sim_detector.h"

#include <algorithm>
#include <cstring>

#include "link/wire.h"
#include "model/crc16.h"

using namespace wire;

namespace {

using namespace std::chrono_literals;

// A frame is at most 256 payload bytes and its CRC.
constexpr size_t kMaxFrame = 258;
// Wake-up frames queued when an acknowledge has been written, or arriving this
// soon after, belong to the same burst: the program repeats the frame until it
// sees the acknowledge, so every repeat was written before the acknowledge
// arrived, and a slow detector finds them queued when it has answered.
// Answering them would leave stale acknowledges on the line. The program's next
// real request comes at least a millisecond after the acknowledge (its settle
// time). This is how a detector tells a repeat when the line cannot say when
// the program took the acknowledge in (the pty; on Windows, a pipe client that
// keeps no tally: sim_pipe_win32.cpp).
#ifdef _WIN32
// On Windows the line is a named pipe: under load its transfers lag by
// milliseconds, so repeats written before the acknowledge arrived come in
// that much later. The program's next request still follows its settle time
// and a frame that is no wake-up, which ends the burst at once.
constexpr auto kBurstWindow = 20ms;
#else
constexpr auto kBurstWindow = 300us;
#endif
constexpr size_t kRecordLimit = 200000;

uint16_t Crc(const uint8_t *data, size_t count)
{
    return CRC16(data, static_cast<int>(count));
}

bool FrameValid(const std::vector<uint8_t> &buf, size_t len)
{
    if (len < 3 || len > buf.size())
        return false;
    const uint16_t crc = Crc(buf.data(), len - 2);
    return buf[len - 2] == static_cast<uint8_t>(crc >> 8) && buf[len - 1] == static_cast<uint8_t>(crc);
}

} // namespace

bool SimDetector::ProcessInput(bool idle)
{
    while (!FRx.empty() && !Stopping()) {
        Expect expect;
        int count;
        int hint;
        {
            std::lock_guard lock(FMutex);
            expect = FAwake ? FExpect : Expect::kCommand;
            count = FAddrCount == 0 ? 256 : FAddrCount;
            hint = std::clamp(FOptions.firmware_packet_size, 1, 256);
        }
        const size_t n = FRx.size();
        const bool headCommand = FrameValid(FRx, 3) && FRx[0] != 0x00;
        auto take = [this](size_t len, bool command) {
            std::vector<uint8_t> frame(FRx.begin(), FRx.begin() + static_cast<std::ptrdiff_t>(len));
            const Clock::time_point arrived = FRxTime[len - 1];
            FRxGone += len;
            FFrameEnd = FRxGone;
            FRx.erase(FRx.begin(), FRx.begin() + static_cast<std::ptrdiff_t>(len));
            FRxTime.erase(FRxTime.begin(), FRxTime.begin() + static_cast<std::ptrdiff_t>(len));
            HandleFrame(frame, command, arrived);
        };
        auto drop = [this](size_t len) {
            FRxGone += len;
            FRx.erase(FRx.begin(), FRx.begin() + static_cast<std::ptrdiff_t>(len));
            FRxTime.erase(FRxTime.begin(), FRxTime.begin() + static_cast<std::ptrdiff_t>(len));
            std::lock_guard lock(FMutex);
            FDropped += static_cast<int>(len);
        };

        if (expect == Expect::kCommand) {
            if (n < 3) {
                if (!idle)
                    return true;
                drop(n);
            } else if (headCommand) {
                take(3, true);
            } else {
                drop(1);
            }
            continue;
        }

        size_t need = 0;
        if (expect == Expect::kAddress || expect == Expect::kTime)
            need = 6;
        else if (expect == Expect::kConfigData)
            need = static_cast<size_t>(count) + 2;
        if (need > 0) {
            if (n >= need && FrameValid(FRx, need))
                take(need, false);
            else if (headCommand && IsCommandOpcode(FRx[0]) && (n >= need || idle))
                take(3, true); // the program gave up on the data and moved on
            else if (n >= need || idle)
                drop(1);
            else
                return true;
            continue;
        }

        // A firmware block: its size is whatever the program's packet size is.
        const size_t expected = static_cast<size_t>(hint) + 2;
        if (n >= expected && FrameValid(FRx, expected)) {
            take(expected, false);
            continue;
        }
        if (!idle && n < kMaxFrame)
            return true;
        size_t best = 0;
        for (size_t len = std::min(n, kMaxFrame); len >= 3; --len)
            if (FrameValid(FRx, len)) {
                best = len;
                break;
            }
        if (best == 3 && IsCommandOpcode(FRx[0]))
            take(3, true);
        else if (best > 0)
            take(best, false);
        else
            drop(1);
    }
    return false;
}

// ---------------------------------------------------------------- protocol

bool SimDetector::IsCommandOpcode(uint8_t op)
{
    switch (op) {
    case kOpUpgradeStart: case kOpUpgradeExecute: case kOpFactoryReset: case kOpLogReset: case kOpResetUnit:
    case kOpHibernate:
    case kOpRequireSensor + kReadGas: case kOpRequireSensor + kReadTemperature: case kOpRequireSensor + kReadBattery:
    case kAvBeep: case kAvRightLed: case kAvLeftLed: case 0x33: case kAvVibrator:
    case kCalZero: case kCalSpan: case kCalZeroSpan: case kCalAbort: case kCalClearPeak: case kCalBumpFail:
    case kCalBumpPass:
    case kOpSelectSensorBlock: case kOpSelectUnitBlock: case kOpLoadLog: case kOpWriteConfig: case kOpWriteLife:
    case kOpNextPacket: case kOpData: case kOpDataRepeat:
    case kOpIdentity: case kOpLogLength: case kOpWakeUp: case kOpKill:
        return true;
    default:
        return false;
    }
}

SimDetector::Reply SimDetector::Short(uint8_t code) const
{
    return Data({code});
}

SimDetector::Reply SimDetector::Data(const std::vector<uint8_t> &data) const
{
    Reply r;
    r.bytes = data;
    const uint16_t crc = Crc(data.data(), data.size());
    r.bytes.push_back(static_cast<uint8_t>(crc >> 8));
    r.bytes.push_back(static_cast<uint8_t>(crc));
    return r;
}

void SimDetector::HandleFrame(const std::vector<uint8_t> &frame, bool command, Clock::time_point arrived)
{
    const bool wakeUp = command && frame[0] == kOpWakeUp;
    if (!wakeUp)
        FBurstUntil = {}; // any other frame ends a burst of wake-up repeats
    const uint8_t key = command ? frame[0] : kSimDataFrame;
    Reply reply;
    struct Line {
        bool paced;
        int latency_us, pieces, gap_us, stray;
        uint8_t strayValue;
        int acks, ackGapUs;
        bool echo;
    } line{};

    // What the detector answers; an empty reply when it stays silent.
    auto answer = [&]() -> Reply {
        if (FPoweredDown || FOptions.absent)
            return {};
        // Faults: a NAK or an error reply replaces the request's effect; a
        // damaged or missing reply comes after the request took effect.
        auto dispatch = [&](auto &&execute) -> Reply {
            SimFault fault = SimFault::kNone;
            auto it = FOptions.faults.find(key);
            if (it != FOptions.faults.end() && it->second.fault != SimFault::kNone && it->second.times != 0) {
                fault = it->second.fault;
                if (it->second.times > 0)
                    --it->second.times;
            }
            if (fault == SimFault::kNak)
                return Short(kReplyNak);
            if (fault == SimFault::kError)
                return Short(FOptions.error_code);
            Reply r = execute();
            if (fault == SimFault::kCorrupt && !r.bytes.empty())
                r.bytes[0] ^= 0x01;
            if (fault == SimFault::kDrop)
                r.bytes.clear();
            return r;
        };

        if (!FAwake) {
            if (!wakeUp)
                return {}; // asleep: only the wake-up frame is heard
            if (++FWakeFrames < std::max(1, FOptions.wake_after))
                return {};
            return dispatch([&] {
                FAwake = true;
                FWakeFrames = 0;
                FExpect = Expect::kCommand;
                ++FCounts[kOpWakeUp];
                return Short(kReplyAck);
            });
        }
        if (command) {
            if (wakeUp && AnsweredAlready(arrived))
                return {}; // a repeat of a wake-up frame that is answered already
            FExpect = Expect::kCommand; // a command ends any data the detector waited for
            // The program sends kOpData once for each firmware block and
            // kOpDataRepeat for its repeats, so the block a data frame belongs
            // to is counted by the kOpData frames heard, whatever the detector
            // answered to them.
            if (frame[0] == kOpData && FFirmwareMode)
                ++FBlocksAnnounced;
            return dispatch([&] {
                ++FCounts[frame[0]];
                return HandleCommand(frame[0]);
            });
        }
        const std::vector<uint8_t> payload(frame.begin(), frame.end() - 2);
        const Expect expect = FExpect;
        FExpect = Expect::kCommand;
        return dispatch([&] {
            ++FCounts[kSimDataFrame];
            return HandleData(expect, payload);
        });
    };

    {
        std::lock_guard lock(FMutex);
        Record(FFrames, frame);
        reply = answer();
        reply.key = key;
        line.echo = FOptions.echo && (FOptions.echo_opcode < 0 || FOptions.echo_opcode == key);
        line.paced = FOptions.paced;
        line.latency_us = FOptions.latency_us;
        // The handshake takes only a whole acknowledge within one read and
        // drops fragments, so wake-up answers are never split, and get noise
        // only when it is asked for them by opcode.
        line.pieces = wakeUp ? 1 : FOptions.split_pieces;
        line.gap_us = FOptions.split_gap_us;
        line.stray = ((FOptions.stray_opcode < 0 && !wakeUp) || FOptions.stray_opcode == key) ? FOptions.stray_bytes : 0;
        line.strayValue = FOptions.stray_value;
        line.acks = wakeUp && reply.bytes == Short(kReplyAck).bytes ? std::max(1, FOptions.wake_acks) : 1;
        line.ackGapUs = std::max(0, FOptions.wake_ack_gap_us);
    }
    // The adapter hands every byte back as it goes out, whether or not
    // anybody answers.
    if (line.echo)
        WriteBytes(frame, false);
    if (reply.bytes.empty())
        return;

    if (line.latency_us > 0 && !WaitUntil(arrived + std::chrono::microseconds(line.latency_us)))
        return;
    if (line.stray > 0)
        WriteBytes(std::vector<uint8_t>(static_cast<size_t>(line.stray), line.strayValue), line.paced);
    const size_t len = reply.bytes.size();
    if (wakeUp)
        WatchForTakeIn(len); // before it goes out: the program may take it in at once
    const size_t pieces = static_cast<size_t>(std::clamp(line.pieces, 1, static_cast<int>(len)));
    size_t at = 0;
    for (size_t p = 0; p < pieces && !Stopping(); ++p) {
        const size_t end = len * (p + 1) / pieces;
        if (p > 0 && line.gap_us > 0 && !WaitUntil(Clock::now() + std::chrono::microseconds(line.gap_us)))
            return;
        WriteBytes(std::vector<uint8_t>(reply.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                        reply.bytes.begin() + static_cast<std::ptrdiff_t>(end)),
                   line.paced);
        at = end;
    }
    // A detector that says it is awake more than once.
    for (int i = 1; i < line.acks; ++i) {
        if (!WaitUntil(Clock::now() + std::chrono::microseconds(line.ackGapUs)))
            return;
        WriteBytes(reply.bytes, line.paced);
    }
    if (wakeUp) {
        // Whatever is queued now was written before the acknowledge arrived:
        // take it in at once, so that a delay of this thread does not make
        // old repeats look new.
        const auto written = Clock::now();
        ReadInput();
        FBurstUntil = std::max(written + kBurstWindow, Clock::now());
    }
    std::lock_guard lock(FMutex);
    Record(FReplies, reply.bytes);
}

void SimDetector::Record(std::vector<std::vector<uint8_t>> &list, const std::vector<uint8_t> &bytes)
{
    if (list.size() >= kRecordLimit)
        list.erase(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(kRecordLimit / 2));
    list.push_back(bytes);
}
