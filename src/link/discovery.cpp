#include "link/discovery.h"

#include <algorithm>
#include <cstdlib>

#include "link/discovery_platform.h"
#include "link/tamsel_comms.h"
#include "link/usb_id.h"

namespace {


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

// The attached adapters in the order they are numbered: natural order of
// their tty names. 0 or the failure of the listing.
uint8_t Candidates(const std::string &treeRoot, std::vector<RAdapterCandidate> &candidates)
{
    const uint8_t code = FindAdapterCandidates(treeRoot, candidates);
    std::sort(candidates.begin(), candidates.end(),
              [](const RAdapterCandidate &a, const RAdapterCandidate &b) { return NaturalLess(a.mTty, b.mTty); });
    return code;
}

} // namespace

std::string AdapterInstance(uint16_t nVid, uint16_t nPid, const std::string &serial)
{
    return "VID_" + Hex4(nVid) + "&PID_" + Hex4(nPid) + "\\" + serial;
}

uint8_t ListAdapters(std::vector<RAdapterInfo> &adapters, const std::string &sysfsRoot, const std::string &devRoot)
{
    adapters.clear();
    std::vector<RAdapterCandidate> candidates;
    uint8_t code = Candidates(sysfsRoot, candidates);
    if (code != 0)
        return code;
    if (candidates.empty())
        return kDiscoveryNone;
    for (size_t i = 0; i < candidates.size(); ++i) {
        RAdapterInfo info;
        code = IdentifyAdapter(candidates[i], devRoot, static_cast<int32_t>(i + 1), info);
        if (code != 0)
            return code;
        adapters.push_back(info);
    }
    return 0;
}

std::string PortFromEnvironment() { return EnvOr("BEAMPORT_PORT", ""); }

uint8_t FindAdapterPort(TComTamsel &link, int32_t nDefPort, int32_t &nPort)
{
    nPort = 0;
    const std::string &bypass = link.PortChoice();
    if (!bypass.empty()) {
        link.SetPortDevice(1, bypass);
        nPort = 1;
        return 0;
    }

    std::vector<RAdapterCandidate> candidates;
    uint8_t code = Candidates({}, candidates);
    if (code != 0)
        return code;
    // Counted before any adapter is looked at, as the adapter library does.
    if (candidates.empty())
        return kDiscoveryNone;
    if (candidates.size() > 1 && nDefPort < 1)
        return kDiscoverySeveral;

    std::vector<int32_t> ports(candidates.size(), 0);
    for (size_t i = 0; i < candidates.size(); ++i) {
        RAdapterInfo info;
        code = IdentifyAdapter(candidates[i], {}, static_cast<int32_t>(i + 1), info);
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
