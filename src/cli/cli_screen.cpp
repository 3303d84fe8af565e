#include "cli/cli_screen.h"

#include <algorithm>
#include <csignal>
#include <iostream>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

std::string WithLineBreaks(const std::string &text)
{
    std::string out = text;
    for (char &c : out)
        if (c == '\r')
            c = '\n';
    return out;
}

void TCliScreen::SetStatus(RColor background, RColor, const std::string &caption)
{
    FLastStatus = caption;
    // Busy texts (white) are transient; results are printed.
    if (!(background == clWhite)) {
        EndProgress();
        std::cout << caption << std::endl;
    }
}

void TCliScreen::Message(const std::string &caption, const std::string &text, MsgIcon icon)
{
    EndProgress();
    if (icon == MsgIcon::Information) {
        std::cout << WithLineBreaks(text) << std::endl;
        return;
    }
    (void)caption;
    FErrorShown = true;
    std::cerr << WithLineBreaks(text) << std::endl;
}

bool TCliScreen::AskYesNo(const std::string &caption, const std::string &text)
{
    EndProgress();
    std::cerr << caption << ": " << WithLineBreaks(text) << (FYes ? " [answered Yes]" : " [answered No]") << std::endl;
    return FYes;
}

TCliScreen::~TCliScreen() { ReleaseStopSignals(); }

void TCliScreen::ReleaseStopSignals()
{
    if (FWatcher.joinable()) {
        const uint64_t one = 1;
        // An eventfd takes a write unless its counter is full, and it is not.
        [[maybe_unused]] const ssize_t written = ::write(FWakeFd, &one, sizeof one);
        FWatcher.join();
    }
    if (FWakeFd >= 0) {
        ::close(FWakeFd);
        FWakeFd = -1;
    }
    if (FStopFd < 0)
        return;
    // The signals end the program again; one not read yet is dropped with the screen.
    signalfd_siginfo info{};
    while (::read(FStopFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    }
    pthread_sigmask(SIG_UNBLOCK, &FStopSignals, nullptr);
    ::close(FStopFd);
    FStopFd = -1;
}

void TCliScreen::Watch()
{
    pollfd fds[2] = {{FStopFd, POLLIN, 0}, {FWakeFd, POLLIN, 0}};
    for (;;) {
        fds[0].revents = fds[1].revents = 0;
        if (::poll(fds, 2, -1) < 0)
            continue; // interrupted: the stop signals are blocked, any other may come
        if (fds[1].revents != 0)
            return; // the screen goes
        signalfd_siginfo info{};
        if (::read(FStopFd, &info, sizeof info) != static_cast<ssize_t>(sizeof info))
            continue;
        if (!FStopped.exchange(true))
            continue; // the first: the job hears of it when it asks
        // The second: the last wish, then the end the signal's default
        // action makes, from this thread (the only one that lets it through).
        if (FLastWish)
            FLastWish();
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

void TCliScreen::CatchStopSignals()
{
    if (FStopFd >= 0)
        return;
    sigset_t signals;
    sigemptyset(&signals);
    struct sigaction old {};
    if (!(sigaction(SIGINT, nullptr, &old) == 0 && old.sa_handler == SIG_IGN))
        sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    // Blocked, they wait in the signalfd instead of ending the program.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    FStopFd = ::signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (FStopFd < 0) {
        // Without a signalfd they keep ending the program at once.
        pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
        return;
    }
    FStopSignals = signals;
    if (!FLastWish)
        return;
    // A last wish to keep: a thread of the screen's own takes both signals
    // (a process-directed signal waits in the signalfd for whichever thread
    // reads it), so the second ends the program even while the job is deep
    // in a wait of its own.
    FWakeFd = ::eventfd(0, EFD_CLOEXEC);
    if (FWakeFd < 0)
        return;
    FWatcher = std::thread([this] { Watch(); });
}

bool TCliScreen::StopRequested()
{
    if (FWatcher.joinable())
        return FStopped;
    if (!FStopped && FStopFd >= 0) {
        signalfd_siginfo info{};
        if (::read(FStopFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            FStopped = true;
            // Asked once: a second signal ends the program, as the default action does.
            pthread_sigmask(SIG_UNBLOCK, &FStopSignals, nullptr);
        }
    }
    return FStopped;
}

void TCliScreen::ProcessMessages()
{
    if (StopRequested() && FOnStop) {
        const std::function<void()> stop = std::move(FOnStop);
        FOnStop = nullptr;
        stop();
    }
}

std::optional<std::string> TCliScreen::ChooseOpenFile(const FileChoice &)
{
    if (FFiles.empty())
        return std::nullopt;
    std::string file = FFiles.front();
    FFiles.pop_front();
    return file;
}

std::optional<std::string> TCliScreen::ChooseSaveFile(const FileChoice &choice) { return ChooseOpenFile(choice); }

void TCliScreen::AppendTraffic(const std::string &line)
{
    if (FTraffic) {
        EndProgress();
        std::cerr << line << std::endl;
    }
}

void TCliScreen::Progress(const std::string &which, int position, int max)
{
    // In a pipe or a file progress says nothing: scripts read results, not counters.
    if (!FProgress || !FTerminal)
        return;
    if (max <= 0 || position >= max) {
        EndProgress();
        return;
    }
    std::cerr << "\r\033[K" << which << " " << std::max(position, 0) << "/" << max << std::flush;
    FProgressShown = true;
}

void TCliScreen::EndProgress()
{
    if (FProgressShown.exchange(false))
        std::cerr << "\r\033[K" << std::flush;
}

void TCliScreen::JournalWarning(const std::string &text)
{
    // May come from the journal's own thread: one write of a whole line.
    EndProgress();
    std::cerr << "beamport-cli: warning: " + text + "\n" << std::flush;
}
