// The adapter doctor and the port listing over fake machines.
#include <gtest/gtest.h>

#include <functional>

#include "link/adapter_doctor.h"
#include "link/doctor_text.h"
#include "support/fake_machine.h"

namespace {

// Somebody who is neither root nor the owner of the fake device nodes.
RDoctorUser Alice(const FakeMachine &m, bool inDialout)
{
    RDoctorUser u;
    u.mUid = m.nodeUid + 1000;
    u.mGid = 46000;
    u.mName = "alice";
    if (inDialout)
        u.mGroups = {46000, m.nodeGid};
    return u;
}

std::string Joined(const RDoctorReport &r)
{
    std::string text;
    for (const std::string &l : r.Lines())
        text += l + "\n";
    return text;
}

} // namespace

TEST(AdapterDoctor, Findings)
{
    struct Case {
        const char *name;
        bool adapter; // the usual adapter on ttyUSB0 is plugged in
        std::function<void(FakeMachine &)> setup;
        bool ok;
        std::vector<std::string> expected; // each somewhere in the output
        std::vector<std::string> absent = {};
    } cases[] = {
        {"all well", true, [](FakeMachine &) {}, true, {"all well: adapter 1 "}, {"problem:", "note:"}},
        {"nothing plugged in", false,
         [](FakeMachine &m) { m.AddUsb({.driver = "ftdi_sio", .vid = "0403", .pid = "6001"}); },
         false, {"problem: no CP210x adapter found -> plug in"}, {"ftdi_sio"}},
        {"bridge bound to another driver", false,
         [](FakeMachine &m) { m.AddUsb({.driver = "ftdi_sio"}); },
         false,
         {"USB device 1-1 (10C4:EA60, serial 0001) is a CP210x bridge but its interface 1-1:1.0 is bound to ftdi_sio",
          "/sys/bus/usb/drivers/ftdi_sio/unbind"},
         {"no CP210x adapter found"}},
        {"bridge bound to no driver", false,
         [](FakeMachine &m) { m.AddUsb({.driver = "", .pid = "ea70"}); },
         false, {"(10C4:EA70, serial 0001)", "is bound to no driver -> sudo modprobe cp210x"}},
        {"adapter without device node", true,
         [](FakeMachine &m) { m.AddUsb({.tty = "ttyUSB1", .usb = "1-2", .node = false}); },
         false, {"adapter 2 (ttyUSB1, 10C4:EA60, serial 0001) has no device node"}},
        {"busy", true,
         [](FakeMachine &m) {
             m.AddProcess("5000001", "bash", {"/dev/pts/1"});
             m.AddProcess("5000002", "minicom", {"/dev/null", (m.dev / "ttyUSB0").string()});
         },
         false, {"ttyUSB0 is held open by minicom (PID 5000002) -> close that program (or: kill 5000002)"}, {"bash"}},
        {"ModemManager without the rule", true,
         [](FakeMachine &m) {
             std::filesystem::remove(m.rules / kUdevRuleName);
             m.AddProcess("5000003", "ModemManager", {});
         },
         false, {"ModemManager (PID 5000003) is running", "60-beamport-cp210x.rules is not installed"}},
        {"ModemManager told by another rule", true,
         [](FakeMachine &m) {
             std::filesystem::remove(m.rules / kUdevRuleName);
             m.AddProcess("5000003", "ModemManager", {});
             m.AddUdevRecord("188:0", {"E:ID_MM_DEVICE_IGNORE=1", "G:uaccess"});
         },
         false, {"60-beamport-cp210x.rules is not installed"}, {"ModemManager"}},
        {"ModemManager with the rule", true,
         [](FakeMachine &m) { m.AddProcess("5000003", "ModemManager", {}); }, true, {"all well"}},
        {"rule missing", true, [](FakeMachine &m) { std::filesystem::remove(m.rules / kUdevRuleName); },
         false, {"problem: the udev rule 60-beamport-cp210x.rules is not installed", "udevadm control --reload"}},
        {"partial process scan", true, [](FakeMachine &m) { m.AddHiddenProcess("5000004"); },
         true, {"note: the open files of 1 process(es) of other users could not be read", "all well"}},
        {"no process list", true, [](FakeMachine &m) { std::filesystem::remove_all(m.proc); },
         true, {"note: the processes under ", "could not be listed", "all well"}},
        {"no device tree", true, [](FakeMachine &m) { std::filesystem::remove_all(m.sys / "class"); },
         false, {"/class/tty is missing"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeMachine m;
        m.InstallRule();
        if (c.adapter)
            m.AddUsb({.tty = "ttyUSB0", .usb = "1-3"});
        c.setup(m);
        const RDoctorReport report = RunDoctor(m.Roots(), Alice(m, true));
        const std::string text = Joined(report);
        EXPECT_EQ(report.Ok(), c.ok) << text;
        for (const std::string &e : c.expected)
            EXPECT_NE(text.find(e), std::string::npos) << e << "\n" << text;
        for (const std::string &e : c.absent)
            EXPECT_EQ(text.find(e), std::string::npos) << e << "\n" << text;
    }
}

TEST(AdapterDoctor, Permission)
{
    struct Case {
        const char *name;
        mode_t mode;
        bool inSession;
        std::vector<std::string> listed; // members of dialout in the group database
        std::vector<std::string> udev;   // the device's udev record, none when empty
        std::vector<std::string> expected;
        std::vector<std::string> absent = {};
    } cases[] = {
        {"not in the group", 0660, false, {"bob"}, {},
         {"(-rw-rw----, group dialout) cannot be read and written by alice: alice is not in group dialout -> "
          "sudo usermod -aG dialout $USER, then log out and in"},
         {"uaccess"}},
        {"added but not logged in again", 0660, false, {"bob", "alice"}, {},
         {"alice is in group dialout in", "but this login session started before that -> log out and in again"}},
        {"group may not use it", 0600, true, {"alice"}, {}, {"group dialout may not read and write it -> sudo install"}},
        {"only the owner", 0600, false, {}, {}, {"only its owner may use it"}},
        {"uaccess tag missing", 0660, false, {}, {"E:ID_MM_DEVICE_IGNORE=1"},
         {"is not in group dialout", "the udev uaccess tag is not applied"}},
        {"uaccess tag present", 0660, false, {}, {"G:uaccess", "Q:uaccess"}, {"is not in group dialout"}, {"uaccess"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeMachine m;
        m.InstallRule();
        m.WriteGroups(c.listed);
        m.AddUsb({.mode = c.mode});
        if (!c.udev.empty())
            m.AddUdevRecord("188:0", c.udev);
        const RDoctorReport report = RunDoctor(m.Roots(), Alice(m, c.inSession));
        const std::string text = Joined(report);
        EXPECT_FALSE(report.Ok()) << text;
        for (const std::string &e : c.expected)
            EXPECT_NE(text.find(e), std::string::npos) << e << "\n" << text;
        for (const std::string &e : c.absent)
            EXPECT_EQ(text.find(e), std::string::npos) << e << "\n" << text;
    }
}

TEST(AdapterDoctor, ModeBits)
{
    // The owner's bits alone count for the owner, the group's for a member.
    struct Case {
        mode_t mode;
        uid_t uid;
        std::vector<gid_t> groups;
        bool allowed;
    } cases[] = {
        {0000, 0, {}, true},           // root
        {0600, 7, {}, true},           // owner
        {0060, 7, {20}, false},        // owner without owner bits, although in the group
        {0460, 7, {}, false},          // owner may only read
        {0060, 8, {20}, true},         // member
        {0040, 8, {20}, false},
        {0066, 8, {21}, true},         // other
        {0660, 8, {21}, false},
    };
    for (const Case &c : cases) {
        RDoctorUser u;
        u.mUid = c.uid;
        u.mGid = 99;
        u.mGroups = c.groups;
        EXPECT_EQ(ModeAllowsReadWrite(c.mode, 7, 20, u), c.allowed) << std::oct << c.mode << " uid " << c.uid;
    }
}

TEST(AdapterDoctor, GivenDeviceIsCheckedInsteadOfDiscovery)
{
    FakeMachine m;
    m.InstallRule();
    const std::string node = m.AddUsb({.driver = "cp210x", .mode = 0600});
    RDoctorReport report = RunDoctor(m.Roots(), Alice(m, true), node);
    EXPECT_FALSE(report.Ok());
    EXPECT_NE(Joined(report).find("note: discovery skipped: --port or BEAMPORT_PORT gives " + node), std::string::npos);
    EXPECT_NE(Joined(report).find("cannot be read and written by alice"), std::string::npos) << Joined(report);

    report = RunDoctor(m.Roots(), Alice(m, true), (m.dev / "ttyUSB9").string());
    EXPECT_NE(Joined(report).find("ttyUSB9 does not exist"), std::string::npos) << Joined(report);

    std::filesystem::permissions(node, std::filesystem::perms(0660));
    report = RunDoctor(m.Roots(), Alice(m, true), node);
    EXPECT_TRUE(report.Ok()) << Joined(report);
    EXPECT_EQ(report.Lines().back(), "all well: " + node + " ready");
}

TEST(AdapterDoctor, PortListing)
{
    FakeMachine m;
    EXPECT_EQ([&] {
        std::vector<RPortEntry> ports;
        return ListPorts(m.Roots(), ports);
    }(), 255);

    m.AddUsb({.tty = "ttyUSB10", .usb = "1-2", .serial = "B 2", .devNumber = "188:10"});
    m.AddUsb({.tty = "ttyUSB2", .usb = "1-1", .serial = std::nullopt, .devNumber = "188:2"});
    m.AddUsb({.tty = "ttyUSB3", .usb = "1-4", .node = false, .devNumber = "188:3"});
    m.AddUsb({.tty = "ttyUSB0", .usb = "1-5", .driver = "ftdi_sio", .vid = "0403", .pid = "6001"});
    std::vector<RPortEntry> ports;
    ASSERT_EQ(ListPorts(m.Roots(), ports), 0);
    ASSERT_EQ(ports.size(), 3u);
    const std::string d = m.dev.string();
    EXPECT_EQ(FormatPort(ports[0]),
              "1  " + d + "/ttyUSB2  " + d + "/serial/by-id/usb-Bridge_-if00-port0  10C4:EA60  (no serial)  driver cp210x");
    EXPECT_EQ(FormatPort(ports[1]), "2  ttyUSB3 (no device node)  (no by-id link)  10C4:EA60  serial 0001  driver cp210x");
    EXPECT_EQ(FormatPort(ports[2]),
              "3  " + d + "/ttyUSB10  " + d + "/serial/by-id/usb-Bridge_B 2-if00-port0  10C4:EA60  serial B_2  driver cp210x");
}

// The group database as the doctor reads it: a line it cannot trust is skipped, never half-read.
TEST(DoctorTextTest, GroupLinesWithoutANameOrANumericIdAreSkipped)
{
    using doctor_text::ParseGroups;
    const std::vector<doctor_text::RGroup> groups = ParseGroups("dialout:x:20:alice, bob ,\n"
                                                                ":x:21:carol\n"          // no name
                                                                "plugdev:x::dave\n"      // no id
                                                                "video:x:4e:erin\n"      // id not a number
                                                                "huge:x:1234567890:f\n"  // id of ten digits
                                                                "short:x\n"              // too few fields
                                                                "uucp:x:10\n"            // no member list
                                                                "last:x:30:gina");       // no final line end
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0].mName, "dialout");
    EXPECT_EQ(groups[0].mMembers, (std::vector<std::string>{"alice", " bob"}));
    EXPECT_EQ(groups[1].mName, "uucp");
    EXPECT_TRUE(groups[1].mMembers.empty());
    EXPECT_EQ(doctor_text::GroupById(groups, 30)->mName, "last");
    EXPECT_EQ(doctor_text::GroupById(groups, 21), nullptr);
}
