// The main window's device actions, headless against the simulated detector
// over a real pty: status texts and colours, message boxes, questions, what
// reached the detector, the remappings and the shared state.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <optional>

#include "app/device_actions.h"
#include "link/tamsel_comms.h"
#include "model/config_form.h"
#include "sim/sim_detector.h"
#include "support/fake_screen.h"
#include "support/pty_peer.h"
#include "support/test_session.h"

namespace {

using Frames = std::vector<std::vector<uint8_t>>;
using Range = std::pair<int, int>; // record address, size

constexpr uint8_t kKill = 0xB3;

bool IsCommand(const std::vector<uint8_t> &f, uint8_t opcode) { return f.size() == 3 && f[0] == opcode; }

int Count(const Frames &frames, uint8_t opcode)
{
    int n = 0;
    for (const auto &f : frames)
        n += IsCommand(f, opcode);
    return n;
}

// The (address, size) of every configuration write, in order.
std::vector<Range> WrittenRanges(const Frames &frames)
{
    std::vector<Range> ranges;
    for (size_t i = 0; i + 1 < frames.size(); ++i)
        if (IsCommand(frames[i], 0x70) && frames[i + 1].size() == 6)
            ranges.emplace_back((frames[i + 1][2] << 8) | frames[i + 1][3], frames[i + 1][0]);
    return ranges;
}

// The values sent by the life writes (0x71 and its 4-byte frame).
std::vector<uint32_t> TimeWrites(const Frames &frames)
{
    std::vector<uint32_t> values;
    for (size_t i = 0; i + 1 < frames.size(); ++i)
        if (IsCommand(frames[i], 0x71) && frames[i + 1].size() == 6) {
            const auto &f = frames[i + 1];
            values.push_back(f[0] | (f[1] << 8) | (f[2] << 16) | (uint32_t(f[3]) << 24));
        }
    return values;
}

// True when an end-of-connection request followed the last `opcode` request.
bool KillAfter(const Frames &frames, uint8_t opcode)
{
    bool seen = false, kill = false;
    for (const auto &f : frames) {
        if (IsCommand(f, opcode)) {
            seen = true;
            kill = false;
        } else if (seen && IsCommand(f, kKill)) {
            kill = true;
        }
    }
    return kill;
}

const std::string kOk = "... OK";

class DeviceActionsTest : public ::testing::Test, protected TTestSession {
protected:
    void SetUp() override
    {
        session.DeviceCFG.mConnectTime = 1500;
        session.DeviceCFG.mAVOperate = 200;
        StartSim();
        StartConfigView(state.FForm, state.FTamselCFG, session.SensorTypes);
    }

    // The developer layout with the settings a file without "UNIT" keys gives.
    void DeveloperLayout()
    {
        session.UserMode = false;
        session.DeviceCFG.mUnitWriteUserSize = 0;
    }
    void SetSimConfig(const std::function<void(std::array<uint8_t, kSimConfigSize> &)> &change)
    {
        auto config = sim->Config();
        change(config);
        SimSealBlock(config, kSimUnitBlock);
        SimSealBlock(config, kSimSensorBlock);
        sim->SetConfig(config);
    }
    void SetIdentity(const std::function<void(SimIdentity &)> &change)
    {
        SimIdentity id = sim->Identity();
        change(id);
        sim->SetIdentity(id);
    }
    void ExpectResult(const std::string &prefix, uint8_t status, const std::string &message = {})
    {
        ASSERT_FALSE(screen.statuses.empty());
        EXPECT_EQ(screen.statuses.front().mCaption, prefix + "...");
        EXPECT_EQ(screen.statuses.front().mBackground, clWhite);
        EXPECT_EQ(screen.statuses.front().mText, clBlack);
        const auto last = screen.LastStatus();
        EXPECT_EQ(last.mCaption, prefix + StatusSuffix(status));
        EXPECT_EQ(last.mBackground, status == 0 ? clLime : clRed);
        EXPECT_EQ(last.mText, status == 0 ? clBlack : clWhite);
        if (status == 0) {
            EXPECT_TRUE(screen.messages.empty());
        } else {
            ASSERT_EQ(screen.messages.size(), 1u);
            EXPECT_EQ(screen.messages[0].mCaption, prefix);
            EXPECT_EQ(screen.messages[0].mText, message.empty() ? StatusMessage(status) : message);
            EXPECT_EQ(screen.messages[0].mIcon, MsgIcon::Error);
        }
    }
    std::vector<uint8_t> CfgBytes() const
    {
        const auto *p = reinterpret_cast<const uint8_t *>(&state.FTamselCFG);
        return {p, p + sizeof state.FTamselCFG};
    }

