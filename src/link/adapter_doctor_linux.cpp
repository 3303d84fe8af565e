// The adapter doctor on Linux: sysfs for the adapters and the bridges no
// driver took, the device nodes and their modes, the group database, /proc
// for the programs holding a device and for ModemManager, and udev's rules
// and database.
#include "link/adapter_doctor.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <map>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <type_traits>
#include <unistd.h>

#include "link/doctor_text.h"
#include "link/usb_id.h"

static_assert(std::is_same_v<uid_t, RUserId> && std::is_same_v<gid_t, RGroupId> && std::is_same_v<mode_t, RFileMode>,
              "the doctor's ids and modes are the system's");

namespace fs = std::filesystem;

namespace {

using namespace doctor_text;

constexpr const char *kAdapterDriver = "cp210x";
constexpr uint16_t kAdapterVendor = 0x10C4;
// Product IDs of the bridges the cp210x driver serves under this vendor.
constexpr uint16_t kAdapterProducts[] = {0xEA60, 0xEA61, 0xEA63, 0xEA70, 0xEA71};

constexpr const char *kInstallRule = "sudo install -m 644 packaging/60-beamport-cp210x.rules /etc/udev/rules.d/ && "
                                     "sudo udevadm control --reload && sudo udevadm trigger, then replug the adapter";

std::string Env(const char *name)
{
    const char *value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// A small text file (sysfs attribute, /proc entry, udev record), at most 64 KiB.
bool ReadSmallFile(const fs::path &path, std::string &text)
{
    text.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    char buf[4096];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        if (n == 0)
            break;
        text.append(buf, static_cast<size_t>(n));
        if (text.size() > 65536) {
            ok = false;
            break;
        }
    }
    ::close(fd);
    return ok;
}

bool ParseHex16(const std::string &text, uint16_t &value)
{
    return ParseHexId(Trimmed(text), value);
}

std::string DriverOf(const fs::path &folder)
{
    std::error_code ec;
    const fs::path target = fs::read_symlink(folder / "driver", ec);
    return ec ? std::string() : target.filename().string();
}

bool SamePath(const fs::path &a, const fs::path &b)
{
    if (a == b)
        return true;
    std::error_code ea, eb;
    const fs::path ca = fs::weakly_canonical(a, ea), cb = fs::weakly_canonical(b, eb);
    return !ea && !eb && ca == cb;
}

// "crw-rw----"
std::string ModeText(mode_t mode)
{
    std::string text = S_ISCHR(mode) ? "c" : S_ISREG(mode) ? "-" : S_ISDIR(mode) ? "d" : "?";
    const char *letters = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        text += (mode & (0400 >> i)) ? letters[i] : '-';
    return text;
}

// ---- group database ----------------------------------------------------------

std::vector<RGroup> ReadGroups(const std::string &file)
{
    std::string text;
    return ReadSmallFile(file, text) ? ParseGroups(text) : std::vector<RGroup>();
}

// ---- processes ---------------------------------------------------------------

struct RProcess {
    std::string mPid;
    std::string mComm;
    std::vector<std::string> mOpen; // the targets of its file descriptors
};

struct RProcessScan {
    std::vector<RProcess> mProcesses;
    bool mListed = false; // the process folder could be listed at all
    int mUnreadable = 0;  // processes whose open files could not be listed
};

RProcessScan ScanProcesses(const fs::path &proc)
{
    RProcessScan scan;
    const std::string self = std::to_string(::getpid());
    std::error_code ec;
    fs::directory_iterator it(proc, ec);
    if (ec)
        return scan;
    scan.mListed = true;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        const std::string pid = it->path().filename().string();
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
            continue;
        RProcess p;
        p.mPid = pid;
        std::string comm;
        if (ReadSmallFile(it->path() / "comm", comm))
            p.mComm = Trimmed(comm);
        std::error_code fe;
        fs::directory_iterator fd(it->path() / "fd", fe);
        if (fe) {
            if (fe != std::errc::no_such_file_or_directory) // gone meanwhile, or a kernel thread
                ++scan.mUnreadable;
        } else {
            for (; fd != fs::directory_iterator(); fd.increment(fe)) {
                if (fe)
                    break;
                std::error_code le;
                const fs::path target = fs::read_symlink(fd->path(), le);
                if (!le)
                    p.mOpen.push_back(target.string());
            }
        }
        scan.mProcesses.push_back(std::move(p));
    }
    return scan;
}

