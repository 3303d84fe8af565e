#pragma once
// Discovery of the USB infrared adapter (a CP210x USB-to-UART bridge).
//
// On Linux the adapters are the ttys in <sysfs>/class/tty whose USB interface
// is bound to the driver named "cp210x"; vendor ID, product ID and serial
// number come from the USB device above that interface. They are numbered
// 1..n in the order of their tty names (natural order: ttyUSB2 before
// ttyUSB10), and each number whose device node <dev>/<tty name> exists is
// given that path with TComTamsel::SetPortDevice; an adapter without a device
// node gets the port number 0, which the following ComOpen then refuses.
//
// Environment:
//   BEAMPORT_SYSFS_ROOT  the sysfs folder (default "/sys")
//   BEAMPORT_DEV_ROOT    the folder of the device nodes (default "/dev")
//   BEAMPORT_PORT        a device path that bypasses discovery (as --port does);
//                        the program reads it once into the link's port choice
#include <cstdint>
#include <string>
#include <vector>

class TComTamsel;

// Result codes of discovery besides 0 (found).
inline constexpr uint8_t kDiscoveryNone = 255;         // no adapter attached
inline constexpr uint8_t kDiscoverySeveral = 254;      // more than one and no preferred port
inline constexpr uint8_t kDiscoveryUnsupported = 253;  // the system offers no device tree to search
inline constexpr uint8_t kDiscoveryIOFailed = 3;       // an adapter's attributes could not be read

struct RAdapterInfo {
    std::string mTty;      // tty name, e.g. "ttyUSB0"
    std::string mDevice;   // device node, e.g. "/dev/ttyUSB0"; empty when it does not exist
    uint16_t mVid = 0;
    uint16_t mPid = 0;
    std::string mSerial;   // serial number, each space replaced by "_"
    std::string mInstance; // "VID_10C4&PID_EA60\" + serial: names the adapter in messages and logs
    int32_t mPort = 0;     // its port number 1..n, or 0 without a device node
    std::string mInterface; // sysfs folder of its USB interface (driver link, USB device above it)
};

// "VID_xxxx&PID_xxxx\" + serial, each ID as four upper-case hexadecimal digits.
std::string AdapterInstance(uint16_t nVid, uint16_t nPid, const std::string &serial);

// Lists the attached adapters under the given folders (empty: from the
// environment or the defaults). Returns 0 with at least one adapter, or a
// result code: 255 none, 253 no <sysfs>/class/tty folder (or a build for
// another system), 3 an adapter's vendor ID, product ID or serial number could
// not be read. Without a "serial" attribute the serial number is empty.
uint8_t ListAdapters(std::vector<RAdapterInfo> &adapters, const std::string &sysfsRoot = {},
                     const std::string &devRoot = {});

// The device env BEAMPORT_PORT names; empty when it is unset or empty.
std::string PortFromEnvironment();

// The port to open: with a port choice on the link (TComTamsel::PortChoice),
// 0 and nPort 1 standing for it;
// otherwise the adapters are listed and numbered, and the result is 0 with
// nPort the preferred port when one adapter has that number, else the first
// adapter's (which may be 0); 255 none; 254 several while nDefPort < 1; or the
// failure of the listing. nPort is 0 whenever the result is not 0.
uint8_t FindAdapterPort(TComTamsel &link, int32_t nDefPort, int32_t &nPort);
