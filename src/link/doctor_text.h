#pragma once
// The text of the system files the adapter doctor reads: the group database
// and a device's udev record. Pure parsing, apart from where the text comes
// from (adapter_doctor_linux.cpp reads the files).
#include <string>
#include <vector>

#include "link/adapter_doctor.h"

namespace doctor_text {

// "a::b:" -> {"a", "b"}: the non-empty parts between colons.
std::vector<std::string> SplitColons(const std::string &text);
// The text without the line ends, blanks and NULs at its end.
std::string Trimmed(std::string text);

// One line of the group database: "name:password:gid:member,member".
struct RGroup {
    std::string mName;
    RGroupId mGid = 0;
    std::vector<std::string> mMembers;
};
// The groups of a group database's text; lines without a name or a numeric
// id (at most 9 digits) are skipped.
std::vector<RGroup> ParseGroups(const std::string &text);
const RGroup *GroupById(const std::vector<RGroup> &groups, RGroupId gid);

// What the doctor asks of a device's udev record.
struct RUdevRecord {
    bool mRead = false;        // there was a record
    bool mUaccess = false;     // tagged for the logged-in user's access
    bool mModemIgnored = false; // the modem manager is told to leave it alone
};
RUdevRecord ParseUdevRecord(const std::string &text);

} // namespace doctor_text
