#pragma once
// beamport-sim's dealings with the system (sim_program_linux.cpp): the stop
// and gas signals, the lines of its standard input, and the link it may make
// to its device.
#include <functional>
#include <string>

class TSimProgramInput {
public:
    TSimProgramInput() = default;
    ~TSimProgramInput();
    TSimProgramInput(const TSimProgramInput &) = delete;
    TSimProgramInput &operator=(const TSimProgramInput &) = delete;

    // Takes the stop signals (interrupt, terminate, hang-up) and the two gas
    // signals away from every thread made after it, so that only Serve sees
    // them; a broken pipe and a background terminal no longer stop the
    // program (such a write or read fails instead). False, with the reason,
    // when the signals cannot be waited for.
    bool Take(std::string &error);
    // Until a stop signal comes: each line of standard input (until it ends;
    // the last line counts even without its line break; a line longer than
    // 4096 bytes is refused on stderr) goes to onLine, the first gas signal
    // to onGas(true) (the span gas), the second to onGas(false) (no gas).
    void Serve(const std::function<void(const std::string &line)> &onLine,
               const std::function<void(bool span)> &onGas);

private:
    int FSignals = -1;
};

// Makes `link` a symbolic link to target, replacing a stale link; refuses to
// touch anything that is not a symbolic link. False, with the reason.
bool MakeDeviceLink(const std::string &link, const std::string &target, std::string &error);
// Removes the link only while it still points at target.
void RemoveDeviceLink(const std::string &link, const std::string &target);