// ---- the udev database -------------------------------------------------------

RUdevRecord ReadUdevRecord(const RDoctorRoots &roots, const std::string &devNumber)
{
    std::string text;
    if (devNumber.empty() || !ReadSmallFile(fs::path(roots.mUdevData) / ("c" + devNumber), text))
        return {};
    return ParseUdevRecord(text);
}

// "188:0" of a tty from sysfs, else of the node itself when it is a character device.
std::string DevNumber(const RDoctorRoots &roots, const std::string &tty, const std::string &device)
{
    std::string text;
    if (!tty.empty() && ReadSmallFile(fs::path(roots.mSysfs) / "class" / "tty" / tty / "dev", text)) {
        text = Trimmed(text);
        if (!text.empty() && text.find_first_not_of("0123456789:") == std::string::npos)
            return text;
    }
    struct stat st{};
    if (!device.empty() && ::stat(device.c_str(), &st) == 0 && S_ISCHR(st.st_mode))
        return std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
    return {};
}

bool RuleInstalled(const RDoctorRoots &roots)
{
    for (const std::string &dir : roots.mRuleDirs) {
        std::error_code ec;
        if (fs::is_regular_file(fs::path(dir) / kUdevRuleName, ec))
            return true;
    }
    return false;
}

std::string ByIdLink(const fs::path &device, const fs::path &devRoot)
{
    std::error_code ec;
    fs::directory_iterator it(devRoot / "serial" / "by-id", ec);
    if (ec || device.empty())
        return {};
    std::vector<std::string> links;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        std::error_code le;
        if (it->is_symlink(le) && SamePath(it->path(), device))
            links.push_back(it->path().string());
    }
    std::sort(links.begin(), links.end());
    return links.empty() ? std::string() : links.front();
}

// ---- the checks --------------------------------------------------------------

class TDoctor {
public:
    TDoctor(const RDoctorRoots &roots, const RDoctorUser &user)
        : FRoots(roots), FUser(user), FGroups(ReadGroups(roots.mGroupFile)), FScan(ScanProcesses(roots.mProc)),
          FRule(RuleInstalled(roots))
    {
        for (const RProcess &p : FScan.mProcesses)
            if (p.mComm == "ModemManager")
                FModemManagerPid = p.mPid;
    }

    RDoctorReport Run(const std::string &bypass)
    {
        if (!bypass.empty())
            CheckBypass(bypass);
        else
            CheckAdapters();
        if (!FRule)
            Problem("the udev rule " + std::string(kUdevRuleName) + " is not installed (looked in " + RuleDirList() + ")",
                    kInstallRule);
        if (!FScan.mListed)
            FReport.mFindings.push_back({EFindingKind::Note,
                                         "the processes under " + FRoots.mProc +
                                             " could not be listed, so programs holding the adapter and ModemManager were not looked for",
                                         "check that /proc is mounted (or BEAMPORT_PROC_ROOT names a folder)"});
        if (FScan.mUnreadable > 0)
            FReport.mFindings.push_back(
                {EFindingKind::Note,
                 "the open files of " + std::to_string(FScan.mUnreadable) +
                     " process(es) of other users could not be read, so the check for programs holding the adapter was partial",
                 "run 'sudo beamport-cli doctor' for a complete check"});
        return std::move(FReport);
    }

private:
    void Problem(const std::string &what, const std::string &fix)
    {
        FReport.mFindings.push_back({EFindingKind::Problem, what, fix});
    }

    std::string RuleDirList() const
    {
        std::string list;
        for (const std::string &d : FRoots.mRuleDirs)
            list += (list.empty() ? "" : ", ") + d;
        return list.empty() ? "no folder" : list;
    }

