#include "link/comm.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {
std::string WithCode(const std::string &message, int code)
{
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, " (Error: %d) ", code);
    return message + suffix;
}

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

ECommError::ECommError(const std::string &message, int errorCode)
    : std::runtime_error(WithCode(message, errorCode)), ErrorCode(errorCode), Message(message)
{
}

TCustomComm::TCustomComm() = default;

TCustomComm::~TCustomComm() { Close(); }

void TCustomComm::Open()
{
    if (Enabled())
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
    FHandle = fd;
    FPseudoTerminal = major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
    ::ioctl(fd, TIOCEXCL);

    // From here on a failure leaves the device open; a later Close releases it.
    if (::tcgetattr(fd, &FSavedTermios) != 0)
        throw ECommError("Error updating CommTimeouts", errno);
    FHaveSavedTermios = true;
    ApplyLineSettings();
}

void TCustomComm::ApplyLineSettings()
{
    if (!Enabled())
        return;
    termios tio{};
    if (::tcgetattr(FHandle, &tio) != 0)
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
    if (::tcsetattr(FHandle, TCSANOW, &tio) != 0)
        throw ECommError("Error updating DataControlBlock", errno);
}

void TCustomComm::Close()
{
    if (!Enabled())
        return;
    if (FHaveSavedTermios)
        ::tcsetattr(FHandle, TCSANOW, &FSavedTermios);
    FHaveSavedTermios = false;
    ::ioctl(FHandle, TIOCNXCL);
    ::flock(FHandle, LOCK_UN);
    ::close(FHandle);
    FHandle = -1;
}

int TCustomComm::Write(const void *buf, int count)
{
    if (!Enabled())
        throw ECommError("Write error", EBADF);
    if (count <= 0)
        return 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(FWriteTimeout);
    const auto *p = static_cast<const uint8_t *>(buf);
    int done = 0;
    while (done < count) {
        const ssize_t n = ::write(FHandle, p + done, static_cast<size_t>(count - done));
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            throw ECommError("Write error", errno);
        // Output queue full: wait for room, at most until the write time-out.
        pollfd pfd{FHandle, POLLOUT, 0};
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
    if (!Enabled())
        throw ECommError("Read error", EBADF);
    if (count <= 0)
        return 0;
    for (;;) {
        const ssize_t n = ::read(FHandle, buf, static_cast<size_t>(count));
        if (n > 0)
            return static_cast<int>(n);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return 0;
        if (n < 0)
            throw ECommError("Read error", errno);
        // 0 bytes: either nothing queued (VMIN = 0) or the device went away.
        pollfd pfd{FHandle, POLLIN, 0};
        if (::poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)))
            throw ECommError("Read error", EIO);
        return 0;
    }
}

bool TCustomComm::WaitInput(double seconds)
{
    if (!Enabled())
        throw ECommError("Read error", EBADF);
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(seconds > 0 ? seconds : 0));
    for (;;) {
        pollfd pfd{FHandle, POLLIN, 0};
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
    if (Enabled())
        ::tcflush(FHandle, TCIFLUSH);
}

void TCustomComm::SetDeviceName(const std::string &name)
{
    if (name == FDeviceName)
        return;
    if (Enabled())
        throw ECommError("Port already assigned (open)", -1);
    FDeviceName = name;
}

void TCustomComm::SetReadBufSize(int size)
{
    if (size == FReadBufSize)
        return;
    if (Enabled())
        throw ECommError("Port already assigned (open)", -1);
    FReadBufSize = size;
}

void TCustomComm::SetWriteBufSize(int size)
{
    if (size == FWriteBufSize)
        return;
    if (Enabled())
        throw ECommError("Port already assigned (open)", -1);
    FWriteBufSize = size;
}

void TCustomComm::SetBaudData(int baud)
{
    if (baud == FBaudData)
        return;
    FBaudData = baud;
    ApplyLineSettings();
}

void TCustomComm::SetDatabits(TDatabits bits)
{
    if (bits == FDatabits)
        return;
    FDatabits = bits;
    ApplyLineSettings();
}

void TCustomComm::SetStopbits(TStopbits bits)
{
    if (bits == FStopbits)
        return;
    FStopbits = bits;
    ApplyLineSettings();
}

void TCustomComm::SetParity(TParity parity)
{
    if (parity == FParity)
        return;
    FParity = parity;
    ApplyLineSettings();
}
