#include "sim/sim_detector.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include "model/crc16.h"

namespace {

using namespace std::chrono_literals;

constexpr uint8_t kAck = 0xB5;
constexpr uint8_t kNak = 0xB6;
constexpr uint8_t kRefused = 0xB1;
constexpr uint8_t kWakeUp = 0xB2;
constexpr uint8_t kKill = 0xB3;

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

void MakeRaw(int fd)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return;
    cfmakeraw(&t);
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &t);
}

} // namespace

// ---------------------------------------------------------------- lifetime

SimOptions SimDemoOptions()
{
    SimOptions o;
    o.unit = SimUnit::kDemo;
    o.live_readings = true;
    o.calibration_ms = 12000;
    o.crc_on_write = SimCrcOnWrite::kMaintain;
    return o;
}

SimDetector::SimDetector(const SimOptions &options) : FOptions(options), FBorn(Clock::now())
{
    if (options.unit == SimUnit::kDemo) {
        const SimUnitMemories unit = SimDemoUnit(options.sensor_code, options.seed);
        FConfig = unit.config;
        FIdentity = unit.identity;
        FLog = unit.log;
        FEepromMirror = true;
    } else {
        FConfig = SimDefaultConfig();
        FConfig[kSimSensorTypeAddress] = options.sensor_code;
        SimSealBlock(FConfig, kSimSensorBlock);
        FIdentity.mSensor = options.sensor_code;
        FLog = SimDefaultEventLog(FIdentity.mLife);
    }
    if (options.bad_block_crc & 1)
        FConfig[kSimUnitBlock + kSimBlockCrcOffset] ^= 0x5A;
    if (options.bad_block_crc & 2)
        FConfig[kSimSensorBlock + kSimBlockCrcOffset] ^= 0x5A;
    FFactoryConfig = FConfig;
    FIdentity.mPID = options.product_id;
    FEeprom = FEepromMirror ? SimComposeEeprom(FConfig, FIdentity, FLog) : SimDefaultEeprom();
    // Gas in tenths of the sensor's unit, as the alarm levels are kept.
    const long gas = std::lround(std::clamp(options.gas, -3276.8, 3276.6) * 10);
    FReadings[0] = {static_cast<uint16_t>(static_cast<int16_t>(gas)), 0, 0x01, 0};
    FReadings[1] = {235, 1876, 0x01, 0}; // temperature: 23.5, ADC 1876
    FReadings[2] = {300, 712, 0x02, 0};  // battery: 3.00, ADC 712

    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        FError = std::string("posix_openpt: ") + std::strerror(errno);
        return;
    }
    char name[128] = {};
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof(name)) != 0) {
        FError = std::string("pty setup: ") + std::strerror(errno);
        ::close(master);
        return;
    }
    // Raw line on both sides from the start: no echo, no line discipline, even
    // before the program configures its end.
    MakeRaw(master);
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave >= 0) {
        MakeRaw(slave);
        ::close(slave);
    }
    const int flags = fcntl(master, F_GETFL);
    fcntl(master, F_SETFL, flags | O_NONBLOCK);
    if (pipe2(FWake, O_CLOEXEC | O_NONBLOCK) != 0) {
        FError = std::string("pipe2: ") + std::strerror(errno);
        ::close(master);
        return;
    }
    FMaster = master;
    FDevicePath = name;
    FCreated = true;
    FOpenWatch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (FOpenWatch >= 0 && inotify_add_watch(FOpenWatch, name, IN_OPEN) < 0) {
        ::close(FOpenWatch);
        FOpenWatch = -1;
    }
}

SimDetector::~SimDetector()
{
    Stop();
    for (int &fd : FWake)
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    if (FOpenWatch >= 0)
        ::close(FOpenWatch);
}

bool SimDetector::Start()
{
    if (FStarted || FMaster < 0)
        return false;
    FStarted = true;
    FThread = std::thread([this] { Serve(); });
    return true;
}

void SimDetector::Stop()
{
    FStop = true;
    if (FWake[1] >= 0) {
        const uint8_t b = 1;
        [[maybe_unused]] ssize_t r = ::write(FWake[1], &b, 1);
    }
    if (FThread.joinable())
        FThread.join();
    CloseMaster();
}

