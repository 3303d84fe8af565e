// The scripted peer on Windows: the server end of a named pipe, which the
// port class opens as it opens a COM port. One thread waits for the program,
// reads what it writes and answers by the script; the pipe is closed only by
// that thread, so no transfer of it outlives its handle.
#include "support/pty_peer.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace {

// Writes all of `bytes` to the pipe (a transfer of its own, waited for).
void WriteAll(HANDLE pipe, const Bytes &bytes)
{
    if (!pipe || bytes.empty())
        return;
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED ov{};
    ov.hEvent = done;
    DWORD n = 0;
    if (WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &ov) ||
        GetLastError() == ERROR_IO_PENDING)
        GetOverlappedResult(pipe, &ov, &n, TRUE);
    CloseHandle(done);
}

} // namespace

PtyPeer::PtyPeer()
{
    char name[96];
    std::snprintf(name, sizeof name, "\\\\.\\pipe\\beamport-peer-%lu-%p", GetCurrentProcessId(),
                  static_cast<void *>(this));
    const HANDLE pipe =
        CreateNamedPipeA(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                         PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 4096, 4096,
                         0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE)
        throw std::runtime_error("named pipe");
    FPipe = pipe;
    FIo = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    FPath = name;
    FThread = std::thread([this] { Run(); });
}

PtyPeer::~PtyPeer()
{
    FStop = true;
    if (FThread.joinable())
        FThread.join();
    if (FPipe)
        CloseHandle(FPipe);
    CloseHandle(FIo);
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
    WriteAll(FPipe, bytes);
}

void PtyPeer::Vanish()
{
    std::unique_lock lock(FLock);
    if (!FPipe)
        return;
    if (std::this_thread::get_id() == FThread.get_id()) {
        DisconnectNamedPipe(FPipe);
        CloseHandle(FPipe);
        FPipe = nullptr;
        return;
    }
    // The serving thread closes it at its next turn (it waits 5 ms at most).
    FVanishAsked = true;
    FChanged.wait(lock, [this] { return FPipe == nullptr || !FThread.joinable(); });
}

void PtyPeer::Run()
{
    bool connected = false;
    uint8_t buf[512];
    while (!FStop) {
        HANDLE pipe;
        {
            std::lock_guard lock(FLock);
            if (FVanishAsked && FPipe) {
                DisconnectNamedPipe(FPipe);
                CloseHandle(FPipe);
                FPipe = nullptr;
            }
            pipe = FPipe;
        }
        if (!pipe) {
            FChanged.notify_all();
            return;
        }
        OVERLAPPED ov{};
        ov.hEvent = FIo;
        ResetEvent(FIo);
        const BOOL started = connected ? ReadFile(pipe, buf, sizeof buf, nullptr, &ov) : ConnectNamedPipe(pipe, &ov);
        const DWORD error = started ? 0 : GetLastError();
        if (!connected && error == ERROR_PIPE_CONNECTED) {
            connected = true;
            continue;
        }
        if (!started && error != ERROR_IO_PENDING) {
            if (connected) {
                // The program closed its end: wait for it to open the port again.
                DisconnectNamedPipe(pipe);
                connected = false;
            } else {
                Sleep(1);
            }
            continue;
        }
        DWORD n = 0;
        if (WaitForSingleObject(FIo, 5) != WAIT_OBJECT_0)
            CancelIoEx(pipe, &ov);
        const BOOL done = GetOverlappedResult(pipe, &ov, &n, TRUE);
        if (!connected) {
            connected = done != 0;
            continue;
        }
        if (!done && GetLastError() != ERROR_OPERATION_ABORTED) {
            DisconnectNamedPipe(pipe);
            connected = false;
            continue;
        }
        if (n == 0)
            continue;
        std::vector<Step> due;
        {
            std::lock_guard lock(FLock);
            FReceived.insert(FReceived.end(), buf, buf + n);
            FStepBytes += n;
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
                WriteAll(FPipe, piece);
            }
            if (step.vanish)
                Vanish();
        }
    }
}
