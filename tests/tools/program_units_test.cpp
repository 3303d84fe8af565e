// Programming units one after another against the simulated detector, whose
// unit a test technician swaps: presented, programmed, taken away, next.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/journal.h"
#include "link/wire.h"
#include "sim/sim_detector.h"
#include "tools/program_units.h"
#include "tools_fixture.h"

using namespace toolstest;

namespace {

struct RUnit {
    std::string mSerial;
    int mCorruptAt = -1;   // a failing memory cell
    uint8_t mSensor = 1;
    uint16_t mAlarmHigh = 150;
};

RConfigTemplate Template(std::vector<std::pair<const char *, RFieldValue>> fields, uint8_t sensor = 1)
{
    RConfigTemplate tpl;
    tpl.mName = "site-a";
    tpl.mVersion = 2;
    tpl.mHash = std::string(64, 'a');
    tpl.mSensor = sensor;
    for (auto &[name, value] : fields)
        tpl.mFields.push_back({FindConfigField(name), value});
    return tpl;
}

// The alarm at 20.0 and the user ID of the site: two fields, one range each.
RConfigTemplate SiteTemplate() { return Template({{"mUserID", {{}, "SITE-A"}}, {"mAlarmHigh", {{200}, ""}}}); }

// The person at the bench: presents the next unit when the run looks for
// one, takes a unit away some seconds after it is done.
class TTechnician : public IProgramView {
public:
    TTechnician(SimDetector &sim, TFakeToolClock &clock, std::vector<RUnit> units)
        : FSim(sim), FClock(clock), FUnits(std::move(units))
    {
        Away();
    }
    void WaitingForUnit(int number) override
    {
        waits.push_back({number, FClock.Seconds()});
        if (number - 1 < static_cast<int>(FUnits.size()))
            Present(FUnits[static_cast<size_t>(number - 1)]);
    }
    void UnitDone(const RUnitReport &report) override
    {
        reports.push_back(report);
        beeps.push_back(FSim.CommandCount(wire::kAvBeep));
        doneAt = FClock.Seconds();
    }
    void Finished(const RProgramSummary &s) override
    {
        finished = true;
        summary = s;
    }
    // Takes the unit away once it has lain there `holdSeconds` after it was done.
    void Tick(double holdSeconds)
    {
        if (doneAt >= 0 && FClock.Seconds() >= doneAt + holdSeconds) {
            Away();
            doneAt = -1;
        }
    }

    std::vector<std::pair<int, double>> waits; // unit looked for, at clock seconds
    std::vector<RUnitReport> reports;
    std::vector<int> beeps; // beeps heard by each unit
    bool finished = false;
    RProgramSummary summary;
    double doneAt = -1;

private:
    void Away()
    {
        SimOptions o = FSim.Options();
        o.absent = true;
        FSim.SetOptions(o);
    }
    void Present(const RUnit &unit)
    {
        SimOptions o = FSim.Options();
        o.absent = false;
        o.corrupt_write = unit.mCorruptAt;
        o.serial = unit.mSerial;
        o.sensor_code = unit.mSensor;
        SimDetector fresh(o); // a unit as it leaves the factory, with its serial
        auto config = fresh.Config();
        config[64] = static_cast<uint8_t>(unit.mAlarmHigh);
        config[65] = static_cast<uint8_t>(unit.mAlarmHigh >> 8);
        SimSealBlock(config, kSimSensorBlock);
        FSim.SetConfig(config);
        FSim.SetIdentity(fresh.Identity());
        FSim.SetOptions(o);
        FSim.ClearRecords();
    }

    SimDetector &FSim;
    TFakeToolClock &FClock;
    std::vector<RUnit> FUnits;
};

class ProgramUnitsTest : public ::testing::Test {
protected:
    ProgramUnitsTest() : sim(t.StartSim({})), journal(t.CaptureJournal()) { t.session.UseClock(clock); }

    // Passes until the run is finished (at most `passes`), the technician
    // taking each unit away after `holdSeconds`.
    void Drive(TProgramRun &run, TTechnician &tech, double holdSeconds = 2.5, int passes = 200)
    {
        for (int i = 0; i < passes && !run.Finished(); ++i) {
            const TDateTime due = run.Pass();
            if (!run.Finished())
                clock.SleepUntil(due);
            tech.Tick(holdSeconds);
        }
    }

    int Writes() const
    {
        int n = 0;
        for (const auto &f : sim.ReceivedFrames())
            n += f.size() == 3 && f[0] == wire::kOpWriteConfig;
        return n;
    }

    TTestSession t;
    SimDetector &sim;
    TCapturingJournal &journal;
    TFakeToolClock clock;
    TFakeScreen screen;
    RProgramKnobs knobs{3, 1.0, 3.0, 0.02f, 0.0};
};

} // namespace

