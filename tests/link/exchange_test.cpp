// The frame engine and the connection handshake against a scripted peer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>
#include <unistd.h>

#include "model/crc16.h"
#include "link/tamsel_comms.h"
#include "link/wire.h"
#include "support/pty_peer.h"

namespace {
struct Line {
    TDateTime when;
    std::string text;
};

struct Link {
    PtyPeer peer;
    TComTamsel tamsel;
    std::vector<Line> lines;

    explicit Link(bool log = true)
    {
        if (log)
            tamsel.OnTamselEvent = [this](TComTamsel *, TDateTime t, const std::string &s) { lines.push_back({t, s}); };
        tamsel.SetPortDevice(1, peer.Path());
        tamsel.ComOpen(1);
    }
    std::vector<std::string> Texts() const
    {
        std::vector<std::string> out;
        for (const auto &l : lines)
            out.push_back(l.text);
        return out;
    }
};

double Seconds(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}
} // namespace

TEST(Crc16, CheckValues)
{
    const auto crcOf = [](const std::string &s) {
        return CRC16(reinterpret_cast<const uint8_t *>(s.data()), static_cast<int>(s.size()));
    };
    EXPECT_EQ(crcOf(""), 0);
    EXPECT_EQ(CRC16(nullptr, -4), 0);
    EXPECT_EQ(crcOf("123456789"), 0xBB3D);
    EXPECT_EQ(crcOf("abc"), 0x9738);
    const uint8_t ack = 0xB5;
    EXPECT_EQ(CRC16(&ack, 1), 0xB7C1);
    EXPECT_EQ(CRC16Step(0, 0xB5), 0xB7C1);
    // Every fixed frame of the command set carries the right CRC.
    for (const char *frame : {"10 CC 01", "11 0C C0", "12 0D 80", "13 CD 41", "14 0F 00", "17 0E 40", "20 D8 01",
                              "21 18 C0", "22 19 80", "30 14 00", "31 D4 C1", "32 D5 81", "34 D7 01", "40 F0 01",
                              "46 F2 81", "50 3C 00", "5F 38 40", "60 28 00", "70 E4 01", "71 24 C0", "81 60 C0",
                              "91 AC C1", "93 6D 40", "A0 78 00", "A1 B8 C1", "B2 75 80", "B3 B5 41", "B6 B6 81"}) {
        const Bytes b = Hex(frame);
        EXPECT_EQ(CRC16(b.data(), 1), b[1] << 8 | b[2]) << frame;
    }
}

TEST(Exchange, ShortRepliesAreJudgedByTheirCode)
{
    struct Case {
        const char *reply;
        uint8_t status;
        const char *line;
    } cases[] = {
        {"B5 B7 C1", wire::kStatusOk, "[READ] ACK:B5 B7 C1 "},
        {"B5 B7 00", wire::kStatusOk, "[READ] WRONGACK:B5 B7 00 "},
        {"B2 75 80", wire::kStatusNoResponse, "[READ] NORESPONSE:B2 75 80 "},
        {"00 00 00", wire::kStatusNoResponse, "[READ] NORESPONSE:00 00 00 "},
        {"A1 B8 C1", wire::kStatusDeviceError, "[READ] ERROR:A1 B8 C1 "},
        {"B6 B6 81", wire::kStatusNak, "[READ] NAK:B6 B6 81 "},
        {"B6 B6 80", wire::kStatusCrcError, "[READ] CRCERROR:B6 B6 80 "},
    };
    for (const Case &c : cases) {
        Link link;
        link.peer.Then(3, Hex(c.reply));
        EXPECT_EQ(link.tamsel.SendCommand(0, wire::kOpWakeUp, 3, 0.5f), c.status) << c.reply;
        ASSERT_EQ(link.lines.size(), 2u) << c.reply;
        EXPECT_EQ(link.lines[0].text, "[SEND] B2 75 80 ");
        EXPECT_EQ(link.lines[1].text, c.line);
        EXPECT_LE(link.lines[0].when, link.lines[1].when);
    }
}

