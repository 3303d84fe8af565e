#include <iostream>

#include "cli/cli_commands.h"
#include "link/adapter_doctor.h"
#include "link/discovery.h"

namespace {
const CliCommand kDoctor("doctor", "doctor                         what stops a technician on this machine, one line each with what to do",
                         [](CliContext &c) {
    if (!c.args.empty())
        return kExitUsage;
    const RDoctorReport report = RunDoctor(DoctorRootsFromEnvironment(), CurrentUser(), PortOverride());
    for (const std::string &line : report.Lines())
        std::cout << line << "\n";
    std::cout << std::flush;
    return report.Ok() ? 0 : 1;
});
} // namespace
