// Adapter discovery on Linux: the ttys in <sysfs>/class/tty whose USB
// interface is bound to the "cp210x" driver, their IDs and serial number from
// the USB device above that interface, their device nodes under /dev.
#include "link/discovery_platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

#include "link/usb_id.h"

namespace fs = std::filesystem;

namespace {

constexpr const char *kAdapterDriver = "cp210x";

std::string EnvOr(const char *name, const char *fallback)
{
    const char *value = std::getenv(name);
    return (value != nullptr && *value != '\0') ? std::string(value) : std::string(fallback);
}

fs::path SysfsRoot(const std::string &given) { return given.empty() ? EnvOr("BEAMPORT_SYSFS_ROOT", "/sys") : given; }
fs::path DevRoot(const std::string &given) { return given.empty() ? EnvOr("BEAMPORT_DEV_ROOT", "/dev") : given; }

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

} // namespace

// The ttys whose USB interface is bound to the adapter driver. 0, or 253
// without a tty class folder, or 3 when the folder cannot be listed.
uint8_t FindAdapterCandidates(const std::string &treeRoot, std::vector<RAdapterCandidate> &out)
{
    out.clear();
#if defined(__linux__)
    const fs::path classTty = SysfsRoot(treeRoot) / "class" / "tty";
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
        out.push_back({name, iface.parent_path().string(), iface.string()});
    }
    return 0;
#else
    (void)treeRoot;
    return kDiscoveryUnsupported;
#endif
}

uint8_t IdentifyAdapter(const RAdapterCandidate &c, const std::string &devRoot, int32_t number, RAdapterInfo &info)
{
    info = RAdapterInfo{};
    info.mTty = c.mTty;
    info.mInterface = c.mInterface;
    const fs::path usbDevice = c.mUsbDevice;
    if (!ReadHexId(usbDevice / "idVendor", info.mVid) || !ReadHexId(usbDevice / "idProduct", info.mPid))
        return kDiscoveryIOFailed;
    std::string serial;
    switch (ReadAttribute(usbDevice / "serial", serial)) {
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
    const fs::path node = DevRoot(devRoot) / c.mTty;
    if (fs::exists(node, ec)) {
        info.mDevice = node.string();
        info.mPort = number;
    }
    return 0;
}
