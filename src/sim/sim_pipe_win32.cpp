// The simulated detector's line on Windows: a named pipe that the program
// opens as its port ("\\.\pipe\beamport-sim-..."; the port class takes a
// pipe as it takes a COM port), the wait for the program to open it, and the
// serving loop that reads, waits and writes on it. What a frame does is
// sim_line.cpp's.
//
// The handles live in the detector's descriptor fields: FMaster the pipe,
// FWake[0] the wake-up event, FWake[1] the event of the pipe's transfers
// (Windows guarantees a kernel handle's value fits in 32 bits).
//
// The pipe's transfers go through the system and its threads, late by
// milliseconds under load, so when a frame came says little about when the
// program wrote it. The port keeps a tally of what the program writes and
// takes in (line_tally.h), and a repeat of a wake-up frame is told by it: a
// frame the program wrote before it had taken in the acknowledge. A client
// without a tally is judged by time, as on a pty (sim_line.cpp).
#include "sim/sim_detector.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace {

using namespace std::chrono_literals;

// Input that stops for this long is taken as complete.
constexpr auto kIdleGap = 2ms;
// One byte at 115200 baud, 8N1: ten bit times.
constexpr auto kByteTime = std::chrono::nanoseconds(1000000000LL * 10 / 115200);

HANDLE H(int value) { return LongToHandle(value); }
int Value(HANDLE h) { return HandleToLong(h); }

// Milliseconds until `deadline`, rounded up so that a wait never ends early.
DWORD MillisUntil(std::chrono::steady_clock::time_point deadline)
{
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= 0ns)
        return 0;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left + 999us).count();
    return static_cast<DWORD>(std::min<long long>(ms, 86400000));
}

std::string Reason(const char *what)
{
    return std::string(what) + ": error " + std::to_string(GetLastError());
}

} // namespace

void SimDetector::OpenPty()
{
    char name[96];
    std::snprintf(name, sizeof name, "\\\\.\\pipe\\beamport-sim-%lu-%p", GetCurrentProcessId(),
                  static_cast<void *>(this));
    const HANDLE pipe =
        CreateNamedPipeA(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                         PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 4096, 4096,
                         0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        FError = Reason("CreateNamedPipe");
        return;
    }
    const HANDLE wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const HANDLE io = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!wake || !io) {
        FError = Reason("CreateEvent");
        CloseHandle(pipe);
        if (wake)
            CloseHandle(wake);
        if (io)
            CloseHandle(io);
        return;
    }
    FMaster = Value(pipe);
    FWake[0] = Value(wake);
    FWake[1] = Value(io);
    FDevicePath = name;
    FCreated = true;
}

void SimDetector::ClosePty()
{
    for (int &h : FWake)
        if (h != -1 && h != 0) {
            CloseHandle(H(h));
            h = -1;
        }
}

bool SimDetector::AnsweredAlready(Clock::time_point arrived) const
{
    // A frame that is no wake-up ends the burst on either kind of line (it
    // clears FBurstUntil).
    if (FTally->Attached())
        return FBurstUntil != Clock::time_point{} && FTally->WrittenBeforeWatchedReply(FFrameEnd);
    return arrived <= FBurstUntil;
}

void SimDetector::WatchForTakeIn(size_t bytes) { FTally->Watch(FTxCount + bytes); }

// Windows gives a console's stop requests to a thread of their own.
void SimDetector::KeepProgramSignalsAway() {}

void SimDetector::Wake()
{
    if (FWake[0] != -1)
        SetEvent(H(FWake[0]));
}

void SimDetector::CloseMaster()
{
    {
        std::lock_guard lock(FMutex);
        if (FMaster >= 0) {
            // The program's next transfer fails: the line is gone.
            CloseHandle(H(FMaster));
            FMaster = -1;
            FVanished = true;
        }
    }
    FVanishedCv.notify_all();
}

// ---------------------------------------------------------------- serving loop