    TFakeScreen screen;
    RMainState state;
    TDeviceActions actions{session, screen, state};
};

} // namespace

// ---------------------------------------------------------------- Read Device

TEST_F(DeviceActionsTest, ReadDeviceTakesBothBlocksAndShowsThem)
{
    SetSimConfig([](auto &c) {
        c[35] = 14;                                     // mFWVersion
        std::memcpy(&c[16], "NV00012345", 10);          // mSerial
        c[64] = 0xC8;                                    // mAlarmHigh 20.0
        c[65] = 0x00;
    });
    state.FHibernateConfirmed = true;
    EXPECT_EQ(state.FRecordSource, ERecordSource::Defaults);
    const RActionResult r = actions.ReadDevice();
    EXPECT_TRUE(r.Ok());
    ExpectResult("Read Norvik Information", 0);
    EXPECT_EQ(state.FRecordSource, ERecordSource::Detector);
    const auto config = sim->Config();
    EXPECT_EQ(CfgBytes(), std::vector<uint8_t>(config.begin(), config.end()));
    EXPECT_EQ(state.FReadSW, 14);
    EXPECT_FALSE(state.FHibernateConfirmed);
    EXPECT_EQ(state.FForm.mUserSerial, "NV00012345");
    EXPECT_EQ(state.FForm.mDevSerial.mText, "NV00012345");
    EXPECT_EQ(state.FForm.mUserAlarmHigh.mValue, 20.0);
    EXPECT_EQ(state.FForm.mUserSWVersion, "1.4");
    EXPECT_EQ(state.FForm.mDevProductName, "Norvik");
    EXPECT_TRUE(KillAfter(sim->ReceivedFrames(), 0x81));
}

TEST_F(DeviceActionsTest, ReadDeviceProductCheckByLayout)
{
    const struct {
        uint8_t pid;
        bool userMode;
        uint8_t status;
        const char *name;
    } rows[] = {
        {4, true, 146, ""}, {4, false, 0, "Dravik Clip"}, {3, false, 146, ""},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(testing::Message() << int(r.pid) << " user " << r.userMode);
        session.UserMode = r.userMode;
        SetIdentity([&](SimIdentity &id) { id.mPID = r.pid; });
        screen.ClearRecord();
        sim->ClearRecords();
        state = RMainState{};
        StartConfigView(state.FForm, state.FTamselCFG, session.SensorTypes);
        state.FForm.mDevProductName = "stale";
        const auto before = CfgBytes();
        EXPECT_EQ(actions.ReadDevice().mStatus, r.status);
        ExpectResult("Read Norvik Information", r.status);
        EXPECT_EQ(state.FForm.mDevProductName, r.name);
        EXPECT_EQ(state.FRecordSource, r.status == 0 ? ERecordSource::Detector : ERecordSource::Defaults);
        if (r.status != 0) {
            EXPECT_EQ(CfgBytes(), before);
            EXPECT_EQ(Count(sim->ReceivedFrames(), 0x5F), 0);
            EXPECT_TRUE(KillAfter(sim->ReceivedFrames(), 0xA0)); // 146 still ends the connection
        }
    }
}

