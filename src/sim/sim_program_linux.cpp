#include "sim/sim_program.h"

#include <cerrno>
#include <csignal>
#include <initializer_list>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

// Replaces a stale symlink; refuses to touch anything that is not a symlink.
bool MakeDeviceLink(const std::string &link, const std::string &target, std::string &error)
{
    struct stat st{};
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = link + " exists and is not a symlink";
            return false;
        }
        if (unlink(link.c_str()) != 0) {
            error = link + ": " + std::strerror(errno);
            return false;
        }
    }
    if (symlink(target.c_str(), link.c_str()) != 0) {
        error = link + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

// Removes the link only while it still points at our device.
void RemoveDeviceLink(const std::string &link, const std::string &target)
{
    char buf[4096];
    const ssize_t n = readlink(link.c_str(), buf, sizeof(buf) - 1);
    if (n < 0)
        return;
    buf[n] = '\0';
    if (target == buf)
        unlink(link.c_str());
}

TSimProgramInput::~TSimProgramInput()
{
    if (FSignals >= 0)
        ::close(FSignals);
}

bool TSimProgramInput::Take(std::string &error)
{
    sigset_t handled;
    sigemptyset(&handled);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2})
        sigaddset(&handled, sig);
    pthread_sigmask(SIG_BLOCK, &handled, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // Started in the background of a shell it must not be stopped for
    // touching the terminal: such a read or write fails instead.
    std::signal(SIGTTIN, SIG_IGN);
    std::signal(SIGTTOU, SIG_IGN);
    FSignals = signalfd(-1, &handled, SFD_CLOEXEC);
    if (FSignals < 0) {
        error = std::string("signalfd: ") + std::strerror(errno);
        return false;
    }
    return true;
}

void TSimProgramInput::Serve(const std::function<void(const std::string &line)> &onLine,
                             const std::function<void(bool span)> &onGas)
{
    constexpr size_t kLongestLine = 4096;
    std::string pending;
    bool input = true;
    bool overlong = false;
    for (;;) {
        pollfd fds[2] = {{FSignals, POLLIN, 0}, {input ? STDIN_FILENO : -1, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (read(FSignals, &info, sizeof info) != static_cast<ssize_t>(sizeof info))
                continue;
            if (info.ssi_signo == SIGUSR1)
                onGas(true);
            else if (info.ssi_signo == SIGUSR2)
                onGas(false);
            else
                return; // SIGINT, SIGTERM, SIGHUP
        }
        if (!input || !(fds[1].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)))
            continue;
        char buf[512];
        const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) { // the input ended: the last line counts, then only signals
            if (!pending.empty() && !overlong)
                onLine(pending);
            input = false;
            continue;
        }
        pending.append(buf, static_cast<size_t>(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            if (!overlong)
                onLine(pending.substr(0, end));
            overlong = false;
            pending.erase(0, end + 1);
        }
        if (pending.size() > kLongestLine) {
            if (!overlong)
                std::fprintf(stderr, "beamport-sim: a line longer than %zu bytes is no control\n", kLongestLine);
            overlong = true;
            pending.clear();
        }
    }
}
