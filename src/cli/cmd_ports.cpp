#include <cstdlib>
#include <iostream>

#include "app/session.h"
#include "cli/cli_commands.h"
#include "link/adapter_doctor.h"
#include "link/discovery.h"

namespace {

int Ports(CliContext &c)
{
    if (!c.args.empty())
        return kExitUsage;
    const std::string &bypass = c.session.Link().PortChoice();
    if (!bypass.empty()) {
        const char *env = std::getenv("BEAMPORT_PORT");
        const bool fromEnv = env != nullptr && bypass == env;
        std::cout << "discovery skipped: using " << bypass << " (from " << (fromEnv ? "BEAMPORT_PORT" : "the command line")
                  << ")" << std::endl;
        return 0;
    }
    const RDoctorRoots roots = DoctorRootsFromEnvironment();
    std::vector<RPortEntry> ports;
    const uint8_t code = ListPorts(roots, ports);
    for (const RPortEntry &p : ports)
        std::cout << FormatPort(p) << "\n";
    std::cout << std::flush;
    switch (code) {
    case 0:
        break;
    case kDiscoveryNone:
        std::cerr << "no adapter found (no tty under " << roots.mSysfs << "/class/tty is bound to cp210x); "
                  << "'beamport-cli doctor' says why" << std::endl;
        break;
    case kDiscoveryUnsupported:
        std::cerr << roots.mSysfs << "/class/tty is missing: this system offers no device tree to search" << std::endl;
        break;
    default:
        std::cerr << "an adapter's vendor ID, product ID or serial number could not be read under " << roots.mSysfs
                  << std::endl;
        break;
    }
    return static_cast<int>(code);
}

} // namespace

CliEntry PortsCommand()
{
    return {"ports", "ports", "the adapters found: number, device, by-id path, VID:PID, serial, driver",
            "The adapters discovery finds, one line each: the port number it gives them, device, by-id path, "
            "VID:PID, serial number and driver. The exit status is discovery's (255: no adapter, 254: several, 253: "
            "no device tree to search). With --port or BEAMPORT_PORT it says which device is used instead.",
            {}, Ports, ECliKind::kDiscovery};
}
