// Every finished job that reached the detector leaves one record with what
// the link saw: its name, status, status-bar text, identity, configuration
// and what it produced. Refusals leave none, and a failure to record is one
// notice that changes nothing of the job.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include <QJsonArray>

#include "app/device_actions.h"
#include "app/device_job.h"
#include "app/eeprom_job.h"
#include "app/event_log_job.h"
#include "app/journal.h"
#include "link/tamsel_comms.h"
#include "model/config_form.h"
#include "sim/sim_detector.h"
#include "sim/sim_memory.h"
#include "support/capturing_journal.h"
#include "support/fake_screen.h"
#include "support/test_session.h"

namespace {

class JournalTest : public ::testing::Test, protected TTestSession {
protected:
    void SetUp() override
    {
        session.DeviceCFG.mConnectTime = 1500;
        session.DeviceCFG.mAVOperate = 50;
    }
    void StartDetector(SimOptions options = {})
    {
        StartSim(options);
        StartConfigView(state.FForm, state.FTamselCFG, session.SensorTypes);
    }

    TCapturingJournal &journal = CaptureJournal();
    TFakeScreen screen;
    RMainState state;
};

TEST_F(JournalTest, EachJobLeavesOneRecordWithWhatTheLinkSaw)
{
    StartDetector();
    TDeviceActions actions(session, screen, state);
    REEPROMGrid grid = MakeEEPROMGrid(session.DeviceCFG.mEEPROMMaxAddress);
    const struct {
        const char *job;
        std::function<void()> run;
        std::string text;
        bool identity, config;
        std::vector<const char *> keys; // data keys the record must carry
    } rows[] = {
        {"identify", [&] { actions.Identify(); }, "Load Identify... OK", true, false, {}},
        {"read", [&] { actions.ReadDevice(); }, "Read Norvik Information... OK", true, true, {"config"}},
        {"write", [&] { actions.WriteDevice(); }, "Write Norvik Information... OK", true, false, {"writes"}},
        {"log-reset", [&] { actions.LogReset(); }, "Event Log Reset... OK", true, false, {}},
        {"vibrator", [&] { actions.ActuatorTest(4); }, "", false, false, {}},
        {"bump-pass", [&] { actions.PeakBumpReport(3); }, "Send Bump Pass... OK", false, false, {}},
        {"factory-reset", [&] { actions.FactoryReset(); }, "Fatory Reset... OK", false, false, {}},
        {"events", [&] { SaveEventLogAction(session, screen, state); }, "Load Event Log... OK", true, true,
         {"log", "events", "csv"}},
        {"eeprom", [&] { EEPROMReadAction(session, screen, grid); }, "Read EEPROM data... OK", false, false, {"bytes"}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.job);
        journal.records.clear();
        row.run();
        ASSERT_EQ(journal.records.size(), 1u);
        const RJobRecord &r = journal.records[0];
        EXPECT_EQ(r.mJob, row.job);
        EXPECT_EQ(r.mStatus, 0);
        EXPECT_EQ(r.mText, row.text);
        EXPECT_EQ(r.mIdentity.has_value(), row.identity);
        EXPECT_EQ(r.mConfig.has_value(), row.config);
        for (const char *key : row.keys)
            EXPECT_TRUE(r.mData.contains(QLatin1String(key))) << key;
    }
    // The user layout writes the user's two ranges, and the record says so byte for byte.
    actions.WriteDevice();
    const QJsonArray writes = journal.records.back().mData.value(QLatin1String("writes")).toArray();
    ASSERT_EQ(writes.size(), 2);
    EXPECT_EQ(writes[0].toObject().value(QLatin1String("address")).toInt(), 0);
    EXPECT_EQ(writes[0].toObject().value(QLatin1String("bytes")).toString().size(), 16);
    EXPECT_EQ(writes[1].toObject().value(QLatin1String("address")).toInt(), 64);
    EXPECT_EQ(journal.records.back().mIdentity->mSerial[0], sim->Identity().mSerial[0]);
}

TEST_F(JournalTest, RefusalsLeaveNoRecordFailuresDo)
{
    SimOptions absent;
    absent.absent = true;
    StartDetector(absent);
    session.DeviceCFG.mConnectTime = 300;
    TDeviceActions actions(session, screen, state);

    state.FTamselCFG.mSensor.mSensorType = 0; // no sensor: refused before the link
    state.FForm = {};
    actions.WriteDevice();
    EXPECT_TRUE(journal.records.empty());

    actions.ReadDevice(); // no detector answers: still a job that reached for it
    ASSERT_EQ(journal.records.size(), 1u);
    EXPECT_EQ(journal.records[0].mJob, "read");
    EXPECT_EQ(journal.records[0].mStatus, 160);
    EXPECT_EQ(journal.records[0].mText, screen.StatusCaption());
    EXPECT_FALSE(journal.records[0].mIdentity);
}

// Each way a job ends, with the status of the exit table (the number the
// command line exits with) and the one word of its outcome.
TEST_F(JournalTest, OutcomeAndStatusAsTheExitTableSays)
{
    StartDetector();
    TDeviceActions actions(session, screen, state);
    const auto suspend = [&](uint8_t allow) {
        auto config = sim->Config();
        config[15] = allow;
        SimSealBlock(config, kSimUnitBlock);
        SimSealBlock(config, kSimSensorBlock);
        sim->SetConfig(config);
    };
    const struct {
        const char *what;
        std::function<RActionResult()> run;
        const char *job;
        int status;
        const char *outcome;
    } rows[] = {
        {"a read", [&] { return actions.ReadDevice(); }, "read", 0, "success"},
        {"Check Unit", [&] { suspend(0xFF); return actions.Hibernate(); }, "hibernate", 67, "refused"},
        {"hibernate answered No", [&] { suspend(0x80); screen.answers = {false}; return actions.Hibernate(); },
         "hibernate", 66, "declined"},
        {"the factory calibration", [&] { return actions.Calibration(); }, "calibration", 0, "started"},
        {"a bare bump pass", [&] { return actions.PeakBumpReport(3); }, "bump-pass", 0, "declared"},
        {"a bare bump fail", [&] { return actions.PeakBumpReport(2); }, "bump-fail", 0, "declared"},
        {"clear peak", [&] { return actions.PeakBumpReport(1); }, "clear-peak", 0, "success"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        journal.records.clear();
        const QDateTime before = QDateTime::currentDateTimeUtc();
        row.run();
        ASSERT_EQ(journal.records.size(), 1u);
        const RJobRecord &r = journal.records[0];
        EXPECT_EQ(r.mJob, row.job);
        EXPECT_EQ(r.mStatus, row.status);
        EXPECT_EQ(r.mOutcome.empty() ? DeriveOutcome(r.mJob, r.mStatus) : r.mOutcome, row.outcome);
        // Taken when the job began, not when it was recorded.
        EXPECT_GE(r.mTime, before.addMSecs(-1));
        EXPECT_TRUE(r.mSimulated) << "the simulator serves on a pseudo-terminal";
    }
    // A failed command is failed, whatever the job.
    const struct {
        const char *job;
        uint8_t status;
        const char *outcome;
    } derived[] = {{"bump-pass", 177, "failed"}, {"calibration", 194, "failed"}, {"upgrade", 134, "stopped"},
                   {"read", 161, "failed"},      {"sensor-cal", 68, "failed"},    {"read", 70, "failed"}};
    for (const auto &d : derived)
        EXPECT_EQ(DeriveOutcome(d.job, d.status), d.outcome) << d.job << " " << int(d.status);
}

// What a job reads is the configuration; a second read is the configuration after.
TEST_F(JournalTest, ConfigurationAfterOnlyFromALaterRead)
{
    StartDetector();
    TDeviceActions actions(session, screen, state);
    actions.ReadDevice(); // one read: no "after"
    ASSERT_EQ(journal.records.size(), 1u);
    EXPECT_TRUE(journal.records[0].mData.contains("config"));
    EXPECT_FALSE(journal.records[0].mData.contains("config_after"));
    // Two reads in one job (as a calibration of the logger reads before and after).
    journal.records.clear();
    TDeviceJob job(session, screen, kJobRead);
    const auto readBoth = [&] {
        RTamselCFG cfg{};
        uint8_t status = link.ReadUnitCFGData(cfg.mUnit, session.DeviceCFG.mUnitPacketSize, session.DeviceCFG.mUnitDataSize);
        if (status == 0)
            status = link.ReadSensorCFGData(cfg.mSensor, session.DeviceCFG.mUnitPacketSize, session.DeviceCFG.mUnitSensorDataSize);
        return status;
    };
    job.Linked({}, [&] {
        EXPECT_EQ(readBoth(), 0);
        auto config = sim->Config();
        config[kSimSensorBlock + 10] ^= 0x01;
        SimSealBlock(config, kSimSensorBlock);
        sim->SetConfig(config);
        return readBoth();
    });
    job.Finish(0, "done");
    ASSERT_EQ(journal.records.size(), 1u);
    ASSERT_TRUE(journal.records[0].mData.contains("config_after"));
    EXPECT_NE(journal.records[0].mData.value("config"), journal.records[0].mData.value("config_after"));
}

// A job that never reached for the detector leaves no record, nor a job under way.
TEST_F(JournalTest, NoRecordWithoutTheDetector)
{
    StartDetector();
    TDeviceActions actions(session, screen, state);
    state.FTamselCFG.mSensor.mSensorType = 0;
    state.FForm = {};
    EXPECT_TRUE(actions.WriteDevice().mRefused);          // refused before the link
    EXPECT_TRUE(actions.ActuatorTest(9).mRefused);         // no such button
    EXPECT_TRUE(actions.PeakBumpReport(0).mRefused);
    {
        TDeviceJob cancelled(session, screen, kJobEvents); // a file dialog cancelled before the link
        cancelled.Finish(0, "");
    }
    EXPECT_TRUE(journal.records.empty());
}

TEST_F(JournalTest, AFailureToRecordIsOneNoticeAndChangesNothingElse)
{
    StartDetector();
    TDeviceActions actions(session, screen, state);
    journal.failure = "the records store is read-only";
    const RActionResult result = actions.ReadDevice();
    EXPECT_TRUE(result.Ok());
    EXPECT_EQ(screen.StatusCaption(), "Read Norvik Information... OK");
    EXPECT_TRUE(screen.messages.empty());
    EXPECT_EQ(screen.journalWarnings, std::vector<std::string>{"the records store is read-only"});
    EXPECT_EQ(screen.journal.back(), "journal-warning:the records store is read-only");
}

} // namespace
