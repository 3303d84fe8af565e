// The event log: parse (stride, end marker, bounds), sort, the CSV rows and
// header, and the whole Save Event Log action against the simulated detector.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <unistd.h>

#include "app/app_state.h"
#include "app/status.h"
#include "app/user_store.h"
#include "app/event_log_job.h"
#include "link/wire.h"
#include "sim/sim_detector.h"
#include "support/fake_screen.h"
#include "support/test_session.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Entry(uint32_t start, uint16_t duration = 60, uint8_t flags = 0, int16_t reading = 100)
{
    Bytes b(9);
    std::memcpy(b.data(), &start, 4);
    std::memcpy(b.data() + 4, &duration, 2);
    b[6] = flags;
    std::memcpy(b.data() + 7, &reading, 2);
    return b;
}
const Bytes kEnd(9, 0xFF);

RComTamselReadBuf Carrier(const std::vector<Bytes> &entries, int stride = 9)
{
    RComTamselReadBuf buf;
    for (const Bytes &e : entries) {
        std::memcpy(buf.mBuf + buf.mData, e.data(), e.size());
        buf.mData += stride;
    }
    return buf;
}

std::vector<uint32_t> Starts(const std::vector<RTamselEvent> &events)
{
    std::vector<uint32_t> out;
    for (const auto &e : events)
        out.push_back(+e.mStartEvent);
    return out;
}

// 2020-03-01 14:05:09 as a day count.
const TDateTime kT = 43891.0 + (14 * 3600 + 5 * 60 + 9) / 86400.0;

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            lines.push_back(text.substr(at) + "<no CR LF>");
            break;
        }
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