TEST_F(DeviceActionsTest, ReadDeviceRetriesEachBlockThreeTimes)
{
    const struct {
        uint8_t opcode;
        SimFault fault;
        int times;
        uint8_t status;
        int requests; // of `opcode`
    } rows[] = {
        {0x50, SimFault::kNak, 2, 0, 3},     // third attempt succeeds
        {0x50, SimFault::kNak, 3, 176, 3},   // three failures: the sensor block is lost
        {0x5F, SimFault::kCorrupt, 3, 178, 3},
        {0x5F, SimFault::kNak, 1, 0, 2},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << int(r.opcode) << " x" << r.times);
        SimOptions o;
        o.SetFault(r.opcode, r.fault, r.times);
        sim->SetOptions(o);
        sim->ClearRecords();
        screen.ClearRecord();
        state = RMainState{};
        StartConfigView(state.FForm, state.FTamselCFG, session.SensorTypes);
        state.FForm.mUserAlarmHigh.SetValue(42);
        const auto before = CfgBytes();
        EXPECT_EQ(actions.ReadDevice().mStatus, r.status);
        EXPECT_EQ(Count(sim->ReceivedFrames(), r.opcode), r.requests);
        ExpectResult("Read Norvik Information", r.status);
        if (r.status != 0) {
            EXPECT_EQ(CfgBytes(), before);
            EXPECT_EQ(state.FForm.mUserAlarmHigh.mValue, 42); // the view is not refreshed
        }
    }
}

// ---------------------------------------------------------------- Write Device

TEST_F(DeviceActionsTest, WriteDeviceUserLayoutSendsOnlyTheUserRanges)
{
    ASSERT_TRUE(actions.ReadDevice().Ok());
    state.FForm.mUserAlarmHigh.SetValue(22.5);
    state.FForm.mUserAlarmLow.SetValue(12.5);
    state.FForm.mUserUserId.SetText("ab12");
    state.FForm.mUserCalInterval.SetValue(30);
    state.FForm.mUserTestInterval.SetValue(12);
    state.FForm.mUserDisplayMode.Select(1);
    sim->ClearRecords();
    screen.ClearRecord();
    state.FHibernateConfirmed = true;

    EXPECT_TRUE(actions.WriteDevice().Ok());
    ExpectResult("Write Norvik Information", 0);
    EXPECT_FALSE(state.FHibernateConfirmed);
    const Frames frames = sim->ReceivedFrames();
    EXPECT_EQ(WrittenRanges(frames), (std::vector<Range>{{0, 8}, {64, 10}}));
    EXPECT_TRUE(TimeWrites(frames).empty());
    const auto config = sim->Config();
    const auto *built = reinterpret_cast<const uint8_t *>(&state.FTamselCFG);
    for (int i : {0, 1, 2, 3, 4, 5, 6, 7, 64, 65, 66, 67, 68, 69, 70, 71, 72, 73})
        EXPECT_EQ(config[static_cast<size_t>(i)], built[i]) << i;
    EXPECT_EQ(config[0], 0x05);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&config[1]), 6), "AB12  ");
    EXPECT_EQ(config[7], 12);
    EXPECT_EQ(config[64] | (config[65] << 8), 225); // 22.5 -> 225 tenths
    EXPECT_EQ(config[66] | (config[67] << 8), 125);
    EXPECT_EQ(config[68] | (config[69] << 8) | (config[70] << 16), 30 * 86400);
}

TEST_F(DeviceActionsTest, WriteDeviceUserLayoutRefusesAnotherSensor)
{
    SetIdentity([](SimIdentity &id) { id.mSensor = 2; }); // the record says H2S (1)
    EXPECT_EQ(actions.WriteDevice().mStatus, 148);
    ExpectResult("Write Norvik Information", 148, "Check sensor type and Alarm setting");
    EXPECT_TRUE(WrittenRanges(sim->ReceivedFrames()).empty());
}

