// The detector object's steps against the simulated detector: the one retry
// rule, the product check before anything is read, a configuration that
// changes only when both blocks arrived, and Write Device's write stopping
// before the first byte for a sensor that is not installed.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "app/cfg_actions.h"
#include "app/detector.h"
#include "app/device_actions.h"
#include "app/device_job.h"
#include "app/journal.h"
#include "link/wire.h"
#include "files/cfg_file.h"
#include "model/config_form.h"
#include "model/config_record.h"
#include "sim/sim_detector.h"
#include "support/fake_screen.h"
#include "support/test_session.h"

namespace {

struct RDetectorRow {
    const char *name;
    std::function<void(SimOptions &)> setup;
    bool write;          // WriteConfig of the detector's own record; else ReadConfiguration
    uint8_t status;      // what the step returns
    int handled;         // requests of that kind the detector carried out; -1: as in a clean run
    uint8_t counted;     // the request counted (a refused one is not carried out)
    bool nothingWritten; // no configuration byte reached the detector
};

} // namespace

TEST(DetectorTest, RetriesProductCheckAndWhatChanges)
{
    const RDetectorRow rows[] = {
        {"read at once", [](SimOptions &) {}, false, 0, -1, wire::kOpSelectUnitBlock, true},
        {"unit block refused twice, read on the third",
         [](SimOptions &o) { o.faults[wire::kOpSelectUnitBlock] = {SimFault::kNak, 2}; }, false, 0, -1,
         wire::kOpSelectUnitBlock, true},
        {"unit block refused three times: no fourth try",
         [](SimOptions &o) { o.faults[wire::kOpSelectUnitBlock] = {SimFault::kNak, 3}; }, false, wire::kStatusNak, 0,
         wire::kOpSelectUnitBlock, true},
        {"sensor block refused three times: the last status counts",
         [](SimOptions &o) { o.faults[wire::kOpSelectSensorBlock] = {SimFault::kNak, -1}; }, false,
         wire::kStatusNak, 0, wire::kOpSelectSensorBlock, true},
        {"another product: no block asked for", [](SimOptions &o) { o.product_id = 3; }, false,
         wire::kStatusWrongProduct, 0, wire::kOpSelectUnitBlock, true},
        {"write at once", [](SimOptions &) {}, true, 0, -1, wire::kOpWriteConfig, false},
        {"write refused twice per first range, done on the third",
         [](SimOptions &o) { o.faults[wire::kOpWriteConfig] = {SimFault::kNak, 2}; }, true, 0, -1,
         wire::kOpWriteConfig, false},
        {"record for a sensor that is not installed (user layout)", [](SimOptions &o) { o.sensor_code = 2; }, true,
         kStatusSensorMismatch, 0, wire::kOpWriteConfig, true},
    };
    for (const RDetectorRow &row : rows) {
        SCOPED_TRACE(row.name);
        TTestSession t;
        SimOptions options = SimDemoOptions();
        row.setup(options);
        SimDetector &sim = t.StartSim(options);
        TFakeScreen screen;
        TDetector detector(t.session);

        // The record held before: a read must leave it as it is unless both blocks came.
        RTamselCFG cfg = DefaultCFG();
        std::memset(cfg.mUnit.mSerial, 'X', sizeof cfg.mUnit.mSerial);
        const RTamselCFG before = cfg;
        RTamselCFG record{};
        const auto held = sim.Config();
        std::memcpy(&record, held.data(), sizeof record);
        record.mSensor.mSensorType = 1;

        uint8_t status = 0xFF;
        RunJob(t.session, screen, {kJobRead, "Step", [&] {
                   if (!row.write)
                       return status = detector.ReadConfiguration(cfg);
                   RTamselIdenty identity{};
                   status = detector.Connect(identity);
                   if (status == 0)
                       status = detector.WriteConfig(record, identity);
                   return status;
               }});
        EXPECT_EQ(status, row.status);
        const int clean = row.write ? static_cast<int>(CFGWriteRanges(t.session.DeviceCFG).size()) : 1;
        EXPECT_EQ(sim.CommandCount(row.counted), row.handled < 0 ? clean : row.handled);
        if (!row.write) {
            EXPECT_EQ(std::memcmp(&cfg, &before, sizeof cfg) == 0, status != 0) << "a read changes the record only whole";
        }
        if (row.nothingWritten) {
            EXPECT_EQ(sim.Config(), held) << "configuration bytes were written";
        }
    }
}

TEST(DetectorTest, RetriedStopsAtTheFirstSuccessAndKeepsTheLastStatus)
{
    const struct {
        std::vector<uint8_t> answers;
        int attempts;
        uint8_t status;
        int calls;
    } rows[] = {
        {{0}, 3, 0, 1},
        {{5, 0}, 3, 0, 2},
        {{5, 6, 7, 0}, 3, 7, 3},
        {{5, 6}, 1, 5, 1},
    };
    for (const auto &row : rows) {
        int calls = 0;
        const uint8_t status = TDetector::Retried([&] { return row.answers[static_cast<size_t>(calls++)]; }, row.attempts);
        EXPECT_EQ(status, row.status);
        EXPECT_EQ(calls, row.calls);
    }
}

// The command line builds the record it writes without the window's editors:
// it must be the record the window's Read File and Write Device build from
// the same file, in both layouts, a life remaining cut at 730 days included.
TEST(DetectorTest, ARecordThroughTheViewIsTheWindowsRecord)
{
    const struct {
        const char *name;
        bool userMode;
        uint32_t lifeSeconds;
    } rows[] = {
        {"user layout", true, 86400u * 100},
        {"developer layout", false, 86400u * 100},
        {"developer layout, life above 730 days", false, 86400u * 800},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        TTestSession t;
        t.session.UserMode = row.userMode;
        RTamselCFG cfg = DefaultCFG();
        cfg.mSensor.mSensorType = 1;
        cfg.mSensor.mAlarmLow = 100;
        cfg.mSensor.mAlarmHigh = 150;
        cfg.mUnit.mLifeRemaining = row.lifeSeconds;
        const std::string path = t.Path("unit.cfg");
        ASSERT_TRUE(WriteConfigFile(path, cfg, !row.userMode));

        // The window's way: Read File into its state, then Write Device's build.
        TFakeScreen window;
        window.openFiles.push_back(path);
        RMainState state;
        StartConfigView(state.FForm, state.FTamselCFG, t.session.SensorTypes);
        ASSERT_EQ(ReadConfigFileAction(t.session, window, state), EFileOutcome::Done);
        ViewToMainState(t.session, state, window, true);

        // The command line's way.
        TFakeScreen cli;
        cli.openFiles.push_back(path);
        RTamselCFG built = DefaultCFG();
        ASSERT_EQ(ReadConfigFile(t.session, cli, built), EFileOutcome::Done);
        RecordThroughView(t.session, built, 0, true, &cli);
        EXPECT_EQ(std::memcmp(&built, &state.FTamselCFG, sizeof built), 0) << "the two ways build different records";
        EXPECT_EQ(cli.messages.size(), window.messages.size()) << "the life box is shown by one way only";
        if (row.lifeSeconds > 86400u * 730 && !row.userMode) {
            EXPECT_EQ(cli.messages.size(), 1u) << "the life remaining was not cut";
        }

        RTamselCFG quiet{};
        TFakeScreen diff;
        diff.openFiles.push_back(path);
        ASSERT_EQ(ReadConfigFileForDetector(t.session, diff, quiet), EFileOutcome::Done);
        EXPECT_EQ(std::memcmp(&quiet, &built, sizeof quiet), 0);
        EXPECT_TRUE(diff.messages.empty());
    }
}
