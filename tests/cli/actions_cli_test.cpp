// beamport-cli's device-action commands and `settings`, run as a user runs them.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "support/process.h"

namespace {

// A private per-user store, so the runs never touch the real home folder.
std::vector<std::string> Env()
{
    static const std::string home = testing::TempDir() + "actions-cli-home-" + std::to_string(::getpid());
    return {"XDG_CONFIG_HOME=" + home, "BEAMPORT_PORT="};
}

ProcessResult Cli(const std::vector<std::string> &args) { return RunProcess(BEAMPORT_CLI, args, Env()); }

QJsonObject JsonAfterFirstLine(const std::string &out)
{
    const size_t nl = out.find('\n');
    const std::string json = nl == std::string::npos ? std::string() : out.substr(nl + 1);
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << json;
    return doc.object();
}

std::string WriteIni(const std::string &name, const std::string &text)
{
    const std::string path = testing::TempDir() + name + "-" + std::to_string(::getpid()) + ".ini";
    std::ofstream(path) << text;
    return path;
}

} // namespace

TEST(CliActions, ReadPrintsTheStatusThenTheRecordAsJson)
{
#ifdef _WIN32
    GTEST_SKIP() << "beamport-sim serves a pseudo-terminal: a Linux program";
#endif
    SimProcess sim({"--plain"}); // the factory record
    const ProcessResult r = Cli({"--port", sim.Path(), "read"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Read Norvik Information... OK\n{", 0), 0u) << r.out;
    EXPECT_LT(r.out.find("\"mUnit\""), r.out.find("\"mSensor\"")); // record order
    EXPECT_LT(r.out.find("\"mUnitFlag\""), r.out.find("\"mUserID\""));
    const QJsonObject root = JsonAfterFirstLine(r.out);
    const QJsonObject unit = root["mUnit"].toObject();
    const QJsonObject sensor = root["mSensor"].toObject();
    EXPECT_EQ(unit["mUnitFlag"].toInt(), 1);
    EXPECT_EQ(unit["mUserID"].toString().toStdString(), "      ");
    EXPECT_EQ(unit["mSerial"].toString().toStdString(), "SH10000000");
    EXPECT_EQ(unit["mLifeRemaining"].toInteger(), 63072000);
    EXPECT_EQ(unit["mBatLimit"].toArray().size(), 2);
    EXPECT_EQ(unit["mDummy2"].toArray().size(), 9);
    EXPECT_EQ(sensor["mTempCompSpan"].toArray()[0].toInteger(), -229832); // signed
    EXPECT_EQ(sensor["mSensorType"].toInt(), 1);
    EXPECT_NE(sensor["mCRC"].toInt(), 0); // as the detector keeps it
    EXPECT_EQ(unit.size(), 19);
    EXPECT_EQ(sensor.size(), 19);
}

TEST(CliActions, ReadFailsWithTheProductStatusByLayout)
{
#ifdef _WIN32
    GTEST_SKIP() << "beamport-sim serves a pseudo-terminal: a Linux program";
#endif
    SimProcess sim({"--product", "4"});
    const ProcessResult user = Cli({"--port", sim.Path(), "read"});
    EXPECT_EQ(user.status, 146);
    EXPECT_EQ(user.out, "Read Norvik Information... FAIL\n");
    EXPECT_NE(user.err.find("This is not Norvik module"), std::string::npos) << user.err;

    const std::string ini = WriteIni("dev", "[Environment]\nModeEntry=QWZ_ENG__\n");
    const ProcessResult dev = Cli({"--ini", ini, "--port", sim.Path(), "read"});
    EXPECT_EQ(dev.status, 0) << dev.err;
    EXPECT_EQ(dev.out.rfind("Read Norvik Information... OK\n{", 0), 0u);
    std::remove(ini.c_str());
}

TEST(CliActions, CommandsPrintTheirResult)
{
    const struct {
        const char *command;
        const char *out;
    } rows[] = {
        {"log-reset", "Event Log Reset... OK\n"},
        {"power-down", "Power Down... OK\n"},
        {"factory-reset", "Fatory Reset... OK\n"},
        {"bump-pass", "Send Bump Pass... OK\n"},
        {"beep", ""}, // the actuator tests show nothing
    };
    for (const auto &row : rows) {
        const ProcessResult r = Cli({"--simulate", "--yes", row.command});
        EXPECT_EQ(r.status, 0) << row.command << ": " << r.err;
        EXPECT_EQ(r.out, row.out) << row.command;
    }
    EXPECT_EQ(Cli({"--simulate", "bump-pass", "extra"}).status, 64);
}

TEST(CliActions, FailuresEndWithTheActionsStatus)
{
#ifdef _WIN32
    GTEST_SKIP() << "beamport-sim serves a pseudo-terminal: a Linux program";
#endif
    const struct {
        std::vector<std::string> knobs;
        const char *command;
        int status;
        const char *out;
        const char *err;
    } rows[] = {
        {{"--error", "14"}, "power-down", 193, "Power Down... FAIL\n", "Must calibration before POWER OFF"},
        {{"--error", "42"}, "calibration", 194, "Calibration... FAIL\n", "Zero calibration failed"},
        // the actuator tests show no result, but the command line still says why
        {{"--nak", "34"}, "vibrator", 176, "", "Norvik comunication error - negative response"},
    };
    for (const auto &row : rows) {
        SimProcess sim(row.knobs);
        const ProcessResult r = Cli({"--yes", "--port", sim.Path(), row.command});
        EXPECT_EQ(r.status, row.status) << row.command;
        EXPECT_EQ(r.out, row.out) << row.command;
        EXPECT_NE(r.err.find(row.err), std::string::npos) << row.command << ": " << r.err;
    }
}

TEST(CliActions, SettingsAsJson)
{
    const ProcessResult def = Cli({"--ini", "/nonexistent/OPTAVO.INI", "settings"});
    ASSERT_EQ(def.status, 0) << def.err;
    QJsonParseError error{};
    QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(def.out), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << def.out;
    EXPECT_TRUE(root["UserMode"].toBool());
    EXPECT_EQ(root["DeviceCFG"].toObject()["mConnectTime"].toInt(), 3000);
    EXPECT_EQ(root["DeviceCFG"].toObject()["mUnitWriteUserSize"].toInt(), 8);
    const QJsonArray types = root["SensorTypes"].toArray();
    ASSERT_EQ(types.size(), 3);
    EXPECT_EQ(types[2].toObject()["mName"].toString().toStdString(), "O2");
    EXPECT_EQ(types[2].toObject()["mMax"].toDouble(), 30.0);

    const std::string ini = WriteIni("settings", "[Environment]\nModeEntry=QWZ_ENG__\nConnectTime=1234\n"
                                                 "[SENSOR]\nNH3=7, ppm, SA, 90, 0.5, 50.1\n");
    const ProcessResult dev = Cli({"--ini", ini, "settings"});
    ASSERT_EQ(dev.status, 0) << dev.err;
    root = QJsonDocument::fromJson(QByteArray::fromStdString(dev.out)).object();
    EXPECT_FALSE(root["UserMode"].toBool());
    EXPECT_EQ(root["DeviceCFG"].toObject()["mConnectTime"].toInt(), 1234);
    EXPECT_EQ(root["DeviceCFG"].toObject()["mUnitWriteUserSize"].toInt(), 0);
    ASSERT_EQ(root["SensorTypes"].toArray().size(), 1);
    const QJsonObject nh3 = root["SensorTypes"].toArray()[0].toObject();
    EXPECT_EQ(nh3["mIndex"].toInt(), 7);
    EXPECT_EQ(nh3["mMin"].toDouble(), 0.5);
    EXPECT_EQ(nh3["mMax"].toDouble(), 50.1); // the short decimal, not the float's expansion
    std::remove(ini.c_str());
}