TEST(Exchange, DataRepliesAssembledJudgedAndBounded)
{
    Bytes data(32);
    for (int i = 0; i < 32; ++i)
        data[i] = static_cast<uint8_t>(0x40 + i);
    const Bytes reply = WithCrc(data);

    { // three pieces within the time-out are assembled
        Link link;
        link.peer.Script({{3, {Bytes(reply.begin(), reply.begin() + 10), Bytes(reply.begin() + 10, reply.begin() + 20),
                               Bytes(reply.begin() + 20, reply.end())},
                           15, false}});
        EXPECT_EQ(link.tamsel.SendCommand(0, wire::kOpNextPacket, 34, 0.5f), 0);
        EXPECT_EQ(link.tamsel.ReadBuf().mData, 34);
        EXPECT_EQ(0, std::memcmp(link.tamsel.ReadBuf().mBuf, reply.data(), 34));
        EXPECT_EQ(link.lines[1].text, "[READ] " + TComTamsel::HexBytes(reply.data(), 34));
    }
    { // one data byte changed
        Link link;
        Bytes bad = reply;
        bad[5] ^= 0x01;
        link.peer.Then(3, bad);
        EXPECT_EQ(link.tamsel.SendCommand(0, wire::kOpNextPacket, 34, 0.5f), wire::kStatusCrcError);
        EXPECT_EQ(link.lines[1].text.rfind("[READ] CRCERROR:40 41 ", 0), 0u);
    }
    { // two extra bytes: judged on the first 34, all 36 logged
        Link link;
        Bytes longer = reply;
        longer.push_back(0xEE);
        longer.push_back(0xEF);
        link.peer.Then(3, longer);
        EXPECT_EQ(link.tamsel.SendCommand(0, wire::kOpNextPacket, 34, 0.5f), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_GE(link.tamsel.ReadBuf().mData, 34);
        EXPECT_EQ(link.lines[1].text.substr(link.lines[1].text.size() - 6), "EE EF ");
    }
    { // a flood of garbage never overruns the receive buffer
        Link link;
        link.peer.Then(3, Bytes(3000, 0x55));
        EXPECT_EQ(link.tamsel.SendCommand(0, wire::kOpNextPacket, 246, 0.5f), wire::kStatusCrcError);
        EXPECT_LE(link.tamsel.ReadBuf().mData, 1024);
    }
    { // a truncated reply is no reply
        Link link;
        link.peer.Then(3, Bytes(reply.begin(), reply.begin() + 20));
        EXPECT_EQ(link.tamsel.SendCommand(0, wire::kOpNextPacket, 34, 0.2f), wire::kStatusNoResponse);
        EXPECT_EQ(link.tamsel.ReadBuf().mData, 20);
    }
    { // an impossible reply length is refused without touching the line
        Link link;
        EXPECT_EQ(link.tamsel.SendCommand(0, wire::kOpNextPacket, 1, 0.2f), wire::kStatusNoResponse);
        EXPECT_EQ(link.tamsel.SendCommand(0, wire::kOpNextPacket, 5000, 0.2f), wire::kStatusNoResponse);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_TRUE(link.peer.Received().empty());
    }
}

TEST(Exchange, ShortRefusalOfADataRequestIsNotSilence)
{
    struct Case {
        const char *reply;
        uint8_t status;
        const char *line;
    } cases[] = {
        {"B6 B6 81", wire::kStatusNak, "[READ] NAK:B6 B6 81 "},
        {"A1 B8 C1", wire::kStatusDeviceError, "[READ] ERROR:A1 B8 C1 "},
        {"B5 B7 C1", wire::kStatusNoResponse, "[READ] B5 B7 C1 "}, // an ACK is never a data reply
        {"00 00 00", wire::kStatusNoResponse, "[READ] 00 00 00 "},
        {"B6 B6 80", wire::kStatusNoResponse, "[READ] B6 B6 80 "},
    };
    for (const Case &c : cases) {
        Link link;
        link.peer.Then(3, Hex(c.reply));
        EXPECT_EQ(link.tamsel.SendCommand(0, wire::kOpIdentity, 20, 0.15f), c.status) << c.reply;
        EXPECT_EQ(link.lines.at(1).text, c.line);
    }
}

TEST(Exchange, TimeOutZeroAndLogModes)
{
    {
        Link link;
        link.peer.Then(3, Hex("B5 B7 C1"));
        EXPECT_EQ(link.tamsel.SendCommand(0, wire::kOpWakeUp, 3, 0.0f), wire::kStatusNoResponse);
        EXPECT_EQ(link.Texts(), (std::vector<std::string>{"[SEND] B2 75 80 ", "[READ] "}));
        EXPECT_TRUE(link.peer.WaitReceived(3)); // the request was written all the same
    }
    {
        Link link;
        link.peer.Then(3, Hex("B5 B7 C1"));
        EXPECT_EQ(link.tamsel.SendCommand(1, wire::kOpWakeUp, 3, 0.5f), 0);
        EXPECT_TRUE(link.lines.empty());
        RTamselLogRead rec;
        link.tamsel.GetLogRead(rec);
        EXPECT_TRUE(rec.mOK);
        EXPECT_EQ(rec.mSendLog, "[SEND] B2 75 80 ");
        EXPECT_EQ(rec.mRevLog, "[READ] ACK:B5 B7 C1 ");
    }
    {
        Link link;
        link.peer.Then(3 + 2, Hex("B5 B7 C1"));
        const uint8_t block[] = {0x01, 0x02, 0x03};
        EXPECT_EQ(link.tamsel.SendFrame(2, 0, block, 3, 3, 0.5f), 0);
        EXPECT_TRUE(link.lines.empty());
        EXPECT_EQ(link.tamsel.SendLog(), "");
        EXPECT_EQ(link.tamsel.RevLog(), "[READ] ACK:B5 B7 C1 ");
        EXPECT_EQ(link.peer.Received(), WithCrc({0x01, 0x02, 0x03}));
    }
    { // no handler: the texts are still built
        Link link(false);
        link.peer.Then(3, Hex("B6 B6 81"));
        EXPECT_EQ(link.tamsel.SendCommand(0, wire::kOpKill, 3, 0.5f), wire::kStatusNak);
        EXPECT_EQ(link.tamsel.SendLog(), "[SEND] B3 B5 41 ");
        EXPECT_EQ(link.tamsel.RevLog(), "[READ] NAK:B6 B6 81 ");
    }
}

TEST(Exchange, StaleInputIsPurgedBeforeTheRequest)
{
    Link link;
    link.peer.Send(Hex("B5 B7 C1"));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(link.tamsel.SendCommand(0, wire::kOpWakeUp, 3, 0.1f), wire::kStatusNoResponse);
}

TEST(Exchange, VanishingDeviceEndsTheExchangeAtOnce)
{
    Link link;
    link.peer.Script({{3, {Hex("01 02 03")}, 0, true}});
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(link.tamsel.SendCommand(0, wire::kOpIdentity, 20, 3.0f), wire::kStatusPortFailed);
    EXPECT_LT(Seconds(t0), 1.0);
    EXPECT_EQ(link.lines.size(), 2u);
    EXPECT_EQ(link.tamsel.SendCommand(0, wire::kOpIdentity, 20, 3.0f), wire::kStatusPortFailed); // and so does the next one
    EXPECT_LT(Seconds(t0), 1.5);
}

TEST(Connect, HandshakeLogsEachVerifiedFrame)
{
    Link link;
    link.peer.Then(3, Hex("B2 75 80 B5 B7 C1"));
    EXPECT_EQ(link.tamsel.ConnectTamsel(3.0f), 0);
    const auto texts = link.Texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], "B2 75 80 B5 B7 C1 ");
    EXPECT_EQ(texts[1], "B5 B7 C1 ");
    EXPECT_EQ(texts[2].rfind("[CHECK TIME] 0", 0), 0u);
    EXPECT_NE(texts[2].find(" ("), std::string::npos);
}

