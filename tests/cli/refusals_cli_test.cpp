// beamport-cli refusing what it must not do: write ranges of the settings that
// leave the configuration record, and input files that are not regular files.
// Each refusal comes at once, with its message, and nothing reaches the line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "files/cfg_file.h"
#include "support/process.h"
#include "support/pty_peer.h"

namespace fs = std::filesystem;

namespace {

class CliRefusals : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/clirefusalXXXXXX";
        dir = ::mkdtemp(tmpl);
        const std::vector<uint8_t> bytes = CFGFileBytes(DefaultCFG(), 0, true);
        std::ofstream(dir / "unit.cfg", std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string Path(const char *name) const { return (dir / name).string(); }
    std::string Ini(const std::string &text) const
    {
        std::ofstream(dir / "OPTAVO.INI") << text;
        return Path("OPTAVO.INI");
    }
    // Waits at most 20 s: a refusal that hangs fails the test instead of the suite.
    ProcessResult Cli(const std::vector<std::string> &args) const
    {
        return RunProcess(BEAMPORT_CLI, args, {"XDG_CONFIG_HOME=" + dir.string(), "BEAMPORT_PORT="}, 20);
    }

    fs::path dir;
};

} // namespace

TEST_F(CliRefusals, WriteWithARangePastTheRecordSendsNothingAndExits67)
{
    PtyPeer peer;
    peer.Then(3, Hex("B5 B7 C1")); // a detector that would wake at once
    const std::string ini = Ini("[Environment]\nModeEntry=QWZ_ENG__\n"
                                "[UNIT]\nUnitWriteUserSize=8\nSensorWriteFactoryStart=120\nSensorWriteFactorySize=20\n");
    const ProcessResult r = Cli({"--ini", ini, "--port", peer.Path(), "write", Path("unit.cfg")});
    EXPECT_EQ(r.status, 67) << r.err;
    EXPECT_NE(r.err.find("[UNIT] SensorWriteFactoryStart=120, SensorWriteFactorySize=20: bytes 120 to 139, past byte 128"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("UnitWriteUser"), std::string::npos) << r.err; // the good range is not blamed
    EXPECT_EQ(r.err.find("Wrong configuration information"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Write Norvik Information"), std::string::npos) << r.out;
    EXPECT_TRUE(peer.Received().empty());
}

TEST_F(CliRefusals, InputFilesThatAreNotRegularFilesAreRefusedAtOnce)
{
    PtyPeer peer;
    fs::create_symlink("/dev/zero", dir / "zero.cfg");
    fs::create_directory(dir / "folder.img");
    const struct {
        std::vector<std::string> args;
        int status; // -2: any failure status (the run ended, refused)
        const char *message;
    } rows[] = {
        {{"write", Path("fifo")}, 65, "Configuration File did not open\nRetry READ FILE"},
        {{"write", Path("zero.cfg")}, 65, "Configuration File did not open"},
        {{"write", dir.string()}, 65, "Configuration File did not open"},
        {{"upgrade", Path("fifo")}, -2, "Upgrade data file open error"},
        {{"upgrade", Path("folder.img")}, -2, "Upgrade data file open error"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.args[0] + " " + r.args[1]);
        std::vector<std::string> args = {"--port", peer.Path()};
        args.insert(args.end(), r.args.begin(), r.args.end());
        const ProcessResult p = Cli(args);
        if (r.status == -2) {
            EXPECT_GT(p.status, 0) << p.err;
        } else {
            EXPECT_EQ(p.status, r.status) << p.err;
        }
        EXPECT_NE((p.out + p.err).find(r.message), std::string::npos) << p.out << p.err;
    }
    EXPECT_TRUE(peer.Received().empty());
}

TEST_F(CliRefusals, SettingsFileThatIsNotARegularFileIsWarnedAboutAndNotRead)
{
    const ProcessResult r = Cli({"--ini", Path("fifo"), "settings"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("The settings file " + Path("fifo") + " was not read.\nIt is not a regular file."),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("\"UserMode\": true"), std::string::npos) << r.out;
}
