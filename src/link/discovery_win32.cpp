// Adapter discovery on Windows: the present USB devices with a CP210x
// bridge's vendor and product IDs, found through SetupAPI; each one's COM
// port is the "PortName" value of its "Device Parameters" key. A bridge
// without a driver has no such value: it is listed without a port.
//
// A candidate's tty name is its COM port name ("COM5"), so the adapters are
// numbered in the order of their ports; one without a port goes by its device
// instance ID. The folders given on other systems mean nothing here.
#include "link/discovery_platform.h"

#include <windows.h>

#include <setupapi.h>

#include "link/usb_id.h"

namespace {

std::string Narrow(const wchar_t *text)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return {};
    std::string out(static_cast<size_t>(n - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}

// The "PortName" under the device's "Device Parameters" key; empty without one.
std::string PortName(HDEVINFO set, SP_DEVINFO_DATA &device)
{
    const HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
        return {};
    wchar_t name[64] = {};
    DWORD size = sizeof name - sizeof(wchar_t);
    DWORD type = 0;
    const LONG r = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE *>(name), &size);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS || type != REG_SZ)
        return {};
    return Narrow(name);
}

} // namespace

uint8_t FindAdapterCandidates(const std::string &treeRoot, std::vector<RAdapterCandidate> &out)
{
    (void)treeRoot;
    out.clear();
    const HDEVINFO set = SetupDiGetClassDevsW(nullptr, L"USB", nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_INVALID_DATA ? kDiscoveryUnsupported : kDiscoveryIOFailed;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        wchar_t id[512] = {};
        if (!SetupDiGetDeviceInstanceIdW(set, &device, id, sizeof id / sizeof id[0], nullptr))
            continue;
        const std::string instance = Narrow(id);
        uint16_t vid = 0, pid = 0;
        std::string serial;
        if (!ParseInstanceId(instance, vid, pid, serial) || !IsBridgeId(vid, pid))
            continue;
        const std::string port = PortName(set, device);
        out.push_back({ComPortNumber(port) > 0 ? port : instance, instance, instance});
    }
    SetupDiDestroyDeviceInfoList(set);
    return 0;
}

uint8_t IdentifyAdapter(const RAdapterCandidate &c, const std::string &devRoot, int32_t number, RAdapterInfo &info)
{
    (void)devRoot;
    (void)number;
    info = RAdapterInfo{};
    info.mTty = c.mTty;
    info.mInterface = c.mInterface;
    if (!ParseInstanceId(c.mUsbDevice, info.mVid, info.mPid, info.mSerial))
        return kDiscoveryIOFailed;
    for (char &ch : info.mSerial)
        if (ch == ' ')
            ch = '_';
    info.mInstance = AdapterInstance(info.mVid, info.mPid, info.mSerial);
    // The port's number is the COM port's own: "COM5" is port 5.
    if (const int com = ComPortNumber(c.mTty); com > 0) {
        info.mDevice = "\\\\.\\" + c.mTty;
        info.mPort = com;
    }
    return 0;
}
