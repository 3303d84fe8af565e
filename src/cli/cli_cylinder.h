#pragma once
// What the commands that use a gas cylinder share: reading its id from the
// command line and finding it in the store in force.
#include <string>

#include "app/cylinder.h"

struct CliContext;

// A whole number from lo to hi, written as digits only.
bool ParseWholeNumber(const std::string &text, int lo, int hi, int &value);

// The cylinder `idText` names, from the store in force. 0 when found;
// otherwise the exit status, its reason said on stderr: kExitUsage for an id
// that is no number, kExitFile for one the store does not hold,
// kExitUnavailable when the store cannot be used (records off, or out of
// reach).
int FindCylinder(CliContext &c, const std::string &idText, RGasCylinder &cylinder);
