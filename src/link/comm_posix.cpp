// The serial port on POSIX systems: a tty opened raw and non-blocking,
// held exclusively (flock for every process that asks politely, TIOCEXCL for
// plain opens), set up through termios, waited on with poll.
#include "link/comm.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

// The open tty and the settings it had before, put back at close.
struct TCustomComm::RPlatformPort {
    int mFd = -1;
    termios mSaved{};
    bool mHaveSaved = false;
};

namespace {
speed_t SpeedOf(int baud)
{
    switch (baud) {
    case 110: return B110;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return 0;
    }
}

// Remaining milliseconds until `deadline`, for poll(); never negative.
int MillisLeft(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}
} // namespace

TCustomComm::TCustomComm() = default;

TCustomComm::~TCustomComm() { Close(); }

void TCustomComm::Open()
{
    if (FPort)
        throw ECommError("Port already assigned (open)", -1);

    const int fd = ::open(FDeviceName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw ECommError("Error accessing specified device", errno);

    // Exclusive use: flock keeps out every other process that asks politely,
    // TIOCEXCL keeps out plain opens of non-root processes.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        throw ECommError("Error accessing specified device", err);
    }
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !::isatty(fd)) {
        ::close(fd);
        throw ECommError("Invalid device handle, access denied", -1);
    }
    FPort = std::make_unique<RPlatformPort>();
    FPort->mFd = fd;
    FPseudoTerminal = major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
    ::ioctl(fd, TIOCEXCL);

    // From here on a failure leaves the device open; a later Close releases it.
    if (::tcgetattr(fd, &FPort->mSaved) != 0)
        throw ECommError("Error updating CommTimeouts", errno);
    FPort->mHaveSaved = true;
    ApplyLineSettings();
}

void TCustomComm::ApplyLineSettings()
{
    if (!FPort)
        return;
    const int fd = FPort->mFd;
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        throw ECommError("Error updating DataControlBlock", errno);
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CRTSCTS | CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    static const tcflag_t sizes[] = {CS5, CS5, CS6, CS7, CS8};
    tio.c_cflag |= sizes[FDatabits];
    switch (FParity) {
    case paNone: break;
    case paOdd: tio.c_cflag |= PARENB | PARODD; break;
    case paEven: tio.c_cflag |= PARENB; break;
    case paMark: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case paSpace: tio.c_cflag |= PARENB | CMSPAR; break;
    }
    if (FStopbits != sb10)
        tio.c_cflag |= CSTOPB;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    const speed_t speed = SpeedOf(FBaudData);
    if (speed == 0)
        throw ECommError("Error updating DataControlBlock", EINVAL);
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0)
        throw ECommError("Error updating DataControlBlock", errno);
}

void TCustomComm::Close()
{
    if (!FPort)
        return;
    const int fd = FPort->mFd;
    if (FPort->mHaveSaved)
        ::tcsetattr(fd, TCSANOW, &FPort->mSaved);
    ::ioctl(fd, TIOCNXCL);
    ::flock(fd, LOCK_UN);
    ::close(fd);
    FPort.reset();
}

int TCustomComm::Write(const void *buf, int count)
{
    if (!FPort)
        throw ECommError("Write error", EBADF);
    if (count <= 0)
        return 0;
    const int fd = FPort->mFd;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(FWriteTimeout);
    const auto *p = static_cast<const uint8_t *>(buf);
    int done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, p + done, static_cast<size_t>(count - done));
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            throw ECommError("Write error", errno);
        // Output queue full: wait for room, at most until the write time-out.
        pollfd pfd{fd, POLLOUT, 0};
        const int left = MillisLeft(deadline);
        if (left == 0)
            return -1;
        const int r = ::poll(&pfd, 1, left);
        if (r < 0 && errno != EINTR)
            throw ECommError("Write error", errno);
        if (r > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)))
            throw ECommError("Write error", EIO);
    }
    return done;
}

int TCustomComm::Read(void *buf, int count)
{
    if (!FPort)
        throw ECommError("Read error", EBADF);
    if (count <= 0)
        return 0;
    const int fd = FPort->mFd;
    for (;;) {
        const ssize_t n = ::read(fd, buf, static_cast<size_t>(count));
        if (n > 0)
            return static_cast<int>(n);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return 0;
        if (n < 0)
            throw ECommError("Read error", errno);
        // 0 bytes: either nothing queued (VMIN = 0) or the device went away.
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)))
            throw ECommError("Read error", EIO);
        return 0;
    }
}

bool TCustomComm::WaitInput(double seconds)
{
    if (!FPort)
        throw ECommError("Read error", EBADF);
    const int fd = FPort->mFd;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(seconds > 0 ? seconds : 0));
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        const auto left = deadline - std::chrono::steady_clock::now();
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timespec ts{};
        if (ns > 0) {
            ts.tv_sec = static_cast<time_t>(ns / 1000000000);
            ts.tv_nsec = static_cast<long>(ns % 1000000000);
        }
        const int r = ::ppoll(&pfd, 1, &ts, nullptr);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            throw ECommError("Read error", errno);
        }
        if (r == 0)
            return false;
        // A device that went away may still flag input; it cannot answer any more.
        if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL))
            throw ECommError("Read error", EIO);
        if (pfd.revents & POLLIN)
            return true;
    }
}

void TCustomComm::PurgeIn()
{
    if (FPort)
        ::tcflush(FPort->mFd, TCIFLUSH);
}

