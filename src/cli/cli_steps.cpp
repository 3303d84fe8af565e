#include "cli/cli_steps.h"

#include <iostream>
#include <poll.h>
#include <unistd.h>

#include "cli/cli_commands.h"

TCliSteps::TCliSteps(CliContext &c)
    : FContext(c), FInteractive(::isatty(STDIN_FILENO) == 1 && ::isatty(STDERR_FILENO) == 1)
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
    pollfd fd{STDIN_FILENO, POLLIN, 0};
    const int ms = MillisecondsUntil(clock, due);
    if (::poll(&fd, 1, ms) <= 0 || !(fd.revents & (POLLIN | POLLHUP)))
        return false;
    char buffer[256];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    return n > 0;
}
