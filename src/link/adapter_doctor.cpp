#include "link/adapter_doctor.h"

#include <algorithm>

#include "link/usb_id.h"

// The rules and the wording of the doctor's report; what it looks at on the
// machine is the platform's file (adapter_doctor_linux.cpp).

bool SessionHasGroup(const RDoctorUser &user, RGroupId gid)
{
    return user.mGid == gid || std::find(user.mGroups.begin(), user.mGroups.end(), gid) != user.mGroups.end();
}

bool ModeAllowsReadWrite(RFileMode mode, RUserId owner, RGroupId group, const RDoctorUser &user)
{
    if (user.mUid == 0)
        return true;
    unsigned bits = mode & 07;
    if (owner == user.mUid)
        bits = (mode >> 6) & 07;
    else if (SessionHasGroup(user, group))
        bits = (mode >> 3) & 07;
    return (bits & 06) == 06;
}

bool RDoctorReport::Ok() const
{
    return std::none_of(mFindings.begin(), mFindings.end(),
                        [](const RFinding &f) { return f.mKind == EFindingKind::Problem; });
}

std::vector<std::string> RDoctorReport::Lines() const
{
    std::vector<std::string> lines;
    for (const RFinding &f : mFindings)
        lines.push_back((f.mKind == EFindingKind::Problem ? "problem: " : "note: ") + f.mWhat + " -> " + f.mFix);
    if (Ok()) {
        std::string ready;
        for (const std::string &r : mReady)
            ready += (ready.empty() ? "" : ", ") + r;
        lines.push_back("all well: " + (ready.empty() ? std::string("nothing to check") : ready + " ready"));
    }
    return lines;
}

std::string FormatPort(const RPortEntry &p)
{
    const RAdapterInfo &a = p.mInfo;
    return std::to_string(p.mNumber) + "  " +
           (a.mDevice.empty() ? a.mTty + " (no device node)" : a.mDevice) + "  " +
           (p.mById.empty() ? "(no by-id link)" : p.mById) + "  " + VidPid(a.mVid, a.mPid) + "  " +
           (a.mSerial.empty() ? "(no serial)" : "serial " + a.mSerial) + "  driver " +
           (p.mDriver.empty() ? "(none)" : p.mDriver);
}
