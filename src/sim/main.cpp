// beamport-sim: a simulated detector on a pseudo-terminal.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "sim/sim_args.h"
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
        return 64;
    case SimArgsResult::kRun:
        break;
    }

    // Block the stop signals before the serving thread exists, so that only
    // sigwait below sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

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

    int sig = 0;
    sigwait(&stopSignals, &sig);
    sim.Stop();
    if (!args.link.empty())
        RemoveLink(args.link, sim.DevicePath());
    return 0;
}
