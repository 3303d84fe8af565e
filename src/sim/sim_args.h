#pragma once
// Command-line knobs of the simulated detector (beamport-sim).
#include <string>
#include <vector>

#include "sim/sim_detector.h"

enum class SimArgsResult { kRun, kHelp, kError };

struct SimArgs {
    SimOptions options;
    std::string link; // symlink to create for the device; empty: none
};

// Parses the arguments after the program name into `out`: the demonstration
// unit's options (SimDemoOptions) with the knobs applied, or the plain unit's
// (SimOptions()) when --plain is among them. On kError `error` says why.
SimArgsResult ParseSimArgs(const std::vector<std::string> &args, SimArgs &out, std::string &error);
// The --help text.
std::string SimUsage();
// "0xA0", "A0" or "a0" as a byte; false when it is not one hex byte.
bool ParseOpcode(const std::string &text, uint8_t &opcode);
