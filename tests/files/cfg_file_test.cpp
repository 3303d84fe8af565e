// Configuration files: the written format, every version's columns, the
// subset a read applies, refusals, the two actions, and `write` on the
// command line. Packed record fields are read with unary + so that no
// reference binds to a misaligned field.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#endif

#include "app/app_state.h"
#include "app/user_store.h"
#include "app/cfg_actions.h"
#include "model/config_form.h"
#include "support/fake_screen.h"
#include "support/test_session.h"
#ifdef _WIN32
#include "support/process.h"
#endif

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadAll(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path &p, const Bytes &bytes)
{
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()),
                                             static_cast<std::streamsize>(bytes.size()));
}

Bytes FileOf(int32_t version, const Bytes &payload)
{
    Bytes file(kCFGFileHeaderSize + payload.size(), 0);
    std::memcpy(file.data(), &version, 4);
    std::copy(payload.begin(), payload.end(), file.begin() + kCFGFileHeaderSize);
    return file;
}

Bytes RecordBytes(const RTamselCFG &c)
{
    Bytes b(128);
    std::memcpy(b.data(), &c, 128);
    return b;
}

// A record whose every byte differs from the default record's.
RTamselCFG Distinct()
{
    RTamselCFG c;
    uint8_t *b = reinterpret_cast<uint8_t *>(&c);
    const Bytes def = RecordBytes(DefaultCFG());
    for (int i = 0; i < 128; ++i)
        b[i] = static_cast<uint8_t>(def[static_cast<size_t>(i)] ^ (0x11 + i));
    return c;
}

// Record bytes a file sets: flag, user ID, self-test interval (0..7),
// suspend .. life remaining (15..39), alarm levels .. bump interval
// (64..73), sensor type .. temperature compensation (85..105).
bool Applied(int i) { return i < 8 || (i >= 15 && i < 40) || (i >= 64 && i < 74) || (i >= 85 && i < 106); }

// After a read: applied bytes from the file's record, all others as before.
void ExpectApplied(const RTamselCFG &after, const RTamselCFG &fromFile, const RTamselCFG &before)
{
    const Bytes a = RecordBytes(after), f = RecordBytes(fromFile), b = RecordBytes(before);
    for (size_t i = 0; i < 128; ++i)
        EXPECT_EQ(a[i], Applied(static_cast<int>(i)) ? f[i] : b[i]) << "record byte " << i;
}

class CfgFileTest : public ::testing::Test, protected TTestSession {
protected:
    void SetUp() override
    {
        session.UserMode = false;
        session.DeviceCFG.mConfSaveDir = "/remembered";
        session.Store().SetSaveDirectory(TStoreGroup::CONFIGURE, "/remembered");
    }
    // What a later run finds in the store file.
    std::string Remembered() const { return TUserStore(Path("store.conf")).SaveDirectory(TStoreGroup::CONFIGURE); }

    TFakeScreen screen;
    RMainState state;
};

} // namespace

TEST_F(CfgFileTest, WrittenFileIs140BytesAndReadsBackEveryAppliedField)
{
    const RTamselCFG source = Distinct();
    const fs::path file = dir / "out.cfg";
    ASSERT_TRUE(WriteConfigFile(file.string(), source, true));
    const Bytes bytes = ReadAll(file);
    ASSERT_EQ(bytes.size(), 140u);
    int32_t version = 0;
    double savedAt = 0;
    std::memcpy(&version, bytes.data(), 4);
    std::memcpy(&savedAt, bytes.data() + 8, 8);
    EXPECT_EQ(version, 7);
    EXPECT_NEAR(savedAt, Now(), 1.0 / 1440);
    EXPECT_EQ(bytes[16], 1); // developer layout
    for (size_t crcSlot : {50u, 51u, 112u, 113u})
        EXPECT_EQ(bytes[24 + crcSlot], 0);
    EXPECT_EQ(bytes[24 + 48], source.mUnit.mPEventLog); // widened to 16 bits
    EXPECT_EQ(bytes[24 + 49], 0);

    RTamselCFG memory = DefaultCFG();
    memory.mUnit.mCRC = 0x1111;
    memory.mSensor.mCRC = 0x2222;
    const RTamselCFG before = memory;
    ASSERT_EQ(LoadConfigFile(file.string(), memory), ECFGLoad::Ok);
    ExpectApplied(memory, source, before);

    // The payload converts back to the record it was made from, but for
    // what version 7 never carries (reserved bytes and CRC words: 0).
    const auto back = ConvertCFGFile(7, bytes.data() + 24, 116);
    ASSERT_TRUE(back);
    const Bytes got = RecordBytes(*back), want = RecordBytes(source);
    for (size_t i = 0; i < 128; ++i) {
        const bool never = (i >= 8 && i < 15) || (i >= 53 && i < 64) || (i >= 74 && i < 85) || i >= 126;
        EXPECT_EQ(got[i], never ? 0 : want[i]) << "record byte " << i;
    }
}

