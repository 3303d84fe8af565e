// The Windows platform files where they differ from the POSIX ones: the port
// on the in-process simulator's pipe, files and keys for the user alone, no
// writing through a symbolic link, the per-user folder, the stop requests, the
// journal's writer thread.
#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <QCoreApplication>

#include "app/runtime_dir.h"
#include "cli/stop_signals.h"
#include "files/atomic_save.h"
#include "files/input_file.h"
#include "files/private_file.h"
#include "link/comm.h"
#include "link/discovery.h"
#include "link/wire.h"
#include "records/journal_store.h"
#include "records/key_file.h"
#include "records/store.h"
#include "sim/sim_detector.h"

namespace fs = std::filesystem;

namespace {

// A fresh folder in the temp folder, removed at the end.
class TTempDir {
public:
    TTempDir()
    {
        FPath = fs::temp_directory_path() / ("beamport-wintest-" + std::to_string(GetCurrentProcessId()) + "-" +
                                             std::to_string(GetTickCount64()));
        fs::create_directories(FPath);
    }
    ~TTempDir()
    {
        std::error_code ec;
        fs::remove_all(FPath, ec);
    }
    std::string operator/(const std::string &name) const { return (FPath / name).string(); }
    const fs::path &Path() const { return FPath; }

private:
    fs::path FPath;
};

// Makes `path` a file whose access control list lets everybody read it.
bool MakeFileEverybodyReads(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
    EXPLICIT_ACCESS_W everyone{};
    wchar_t name[] = L"Everyone";
    BuildExplicitAccessWithNameW(&everyone, name, GENERIC_READ, SET_ACCESS, NO_INHERITANCE);
    ACL *acl = nullptr;
    if (SetEntriesInAclW(1, &everyone, nullptr, &acl) != ERROR_SUCCESS)
        return false;
    std::wstring wide = fs::path(path).wstring();
    const DWORD r = SetNamedSecurityInfoW(wide.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                          acl, nullptr);
    LocalFree(acl);
    return r == ERROR_SUCCESS;
}

// Makes `link` a symbolic link to `target`: true when the system made one
// it shows as a link (Wine 8's CreateSymbolicLinkW makes none and says it did).
bool MadeLink(const std::string &link, const std::string &target, DWORD kind)
{
    if (!CreateSymbolicLinkW(fs::path(link).c_str(), fs::path(target).c_str(),
                             kind | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
        return false;
    const DWORD attributes = GetFileAttributesW(fs::path(link).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

} // namespace

TEST(WindowsPort, TheSimulatedDetectorAnswersThroughThePipeUntilItVanishes)
{
    SimDetector sim;
    ASSERT_TRUE(sim.Start()) << sim.Error();
    for (int round = 0; round < 2; ++round) { // the port opens again after a close
        TComm port;
        port.SetDeviceName(sim.DevicePath());
        port.Open();
        port.SetBaudData(115200);
        EXPECT_TRUE(port.IsPseudoTerminal());
        uint8_t reply[8] = {};
        int got = 0;
        for (int attempt = 0; attempt < 50 && got < 3; ++attempt) {
            port.PurgeIn();
            ASSERT_EQ(port.Write(wire::kWakeUpFrame, sizeof wire::kWakeUpFrame), 3);
            got = 0;
            while (got < 3 && port.WaitInput(0.2))
                got += port.Read(reply + got, 3 - got);
        }
        ASSERT_EQ(got, 3);
        EXPECT_EQ(std::string(reply, reply + 3), std::string(wire::kAckFrame, wire::kAckFrame + 3));
        if (round == 1) {
            sim.Vanish();
            try {
                port.WaitInput(5.0);
                uint8_t b[4];
                port.Read(b, sizeof b);
                FAIL() << "a vanished line raised nothing";
            } catch (const ECommError &e) {
                EXPECT_EQ(e.Message, "Read error");
            }
        }
    }
}

// The pipe's detector tells a repeat of a wake-up frame from a new one by
// what the program had taken in when it wrote it, not by when it came: a
// keep-alive right after an acknowledge is answered, and a repeat written
// before the acknowledge was taken in is not, however late it comes.
TEST(WindowsPort, AWakeUpIsARepeatOnlyIfWrittenBeforeTheAcknowledgeWasTakenIn)
{
    SimDetector sim;
    ASSERT_TRUE(sim.Start()) << sim.Error();
    TComm port;
    port.SetDeviceName(sim.DevicePath());
    port.SetTally(sim.LineTally());
    port.Open();
    const std::string ack(wire::kAckFrame, wire::kAckFrame + 3);
    // What comes until `want` bytes are in, or nothing more comes for `seconds`.
    const auto collect = [&](size_t want, double seconds) {
        std::string got;
        uint8_t b[16];
        while (got.size() < want && port.WaitInput(seconds)) {
            const int n = port.Read(b, sizeof b);
            got.append(b, b + n);
        }
        return got;
    };
    const auto send = [&] { ASSERT_EQ(port.Write(wire::kWakeUpFrame, sizeof wire::kWakeUpFrame), 3); };

    send();
    EXPECT_EQ(collect(3, 0.5), ack);
    for (int check = 0; check < 5; ++check) { // keep-alives back to back, each right after its acknowledge
        send();
        EXPECT_EQ(collect(3, 0.5), ack) << "keep-alive " << check;
    }

    const size_t answered = sim.SentReplies().size();
    send();
    for (int wait = 0; wait < 200 && sim.SentReplies().size() == answered; ++wait)
        Sleep(5);
    ASSERT_EQ(sim.SentReplies().size(), answered + 1);
    Sleep(50);
    send(); // the acknowledge is on the line, not taken in: a repeat
    Sleep(50);
    EXPECT_EQ(collect(6, 0.3), ack);
    EXPECT_EQ(sim.SentReplies().size(), answered + 1);
    send(); // written after it was taken in
    EXPECT_EQ(collect(6, 0.3), ack);
}

TEST(WindowsPort, APurgeDropsWhatCameAndASilentLineOnlyTimesOut)
{
    SimOptions silent;
    silent.absent = true;
    SimDetector quiet(silent), talking;
    ASSERT_TRUE(quiet.Start() && talking.Start());

    TComm port;
    port.SetDeviceName(quiet.DevicePath());
    port.Open();
    ASSERT_EQ(port.Write(wire::kWakeUpFrame, sizeof wire::kWakeUpFrame), 3);
    EXPECT_FALSE(port.WaitInput(0.1));
    uint8_t b[8];
    EXPECT_EQ(port.Read(b, sizeof b), 0);
    port.Close();

    port.SetDeviceName(talking.DevicePath());
    port.Open();
    bool answered = false;
    for (int attempt = 0; attempt < 50 && !answered; ++attempt) {
        port.Write(wire::kWakeUpFrame, sizeof wire::kWakeUpFrame);
        answered = port.WaitInput(0.2);
    }
    ASSERT_TRUE(answered);
    Sleep(50); // the whole acknowledge is in
    port.PurgeIn();
    EXPECT_EQ(port.Read(b, sizeof b), 0);
    talking.Vanish();
    EXPECT_THROW(port.Write(wire::kWakeUpFrame, sizeof wire::kWakeUpFrame), ECommError);
}

TEST(WindowsPort, APortThatIsNotThereIsRefusedOnOpen)
{
    for (const char *name : {"COM249", "\\\\.\\pipe\\beamport-no-such-pipe"}) {
        TComm port;
        port.SetDeviceName(name);
        try {
            port.Open();
            FAIL() << name << " opened";
        } catch (const ECommError &e) {
            EXPECT_EQ(e.Message, "Error accessing specified device") << name;
        }
        EXPECT_FALSE(port.Enabled());
    }
}

TEST(WindowsDiscovery, SetupApiListsOnlyBridgesWithTheirComPorts)
{
    std::vector<RAdapterInfo> adapters;
    const uint8_t code = ListAdapters(adapters);
    ASSERT_TRUE(code == 0 || code == kDiscoveryNone) << int(code);
    for (const RAdapterInfo &a : adapters) {
        EXPECT_EQ(a.mVid, 0x10C4);
        if (a.mPort > 0) {
            EXPECT_EQ(a.mDevice, "\\\\.\\COM" + std::to_string(a.mPort));
        }
    }
}

TEST(WindowsFiles, PrivateFilesAreTheUsersAloneAndOthersAreRefused)
{
    const TTempDir dir;
    std::string why;
    ASSERT_TRUE(WritePrivateFile(dir.Path().string(), "own.bin", "12345678", &why)) << why;
    char bytes[8] = {};
    EXPECT_EQ(ReadPrivateFile(dir / "own.bin", bytes, 8, why), EPrivateRead::Ok) << why;
    EXPECT_EQ(std::string(bytes, 8), "12345678");
    EXPECT_EQ(ReadPrivateFile(dir / "own.bin", bytes, 7, why), EPrivateRead::NotPrivate); // the wrong size
    EXPECT_EQ(ReadPrivateFile(dir / "missing.bin", bytes, 8, why), EPrivateRead::Missing);

    ASSERT_TRUE(MakeFileEverybodyReads(dir / "shared.bin", "12345678"));
    EXPECT_EQ(ReadPrivateFile(dir / "shared.bin", bytes, 8, why), EPrivateRead::NotPrivate);

    EXPECT_EQ(CreateEmptyPrivateFile(dir / "empty", why), ECreateEmpty::Created) << why;
    EXPECT_EQ(CreateEmptyPrivateFile(dir / "empty", why), ECreateEmpty::Exists);
    ASSERT_TRUE(MakeOwnFolder(dir / "own", why)) << why;
    EXPECT_EQ(InspectOwnFolder(dir / "own", why), EOwnFolder::Private);
    EXPECT_EQ(InspectOwnFolder(dir / "none", why), EOwnFolder::Missing);
}

TEST(WindowsFiles, InputFilesAreRegularFilesOnADiskOfABoundedSize)
{
    const TTempDir dir;
    std::ofstream(dir / "small.cfg", std::ios::binary) << "0123456789";
    struct Case {
        std::string path;
        uint64_t limit;
        EInputFile result;
    };
    const Case cases[] = {
        {dir / "small.cfg", 10, EInputFile::Ok},
        {dir / "small.cfg", 9, EInputFile::TooLarge},
        {dir / "none.cfg", 10, EInputFile::Missing},
        {dir / "nofolder/none.cfg", 10, EInputFile::Missing},
        {dir.Path().string(), 10, EInputFile::NotRegular},
        {"\\\\.\\COM1", 10, EInputFile::NotRegular},
        {"\\\\.\\pipe\\beamport-no-such-pipe", 10, EInputFile::NotRegular},
    };
    for (const Case &c : cases) {
        const RInputFile got = ReadInputFile(c.path, c.limit);
        EXPECT_EQ(got.mResult, c.result) << c.path;
        if (got.Ok()) {
            EXPECT_EQ(std::string(got.mBytes.begin(), got.mBytes.end()), "0123456789");
        }
    }
    EXPECT_EQ(ReadInputFileHead(dir / "small.cfg", 4).mBytes.size(), 4u);
}

TEST(WindowsFiles, SavesReplaceWholeFilesAndLeaveNothingBehindOnFailure)
{
    const TTempDir dir;
    std::string why;
    ASSERT_TRUE(WriteFileReplacing(dir / "out.csv", std::string("first\r\n"), &why)) << why;
    ASSERT_TRUE(WriteFileReplacing(dir / "out.csv", std::string("second\r\n"), &why)) << why;
    std::ifstream in(dir / "out.csv", std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), "second\r\n");

    EXPECT_FALSE(WritePrivateFile(dir / "nofolder", "x.bin", "bytes", &why));
    EXPECT_FALSE(WritePrivateFile(dir.Path().string(), "a\\b", "bytes", &why)); // no folder in a name
    EXPECT_TRUE(AppendToFile(dir / "out.csv", "more"));
    EXPECT_FALSE(AppendToFile(dir / "gone.csv", "more")); // a removed file is not made again
    EXPECT_EQ(OutFileProblem(dir.Path().string()), "it is a folder");
    EXPECT_NE(OutFileProblem(dir / "nofolder/x.csv"), "");
    EXPECT_EQ(OutFileProblem(dir / "new.csv"), "");
    std::size_t left = 0;
    for (const auto &entry : fs::directory_iterator(dir.Path())) {
        (void)entry;
        ++left;
    }
    EXPECT_EQ(left, 1u); // out.csv alone: no temporary stayed
}

TEST(WindowsFiles, NothingIsWrittenThroughASymbolicLink)
{
    const TTempDir dir;
    std::ofstream(dir / "target.txt") << "before";
    if (!MadeLink(dir / "link.txt", dir / "target.txt", 0))
        GTEST_SKIP() << "this system made no symbolic link to a file for this user";
    EXPECT_NE(LinkProblem(dir / "link.txt"), "");
    EXPECT_EQ(LinkProblem(dir / "target.txt"), "");
    std::string why;
    EXPECT_FALSE(WriteFileReplacing(dir / "link.txt", std::string("after"), &why));
    std::ifstream in(dir / "target.txt");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "before");
}

TEST(WindowsKeys, TheKeyIsMadeOnceForTheUserAloneAndCheckedOnLoad)
{
    const TTempDir dir;
    const QString folder = QString::fromStdString(dir / "keys");
    QString error;
    ASSERT_TRUE(KeyFolderSafe(folder, error)) << error.toStdString();
    const QString key = folder + QStringLiteral("/bench.key");
    const unsigned char secret[4] = {1, 2, 3, 4};
    ASSERT_TRUE(WriteKeyFileOnce(key, key + QStringLiteral(".tmp"), secret, 4, false, error)) << error.toStdString();
    EXPECT_FALSE(WriteKeyFileOnce(key, key + QStringLiteral(".tmp"), secret, 4, false, error));
    EXPECT_TRUE(error.contains(QStringLiteral("already exists"))) << error.toStdString();
    EXPECT_TRUE(WriteKeyFileOnce(key, key + QStringLiteral(".tmp"), secret, 4, true, error));

    unsigned char read[4] = {};
    error.clear();
    EXPECT_TRUE(ReadKeyFile(key, read, 4, error)) << error.toStdString();
    EXPECT_EQ(read[3], 4);
    EXPECT_FALSE(ReadKeyFile(key, read, 3, error));
    EXPECT_TRUE(error.contains(QStringLiteral("damaged"))) << error.toStdString();

    const QString shared = folder + QStringLiteral("/shared.key");
    ASSERT_TRUE(MakeFileEverybodyReads(shared.toStdString(), "1234"));
    error.clear();
    EXPECT_FALSE(ReadKeyFile(shared, read, 4, error));
    EXPECT_TRUE(error.contains(QStringLiteral("others may use it"))) << error.toStdString();
    EXPECT_TRUE(KeyFileMissing(folder + QStringLiteral("/none.key")));
    EXPECT_FALSE(KeyFileMissing(key));
}

TEST(WindowsRuntimeDir, TheUsersFolderIsMadeOnceAndALinkInItsPlaceIsRefused)
{
    const TTempDir dir;
    RRuntimeEnv env = CurrentRuntimeEnv();
    env.mTempDir = dir.Path().string();
    const RRuntimeDir made = UserRuntimeDir(env);
    ASSERT_TRUE(made.mOk) << made.mError;
    EXPECT_EQ(fs::path(made.mPath).filename().string(), PrivateTempFolderName(env.mUid));
    EXPECT_TRUE(UserRuntimeDir(env).mOk); // the second time it is there already

    RRuntimeEnv planted = env;
    planted.mTempDir = (dir / "planted");
    fs::create_directories(planted.mTempDir);
    fs::create_directories(dir / "elsewhere");
    const std::string name = (fs::path(planted.mTempDir) / PrivateTempFolderName(env.mUid)).string();
    if (!MadeLink(name, dir / "elsewhere", SYMBOLIC_LINK_FLAG_DIRECTORY))
        GTEST_SKIP() << "this system made no symbolic link to a folder for this user";
    const RRuntimeDir refused = UserRuntimeDir(planted);
    EXPECT_FALSE(refused.mOk);
    EXPECT_NE(refused.mError.find("symbolic link or junction"), std::string::npos) << refused.mError;
}

TEST(WindowsStopRequests, TheFirstRequestIsKeptOnceThenTheyEndTheProgramAgain)
{
    const std::wstring name = L"Local\\beamport-stop-" + std::to_wstring(GetCurrentProcessId());
    auto request = [&name] {
        const HANDLE kept = OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, name.c_str());
        if (!kept)
            return false;
        ReleaseSemaphore(kept, 1, nullptr);
        CloseHandle(kept);
        return true;
    };
    TStopSignals stops;
    EXPECT_FALSE(request()); // not caught yet: the request takes its default course
    stops.Catch(nullptr);
    EXPECT_FALSE(stops.Requested());
    ASSERT_TRUE(request());
    EXPECT_TRUE(stops.Requested());
    EXPECT_TRUE(stops.Requested());
    EXPECT_FALSE(request()); // read once: the next one ends the program
    stops.Release();
}

// The journal's writer thread opens the store (and with it the database
// driver) and ends with the journal: the records handed over are in the
// store, intact, and the thread's end leaves the program running (a driver
// first found on that thread crashed the program as the thread ended).
TEST(WindowsRecords, TheWriterThreadKeepsTheRecordsAndEndsWithTheJournal)
{
    int argc = 1;
    char name[] = "test_windows";
    char *argv[] = {name, nullptr};
    const QCoreApplication app(argc, argv);
    const TTempDir dir;
    const QByteArray configBefore = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QString::fromStdString(dir / "config").toLocal8Bit());
    RStoreLocation where;
    where.mKind = EStoreKind::kSqlite;
    where.mPath = QString::fromStdString(dir / "records.sqlite");
    {
        TRecordJournal journal(where, where.mPath);
        for (const char *job : {"identify", "read", "bump-pass"}) {
            RJobRecord j;
            j.mJob = job;
            j.mText = "done";
            journal.Record(j, [](const std::string &warning) { ADD_FAILURE() << warning; });
        }
    }
    QString error;
    const std::unique_ptr<TRecordStore> store = TRecordStore::Open(where, error);
    ASSERT_TRUE(store) << error.toStdString();
    EXPECT_EQ(store->Count(error), 3) << error.toStdString();
    const RVerifyResult verified = store->Verify();
    EXPECT_TRUE(verified.mIntact) << verified.mReason.toStdString();
    if (configBefore.isEmpty())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", configBefore);
}
