// Templates' values as JSON, the comparisons before a write and the restore
// of a kept configuration, against the simulated detector.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include <QJsonArray>
#include <QJsonDocument>

#include "app/app_state.h"
#include "app/config_jobs.h"
#include "app/device_actions.h"
#include "app/journal.h"
#include "link/wire.h"
#include "sim/sim_detector.h"
#include "support/fake_screen.h"
#include "support/test_session.h"

namespace {

RTamselCFG ConfigOf(const SimDetector &sim)
{
    const auto bytes = sim.Config();
    RTamselCFG cfg;
    std::memcpy(&cfg, bytes.data(), sizeof cfg);
    return cfg;
}

QJsonObject Json(const char *text) { return QJsonDocument::fromJson(text).object(); }

struct ConfigJobsTest : ::testing::Test {
    ConfigJobsTest() : sim(t.StartSim(SimDemoOptions())), journal(t.CaptureJournal()) {}
    // Write Device's sequence with that record, as a job of its own.
    void WriteDevice(const RTamselCFG &cfg)
    {
        RMainState state;
        state.FTamselCFG = cfg;
        TDeviceActions actions(t.session, screen, state);
        ASSERT_TRUE(RunJob(t.session, screen, {kJobWrite, "Write", [&] { return actions.WriteDeviceConfig(); }}).Ok());
    }

    TTestSession t;
    SimDetector &sim;
    TCapturingJournal &journal;
    TFakeScreen screen;
};

} // namespace

TEST(TemplateJson, ValuesRoundTripAndMistakesAreNamed)
{
    std::vector<RTemplateField> fields;
    std::string error;
    ASSERT_TRUE(TemplateFieldsFromJson(
        Json(R"({"mBatLimit": [600, 610], "mUserID": "SITE-\u00e9", "mSensor.mAlarmHigh": 200, "mTempCompSpan": [-1, 0, 1]})"),
        fields, error))
        << error;
    ASSERT_EQ(fields.size(), 4u);
    EXPECT_STREQ(fields[0].mField->mName, "mUserID"); // record order
    EXPECT_EQ(fields[0].mValue.mText, "SITE-\xE9");
    EXPECT_EQ(fields[1].mValue.mNumbers, (std::vector<int64_t>{600, 610}));
    EXPECT_EQ(TemplateFieldsToJson(fields),
              Json(R"({"mBatLimit": [600, 610], "mUserID": "SITE-\u00e9", "mAlarmHigh": 200, "mTempCompSpan": [-1, 0, 1]})"));

    const struct {
        const char *mJson;
        const char *mError;
    } bad[] = {
        {R"({"mAlarmHi": 1})", "no field is named mAlarmHi"},
        {R"({"mAlarmHigh": 1, "mSensor.mAlarmHigh": 2})", "the field mAlarmHigh is named twice"},
        {R"({"mAlarmHigh": "200"})", "mAlarmHigh holds one whole number"},
        {R"({"mAlarmHigh": 20.5})", "mAlarmHigh holds one whole number"},
        {R"({"mAlarmHigh": 70000})", "mAlarmHigh: 70000 is outside 0 to 65535"},
        {R"({"mAlarmHigh": 1e300})", "mAlarmHigh holds one whole number"},
        {R"({"mUserID": 5})", "mUserID holds characters: give them as text"},
        {R"({"mUserID": "ABCDEFG"})", "mUserID holds at most 6 characters"},
        {R"({"mUserID": "A\u20acB"})", "mUserID: the character U+20AC is not one byte"},
        {R"({"mBatLimit": 600})", "mBatLimit holds 2 numbers: give them as an array"},
        {R"({"mBatLimit": [600]})", "mBatLimit holds 2 numbers"},
        {R"({"mBatLimit": [600, "x"]})", "mBatLimit holds whole numbers only"},
    };
    for (const auto &row : bad) {
        error.clear();
        EXPECT_FALSE(TemplateFieldsFromJson(Json(row.mJson), fields, error)) << row.mJson;
        EXPECT_EQ(error, row.mError) << row.mJson;
        EXPECT_TRUE(fields.empty());
    }
}