TEST_F(CfgFileTest, AnyVersionLeavesCountersAndCalibrationResultsInMemory)
{
    for (int32_t version = 1; version <= 8; ++version) {
        SCOPED_TRACE(version);
        Bytes payload(static_cast<size_t>(CFGPayloadSize(version)));
        for (size_t i = 0; i < payload.size(); ++i)
            payload[i] = static_cast<uint8_t>(0x5A ^ (i * 7));
        const fs::path file = dir / "any.cfg";
        WriteAll(file, FileOf(version, payload));
        const auto fromFile = ParseCFGFile(FileOf(version, payload));
        ASSERT_TRUE(fromFile);

        RTamselCFG memory = Distinct();
        const RTamselCFG before = memory;
        ASSERT_EQ(LoadConfigFile(file.string(), memory), ECFGLoad::Ok);
        ExpectApplied(memory, *fromFile, before);
    }
    // Version 8 is the record itself, counters and CRC words included.
    const auto v8 = ParseCFGFile(FileOf(8, RecordBytes(Distinct())));
    ASSERT_TRUE(v8);
    EXPECT_EQ(RecordBytes(*v8), RecordBytes(Distinct()));
}

TEST_F(CfgFileTest, OlderVersionsTakeTheirFixedValues)
{
    struct Row {
        int32_t version;
        bool userIdFixed, testFixed, suspendFixed, calFixed, bumpFixed;
    } rows[] = {
        {1, true, true, true, true, true},     {2, true, true, true, false, true},
        {3, false, true, true, false, true},   {4, false, true, true, false, false},
        {5, false, true, false, false, false}, {6, false, true, false, false, false},
        {7, false, false, false, false, false},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.version);
        const Bytes payload(static_cast<size_t>(CFGPayloadSize(r.version)), 0x41); // 'A' everywhere
        const auto cfg = ConvertCFGFile(r.version, payload.data(), payload.size());
        ASSERT_TRUE(cfg);
        EXPECT_EQ(std::string(cfg->mUnit.mUserID, 6), r.userIdFixed ? "      " : r.version <= 5 ? "AAA   " : "AAAAAA");
        EXPECT_EQ(+cfg->mUnit.mTestInterval, r.testFixed ? 20 : 0x41);
        EXPECT_EQ(+cfg->mUnit.mAllowSuspend, r.suspendFixed ? 0xFF : 0x41);
        EXPECT_EQ(+cfg->mSensor.mCalInterval, r.calFixed ? 0u : 0x41414141u);
        EXPECT_EQ(+cfg->mSensor.mBumpInterval, r.bumpFixed ? 0 : 0x4141);
        EXPECT_EQ(+cfg->mSensor.mLastBump, r.version <= 3 ? 0u : 0x41414141u);
        EXPECT_EQ(+cfg->mUnit.mCRC + cfg->mSensor.mCRC + cfg->mUnit.mDummy1[0] + cfg->mSensor.mDummy1[10], 0);
    }
}

TEST_F(CfgFileTest, EachVersionReadsItsOwnColumns)
{
    struct Row {
        int32_t version;
        int serial, batCritical, fw, life, alarmHigh, cal, sensorType, tempComp, minSpan;
    } rows[] = {
        {1, 1, 18, 21, 24, 44, -1, 48, 60, 88},  {2, 1, 18, 21, 24, 44, 48, 52, 64, 92},
        {3, 5, 22, 25, 28, 48, 52, 56, 68, 96},  {4, 5, 22, 25, 28, 48, 52, 60, 72, 100},
        {5, 6, 24, 27, 28, 48, 52, 60, 72, 100}, {6, 9, 26, 29, 32, 52, 56, 64, 76, 104},
        {7, 10, 28, 31, 32, 52, 56, 64, 76, 104},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.version);
        Bytes p(static_cast<size_t>(CFGPayloadSize(r.version)), 0);
        auto put = [&](int at, uint32_t value, size_t size) { std::memcpy(p.data() + at, &value, size); };
        std::memcpy(p.data() + r.serial, "NV12345678", 10);
        put(r.batCritical, 599, 2);
        put(r.fw, 21, 1);
        put(r.life, 123456789, 4);
        put(r.alarmHigh, 222, 2);
        if (r.cal >= 0)
            put(r.cal, 864000, 4);
        put(r.sensorType, 4, 1);
        put(r.tempComp + 8, static_cast<uint32_t>(-163383), 4);
        put(r.minSpan, 3440, 2);
        const auto cfg = ConvertCFGFile(r.version, p.data(), p.size());
        ASSERT_TRUE(cfg);
        EXPECT_EQ(std::string(cfg->mUnit.mSerial, 10), "NV12345678");
        EXPECT_EQ(+cfg->mUnit.mBatLimitCritical, 599);
        EXPECT_EQ(+cfg->mUnit.mFWVersion, 21);
        EXPECT_EQ(+cfg->mUnit.mLifeRemaining, 123456789u);
        EXPECT_EQ(+cfg->mSensor.mAlarmHigh, 222);
        EXPECT_EQ(+cfg->mSensor.mCalInterval, r.cal >= 0 ? 864000u : 0u);
        EXPECT_EQ(+cfg->mSensor.mSensorType, 4);
        EXPECT_EQ(+cfg->mSensor.mTempCompSpan[2], -163383);
        EXPECT_EQ(+cfg->mSensor.mMinSpan, 3440);
    }
}

