// The names Windows gives a USB bridge and its port, read as discovery reads
// them there: device instance IDs and COM port names.
#include <gtest/gtest.h>

#include "link/usb_id.h"

TEST(UsbId, InstanceIdsGiveTheIdsAndTheSerial)
{
    struct Case {
        const char *id;
        bool ok;
        uint16_t vid, pid;
        const char *serial;
    };
    const Case cases[] = {
        {"USB\\VID_10C4&PID_EA60\\0001", true, 0x10C4, 0xEA60, "0001"},
        {"usb\\vid_10c4&pid_ea60\\ab12", true, 0x10C4, 0xEA60, "ab12"},
        // An interface of a composite bridge: its last part is no serial number of the device.
        {"USB\\VID_10C4&PID_EA70&MI_01\\6&2A3B4C5D&0&0001", true, 0x10C4, 0xEA70, "6&2A3B4C5D&0&0001"},
        {"USB\\VID_10C4&PID_EA60", true, 0x10C4, 0xEA60, ""},
        {"USB\\VID_10C&PID_EA60\\1", false, 0, 0, ""},     // three digits
        {"USB\\VID_10C4X&PID_EA60\\1", false, 0, 0, ""},   // five characters
        {"USB\\VID_10C4&PID_EAG0\\1", false, 0, 0, ""},    // not hexadecimal
        {"USB\\ROOT_HUB30\\4&1B2C3D&0&0", false, 0, 0, ""}, // no IDs at all
        {"", false, 0, 0, ""},
    };
    for (const Case &c : cases) {
        uint16_t vid = 0, pid = 0;
        std::string serial = "unchanged";
        ASSERT_EQ(ParseInstanceId(c.id, vid, pid, serial), c.ok) << c.id;
        if (!c.ok)
            continue;
        EXPECT_EQ(vid, c.vid) << c.id;
        EXPECT_EQ(pid, c.pid) << c.id;
        EXPECT_EQ(serial, c.serial) << c.id;
    }
}

TEST(UsbId, ComPortNamesGiveTheirNumber)
{
    const std::pair<const char *, int> cases[] = {
        {"COM1", 1}, {"com5", 5}, {"Com12", 12}, {"COM255", 255}, {"COM256", 0}, {"COM0", 0}, {"COM05", 0},
        {"COM", 0},  {"COMX", 0}, {"LPT1", 0},   {"COM1 ", 0},    {"", 0},       {"COM1000", 0},
    };
    for (const auto &[name, number] : cases)
        EXPECT_EQ(ComPortNumber(name), number) << name;
}

TEST(UsbId, OnlyTheBridgesOfTheAdapterVendorAreAdapters)
{
    for (const uint16_t pid : {0xEA60, 0xEA61, 0xEA63, 0xEA70, 0xEA71, 0xEA7A, 0xEA7B})
        EXPECT_TRUE(IsBridgeId(0x10C4, pid)) << pid;
    EXPECT_FALSE(IsBridgeId(0x10C4, 0xEA80)); // a HID bridge, no serial port
    EXPECT_FALSE(IsBridgeId(0x0403, 0xEA60)); // another vendor
}