TEST_F(DeviceActionsTest, WriteDeviceDeveloperRangesFromSettings)
{
    const struct {
        const char *name;
        uint16_t uf[2], uu[2], sf[2], su[2]; // start, size
        std::vector<Range> ranges;
        uint8_t status;
    } rows[] = {
        {"no UNIT keys", {17, 0}, {1, 0}, {86, 0}, {65, 10}, {{64, 10}}, 0},
        {"all sizes 0", {17, 0}, {1, 0}, {86, 0}, {65, 0}, {}, 0},
        {"all four", {17, 10}, {1, 8}, {86, 20}, {65, 10}, {{16, 10}, {0, 8}, {85, 20}, {64, 10}}, 0},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        DeveloperLayout();
        session.DeviceCFG.mUnitWriteFactoryStart = r.uf[0];
        session.DeviceCFG.mUnitWriteFactorySize = r.uf[1];
        session.DeviceCFG.mUnitWriteUserStart = r.uu[0];
        session.DeviceCFG.mUnitWriteUserSize = r.uu[1];
        session.DeviceCFG.mSensorWriteFactoryStart = r.sf[0];
        session.DeviceCFG.mSensorWriteFactorySize = r.sf[1];
        session.DeviceCFG.mSensorWriteUserStart = r.su[0];
        session.DeviceCFG.mSensorWriteUserSize = r.su[1];
        state = RMainState{};
        StartConfigView(state.FForm, state.FTamselCFG, session.SensorTypes);
        state.FForm.mDevLifeMonths.SetValue(10);
        state.FForm.mDevLifeDays.SetValue(2);
        sim->ClearRecords();
        screen.ClearRecord();

        EXPECT_EQ(actions.WriteDevice().mStatus, r.status);
        ExpectResult("Write Norvik Information", r.status);
        const Frames frames = sim->ReceivedFrames();
        EXPECT_EQ(WrittenRanges(frames), r.ranges);
        if (r.status == 0) {
            EXPECT_EQ(TimeWrites(frames), std::vector<uint32_t>{10 * 2628000u + 2 * 86400u - 1});
        } else {
            EXPECT_TRUE(TimeWrites(frames).empty());
        }
    }
}

TEST_F(DeviceActionsTest, WriteDeviceRefusesRangesPastTheRecordBeforeWakingTheDetector)
{
    // A peer that never answers: every byte the program sends stays in Received().
    PtyPeer peer;
    UsePort(peer.Path());
    for (bool userMode : {false, true}) { // nor does it matter whether the record has a sensor type
        SCOPED_TRACE(userMode);
        session.UserMode = userMode;
        session.DeviceCFG.mSensorWriteFactoryStart = 120;
        session.DeviceCFG.mSensorWriteFactorySize = 20;
        state.FForm.mUserSensorType.mItemIndex = userMode ? -1 : 0;
        state.FHibernateConfirmed = true;
        screen.ClearRecord();

        const RActionResult result = actions.WriteDevice();
        EXPECT_TRUE(result.mRefused && result.mBadSettings);
        EXPECT_FALSE(state.FHibernateConfirmed);
        EXPECT_TRUE(screen.statuses.empty());
        ASSERT_EQ(screen.messages.size(), 1u);
        EXPECT_EQ(screen.messages[0].mCaption, "Check Settings");
        EXPECT_EQ(screen.messages[0].mText,
                  "The write ranges of the settings file do not fit the configuration record (bytes 1 to 128):\r"
                  "[UNIT] SensorWriteFactoryStart=120, SensorWriteFactorySize=20: bytes 120 to 139, past byte 128\r"
                  "Nothing was sent. Correct the settings file and start again.");
        EXPECT_EQ(screen.messages[0].mIcon, MsgIcon::Error);
    }
    // The sequence itself never writes half: it stops before the identity request.
    EXPECT_EQ(actions.WriteDeviceConfig(), 192);
    EXPECT_TRUE(peer.Received().empty());
}

TEST_F(DeviceActionsTest, WriteDeviceDeveloperCutsTheLifeWithItsMessage)
{
    DeveloperLayout();
    state.FForm.mDevLifeMonths.SetValue(24);
    state.FForm.mDevLifeDays.SetValue(1);
    EXPECT_TRUE(actions.WriteDevice().Ok());
    ASSERT_FALSE(screen.messages.empty());
    EXPECT_EQ(screen.messages[0].mCaption, "Check Life Remaining");
    EXPECT_EQ(screen.messages[0].mText,
              "Life Remaining Value over than define value\rMake default value... check Life Remaining Value");
    EXPECT_EQ(screen.messages[0].mIcon, MsgIcon::Information);
    EXPECT_EQ(screen.journal.front().rfind("message:", 0), 0u); // before the operation starts
    EXPECT_EQ(state.FForm.mDevLifeMonths.mValue, 24);
    EXPECT_EQ(state.FForm.mDevLifeDays.mValue, 0);
    EXPECT_EQ(TimeWrites(sim->ReceivedFrames()), std::vector<uint32_t>{63072000});
    EXPECT_EQ(screen.StatusCaption(), "Write Norvik Information... OK");
}

