// The command set's exchanges, bounds and result rules against a scripted peer.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "model/crc16.h"
#include "link/tamsel_comms.h"
#include "link/wire.h"
#include "support/pty_peer.h"

namespace {
const Bytes kAck = Hex("B5 B7 C1");
const Bytes kNak = Hex("B6 B6 81");

struct Link {
    PtyPeer peer;
    TComTamsel tamsel;
    std::vector<std::string> lines;
    Link()
    {
        tamsel.OnTamselEvent = [this](TComTamsel *, TDateTime, const std::string &s) { lines.push_back(s); };
        tamsel.SetPortDevice(1, peer.Path());
        tamsel.ComOpen(1);
    }
};

Bytes Block(uint8_t seed, bool goodCrc = true)
{
    Bytes b(64);
    for (int i = 0; i < 62; ++i)
        b[i] = static_cast<uint8_t>(seed + i);
    uint16_t crc = CRC16(b.data(), 62);
    if (!goodCrc)
        crc ^= 0x0101;
    b[62] = static_cast<uint8_t>(crc & 0xFF); // the block's CRC word is little-endian
    b[63] = static_cast<uint8_t>(crc >> 8);
    return b;
}
Bytes Slice(const Bytes &b, size_t from, size_t n) { return Bytes(b.begin() + from, b.begin() + from + n); }
} // namespace

TEST(Commands, IdentityFillsExactlyEighteenBytes)
{
    Link link;
    Bytes id = Hex("02 05 0E 01 00 33 E1 01");
    for (char c : std::string("NV00012345"))
        id.push_back(static_cast<uint8_t>(c));
    link.peer.Then(3, WithCrc(id));
    RTamselIdenty rec;
    std::memset(static_cast<void *>(&rec), 0x11, sizeof rec);
    EXPECT_EQ(link.tamsel.RequireIdenty(rec), 0);
    EXPECT_EQ(0, std::memcmp(&rec, id.data(), 18));
    EXPECT_EQ(link.peer.Received(), Hex("A0 78 00"));

    Link refused;
    refused.peer.Then(3, kNak);
    RTamselIdenty untouched;
    std::memset(static_cast<void *>(&untouched), 0x11, sizeof untouched);
    EXPECT_EQ(refused.tamsel.RequireIdenty(untouched), wire::kStatusNak);
    const Bytes ones(18, 0x11);
    EXPECT_EQ(0, std::memcmp(&untouched, ones.data(), 18));
}

TEST(Commands, BlockReadsCheckTheBlockCrc)
{
    for (bool good : {true, false}) {
        Link link;
        const Bytes block = Block(7, good);
        link.peer.Then(3, kAck);
        link.peer.Then(3, WithCrc(Slice(block, 0, 32)));
        link.peer.Then(3, WithCrc(Slice(block, 32, 32)));
        RTamselUnitCFG unit{};
        EXPECT_EQ(link.tamsel.ReadUnitCFGData(unit, 32, 64), good ? wire::kStatusOk : wire::kStatusBadBlock);
        EXPECT_EQ(0, std::memcmp(&unit, block.data(), 64)); // filled in both cases
        EXPECT_EQ(link.peer.Received(), Hex("5F 38 40 81 60 C0 81 60 C0"));
    }
    { // a failing packet leaves the record untouched
        Link link;
        link.peer.Then(3, kAck);
        link.peer.Then(3, kNak);
        RTamselSensorCFG sensor;
        std::memset(static_cast<void *>(&sensor), 0x22, sizeof sensor);
        EXPECT_EQ(link.tamsel.ReadSensorCFGData(sensor, 32, 64), wire::kStatusNak);
        EXPECT_EQ(reinterpret_cast<uint8_t *>(&sensor)[0], 0x22);
        EXPECT_EQ(link.peer.Received(), Hex("50 3C 00 81 60 C0"));
    }
    { // settings that cannot bring 64 bytes are refused rather than half-read
        Link link;
        link.peer.Then(3, kAck);
        link.peer.Then(3, WithCrc(Bytes(32, 0x33)));
        RTamselUnitCFG unit;
        std::memset(static_cast<void *>(&unit), 0x44, sizeof unit);
        EXPECT_EQ(link.tamsel.ReadUnitCFGData(unit, 32, 40), wire::kStatusBadBlock);
        EXPECT_EQ(reinterpret_cast<uint8_t *>(&unit)[0], 0x44);
    }
}

