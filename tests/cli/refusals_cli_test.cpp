// beamport-cli refusing what it must not do, at once and with nothing on the
// line: write ranges of the settings that leave the record, and input files
// that are not regular files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "app/cfg_actions.h"
#include "support/process.h"
#include "support/pty_peer.h"

namespace fs = std::filesystem;

TEST(CliRefusals, BadWriteRangesAndFilesThatAreNotRegularFiles)
{
    char tmpl[] = "/tmp/clirefusalXXXXXX";
    const fs::path dir = ::mkdtemp(tmpl);
    const std::string cfg = (dir / "unit.cfg").string(), fifo = (dir / "fifo").string();
    const std::vector<uint8_t> bytes = CFGFileBytes(DefaultCFG(), 0, true);
    std::ofstream(cfg, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), 140);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::ofstream(dir / "OPTAVO.INI") << "[Environment]\nModeEntry=QWZ_ENG__\n"
                                         "[UNIT]\nUnitWriteUserSize=8\nSensorWriteFactoryStart=120\n"
                                         "SensorWriteFactorySize=20\n";
    PtyPeer peer;
    peer.Then(3, Hex("B5 B7 C1")); // a detector that would wake at once

    const struct {
        std::vector<std::string> args;
        int status; // 0: any failure status
        const char *err;
    } rows[] = {
        {{"--ini", (dir / "OPTAVO.INI").string(), "write", cfg}, 67,
         "[UNIT] SensorWriteFactoryStart=120, SensorWriteFactorySize=20: bytes 120 to 139, past byte 128"},
        {{"write", fifo}, 65, "Configuration File did not open\nRetry READ FILE"},
        {{"upgrade", fifo}, 0, "Upgrade data file open error"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.args.back());
        std::vector<std::string> args = {"--port", peer.Path()};
        args.insert(args.end(), r.args.begin(), r.args.end());
        // At most 20 s: a run that hangs fails here instead of stalling the suite.
        const ProcessResult p =
            RunProcess(BEAMPORT_CLI, args, {"XDG_CONFIG_HOME=" + dir.string(), "BEAMPORT_PORT="}, 20);
        EXPECT_GT(p.status, 0) << p.err;
        if (r.status != 0) {
            EXPECT_EQ(p.status, r.status) << p.err;
        }
        EXPECT_NE(p.err.find(r.err), std::string::npos) << p.err;
        EXPECT_EQ(p.out.find("Norvik Information"), std::string::npos) << p.out;
    }
    EXPECT_TRUE(peer.Received().empty());
    fs::remove_all(dir);
}
