// beamport-sim: a simulated detector on a pseudo-terminal, with gas applied
// and removed by lines on its standard input and by two signals.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "model/exit_table.h"
#include "sim/sim_args.h"
#include "sim/sim_control.h"
#include "sim/sim_detector.h"

namespace {

// Replaces a stale symlink; refuses to touch anything that is not a symlink.
bool MakeLink(const std::string &link, const std::string &target, std::string &error)
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
void RemoveLink(const std::string &link, const std::string &target)
{
    char buf[4096];
    const ssize_t n = readlink(link.c_str(), buf, sizeof(buf) - 1);
    if (n < 0)
        return;
    buf[n] = '\0';
    if (target == buf)
        unlink(link.c_str());
}

// A line a control answers with: on stdout, at once (nobody may be reading).
void Say(const std::string &line)
{
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// One line of standard input: a control, or a message on stderr.
void Control(SimDetector &sim, const std::string &line)
{
    SimControl control;
    std::string error;
    if (!ParseSimControl(line, control, error)) {
        std::fprintf(stderr, "beamport-sim: %s\n", error.c_str());
        return;
    }
    const std::string said = RunSimControl(sim, control);
    if (!said.empty())
        Say(said);
}

// Serves the controls until a stop signal comes: lines on standard input
// (until it ends; the detector goes on serving) and SIGUSR1 / SIGUSR2.
void ServeControls(SimDetector &sim, int signals)
{
    constexpr size_t kLongestLine = 4096;
    std::string pending;
    bool input = true;
    bool overlong = false;
    for (;;) {
        pollfd fds[2] = {{signals, POLLIN, 0}, {input ? STDIN_FILENO : -1, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (read(signals, &info, sizeof info) != static_cast<ssize_t>(sizeof info))
                continue;
            if (info.ssi_signo == SIGUSR1)
                Say(RunSimControl(sim, {SimControl::EKind::kApplySpan, 0}));
            else if (info.ssi_signo == SIGUSR2)
                Say(RunSimControl(sim, {SimControl::EKind::kRemove, 0}));
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
                Control(sim, pending);
            input = false;
            continue;
        }
        pending.append(buf, static_cast<size_t>(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            if (!overlong)
                Control(sim, pending.substr(0, end));
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

} // namespace

int main(int argc, char **argv)
{
    SimArgs args;
    std::string error;
    switch (ParseSimArgs(std::vector<std::string>(argv + 1, argv + argc), args, error)) {
    case SimArgsResult::kHelp:
        std::fputs(SimUsage().c_str(), stdout);
        return 0;
    case SimArgsResult::kError:
        std::fprintf(stderr, "beamport-sim: %s\n%s", error.c_str(), SimUsage().c_str());
        return exits::kUsage;
    case SimArgsResult::kRun:
        break;
    }

    // Block the stop and gas signals before the serving thread exists, so
    // that only the control loop below sees them.
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
    const int signals = signalfd(-1, &handled, SFD_CLOEXEC);
    if (signals < 0) {
        std::fprintf(stderr, "beamport-sim: signalfd: %s\n", std::strerror(errno));
        return 1;
    }

    SimDetector sim(args.options);
    if (!sim.Ok()) {
        std::fprintf(stderr, "beamport-sim: %s\n", sim.Error().c_str());
        return 1;
    }
    if (!args.link.empty() && !MakeLink(args.link, sim.DevicePath(), error)) {
        std::fprintf(stderr, "beamport-sim: %s\n", error.c_str());
        return 1;
    }
    sim.Start();
    std::printf("%s\n", args.link.empty() ? sim.DevicePath().c_str() : args.link.c_str());
    std::fflush(stdout);

    ServeControls(sim, signals);
    sim.Stop();
    close(signals);
    if (!args.link.empty())
        RemoveLink(args.link, sim.DevicePath());
    return 0;
}
