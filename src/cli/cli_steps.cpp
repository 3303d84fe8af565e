#include "cli/cli_steps.h"

#include <iostream>

#include "cli/cli_commands.h"
#include "cli/console.h"

TCliSteps::TCliSteps(CliContext &c)
    : FContext(c), FInteractive(StdinIsTerminal() && StderrIsTerminal())
{
}

bool TCliSteps::Allowed(const std::string &command) const
{
    if (FInteractive || FContext.yes)
        return true;
    std::cerr << "beamport-cli: " << command
              << " needs --yes to run without a terminal: it then goes on when the readings show the gas applied "
                 "or removed; nothing was sent"
              << std::endl;
    return false;
}

void TCliSteps::Show(const std::string &text) const
{
    FContext.screen.EndProgress();
    std::cerr << text << std::endl;
    if (FInteractive)
        std::cerr << "  (press Enter when done; the readings may also show it)" << std::endl;
}

bool TCliSteps::WaitUntil(IClock &clock, TDateTime due) const
{
    if (!FInteractive) {
        clock.SleepUntil(due);
        return false;
    }
    return ReadConsoleInput(MillisecondsUntil(clock, due));
}