TEST_F(CfgFileTest, UserIdOfVersion4AndTheWidenedBumpInterval)
{
    Bytes v4(112, 0);
    std::memcpy(v4.data() + 1, "AB7Z", 4); // the fourth character is not part of the ID here
    EXPECT_EQ(std::string(ConvertCFGFile(4, v4.data(), v4.size())->mUnit.mUserID, 6), "AB7   ");

    RTamselCFG cfg = DefaultCFG();
    cfg.mSensor.mBumpInterval = 365;
    const auto payload = MakeCFGFile(cfg);
    EXPECT_EQ(Bytes(payload.begin() + 60, payload.begin() + 64), (Bytes{0x6D, 0x01, 0x00, 0x00}));
    Bytes bytes(payload.begin(), payload.end());
    bytes[62] = 0x05; // the high word is not used
    EXPECT_EQ(+ConvertCFGFile(7, bytes.data(), bytes.size())->mSensor.mBumpInterval, 365);
}

TEST_F(CfgFileTest, TruncatedAndUnknownFilesAreRefused)
{
    for (int32_t version = 1; version <= 8; ++version) {
        SCOPED_TRACE(version);
        Bytes file = FileOf(version, Bytes(static_cast<size_t>(CFGPayloadSize(version)), 0x11));
        EXPECT_TRUE(ParseCFGFile(file));
        file.pop_back();
        EXPECT_FALSE(ParseCFGFile(file));
    }
    EXPECT_FALSE(ParseCFGFile(Bytes{}));
    EXPECT_FALSE(ParseCFGFile(Bytes(23, 0)));
    for (int32_t version : {0, 9, -1})
        EXPECT_FALSE(ParseCFGFile(FileOf(version, Bytes(128, 0))));
    EXPECT_TRUE(ParseCFGFile(FileOf(1, Bytes(4000, 0)))); // bytes after the payload are ignored

    const fs::path file = dir / "short.cfg";
    WriteAll(file, FileOf(7, Bytes(100, 0x22)));
    RTamselCFG memory = Distinct();
    EXPECT_EQ(LoadConfigFile(file.string(), memory), ECFGLoad::Wrong);
    EXPECT_EQ(RecordBytes(memory), RecordBytes(Distinct()));
}