    void CheckBypass(const std::string &device)
    {
        FReport.mFindings.push_back({EFindingKind::Note, "discovery skipped: --port or BEAMPORT_PORT gives " + device,
                                     "unset BEAMPORT_PORT and drop --port to check the attached adapters"});
        struct stat st{};
        if (::stat(device.c_str(), &st) != 0) {
            Problem(device + " does not exist", "check the device given with --port or BEAMPORT_PORT");
            return;
        }
        const size_t before = ProblemCount();
        CheckDevice(device, {}, st);
        if (ProblemCount() == before)
            FReport.mReady.push_back(device);
    }

    void CheckAdapters()
    {
        std::vector<RAdapterInfo> adapters;
        const uint8_t code = ListAdapters(adapters, FRoots.mSysfs, FRoots.mDev);
        if (code == kDiscoveryUnsupported) {
            Problem(FRoots.mSysfs + "/class/tty is missing: this system offers no device tree to search for the adapter",
                    "run on Linux with sysfs mounted, or give the device with --port");
            return;
        }
        if (code == kDiscoveryIOFailed) {
            Problem("an adapter's vendor ID, product ID or serial number could not be read under " + FRoots.mSysfs,
                    "replug the adapter and look at 'sudo dmesg' for USB errors");
            return;
        }
        const size_t unbound = CheckUnboundBridges();
        if (adapters.empty()) {
            if (unbound == 0)
                Problem("no CP210x adapter found",
                        "plug in the infrared adapter; 'lsusb' should then list 10c4:ea60, and 'sudo dmesg' show cp210x");
            return;
        }
        for (size_t i = 0; i < adapters.size(); ++i)
            CheckAdapter(static_cast<int32_t>(i + 1), adapters[i]);
    }

    // USB devices with the bridge's IDs whose interfaces the driver did not
    // take: they never show up as adapters. Returns how many were reported.
    size_t CheckUnboundBridges()
    {
        size_t reported = 0;
        const fs::path devices = fs::path(FRoots.mSysfs) / "bus" / "usb" / "devices";
        std::error_code ec;
        fs::directory_iterator it(devices, ec);
        if (ec)
            return 0;
        std::vector<fs::path> entries;
        for (; it != fs::directory_iterator(); it.increment(ec)) {
            if (ec)
                break;
            entries.push_back(it->path());
        }
        std::sort(entries.begin(), entries.end());
        for (const fs::path &entry : entries) {
            const std::string name = entry.filename().string();
            if (name.find(':') != std::string::npos)
                continue; // an interface
            std::string text;
            uint16_t vid = 0, pid = 0;
            if (!ReadSmallFile(entry / "idVendor", text) || !ParseHex16(text, vid) ||
                !ReadSmallFile(entry / "idProduct", text) || !ParseHex16(text, pid))
                continue;
            if (vid != kAdapterVendor ||
                std::find(std::begin(kAdapterProducts), std::end(kAdapterProducts), pid) == std::end(kAdapterProducts))
                continue;
            std::error_code ce;
            const fs::path folder = fs::canonical(entry, ce);
            if (ce)
                continue;
            std::vector<std::pair<std::string, std::string>> interfaces; // name, driver
            bool bound = false;
            std::error_code ie;
            for (fs::directory_iterator c(folder, ie); !ie && c != fs::directory_iterator(); c.increment(ie)) {
                const std::string child = c->path().filename().string();
                std::error_code xe;
                if (child.rfind(name + ":", 0) != 0 || !fs::exists(c->path() / "bInterfaceNumber", xe))
                    continue;
                const std::string driver = DriverOf(c->path());
                bound = bound || driver == kAdapterDriver;
                interfaces.emplace_back(child, driver);
            }
            if (bound)
                continue;
            std::string serial;
            if (ReadSmallFile(entry / "serial", serial))
                serial = Trimmed(serial);
            const std::string what = "USB device " + name + " (" + VidPid(vid, pid) +
                                     (serial.empty() ? "" : ", serial " + serial) + ") is a CP210x bridge";
            std::sort(interfaces.begin(), interfaces.end());
            if (interfaces.empty()) {
                Problem(what + " but shows no interface", "replug the adapter, into another USB port if it stays so");
            } else if (interfaces.front().second.empty()) {
                Problem(what + " but its interface " + interfaces.front().first + " is bound to no driver",
                        "sudo modprobe cp210x, then replug the adapter (or: echo " + interfaces.front().first +
                            " | sudo tee /sys/bus/usb/drivers/cp210x/bind)");
            } else {
                const auto &[iface, driver] = interfaces.front();
                Problem(what + " but its interface " + iface + " is bound to " + driver + ", not cp210x",
                        "echo " + iface + " | sudo tee /sys/bus/usb/drivers/" + driver + "/unbind, then sudo modprobe cp210x and echo " +
                            iface + " | sudo tee /sys/bus/usb/drivers/cp210x/bind");
            }
            ++reported;
        }
        return reported;
    }