void SimDetector::Serve()
{
    const HANDLE pipe = H(FMaster);
    const HANDLE wake = H(FWake[0]);
    const HANDLE io = H(FWake[1]);
    bool connected = false;
    bool waiting = false;
    // A new connection: the program's tally starts over too.
    const auto connect = [&] {
        connected = true;
        FRxGone = 0;
        FTxCount = 0;
    };
    while (!FStop) {
        if (FVanishReq) {
            CloseMaster();
            return;
        }
        if (FHungUp) {
            // Nobody has the port open: nothing more will arrive for what is queued.
            if (!FRx.empty())
                waiting = ProcessInput(true);
            DisconnectNamedPipe(pipe);
            connected = false;
            FHungUp = false;
            continue;
        }
        OVERLAPPED ov{};
        ov.hEvent = io;
        ResetEvent(io);
        uint8_t first = 0;
        // Until the program opens the port: the connection; then its first byte.
        const BOOL started = connected ? ReadFile(pipe, &first, 1, nullptr, &ov) : ConnectNamedPipe(pipe, &ov);
        DWORD error = started ? 0 : GetLastError();
        if (!connected && error == ERROR_PIPE_CONNECTED) {
            connect();
            continue;
        }
        if (!started && error != ERROR_IO_PENDING) {
            FHungUp = connected;
            if (!connected)
                WaitUntil(Clock::now() + 10ms); // a pipe that cannot take a client now
            continue;
        }
        const HANDLE both[2] = {io, wake};
        const DWORD limit = waiting ? MillisUntil(FLastRx + kIdleGap) : INFINITE;
        const DWORD r = WaitForMultipleObjects(2, both, FALSE, limit);
        if (r != WAIT_OBJECT_0)
            CancelIoEx(pipe, &ov); // woken or timed out: the read must end before anything else reads
        DWORD got = 0;
        const BOOL done = GetOverlappedResult(pipe, &ov, &got, TRUE);
        error = done ? 0 : GetLastError();
        if (!connected) {
            if (done)
                connect();
            continue;
        }
        if (got == 1) {
            const auto now = Clock::now();
            FRx.push_back(first);
            FRxTime.push_back(now);
            FLastRx = now;
            ReadInput();
            waiting = ProcessInput(false);
        } else if (!done && error != ERROR_OPERATION_ABORTED) {
            FHungUp = true; // ERROR_BROKEN_PIPE: the program closed its end
        } else if (r == WAIT_TIMEOUT && waiting) {
            waiting = ProcessInput(Clock::now() - FLastRx >= kIdleGap);
        }
    }
}

void SimDetector::WaitForOpen() {}

bool SimDetector::ReadInput()
{
    const HANDLE pipe = H(FMaster);
    const HANDLE io = H(FWake[1]);
    bool got = false;
    uint8_t buf[4096];
    for (;;) {
        DWORD queued = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &queued, nullptr)) {
            FHungUp = true; // the program closed its end
            return got;
        }
        if (queued == 0)
            return got;
        OVERLAPPED ov{};
        ov.hEvent = io;
        ResetEvent(io);
        DWORD n = 0;
        const DWORD want = std::min<DWORD>(queued, sizeof buf);
        if (!ReadFile(pipe, buf, want, nullptr, &ov) && GetLastError() != ERROR_IO_PENDING) {
            FHungUp = true;
            return got;
        }
        if (!GetOverlappedResult(pipe, &ov, &n, TRUE) || n == 0) {
            FHungUp = true;
            return got;
        }
        const auto now = Clock::now();
        FRx.insert(FRx.end(), buf, buf + n);
        FRxTime.insert(FRxTime.end(), static_cast<size_t>(n), now);
        FLastRx = now;
        got = true;
    }
}

bool SimDetector::WaitUntil(Clock::time_point deadline)
{
    for (;;) {
        if (Stopping())
            return false;
        const auto left = deadline - Clock::now();
        if (left <= 0ns)
            return true;
        // The system's waits count whole milliseconds (and may end a step
        // late): a wait of less than two is spun out, so that the line's
        // microsecond knobs (a second acknowledge 600 us later) hold as they
        // do on a pty.
        if (left < 2ms) {
            while (Clock::now() < deadline && !Stopping())
                SwitchToThread();
            continue;
        }
        const auto whole = std::chrono::duration_cast<std::chrono::milliseconds>(left) - 1ms;
        WaitForSingleObject(H(FWake[0]), static_cast<DWORD>(std::min<long long>(whole.count(), 86400000)));
        if (Stopping()) {
            Wake(); // the serving loop sees the request too
            return false;
        }
    }
}

void SimDetector::WriteBytes(const std::vector<uint8_t> &bytes, bool paced)
{
    const HANDLE pipe = H(FMaster);
    auto writeAll = [&](const uint8_t *data, size_t count) {
        while (count > 0 && !Stopping()) {
            // The pipe's transfer event: the serving loop's read has ended
            // before anything is written.
            OVERLAPPED ov{};
            ov.hEvent = H(FWake[1]);
            ResetEvent(ov.hEvent);
            DWORD n = 0;
            if (!WriteFile(pipe, data, static_cast<DWORD>(count), nullptr, &ov) && GetLastError() != ERROR_IO_PENDING)
                return; // the program's end is gone: the bytes are lost, as on a real line
            if (WaitForSingleObject(ov.hEvent, 500) != WAIT_OBJECT_0)
                CancelIoEx(pipe, &ov); // the program does not read: give up
            if (!GetOverlappedResult(pipe, &ov, &n, TRUE) || n == 0)
                return;
            FTxCount += n;
            data += n;
            count -= n;
        }
    };
    if (!paced) {
        writeAll(bytes.data(), bytes.size());
        return;
    }
    // At the line's pace: the bytes whose time has come go out together (the
    // system's sleeps are coarser than a byte time).
    const auto start = Clock::now();
    size_t sent = 0;
    while (sent < bytes.size() && !Stopping()) {
        const auto due = static_cast<size_t>((Clock::now() - start) / kByteTime) + 1;
        const size_t upTo = std::min(bytes.size(), due);
        if (upTo > sent) {
            writeAll(bytes.data() + sent, upTo - sent);
            sent = upTo;
        }
        if (sent < bytes.size())
            WaitUntil(start + kByteTime * static_cast<long long>(sent));
    }
}
