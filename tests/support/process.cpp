#include "support/process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#ifndef BEAMPORT_SIM
#define BEAMPORT_SIM "beamport-sim"
#endif

namespace {
std::vector<char *> Argv(const std::string &program, const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const auto &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}
} // namespace

ProcessResult RunProcess(const std::string &program, const std::vector<std::string> &args,
                         const std::vector<std::string> &env, int timeoutSeconds)
{
    return RunProcessFollowing(program, args, env, {}, timeoutSeconds);
}

ProcessResult RunProcessFollowing(const std::string &program, const std::vector<std::string> &args,
                                  const std::vector<std::string> &env,
                                  const std::function<void(const std::string &errors)> &onErrors, int timeoutSeconds)
{
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (const auto &e : env)
            putenv(const_cast<char *>(e.c_str()));
        auto argv = Argv(program, args);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    ProcessResult r;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    const auto deadline = t0 + std::chrono::seconds(timeoutSeconds);
    while (open > 0 && std::chrono::steady_clock::now() < deadline) {
        if (poll(fds, 2, 100) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buf[4096];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
                if (i == 1 && onErrors)
                    onErrors(r.err);
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    if (open > 0)
        kill(pid, SIGKILL);
    for (auto &f : fds)
        if (f.fd >= 0)
            close(f.fd);
    int ws = 0;
    waitpid(pid, &ws, 0);
    r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return r;
}

SimProcess::SimProcess(const std::vector<std::string> &knobs, bool controlled)
{
    int out[2], in[2] = {-1, -1}, err[2] = {-1, -1};
    if (pipe2(out, O_CLOEXEC) != 0 || (controlled && (pipe2(in, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)))
        throw std::runtime_error("pipe");
    FPid = fork();
    if (FPid == 0) {
        dup2(out[1], 1);
        if (controlled) {
            dup2(in[0], 0);
            dup2(err[1], 2);
        } else {
            const int none = open("/dev/null", O_RDONLY);
            dup2(none, 0);
        }
        const std::string program = BEAMPORT_SIM;
        auto argv = Argv(program, knobs);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    if (controlled) {
        signal(SIGPIPE, SIG_IGN); // a control to a program that ended fails, it does not end the tests
        close(in[0]);
        close(err[1]);
        FIn = in[1];
        FErr.mFd = err[0];
    }
    // The first line it prints is the device path.
    std::string line;
    char c;
    pollfd p{out[0], POLLIN, 0};
    while (poll(&p, 1, 5000) > 0 && read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    if (controlled)
        FOut.mFd = out[0];
    else
        close(out[0]);
    if (line.empty())
        throw std::runtime_error("beamport-sim printed no device path");
    FPath = line;
}

SimProcess::~SimProcess()
{
    if (FPid > 0) {
        kill(FPid, SIGTERM);
        int ws = 0;
        waitpid(FPid, &ws, 0);
    }
    for (int fd : {FIn, FOut.mFd, FErr.mFd})
        if (fd >= 0)
            close(fd);
}

bool SimProcess::Control(const std::string &line)
{
    const std::string text = line + "\n";
    return FIn >= 0 && write(FIn, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

bool SimProcess::WaitFor(RStream &stream, const std::string &text, int ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const size_t at = stream.mKept.find(text, stream.mFrom);
        if (at != std::string::npos) {
            stream.mFrom = at + text.size();
            return true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd p{stream.mFd, POLLIN, 0};
        if (stream.mFd < 0 || left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0)
            return false;
        char buf[512];
        const ssize_t n = read(stream.mFd, buf, sizeof buf);
        if (n <= 0)
            return false;
        stream.mKept.append(buf, static_cast<size_t>(n));
    }
}

bool SimProcess::WaitOutput(const std::string &text, int ms) { return WaitFor(FOut, text, ms); }

bool SimProcess::WaitErrors(const std::string &text, int ms) { return WaitFor(FErr, text, ms); }
