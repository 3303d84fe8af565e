// The serial port on Windows: "\\.\COMn" opened exclusively for overlapped
// I/O, set up through a DCB, waited on with an event beside a cancel event.
//
// Reads return at once with what the driver holds (ReadIntervalTimeout =
// MAXDWORD, no total time-out). A wait for input is a read of one byte with
// a total time-out: it ends the moment a byte comes, when the time is up, or
// when the device fails; the byte is kept for the next Read. So a vanished
// adapter fails the wait at once, as a hang-up does on POSIX systems.
//
// A named pipe opens the same way (the in-process simulated detector on
// Windows): it has no line settings, and what it holds is asked with
// PeekNamedPipe. What the program writes and takes in on the detector's pipe
// is kept in its tally (line_tally.h).
#include "link/comm.h"
#include "link/line_tally.h"

#include <windows.h>

#include <mmsystem.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

struct TCustomComm::RPlatformPort {
    HANDLE mHandle = INVALID_HANDLE_VALUE;
    HANDLE mIoEvent = nullptr; // completes each overlapped transfer
    HANDLE mCancel = nullptr;  // set by Close: ends a wait under way
    bool mPipe = false;
    DCB mSaved{};
    bool mHaveSaved = false;
    bool mWaitTimeouts = false; // the time-outs of a wait are set, not those of Read
    bool mHaveAhead = false;    // a byte a wait has read already
    uint8_t mAhead = 0;
    std::shared_ptr<TLineTally> mTally; // the in-process simulated detector's pipe only

    ~RPlatformPort()
    {
        if (mHandle != INVALID_HANDLE_VALUE)
            CloseHandle(mHandle);
        if (mIoEvent)
            CloseHandle(mIoEvent);
        if (mCancel)
            CloseHandle(mCancel);
    }
};

namespace {

std::wstring Widen(const std::string &text)
{
    if (text.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

// "COM5" (any letter case) is the device "\\.\COM5"; a name that starts with
// "\\" is a device path already.
std::wstring DevicePath(const std::string &name)
{
    if (name.rfind("\\\\", 0) == 0)
        return Widen(name);
    return L"\\\\.\\" + Widen(name);
}

int Code() { return static_cast<int>(GetLastError()); }

// Waits for the overlapped transfer until it completes, the cancel event is
// set or `ms` pass (INFINITE: no limit). A transfer that does not complete is
// cancelled and reaped. True with `done` the bytes moved; false with the
// system's error code, WAIT_TIMEOUT when the time was up.
bool Finish(HANDLE file, OVERLAPPED &ov, HANDLE cancel, DWORD ms, DWORD &done, DWORD &error)
{
    done = 0;
    const HANDLE events[2] = {ov.hEvent, cancel};
    const DWORD r = WaitForMultipleObjects(2, events, FALSE, ms);
    if (r != WAIT_OBJECT_0) {
        CancelIoEx(file, &ov);
        GetOverlappedResult(file, &ov, &done, TRUE);
        error = r == WAIT_TIMEOUT ? WAIT_TIMEOUT : ERROR_OPERATION_ABORTED;
        // A byte may have come in the moment the wait gave up.
        return done > 0;
    }
    if (!GetOverlappedResult(file, &ov, &done, FALSE)) {
        error = GetLastError();
        return false;
    }
    return true;
}

// Starts a read or write and waits for it as Finish does.
bool Transfer(HANDLE file, HANDLE event, HANDLE cancel, bool write, void *buf, DWORD count, DWORD ms, DWORD &done,
              DWORD &error)
{
    OVERLAPPED ov{};
    ov.hEvent = event;
    ResetEvent(event);
    const BOOL started = write ? WriteFile(file, buf, count, nullptr, &ov) : ReadFile(file, buf, count, nullptr, &ov);
    if (!started && GetLastError() != ERROR_IO_PENDING) {
        error = GetLastError();
        done = 0;
        return false;
    }
    return Finish(file, ov, cancel, ms, done, error);
}

DWORD MillisOf(double seconds)
{
    if (!(seconds > 0))
        return 0;
    const double ms = seconds * 1000.0;
    return ms >= 86400000.0 ? 86400000u : static_cast<DWORD>(ms + 0.999);
}

} // namespace

TCustomComm::TCustomComm() = default;

TCustomComm::~TCustomComm() { Close(); }

void TCustomComm::Open()
{
    if (FPort)
        throw ECommError("Port already assigned (open)", -1);

    // Share mode 0: no other program may open the port while it is ours.
    const std::wstring path = DevicePath(FDeviceName);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                           nullptr);
    // A pipe whose server has not taken the last client's leave yet is busy
    // for a moment: wait for it once.
    if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PIPE_BUSY && WaitNamedPipeW(path.c_str(), 2000))
        h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                        nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throw ECommError("Error accessing specified device", Code());
    auto port = std::make_unique<RPlatformPort>();
    port->mHandle = h;
    const DWORD type = GetFileType(h);
    if (type != FILE_TYPE_CHAR && type != FILE_TYPE_PIPE)
        throw ECommError("Invalid device handle, access denied", -1);
    port->mPipe = type == FILE_TYPE_PIPE;
    if (port->mPipe && FTally) {
        port->mTally = FTally;
        port->mTally->Opened();
    }
    port->mIoEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    port->mCancel = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!port->mIoEvent || !port->mCancel)
        throw ECommError("Error accessing specified device", Code());
    FPort = std::move(port);
    FPseudoTerminal = FPort->mPipe;
    // The exchanges pause for about a millisecond between wake-up frames:
    // the system's timer runs at that step while the port is open.
    timeBeginPeriod(1);
    if (FPort->mPipe)
        return;

    // From here on a failure leaves the device open; a later Close releases it.
    FPort->mSaved.DCBlength = sizeof(DCB);
    if (!GetCommState(h, &FPort->mSaved))
        throw ECommError("Error updating DataControlBlock", Code());
    FPort->mHaveSaved = true;
    SetupComm(h, static_cast<DWORD>(FReadBufSize), static_cast<DWORD>(FWriteBufSize));
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    if (!SetCommTimeouts(h, &t))
        throw ECommError("Error updating CommTimeouts", Code());
    ApplyLineSettings();
    PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
}