TEST_F(DeviceActionsTest, WriteDeviceDeveloperReadiesTheNextSerial)
{
    DeveloperLayout();
    state.FForm.mDevSerial.SetText("ab12");
    EXPECT_TRUE(actions.WriteDevice().Ok());
    EXPECT_EQ(std::string(state.FTamselCFG.mUnit.mSerial, 10), "  12000000");
    EXPECT_EQ(state.FForm.mDevSerial.mText, "  12000000");
    EXPECT_EQ(state.FForm.mFocusRequest, EFocusRequest::SerialNumber);

    // Not after a failure.
    state.FForm.mFocusRequest = EFocusRequest::None;
    state.FForm.mDevSerial.SetText("XY");
    sim->SetFault(0xA0, SimFault::kNak, 1);
    EXPECT_EQ(actions.WriteDevice().mStatus, 176);
    EXPECT_EQ(state.FForm.mDevSerial.mText, "XY");
    EXPECT_EQ(state.FForm.mFocusRequest, EFocusRequest::None);
}

TEST_F(DeviceActionsTest, WriteDeviceRefusesAlarmSetPointsThatContradictEachOther)
{
    const struct {
        uint8_t sensor;
        double low, high;
        const char *refusal; // start of the box's text; null: written
    } rows[] = {
        {1, 20.0, 15.0, "Low Alarm 20.0 ppm is above High Alarm 15.0 ppm.\rThe detector would sound its high alarm"},
        {1, 15.0, 15.0, nullptr},
        {1, 10.0, 15.0, nullptr},
        // Oxygen: the low alarm is the level the reading falls to, the high the level it rises to.
        {4, 23.5, 19.5, "Low Alarm 23.5 % is not below High Alarm 19.5 %.\rFor oxygen the Low Alarm"},
        {4, 19.5, 19.5, "Low Alarm 19.5 % is not below High Alarm 19.5 %."},
        {4, 19.5, 23.5, nullptr},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(std::to_string(r.low) + " / " + std::to_string(r.high));
        SimOptions o;
        o.sensor_code = r.sensor;
        StartSim(o);
        ASSERT_TRUE(actions.ReadDevice().Ok());
        state.FForm.mUserAlarmLow.SetValue(r.low);
        state.FForm.mUserAlarmHigh.SetValue(r.high);
        sim->ClearRecords();
        screen.ClearRecord();
        const RActionResult result = actions.WriteDevice();
        if (!r.refusal) {
            EXPECT_TRUE(result.Ok());
            EXPECT_FALSE(WrittenRanges(sim->ReceivedFrames()).empty());
            continue;
        }
        EXPECT_TRUE(result.mRefused);
        EXPECT_TRUE(result.mBadAlarms);
        EXPECT_TRUE(sim->ReceivedFrames().empty()); // not even woken
        EXPECT_TRUE(screen.statuses.empty());
        ASSERT_EQ(screen.messages.size(), 1u);
        EXPECT_EQ(screen.messages[0].mCaption, kAlarmOrderCaption);
        EXPECT_EQ(screen.messages[0].mText.rfind(r.refusal, 0), 0u) << screen.messages[0].mText;
        EXPECT_NE(screen.messages[0].mText.find("Nothing was sent."), std::string::npos);
    }
}

TEST_F(DeviceActionsTest, WriteDeviceWithoutSensorTypeSendsNothing)
{
    const struct {
        bool userMode;
        const char *text;
    } rows[] = {
        {true, "No sensor information.\rFirst READ DEVICE"},
        {false, "No sensor information.\rFirst READ DEVICE or select sensor type"},
    };
    for (const auto &r : rows) {
        session.UserMode = r.userMode;
        state.FForm.mUserSensorType.mItemIndex = -1;
        state.FForm.mDevSensorType.mItemIndex = -1;
        screen.ClearRecord();
        const RActionResult result = actions.WriteDevice();
        EXPECT_TRUE(result.mRefused);
        EXPECT_FALSE(result.Ok());
        EXPECT_TRUE(screen.statuses.empty());
        ASSERT_EQ(screen.messages.size(), 1u);
        EXPECT_EQ(screen.messages[0].mCaption, "No sensor information");
        EXPECT_EQ(screen.messages[0].mText, r.text);
        EXPECT_EQ(screen.messages[0].mIcon, MsgIcon::Error);
        EXPECT_EQ(+state.FTamselCFG.mSensor.mSensorType, 0);
    }
    EXPECT_TRUE(sim->ReceivedFrames().empty());
}