TEST(Commands, WriteRangeSendsFourFramesAndReportsAtTheEnd)
{
    RComTamselReadBuf image;
    image.mData = 128;
    for (int i = 0; i < 128; ++i)
        image.mBuf[i] = static_cast<uint8_t>(i);
    {
        Link link;
        for (int i = 0; i < 4; ++i)
            link.peer.Then(i == 1 ? 6 : (i == 3 ? 10 : 3), kAck);
        EXPECT_EQ(link.tamsel.WriteCFGData(image, 0, 8), 0);
        Bytes expect = Hex("70 E4 01 08 00 00 00 60 02 91 AC C1");
        const Bytes data = WithCrc(Bytes(image.mBuf, image.mBuf + 8));
        expect.insert(expect.end(), data.begin(), data.end());
        EXPECT_EQ(link.peer.Received(), expect);
        ASSERT_EQ(link.lines.size(), 8u);
        EXPECT_EQ(link.lines[0], "[SEND] 70 E4 01 ");
        EXPECT_EQ(link.lines[2], "[SEND] 08 00 00 00 60 02 ");
        EXPECT_EQ(link.lines[7], "[READ] ACK:B5 B7 C1 ");
    }
    { // a NAK on the data opcode: no data frame, three pairs reported
        Link link;
        link.peer.Then(3, kAck);
        link.peer.Then(6, kAck);
        link.peer.Then(3, kNak);
        EXPECT_EQ(link.tamsel.WriteCFGData(image, 64, 10), wire::kStatusNak);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(link.peer.Received().size(), 12u);
        EXPECT_EQ(link.lines.size(), 6u);
    }
    { // a range past the record's end is refused before anything goes out
        Link link;
        EXPECT_EQ(link.tamsel.WriteCFGData(image, 120, 10), wire::kStatusBadBlock);
        EXPECT_EQ(link.tamsel.WriteCFGData(image, 200, 8), wire::kStatusBadBlock);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_TRUE(link.peer.Received().empty());
    }
}

TEST(Commands, LifeWriteIsLowByteFirst)
{
    Link link;
    link.peer.Then(3, kAck);
    link.peer.Then(6, kAck);
    EXPECT_EQ(link.tamsel.WriteCFGTimeData(0x12345678), 0);
    Bytes expect = Hex("71 24 C0");
    const Bytes frame = WithCrc(Hex("78 56 34 12"));
    expect.insert(expect.end(), frame.begin(), frame.end());
    EXPECT_EQ(link.peer.Received(), expect);
    EXPECT_EQ(link.lines.size(), 4u);
}

TEST(Commands, EventLogLengthRules)
{
    const auto lengthReply = [](int32_t n) {
        Bytes b(4);
        std::memcpy(b.data(), &n, 4);
        return WithCrc(b);
    };
    struct Case {
        int32_t total;
        int packets;
        int32_t mData;
    } cases[] = {{0, 0, 0}, {40, 2, 40}, {-1, 0, -1}, {64, 2, 64}, {60000, 32, 1024}};
    for (const Case &c : cases) {
        Link link;
        link.peer.Then(3, kAck);
        link.peer.Then(3, lengthReply(c.total));
        for (int i = 0; i < c.packets; ++i)
            link.peer.Then(3, WithCrc(Bytes(32, static_cast<uint8_t>(i))));
        RComTamselReadBuf buf;
        EXPECT_EQ(link.tamsel.LoadLog(buf, 32), 0) << c.total;
        EXPECT_EQ(buf.mData, c.mData) << c.total;
        EXPECT_EQ(link.peer.Received().size(), 6u + 3u * c.packets) << c.total;
    }
}