std::string ReadText(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

TEST(EventLogParseTest, EndMarkerStrideAndBounds)
{
    // The marker ends the log; a valid entry after it is never shown.
    EXPECT_EQ(Starts(ParseEventLog(Carrier({Entry(10), Entry(20), kEnd, Entry(30)}), 9)),
              (std::vector<uint32_t>{10, 20}));
    EXPECT_TRUE(ParseEventLog(Carrier({kEnd, Entry(30)}), 9).empty());

    // mData 90 and 95 both examine ten entries; 89 only nine.
    std::vector<Bytes> eleven;
    for (uint32_t i = 1; i <= 11; ++i)
        eleven.push_back(Entry(i));
    RComTamselReadBuf buf = Carrier(eleven);
    for (auto [data, count] : {std::pair{90, 10u}, {95, 10u}, {89, 9u}, {0, 0u}, {-1, 0u}}) {
        SCOPED_TRACE(data);
        buf.mData = data;
        EXPECT_EQ(ParseEventLog(buf, 9).size(), count);
    }

    // A wider stride skips the padding between entries.
    RComTamselReadBuf wide = Carrier({Entry(7), Entry(8), Entry(9)}, 12);
    EXPECT_EQ(Starts(ParseEventLog(wide, 12)), (std::vector<uint32_t>{7, 8, 9}));
    EXPECT_TRUE(ParseEventLog(wide, 0).empty());

    // A narrow stride never reads past the bytes received.
    RComTamselReadBuf narrow;
    narrow.mData = 10;
    std::memset(narrow.mBuf + 10, 0xEE, 100); // not received
    EXPECT_EQ(ParseEventLog(narrow, 5).size(), 1u);

    // A count beyond the carrier is taken as the carrier: 113 whole entries.
    RComTamselReadBuf full;
    full.mData = 5000;
    EXPECT_EQ(ParseEventLog(full, 9).size(), 113u);
}

TEST(EventLogParseTest, SortPutsTheOldestFirst)
{
    std::vector<RTamselEvent> events = ParseEventLog(Carrier({Entry(5000), Entry(9000), Entry(7000)}), 9);
    SortEventLog(events);
    EXPECT_EQ(Starts(events), (std::vector<uint32_t>{9000, 7000, 5000}));

    // Unsigned comparison: a start above 0x7FFFFFFF is the oldest.
    events = ParseEventLog(Carrier({Entry(1), Entry(0x80000000u), Entry(2), Entry(0xFFFFFFFEu)}), 9);
    SortEventLog(events);
    EXPECT_EQ(Starts(events), (std::vector<uint32_t>{0xFFFFFFFEu, 0x80000000u, 2, 1}));
}

TEST(EventLogTextTest, Rows)
{
    const uint32_t life = 1000000;
    struct Row {
        RTamselEvent e;
        std::string text;
    } rows[] = {
        {{life, 90, 0x04, 255}, "2020-03-01,14:05:09,NO,0:01:30,25.5,LOW Alarm "},
        {{life + 86400, 0x803C, 0x00, 10}, "2020-02-29,14:05:09,YES,0:01:00,1.0,"},
        {{life, 0x0E10, 0x0C, -5}, "2020-03-01,14:05:09,NO,1:00:00,-0.5,LOW Alarm HIGH Alarm "},
        {{life, 0, 0x08, 0x7FFF}, "2020-03-01,14:05:09,NO,0:00:00,O.L.,HIGH Alarm "},
        {{life, 0xFFFF, 0xF3, 0}, "2020-03-01,14:05:09,YES,9:06:07,0.0,"},
        {{life + 3661, 1, 0, 0}, "2020-03-01,13:04:08,NO,0:00:01,0.0,"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.text);
        EXPECT_EQ(EventLogRow(r.e, life, kT), r.text);
    }

    // One second "newer" than now wraps to 4294967295 seconds earlier.
    const RTamselEvent wrapped{life - 1, 0, 0, 0};
    EXPECT_NEAR((kT - EventTime(wrapped, life, kT)) * 86400.0, 4294967295.0, 0.01);
    EXPECT_EQ(EventLogRow(wrapped, life, kT).substr(0, 19), "1884-01-24,07:36:54");
}

TEST(EventLogTextTest, HeaderAndWholeFile)
{
    RTamselCFG cfg = DefaultCFG();
    std::memcpy(cfg.mUnit.mSerial, "SH10000123", 10);
    std::memcpy(cfg.mUnit.mUserID, "AB    ", 6);
    cfg.mUnit.mFWVersion = 14;
    cfg.mUnit.mLifeRemaining = 3 * 2628000 + 11 * 86400 + 5; // 3 months 12 days
    cfg.mUnit.mAlarmCount = 7;
    cfg.mUnit.mAlarmTime = 3725;
    cfg.mUnit.mTestCount = 42;
    const std::vector<RTamselEvent> events = {{cfg.mUnit.mLifeRemaining, 90, 0, 255}};
    const std::string text = EventLogText(cfg, events, kT);
    EXPECT_EQ(Lines(text), (std::vector<std::string>{
                               "Product Name,Norvik",
                               "Log Type,Event Log",
                               "Serial Number,SH10000123",
                               "Firmware Version,1.4",
                               "ID,AB    ",
                               "Life Remaining,3months 12 days",
                               "Total Number of Events,7",
                               "Duration of events,1:02:05",
                               "Number of self-tests,42",
                               "",
                               "Event Date,Event Time,BumpTest,Duration(seconds),Sensor Reading,Alarm",
                               "2020-03-01,14:05:09,NO,0:01:30,25.5,",
                           }));
    EXPECT_EQ(text.back(), '\n');

    EXPECT_EQ(EventLifeText(0), "1 days");
    EXPECT_EQ(EventLifeText(2 * 2628000 - 10), "2months 0 days");
    // A serial with a zero byte ends there, in the header and the proposed name.
    std::memcpy(cfg.mUnit.mSerial, "AB/D\0FGHIJ", 10);
    EXPECT_EQ(Lines(EventLogText(cfg, {}, kT))[2], "Serial Number,AB/D");
    EXPECT_EQ(EventLogFileName(cfg, kT), "AB_D_LOG_200301140509.CSV");
}

namespace {

class EventLogActionTest : public ::testing::Test, protected TTestSession {
protected:
    void SetUp() override
    {
        session.DeviceCFG.mConnectTime = 2000;
        session.DeviceCFG.mEVENTSaveDir = "/before";
        StartSim();
    }
    // What a later run finds in the store file.
    std::string Remembered() const { return TUserStore(Path("store.conf")).SaveDirectory(TStoreGroup::EVENT); }

    TFakeScreen screen;
    RMainState state;
};

} // namespace

TEST_F(EventLogActionTest, DownloadsSortsAndWritesTheFile)
{
    const uint32_t life = sim->Identity().mLife;
    Bytes log;
    for (const Bytes &e : {Entry(life + 3600, 30, 0x04, 120), Entry(life + 86400, 0x803C, 0, 250),
                           Entry(life + 7200, 0x0E10, 0x08, 0x7FFF), kEnd, Entry(life + 99999)})
        log.insert(log.end(), e.begin(), e.end());
    sim->SetEventLog(log);
    state.FHibernateConfirmed = true;
    const fs::path file = dir / "log.csv";
    screen.saveFiles.push_back(file.string());

    const REventLogResult r = SaveEventLogAction(session, screen, state);
    ASSERT_TRUE(r.mOp.Ok()) << screen.LastMessage().mText;
    EXPECT_EQ(r.mEvents, 3);
    EXPECT_EQ(r.mFile, EFileOutcome::Done);
    EXPECT_FALSE(state.FHibernateConfirmed);
    EXPECT_EQ(screen.StatusCaption(), "Load Event Log... OK");
    EXPECT_TRUE(screen.messages.empty());

    // The configuration was read, the life value is the identity's.
    EXPECT_EQ(+state.FTamselCFG.mUnit.mLifeRemaining, life);
    EXPECT_EQ(state.FReadSW, state.FTamselCFG.mUnit.mFWVersion);

    ASSERT_EQ(screen.fileRequests.size(), 1u);
    const FileChoice &choice = screen.fileRequests[0].mChoice;
    EXPECT_EQ(choice.title, "Save Logging Data...");
    EXPECT_EQ(choice.defaultExt, "CSV");
    EXPECT_EQ(choice.filter, kEventFilter);
    EXPECT_EQ(choice.initialDir, "/before");
    const std::string serial = CharFieldToStr(state.FTamselCFG.mUnit.mSerial);
    EXPECT_EQ(choice.fileName.substr(0, serial.size() + 5), serial + "_LOG_");
    EXPECT_EQ(choice.fileName.size(), serial.size() + 5 + 12 + 4);

    const std::vector<std::string> lines = Lines(ReadText(file));
    ASSERT_EQ(lines.size(), 14u);
    EXPECT_EQ(lines[2], "Serial Number," + serial);
    EXPECT_EQ(lines[11].substr(19), ",YES,0:01:00,25.0,");               // a day old: first
    EXPECT_EQ(lines[12].substr(19), ",NO,1:00:00,O.L.,HIGH Alarm ");      // two hours old
    EXPECT_EQ(lines[13].substr(19), ",NO,0:00:30,12.0,LOW Alarm ");       // one hour old
    EXPECT_EQ(session.DeviceCFG.mEVENTSaveDir, dir.string());
    EXPECT_EQ(Remembered(), dir.string());
}

TEST_F(EventLogActionTest, NothingIsOfferedWithoutEvents)
{
    // An empty log.
    sim->SetEventLog(kEnd);
    screen.saveFiles.push_back((dir / "never.csv").string());
    EXPECT_TRUE(SaveEventLogAction(session, screen, state).mOp.Ok());
    ASSERT_EQ(screen.messages.size(), 1u);
    EXPECT_EQ(screen.messages[0].mCaption, "Log Event");
    EXPECT_EQ(screen.messages[0].mText, "No logging event data...");
    EXPECT_EQ(screen.messages[0].mIcon, MsgIcon::Information);

    // A failed download.
    sim->SetFault(wire::kOpLogLength, SimFault::kNak); // the log length
    screen.ClearRecord();
    const REventLogResult r = SaveEventLogAction(session, screen, state);
    EXPECT_NE(r.mOp.mStatus, 0); // 176 for the refusal (162 when a loaded machine misses the reply time)
    EXPECT_EQ(screen.StatusCaption(), "Load Event Log... FAIL");
    EXPECT_EQ(screen.LastMessage().mCaption, "Load Event Log");
    EXPECT_EQ(screen.LastMessage().mText, StatusMessage(r.mOp.mStatus));

    // Another product.
    sim->SetFault(wire::kOpLogLength, SimFault::kNone);
    SimIdentity id = sim->Identity();
    id.mPID = 3;
    sim->SetIdentity(id);
    EXPECT_EQ(SaveEventLogAction(session, screen, state).mOp.mStatus, wire::kStatusWrongProduct);
    EXPECT_EQ(screen.LastMessage().mText, "This is not Norvik module");

    EXPECT_TRUE(screen.fileRequests.empty());
    EXPECT_FALSE(fs::exists(dir / "never.csv"));
    EXPECT_EQ(session.DeviceCFG.mEVENTSaveDir, "/before");
}

TEST_F(EventLogActionTest, ALogLargerThanTheCarrierKeepsWhatFits)
{
    Bytes log;
    for (uint32_t i = 0; i < 130; ++i) {
        const Bytes e = Entry(sim->Identity().mLife + 100 * (i + 1));
        log.insert(log.end(), e.begin(), e.end());
    }
    sim->SetEventLog(log);
    screen.saveFiles.push_back((dir / "big.csv").string());
    const REventLogResult r = SaveEventLogAction(session, screen, state);
    ASSERT_TRUE(r.mOp.Ok());
    EXPECT_EQ(r.mEvents, 113);
    EXPECT_EQ(Lines(ReadText(dir / "big.csv")).size(), 11u + 113u);

    // A target that cannot be written: the message, the folder all the same.
    fs::create_directory(dir / "sub");
    fs::create_directory(dir / "sub" / "a-folder.csv");
    screen.saveFiles.push_back((dir / "sub" / "a-folder.csv").string());
    EXPECT_EQ(SaveEventLogAction(session, screen, state).mFile, EFileOutcome::Failed);
    EXPECT_EQ(screen.LastMessage().mCaption, "Save Event Log");
    EXPECT_EQ(screen.LastMessage().mText, "Event logging file did not save\rRetry SAVE EVENT LOG");
    EXPECT_EQ(screen.LastMessage().mIcon, MsgIcon::Error);
    EXPECT_EQ(Remembered(), (dir / "sub").string());
}