TEST(Connect, BadFirstFrameAndStrayBytesAreDropped)
{
    {
        Link link;
        // the ACK comes well after the damaged one, never in the same read
        link.peer.Then(3, Hex("B5 B7 00"));
        link.peer.Then(3, Hex("B5 B7 C1"), 20);
        EXPECT_EQ(link.tamsel.ConnectTamsel(3.0f), 0);
        const auto texts = link.Texts();
        ASSERT_EQ(texts.size(), 2u);
        EXPECT_EQ(texts[0], "B5 B7 C1 ");
        // at least two wake-up frames went out
        EXPECT_GE(link.peer.Received().size(), 6u);
    }
    {
        Link link;
        link.peer.Then(3, Hex("5A A5"));
        link.peer.Then(3, Hex("B5 B7 C1"), 20);
        EXPECT_EQ(link.tamsel.ConnectTamsel(3.0f), 0);
        EXPECT_EQ(link.Texts().at(0), "B5 B7 C1 ");
    }
}

TEST(Connect, AbsentDetectorTimesOutCountingFrames)
{
    Link link;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(link.tamsel.ConnectTamsel(0.3f), wire::kStatusNoWakeUp);
    const double took = Seconds(t0);
    EXPECT_GE(took, 0.3);
    EXPECT_LT(took, 1.0);
    ASSERT_EQ(link.lines.size(), 1u);
    const std::string &line = link.lines[0].text;
    ASSERT_EQ(line.rfind("[CHECK TIME] 0", 0), 0u);
    const size_t open = line.find('(');
    const int sent = std::stoi(line.substr(open + 1));
    EXPECT_GT(sent, 50);
    EXPECT_TRUE(link.peer.WaitReceived(static_cast<size_t>(sent) * 3));
    EXPECT_EQ(link.peer.Received().size(), static_cast<size_t>(sent) * 3);

    Link none;
    EXPECT_EQ(none.tamsel.ConnectTamsel(0.0f), wire::kStatusNoWakeUp);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(none.peer.Received().empty());
    EXPECT_EQ(none.lines.at(0).text, "[CHECK TIME] 0.000 (0)");
}