// ---------------------------------------------------------------- Hibernate

TEST_F(DeviceActionsTest, HibernateOnlyOnAUnitThatAllowsSuspend)
{
    const RActionResult r = actions.Hibernate(); // the factory record: 0xFF
    EXPECT_TRUE(r.mRefused);
    ASSERT_EQ(screen.messages.size(), 1u);
    EXPECT_EQ(screen.messages[0].mCaption, "Check Unit");
    EXPECT_EQ(screen.messages[0].mText,
              "This feature is only supported on the Norvik+ instrument\rPlease contact Corvane more details");
    EXPECT_TRUE(screen.questions.empty());
    EXPECT_EQ(Count(sim->ReceivedFrames(), 0x17), 0);
    EXPECT_EQ(screen.StatusCaption(), "Read Norvik Information..."); // a good read shows no result
}

TEST_F(DeviceActionsTest, HibernateAskedNoChangesNothing)
{
    SetSimConfig([](auto &c) { c[15] = 0x80; });
    screen.answers = {false};
    const RActionResult r = actions.Hibernate();
    EXPECT_TRUE(r.mDeclined);
    EXPECT_FALSE(r.Ok());
    ASSERT_EQ(screen.questions.size(), 1u);
    EXPECT_EQ(screen.questions[0].mCaption, "Hibernate");
    EXPECT_EQ(screen.questions[0].mText, "Hibernation will clear the event log.\rAre you sure you want to proceed.");
    EXPECT_FALSE(state.FHibernateConfirmed);
    EXPECT_EQ(Count(sim->ReceivedFrames(), 0x17), 0);
    EXPECT_TRUE(screen.messages.empty());
    EXPECT_NE(sim->EventLog(), SimEmptyEventLog());
}

TEST_F(DeviceActionsTest, HibernateConfirmedOnceThenWithoutAsking)
{
    SetSimConfig([](auto &c) { c[15] = 0x80; });
    screen.answers = {true};
    EXPECT_TRUE(actions.Hibernate().Ok());
    EXPECT_EQ(screen.questions.size(), 1u);
    EXPECT_TRUE(state.FHibernateConfirmed);
    EXPECT_EQ(screen.StatusCaption(), "Hibernate... OK");
    EXPECT_EQ(screen.LastStatus().mBackground, clLime);
    Frames frames = sim->ReceivedFrames();
    EXPECT_EQ(Count(frames, 0x17), 1);
    EXPECT_FALSE(KillAfter(frames, 0x17)); // no end-of-connection request to a hibernating detector
    EXPECT_EQ(sim->EventLog(), SimEmptyEventLog());

    EXPECT_TRUE(actions.Hibernate().Ok()); // no question the second time
    EXPECT_EQ(screen.questions.size(), 1u);
    EXPECT_EQ(Count(sim->ReceivedFrames(), 0x17), 2);

    // Another action clears the confirmation.
    EXPECT_TRUE(actions.ReadDevice().Ok());
    EXPECT_FALSE(state.FHibernateConfirmed);
    screen.answers = {false};
    EXPECT_TRUE(actions.Hibernate().mDeclined);
    EXPECT_EQ(screen.questions.size(), 2u);
}

TEST_F(DeviceActionsTest, HibernateRefusedByTheDetector)
{
    SetSimConfig([](auto &c) { c[15] = 0x80; });
    SimOptions o;
    o.refuse_hibernate = true;
    sim->SetOptions(o);
    screen.defaultAnswer = true;
    EXPECT_EQ(actions.Hibernate().mStatus, 195);
    EXPECT_EQ(screen.StatusCaption(), "Hibernate... FAIL");
    ASSERT_EQ(screen.messages.size(), 1u);
    EXPECT_EQ(screen.messages[0].mCaption, "Hibernate");
    EXPECT_EQ(screen.messages[0].mText, "Hibernation is not allowed");
    EXPECT_TRUE(KillAfter(sim->ReceivedFrames(), 0x17)); // closed with the 177 it got
    EXPECT_FALSE(sim->Awake());
}

