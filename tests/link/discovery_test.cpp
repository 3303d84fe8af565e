// Adapter discovery over fake sysfs trees built in a temp folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <unistd.h>

#include "link/discovery.h"
#include "link/tamsel_comms.h"
#include "support/pty_peer.h"

namespace fs = std::filesystem;

namespace {

void WriteFile(const fs::path &p, const std::string &text)
{
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

// A sysfs tree laid out as the kernel does it for USB serial ports:
//   class/tty/<tty> -> devices/.../<usb>/<usb>:1.0/<tty>/tty/<tty>
//   .../<tty>/tty/<tty>/device -> the port folder; its parent is the interface
//   interface/driver -> bus/usb/drivers/<driver>; usb/idVendor, idProduct, serial
class FakeSysfs {
public:
    FakeSysfs()
    {
        char tmpl[] = "/tmp/discoveryXXXXXX";
        root = ::mkdtemp(tmpl);
        sys = root / "sys";
        dev = root / "dev";
        fs::create_directories(sys / "class" / "tty");
        fs::create_directories(dev);
    }
    ~FakeSysfs()
    {
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    struct Usb {
        std::string tty = "ttyUSB0";
        std::string usb = "1-1";
        std::string driver = "cp210x";
        std::optional<std::string> vid = "10c4\n";
        std::optional<std::string> pid = "ea60\n";
        std::optional<std::string> serial = "0001\n";
        bool node = true;
        bool portFolder = true; // tty device is a port below the interface (else the interface itself)
    };

    // Returns the USB device folder.
    fs::path Add(const Usb &u)
    {
        const fs::path usb = sys / "devices" / "pci0000:00" / "usb1" / u.usb;
        const fs::path iface = usb / (u.usb + ":1.0");
        fs::create_directories(iface);
        if (u.vid)
            WriteFile(usb / "idVendor", *u.vid);
        if (u.pid)
            WriteFile(usb / "idProduct", *u.pid);
        if (u.serial)
            WriteFile(usb / "serial", *u.serial);
        WriteFile(iface / "bInterfaceNumber", "00\n");
        const fs::path drv = sys / "bus" / "usb" / "drivers" / u.driver;
        fs::create_directories(drv);
        fs::create_directory_symlink(fs::relative(drv, iface), iface / "driver");
        fs::path deviceFolder = iface;
        if (u.portFolder) {
            deviceFolder = iface / u.tty;
            const fs::path sdrv = sys / "bus" / "usb-serial" / "drivers" / u.driver;
            fs::create_directories(sdrv);
            fs::create_directories(deviceFolder);
            fs::create_directory_symlink(fs::relative(sdrv, deviceFolder), deviceFolder / "driver");
        }
        const fs::path ttyFolder = deviceFolder / "tty" / u.tty;
        fs::create_directories(ttyFolder);
        fs::create_directory_symlink(fs::relative(deviceFolder, ttyFolder), ttyFolder / "device");
        fs::create_directory_symlink(fs::relative(ttyFolder, sys / "class" / "tty"), sys / "class" / "tty" / u.tty);
        if (u.node)
            WriteFile(dev / u.tty, "");
        return usb;
    }

    // A virtual terminal (no device) and an on-board UART (no USB interface).
    void AddOtherTtys()
    {
        fs::create_directories(sys / "devices" / "virtual" / "tty" / "tty0");
        fs::create_directory_symlink("../../devices/virtual/tty/tty0", sys / "class" / "tty" / "tty0");
        const fs::path uart = sys / "devices" / "platform" / "serial8250";
        const fs::path t = uart / "tty" / "ttyS0";
        fs::create_directories(t);
        fs::create_directory_symlink(fs::relative(uart, t), t / "device");
        fs::create_directory_symlink(fs::relative(t, sys / "class" / "tty"), sys / "class" / "tty" / "ttyS0");
        WriteFile(dev / "ttyS0", "");
        WriteFile(dev / "tty0", "");
    }

    fs::path root, sys, dev;
};

// Points discovery at a fake tree and clears any bypass for the test.
class DiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Save("BEAMPORT_SYSFS_ROOT");
        Save("BEAMPORT_DEV_ROOT");
        Save("BEAMPORT_PORT");
        ::setenv("BEAMPORT_SYSFS_ROOT", fake.sys.c_str(), 1);
        ::setenv("BEAMPORT_DEV_ROOT", fake.dev.c_str(), 1);
        ::unsetenv("BEAMPORT_PORT");
    }
    void TearDown() override
    {
        for (auto &[name, value] : saved) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }
    void Save(const std::string &name)
    {
        const char *v = std::getenv(name.c_str());
        saved.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
    }
    uint8_t Find(int32_t defPort, int32_t &port) { return FindAdapterPort(link, defPort, port); }

    FakeSysfs fake;
    TComTamsel link;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
};

} // namespace

