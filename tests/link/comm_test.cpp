// The serial port over a real pty.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "link/comm.h"
#include "support/pty_peer.h"

namespace {
void OpenAt115200(TComm &port, const std::string &path)
{
    port.SetDeviceName(path);
    port.SetBaudData(115200);
    port.Open();
}
} // namespace

TEST(Comm, ReadReturnsAtOnceWithWhatIsQueued)
{
    PtyPeer peer;
    TComm port;
    OpenAt115200(port, peer.Path());
    ASSERT_TRUE(port.Enabled());

    uint8_t buf[32];
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(port.Read(buf, sizeof buf), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(port.FReadTimeout));

    Bytes twenty(20);
    for (int i = 0; i < 20; ++i)
        twenty[i] = static_cast<uint8_t>(i);
    peer.Send(twenty);
    ASSERT_TRUE(port.WaitInput(1.0));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(port.Read(buf, 13), 13);
    EXPECT_EQ(buf[12], 12);
    EXPECT_EQ(port.Read(buf, 32), 7);
    EXPECT_EQ(buf[0], 13);

    // A purge drops what arrived before it.
    peer.Send(twenty);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    port.PurgeIn();
    EXPECT_EQ(port.Read(buf, 32), 0);

    // Writes reach the far end whole.
    const uint8_t frame[] = {0xB2, 0x75, 0x80};
    EXPECT_EQ(port.Write(frame, 3), 3);
    ASSERT_TRUE(peer.WaitReceived(3));
    EXPECT_EQ(peer.Received(), Hex("B2 75 80"));
}

TEST(Comm, PropertyRulesAndClosedPortOperations)
{
    PtyPeer peer;
    TComm port;
    port.Close();   // nothing happens on a closed port
    port.PurgeIn();
    EXPECT_FALSE(port.Enabled());
    EXPECT_EQ(port.DeviceName(), "Com2");

    OpenAt115200(port, peer.Path());
    EXPECT_NO_THROW(port.SetDeviceName(peer.Path()));
    try {
        port.SetDeviceName("/dev/other");
        FAIL() << "renaming an open port must raise";
    } catch (const ECommError &e) {
        EXPECT_STREQ(e.what(), "Port already assigned (open) (Error: -1) ");
        EXPECT_EQ(e.ErrorCode, -1);
    }
    EXPECT_THROW(port.SetReadBufSize(64), ECommError);
    EXPECT_THROW(port.Open(), ECommError);
    EXPECT_NO_THROW(port.SetBaudData(9600)); // line settings are re-applied while open
    port.Close();
    EXPECT_FALSE(port.Enabled());
    EXPECT_THROW(port.Read(nullptr, 1), ECommError);
}

TEST(Comm, MissingDeviceRaisesWithTheOsCode)
{
    TComm port;
    port.SetDeviceName("/dev/beamport-no-such-device");
    try {
        port.Open();
        FAIL();
    } catch (const ECommError &e) {
        EXPECT_STREQ(e.what(), "Error accessing specified device (Error: 2) ");
        EXPECT_EQ(e.ErrorCode, ENOENT);
    }
    EXPECT_FALSE(port.Enabled());

    // A file that is not a terminal is refused.
    char path[] = "/tmp/beamport-notatty-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    port.SetDeviceName(path);
    try {
        port.Open();
        FAIL();
    } catch (const ECommError &e) {
        EXPECT_EQ(e.Message, "Invalid device handle, access denied");
    }
    EXPECT_FALSE(port.Enabled());
    ::unlink(path);
}

TEST(Comm, OpenIsExclusiveAndRestoresTheLineOnClose)
{
    PtyPeer peer;
    // Someone else's settings on the line before we take it.
    const int other = ::open(peer.Path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    termios before{};
    ::tcgetattr(other, &before);
    before.c_lflag |= ICANON | ECHO;
    cfsetospeed(&before, B9600);
    ::tcsetattr(other, TCSANOW, &before);

    TComm first, second;
    OpenAt115200(first, peer.Path());
    termios during{};
    ::tcgetattr(other, &during);
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(cfgetospeed(&during), static_cast<speed_t>(B115200));
    EXPECT_EQ(during.c_cc[VMIN], 0);
    EXPECT_EQ(during.c_cc[VTIME], 0);
    EXPECT_EQ(during.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(during.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));

    // Even root cannot take a port another program holds.
    second.SetDeviceName(peer.Path());
    EXPECT_THROW(second.Open(), ECommError);
    EXPECT_FALSE(second.Enabled());

    first.Close();
    termios after{};
    ::tcgetattr(other, &after);
    EXPECT_EQ(after.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
    EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B9600));
    EXPECT_NO_THROW(second.Open());
    ::close(other);
}

TEST(Comm, VanishedDeviceRaisesReadAndWriteErrors)
{
    auto peer = std::make_unique<PtyPeer>();
    TComm port;
    OpenAt115200(port, peer->Path());
    peer->Vanish();
    uint8_t buf[8];
    EXPECT_THROW(port.WaitInput(1.0), ECommError);
    try {
        port.Read(buf, sizeof buf);
        FAIL();
    } catch (const ECommError &e) {
        EXPECT_EQ(e.Message, "Read error");
    }
    try {
        port.Write(buf, 3);
        FAIL();
    } catch (const ECommError &e) {
        EXPECT_EQ(e.Message, "Write error");
    }
}
