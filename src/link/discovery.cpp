#include "link/discovery.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

#include "link/tamsel_comms.h"
#include "link/usb_id.h"

namespace fs = std::filesystem;

namespace {

constexpr const char *kAdapterDriver = "cp210x";

std::string g_portOverride;

std::string EnvOr(const char *name, const char *fallback)
{
    const char *value = std::getenv(name);
    return (value != nullptr && *value != '\0') ? std::string(value) : std::string(fallback);
}

// Natural order of tty names: "ttyUSB2" before "ttyUSB10".
bool NaturalLess(const std::string &a, const std::string &b)
{
    auto split = [](const std::string &s) {
        size_t i = s.size();
        while (i > 0 && s[i - 1] >= '0' && s[i - 1] <= '9')
            --i;
        return i;
    };
    const size_t ia = split(a), ib = split(b);
    const std::string pa = a.substr(0, ia), pb = b.substr(0, ib);
    if (pa != pb)
        return pa < pb;
    // Compare digit runs by value: strip leading zeros, then longer is larger.
    auto digits = [](const std::string &s, size_t from) {
        size_t i = from;
        while (i + 1 < s.size() && s[i] == '0')
            ++i;
        return s.substr(i);
    };
    const std::string da = digits(a, ia), db = digits(b, ib);
    if (da.size() != db.size())
        return da.size() < db.size();
    if (da != db)
        return da < db;
    return a < b;
}

enum class ReadResult { Ok, Missing, Failed };

// The whole content of a sysfs attribute.
ReadResult ReadAttribute(const fs::path &path, std::string &text)
{
    text.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    char buf[256];
    ReadResult result = ReadResult::Ok;
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            result = ReadResult::Failed;
            break;
        }
        if (n == 0)
            break;
        text.append(buf, static_cast<size_t>(n));
        if (text.size() > 4096) { // no attribute of interest is this long
            result = ReadResult::Failed;
            break;
        }
    }
    ::close(fd);
    return result;
}

// Drops the line end that sysfs puts after a value.
std::string StripLineEnd(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '\0'))
        text.pop_back();
    return text;
}

// A 16-bit ID written as 1 to 4 hexadecimal digits ("10c4").
bool ReadHexId(const fs::path &path, uint16_t &value)
{
    std::string text;
    if (ReadAttribute(path, text) != ReadResult::Ok)
        return false;
    text = StripLineEnd(text);
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.erase(text.begin());
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.pop_back();
    return ParseHexId(text, value);
}

std::string DriverName(const fs::path &device)
{
    std::error_code ec;
    const fs::path target = fs::canonical(device / "driver", ec);
    return ec ? std::string() : target.filename().string();
}

struct RCandidate {
    std::string mTty;
    fs::path mUsbDevice; // the USB device folder holding idVendor, idProduct, serial
    fs::path mInterface; // the USB interface folder bound to the driver
};

// The ttys whose USB interface is bound to the adapter driver, in natural
// order of their names. 0, or 253 without a tty class folder, or 3 when the
// folder cannot be listed.
uint8_t FindCandidates(const fs::path &sysfs, std::vector<RCandidate> &out)
{
    out.clear();
#if defined(__linux__)
    const fs::path classTty = sysfs / "class" / "tty";
    std::error_code ec;
    if (!fs::is_directory(classTty, ec))
        return kDiscoveryUnsupported;
    fs::directory_iterator it(classTty, ec);
    if (ec)
        return kDiscoveryIOFailed;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec)
            return kDiscoveryIOFailed;
        const std::string name = it->path().filename().string();
        std::error_code ec2;
        const fs::path device = fs::canonical(it->path() / "device", ec2);
        if (ec2)
            continue; // a virtual terminal: no device behind it
        // The USB interface is the device itself (serial classes bound to the
        // interface) or one of the next folders up (USB-serial ports).
        fs::path iface;
        fs::path p = device;
        for (int up = 0; up < 3 && !p.empty() && p != p.root_path(); ++up, p = p.parent_path()) {
            if (fs::exists(p / "bInterfaceNumber", ec2)) {
                iface = p;
                break;
            }
        }
        if (iface.empty() || DriverName(iface) != kAdapterDriver)
            continue;
        out.push_back({name, iface.parent_path(), iface});
    }
    std::sort(out.begin(), out.end(),
              [](const RCandidate &a, const RCandidate &b) { return NaturalLess(a.mTty, b.mTty); });
    return 0;
#else
    (void)sysfs;
    return kDiscoveryUnsupported;