TEST(Commands, EepromReadCountsAndFill)
{
    struct Case {
        uint16_t packet, start, max;
        int packets;
        int32_t mData;
    } cases[] = {{32, 0, 1024, 31, 992}, {32, 0, 64, 1, 32}, {32, 0, 32768, 32, 1024}, {9, 16, 40, 4, 36}};
    for (const Case &c : cases) {
        Link link;
        link.peer.Then(3, kAck);
        link.peer.Then(6, kAck);
        for (int i = 0; i < c.packets; ++i)
            link.peer.Then(3, WithCrc(Bytes(c.packet, 0x5A)));
        RComTamselReadBuf buf;
        std::memset(buf.mBuf, 0, sizeof buf.mBuf);
        EXPECT_EQ(link.tamsel.ReadEEPROMData(buf, c.packet, c.start, c.max), 0) << c.max;
        EXPECT_EQ(buf.mData, c.mData) << c.max;
        const Bytes sent = link.peer.Received();
        ASSERT_GE(sent.size(), 9u);
        EXPECT_EQ(Slice(sent, 3, 4), Bytes({static_cast<uint8_t>(c.packet), 0, static_cast<uint8_t>(c.start >> 8),
                                            static_cast<uint8_t>(c.start)}));
        EXPECT_EQ(sent.size(), 9u + 3u * c.packets);
        for (int i = c.mData; i < std::min(c.mData + c.packet, 1024); ++i)
            EXPECT_EQ(buf.mBuf[i], 0xFF) << i;
    }
}

TEST(Commands, CalibrationAndFirmwareBlocks)
{
    {
        Link link; // the sensor block's select unanswered: the code is never sent
        EXPECT_EQ(link.tamsel.SensorCalibration(wire::kCalZeroSpan), wire::kStatusNoResponse);
        EXPECT_EQ(link.peer.Received(), Hex("50 3C 00"));
    }
    {
        Link link;
        link.peer.Then(3, kAck);
        link.peer.Then(3, kAck);
        EXPECT_EQ(link.tamsel.SensorCalibration(wire::kCalBumpPass), 0);
        EXPECT_EQ(link.peer.Received(), Hex("50 3C 00 46 F2 81"));
    }
    RComTamselReadBuf block;
    block.mData = 128;
    std::memset(block.mBuf, 0xA5, 128);
    {
        Link link; // an acknowledged block leaves no traffic lines
        link.peer.Then(3, kAck);
        link.peer.Then(130, kAck);
        EXPECT_EQ(link.tamsel.UpgradeData(wire::kPointerRepeat, block), 0);
        EXPECT_EQ(Slice(link.peer.Received(), 0, 3), Hex("93 6D 40"));
        EXPECT_TRUE(link.lines.empty());
    }
    {
        Link link; // a refused block reports the command pair and the data reply
        link.peer.Then(3, kAck);
        link.peer.Then(130, kNak);
        EXPECT_EQ(link.tamsel.UpgradeData(wire::kPointerFirst, block), wire::kStatusNak);
        EXPECT_EQ(link.lines, (std::vector<std::string>{"[SEND] 91 AC C1 ", "[READ] ACK:B5 B7 C1 ",
                                                        "[READ] NAK:B6 B6 81 "}));
    }
    {
        Link link; // readings copy six bytes
        link.peer.Then(3, WithCrc(Hex("96 00 00 01 01 00")));
        RTamselSensor reading{};
        EXPECT_EQ(link.tamsel.RequireSensor(reading, wire::kReadBattery), 0);
        EXPECT_EQ(link.peer.Received(), Hex("22 19 80"));
        EXPECT_EQ(reinterpret_cast<uint8_t *>(&reading)[0], 0x96);
    }
}
