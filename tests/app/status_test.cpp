// Status table, status bar and traffic helpers, and the operation frame run
// against discovery fakes and a pty peer.
#include <gtest/gtest.h>

#include <QtGlobal>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <unistd.h>
#include <vector>

#include "app/device_job.h"
#include "app/journal.h"
#include "app/status.h"
#include "link/tamsel_comms.h"
#include "link/wire.h"
#include "support/fake_screen.h"
#include "support/pty_peer.h"
#include "support/test_session.h"

namespace fs = std::filesystem;

namespace {

bool Contains(const Bytes &haystack, const Bytes &needle)
{
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

} // namespace

TEST(StatusTableTest, EveryWordedStatusAndTheCatchAll)
{
    const std::string disc = "Beamport connect error\rCheck Beamport connection or \rBeamport Re-Install driver";
    const std::string other = "Error ocuured";
    const std::string checkFile = "\rCheck Upgrade File";
    // Every status the table words, byte for byte, and samples of the values
    // that fall to the last row. The statuses the link makes carry their wire
    // name: the byte is what the command line exits with, so a name must
    // never drift from its number.
    struct Row {
        int status;
        std::string suffix, message;
        std::optional<uint8_t> name = std::nullopt;
    } rows[] = {
        {0, "... OK", "", wire::kStatusOk},
        {1, "... Beamport error", "Beamport error occurred\rClose program and then restart Corvane Beamport program"},
        {2, "... Beamport Disconnection", disc},
        {3, "... Beamport Disconnection", disc},
        {4, "... Beamport Disconnection", disc},
        {5, "... Beamport Disconnection", disc},
        {6, "... Beamport Disconnection", disc},
        {7, "... FAIL", other}, // between the adapter library's codes, but not one of them
        {8, "... Beamport Disconnection", disc},
        {9, "... Beamport Disconnection", disc},
        {10, "... FAIL", other},
        {127, "... FAIL", other},
        {128, "... FAIL", "Upgrade data file open error" + checkFile},
        {129, "... FAIL", "Upgrade data file size different" + checkFile},
        {130, "... FAIL", "Upgrade data file CRC error" + checkFile},
        {131, "... FAIL", "Upgrade data file wrong type" + checkFile},
        {132, "... FAIL", "This file is not old version" + checkFile},
        {133, "... FAIL", "This file is not useful to Norvik unit" + checkFile},
        {134, "... USER STOP", "User Stop..."},
        {135, "... FAIL", "Program validation failed\rRetry download image"},
        {136, "... FAIL", other},
        {145, "... FAIL", other},
        {146, "... FAIL", "This is not Norvik module", wire::kStatusWrongProduct},
        {147, "... FAIL", other},
        {148, "... FAIL", "Check sensor type and Alarm setting"},
        {149, "... FAIL", other},
        {159, "... FAIL", other},
        {160, "... Norvik Dis-Connect", "Norvik connect error\rCheck Beamport and Norvik connection", wire::kStatusNoWakeUp},
        {161, "... Beamport Connection ERROR", "Beamport connection error\rCheck Beamport connection",
         wire::kStatusPortFailed},
        {162, "... FAIL", "Norvik comunication error - no response", wire::kStatusNoResponse},
        {163, "... FAIL", other},
        {175, "... FAIL", other},
        {176, "... FAIL", "Norvik comunication error - negative response", wire::kStatusNak},
        {177, "... FAIL", "Norvik comunication error", wire::kStatusDeviceError},
        {178, "... FAIL", "Norvik comunication error - CRC error", wire::kStatusCrcError},
        {179, "... FAIL", other},
        {191, "... FAIL", other},
        {192, "... FAIL", "Norvik comunication error\rWrong configuration information\rCheck device",
         wire::kStatusBadBlock},
        {193, "... FAIL", "Must calibration before POWER OFF"},
        {194, "... FAIL", "Zero calibration failed"},
        {195, "... FAIL", "Hibernation is not allowed"},
        {196, "... FAIL", other},
        {251, "... FAIL", other},
        {252, "... Beamport isnot found", "Beamport isnot found\rBeamport Re-Install driver"},
        {253, "... O/S is not support", "O/S is not support"},
        {254, "... Beamport found 1 more", "Beamport found one more\rOnly use one Beamport"},
        {255, "... Beamport isnot found(A)", "Beamport isnot found\rBeamport Re-Install driver(A)"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.status);
        EXPECT_EQ(StatusSuffix(static_cast<uint8_t>(r.status)), r.suffix);
        EXPECT_EQ(StatusMessage(static_cast<uint8_t>(r.status)), r.message);
        if (r.name) {
            EXPECT_EQ(+*r.name, r.status);
        }
    }
    // 33 values have rows of their own; all others share the last one.
    int others = 0;
    for (int s = 0; s < 256; ++s)
        others += StatusMessage(static_cast<uint8_t>(s)) == other;
    EXPECT_EQ(others, 256 - 33);
}

TEST(StatusTableTest, WhichStatusesMeanTheAdapterWasNotReached)
{
    const struct {
        int status;
        bool trouble;
    } rows[] = {{0, false},   {1, true},    {5, true},    {7, true},    {9, true},    {10, false},
                {128, false}, {146, false}, {159, false}, {160, true},  {161, false}, {176, false},
                {195, false}, {251, false}, {252, true},  {253, true},  {254, true},  {255, true}};
    for (const auto &r : rows)
        EXPECT_EQ(IsAdapterTrouble(static_cast<uint8_t>(r.status)), r.trouble) << r.status;
}

TEST(ShowResultTest, SuccessFailureAndUserStop)
{
    struct Case {
        uint8_t status;
        RColor bg, fg;
        std::string caption;
        std::optional<std::string> box;
        bool adapterTrouble; // the screen is told, before the box, whether to offer the adapter checks
    } cases[] = {
        {0, clLime, clBlack, "Read Norvik Information... OK", std::nullopt, false},
        {7, clRed, clWhite, "Read Norvik Information... FAIL", "Error ocuured", true},
        {134, clRed, clWhite, "Read Norvik Information... USER STOP", "User Stop...", false},
        {255, clRed, clWhite, "Read Norvik Information... Beamport isnot found(A)",
         "Beamport isnot found\rBeamport Re-Install driver(A)", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.status);
        TFakeScreen screen;
        screen.onMessage = [&](const TFakeScreen::RMessage &) {
            EXPECT_EQ(screen.adapterTrouble, std::vector<bool>{c.adapterTrouble});
        };
        ShowResult(screen, c.status, "Read Norvik Information");
        EXPECT_EQ(screen.adapterTrouble, std::vector<bool>{c.adapterTrouble});
        ASSERT_EQ(screen.statuses.size(), 1u);
        EXPECT_EQ(screen.LastStatus().mBackground, c.bg);
        EXPECT_EQ(screen.LastStatus().mText, c.fg);
        EXPECT_EQ(screen.StatusCaption(), c.caption);
        if (c.box) {
            ASSERT_EQ(screen.messages.size(), 1u);
            EXPECT_EQ(screen.LastMessage().mCaption, "Read Norvik Information");
            EXPECT_EQ(screen.LastMessage().mText, *c.box);
            EXPECT_EQ(screen.LastMessage().mIcon, MsgIcon::Error);
            // The red text is up before the box blocks.
            EXPECT_EQ(screen.journal.front().rfind("status:", 0), 0u);
        } else {
            EXPECT_TRUE(screen.messages.empty());
        }
    }
}

TEST(ShowStatusTest, PaintsBeforeReturning)
{
    TFakeScreen screen;
    ShowBusy(screen, "Load Identify");
    EXPECT_EQ(screen.journal, (std::vector<std::string>{"status:Load Identify...", "process"}));
    EXPECT_EQ(screen.LastStatus().mBackground, clWhite);
    EXPECT_EQ(screen.LastStatus().mText, clBlack);
}

TEST(TrafficTest, LineFormatAndAttachment)
{
    // 2023-03-14 09:05:07.089 as a day count.
    const TDateTime t = 45000.0 + (9 * 3600 + 5 * 60 + 7.089) / 86400.0;
    TFakeScreen screen;
    EXPECT_EQ(LogTraffic(screen, t, "[SEND] B2 75 80 "), "09:05:07:089 [SEND] B2 75 80 ");
    EXPECT_EQ(screen.traffic, (std::vector<std::string>{"09:05:07:089 [SEND] B2 75 80 "}));

    {
        TTestSession run;
        run.session.DeviceCFG.mLogEnable = false;
        EXPECT_FALSE(AttachTraffic(run.session, screen));
        EXPECT_FALSE(static_cast<bool>(run.link.OnTamselEvent));
        EXPECT_TRUE(AttachTraffic(run.session, screen, true)); // the command line's --traffic
        ASSERT_TRUE(static_cast<bool>(run.link.OnTamselEvent));
        run.link.OnTamselEvent(&run.link, t, "x");
        EXPECT_EQ(screen.traffic.back(), "09:05:07:089 x");
    }
    {
        TTestSession run;
        run.session.DeviceCFG.mLogEnable = true;
        EXPECT_TRUE(AttachTraffic(run.session, screen));
        EXPECT_TRUE(static_cast<bool>(run.link.OnTamselEvent));
    }
}

namespace {

// The frame of a job over a link whose discovery is pointed at an empty
// device tree, or bypassed to a pty peer.
class OperationTest : public ::testing::Test, protected TTestSession {
protected:
    void SetUp() override
    {
        root = dir / "sys";
        fs::create_directories(root / "class" / "tty");
        for (const char *name : {"BEAMPORT_SYSFS_ROOT", "BEAMPORT_DEV_ROOT"}) {
            const char *v = std::getenv(name);
            saved.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
        }
        qputenv("BEAMPORT_SYSFS_ROOT", root.string().c_str());
        qputenv("BEAMPORT_DEV_ROOT", root.string().c_str());
        session.DeviceCFG.mConnectTime = 2000;
    }
    void TearDown() override
    {
        for (auto &[name, value] : saved) {
            if (value)
                qputenv(name.c_str(), value->c_str());
            else
                qunsetenv(name.c_str());
        }
    }

