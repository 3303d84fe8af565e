// beamport-cli log against a beamport-sim process: the readings and the CSV
// file of a good run, an --out file that cannot be made (refused before the
// run), and a run in which no reading arrives.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/process.h"

namespace {

std::string Dir()
{
    static const std::string dir = [] {
        const std::string d = testing::TempDir() + "log-cli-" + std::to_string(::getpid());
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
}

// A private per-user store, so the runs never touch the real home folder.
ProcessResult Cli(const std::vector<std::string> &args)
{
    return RunProcess(BEAMPORT_CLI, args, {"XDG_CONFIG_HOME=" + Dir() + "/home", "BEAMPORT_PORT="});
}

std::string Read(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

} // namespace

TEST(CliLog, ReadingsOnStdoutAndRowsInTheFile)
{
    SimProcess sim;
    const std::string out = Dir() + "/run.csv";
    const ProcessResult r = Cli({"--port", sim.Path(), "log", "--seconds", "1.5", "--out", out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("0.0 s: Sensor "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1.0 s: Sensor "), std::string::npos) << r.out;
    const std::string csv = Read(out);
    EXPECT_EQ(csv.rfind("Product Name,Corvane Norvik\r\n", 0), 0u) << csv;
    EXPECT_NE(csv.find("\r\nTime,Sensor,Sensor Peak,"), std::string::npos);
    // stderr is a pipe here, not a terminal: no progress line.
    EXPECT_EQ(r.err.find("Logging "), std::string::npos) << r.err;
}

TEST(CliLog, AnOutFileThatCannotBeMadeIsRefusedBeforeTheRun)
{
    SimProcess sim;
    const std::string plainFile = Dir() + "/plain";
    std::ofstream(plainFile) << "x";
    std::filesystem::create_directories(Dir() + "/folder.csv");
    const std::string cases[] = {
        Dir() + "/missing/run.csv", // no such folder
        plainFile + "/run.csv",     // a file where the folder should be
        Dir() + "/folder.csv",      // a folder of that name
    };
    for (const std::string &out : cases) {
        SCOPED_TRACE(out);
        // An hour's run: a refusal after the run would never come back in time.
        const ProcessResult r = Cli({"--port", sim.Path(), "log", "--seconds", "3600", "--out", out});
        EXPECT_EQ(r.status, 65);
        EXPECT_NE(r.err.find("The log file could not be created: " + out), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("Sensor"), std::string::npos) << r.out;
    }
    EXPECT_EQ(Read(plainFile), "x");
}

TEST(CliLog, ARunWithoutAReadingIsNotASuccess)
{
    const struct {
        std::vector<std::string> knobs;
        bool toFile;
    } cases[] = {
        {{"--nak", "20"}, false}, // every reading refused
        {{"--nak", "20"}, true},
        {{"--drop", "20"}, false}, // never answered
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.knobs[0] + (c.toFile ? " with a file" : ""));
        SimProcess sim(c.knobs);
        const std::string out = Dir() + "/empty.csv";
        std::vector<std::string> args = {"--port", sim.Path(), "log", "--seconds", "1"};
        if (c.toFile) {
            args.push_back("--out");
            args.push_back(out);
        }
        const ProcessResult r = Cli(args);
        EXPECT_EQ(r.status, 68) << r.err;
        EXPECT_NE(r.err.find("No reading arrived in 1 seconds"), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find(" s: Sensor"), std::string::npos) << r.out;
        if (c.toFile) { // the header alone: nothing after the column line
            const std::string csv = Read(out);
            ASSERT_GE(csv.size(), 17u);
            EXPECT_EQ(csv.substr(csv.size() - 17), "Temperature ADC\r\n");
        }
    }
}