TEST_F(DeviceActionsTest, HibernateReportsAFailedRead)
{
    SetIdentity([](SimIdentity &id) { id.mPID = 4; });
    screen.defaultAnswer = true;
    EXPECT_EQ(actions.Hibernate().mStatus, 146);
    ExpectResult("Read Norvik Information", 146);
    EXPECT_TRUE(screen.questions.empty());
    EXPECT_EQ(Count(sim->ReceivedFrames(), 0x17), 0);
}

// ---------------------------------------------------------------- Log Reset, Turn Off, Calibration

TEST_F(DeviceActionsTest, CheckedCommandsWithTheirClosingAndRemapping)
{
    enum Which { kLog, kOff, kCal };
    const struct {
        Which which;
        const char *prefix;
        uint8_t opcode;
        bool refuse; // the detector answers the command with its error reply (177)
        uint8_t status;
        bool kill; // end-of-connection request after the command
    } rows[] = {
        {kLog, "Event Log Reset", 0x13, false, 0, true},
        {kLog, "Event Log Reset", 0x13, true, 177, true},
        {kOff, "Power Down", 0x14, false, 0, false},  // the detector is off: port closed only
        {kOff, "Power Down", 0x14, true, 193, true},  // closed with 177, then shown as 193
        {kCal, "Calibration", 0x42, false, 0, true},
        {kCal, "Calibration", 0x42, true, 194, false}, // remapped before closing: no request
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(testing::Message() << r.prefix << " refuse " << r.refuse);
        StartSim();
        if (r.refuse) {
            SimOptions o;
            o.error_code = 0xB1;
            o.SetFault(r.opcode, SimFault::kError);
            sim->SetOptions(o);
        }
        screen.ClearRecord();
        state.FHibernateConfirmed = true;
        RActionResult result;
        switch (r.which) {
        case kLog: result = actions.LogReset(); break;
        case kOff: result = actions.TurnOff(); break;
        case kCal: result = actions.Calibration(); break;
        }
        EXPECT_EQ(result.mStatus, r.status);
        ExpectResult(r.prefix, r.status);
        EXPECT_FALSE(state.FHibernateConfirmed);
        const Frames frames = sim->ReceivedFrames();
        EXPECT_EQ(Count(frames, 0xA0), 1);
        EXPECT_EQ(Count(frames, r.opcode), 1);
        EXPECT_EQ(KillAfter(frames, r.opcode), r.kill);
        if (r.which == kCal) {
            EXPECT_EQ(Count(frames, 0x50), 1); // the calibration's first step
        }
    }
}

TEST_F(DeviceActionsTest, CheckedCommandsRefuseAnotherProduct)
{
    SetIdentity([](SimIdentity &id) { id.mPID = 0; });
    const struct {
        const char *prefix;
        uint8_t opcode;
        RActionResult (TDeviceActions::*action)();
    } rows[] = {
        {"Event Log Reset", 0x13, &TDeviceActions::LogReset},
        {"Power Down", 0x14, &TDeviceActions::TurnOff},
        {"Calibration", 0x42, &TDeviceActions::Calibration},
    };
    for (const auto &r : rows) {
        screen.ClearRecord();
        EXPECT_EQ((actions.*r.action)().mStatus, 146) << r.prefix;
        ExpectResult(r.prefix, 146, "This is not Norvik module");
        EXPECT_EQ(Count(sim->ReceivedFrames(), r.opcode), 0) << r.prefix;
    }
}

// ---------------------------------------------------------------- Actuator tests

TEST_F(DeviceActionsTest, ActuatorHoldsTheConnectionWhileItRuns)
{
    const uint8_t codes[] = {0x30, 0x31, 0x32, 0x34};
    for (int button = 1; button <= 4; ++button) {
        SCOPED_TRACE(button);
        sim->ClearRecords();
        screen.ClearRecord();
        state.FHibernateConfirmed = true;
        int awakeDuringWait = 0;
        screen.onProcessMessages = [&](int) { awakeDuringWait += sim->Awake() && Count(sim->ReceivedFrames(), kKill) == 0; };
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(actions.ActuatorTest(button).Ok());
        const auto held = std::chrono::steady_clock::now() - start;
        EXPECT_GE(held, std::chrono::milliseconds(session.DeviceCFG.mAVOperate));
        EXPECT_GT(awakeDuringWait, 0); // the window breathed while the link was held
        const Frames frames = sim->ReceivedFrames();
        EXPECT_EQ(Count(frames, codes[button - 1]), 1);
        EXPECT_EQ(Count(frames, 0xA0), 0);
        EXPECT_TRUE(KillAfter(frames, codes[button - 1]));
        EXPECT_TRUE(screen.statuses.empty());
        EXPECT_TRUE(screen.messages.empty());
        EXPECT_TRUE(state.FHibernateConfirmed);
    }
    EXPECT_EQ(Count(sim->ReceivedFrames(), 0x33), 0); // the vibrator is 0x34
}