TEST(AdapterInstanceTest, IdsAreFourUpperCaseHexDigits)
{
    struct Case {
        uint16_t vid, pid;
        std::string serial, plain;
    } cases[] = {
        {0x10C4, 0xEA60, "0001", "VID_10C4&PID_EA60\\0001"},
        {0x10C4, 0x00A5, "AB_12", "VID_10C4&PID_00A5\\AB_12"},
        {0x0001, 0xabcd, "", "VID_0001&PID_ABCD\\"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(AdapterInstance(c.vid, c.pid, c.serial), c.plain);
}

TEST_F(DiscoveryTest, OneAdapterAmongOtherTtys)
{
    fake.AddOtherTtys();
    fake.Add({.tty = "ttyUSB0", .vid = "10c4\n", .pid = "a5\n", .serial = "AB 12\n"});

    std::vector<RAdapterInfo> list;
    ASSERT_EQ(ListAdapters(list), 0);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].mTty, "ttyUSB0");
    EXPECT_EQ(list[0].mVid, 0x10C4);
    EXPECT_EQ(list[0].mPid, 0x00A5);
    EXPECT_EQ(list[0].mSerial, "AB_12");
    EXPECT_EQ(list[0].mInstance, "VID_10C4&PID_00A5\\AB_12");
    EXPECT_EQ(list[0].mDevice, (fake.dev / "ttyUSB0").string());
    EXPECT_EQ(list[0].mPort, 1);

    int32_t port = -1;
    EXPECT_EQ(Find(0, port), 0);
    EXPECT_EQ(port, 1);
    EXPECT_EQ(link.PortDevice(1), (fake.dev / "ttyUSB0").string());
}

TEST_F(DiscoveryTest, TtyBoundDirectlyToTheInterfaceIsFound)
{
    fake.Add({.tty = "ttyUSB3", .portFolder = false});
    int32_t port = -1;
    EXPECT_EQ(Find(0, port), 0);
    EXPECT_EQ(link.PortDevice(port), (fake.dev / "ttyUSB3").string());
}

TEST_F(DiscoveryTest, TwoAdapters)
{
    // Natural order of the tty names: ttyUSB2 is adapter 1, ttyUSB10 adapter 2.
    fake.Add({.tty = "ttyUSB10", .usb = "1-2", .serial = "B\n"});
    fake.Add({.tty = "ttyUSB2", .usb = "1-1", .serial = "A\n"});

    std::vector<RAdapterInfo> list;
    ASSERT_EQ(ListAdapters(list), 0);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].mTty, "ttyUSB2");
    EXPECT_EQ(list[0].mSerial, "A");
    EXPECT_EQ(list[1].mTty, "ttyUSB10");
    EXPECT_EQ(list[1].mPort, 2);

    struct Case {
        int32_t defPort;
        uint8_t code;
        int32_t port;
        const char *tty;
    } cases[] = {
        {0, 254, 0, nullptr},         // several, no preferred port
        {-1, 254, 0, nullptr},
        {2, 0, 2, "ttyUSB10"},        // the preferred one
        {1, 0, 1, "ttyUSB2"},
        {7, 0, 1, "ttyUSB2"},         // preferred port not among them: the first adapter
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.defPort);
        int32_t port = -1;
        EXPECT_EQ(Find(c.defPort, port), c.code);
        EXPECT_EQ(port, c.port);
        if (c.tty) {
            EXPECT_EQ(link.PortDevice(port), (fake.dev / c.tty).string());
        }
    }
}

TEST_F(DiscoveryTest, NoAdapter)
{
    fake.AddOtherTtys();
    fake.Add({.tty = "ttyUSB0", .driver = "ftdi_sio", .vid = "0403\n", .pid = "6001\n"});
    fake.Add({.tty = "ttyACM0", .usb = "1-3", .driver = "cdc_acm", .portFolder = false});

    std::vector<RAdapterInfo> list;
    EXPECT_EQ(ListAdapters(list), 255);
    EXPECT_TRUE(list.empty());
    int32_t port = -1;
    EXPECT_EQ(Find(0, port), 255);
    EXPECT_EQ(port, 0);
}

TEST_F(DiscoveryTest, OtherUsbSerialIsIgnoredBesideTheAdapter)
{
    fake.Add({.tty = "ttyUSB0", .usb = "1-1", .driver = "ftdi_sio", .vid = "0403\n", .pid = "6001\n"});
    fake.Add({.tty = "ttyUSB1", .usb = "1-2"});
    std::vector<RAdapterInfo> list;
    ASSERT_EQ(ListAdapters(list), 0);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].mTty, "ttyUSB1");
    int32_t port = -1;
    EXPECT_EQ(Find(0, port), 0);
    EXPECT_EQ(link.PortDevice(port), (fake.dev / "ttyUSB1").string());
}

TEST_F(DiscoveryTest, NoDeviceTree)
{
    fs::remove_all(fake.sys / "class");
    std::vector<RAdapterInfo> list;
    EXPECT_EQ(ListAdapters(list), 253);
    int32_t port = -1;
    EXPECT_EQ(Find(0, port), 253);
    EXPECT_EQ(port, 0);
}