TEST_F(ConfigJobsTest, TheComparisonListsWhatWriteDeviceThenChanges)
{
    // What Write Device sends in the user layout: the default record with the user's fields.
    RTamselCFG sent = DefaultCFG();
    sent.mSensor.mAlarmLow = 120;
    std::memcpy(sent.mUnit.mUserID, "SITE-A", 6);
    const RTamselCFG before = ConfigOf(sim);

    const RCompare c = CompareBeforeWrite(t.session, screen, sent);
    ASSERT_TRUE(c.Ok());
    EXPECT_FALSE(c.mSensorMismatch);
    EXPECT_EQ(c.mLines, (std::vector<std::string>{"mUserID: \"CREW-B\" -> \"SITE-A\"", "mAlarmLow: 10.0 ppm -> 12.0 ppm",
                                                  "mCalInterval: 180 days -> 0 days", "mBumpInterval: 30 days -> 0 days"}));
    EXPECT_EQ(screen.StatusCaption(), "Read Norvik Information... OK");
    ASSERT_EQ(journal.records.size(), 1u);
    EXPECT_EQ(journal.records[0].mJob, kJobDiff);
    EXPECT_EQ(journal.records[0].mData.value(journal_data::kChanges).toArray().size(), 4);
    // Nothing was written.
    EXPECT_EQ(std::memcmp(&before, sim.Config().data(), sizeof before), 0);

    // Write Device with that record changes exactly those fields.
    WriteDevice(sent);
    std::vector<std::string> changed;
    for (const RConfigField *f : ChangedFields(before, ConfigOf(sim)))
        if (f->mShow != EFieldShow::kHexWord) // the detector reseals its blocks
            changed.push_back(f->mName);
    EXPECT_EQ(changed, (std::vector<std::string>{"mUserID", "mAlarmLow", "mCalInterval", "mBumpInterval"}));

    // The record's sensor is not the installed one: Write Device would stop with 148.
    sent.mSensor.mSensorType = 2;
    EXPECT_TRUE(CompareBeforeWrite(t.session, screen, sent).mSensorMismatch);
    t.session.UserMode = false; // the developer layout does not check
    EXPECT_FALSE(CompareBeforeWrite(t.session, screen, sent).mSensorMismatch);
}

TEST_F(ConfigJobsTest, RestoreWritesTheKeptConfigurationBackAfterItsDiff)
{
    const RTamselCFG original = ConfigOf(sim);
    RKeptConfig kept{41, "2024-05-01T10:00:00.000Z", "SH24031507", original};
    // The unit was changed since.
    WriteDevice(DefaultCFG());
    journal.records.clear();

    // Declined: nothing written.
    std::vector<std::string> shown;
    RRestoreResult r = RestoreConfiguration(t.session, screen, kept, [&](const std::vector<std::string> &lines) {
        shown = lines;
        return false;
    });
    EXPECT_EQ(r.mOutcome, ERestore::kDeclined);
    EXPECT_EQ(shown, (std::vector<std::string>{"mUserID: \"      \" -> \"CREW-B\"", "mCalInterval: 0 days -> 180 days",
                                               "mBumpInterval: 0 days -> 30 days"}));
    ASSERT_EQ(journal.records.size(), 1u);
    EXPECT_EQ(journal.records[0].mStatus, kStatusDeclined);

    // Yes: written, read back, the record keeps the configuration it replaced.
    const RTamselCFG replaced = ConfigOf(sim);
    r = RestoreConfiguration(t.session, screen, kept, [](const std::vector<std::string> &) { return true; });
    EXPECT_EQ(r.mOutcome, ERestore::kRestored);
    EXPECT_EQ(std::memcmp(&original, sim.Config().data(), sizeof original), 0);
    EXPECT_EQ(screen.StatusCaption(), "Write Norvik Information... OK");
    const RJobRecord &rec = journal.records.back();
    EXPECT_EQ(rec.mJob, kJobRestore);
    EXPECT_EQ(rec.mStatus, 0);
    EXPECT_EQ(rec.mData.value(journal_data::kReadBack).toString(), "equal");
    EXPECT_EQ(rec.mData.value(journal_data::kRestoredFrom).toObject().value("id").toInteger(), 41);
    EXPECT_EQ(rec.mData.value(journal_data::kBackup).toString().toStdString(),
              HexText(reinterpret_cast<const uint8_t *>(&replaced), sizeof replaced));

    // Again: nothing to do.
    EXPECT_EQ(RestoreConfiguration(t.session, screen, kept, {}).mOutcome, ERestore::kUnchanged);
    EXPECT_TRUE(journal.records.back().mData.value(journal_data::kUnchanged).toBool());
}

