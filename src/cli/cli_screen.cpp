#include "cli/cli_screen.h"

#include <algorithm>
#include <csignal>
#include <iostream>
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

TCliScreen::~TCliScreen()
{
    if (FStopFd < 0)
        return;
    // The signals end the program again; one not read yet is dropped with the screen.
    signalfd_siginfo info{};
    while (::read(FStopFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    }
    pthread_sigmask(SIG_UNBLOCK, &FStopSignals, nullptr);
    ::close(FStopFd);
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
}

bool TCliScreen::StopRequested()
{
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
    if (!FProgressShown)
        return;
    std::cerr << "\r\033[K" << std::flush;
    FProgressShown = false;
}

void TCliScreen::JournalWarning(const std::string &text)
{
    EndProgress();
    std::cerr << "beamport-cli: warning: the service record was not kept: " << text << std::endl;
}
