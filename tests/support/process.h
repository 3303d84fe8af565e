#pragma once
// Runs the built programs from tests: capture stdout, stderr and the exit status.
#include <functional>
#include <string>
#include <vector>

struct ProcessResult {
    int status = -1;   // exit status, or -1 when it did not end normally
    std::string out;   // stdout
    std::string err;   // stderr
    double seconds = 0;
};

ProcessResult RunProcess(const std::string &program, const std::vector<std::string> &args,
                         const std::vector<std::string> &env = {}, int timeoutSeconds = 60);
// The same, calling `onErrors` with all the program wrote to stderr so far
// each time more of it arrives: a test follows the program's steps while it
// runs (a technician's fixture applying gas when it is asked for).
ProcessResult RunProcessFollowing(const std::string &program, const std::vector<std::string> &args,
                                  const std::vector<std::string> &env,
                                  const std::function<void(const std::string &errors)> &onErrors,
                                  int timeoutSeconds = 60);

#ifdef _WIN32
// The words of a command line as a POSIX shell splits it: at spaces, a word
// in single quotes kept whole (for the tests that run a shell line on Linux).
std::vector<std::string> ShellWords(const std::string &line);
#endif

// A beamport-sim running in the background until destroyed; Path() is the
// device it serves on. Its standard input is empty, or with `controlled` a
// pipe that Control writes lines to; what it prints after the device path
// (the answers to controls) and its stderr are kept for Output and Errors.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string> &knobs = {}, bool controlled = false);
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;
    const std::string &Path() const { return FPath; }
    int Pid() const { return FPid; }

    // Writes one line (a newline is added) to its standard input.
    bool Control(const std::string &line);
    // Waits up to `ms` for `text` in what it printed on stdout (after the
    // device path) since the last text found there; true when it came.
    bool WaitOutput(const std::string &text, int ms = 3000);
    // The same for stderr.
    bool WaitErrors(const std::string &text, int ms = 3000);

private:
    struct RStream {
        int mFd = -1;
        std::string mKept;
        size_t mFrom = 0; // where the next search starts
    };
    static bool WaitFor(RStream &stream, const std::string &text, int ms);

    int FPid = -1;
    std::string FPath;
    int FIn = -1;
    RStream FOut, FErr;
};
