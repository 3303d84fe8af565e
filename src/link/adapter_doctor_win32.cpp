// The adapter doctor on Windows: the CP210x bridges SetupAPI lists (through
// discovery), whether each has a driver and a COM port, and whether its port
// can be opened now. The Linux roots mean nothing here.
#include "link/adapter_doctor.h"

#include <windows.h>

#include "link/usb_id.h"

namespace {

std::wstring Widen(const std::string &text)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(n > 0 ? static_cast<size_t>(n) : 1, L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), n);
    return wide;
}

// Opens the device as the port does (exclusively); 0 or the system's error.
DWORD TryOpen(const std::string &device)
{
    const std::string path = device.rfind("\\\\", 0) == 0 ? device : "\\\\.\\" + device;
    const HANDLE h = CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return GetLastError();
    CloseHandle(h);
    return 0;
}

class TDoctor {
public:
    RDoctorReport Run(const std::string &bypass)
    {
        if (!bypass.empty()) {
            if (CheckDevice(bypass))
                FReport.mReady.push_back(bypass);
            return FReport;
        }
        std::vector<RAdapterInfo> adapters;
        const uint8_t code = ListAdapters(adapters);
        if (code == kDiscoveryUnsupported || code == kDiscoveryIOFailed) {
            Problem("the USB devices could not be listed (SetupAPI)", "replug the adapter and look at Device Manager");
            return FReport;
        }
        if (adapters.empty()) {
            Problem("no CP210x adapter found",
                    "plug in the infrared adapter; Device Manager should then list it under Ports (COM & LPT)");
            return FReport;
        }
        std::string ports;
        int withPort = 0;
        for (const RAdapterInfo &a : adapters) {
            if (a.mDevice.empty()) {
                Problem("USB device " + a.mTty + " (" + VidPid(a.mVid, a.mPid) +
                            ") is a CP210x bridge without a driver or COM port",
                        "connect to the internet and let Windows Update install its driver (Device Manager: Update "
                        "driver), then replug the adapter");
                continue;
            }
            ++withPort;
            ports += (ports.empty() ? "" : ", ") + a.mTty;
            if (CheckDevice(a.mTty))
                FReport.mReady.push_back(a.mTty + " (" + a.mInstance + ")");
        }
        if (withPort > 1)
            Note("several adapters are attached (" + ports + ")",
                 "give the one to use with --port COMn, or unplug the others");
        return FReport;
    }

private:
    bool CheckDevice(const std::string &device)
    {
        const DWORD error = TryOpen(device);
        if (error == 0)
            return true;
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
            Problem(device + " is held by another program",
                    "close the program that has it open (a terminal program or another service tool)");
        else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            Problem(device + " does not exist", "replug the adapter and look in Device Manager for its COM port");
        else
            Problem(device + " cannot be opened (error " + std::to_string(error) + ")",
                    "replug the adapter, into another USB port if it stays so");
        return false;
    }

    void Problem(const std::string &what, const std::string &fix)
    {
        FReport.mFindings.push_back({EFindingKind::Problem, what, fix});
    }
    void Note(const std::string &what, const std::string &fix)
    {
        FReport.mFindings.push_back({EFindingKind::Note, what, fix});
    }

    RDoctorReport FReport;
};

} // namespace

RDoctorRoots DoctorRootsFromEnvironment() { return RDoctorRoots(); }

RDoctorUser CurrentUser()
{
    RDoctorUser user;
    wchar_t name[256] = {};
    DWORD size = sizeof name / sizeof name[0];
    if (GetUserNameW(name, &size)) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, name, -1, nullptr, 0, nullptr, nullptr);
        if (n > 1) {
            user.mName.assign(static_cast<size_t>(n - 1), '\0');
            WideCharToMultiByte(CP_UTF8, 0, name, -1, user.mName.data(), n, nullptr, nullptr);
        }
    }
    return user;
}

RDoctorReport RunDoctor(const RDoctorRoots &roots, const RDoctorUser &user, const std::string &bypass)
{
    (void)roots;
    (void)user;
    return TDoctor().Run(bypass);
}

uint8_t ListPorts(const RDoctorRoots &roots, std::vector<RPortEntry> &ports)
{
    (void)roots;
    ports.clear();
    std::vector<RAdapterInfo> adapters;
    const uint8_t code = ListAdapters(adapters);
    for (const RAdapterInfo &a : adapters) {
        RPortEntry e;
        e.mNumber = a.mPort;
        e.mInfo = a;
        e.mDriver = a.mDevice.empty() ? std::string() : std::string("COM port");
        ports.push_back(std::move(e));
    }
    return code;
}
