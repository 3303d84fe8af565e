#include "cli/console.h"

#include <poll.h>
#include <unistd.h>

void UseUtf8Console() {}

bool StdinIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

bool ReadConsoleInput(int ms)
{
    pollfd fd{STDIN_FILENO, POLLIN, 0};
    if (::poll(&fd, 1, ms) <= 0 || !(fd.revents & (POLLIN | POLLHUP)))
        return false;
    char buffer[256];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    return n > 0;
}
