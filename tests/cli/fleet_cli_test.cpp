// Fleet work on the command line against beamport-sim processes: the
// comparison before a write.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <unistd.h>

#include <QJsonDocument>
#include <QJsonObject>

#include "files/cfg_file.h"
#include "support/process.h"

namespace fs = std::filesystem;

namespace {

struct FleetCli : ::testing::Test {
    FleetCli()
    {
        dir = fs::temp_directory_path() / ("beamport-fleet-cli-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        env = {"XDG_CONFIG_HOME=" + dir.string(), "BEAMPORT_RECORDS=off"};
    }
    ~FleetCli() override { fs::remove_all(dir); }

    ProcessResult Cli(const std::vector<std::string> &args) { return RunProcess(BEAMPORT_CLI, args, env); }

    // Lines of stdout after the status line.
    static std::vector<std::string> Lines(const std::string &out)
    {
        std::vector<std::string> lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        if (!lines.empty())
            lines.erase(lines.begin());
        return lines;
    }

    // The detector's record as `read` prints it: field name -> value, both blocks.
    std::map<std::string, QJsonValue> Read(const std::string &port)
    {
        const ProcessResult r = Cli({"--port", port, "read"});
        EXPECT_EQ(r.status, 0) << r.err;
        const QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(r.out.substr(r.out.find('{'))))
                                     .object();
        std::map<std::string, QJsonValue> fields;
        for (const char *block : {"mUnit", "mSensor"}) {
            const QJsonObject o = root.value(block).toObject();
            for (auto it = o.begin(); it != o.end(); ++it)
                fields[std::string(block) + "." + it.key().toStdString()] = it.value();
        }
        return fields;
    }

    fs::path dir;
    std::vector<std::string> env;
};

} // namespace

TEST_F(FleetCli, DiffListsExactlyTheFieldsWriteThenChanges)
{
    SimProcess sim;
    RTamselCFG site = DefaultCFG();
    std::memcpy(site.mUnit.mUserID, "SITE-A", 6);
    site.mSensor.mAlarmHigh = 200;
    site.mSensor.mAlarmLow = 120;
    site.mSensor.mCalInterval = 90 * 86400;
    site.mSensor.mBumpInterval = 14;
    const std::string file = (dir / "site.cfg").string();
    ASSERT_TRUE(WriteConfigFile(file, site, false));

    const ProcessResult diff = Cli({"--port", sim.Path(), "diff", file});
    EXPECT_EQ(diff.status, 1) << diff.err;
    EXPECT_EQ(diff.out.rfind("Read Norvik Information... OK\n", 0), 0u) << diff.out;
    const std::vector<std::string> lines = Lines(diff.out);
    EXPECT_EQ(lines, (std::vector<std::string>{"mUserID: \"CREW-B\" -> \"SITE-A\"", "mAlarmHigh: 15.0 ppm -> 20.0 ppm",
                                               "mAlarmLow: 10.0 ppm -> 12.0 ppm", "mCalInterval: 180 days -> 90 days",
                                               "mBumpInterval: 30 days -> 14 days"}));
    EXPECT_EQ(diff.err, "");

    // What write then changes, read back: those fields and no other (the
    // block CRC words follow the bytes).
    const auto before = Read(sim.Path());
    const ProcessResult write = Cli({"--port", sim.Path(), "write", file});
    ASSERT_EQ(write.status, 0) << write.err;
    const auto after = Read(sim.Path());
    std::set<std::string> changed, listed;
    for (const auto &[name, value] : after)
        if (before.at(name) != value && name.find("mCRC") == std::string::npos)
            changed.insert(name.substr(name.find('.') + 1));
    for (const std::string &line : lines)
        listed.insert(line.substr(0, line.find(':')));
    EXPECT_EQ(changed, listed);

    const ProcessResult again = Cli({"--port", sim.Path(), "diff", file});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.out, "Read Norvik Information... OK\n");

    // A file that cannot be read wakes nobody.
    const ProcessResult missing = Cli({"--port", sim.Path(), "diff", (dir / "none.cfg").string()});
    EXPECT_EQ(missing.status, 65);
    EXPECT_EQ(missing.out, "");
}