TEST_F(ProgramUnitsTest, EachUnitIsProgrammedReadBackAndWaitedForUntilTakenAway)
{
    TTechnician tech(sim, clock, {{"FL0001"}, {"FL0002", -1, 1, 200}, {"FL0003"}});
    TProgramRun run(t.session, screen, tech, SiteTemplate(), knobs);
    ASSERT_EQ(run.Refusal(), "");
    Drive(run, tech);

    ASSERT_TRUE(tech.finished);
    ASSERT_EQ(tech.reports.size(), 3u);
    std::vector<std::string> lines;
    for (const RUnitReport &r : tech.reports)
        lines.push_back(UnitLine(r, 3));
    EXPECT_EQ(lines, (std::vector<std::string>{"FL00010000 programmed (2 fields changed) [1/3]",
                                               "FL00020000 programmed (1 field changed) [2/3]",
                                               "FL00030000 programmed (2 fields changed) [3/3]"}));
    EXPECT_EQ(tech.reports[0].mDiff,
              (std::vector<std::string>{"mUserID: \"      \" -> \"SITE-A\"", "mAlarmHigh: 15.0 ppm -> 20.0 ppm"}));
    EXPECT_EQ(SummaryLine(tech.summary), "programmed 3, unchanged 0, failed 0");

    // The next unit is looked for only once the last one stopped answering
    // for three seconds (it went at +2.5 s, its last answer came at +2 s).
    ASSERT_EQ(tech.waits.size(), 3u);
    EXPECT_NEAR(tech.waits[1].second - tech.waits[0].second, 5.0, 1e-3);

    // Only the bytes of the template's fields changed; each unit beeped.
    auto config = sim.Config();
    EXPECT_EQ(std::string(config.begin() + 1, config.begin() + 7), "SITE-A");
    EXPECT_EQ(config[64] | config[65] << 8, 200);
    EXPECT_EQ(tech.beeps, (std::vector<int>{1, 1, 1}));

    ASSERT_EQ(journal.records.size(), 3u);
    for (const RJobRecord &rec : journal.records) {
        EXPECT_EQ(rec.mJob, kJobProgram);
        EXPECT_EQ(rec.mStatus, 0);
        EXPECT_EQ(rec.mData.value(journal_data::kReadBack).toString(), "equal");
        EXPECT_EQ(rec.mData.value(journal_data::kTemplate).toObject().value("version").toInt(), 2);
        EXPECT_EQ(rec.mData.value(journal_data::kBackup).toString().size(), 256);
    }
    EXPECT_EQ(journal.records[1].mText, "FL00020000 programmed (1 field changed)");
    const QJsonArray changes = journal.records[1].mData.value(journal_data::kChanges).toArray();
    ASSERT_EQ(changes.size(), 1);
    EXPECT_EQ(changes[0].toObject().value("field").toString(), "mUserID");
    EXPECT_EQ(changes[0].toObject().value("after").toString(), "SITE-A");
}

TEST_F(ProgramUnitsTest, EqualUnitsAreNotWrittenAndFailuresDoNotStopTheRun)
{
    RConfigTemplate tpl = SiteTemplate();
    tpl.mFields.pop_back(); // the user ID only: the sensor does not matter
    RConfigTemplate levels = SiteTemplate();
    const struct {
        const char *mName;
        RConfigTemplate mTemplate;
        RUnit mUnit;
        const char *mLine;
        uint8_t mStatus;
        int mWrites;
        int mBeeps;
    } rows[] = {
        {"equal already", Template({{"mAlarmHigh", {{150}, ""}}}), {"FL0010"},
         "FL00100000 unchanged (already equal) [1/1]", 0, 0, 1},
        {"a failing cell", levels, {"FL0011", 65},
         "FL00110000 failed: read-back differs in mAlarmHigh [1/1]", 68, 2, 0},
        {"levels for another sensor", levels, {"FL0012", -1, 2},
         "FL00120000 failed: status 148 (Check sensor type and Alarm setting): the template's levels are for "
         "sensor 1 (H2S), this unit has 2 (CO) [1/1]",
         148, 0, 0},
        {"no levels: any sensor", tpl, {"FL0013", -1, 4}, "FL00130000 programmed (1 field changed) [1/1]", 0, 1, 1},
        // The template's low alarm over this unit's own high one: the unit's record is judged before the write.
        {"a low alarm above the unit's high alarm", Template({{"mAlarmLow", {{500}, ""}}}), {"FL0014"},
         "FL00140000 failed: Low Alarm 50.0 ppm is above High Alarm 15.0 ppm. The detector would sound its high "
         "alarm before its low one. Set the Low Alarm at or below the High Alarm. Nothing was sent. [1/1]",
         67, 0, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.mName);
        journal.records.clear();
        TTechnician tech(sim, clock, {row.mUnit});
        RProgramKnobs one = knobs;
        one.mCount = 1;
        TProgramRun run(t.session, screen, tech, row.mTemplate, one);
        Drive(run, tech);
        ASSERT_EQ(tech.reports.size(), 1u);
        EXPECT_EQ(UnitLine(tech.reports[0], 1), row.mLine);
        EXPECT_EQ(Writes(), row.mWrites);
        EXPECT_EQ(sim.CommandCount(wire::kAvBeep), row.mBeeps);
        ASSERT_EQ(journal.records.size(), 1u);
        EXPECT_EQ(journal.records[0].mStatus, row.mStatus);
        EXPECT_EQ(journal.records[0].mData.contains(journal_data::kUnchanged), row.mWrites == 0 && row.mStatus == 0);
    }
    // The failed read-back names the field on the record too.
    TTechnician tech(sim, clock, {{"FL0020", 65}, {"FL0021"}});
    TProgramRun run(t.session, screen, tech, SiteTemplate(), RProgramKnobs{2, 1.0, 3.0, 0.02f, 0.0});
    Drive(run, tech);
    EXPECT_EQ(SummaryLine(tech.summary), "programmed 1, unchanged 0, failed 1");
    EXPECT_EQ(journal.records.back().mStatus, 0);
    const RJobRecord &failed = journal.records[journal.records.size() - 2];
    EXPECT_EQ(failed.mData.value(journal_data::kReadBack).toString(), "differs");
    EXPECT_EQ(failed.mData.value(journal_data::kReadBackFields).toArray().first().toString(), "mAlarmHigh");
}