TEST_F(CfgFileTest, ReadFileRefusalsRememberTheFolder)
{
    const std::string wrong = "Configuration File is wrong\rReselect file";
    const std::string notOpen = "Configuration File did not open\rRetry READ FILE";
    WriteAll(dir / "v0.cfg", FileOf(0, Bytes(128, 0x33)));
    WriteAll(dir / "v9.cfg", FileOf(9, Bytes(128, 0x33)));
    fs::create_directory(dir / "sub");
    std::vector<std::pair<const char *, std::string>> rows = {
        {"v0.cfg", wrong}, {"v9.cfg", wrong}, {"none.cfg", notOpen}, {"sub", notOpen}};
#ifndef _WIN32
    // Files that are not regular files are refused at once, unread: a FIFO
    // (whose open would wait for a writer) and devices.
    ASSERT_EQ(::mkfifo((dir / "fifo.cfg").c_str(), 0600), 0);
    fs::create_symlink("/dev/null", dir / "null.cfg");
    fs::create_symlink("/dev/zero", dir / "zero.cfg");
    rows.insert(rows.end(), {{"fifo.cfg", notOpen}, {"null.cfg", notOpen}, {"zero.cfg", notOpen}});
#endif
    for (const auto &[name, text] : rows) {
        SCOPED_TRACE(name);
        session.DeviceCFG.mConfSaveDir = "/remembered";
        state.FTamselCFG = Distinct();
        state.FHibernateConfirmed = true;
        screen.ClearRecord();
        screen.openFiles.push_back((dir / name).string());
        int changed = 0;
        EXPECT_EQ(ReadConfigFileAction(session, screen, state, [&] { ++changed; }), EFileOutcome::Failed);
        EXPECT_EQ(RecordBytes(state.FTamselCFG), RecordBytes(Distinct()));
        EXPECT_EQ(state.FRecordSource, ERecordSource::Defaults);
        EXPECT_EQ(changed, 0);
        EXPECT_FALSE(state.FHibernateConfirmed);
        ASSERT_EQ(screen.messages.size(), 1u);
        EXPECT_EQ(screen.messages[0].mCaption, "Read Configuration File");
        EXPECT_EQ(screen.messages[0].mText, text);
        EXPECT_EQ(screen.messages[0].mIcon, MsgIcon::Error);
        EXPECT_EQ(session.DeviceCFG.mConfSaveDir, dir.string());
        EXPECT_EQ(Remembered(), dir.string());
    }
}

TEST_F(CfgFileTest, ReadFileAppliesTheFileAndRefreshesTheView)
{
    const fs::path file = dir / "good.cfg";
    RTamselCFG source = DefaultCFG();
    std::memcpy(source.mUnit.mSerial, "SC12345678", 10);
    source.mSensor.mAlarmHigh = 350;
    source.mSensor.mZero = 1;
    ASSERT_TRUE(WriteConfigFile(file.string(), source, false));
    StartConfigView(state.FForm, state.FTamselCFG, session.SensorTypes);
    screen.openFiles.push_back(file.string());
    int changed = 0;
    EXPECT_EQ(ReadConfigFileAction(session, screen, state, [&] { ++changed; }), EFileOutcome::Done);
    EXPECT_EQ(changed, 1);
    EXPECT_TRUE(screen.messages.empty());
    EXPECT_EQ(state.FRecordSource, ERecordSource::File);
    EXPECT_EQ(+state.FTamselCFG.mSensor.mAlarmHigh, 350);
    EXPECT_EQ(+state.FTamselCFG.mSensor.mZero, +DefaultCFG().mSensor.mZero);
    EXPECT_EQ(state.FForm.mDevSerial.mText, "SC12345678");
    EXPECT_DOUBLE_EQ(state.FForm.mDevAlarmHigh.mValue, 35.0);

    ASSERT_EQ(screen.fileRequests.size(), 1u);
    const FileChoice &choice = screen.fileRequests[0].mChoice;
    EXPECT_FALSE(screen.fileRequests[0].mSave);
    EXPECT_EQ(choice.title, "Open Configuration File");
    EXPECT_EQ(choice.defaultExt, "cfg");
    EXPECT_EQ(choice.filter, kCFGFilter);
    EXPECT_EQ(choice.initialDir, "/remembered");
}

TEST_F(CfgFileTest, CancellingEitherDialogChangesNothing)
{
    state.FTamselCFG = Distinct();
    EXPECT_EQ(ReadConfigFileAction(session, screen, state), EFileOutcome::Cancelled); // no answers: cancelled
    EXPECT_EQ(RecordBytes(state.FTamselCFG), RecordBytes(Distinct()));
    int rebuilt = 0;
    EXPECT_EQ(WriteConfigFileAction(session, screen, state, [&] { ++rebuilt; }), EFileOutcome::Cancelled);
    EXPECT_EQ(rebuilt, 1); // the record is rebuilt from the view before the dialog
    EXPECT_EQ(session.DeviceCFG.mConfSaveDir, "/remembered");
    EXPECT_EQ(Remembered(), "/remembered");
    EXPECT_TRUE(screen.messages.empty());
    ASSERT_EQ(screen.fileRequests.size(), 2u);
    EXPECT_EQ(screen.fileRequests[1].mChoice.title, "Save Configuration File");
}