TEST_F(ConfigJobsTest, RestoreRefusesAnotherUnitAndReportsAFailingCell)
{
    RTamselCFG other = ConfigOf(sim);
    other.mSensor.mAlarmHigh = 180;
    sim.ClearRecords();
    RRestoreResult r = RestoreConfiguration(t.session, screen, {7, "", "SH00000001", other}, {});
    EXPECT_EQ(r.mOutcome, ERestore::kRefused);
    EXPECT_EQ(r.mWhy, "This detector is SH24031507; the configuration of record 7 was read from SH00000001.");
    EXPECT_EQ(screen.LastMessage().mCaption, kRestoreCaption);
    EXPECT_EQ(journal.records.back().mStatus, kStatusRefused);
    for (const auto &f : sim.ReceivedFrames())
        EXPECT_NE(f[0], wire::kOpWriteConfig);

    SimOptions o = sim.Options();
    o.corrupt_write = 64;
    sim.SetOptions(o);
    r = RestoreConfiguration(t.session, screen, {7, "", "SH24031507", other}, {});
    EXPECT_EQ(r.mOutcome, ERestore::kDiffers);
    EXPECT_EQ(r.mWhy, "mAlarmHigh");
    EXPECT_EQ(screen.LastMessage().mText, "The configuration read back differs from what was written in mAlarmHigh");
    EXPECT_EQ(journal.records.back().mStatus, kStatusNotDone);
    EXPECT_EQ(journal.records.back().mData.value(journal_data::kReadBack).toString(), "differs");
}

TEST_F(ConfigJobsTest, RestoreOfAnUnsafeKeptConfigurationIsRefusedBeforeAnythingIsSent)
{
    RTamselCFG inverted = ConfigOf(sim);
    inverted.mSensor.mAlarmLow = 500;
    inverted.mSensor.mAlarmHigh = 20;
    RTamselCFG beyond = ConfigOf(sim);
    beyond.mSensor.mAlarmHigh = 2000;
    const struct {
        const char *mName;
        RTamselCFG mConfig;
        const char *mWhy;
    } cases[] = {
        {"inverted alarms", inverted, "Low Alarm 50.0 ppm is above High Alarm 2.0 ppm."},
        {"beyond the sensor", beyond, "High Alarm 200.0 ppm is outside the range of the H2S sensor: 1.0 to 100.0 ppm."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.mName);
        sim.ClearRecords();
        journal.records.clear();
        const RRestoreResult r = RestoreConfiguration(t.session, screen, {9, "", "SH24031507", c.mConfig},
                                                      [](const std::vector<std::string> &) { return true; });
        EXPECT_EQ(r.mOutcome, ERestore::kRefused);
        EXPECT_EQ(r.mWhy.rfind(c.mWhy, 0), 0u) << r.mWhy;
        EXPECT_EQ(screen.LastMessage().mCaption, kAlarmOrderCaption);
        EXPECT_TRUE(sim.ReceivedFrames().empty());
        EXPECT_TRUE(journal.records.empty());
    }
}