void SimDetector::Vanish()
{
    if (!FThread.joinable()) {
        CloseMaster();
        return;
    }
    FVanishReq = true;
    const uint8_t b = 1;
    [[maybe_unused]] ssize_t r = ::write(FWake[1], &b, 1);
    std::unique_lock lock(FMutex);
    FVanishedCv.wait(lock, [this] { return FVanished; });
}

void SimDetector::CloseMaster()
{
    {
        std::lock_guard lock(FMutex);
        if (FMaster >= 0) {
            ::close(FMaster);
            FMaster = -1;
            FVanished = true;
        }
    }
    FVanishedCv.notify_all();
}

std::unique_ptr<SimDetector> StartInProcessSimulator(const SimOptions &options)
{
    auto sim = std::make_unique<SimDetector>(options);
    if (!sim->Start())
        return nullptr;
    return sim;
}

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
    case 0x10: case 0x11: case 0x12: case 0x13: case 0x14: case 0x17:
    case 0x20: case 0x21: case 0x22:
    case 0x30: case 0x31: case 0x32: case 0x33: case 0x34:
    case 0x40: case 0x41: case 0x42: case 0x43: case 0x44: case 0x45: case 0x46:
    case 0x50: case 0x5F: case 0x60: case 0x70: case 0x71: case 0x81: case 0x91: case 0x93:
    case 0xA0: case 0xA1: case kWakeUp: case kKill:
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
    const bool wakeUp = command && frame[0] == kWakeUp;
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
                return Short(kNak);
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
                ++FCounts[kWakeUp];
                return Short(kAck);
            });
        }
        if (command) {
            if (wakeUp && arrived <= FBurstUntil)
                return {}; // a repeat of a wake-up frame that is answered already
            FExpect = Expect::kCommand; // a command ends any data the detector waited for
            // The program sends 0x91 once for each firmware block and 0x93 for
            // its repeats, so the block a data frame belongs to is counted by
            // the 0x91 frames heard, whatever the detector answered to them.
            if (frame[0] == 0x91 && FFirmwareMode)
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
        line.acks = wakeUp && reply.bytes == Short(kAck).bytes ? std::max(1, FOptions.wake_acks) : 1;
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

SimDetector::Reply SimDetector::HandleCommand(uint8_t op)
{
    const auto now = Clock::now();
    FExpect = Expect::kCommand;
    switch (op) {
    case 0x10: // firmware start
        FFirmwareMode = true;
        FBlocks.clear();
        FBlocksAnnounced = 0;
        FExecutePassed = false;
        return Short(kAck);
    case 0x11: { // firmware execute: check the image CRC over all blocks received
        std::vector<uint8_t> image;
        for (const auto &b : FBlocks)
            image.insert(image.end(), b.begin(), b.end());
        ++FExecutes;
        FExecutePassed = FFirmwareMode && SimImageCrcOk(image);
        if (!FExecutePassed)
            return Short(kNak);
        // The new firmware reports its own version, in the record too when
        // the record carried the old one.
        if (FConfig[kSimFWVersionAddress] == FIdentity.mSW)
            WriteConfig(kSimFWVersionAddress, &image[3], 1);
        FIdentity.mSW = image[3];
        FFirmwareMode = false;
        return Short(kAck);
    }
    case 0x12: // factory reset
        FConfig = FFactoryConfig;
        return Short(kAck);
    case 0x13: // event log reset
        FLog = SimEmptyEventLog();
        return Short(kAck);
    case 0x14: // power down: silent from now on
        FPoweredDown = true;
        FAwake = false;
        return Short(kAck);
    case 0x17: // hibernate: clears the event log and sleeps
        if (FOptions.refuse_hibernate)
            return Short(kRefused);
        FLog = SimEmptyEventLog();
        FAwake = false;
        FSource = Source::kNone;
        return Short(kAck);
    case 0x20:
    case 0x21:
    case 0x22: {
        const SimReading r = ReadingNow(op - 0x20, now);
        if (op == 0x20 && r.value < 0x8000 && r.value > FReadings[0].peak)
            FReadings[0].peak = r.value; // the peak holds what was reported
        return Data({static_cast<uint8_t>(r.value), static_cast<uint8_t>(r.value >> 8), static_cast<uint8_t>(r.peak),
                     static_cast<uint8_t>(r.peak >> 8), r.history, r.alarm});
    }
    case 0x30:
    case 0x31:
    case 0x32:
    case 0x33:
    case 0x34: // beeper, LEDs, vibrator
        return Short(kAck);
    case 0x40: // zero calibration: done at once
        return Short(kAck);
    case 0x41:
    case 0x42: { // span, zero and span: runs for a while, shown by the progress flag
        FinishCalibration(now);
        const auto length = std::chrono::milliseconds(std::max(0, FOptions.calibration_ms));
        FCalRunning = true;
        FCalUsed = true;
        FCalFailed = false;
        FCalEnd = now + length;
        FCalStop = FCalEnd;
        // Zero and span zeroes in clean air first, for a quarter of the time,
        // then asks for span gas until the end.
        FCalSpanAt = op == 0x41 ? now : now + length / 4;
        return Short(kAck);
    }
    case 0x43: // abort a running calibration
        FinishCalibration(now);
        if (FCalRunning)
            FCalStop = now;
        FCalRunning = false;
        return Short(kAck);
    case 0x44: { // clear peak
        const SimReading r = ReadingNow(0, now);
        FReadings[0].peak = r.value < 0x8000 ? r.value : 0;
        return Short(kAck);
    }
    case 0x45:
        FBumpFailed = true;
        return Short(kAck);
    case 0x46:
        FBumpFailed = false;
        return Short(kAck);
    case 0x50: // select the sensor block (also the first step of a calibration code)
    case 0x5F: // select the unit block
        FSource = Source::kConfig;
        FSourcePos = op == 0x50 ? kSimSensorBlock : kSimUnitBlock;
        FPacketSize = std::clamp(FOptions.config_packet_size, 1, 256);
        return Short(kAck);
    case 0x60: // event log download
        FSource = Source::kLog;
        FSourcePos = 0;
        FPacketSize = std::clamp(FOptions.log_packet_size, 1, 256);
        return Short(kAck);
    case 0x70: // an address frame follows
        FExpect = Expect::kAddress;
        return Short(kAck);
    case 0x71: // a life value follows
        FExpect = Expect::kTime;
        return Short(kAck);
    case 0x81:
        if (FSource == Source::kNone)
            return Short(kNak);
        return Data(NextPacket());
    case 0x91:
    case 0x93:
        if (FFirmwareMode) {
            FExpect = Expect::kFirmwareData;
            return Short(kAck);
        }
        if (FSource == Source::kEeprom) { // after 0x70 and an address frame: a configuration write
            FExpect = Expect::kConfigData;
            return Short(kAck);
        }
        return Short(kNak);
    case 0xA0: {
        std::vector<uint8_t> id(sizeof(SimIdentity));
        std::memcpy(id.data(), &FIdentity, sizeof(SimIdentity));
        return Data(id);
    }
    case 0xA1: { // event log length, low byte first
        const uint32_t size = static_cast<uint32_t>(FLog.size());
        FSource = Source::kLog;
        FSourcePos = 0;
        FPacketSize = std::clamp(FOptions.log_packet_size, 1, 256);
        return Data({static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size >> 16),
                     static_cast<uint8_t>(size >> 24)});
    }
    case kWakeUp: // still awake?
        return Short(kAck);
    case kKill:
        FAwake = false;
        FSource = Source::kNone;
        return Short(kAck);
    default:
        return Short(kNak);
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
        return Short(kAck);
    case Expect::kTime: {
        uint8_t life[4];
        std::memcpy(life, payload.data(), 4);
        WriteConfig(kSimLifeAddress, life, 4);
        FIdentity.mLife = static_cast<uint32_t>(life[0] | (life[1] << 8) | (life[2] << 16)) |
                          (static_cast<uint32_t>(life[3]) << 24);
        return Short(kAck);
    }
    case Expect::kConfigData:
        WriteConfig(FAddress, payload.data(), static_cast<int>(payload.size()));
        return Short(kAck);
    case Expect::kFirmwareData: {
        // The block of the last 0x91: a first send or a repeat of it (0x93).
        const size_t block = static_cast<size_t>(std::max(0, FBlocksAnnounced - 1));
        if (FBlocks.size() <= block)
            FBlocks.resize(block + 1);
        FBlocks[block] = payload;
        return Short(kAck);
    }
    case Expect::kCommand:
        break;
    }
    return Short(kNak);
}

