// The console's stop requests on Windows (Ctrl-C, Ctrl-Break, closing the
// console window, logging off, shutting down) for the commands that can stop
// cleanly.
//
// The system calls the control handler on a thread of its own, and the
// handler gets no pointer of ours: it finds the kept requests by name, a
// semaphore named after this process, which Catch makes and Release removes.
// While the semaphore is there the handler counts the request in it and
// keeps the program running; without it the request takes its default
// course and ends the program.
#include "cli/stop_signals.h"

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

std::wstring SemaphoreName() { return L"Local\\beamport-stop-" + std::to_wstring(GetCurrentProcessId()); }

BOOL WINAPI OnControl(DWORD type)
{
    (void)type;
    const HANDLE kept = OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, SemaphoreName().c_str());
    if (kept == nullptr)
        return FALSE;
    ReleaseSemaphore(kept, 1, nullptr);
    CloseHandle(kept);
    return TRUE;
}

} // namespace

struct TStopSignals::RState {
    HANDLE mKept = nullptr;              // counts the requests not read yet
    HANDLE mWake = nullptr;              // tells the watching thread to end
    std::atomic<bool> mStopped{false};   // a stop request was read
    std::thread mWatcher;                // takes the requests when there is a last wish
    std::function<void()> mLastWish;

    void Watch();
    void Forget()
    {
        if (mKept) {
            SetConsoleCtrlHandler(OnControl, FALSE);
            CloseHandle(mKept);
            mKept = nullptr;
        }
    }
};

TStopSignals::TStopSignals() : F(std::make_unique<RState>()) {}

TStopSignals::~TStopSignals() { Release(); }

void TStopSignals::Release()
{
    if (F->mWatcher.joinable()) {
        SetEvent(F->mWake);
        F->mWatcher.join();
    }
    if (F->mWake) {
        CloseHandle(F->mWake);
        F->mWake = nullptr;
    }
    F->Forget();
}

void TStopSignals::RState::Watch()
{
    const HANDLE both[2] = {mWake, mKept};
    for (;;) {
        if (WaitForMultipleObjects(2, both, FALSE, INFINITE) != WAIT_OBJECT_0 + 1)
            return; // released
        if (!mStopped.exchange(true))
            continue; // the first: the job hears of it when it asks
        // The second: the last wish, then the end a Ctrl-C makes by default.
        if (mLastWish)
            mLastWish();
        ExitProcess(STATUS_CONTROL_C_EXIT);
    }
}

void TStopSignals::Catch(std::function<void()> lastWish)
{
    if (F->mKept)
        return;
    F->mKept = CreateSemaphoreW(nullptr, 0, 1 << 16, SemaphoreName().c_str());
    if (F->mKept == nullptr)
        return; // without it the requests keep ending the program at once
    if (!SetConsoleCtrlHandler(OnControl, TRUE)) {
        CloseHandle(F->mKept);
        F->mKept = nullptr;
        return;
    }
    if (!lastWish)
        return;
    F->mLastWish = std::move(lastWish);
    F->mWake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (F->mWake == nullptr)
        return;
    F->mWatcher = std::thread([state = F.get()] { state->Watch(); });
}

bool TStopSignals::Requested()
{
    if (F->mWatcher.joinable())
        return F->mStopped;
    if (!F->mStopped && F->mKept && WaitForSingleObject(F->mKept, 0) == WAIT_OBJECT_0) {
        F->mStopped = true;
        // Asked once: a second request ends the program, as by default.
        F->Forget();
    }
    return F->mStopped;
}