TEST(ConfigWriteProblem, OneRuleInOrderWithTheSameTexts)
{
    const std::vector<RSensorType> types = BuiltInSensorTypes();
    RDeviceCFG settings;
    const auto cfg = [](uint8_t sensor, uint16_t low, uint16_t high) {
        RTamselCFG c = DefaultCFG();
        c.mSensor.mSensorType = sensor;
        c.mSensor.mAlarmLow = low;
        c.mSensor.mAlarmHigh = high;
        return c;
    };
    const struct {
        RTamselCFG mConfig;
        const char *mStart; // empty: may be written
    } cases[] = {
        {cfg(1, 100, 150), ""},
        {cfg(1, 150, 150), ""}, // equal alarms: the low one sounds with the high one
        {cfg(1, 151, 150), "Low Alarm 15.1 ppm is above High Alarm 15.0 ppm."},
        {cfg(1, 5, 150), "Low Alarm 0.5 ppm is outside the range of the H2S sensor: 1.0 to 100.0 ppm."},
        {cfg(2, 100, 3001), "High Alarm 300.1 ppm is outside the range of the CO sensor: 1.0 to 300.0 ppm."},
        {cfg(4, 195, 235), ""},
        {cfg(4, 235, 235), "Low Alarm 23.5 % is not below High Alarm 23.5 %."},
        {cfg(9, 100, 9000), ""}, // a sensor type the settings do not know: no range to judge by
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.mStart);
        const RConfigProblem problem = ConfigWriteProblem(settings, c.mConfig, types);
        EXPECT_EQ(problem.Found(), *c.mStart != '\0');
        EXPECT_EQ(problem.mText.rfind(c.mStart, 0), 0u) << problem.mText;
        // The order check's own text, as Write Device shows it.
        if (problem.mText.find(" is above ") != std::string::npos) {
            EXPECT_EQ(problem.mText, AlarmOrderProblem(c.mConfig, types));
        }
    }
    // The settings come first: write ranges that leave the record.
    settings.mUnitWriteUserStart = 200;
    const RConfigProblem problem = ConfigWriteProblem(settings, cfg(1, 151, 150), types);
    EXPECT_TRUE(problem.mBadSettings);
    EXPECT_EQ(problem.mCaption, kWriteRangeCaption);
}

TEST_F(ConfigJobsTest, TheRecordOfACompareOrRestoreNamesItsOwnJobNotTheReadInside)
{
    RConfigTemplate tpl;
    tpl.mName = "FLEET-A";
    const RKeptConfig kept{41, "2024-05-01T10:00:00.000Z", "SH24031507", ConfigOf(sim)};
    struct RCase {
        const char *mJob;
        std::function<bool()> mRun;
        const char *mStatusBar;
        const char *mText;
    };
    const RCase cases[] = {
        {kJobDiff, [&] { return CompareBeforeWrite(t.session, screen, ConfigOf(sim)).Ok(); },
         "Read Norvik Information... OK", "Compare with the detector... OK"},
        {kJobTemplateDiff, [&] { return CompareWithTemplate(t.session, screen, tpl).Ok(); },
         "Read Norvik Information... OK", "Compare template FLEET-A with the detector... OK"},
        {kJobRestore,
         [&] {
             WriteDevice(DefaultCFG());
             journal.records.clear();
             return RestoreConfiguration(t.session, screen, kept, [](const std::vector<std::string> &) {
                        return true;
                    }).mOutcome == ERestore::kRestored;
         },
         "Write Norvik Information... OK", "Restore Configuration... OK"},
    };
    for (const RCase &c : cases) {
        journal.records.clear();
        ASSERT_TRUE(c.mRun()) << c.mJob;
        // The status bar still tells of the step; the record of the job.
        EXPECT_EQ(screen.StatusCaption(), c.mStatusBar) << c.mJob;
        ASSERT_EQ(journal.records.size(), 1u) << c.mJob;
        EXPECT_EQ(journal.records[0].mJob, c.mJob);
        EXPECT_EQ(journal.records[0].mText, c.mText);
    }
}
