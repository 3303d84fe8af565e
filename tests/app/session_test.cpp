// The session: which device its link talks to, which store and journal its
// jobs use, and that a job framed on it reports through them alone.
#include <gtest/gtest.h>

#include <QtGlobal>

#include <cstdlib>
#include <optional>
#include <string>

#include "app/device_job.h"
#include "app/journal.h"
#include "app/session.h"
#include "app/user_store.h"
#include "link/tamsel_comms.h"
#include "support/fake_screen.h"
#include "support/test_session.h"

namespace {

// BEAMPORT_PORT as the test needs it, put back afterwards.
class TPortVariable {
public:
    explicit TPortVariable(const char *value)
    {
        if (const char *old = std::getenv("BEAMPORT_PORT"))
            FOld = old;
        if (value)
            qputenv("BEAMPORT_PORT", value);
        else
            qunsetenv("BEAMPORT_PORT");
    }
    ~TPortVariable()
    {
        if (FOld)
            qputenv("BEAMPORT_PORT", FOld->c_str());
        else
            qunsetenv("BEAMPORT_PORT");
    }

private:
    std::optional<std::string> FOld;
};

} // namespace

TEST(SessionTest, PortChoiceIsTheOptionThenTheSimulatorThenTheEnvironment)
{
    const struct {
        const char *option, *simulator, *environment;
        std::string chosen; // empty: discovery
    } rows[] = {
        {"/dev/ttyUSB3", "/dev/pts/9", "/dev/from-env", "/dev/ttyUSB3"},
        {"", "/dev/pts/9", "/dev/from-env", "/dev/pts/9"},
        {"", "", "/dev/from-env", "/dev/from-env"},
        {"", "", "", ""},
        {"", "", nullptr, ""},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.chosen);
        const TPortVariable variable(r.environment);
        TTestSession t;
        t.session.ChoosePort(r.option, r.simulator);
        EXPECT_EQ(t.link.PortChoice(), r.chosen);
    }
}

TEST(SessionTest, AJobReportsToTheSessionsJournalAndNoOther)
{
    TTestSession a, b;
    TCapturingJournal &journalA = a.CaptureJournal();
    TCapturingJournal &journalB = b.CaptureJournal();
    SimOptions options;
    options.calibration_ms = 0;
    a.StartSim(options);
    a.session.DeviceCFG.mConnectTime = 1500;
    TFakeScreen screen;
    const ROpResult op = RunJob(a.session, screen, {kJobFactoryReset, "Fatory Reset", [&] {
                                                        return a.link.FactoryReset();
                                                    }});
    EXPECT_TRUE(op.Ok());
    ASSERT_EQ(journalA.records.size(), 1u);
    EXPECT_EQ(journalA.records[0].mText, "Fatory Reset... OK");
    EXPECT_TRUE(journalB.records.empty());

    // Records off again (the journal goes with them): the job runs the same, with no notice.
    a.session.SetJournal(nullptr);
    EXPECT_TRUE(RunJob(a.session, screen, {kJobFactoryReset, "Fatory Reset", [&] { return a.link.FactoryReset(); }})
                    .Ok());
    EXPECT_EQ(screen.StatusCaption(), "Fatory Reset... OK");
    EXPECT_TRUE(screen.journalWarnings.empty());
    EXPECT_TRUE(journalB.records.empty());
}

TEST(SessionTest, FramesWordTheRecordAsTheStatusBarShowsIt)
{
    // A quiet frame leaves no text; a failed one its result; an aborted one the busy text and the error.
    TTestSession t;
    TCapturingJournal &journal = t.CaptureJournal();
    t.session.DeviceCFG.mConnectTime = 300;
    SimOptions absent;
    absent.absent = true;
    t.StartSim(absent);
    TFakeScreen screen;
    const struct {
        const char *prefix;
        bool quiet;
        bool vanish; // the port is gone before the frame
        std::string text;
        bool error;
    } rows[] = {
        {"Load Identify", false, false, "Load Identify... Norvik Dis-Connect", false},
        {"", true, false, "", false},
        {"Load Identify", false, true, "Load Identify...", true},
        {"", true, true, "", true},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.text);
        if (r.vanish)
            t.UsePort(t.Path("gone-tty"));
        journal.records.clear();
        const ROpResult op = RunJob(t.session, screen, {kJobIdentify, r.prefix, [] { return uint8_t{0}; }});
        EXPECT_EQ(op.mAborted, r.vanish);
        ASSERT_EQ(journal.records.size(), 1u);
        EXPECT_EQ(journal.records[0].mText, r.text);
        EXPECT_EQ(journal.records[0].mData.contains(QStringLiteral("error")), r.error);
    }
}

TEST(SessionTest, StoreFileCanBeChangedForALaterRun)
{
    TTestSession t;
    t.session.Store().SetSaveDirectory(TStoreGroup::EVENT, "/first");
    t.session.UseStoreFile(t.Path("other.conf"));
    EXPECT_EQ(t.session.Store().SaveDirectory(TStoreGroup::EVENT), "");
    t.session.Store().SetSaveDirectory(TStoreGroup::EVENT, "/second");
    EXPECT_EQ(TUserStore(t.Path("store.conf")).SaveDirectory(TStoreGroup::EVENT), "/first");
    EXPECT_EQ(TUserStore(t.Path("other.conf")).SaveDirectory(TStoreGroup::EVENT), "/second");
}
