#pragma once
// The adapter doctor: what keeps a technician on Linux from reaching the
// infrared adapter, each finding with what to do about it, and the adapter
// listing of "beamport-cli ports". The report's rules and wording are
// adapter_doctor.cpp; what it looks at is adapter_doctor_linux.cpp.
//
// Every folder it looks at can be moved for tests; the command line takes them
// from the environment:
//   BEAMPORT_SYSFS_ROOT       sysfs (default "/sys")
//   BEAMPORT_DEV_ROOT         device nodes, with serial/by-id below (default "/dev")
//   BEAMPORT_PROC_ROOT        processes (default "/proc")
//   BEAMPORT_GROUP_FILE       the group database (default "/etc/group")
//   BEAMPORT_UDEV_RULES_DIRS  udev rule folders, separated by ':'
//                             (default "/etc/udev/rules.d:/usr/lib/udev/rules.d:/lib/udev/rules.d")
//   BEAMPORT_UDEV_DATA_ROOT   the udev database (default "/run/udev/data")
#include <cstdint>
#include <string>
#include <vector>

#include "link/discovery.h"

// The file name of the udev rule shipped in packaging/.
inline constexpr const char *kUdevRuleName = "60-beamport-cp210x.rules";

struct RDoctorRoots {
    std::string mSysfs = "/sys";
    std::string mDev = "/dev";
    std::string mProc = "/proc";
    std::string mGroupFile = "/etc/group";
    std::vector<std::string> mRuleDirs = {"/etc/udev/rules.d", "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};
    std::string mUdevData = "/run/udev/data";
};

// The defaults above, each replaced by its environment variable when set.
RDoctorRoots DoctorRootsFromEnvironment();

// Who wants to open the device.
// The system's numbers of a user and a group, and a file's mode bits.
using RUserId = uint32_t;
using RGroupId = uint32_t;
using RFileMode = uint32_t;

struct RDoctorUser {
    RUserId mUid = 0;
    RGroupId mGid = 0;
    std::vector<RGroupId> mGroups; // the groups of this login session (getgroups)
    std::string mName;          // login name, as listed in the group database
    // Ask the kernel (access(2)) before judging by mode and group: right for
    // the real user, whose access may come from an ACL (the uaccess tag).
    bool mAskKernel = false;
};

// The user running this process.
RDoctorUser CurrentUser();

enum class EFindingKind {
    Problem, // stops the technician
    Note,    // worth knowing; nothing is blocked by it
};

struct RFinding {
    EFindingKind mKind = EFindingKind::Problem;
    std::string mWhat; // what is wrong
    std::string mFix;  // what to do
};

struct RDoctorReport {
    std::vector<RFinding> mFindings;
    std::vector<std::string> mReady; // the adapters (or the given device) nothing stops
    bool Ok() const;
    // One line per finding, then "all well: ..." when nothing stops the technician.
    std::vector<std::string> Lines() const;
};

// Checks the adapters under the roots and the machine around them. With a
// bypass device (--port, BEAMPORT_PORT) that device is checked instead of the
// discovered adapters.
RDoctorReport RunDoctor(const RDoctorRoots &roots, const RDoctorUser &user, const std::string &bypass = {});

// Whether the group is one of the login session's: its own or one of the others.
bool SessionHasGroup(const RDoctorUser &user, RGroupId gid);

// Whether the user may read and write a file of this mode, owner and group,
// judged by the permission bits alone (root may always).
bool ModeAllowsReadWrite(RFileMode mode, RUserId owner, RGroupId group, const RDoctorUser &user);

// One adapter as "beamport-cli ports" shows it.
struct RPortEntry {
    int32_t mNumber = 0;   // 1..n in discovery order
    RAdapterInfo mInfo;
    std::string mById;     // the <dev>/serial/by-id link to its device, empty when none
    std::string mDriver;   // the driver bound to its USB interface
};

// The discovery result code (0, 255, 254 is never returned, 253, 3) and the adapters.
uint8_t ListPorts(const RDoctorRoots &roots, std::vector<RPortEntry> &ports);
// "1  /dev/ttyUSB0  /dev/serial/by-id/...  10C4:EA60  serial 0001  driver cp210x"
std::string FormatPort(const RPortEntry &port);
