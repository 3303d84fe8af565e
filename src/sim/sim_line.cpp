#include "sim/sim_detector.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <unistd.h>

#include "link/wire.h"
#include "model/crc16.h"

using namespace wire;

namespace {

using namespace std::chrono_literals;

// A frame is at most 256 payload bytes and its CRC.
constexpr size_t kMaxFrame = 258;
// Input that stops for this long is taken as complete.
constexpr auto kIdleGap = 2ms;
// Wake-up frames queued when an acknowledge has been written, or arriving this
// soon after, belong to the same burst: the program repeats the frame until it
// sees the acknowledge, so every repeat was written before the acknowledge
// arrived, and a slow detector finds them queued when it has answered.
// Answering them would leave stale acknowledges on the line. The program's next
// real request comes at least a millisecond after the acknowledge (its settle
// time).
constexpr auto kBurstWindow = 300us;
// One byte at 115200 baud, 8N1: ten bit times.
constexpr auto kByteTime = std::chrono::nanoseconds(1000000000LL * 10 / 115200);
// While the program has the port closed the master reports hang-up at once.
// The detector then waits for the device to be opened (inotify); without
// inotify it looks at the line again after these pauses.
constexpr int kHangUpPauseMinMs = 1;
constexpr int kHangUpPauseMaxMs = 16;
constexpr auto kOpenWaitLimit = 1s;
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

timespec ToTimespec(std::chrono::nanoseconds ns)
{
    if (ns < 0ns)
        ns = 0ns;
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns.count() / 1000000000LL);
    ts.tv_nsec = static_cast<long>(ns.count() % 1000000000LL);
    return ts;
}

void SleepUntil(std::chrono::steady_clock::time_point deadline)
{
    // steady_clock is CLOCK_MONOTONIC; sleep to the absolute deadline.
    const timespec ts = ToTimespec(deadline.time_since_epoch());
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

} // namespace

// ---------------------------------------------------------------- serving loop

void SimDetector::Serve()
{
    // Pacing works in steps of 87 us: keep the kernel from rounding sleeps up.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    int pause = kHangUpPauseMinMs;
    bool waiting = false;
    while (!FStop) {
        if (FVanishReq) {
            CloseMaster();
            return;
        }
        if (FHungUp) {
            // Nobody has the port open: nothing more will arrive for what is queued.
            if (!FRx.empty())
                waiting = ProcessInput(true);
            if (FOpenWatch >= 0)
                WaitForOpen();
            else {
                WaitUntil(Clock::now() + std::chrono::milliseconds(pause));
                pause = std::min(pause * 2, kHangUpPauseMaxMs);
            }
            FHungUp = false;
            continue;
        }
        pollfd fds[2] = {{FMaster, POLLIN, 0}, {FWake[0], POLLIN, 0}};
        timespec ts{};
        timespec *timeout = nullptr;
        if (waiting) {
            ts = ToTimespec(FLastRx + kIdleGap - Clock::now());
            timeout = &ts;
        }
        const int r = ppoll(fds, 2, timeout, nullptr);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents & POLLIN) {
            uint8_t drain[64];
            while (::read(FWake[0], drain, sizeof(drain)) > 0) {
            }
        }
        if (fds[0].revents & POLLNVAL)
            break;
        if (fds[0].revents & POLLIN) {
            if (ReadInput())
                pause = kHangUpPauseMinMs;
            waiting = ProcessInput(false);
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            FHungUp = true;
        } else if (r == 0 && waiting) {
            waiting = ProcessInput(Clock::now() - FLastRx >= kIdleGap);
        }
    }
}

void SimDetector::WaitForOpen()
{
    uint8_t events[4096];
    while (::read(FOpenWatch, events, sizeof(events)) > 0) {
    }
    // Opened between the hang-up and now: no event will come for that.
    pollfd master = {FMaster, POLLIN, 0};
    if (poll(&master, 1, 0) >= 0 && ((master.revents & POLLIN) || !(master.revents & POLLHUP)))
        return;
    pollfd fds[2] = {{FOpenWatch, POLLIN, 0}, {FWake[0], POLLIN, 0}};
    const timespec ts = ToTimespec(kOpenWaitLimit);
    ppoll(fds, 2, &ts, nullptr);
}

bool SimDetector::ReadInput()
{
    bool got = false;
    uint8_t buf[4096];
    for (;;) {
        const ssize_t n = ::read(FMaster, buf, sizeof(buf));
        if (n > 0) {
            const auto now = Clock::now();
            FRx.insert(FRx.end(), buf, buf + n);
            FRxTime.insert(FRxTime.end(), static_cast<size_t>(n), now);
            FLastRx = now;
            got = true;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            FHungUp = true; // EIO: the program closed its end
        return got;
    }
}

bool SimDetector::WaitUntil(Clock::time_point deadline)
{
    for (;;) {
        if (Stopping())
            return false;
        const auto now = Clock::now();
        if (now >= deadline)
            return true;
        pollfd fd = {FWake[0], POLLIN, 0};
        const timespec ts = ToTimespec(deadline - now);
        ppoll(&fd, 1, &ts, nullptr);
    }
}

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
            FRx.erase(FRx.begin(), FRx.begin() + static_cast<std::ptrdiff_t>(len));
            FRxTime.erase(FRxTime.begin(), FRxTime.begin() + static_cast<std::ptrdiff_t>(len));
            HandleFrame(frame, command, arrived);
        };
        auto drop = [this](size_t len) {
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
            if (wakeUp && arrived <= FBurstUntil)
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

void SimDetector::WriteBytes(const std::vector<uint8_t> &bytes, bool paced)
{
    auto writeAll = [this](const uint8_t *data, size_t count) {
        int tries = 0;
        while (count > 0 && !Stopping()) {
            const ssize_t n = ::write(FMaster, data, count);
            if (n > 0) {
                data += n;
                count -= static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && ++tries < 50) {
                // The program does not read: wait a little for room, then give up.
                pollfd fd = {FMaster, POLLOUT, 0};
                poll(&fd, 1, 10);
                continue;
            }
            return; // the program's end is gone: the bytes are lost, as on a real line
        }
    };
    if (!paced) {
        writeAll(bytes.data(), bytes.size());
        return;
    }
    auto due = Clock::now();
    for (uint8_t b : bytes) {
        if (Stopping())
            return;
        writeAll(&b, 1);
        due += kByteTime;
        SleepUntil(due);
    }
}

void SimDetector::Record(std::vector<std::vector<uint8_t>> &list, const std::vector<uint8_t> &bytes)
{
    if (list.size() >= kRecordLimit)
        list.erase(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(kRecordLimit / 2));
    list.push_back(bytes);
}