void TCustomComm::ApplyLineSettings()
{
    if (!FPort || FPort->mPipe)
        return;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(FPort->mHandle, &dcb))
        throw ECommError("Error updating DataControlBlock", Code());
    static const BYTE sizes[] = {5, 5, 6, 7, 8};
    static const BYTE parities[] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY};
    static const BYTE stops[] = {ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS};
    dcb.BaudRate = static_cast<DWORD>(FBaudData);
    dcb.ByteSize = sizes[FDatabits];
    dcb.Parity = parities[FParity];
    dcb.StopBits = stops[FStopbits];
    dcb.fBinary = TRUE;
    dcb.fParity = FParity != paNone;
    // No flow control of any kind; the adapter's lines stay up.
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    if (FBaudData <= 0 || !SetCommState(FPort->mHandle, &dcb))
        throw ECommError("Error updating DataControlBlock", FBaudData <= 0 ? ERROR_INVALID_PARAMETER : Code());
}

void TCustomComm::Close()
{
    if (!FPort)
        return;
    SetEvent(FPort->mCancel);
    CancelIoEx(FPort->mHandle, nullptr);
    if (FPort->mTally)
        FPort->mTally->Closed();
    if (FPort->mHaveSaved)
        SetCommState(FPort->mHandle, &FPort->mSaved);
    FPort.reset();
    timeEndPeriod(1);
}

int TCustomComm::Write(const void *buf, int count)
{
    if (!FPort)
        throw ECommError("Write error", ERROR_INVALID_HANDLE);
    if (count <= 0)
        return 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(FWriteTimeout);
    const auto *p = static_cast<const uint8_t *>(buf);
    int done = 0;
    while (done < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return -1;
        DWORD moved = 0, error = 0;
        const bool ok = Transfer(FPort->mHandle, FPort->mIoEvent, FPort->mCancel, true, const_cast<uint8_t *>(p + done),
                                 static_cast<DWORD>(count - done), static_cast<DWORD>(left.count()), moved, error);
        done += static_cast<int>(moved);
        if (FPort->mTally)
            FPort->mTally->Wrote(moved);
        if (!ok && error == WAIT_TIMEOUT)
            return done < count ? -1 : done;
        if (!ok)
            throw ECommError("Write error", static_cast<int>(error));
    }
    return done;
}