void SimDetector::WriteConfig(int address, const uint8_t *bytes, int count)
{
    for (int i = 0; i < count; ++i)
        if (address + i >= 0 && address + i < kSimConfigSize)
            FConfig[static_cast<size_t>(address + i)] = bytes[i];
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

void SimDetector::FinishCalibration(Clock::time_point now)
{
    if (FCalRunning && now >= FCalEnd) {
        FCalRunning = false;
        FCalFailed = FOptions.calibration_fails;
    }
}

SimReading SimDetector::ReadingNow(int mode, Clock::time_point now) const
{
    SimReading r = FReadings[mode];
    if (FOptions.live_readings)
        r.value = static_cast<uint16_t>(LiveValue(mode, now));
    if (FOptions.live_readings && mode != 0) // the raw ADC count follows the value
        r.peak = static_cast<uint16_t>(r.peak + (static_cast<int>(r.value) - FReadings[mode].value) *
                                                    (mode == 1 ? 8 : 237) / (mode == 1 ? 1 : 100));
    if (mode != 0)
        return r;
    const bool running = FCalRunning && now < FCalEnd;
    const bool failed = FCalRunning ? (!running && FOptions.calibration_fails) : FCalFailed;
    if (running)
        r.history |= 0x80;
    if (failed)
        r.history |= 0x08;
    if (FBumpFailed)
        r.history |= 0x10;
    if (r.value < 0x8000 && r.value > r.peak)
        r.peak = r.value;
    // A live unit keeps its alarms quiet while it takes span gas for a calibration.
    if ((r.history & 3) == 1 && !(running && FOptions.live_readings)) { // alarm levels are kept in tenths
        const uint16_t low = static_cast<uint16_t>(FConfig[kSimAlarmLowAddress] | (FConfig[kSimAlarmLowAddress + 1] << 8));
        const uint16_t high =
            static_cast<uint16_t>(FConfig[kSimAlarmHighAddress] | (FConfig[kSimAlarmHighAddress + 1] << 8));
        if (r.value < 0x8000) {
            if (low > 0 && r.value >= low)
                r.alarm |= 0x04;
            if (high > 0 && r.value >= high)
                r.alarm |= 0x08;
        }
    }
    return r;
}

int SimDetector::LiveValue(int mode, Clock::time_point now) const
{
    const double t = std::chrono::duration<double>(now - FBorn).count();
    // Seeded noise that changes four times a second: the same moment always
    // reads the same, two readings a second apart rarely do.
    const uint32_t tick = static_cast<uint32_t>(t * 4);
    auto noise = [&](uint32_t channel, int range) {
        return static_cast<int>(SimHash(FOptions.seed ^ channel, tick) % static_cast<uint32_t>(2 * range + 1)) - range;
    };
    const int base = mode == 0 ? static_cast<int16_t>(FReadings[0].value) : FReadings[mode].value;
    switch (mode) {
    case 0: { // gas, tenths: a little noise, never below zero unless the applied gas is
        if (base == 0x7FFF)
            return base; // over range stays over range
        const int v = base + CalibrationGas(now) + noise(0x6A5, 2);
        return std::clamp(v, std::min(base, 0), 0x7FFE) & 0xFFFF;
    }
    case 1: // temperature, tenths of a degree: a slow swing of 0.8 over fifteen minutes
        return std::max(0, base + static_cast<int>(std::lround(8 * std::sin(t * 2 * M_PI / 900))) + noise(0x7E3, 1));
    default: { // battery, hundredths of a volt: 0.01 down every four minutes, down to 2.70
        const int jitter = noise(0xBA7, 4) / 4; // -1 .. 1, mostly 0
        return std::max(std::min(base, 270), base - static_cast<int>(t / 240) + jitter);
    }
    }
}

int SimDetector::CalibrationGas(Clock::time_point now) const
{
    if (!FCalUsed || now < FCalSpanAt)
        return 0;
    // The sensor follows the gas with a time constant of two seconds, shorter
    // when the span phase is short, so that it settles before the end; the gas
    // clears a little slower than it came.
    const double phase = std::chrono::duration<double>(FCalEnd - FCalSpanAt).count();
    const double tauIn = std::clamp(phase / 4, 0.05, 2.0);
    const int span = FConfig[kSimSpanGasAddress] | (FConfig[kSimSpanGasAddress + 1] << 8);
    auto rise = [&](Clock::time_point at) {
        return span * (1 - std::exp(-std::chrono::duration<double>(at - FCalSpanAt).count() / tauIn));
    };
    if (now <= FCalStop)
        return static_cast<int>(std::lround(rise(now)));
    if (FCalStop <= FCalSpanAt)
        return 0;
    const double away = std::chrono::duration<double>(now - FCalStop).count();
    return static_cast<int>(std::lround(rise(FCalStop) * std::exp(-away / (1.5 * tauIn))));
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

void SimDetector::Record(std::vector<std::vector<uint8_t>> &list, const std::vector<uint8_t> &bytes)
{
    if (list.size() >= kRecordLimit)
        list.erase(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(kRecordLimit / 2));
    list.push_back(bytes);
}

// ---------------------------------------------------------------- accessors

SimOptions SimDetector::Options() const
{
    std::lock_guard lock(FMutex);
    return FOptions;
}

void SimDetector::SetOptions(const SimOptions &options)
{
    std::lock_guard lock(FMutex);
    FOptions = options;
}

void SimDetector::SetFault(uint8_t opcode, SimFault fault, int times)
{
    std::lock_guard lock(FMutex);
    FOptions.SetFault(opcode, fault, times);
}

std::array<uint8_t, kSimConfigSize> SimDetector::Config() const
{
    std::lock_guard lock(FMutex);
    return FConfig;
}

void SimDetector::SetConfig(const std::array<uint8_t, kSimConfigSize> &bytes)
{
    std::lock_guard lock(FMutex);
    FConfig = bytes;
}

SimIdentity SimDetector::Identity() const
{
    std::lock_guard lock(FMutex);
    return FIdentity;
}

void SimDetector::SetIdentity(const SimIdentity &identity)
{
    std::lock_guard lock(FMutex);
    FIdentity = identity;
}

std::vector<uint8_t> SimDetector::EventLog() const
{
    std::lock_guard lock(FMutex);
    return FLog;
}

void SimDetector::SetEventLog(const std::vector<uint8_t> &bytes)
{
    std::lock_guard lock(FMutex);
    FLog = bytes;
}

std::vector<uint8_t> SimDetector::Eeprom() const
{
    std::lock_guard lock(FMutex);
    return FEeprom;
}

void SimDetector::SetEeprom(const std::vector<uint8_t> &bytes)
{
    std::lock_guard lock(FMutex);
    FEeprom = bytes;
    FEepromMirror = false;
}

SimReading SimDetector::Reading(int mode) const
{
    std::lock_guard lock(FMutex);
    return ReadingNow(std::clamp(mode, 0, 2), Clock::now());
}

void SimDetector::SetReading(int mode, const SimReading &reading)
{
    std::lock_guard lock(FMutex);
    FReadings[std::clamp(mode, 0, 2)] = reading;
}

bool SimDetector::Awake() const
{
    std::lock_guard lock(FMutex);
    return FAwake;
}

bool SimDetector::PoweredDown() const
{
    std::lock_guard lock(FMutex);
    return FPoweredDown;
}

bool SimDetector::CalibrationRunning() const
{
    std::lock_guard lock(FMutex);
    return FCalRunning && Clock::now() < FCalEnd;
}

std::vector<std::vector<uint8_t>> SimDetector::ReceivedFrames() const
{
    std::lock_guard lock(FMutex);
    return FFrames;
}

std::vector<std::vector<uint8_t>> SimDetector::SentReplies() const
{
    std::lock_guard lock(FMutex);
    return FReplies;
}

void SimDetector::ClearRecords()
{
    std::lock_guard lock(FMutex);
    FFrames.clear();
    FReplies.clear();
    FDropped = 0;
    FCounts.clear();
}

int SimDetector::DroppedBytes() const
{
    std::lock_guard lock(FMutex);
    return FDropped;
}

int SimDetector::CommandCount(uint8_t opcode) const
{
    std::lock_guard lock(FMutex);
    auto it = FCounts.find(opcode);
    return it == FCounts.end() ? 0 : it->second;
}

std::vector<std::vector<uint8_t>> SimDetector::FirmwareBlocks() const
{
    std::lock_guard lock(FMutex);
    return FBlocks;
}

int SimDetector::ExecuteCount() const
{
    std::lock_guard lock(FMutex);
    return FExecutes;
}

bool SimDetector::ExecutePassed() const
{
    std::lock_guard lock(FMutex);
    return FExecutePassed;
}