    void CheckAdapter(int32_t number, const RAdapterInfo &a)
    {
        const std::string name = "adapter " + std::to_string(number) + " (" + a.mTty + ", " + VidPid(a.mVid, a.mPid) +
                                 (a.mSerial.empty() ? "" : ", serial " + a.mSerial) + ")";
        if (a.mDevice.empty()) {
            Problem(name + " has no device node " + (fs::path(FRoots.mDev) / a.mTty).string(),
                    "replug the adapter; if the node stays missing, watch 'udevadm monitor' while plugging it in");
            return;
        }
        struct stat st{};
        if (::stat(a.mDevice.c_str(), &st) != 0) {
            Problem(name + ": " + a.mDevice + " vanished while it was checked", "replug the adapter and run the doctor again");
            return;
        }
        const size_t before = ProblemCount();
        CheckDevice(a.mDevice, a.mTty, st);
        if (ProblemCount() == before)
            FReport.mReady.push_back("adapter " + std::to_string(number) + " " + a.mDevice + " (" + VidPid(a.mVid, a.mPid) +
                                     (a.mSerial.empty() ? "" : ", serial " + a.mSerial) + ")");
    }

    void CheckDevice(const std::string &device, const std::string &tty, const struct stat &st)
    {
        const RUdevRecord udev = ReadUdevRecord(FRoots, DevNumber(FRoots, tty, device));
        CheckPermission(device, st, udev);
        CheckHolders(device);
        if (!FModemManagerPid.empty() && !FRule && !udev.mModemIgnored)
            Problem("ModemManager (PID " + FModemManagerPid + ") is running and nothing tells it to leave " + device +
                        " alone: it may probe the adapter and garble the link",
                    std::string(kInstallRule) + " (or: sudo systemctl stop ModemManager)");
    }

    void CheckPermission(const std::string &device, const struct stat &st, const RUdevRecord &udev)
    {
        if (FUser.mAskKernel ? ::access(device.c_str(), R_OK | W_OK) == 0
                             : ModeAllowsReadWrite(st.st_mode, st.st_uid, st.st_gid, FUser))
            return;
        const RGroup *group = GroupById(FGroups, st.st_gid);
        const std::string groupName = group ? group->mName : std::to_string(st.st_gid);
        const std::string user = FUser.mName.empty() ? "uid " + std::to_string(FUser.mUid) : FUser.mName;
        const std::string what = device + " (" + ModeText(st.st_mode) + ", group " + groupName +
                                 ") cannot be read and written by " + user;
        const bool groupMayUse = (st.st_mode & 060) == 060;
        const bool listed = group && !FUser.mName.empty() &&
                            std::find(group->mMembers.begin(), group->mMembers.end(), FUser.mName) != group->mMembers.end();
        if (SessionHasGroup(FUser, st.st_gid)) {
            if (groupMayUse) // bits would allow it: an ACL or a security module refuses
                Problem(what + " although the mode allows group " + groupName,
                        "look at 'getfacl " + device + "' and the system log for a refusal");
            else
                Problem(what + ": group " + groupName + " may not read and write it", kInstallRule);
        } else if (listed) {
            Problem(what + ": " + user + " is in group " + groupName + " in " + FRoots.mGroupFile +
                        " but this login session started before that",
                    "log out and in again (or start a shell with 'newgrp " + groupName + "')");
        } else if (groupMayUse) {
            Problem(what + ": " + user + " is not in group " + groupName,
                    "sudo usermod -aG " + groupName + " $USER, then log out and in");
        } else {
            Problem(what + ": only its owner may use it", kInstallRule);
        }
        if (udev.mRead && !udev.mUaccess)
            Problem(device + ": the udev uaccess tag is not applied, so the desktop session gets no access to it either",
                    kInstallRule);
    }