    fs::path root;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
    TFakeScreen screen;
};

// One job of one frame on a session: the frame is what these tests look at.
ROpResult RunFrame(TSession &session, IScreen &screen, const std::string &prefix, const TOpSteps &steps,
                   const TOpClose &close = {})
{
    return RunJob(session, screen, {kJobIdentify, prefix, steps, close});
}

const Bytes kAck = {0xB5, 0xB7, 0xC1};
const Bytes kKill = {0xB3, 0xB5, 0x41};

} // namespace

TEST_F(OperationTest, NoAdapterSkipsTheStepsAndReportsTheDiscovery)
{
    bool ran = false;
    const ROpResult r = RunFrame(session, screen, "Read Norvik Information", [&] {
        ran = true;
        return uint8_t{0};
    });
    EXPECT_FALSE(ran);
    EXPECT_FALSE(r.mAborted);
    EXPECT_EQ(r.mStatus, 255);
    EXPECT_FALSE(r.Ok());
    EXPECT_EQ(screen.journal,
              (std::vector<std::string>{"status:Read Norvik Information...", "process",
                                        "status:Read Norvik Information... Beamport isnot found(A)",
                                        "message:Read Norvik Information|Beamport isnot found\rBeamport Re-Install driver(A)"}));
    EXPECT_FALSE(link.Port().Enabled());
    EXPECT_EQ(screen.adapterTrouble, std::vector<bool>{true});
}

TEST_F(OperationTest, CustomCloseSeesTheStatusAndRemapsIt)
{
    int seen = -1;
    const ROpResult r = RunFrame(
        session, screen, "Power Down", [] { return uint8_t{0}; },
        [&](TComTamsel &l, uint8_t status) {
            seen = status;
            l.CloseUSB(status);
            return uint8_t{193};
        });
    EXPECT_EQ(seen, 255);
    EXPECT_EQ(r.mStatus, 193);
    EXPECT_EQ(screen.StatusCaption(), "Power Down... FAIL");
    EXPECT_EQ(screen.LastMessage().mText, "Must calibration before POWER OFF");
}

TEST_F(OperationTest, PortThatCannotBeOpenedEndsTheAction)
{
    UsePort((root / "no-such-tty").string());
    bool ran = false;
    const ROpResult r = RunFrame(session, screen, "Load Identify", [&] {
        ran = true;
        return uint8_t{0};
    });
    EXPECT_TRUE(r.mAborted);
    EXPECT_NE(r.mStatus, 0);
    EXPECT_FALSE(r.Ok());
    EXPECT_FALSE(ran);
    // Busy text stays; one error box with the program's title and the port's text.
    EXPECT_EQ(screen.statuses.size(), 1u);
    EXPECT_EQ(screen.StatusCaption(), "Load Identify...");
    ASSERT_EQ(screen.messages.size(), 1u);
    EXPECT_EQ(screen.LastMessage().mCaption, "Corvane Beamport");
    EXPECT_EQ(screen.LastMessage().mText.rfind("Error accessing specified device", 0), 0u);
    EXPECT_EQ(screen.LastMessage().mIcon, MsgIcon::Error);
    EXPECT_EQ(r.mError, screen.LastMessage().mText);
    EXPECT_EQ(screen.adapterTrouble, std::vector<bool>{true}); // the port would not open
}

TEST_F(OperationTest, ConnectedStepsThenEndOfConnection)
{
    struct Case {
        uint8_t stepStatus;
        bool kill;
        std::string caption;
    } cases[] = {
        {0, true, "Clear Peak... OK"},
        {wire::kStatusDeviceError, true, "Clear Peak... FAIL"},
        {wire::kStatusNoResponse, false, "Clear Peak... FAIL"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.stepStatus);
        PtyPeer peer;
        peer.Then(3, kAck);
        TTestSession run;
        run.session.DeviceCFG.mConnectTime = session.DeviceCFG.mConnectTime;
        run.UsePort(peer.Path());
        TFakeScreen scr;
        TComTamsel &l = run.link;
        int steps = 0;
        const ROpResult r = RunFrame(run.session, scr, "Clear Peak", [&] {
            ++steps;
            EXPECT_TRUE(l.Port().Enabled());
            return c.stepStatus;
        });
        EXPECT_EQ(steps, 1);
        EXPECT_EQ(r.mStatus, c.stepStatus);
        EXPECT_FALSE(r.mAborted);
        EXPECT_EQ(scr.StatusCaption(), c.caption);
        EXPECT_FALSE(l.Port().Enabled());
        if (c.kill) {
            EXPECT_TRUE(peer.WaitReceived(6, 2000));
        }
        EXPECT_EQ(Contains(peer.Received(), kKill), c.kill);
    }
}

TEST_F(OperationTest, ErrorRaisedByTheStepsDropsThePortQuietly)
{
    PtyPeer peer;
    peer.Then(3, kAck);
    UsePort(peer.Path());
    const ROpResult r = RunFrame(session, screen, "Write Norvik Information",
                                     []() -> uint8_t { throw std::invalid_argument("'1x' is not a valid integer value"); });
    EXPECT_TRUE(r.mAborted);
    EXPECT_EQ(r.mError, "'1x' is not a valid integer value");
    EXPECT_EQ(screen.StatusCaption(), "Write Norvik Information...");
    EXPECT_EQ(screen.LastMessage().mCaption, "Corvane Beamport");
    EXPECT_TRUE(screen.adapterTrouble.empty()); // the port opened: no adapter trouble
    // No end-of-connection request, but the port is free for the next action.
    EXPECT_FALSE(Contains(peer.Received(), kKill));
    EXPECT_FALSE(link.Port().Enabled());

    peer.Then(0, kAck);
    const ROpResult again = RunFrame(session, screen, "Load Identify", [] { return uint8_t{0}; });
    EXPECT_EQ(again.mStatus, 0);
    EXPECT_EQ(screen.StatusCaption(), "Load Identify... OK");
}