TEST(Connect, VanishedAdapterEndsTheHandshakeWith161)
{
    Link link;
    link.peer.Vanish();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(link.tamsel.ConnectTamsel(3.0f), wire::kStatusPortFailed);
    EXPECT_LT(Seconds(t0), 0.5);
}

TEST(Connect, CloseUsbSendsTheKillOnlyForListedStatuses)
{
    for (uint8_t status : {wire::kStatusNoWakeUp, wire::kStatusPortFailed, wire::kStatusNoResponse, uint8_t{195},
                           uint8_t{194}, uint8_t{253}}) {
        Link link;
        link.tamsel.CloseUSB(status);
        EXPECT_FALSE(link.tamsel.Port().Enabled());
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_TRUE(link.peer.Received().empty()) << int(status);
    }
    for (uint8_t status : {wire::kStatusOk, wire::kStatusWrongProduct, wire::kStatusNak, wire::kStatusDeviceError,
                           wire::kStatusCrcError, wire::kStatusBadBlock}) {
        Link link;
        link.peer.Then(3, Hex("B5 B7 C1"));
        link.tamsel.CloseUSB(status);
        EXPECT_EQ(link.peer.Received(), Hex("B3 B5 41")) << int(status);
        EXPECT_FALSE(link.tamsel.Port().Enabled());
    }
    { // a refused kill is sent once more, then the port closes
        Link link;
        link.peer.Then(3, Hex("B6 B6 81"));
        link.peer.Then(3, Hex("B6 B6 81"));
        link.tamsel.CloseUSB(0);
        EXPECT_TRUE(link.peer.WaitReceived(6));
        EXPECT_EQ(link.peer.Received(), Hex("B3 B5 41 B3 B5 41"));
        EXPECT_FALSE(link.tamsel.Port().Enabled());
    }
}

TEST(Connect, PortNumbersAndNames)
{
    EXPECT_EQ(TComTamsel::WindowsPortName(9), "COM9");
    EXPECT_EQ(TComTamsel::WindowsPortName(12), "\\\\.\\COM12");
    EXPECT_EQ(TComTamsel::WindowsPortName(0), "COM0");
    EXPECT_EQ(TComTamsel::WindowsPortName(-3), "COM-3");

    PtyPeer a, b;
    TComTamsel tamsel;
    tamsel.SetPortDevice(1, a.Path());
    tamsel.SetPortDevice(2, b.Path());
    tamsel.ComOpen(1);
    tamsel.ComOpen(2); // already open: nothing changes
    EXPECT_EQ(tamsel.Port().DeviceName(), a.Path());
    tamsel.ComClose();
    EXPECT_FALSE(tamsel.Port().Enabled());

    try {
        tamsel.ComOpen(0);
        FAIL();
    } catch (const ECommError &e) {
        EXPECT_STREQ(e.what(), "Error accessing specified device (Error: 19) ");
    }
}

TEST(Connect, UnmappedPortNumberNeverOpensAFileOfTheWindowsName)
{
#ifdef _WIN32
    GTEST_SKIP() << "on Windows a port number opens its own COMn device; the files named so are Linux's";
#endif
    // In a folder whose entries carry the Windows port names and lead to a
    // working pty, no number without a device path opens anything.
    PtyPeer peer;
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("beamport-comnames-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    for (const char *name : {"COM0", "COM3", "\\\\.\\COM12"})
        std::filesystem::create_symlink(peer.Path(), dir / name);
    const std::filesystem::path saved = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    TComTamsel tamsel;
    for (int port : {0, 3, 12}) {
        try {
            tamsel.ComOpen(port);
            ADD_FAILURE() << "opened " << tamsel.Port().DeviceName();
        } catch (const ECommError &e) {
            EXPECT_EQ(e.Message, "Error accessing specified device");
            EXPECT_EQ(e.ErrorCode, ENODEV);
        }
        EXPECT_FALSE(tamsel.Port().Enabled());
    }
    std::filesystem::current_path(saved);
    std::filesystem::remove_all(dir);
}