TEST_F(ProgramUnitsTest, RefusedBeforeTheFirstUnitAndStoppedWhileWaiting)
{
    // mSerial lies in no write range of the user layout.
    TTechnician tech(sim, clock, {{"FL0030"}});
    TProgramRun refused(t.session, screen, tech, Template({{"mSerial", {{}, "X"}}, {"mAlarmLow", {{90}, ""}}}), knobs);
    EXPECT_EQ(refused.Refusal(), "mSerial lies outside every write range of the settings in force");
    EXPECT_EQ(refused.Pass(), kDueNever);
    EXPECT_TRUE(tech.finished);
    EXPECT_TRUE(sim.ReceivedFrames().empty());
    EXPECT_EQ(TProgramRun(t.session, screen, tech, Template({}), knobs).Refusal(), "template site-a sets no field");

    // What Write Device refuses, program refuses before the first unit: the
    // same checks, the same texts.
    const struct {
        const char *mName;
        RConfigTemplate mTemplate;
        const char *mRefusal;
    } unsafe[] = {
        {"inverted alarms", Template({{"mAlarmLow", {{500}, ""}}, {"mAlarmHigh", {{20}, ""}}}),
         "template site-a: Low Alarm 50.0 ppm is above High Alarm 2.0 ppm. The detector would sound its high alarm "
         "before its low one. Set the Low Alarm at or below the High Alarm. Nothing was sent."},
        {"beyond the sensor's range", Template({{"mAlarmHigh", {{2000}, ""}}}),
         "template site-a: High Alarm 200.0 ppm is outside the range of the H2S sensor: 1.0 to 100.0 ppm. Set the "
         "alarms within the sensor's range. Nothing was sent."},
        {"oxygen: low not below high", Template({{"mAlarmLow", {{235}, ""}}, {"mAlarmHigh", {{195}, ""}}}, 4),
         "template site-a: Low Alarm 23.5 % is not below High Alarm 19.5 %. For oxygen the Low Alarm is the level the "
         "reading falls to, the High Alarm the level it rises to. Set the Low Alarm below the High Alarm. Nothing was "
         "sent."},
    };
    for (const auto &u : unsafe) {
        SCOPED_TRACE(u.mName);
        TTechnician waiting(sim, clock, {{"FL0031"}});
        TProgramRun run(t.session, screen, waiting, u.mTemplate, knobs);
        EXPECT_EQ(run.Refusal(), u.mRefusal);
        EXPECT_EQ(run.Pass(), kDueNever);
        EXPECT_TRUE(waiting.reports.empty());
    }
    EXPECT_TRUE(sim.ReceivedFrames().empty());

    // Nobody presents a unit: the run tries once a second, quietly, and a
    // stop ends it before any unit.
    TTechnician nobody(sim, clock, {});
    TProgramRun run(t.session, screen, nobody, SiteTemplate(), knobs);
    const double start = clock.Seconds();
    for (int i = 0; i < 5; ++i)
        clock.SleepUntil(run.Pass());
    EXPECT_NEAR(clock.Seconds() - start, 5.0, 1e-3);
    run.Stop();
    EXPECT_EQ(run.Pass(), kDueNever);
    EXPECT_TRUE(nobody.finished);
    EXPECT_EQ(nobody.summary.Units(), 0);
    EXPECT_TRUE(journal.records.empty());
    EXPECT_TRUE(screen.messages.empty());
}
