#include "support/pty_peer.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

PtyPeer::PtyPeer()
{
    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FMaster < 0 || ::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0)
        throw std::runtime_error("pty");
    FPath = ::ptsname(FMaster);
    termios tio{};
    ::tcgetattr(FMaster, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(FMaster, TCSANOW, &tio);
    // Keep a slave open until the program opens its own, so writes from this
    // side never see a hang-up before the program is there.
    FThread = std::thread([this] { Run(); });
}

PtyPeer::~PtyPeer()
{
    FStop = true;
    if (FThread.joinable())
        FThread.join();
    if (FMaster >= 0)
        ::close(FMaster);
}

void PtyPeer::Script(std::vector<Step> steps)
{
    std::lock_guard lock(FLock);
    FSteps = std::move(steps);
    FStepBytes = 0;
}

void PtyPeer::Then(size_t expect, Bytes reply, int gapMs)
{
    std::lock_guard lock(FLock);
    FSteps.push_back(Step{expect, {std::move(reply)}, gapMs, false});
}

void PtyPeer::Send(const Bytes &bytes)
{
    std::lock_guard lock(FLock);
    if (FMaster >= 0 && !bytes.empty())
        (void)!::write(FMaster, bytes.data(), bytes.size());
}

void PtyPeer::Vanish()
{
    std::lock_guard lock(FLock);
    if (FMaster >= 0) {
        ::close(FMaster);
        FMaster = -1;
    }
}

void PtyPeer::Run()
{
    uint8_t buf[512];
    while (!FStop) {
        int fd;
        {
            std::lock_guard lock(FLock);
            fd = FMaster;
        }
        if (fd < 0)
            return;
        pollfd pfd{fd, POLLIN, 0};
        const int r = ::poll(&pfd, 1, 5);
        if (r <= 0 || !(pfd.revents & POLLIN)) {
            if (r > 0 && (pfd.revents & POLLHUP))
                ::usleep(1000); // nobody holds the other end yet
            continue;
        }
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            continue;
        std::vector<Step> due;
        {
            std::lock_guard lock(FLock);
            FReceived.insert(FReceived.end(), buf, buf + n);
            FStepBytes += static_cast<size_t>(n);
            while (!FSteps.empty() && FStepBytes >= FSteps.front().expectBytes) {
                FStepBytes -= FSteps.front().expectBytes;
                due.push_back(std::move(FSteps.front()));
                FSteps.erase(FSteps.begin());
            }
        }
        FChanged.notify_all();
        for (const Step &step : due) {
            for (const Bytes &piece : step.pieces) {
                if (step.gapMs > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(step.gapMs));
                std::lock_guard lock(FLock);
                if (FMaster >= 0 && !piece.empty())
                    (void)!::write(FMaster, piece.data(), piece.size());
            }
            if (step.vanish)
                Vanish();
        }
    }
}
