#pragma once
// A fake machine for the adapter doctor in a temp folder: sysfs with USB
// serial adapters laid out as the kernel does it, device nodes (plain files)
// with serial/by-id links, processes with open files, a group database, udev
// rule folders and the udev database.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "link/adapter_doctor.h"

class FakeMachine {
public:
    FakeMachine();
    ~FakeMachine();
    FakeMachine(const FakeMachine &) = delete;
    FakeMachine &operator=(const FakeMachine &) = delete;

    struct Usb {
        std::string tty = "ttyUSB0";
        std::string usb = "1-1";
        std::string driver = "cp210x"; // empty: the interface is bound to no driver
        std::string vid = "10c4";
        std::string pid = "ea60";
        std::optional<std::string> serial = "0001";
        bool node = true;            // the device node exists
        mode_t mode = 0660;          // of the device node
        std::string devNumber = "188:0";
    };
    // Returns the device node's path.
    std::string AddUsb(const Usb &u);
    // A process with a command name and file descriptors linking to the targets.
    void AddProcess(const std::string &pid, const std::string &comm, const std::vector<std::string> &open);
    // A process whose open files cannot be listed.
    void AddHiddenProcess(const std::string &pid);
    void InstallRule();
    // The udev database record of a character device, one "X:value" a line.
    void AddUdevRecord(const std::string &devNumber, const std::vector<std::string> &lines);
    // "name:x:gid:members" lines; the device nodes belong to group "dialout"
    // with the gid the nodes get.
    void WriteGroups(const std::vector<std::string> &members);

    RDoctorRoots Roots() const;
    // NAME=VALUE of each root for the command line.
    std::vector<std::string> Env() const;

    std::filesystem::path root, sys, dev, proc, rules, udevData, groupFile;
    gid_t nodeGid = 0; // the group of the device nodes
    uid_t nodeUid = 0; // their owner
};