TEST_F(DeviceActionsTest, FailedActuatorTestIsNotReported)
{
    sim->SetFault(0x34, SimFault::kNak);
    screen.statuses.push_back({clLime, clBlack, "Read Norvik Information... OK"});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(actions.ActuatorTest(4).mStatus, 176);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(session.DeviceCFG.mAVOperate));
    EXPECT_EQ(screen.statuses.size(), 1u); // the status bar is unchanged
    EXPECT_TRUE(screen.messages.empty());
    EXPECT_TRUE(actions.ActuatorTest(0).mRefused);
    EXPECT_TRUE(actions.ActuatorTest(5).mRefused);
}

// ---------------------------------------------------------------- Reports, Factory Reset, Identify

TEST_F(DeviceActionsTest, PeakAndBumpReports)
{
    const struct {
        int button;
        const char *prefix;
        uint8_t code;
    } rows[] = {{1, "Clear Peak", 0x44}, {2, "Send Bump Fail", 0x45}, {3, "Send Bump Pass", 0x46}};
    SetIdentity([](SimIdentity &id) { id.mPID = 9; }); // no product check is made
    for (const auto &r : rows) {
        SCOPED_TRACE(r.prefix);
        sim->ClearRecords();
        screen.ClearRecord();
        state.FHibernateConfirmed = true;
        EXPECT_TRUE(actions.PeakBumpReport(r.button).Ok());
        ExpectResult(r.prefix, 0);
        const Frames frames = sim->ReceivedFrames();
        EXPECT_EQ(Count(frames, 0xA0), 0);
        EXPECT_EQ(Count(frames, 0x50), 1);
        EXPECT_EQ(Count(frames, r.code), 1);
        EXPECT_TRUE(state.FHibernateConfirmed);
    }
    EXPECT_TRUE(actions.PeakBumpReport(4).mRefused);
}

TEST_F(DeviceActionsTest, FactoryResetWithoutIdentityCheck)
{
    const auto factory = sim->Config();
    SetSimConfig([](auto &c) { c[7] = 9; });
    SetIdentity([](SimIdentity &id) { id.mPID = 9; });
    state.FHibernateConfirmed = true;
    EXPECT_TRUE(actions.FactoryReset().Ok());
    ExpectResult("Fatory Reset", 0);
    EXPECT_EQ(sim->Config(), factory);
    EXPECT_EQ(Count(sim->ReceivedFrames(), 0xA0), 0);
    EXPECT_TRUE(state.FHibernateConfirmed);
}

TEST_F(DeviceActionsTest, IdentifyShowsTheSixLines)
{
    SetIdentity([](SimIdentity &id) {
        id.mPID = 7; // no product check
        id.mSensor = 4;
        id.mHW = 5;
        id.mSW = 105;
        id.mLife = 123;
        std::memcpy(id.mSerial, "AB12\0\0\0\0\0\0", 10);
    });
    EXPECT_TRUE(actions.Identify().Ok());
    EXPECT_EQ(screen.statuses.front().mCaption, "Load Identify...");
    EXPECT_EQ(screen.StatusCaption(), "Load Identify... OK");
    ASSERT_EQ(screen.messages.size(), 1u);
    EXPECT_EQ(screen.messages[0].mCaption, "Norvik Identify");
    EXPECT_EQ(screen.messages[0].mIcon, MsgIcon::Information);
    EXPECT_EQ(screen.messages[0].mText, "Product ID = 7\rHardware Version = 005\rFirmware Version = 10.5\r"
                                        "Life Remaining = 123 sec\rSensor present = 0x04\rSerial Number = AB12");
}
