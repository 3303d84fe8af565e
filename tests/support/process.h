#pragma once
// Runs the built programs from tests: capture stdout, stderr and the exit status.
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

// A beamport-sim running in the background until destroyed; Path() is the
// device it serves on.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string> &knobs = {});
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;
    const std::string &Path() const { return FPath; }

private:
    int FPid = -1;
    std::string FPath;
};
