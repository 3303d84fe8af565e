#pragma once
// The controls of a running beamport-sim: lines on its standard input and two
// signals, for gas applied and removed while it serves.
//
//   gas VALUE   apply gas of VALUE in the sensor's unit (oxygen: the gas's oxygen level)
//   gas span    apply the span gas of the detector's configuration
//   gas off     clean air again
//
// SIGUSR1 is "gas span", SIGUSR2 "gas off". Words are matched in any letter
// case; blank lines and lines starting with '#' are no control.
#include <string>

#include "sim/sim_detector.h"

struct SimControl {
    enum class EKind { kNothing, kApply, kApplySpan, kRemove };
    EKind mKind = EKind::kNothing;
    double mValue = 0; // kApply: the gas, in the sensor's unit
};

// False with `error` saying why when the line is no control.
bool ParseSimControl(const std::string &line, SimControl &control, std::string &error);

// Carries out a control and returns the line that reports it: "gas 50.0 on",
// "gas 25.0 on (span)", "gas off"; empty for kNothing.
std::string RunSimControl(SimDetector &sim, const SimControl &control);
