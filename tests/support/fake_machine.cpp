#include "support/fake_machine.h"

#include <fstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
void WriteFile(const fs::path &p, const std::string &text)
{
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}
} // namespace

FakeMachine::FakeMachine()
{
    char tmpl[] = "/tmp/doctorXXXXXX";
    if (::mkdtemp(tmpl) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    root = tmpl;
    sys = root / "sys";
    dev = root / "dev";
    proc = root / "proc";
    rules = root / "rules.d";
    udevData = root / "udev" / "data";
    groupFile = root / "group";
    for (const fs::path &p : {sys / "class" / "tty", sys / "bus" / "usb" / "devices", dev, proc, rules, udevData})
        fs::create_directories(p);
    WriteFile(dev / ".probe", "");
    struct stat st{};
    ::stat((dev / ".probe").c_str(), &st);
    nodeGid = st.st_gid;
    nodeUid = st.st_uid;
    // Where allowed the nodes go to a group of their own, as on a real system.
    if (::chown((dev / ".probe").c_str(), static_cast<uid_t>(-1), 20) == 0)
        nodeGid = 20;
    fs::remove(dev / ".probe");
    WriteGroups({});
}

FakeMachine::~FakeMachine()
{
    std::error_code ec;
    fs::remove_all(root, ec);
}

std::string FakeMachine::AddUsb(const Usb &u)
{
    const fs::path usb = sys / "devices" / "pci0000:00" / "usb1" / u.usb;
    const fs::path iface = usb / (u.usb + ":1.0");
    fs::create_directories(iface);
    WriteFile(usb / "idVendor", u.vid + "\n");
    WriteFile(usb / "idProduct", u.pid + "\n");
    if (u.serial)
        WriteFile(usb / "serial", *u.serial + "\n");
    WriteFile(iface / "bInterfaceNumber", "00\n");
    fs::create_directory_symlink(fs::relative(usb, sys / "bus" / "usb" / "devices"), sys / "bus" / "usb" / "devices" / u.usb);
    if (u.driver.empty())
        return {}; // no driver: no port, no tty
    const fs::path drv = sys / "bus" / "usb" / "drivers" / u.driver;
    fs::create_directories(drv);
    fs::create_directory_symlink(fs::relative(drv, iface), iface / "driver");
    const fs::path port = iface / u.tty;
    fs::create_directories(port);
    const fs::path ttyFolder = port / "tty" / u.tty;
    fs::create_directories(ttyFolder);
    fs::create_directory_symlink(fs::relative(port, ttyFolder), ttyFolder / "device");
    WriteFile(ttyFolder / "dev", u.devNumber + "\n");
    fs::create_directory_symlink(fs::relative(ttyFolder, sys / "class" / "tty"), sys / "class" / "tty" / u.tty);
    const fs::path node = dev / u.tty;
    if (u.node) {
        WriteFile(node, "");
        if (::chown(node.c_str(), static_cast<uid_t>(-1), nodeGid) != 0)
            throw std::runtime_error("chown failed");
        fs::permissions(node, static_cast<fs::perms>(u.mode), fs::perm_options::replace);
        const fs::path byId = dev / "serial" / "by-id";
        fs::create_directories(byId);
        fs::create_symlink("../../" + u.tty, byId / ("usb-Bridge_" + u.serial.value_or("") + "-if00-port0"));
    }
    return node.string();
}

void FakeMachine::AddProcess(const std::string &pid, const std::string &comm, const std::vector<std::string> &open)
{
    const fs::path p = proc / pid;
    fs::create_directories(p / "fd");
    WriteFile(p / "comm", comm + "\n");
    int fd = 0;
    for (const std::string &target : open)
        fs::create_symlink(target, p / "fd" / std::to_string(fd++));
}

void FakeMachine::AddHiddenProcess(const std::string &pid)
{
    // A file where the folder belongs fails the listing as a refusal would.
    WriteFile(proc / pid / "comm", "secret\n");
    WriteFile(proc / pid / "fd", "");
}

void FakeMachine::InstallRule() { WriteFile(rules / kUdevRuleName, "# installed\n"); }

void FakeMachine::AddUdevRecord(const std::string &devNumber, const std::vector<std::string> &lines)
{
    std::string text;
    for (const std::string &l : lines)
        text += l + "\n";
    WriteFile(udevData / ("c" + devNumber), text);
}

void FakeMachine::WriteGroups(const std::vector<std::string> &members)
{
    std::string list;
    for (const std::string &m : members)
        list += (list.empty() ? "" : ",") + m;
    // Entries for other groups, and a broken line, come before it.
    const std::string others = nodeGid == 0 ? "" : "root:x:0:\n";
    WriteFile(groupFile, others + "broken line\nplugdev:x:46:alice\ndialout:x:" + std::to_string(nodeGid) + ":" + list + "\n");
}

RDoctorRoots FakeMachine::Roots() const
{
    RDoctorRoots r;
    r.mSysfs = sys.string();
    r.mDev = dev.string();
    r.mProc = proc.string();
    r.mGroupFile = groupFile.string();
    r.mRuleDirs = {(root / "etc-rules-missing").string(), rules.string()};
    r.mUdevData = udevData.string();
    return r;
}

std::vector<std::string> FakeMachine::Env() const
{
    const RDoctorRoots r = Roots();
    return {"BEAMPORT_SYSFS_ROOT=" + r.mSysfs,      "BEAMPORT_DEV_ROOT=" + r.mDev,
            "BEAMPORT_PROC_ROOT=" + r.mProc,        "BEAMPORT_GROUP_FILE=" + r.mGroupFile,
            "BEAMPORT_UDEV_RULES_DIRS=" + r.mRuleDirs[0] + ":" + r.mRuleDirs[1],
            "BEAMPORT_UDEV_DATA_ROOT=" + r.mUdevData, "BEAMPORT_PORT="};
}