    void CheckHolders(const std::string &device)
    {
        // The kernel names an open device by its resolved path.
        std::error_code ec;
        const std::string resolved = fs::weakly_canonical(device, ec).string();
        for (const RProcess &p : FScan.mProcesses) {
            const bool holds = std::any_of(p.mOpen.begin(), p.mOpen.end(), [&](const std::string &target) {
                return target == device || (!ec && target == resolved);
            });
            if (holds)
                Problem(device + " is held open by " + (p.mComm.empty() ? "a process" : p.mComm) + " (PID " + p.mPid + ")",
                        "close that program (or: kill " + p.mPid + ") and try again");
        }
    }

    size_t ProblemCount() const
    {
        return static_cast<size_t>(std::count_if(FReport.mFindings.begin(), FReport.mFindings.end(),
                                                 [](const RFinding &f) { return f.mKind == EFindingKind::Problem; }));
    }

    const RDoctorRoots &FRoots;
    const RDoctorUser &FUser;
    std::vector<RGroup> FGroups;
    RProcessScan FScan;
    bool FRule = false;
    std::string FModemManagerPid;
    RDoctorReport FReport;
};

} // namespace

RDoctorRoots DoctorRootsFromEnvironment()
{
    RDoctorRoots roots;
    auto take = [](const char *name, std::string &value) {
        const std::string v = Env(name);
        if (!v.empty())
            value = v;
    };
    take("BEAMPORT_SYSFS_ROOT", roots.mSysfs);
    take("BEAMPORT_DEV_ROOT", roots.mDev);
    take("BEAMPORT_PROC_ROOT", roots.mProc);
    take("BEAMPORT_GROUP_FILE", roots.mGroupFile);
    take("BEAMPORT_UDEV_DATA_ROOT", roots.mUdevData);
    if (std::getenv("BEAMPORT_UDEV_RULES_DIRS") != nullptr)
        roots.mRuleDirs = SplitColons(Env("BEAMPORT_UDEV_RULES_DIRS"));
    return roots;
}

RDoctorUser CurrentUser()
{
    RDoctorUser user;
    user.mUid = ::getuid();
    user.mGid = ::getgid();
    const int n = ::getgroups(0, nullptr);
    if (n > 0) {
        user.mGroups.resize(static_cast<size_t>(n));
        const int got = ::getgroups(n, user.mGroups.data());
        user.mGroups.resize(got > 0 ? static_cast<size_t>(got) : 0);
    }
    if (const passwd *pw = ::getpwuid(user.mUid); pw != nullptr && pw->pw_name != nullptr)
        user.mName = pw->pw_name;
    else
        user.mName = Env("USER");
    user.mAskKernel = true;
    return user;
}

RDoctorReport RunDoctor(const RDoctorRoots &roots, const RDoctorUser &user, const std::string &bypass)
{
    return TDoctor(roots, user).Run(bypass);
}

uint8_t ListPorts(const RDoctorRoots &roots, std::vector<RPortEntry> &ports)
{
    ports.clear();
    std::vector<RAdapterInfo> adapters;
    const uint8_t code = ListAdapters(adapters, roots.mSysfs, roots.mDev);
    for (size_t i = 0; i < adapters.size(); ++i) {
        RPortEntry e;
        e.mNumber = static_cast<int32_t>(i + 1);
        e.mInfo = adapters[i];
        e.mById = ByIdLink(adapters[i].mDevice, roots.mDev);
        e.mDriver = DriverOf(adapters[i].mInterface);
        ports.push_back(std::move(e));
    }
    return code;
}