#endif
}

// Identity and device node of one candidate; 0 or 3.
uint8_t Identify(const RCandidate &c, const fs::path &devRoot, int32_t number, RAdapterInfo &info)
{
    info = RAdapterInfo{};
    info.mTty = c.mTty;
    info.mInterface = c.mInterface.string();
    if (!ReadHexId(c.mUsbDevice / "idVendor", info.mVid) || !ReadHexId(c.mUsbDevice / "idProduct", info.mPid))
        return kDiscoveryIOFailed;
    std::string serial;
    switch (ReadAttribute(c.mUsbDevice / "serial", serial)) {
    case ReadResult::Ok:
        serial = StripLineEnd(serial);
        break;
    case ReadResult::Missing: // the device reports no serial number
        serial.clear();
        break;
    case ReadResult::Failed:
        return kDiscoveryIOFailed;
    }
    std::replace(serial.begin(), serial.end(), ' ', '_');
    info.mSerial = serial;
    info.mInstance = AdapterInstance(info.mVid, info.mPid, info.mSerial);
    std::error_code ec;
    const fs::path node = devRoot / c.mTty;
    if (fs::exists(node, ec)) {
        info.mDevice = node.string();
        info.mPort = number;
    }
    return 0;
}

fs::path SysfsRoot(const std::string &given) { return given.empty() ? EnvOr("BEAMPORT_SYSFS_ROOT", "/sys") : given; }
fs::path DevRoot(const std::string &given) { return given.empty() ? EnvOr("BEAMPORT_DEV_ROOT", "/dev") : given; }

} // namespace

std::string AdapterInstance(uint16_t nVid, uint16_t nPid, const std::string &serial)
{
    return "VID_" + Hex4(nVid) + "&PID_" + Hex4(nPid) + "\\" + serial;
}

uint8_t ListAdapters(std::vector<RAdapterInfo> &adapters, const std::string &sysfsRoot, const std::string &devRoot)
{
    adapters.clear();
    std::vector<RCandidate> candidates;
    uint8_t code = FindCandidates(SysfsRoot(sysfsRoot), candidates);
    if (code != 0)
        return code;
    if (candidates.empty())
        return kDiscoveryNone;
    const fs::path dev = DevRoot(devRoot);
    for (size_t i = 0; i < candidates.size(); ++i) {
        RAdapterInfo info;
        code = Identify(candidates[i], dev, static_cast<int32_t>(i + 1), info);
        if (code != 0)
            return code;
        adapters.push_back(info);
    }
    return 0;
}

std::string PortOverride() { return g_portOverride.empty() ? EnvOr("BEAMPORT_PORT", "") : g_portOverride; }

void SetPortOverride(const std::string &path) { g_portOverride = path; }

uint8_t FindAdapterPort(TComTamsel &link, int32_t nDefPort, int32_t &nPort)
{
    nPort = 0;
    const std::string bypass = PortOverride();
    if (!bypass.empty()) {
        link.SetPortDevice(1, bypass);
        nPort = 1;
        return 0;
    }

    std::vector<RCandidate> candidates;
    uint8_t code = FindCandidates(SysfsRoot({}), candidates);
    if (code != 0)
        return code;
    // Counted before any adapter is looked at, as the adapter library does.
    if (candidates.empty())
        return kDiscoveryNone;
    if (candidates.size() > 1 && nDefPort < 1)
        return kDiscoverySeveral;

    const fs::path dev = DevRoot({});
    std::vector<int32_t> ports(candidates.size(), 0);
    for (size_t i = 0; i < candidates.size(); ++i) {
        RAdapterInfo info;
        code = Identify(candidates[i], dev, static_cast<int32_t>(i + 1), info);
        if (code != 0)
            return code;
        ports[i] = info.mPort;
        if (info.mPort > 0)
            link.SetPortDevice(info.mPort, info.mDevice);
        if (ports[i] > 0 && ports[i] == nDefPort) {
            nPort = nDefPort;
            break;
        }
    }
    if (nPort == 0)
        nPort = ports[0];
    return 0;
}

uint8_t TComTamsel::OpenUSB(float rTimeOut)
{
    ++FSeen.mOpens;
    int32_t nPort = 0;
    const uint8_t status = FindAdapterPort(*this, FDefPort, nPort);
    if (status != 0)
        return status;
    ComOpen(nPort);
    if (RSCom.IsPseudoTerminal())
        FSeen.mPseudoTerminal = true;
    return ConnectTamsel(rTimeOut);
}
