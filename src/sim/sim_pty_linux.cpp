// The simulated detector's line on Linux: the pseudo-terminal it serves,
// the wait for the program to open it, and the serving loop that reads,
// waits and writes on it. What a frame does is sim_line.cpp's.
#include "sim/sim_detector.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <initializer_list>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

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

using namespace std::chrono_literals;

// Input that stops for this long is taken as complete.
constexpr auto kIdleGap = 2ms;
// One byte at 115200 baud, 8N1: ten bit times.
constexpr auto kByteTime = std::chrono::nanoseconds(1000000000LL * 10 / 115200);
// While the program has the port closed the master reports hang-up at once.
// The detector then waits for the device to be opened (inotify); without
// inotify it looks at the line again after these pauses.
constexpr int kHangUpPauseMinMs = 1;
constexpr int kHangUpPauseMaxMs = 16;
constexpr auto kOpenWaitLimit = 1s;

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

void SimDetector::OpenPty()
{
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

void SimDetector::ClosePty()
{
    for (int &fd : FWake)
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    if (FOpenWatch >= 0) {
        ::close(FOpenWatch);
        FOpenWatch = -1;
    }
}

void SimDetector::KeepProgramSignalsAway()
{
    sigset_t stop;
    sigemptyset(&stop);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaddset(&stop, sig);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
}

// A pty cannot tell when the program has read a reply: a repeat is a wake-up
// frame that came in the burst's time (sim_line.cpp).
bool SimDetector::AnsweredAlready(Clock::time_point arrived) const { return arrived <= FBurstUntil; }

void SimDetector::WatchForTakeIn(size_t) {}

void SimDetector::Wake()
{
    if (FWake[1] >= 0) {
        const uint8_t b = 1;
        [[maybe_unused]] ssize_t r = ::write(FWake[1], &b, 1);
    }
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
