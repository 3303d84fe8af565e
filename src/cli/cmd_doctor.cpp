#include <iostream>

#include "app/session.h"
#include "cli/cli_commands.h"
#include "link/adapter_doctor.h"

CliEntry DoctorCommand()
{
    return {"doctor", "doctor", "what stops a technician on this machine, one line each with what to do",
            "Looks at this machine for what stops a technician: no adapter, the adapter's tty not open to this "
            "user, the udev rule missing, the port held by another program, ... One line each with what to do; "
            "exit 0 when all is well, 1 otherwise.",
            {},
            [](CliContext &c) {
                if (!c.args.empty())
                    return kExitUsage;
                const RDoctorReport report =
                    RunDoctor(DoctorRootsFromEnvironment(), CurrentUser(), c.session.Link().PortChoice());
                for (const std::string &line : report.Lines())
                    std::cout << line << "\n";
                std::cout << std::flush;
                return report.Ok() ? 0 : 1;
            },
            ECliKind::kLocal};
}
