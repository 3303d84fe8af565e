// beamport-cli log against a beamport-sim process: how a run ends. An --out
// file that cannot be made is refused before the run (an hour's run would
// never come back in time otherwise); a run without a reading is no success.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/process.h"

TEST(CliLog, ExitsOfARun)
{
    const std::string dir = testing::TempDir() + "log-cli-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir + "/folder.csv");
    std::ofstream(dir + "/plain") << "x";
    const struct {
        std::vector<std::string> knobs;
        std::string seconds, out;
        int status;
        std::string said; // on stdout for 0, else on stderr
    } cases[] = {
        {{"--plain"}, "1.5", dir + "/run.csv", 0, "1.0 s: Sensor 0.0, Peak 0.0, Battery "},
        {{}, "3600", dir + "/missing/run.csv", 65, "The log file could not be created: " + dir + "/missing/run.csv"},
        {{}, "3600", dir + "/plain/run.csv", 65, "The log file could not be created: " + dir + "/plain/run.csv"},
        {{}, "3600", dir + "/folder.csv", 65, "The log file could not be created: " + dir + "/folder.csv (it is"},
        {{"--nak", "20"}, "1", dir + "/empty.csv", 68, "No reading arrived in 1 seconds"}, // readings refused
        {{"--drop", "20"}, "1", "", 68, "No reading arrived in 1 seconds"},               // never answered
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.out + " " + c.seconds);
        SimProcess sim(c.knobs);
        std::vector<std::string> args = {"--port", sim.Path(), "log", "--seconds", c.seconds};
        if (!c.out.empty())
            args.insert(args.end(), {"--out", c.out});
        const ProcessResult r =
            RunProcess(BEAMPORT_CLI, args, {"XDG_CONFIG_HOME=" + dir + "/home", "BEAMPORT_PORT="});
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE((c.status == 0 ? r.out : r.err).find(c.said), std::string::npos) << r.out << r.err;
        EXPECT_EQ(r.err.find("Logging "), std::string::npos); // no progress: stderr is no terminal
        if (c.status != 0) {
            EXPECT_EQ(r.out.find(" s: Sensor"), std::string::npos) << r.out;
        }
    }
    const auto read = [](const std::string &path) {
        std::stringstream text;
        text << std::ifstream(path, std::ios::binary).rdbuf();
        return text.str();
    };
    const std::string run = read(dir + "/run.csv"), empty = read(dir + "/empty.csv");
    const std::string columns = "Temperature,Temperature ADC\r\n";
    EXPECT_EQ(run.rfind("Product Name,Corvane Norvik\r\n", 0), 0u);
    ASSERT_NE(run.find(columns), std::string::npos);
    EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(run[run.find(columns) + columns.size()]))); // rows follow
    EXPECT_EQ(empty.size() - empty.find(columns), columns.size()); // the header alone
    std::filesystem::remove_all(dir);
}
