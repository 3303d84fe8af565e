// read --out and write through the command line, as a technician copies a
// configuration from one detector to a file and back.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "support/process.h"

namespace fs = std::filesystem;

TEST(CliFiles, ReadOutThenWriteBack)
{
    const fs::path dir = fs::temp_directory_path() / ("beamport-cli-files-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::vector<std::string> env = {"XDG_CONFIG_HOME=" + dir.string()};
    const std::string file = (dir / "unit.cfg").string();
    SimProcess sim({"--maintain-crc"});

    const ProcessResult read = RunProcess(BEAMPORT_CLI, {"--port", sim.Path(), "read", "--out", file}, env);
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(read.out.rfind("Read Norvik Information... OK\n{", 0), 0u);
    EXPECT_EQ(fs::file_size(file), 140u);

    const ProcessResult write = RunProcess(BEAMPORT_CLI, {"--port", sim.Path(), "write", file}, env);
    EXPECT_EQ(write.status, 0) << write.err;
    EXPECT_NE(write.out.find("Write Norvik Information... OK"), std::string::npos);

    // A save that cannot be made is a file error, and the old file stays.
    const ProcessResult bad = RunProcess(BEAMPORT_CLI, {"--port", sim.Path(), "read", "--out", dir.string()}, env);
    EXPECT_EQ(bad.status, 65);
    EXPECT_NE(bad.err.find("Configuration File did not save"), std::string::npos) << bad.err;

    // A truncated file is refused before anything is written to the detector.
    fs::resize_file(file, 60);
    const ProcessResult shortFile = RunProcess(BEAMPORT_CLI, {"--port", sim.Path(), "write", file}, env);
    EXPECT_EQ(shortFile.status, 65);
    EXPECT_NE(shortFile.err.find("Configuration File is wrong"), std::string::npos) << shortFile.err;
    EXPECT_EQ(shortFile.out.find("Write Norvik Information"), std::string::npos);
    fs::remove_all(dir);
}