TEST_F(CfgFileTest, WriteFileBuildsFromTheViewInTheUserLayout)
{
    session.UserMode = true;
    state.FTamselCFG = Distinct();
    state.FTamselCFG.mSensor.mSensorType = 1;
    state.FTamselCFG.mSensor.mAlarmHigh = 350;
    state.FReadSW = 14;
    StartConfigView(state.FForm, state.FTamselCFG, session.SensorTypes);
    screen.saveFiles.push_back((dir / "user.cfg").string());
    ASSERT_EQ(WriteConfigFileAction(session, screen, state), EFileOutcome::Done);
    const Bytes bytes = ReadAll(dir / "user.cfg");
    ASSERT_EQ(bytes.size(), 140u);
    EXPECT_EQ(bytes[16], 0); // user layout
    // The default record with the user fields from the view and FReadSW.
    const auto saved = ParseCFGFile(bytes);
    ASSERT_TRUE(saved);
    EXPECT_EQ(std::string(saved->mUnit.mSerial, 10), "SH10000000");
    EXPECT_EQ(+saved->mUnit.mFWVersion, 14);
    EXPECT_EQ(+saved->mSensor.mAlarmHigh, 350);
    EXPECT_EQ(Remembered(), dir.string());
}

TEST_F(CfgFileTest, AFailedSaveKeepsTheOldFile)
{
    const fs::path file = dir / "keep.cfg";
    const Bytes old(140, 0xAB);
    WriteAll(file, old);

#ifdef _WIN32
    GTEST_SKIP() << "the file size limit that makes the save fail is POSIX's (setrlimit)";
#else
    // Writes stop after 10 bytes (root ignores permissions, not this limit).
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit tight = saved;
    tight.rlim_cur = 10;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
    screen.saveFiles.push_back(file.string());
    const EFileOutcome outcome = WriteConfigFileAction(session, screen, state);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(outcome, EFileOutcome::Failed);
    EXPECT_EQ(ReadAll(file), old);
    EXPECT_EQ(screen.LastMessage().mCaption, "Write Configuration file");
    EXPECT_EQ(screen.LastMessage().mText, "Configuration File did not save\rRetry WRITE FILE");
    EXPECT_EQ(Remembered(), dir.string()); // remembered after a failure too
    int entries = 0; // and no temporary left beside it
    for (const auto &e : fs::directory_iterator(dir))
        entries += e.path().filename() != "store.conf";
    EXPECT_EQ(entries, 1);

    // A folder as the target, and a target in a missing folder.
    fs::create_directory(dir / "folder.cfg");
    std::string error;
    EXPECT_FALSE(WriteConfigFile((dir / "folder.cfg").string(), Distinct(), true, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(fs::is_directory(dir / "folder.cfg"));
    EXPECT_FALSE(WriteConfigFile((dir / "missing" / "x.cfg").string(), Distinct(), true));
#endif
}

TEST_F(CfgFileTest, CommandLineWrite)
{
#ifdef _WIN32
    // No shell: the program gets the words, a file by its name in the
    // scratch folder, and its output goes to the same files.
    auto run = [&](const std::string &args) {
        std::vector<std::string> words = {"--simulate"};
        for (const std::string &w : ShellWords(args))
            words.push_back(w.size() > 4 && w.substr(w.size() - 4) == ".cfg" ? (dir / w).string() : w);
        const ProcessResult r = RunProcess(BEAMPORT_CLI, words);
        std::ofstream(dir / "out.txt", std::ios::binary) << r.out;
        std::ofstream(dir / "err.txt", std::ios::binary) << r.err;
        return r.status;
    };
#else
    if (!fs::exists(BEAMPORT_CLI))
        GTEST_SKIP() << "beamport-cli not built";
    auto run = [&](const std::string &args) {
        const std::string command = "cd '" + dir.string() + "' && XDG_CONFIG_HOME='" + dir.string() + "/cfg' '" +
                                    BEAMPORT_CLI + "' --simulate " + args + " >out.txt 2>err.txt";
        const int rc = std::system(command.c_str());
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    };
#endif
    auto text = [&](const char *name) {
        const Bytes b = ReadAll(dir / name);
        return std::string(b.begin(), b.end());
    };
    Bytes record = RecordBytes(DefaultCFG()); // sensor type 1, as the simulator has
    WriteAll(dir / "h2s.cfg", FileOf(8, record));
    record[85] = 2; // CO: not the installed sensor
    WriteAll(dir / "co.cfg", FileOf(8, record));
    record.resize(60);
    WriteAll(dir / "short.cfg", FileOf(8, record));

    EXPECT_EQ(run("write h2s.cfg"), 0);
    EXPECT_EQ(text("out.txt"), "Write Norvik Information... OK\n");
    EXPECT_EQ(run("write co.cfg"), 148);
    EXPECT_EQ(text("err.txt"), "Check sensor type and Alarm setting\n");
    EXPECT_EQ(run("write short.cfg"), 65);
    EXPECT_EQ(text("err.txt"), "Configuration File is wrong\nReselect file\n");
    EXPECT_EQ(run("write"), 64);
}
