#pragma once
// The technician's side of a guided job on the command line (bump-test,
// sensor-cal --cylinder): each step that asks for gas to be applied or
// removed is one line on stderr beginning "Apply gas: " or "Remove gas", so
// that a script or a test fixture can follow. On a terminal (stdin and
// stderr both are) the technician presses Enter when a step is done; the
// job also goes on by itself when the readings show the change. Without a
// terminal the readings alone lead, which --yes must allow: otherwise the
// job is not started (kExitDeclined).
#include <string>

#include "app/clock.h"

struct CliContext;

class TCliSteps {
public:
    explicit TCliSteps(CliContext &c);

    // stdin and stderr are terminals: steps wait for Enter.
    bool Interactive() const { return FInteractive; }
    // Whether the job may run: on a terminal, or with --yes. Otherwise a
    // line on stderr says --yes is needed; the caller exits kExitDeclined.
    bool Allowed(const std::string &command) const;
    // The step's line on stderr, with a hint on a terminal.
    void Show(const std::string &text) const;
    // Waits until `due` on the session's clock, or until a line arrives on a
    // terminal's stdin (true: the technician pressed Enter).
    bool WaitUntil(IClock &clock, TDateTime due) const;

private:
    CliContext &FContext;
    bool FInteractive = false;
};
