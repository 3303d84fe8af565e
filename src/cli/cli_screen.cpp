#include "cli/cli_screen.h"

#include <algorithm>
#include <iostream>

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

void TCliScreen::ReleaseStopSignals() { FStop.Release(); }

void TCliScreen::CatchStopSignals()
{
    // The last wish is the screen's own at the time of the second signal.
    std::function<void()> lastWish;
    if (FLastWish)
        lastWish = [this] {
            if (FLastWish)
                FLastWish();
        };
    FStop.Catch(std::move(lastWish));
}

bool TCliScreen::StopRequested() { return FStop.Requested(); }

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
