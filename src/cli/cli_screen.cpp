#include "cli/cli_screen.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <thread>
#include <iostream>
#include <unistd.h>

namespace {
volatile std::sig_atomic_t gStopSignals = 0;
int gWishPipe[2] = {-1, -1};
std::function<void()> gLastWish;

void OnStopSignal(int sig)
{
    if (gStopSignals > 0) {
        // Asked twice: end as the default action would, once the last wish
        // (the job's record) is done on the waiting thread.
        if (gWishPipe[1] >= 0) {
            const unsigned char byte = static_cast<unsigned char>(sig);
            if (::write(gWishPipe[1], &byte, 1) == 1)
                return;
        }
        std::signal(sig, SIG_DFL);
        std::raise(sig);
        return;
    }
    gStopSignals = gStopSignals + 1;
}

void StartWishThread()
{
    if (!gLastWish || gWishPipe[0] >= 0 || ::pipe2(gWishPipe, O_CLOEXEC) != 0)
        return;
    std::thread([] {
        unsigned char sig = 0;
        while (::read(gWishPipe[0], &sig, 1) != 1) {
        }
        gLastWish();
        std::signal(sig, SIG_DFL);
        std::raise(sig);
    }).detach();
}

void Catch(int sig, bool keepIgnored)
{
    struct sigaction old{};
    if (sigaction(sig, nullptr, &old) == 0 && keepIgnored && old.sa_handler == SIG_IGN)
        return;
    struct sigaction sa{};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(sig, &sa, nullptr);
}
} // namespace

void SetLastWish(std::function<void()> wish) { gLastWish = std::move(wish); }

void InstallStopSignals()
{
    StartWishThread();
    Catch(SIGINT, true);
    Catch(SIGTERM, false);
}

bool StopRequested() { return gStopSignals > 0; }

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
    std::cerr << "beamport-cli: warning: " + text + "\n" << std::flush;
}
