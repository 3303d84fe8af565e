#include "cli/stop_signals.h"

#include <atomic>
#include <csignal>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <thread>
#include <unistd.h>

// SIGINT and SIGTERM, blocked, wait in a signalfd until Requested reads them.
struct TStopSignals::RState {
    int mStopFd = -1;        // the signalfd of the caught stop signals
    sigset_t mSignals{};     // the signals it catches
    std::atomic<bool> mStopped{false}; // a stop signal was read
    int mWakeFd = -1;        // tells the watching thread to end
    std::thread mWatcher;    // takes the signals when there is a last wish
    std::function<void()> mLastWish;

    void Watch();
};

TStopSignals::TStopSignals() : F(std::make_unique<RState>()) {}

TStopSignals::~TStopSignals() { Release(); }

void TStopSignals::Release()
{
    if (F->mWatcher.joinable()) {
        const uint64_t one = 1;
        // An eventfd takes a write unless its counter is full, and it is not.
        [[maybe_unused]] const ssize_t written = ::write(F->mWakeFd, &one, sizeof one);
        F->mWatcher.join();
    }
    if (F->mWakeFd >= 0) {
        ::close(F->mWakeFd);
        F->mWakeFd = -1;
    }
    if (F->mStopFd < 0)
        return;
    // The signals end the program again; one not read yet is dropped.
    signalfd_siginfo info{};
    while (::read(F->mStopFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    }
    pthread_sigmask(SIG_UNBLOCK, &F->mSignals, nullptr);
    ::close(F->mStopFd);
    F->mStopFd = -1;
}

void TStopSignals::RState::Watch()
{
    pollfd fds[2] = {{mStopFd, POLLIN, 0}, {mWakeFd, POLLIN, 0}};
    for (;;) {
        fds[0].revents = fds[1].revents = 0;
        if (::poll(fds, 2, -1) < 0)
            continue; // interrupted: the stop signals are blocked, any other may come
        if (fds[1].revents != 0)
            return; // released
        signalfd_siginfo info{};
        if (::read(mStopFd, &info, sizeof info) != static_cast<ssize_t>(sizeof info))
            continue;
        if (!mStopped.exchange(true))
            continue; // the first: the job hears of it when it asks
        // The second: the last wish, then the end the signal's default
        // action makes, from this thread (the only one that lets it through).
        if (mLastWish)
            mLastWish();
        const int sig = static_cast<int>(info.ssi_signo);
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        sigaction(sig, &dfl, nullptr);
        sigset_t just;
        sigemptyset(&just);
        sigaddset(&just, sig);
        pthread_sigmask(SIG_UNBLOCK, &just, nullptr);
        ::raise(sig);
        return;
    }
}

void TStopSignals::Catch(std::function<void()> lastWish)
{
    if (F->mStopFd >= 0)
        return;
    sigset_t signals;
    sigemptyset(&signals);
    struct sigaction old {};
    if (!(sigaction(SIGINT, nullptr, &old) == 0 && old.sa_handler == SIG_IGN))
        sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    // Blocked, they wait in the signalfd instead of ending the program.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    F->mStopFd = ::signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (F->mStopFd < 0) {
        // Without a signalfd they keep ending the program at once.
        pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
        return;
    }
    F->mSignals = signals;
    if (!lastWish)
        return;
    // A last wish to keep: a thread of its own takes both signals (a
    // process-directed signal waits in the signalfd for whichever thread
    // reads it), so the second ends the program even while the job is deep
    // in a wait of its own.
    F->mLastWish = std::move(lastWish);
    F->mWakeFd = ::eventfd(0, EFD_CLOEXEC);
    if (F->mWakeFd < 0)
        return;
    F->mWatcher = std::thread([state = F.get()] { state->Watch(); });
}

bool TStopSignals::Requested()
{
    if (F->mWatcher.joinable())
        return F->mStopped;
    if (!F->mStopped && F->mStopFd >= 0) {
        signalfd_siginfo info{};
        if (::read(F->mStopFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            F->mStopped = true;
            // Asked once: a second signal ends the program, as the default action does.
            pthread_sigmask(SIG_UNBLOCK, &F->mSignals, nullptr);
        }
    }
    return F->mStopped;
}
