#include "cli/cli_screen.h"

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
    if (!(background == clWhite))
        std::cout << caption << std::endl;
}

void TCliScreen::Message(const std::string &caption, const std::string &text, MsgIcon icon)
{
    if (icon == MsgIcon::Information) {
        std::cout << WithLineBreaks(text) << std::endl;
        return;
    }
    (void)caption;
    std::cerr << WithLineBreaks(text) << std::endl;
}

bool TCliScreen::AskYesNo(const std::string &caption, const std::string &text)
{
    std::cerr << caption << ": " << WithLineBreaks(text) << (FYes ? " [answered Yes]" : " [answered No]") << std::endl;
    return FYes;
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
    if (FTraffic)
        std::cerr << line << std::endl;
}

void TCliScreen::Progress(const std::string &which, int position, int max)
{
    if (FProgress && max > 0)
        std::cerr << which << " " << position << "/" << max << std::endl;
}