int TCustomComm::Read(void *buf, int count)
{
    if (!FPort)
        throw ECommError("Read error", ERROR_INVALID_HANDLE);
    if (count <= 0)
        return 0;
    auto *out = static_cast<uint8_t *>(buf);
    int got = 0;
    if (FPort->mHaveAhead) {
        out[got++] = FPort->mAhead;
        FPort->mHaveAhead = false;
    }
    DWORD want = static_cast<DWORD>(count - got);
    if (want > 0 && FPort->mPipe) {
        DWORD queued = 0;
        if (!PeekNamedPipe(FPort->mHandle, nullptr, 0, nullptr, &queued, nullptr))
            throw ECommError("Read error", Code());
        want = std::min(want, queued);
    } else if (want > 0 && FPort->mWaitTimeouts) {
        COMMTIMEOUTS t{};
        t.ReadIntervalTimeout = MAXDWORD;
        if (!SetCommTimeouts(FPort->mHandle, &t))
            throw ECommError("Read error", Code());
        FPort->mWaitTimeouts = false;
    }
    if (want > 0) {
        DWORD moved = 0, error = 0;
        if (!Transfer(FPort->mHandle, FPort->mIoEvent, FPort->mCancel, false, out + got, want, INFINITE, moved, error))
            throw ECommError("Read error", static_cast<int>(error));
        got += static_cast<int>(moved);
    }
    if (FPort->mTally)
        FPort->mTally->TookIn(static_cast<uint64_t>(got));
    return got;
}

bool TCustomComm::WaitInput(double seconds)
{
    if (!FPort)
        throw ECommError("Read error", ERROR_INVALID_HANDLE);
    if (FPort->mHaveAhead)
        return true;
    const DWORD ms = MillisOf(seconds);
    // The driver keeps the time of a serial port's read; the wait's own
    // limit only guards against one that does not.
    DWORD limit = FPort->mPipe ? ms : ms + 1000;
    if (!FPort->mPipe) {
        // A read of one byte that gives up after `ms`: the driver keeps the time.
        COMMTIMEOUTS t{};
        t.ReadTotalTimeoutConstant = std::max<DWORD>(ms, 1);
        if (!SetCommTimeouts(FPort->mHandle, &t))
            throw ECommError("Read error", Code());
        FPort->mWaitTimeouts = true;
    }
    DWORD moved = 0, error = 0;
    const bool ok = Transfer(FPort->mHandle, FPort->mIoEvent, FPort->mCancel, false, &FPort->mAhead, 1, limit, moved,
                             error);
    if (moved == 1) {
        FPort->mHaveAhead = true;
        return true;
    }
    if (ok || error == WAIT_TIMEOUT || error == ERROR_OPERATION_ABORTED)
        return false;
    throw ECommError("Read error", static_cast<int>(error));
}

void TCustomComm::PurgeIn()
{
    if (!FPort)
        return;
    uint64_t thrown = FPort->mHaveAhead ? 1 : 0;
    FPort->mHaveAhead = false;
    if (FPort->mPipe) {
        // A pipe has no driver queue to clear: read away what it holds.
        uint8_t scratch[256];
        DWORD queued = 0;
        while (PeekNamedPipe(FPort->mHandle, nullptr, 0, nullptr, &queued, nullptr) && queued > 0) {
            DWORD moved = 0, error = 0;
            const bool ok = Transfer(FPort->mHandle, FPort->mIoEvent, FPort->mCancel, false, scratch,
                                     std::min<DWORD>(queued, sizeof scratch), INFINITE, moved, error);
            thrown += moved;
            if (!ok || moved == 0)
                break;
        }
        if (FPort->mTally)
            FPort->mTally->TookIn(thrown);
        return;
    }
    PurgeComm(FPort->mHandle, PURGE_RXCLEAR | PURGE_RXABORT);
}
