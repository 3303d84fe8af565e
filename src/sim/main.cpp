// beamport-sim: a simulated detector on a pseudo-terminal, with gas applied
// and removed by lines on its standard input and by two signals.
#include <cstdio>
#include <string>
#include <vector>

#include "model/exit_table.h"
#include "sim/sim_args.h"
#include "sim/sim_control.h"
#include "sim/sim_detector.h"
#include "sim/sim_program.h"

namespace {

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

    // Take the stop and gas signals before the serving thread exists, so
    // that only the control loop below sees them.
    TSimProgramInput input;
    if (!input.Take(error)) {
        std::fprintf(stderr, "beamport-sim: %s\n", error.c_str());
        return 1;
    }

    SimDetector sim(args.options);
    if (!sim.Ok()) {
        std::fprintf(stderr, "beamport-sim: %s\n", sim.Error().c_str());
        return 1;
    }
    if (!args.link.empty() && !MakeDeviceLink(args.link, sim.DevicePath(), error)) {
        std::fprintf(stderr, "beamport-sim: %s\n", error.c_str());
        return 1;
    }
    sim.Start();
    std::printf("%s\n", args.link.empty() ? sim.DevicePath().c_str() : args.link.c_str());
    std::fflush(stdout);

    input.Serve([&sim](const std::string &line) { Control(sim, line); },
                [&sim](bool span) {
                    Say(RunSimControl(sim, {span ? SimControl::EKind::kApplySpan : SimControl::EKind::kRemove, 0}));
                });
    sim.Stop();
    if (!args.link.empty())
        RemoveDeviceLink(args.link, sim.DevicePath());
    return 0;
}
