#pragma once
// The program's end of the simulator's line, kept deliberately plain: open,
// termios raw, write, poll and read. On Windows the line is the simulator's
// named pipe: open, write, and reads that wait for what comes.
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <unistd.h>
#include <vector>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#endif

#include "link/wire.h"
#include "model/crc16.h"

namespace simtest {

using Bytes = std::vector<uint8_t>;

inline Bytes Framed(Bytes data)
{
    const uint16_t crc = CRC16(data.data(), static_cast<int>(data.size()));
    data.push_back(static_cast<uint8_t>(crc >> 8));
    data.push_back(static_cast<uint8_t>(crc));
    return data;
}

inline bool CrcGood(const Bytes &reply)
{
    return reply.size() >= 3 && Framed(Bytes(reply.begin(), reply.end() - 2)) == reply;
}

inline const Bytes kAckFrame = {0xB5, 0xB7, 0xC1};
inline const Bytes kNakFrame = {0xB6, 0xB6, 0x81};

#ifdef _WIN32
class RawLine {
public:
    explicit RawLine(const std::string &path)
    {
        pipe = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
        io = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~RawLine()
    {
        if (Open())
            CloseHandle(pipe);
        CloseHandle(io);
    }
    RawLine(const RawLine &) = delete;
    RawLine &operator=(const RawLine &) = delete;

    bool Open() const { return pipe != INVALID_HANDLE_VALUE; }

    void Send(const Bytes &bytes)
    {
        OVERLAPPED ov{};
        ov.hEvent = io;
        ResetEvent(io);
        DWORD n = 0;
        const bool ok = (WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &ov) ||
                         GetLastError() == ERROR_IO_PENDING) &&
                        GetOverlappedResult(pipe, &ov, &n, TRUE);
        lastWrite = ok ? static_cast<long>(n) : -1;
    }

    // Reads until `want` bytes have arrived or `ms` have passed. A line the
    // simulator closed sets `hungUp` and `error` (EIO).
    Bytes Receive(size_t want, int ms = 300)
    {
        Bytes got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (bool first = true; got.size() < want; first = false) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            if (left <= 0 && !first)
                break;
            uint8_t buf[512];
            OVERLAPPED ov{};
            ov.hEvent = io;
            ResetEvent(io);
            DWORD n = 0;
            if (!ReadFile(pipe, buf, sizeof buf, nullptr, &ov) && GetLastError() != ERROR_IO_PENDING) {
                Gone();
                break;
            }
            if (WaitForSingleObject(io, static_cast<DWORD>(left > 0 ? left : 0)) != WAIT_OBJECT_0)
                CancelIoEx(pipe, &ov);
            if (GetOverlappedResult(pipe, &ov, &n, TRUE)) {
                got.insert(got.end(), buf, buf + n);
            } else if (GetLastError() != ERROR_OPERATION_ABORTED) {
                Gone();
                break;
            }
        }
        return got;
    }

    // Drops what has arrived and was not read.
    void Purge()
    {
        DWORD queued = 0;
        while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &queued, nullptr) && queued > 0)
            Receive(queued, 0);
    }

    // One request/reply exchange: purge, write the framed request, read `want` bytes.
    Bytes Ask(const Bytes &request, size_t want, int ms = 300)
    {
        Purge();
        Send(Framed(request));
        return Receive(want, ms);
    }

    bool Wake() { return Ask({wire::kOpWakeUp}, 3) == kAckFrame; }

    HANDLE pipe = INVALID_HANDLE_VALUE;
    HANDLE io = nullptr;
    long lastWrite = 0;
    int error = 0;
    bool hungUp = false;

private:
    void Gone()
    {
        error = EIO;
        hungUp = true;
    }
};
#else
class RawLine {
public:
    explicit RawLine(const std::string &path)
    {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0) {
            termios t{};
            tcgetattr(fd, &t);
            cfmakeraw(&t);
            tcsetattr(fd, TCSANOW, &t);
        }
    }
    ~RawLine()
    {
        if (fd >= 0)
            ::close(fd);
    }
    RawLine(const RawLine &) = delete;
    RawLine &operator=(const RawLine &) = delete;

    bool Open() const { return fd >= 0; }

    void Send(const Bytes &bytes) { lastWrite = ::write(fd, bytes.data(), bytes.size()); }

    // Reads until `want` bytes have arrived or `ms` have passed. `error` gets
    // the errno of a failed read or a hang-up.
    Bytes Receive(size_t want, int ms = 300)
    {
        Bytes got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (bool first = true; got.size() < want; first = false) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            if (left <= 0 && !first)
                break;
            pollfd p = {fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left > 0 ? left : 0)) <= 0)
                continue;
            uint8_t buf[512];
            const ssize_t n = ::read(fd, buf, sizeof(buf));
            if (n > 0) {
                got.insert(got.end(), buf, buf + n);
            } else {
                error = n < 0 ? errno : 0;
                hungUp = (p.revents & POLLHUP) != 0;
                break;
            }
        }
        return got;
    }

    // Drops what has arrived and was not read.
    void Purge() { tcflush(fd, TCIFLUSH); }

    // One request/reply exchange: purge, write the framed request, read `want` bytes.
    Bytes Ask(const Bytes &request, size_t want, int ms = 300)
    {
        Purge();
        Send(Framed(request));
        return Receive(want, ms);
    }

    bool Wake() { return Ask({wire::kOpWakeUp}, 3) == kAckFrame; }

    int fd = -1;
    ssize_t lastWrite = 0;
    int error = 0;
    bool hungUp = false;
};
#endif

} // namespace simtest