TEST_F(DiscoveryTest, AdapterWithoutDeviceNode)
{
    fake.Add({.tty = "ttyUSB0", .node = false});
    std::vector<RAdapterInfo> list;
    ASSERT_EQ(ListAdapters(list), 0);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].mDevice, "");
    EXPECT_EQ(list[0].mPort, 0);

    // Found, but its port number is 0: the open that follows fails.
    int32_t port = -1;
    EXPECT_EQ(Find(0, port), 0);
    EXPECT_EQ(port, 0);
    try {
        link.OpenUSB(0.1f);
        ADD_FAILURE() << "opened " << link.Port().DeviceName();
    } catch (const ECommError &e) {
        EXPECT_EQ(e.Message, "Error accessing specified device");
        EXPECT_EQ(e.ErrorCode, ENODEV);
    }
    EXPECT_FALSE(link.Port().Enabled());
}

TEST_F(DiscoveryTest, UnreadableAttributes)
{
    struct Case {
        const char *name;
        const char *attribute; // replaced by a folder: open succeeds, read fails
        std::optional<std::string> vid, pid, serial;
        uint8_t code;
        std::string serialRead;
    } cases[] = {
        {"vendor unreadable", "idVendor", "10c4\n", "ea60\n", "1\n", 3, ""},
        {"product unreadable", "idProduct", "10c4\n", "ea60\n", "1\n", 3, ""},
        {"serial unreadable", "serial", "10c4\n", "ea60\n", "1\n", 3, ""},
        {"vendor missing", nullptr, std::nullopt, "ea60\n", "1\n", 3, ""},
        {"vendor not hex", nullptr, "10g4\n", "ea60\n", "1\n", 3, ""},
        {"product too long", nullptr, "10c4\n", "1ea60\n", "1\n", 3, ""},
        {"product empty", nullptr, "10c4\n", "\n", "1\n", 3, ""},
        {"serial missing", nullptr, "10c4\n", "ea60\n", std::nullopt, 0, ""},
        {"serial with blanks", nullptr, "10c4\n", "ea60\n", " A B \n", 0, "_A_B_"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeSysfs tree;
        ::setenv("BEAMPORT_SYSFS_ROOT", tree.sys.c_str(), 1);
        ::setenv("BEAMPORT_DEV_ROOT", tree.dev.c_str(), 1);
        const fs::path usb = tree.Add({.vid = c.vid, .pid = c.pid, .serial = c.serial});
        if (c.attribute) {
            fs::remove(usb / c.attribute);
            fs::create_directory(usb / c.attribute);
        }
        std::vector<RAdapterInfo> list;
        EXPECT_EQ(ListAdapters(list), c.code);
        int32_t port = -1;
        EXPECT_EQ(Find(0, port), c.code);
        if (c.code == 0) {
            ASSERT_EQ(list.size(), 1u);
            EXPECT_EQ(list[0].mSerial, c.serialRead);
            EXPECT_EQ(port, 1);
        } else {
            EXPECT_EQ(port, 0);
        }
    }
}

TEST_F(DiscoveryTest, SeveralAdaptersAreCountedBeforeAnyIsRead)
{
    // With two adapters and no preferred port the verdict is 254 even when an
    // adapter could not be read.
    const fs::path usb = fake.Add({.tty = "ttyUSB0", .usb = "1-1"});
    fake.Add({.tty = "ttyUSB1", .usb = "1-2"});
    fs::remove(usb / "idVendor");
    int32_t port = -1;
    EXPECT_EQ(Find(0, port), 254);
    EXPECT_EQ(Find(2, port), 3);
    EXPECT_EQ(port, 0);
}

TEST_F(DiscoveryTest, PortBypass)
{
    fake.Add({.tty = "ttyUSB0", .usb = "1-1"});
    fake.Add({.tty = "ttyUSB1", .usb = "1-2"});
    int32_t port = -1;

    ::setenv("BEAMPORT_PORT", "/dev/from-env", 1);
    EXPECT_EQ(PortFromEnvironment(), "/dev/from-env");
    EXPECT_EQ(Find(0, port), 254); // the environment is read once, by the program, into the choice
    link.SetPortChoice(PortFromEnvironment());
    EXPECT_EQ(Find(0, port), 0);
    EXPECT_EQ(port, 1);
    EXPECT_EQ(link.PortDevice(1), "/dev/from-env");

    link.SetPortChoice("/dev/from-option");
    EXPECT_EQ(Find(0, port), 0);
    EXPECT_EQ(link.PortDevice(port), "/dev/from-option");

    link.SetPortChoice("");
    ::unsetenv("BEAMPORT_PORT");
    EXPECT_EQ(PortFromEnvironment(), "");
    EXPECT_EQ(Find(0, port), 254);
}

TEST_F(DiscoveryTest, OpenUsbConnectsThroughTheBypass)
{
    PtyPeer peer;
    peer.Then(3, Hex("B5 B7 C1"));
    link.SetPortChoice(peer.Path());
    EXPECT_EQ(link.OpenUSB(2.0f), 0);
    EXPECT_TRUE(link.Port().Enabled());
    link.ComClose();
}
