// beamport-cli's exit statuses, one row of the table each, and what read
// --out saves, run against beamport-sim processes. Every value a row depends
// on is set with a simulator knob, the settings file or a developer write of
// the unit beforehand, never taken from the simulator's defaults.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include <QJsonDocument>
#include <QJsonObject>

#include "app/cfg_actions.h"
#include "model/config_record.h"
#include "sim/sim_memory.h"
#include "support/process.h"

namespace fs = std::filesystem;

namespace {

// A folder of this run's own, removed at the end.
const fs::path &Dir()
{
    static const struct Folder {
        fs::path path = fs::temp_directory_path() / ("beamport-cli-exit-" + std::to_string(::getpid()));
        Folder() { fs::create_directories(path); }
        ~Folder()
        {
            std::error_code ec;
            fs::remove_all(path, ec);
        }
    } folder;
    return folder.path;
}

std::string Write(const std::string &name, const std::string &bytes)
{
    const std::string path = (Dir() / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

std::vector<std::string> Env()
{
    return {"XDG_CONFIG_HOME=" + (Dir() / "home").string(), "BEAMPORT_PORT=", "BEAMPORT_RECORDS=off"};
}

// The user layout with a sensor table of its own: H2S gives up after 3 s, O2 after 60 s.
std::string UserIni()
{
    return Write("user.ini", "[SENSOR]\nH2S=1, ppm, SH, 3, 0, 100\nO2=4, %, SO, 60, 0, 30\n");
}

// The developer layout, writing the whole unit and sensor block but their CRC words.
std::string DeveloperIni()
{
    return Write("dev.ini", "[Environment]\nModeEntry=QWZ_ENG__\n[UNIT]\nUnitWriteFactoryStart=1\n"
                            "UnitWriteFactorySize=62\nUnitWriteUserSize=0\nSensorWriteFactoryStart=65\n"
                            "SensorWriteFactorySize=62\nSensorWriteUserSize=0\n");
}

// A unit unlike the default record: its own serial, battery limits, versions
// and suspend setting.
RTamselCFG CustomUnit(bool allowSuspend)
{
    RTamselCFG cfg = DefaultCFG();
    std::memcpy(cfg.mUnit.mSerial, "NV98765432", sizeof cfg.mUnit.mSerial);
    cfg.mUnit.mBatLimit[0] = 701;
    cfg.mUnit.mBatLimitCritical = 612;
    cfg.mUnit.mHWVersion = 7;
    cfg.mUnit.mFWVersion = 23;
    cfg.mUnit.mAllowSuspend = allowSuspend ? 0x80 : 0xFF;
    return cfg;
}

// Puts a unit into the simulated detector (which must keep its block CRCs)
// through the developer layout's Write Device.
void SetUpUnit(const std::string &port, const RTamselCFG &cfg)
{
    const std::vector<uint8_t> bytes = CFGFileBytes(cfg, 0, true);
    const std::string file = Write("unit.cfg", std::string(bytes.begin(), bytes.end()));
    const ProcessResult r = RunProcess(BEAMPORT_CLI, {"--ini", DeveloperIni(), "--port", port, "write", file}, Env());
    ASSERT_EQ(r.status, 0) << r.out << r.err;
}

enum class Suspend { kAsIs, kDenied, kAllowed };

} // namespace

TEST(CliExitStatus, EveryRowOfTheTable)
{
#ifdef _WIN32
    GTEST_SKIP() << "beamport-sim serves a pseudo-terminal: a Linux program";
#endif
    const std::string ini = UserIni();
    const std::string sysfs = (Dir() / "sysfs").string();
    fs::create_directories(sysfs);
    const std::string image = std::string(16384, '\0'); // a valid CRC (0), product 0
    const std::string imageProduct = Write("product.img", image);
    const std::string imageCrc = Write("crc.img", std::string(1, '\1') + image.substr(1));
    const std::string imageSize = Write("size.img", std::string(10, '\0'));
    const std::string noImage = (Dir() / "missing.img").string();
    // an image any detector takes without a question: newest versions, no minimum
    const std::vector<uint8_t> good = SimMakeFirmwareImage(128, 128, 2, 255, 255, 0, 0);
    const std::string imageGood = Write("good.img", std::string(good.begin(), good.end()));

    const struct {
        std::vector<std::string> knobs; // beamport-sim; {"-"}: no detector, no --port
        Suspend suspend;
        std::vector<std::string> args;
        int stopAfter; // seconds before SIGTERM; 0: none
        int exit;
        const char *line; // on stdout or stderr
    } rows[] = {
        {{"--product", "2", "--sensor", "1"}, Suspend::kAsIs, {"identify"}, 0, 0, "Load Identify... OK"},
        // status bytes, their table texts; the actuator tests say it too
        {{"--nak", "A0"}, Suspend::kAsIs, {"identify"}, 0, 176, "Norvik comunication error - negative response"},
        {{"--nak", "30"}, Suspend::kAsIs, {"beep"}, 0, 176, "Norvik comunication error - negative response"},
        {{"-"}, Suspend::kAsIs, {"identify"}, 0, 253, "O/S is not support"},
        {{}, Suspend::kAsIs, {"upgrade", noImage}, 0, 128, "Upgrade data file open error"},
        {{}, Suspend::kAsIs, {"upgrade", imageSize}, 0, 129, "Upgrade data file size different"},
        {{}, Suspend::kAsIs, {"upgrade", imageCrc}, 0, 130, "Upgrade data file CRC error"},
        {{}, Suspend::kAsIs, {"upgrade", imageProduct}, 0, 131, "Upgrade data file wrong type"},
        // a stop signal during the download is the window's Cancel
        {{"--latency-us", "20000"}, Suspend::kAsIs, {"upgrade", imageGood}, 1, 134, "User Stop..."},
        {{"--maintain-crc", "--refuse-hibernate"}, Suspend::kAllowed, {"--yes", "hibernate"}, 0, 195,
         "Hibernation is not allowed"},
        // 64: the command line
        {{}, Suspend::kAsIs, {"bump-pass", "extra"}, 0, 64, "bump-pass: unexpected argument 'extra'"},
        {{"--sensor", "1"}, Suspend::kAsIs, {"sensor-cal", "--span", "250"}, 0, 64,
         "--span 250 is outside the range of the H2S sensor: from 0 to 100 ppm"},
        {{"--sensor", "1"}, Suspend::kAsIs, {"sensor-cal", "--span", "-5"}, 0, 64, "from 0 to 100 ppm"},
        // 65: files
        {{}, Suspend::kAsIs, {"write", (Dir() / "missing.cfg").string()}, 0, 65, "Configuration File did not open"},
        // 66: the question answered No
        {{"--maintain-crc"}, Suspend::kAllowed, {"hibernate"}, 0, 66, "give --yes to hibernate"},
        {{}, Suspend::kAsIs, {"factory-reset"}, 0, 66, "give --yes to do it"},
        // 67: the unit or the sensor does not allow the job
        {{"--maintain-crc"}, Suspend::kDenied, {"--yes", "hibernate"}, 0, 67,
         "This feature is only supported on the Norvik+ instrument"},
        {{"--sensor", "3"}, Suspend::kAsIs, {"sensor-cal", "--span", "25"}, 0, 67, "Sensor type is wrong"},
        // 68: the calibration ran but did not succeed
        {{"--maintain-crc", "--sensor", "4", "--cal-ms", "500", "--cal-fail"}, Suspend::kAsIs, {"sensor-cal", "--span", "18"}, 0, 68,
         "the calibration failed: the detector reported a failed calibration"},
        {{"--maintain-crc", "--sensor", "1", "--cal-ms", "60000"}, Suspend::kAsIs, {"sensor-cal", "--span", "25"}, 0, 68,
         "the calibration timed out"},
        {{"--maintain-crc", "--sensor", "4", "--cal-ms", "60000"}, Suspend::kAsIs, {"sensor-cal", "--span", "18"}, 2, 68,
         "the calibration was stopped; the abort command was sent"},
        // the oxygen rule says what it changes
        {{"--maintain-crc", "--sensor", "4", "--cal-ms", "500"}, Suspend::kAsIs, {"sensor-cal", "--span", "20.9"}, 0, 0,
         "Span gas 20.9 % asked, 18 % used: an oxygen span gas above 19 and below 23.5 %"},
    };
    for (const auto &row : rows) {
        const bool detector = row.knobs != std::vector<std::string>{"-"};
        std::unique_ptr<SimProcess> sim;
        std::vector<std::string> args = {"--ini", ini};
        std::vector<std::string> env = Env();
        if (detector) {
            sim = std::make_unique<SimProcess>(row.knobs);
            args.insert(args.end(), {"--port", sim->Path()});
        } else {
            env.push_back("BEAMPORT_SYSFS_ROOT=" + sysfs);
        }
        if (row.suspend != Suspend::kAsIs)
            SetUpUnit(sim->Path(), CustomUnit(row.suspend == Suspend::kAllowed));
        args.insert(args.end(), row.args.begin(), row.args.end());
        std::string what = "exit " + std::to_string(row.exit) + ":";
        for (const std::string &a : row.args)
            what += " " + a;

        ProcessResult r;
        if (row.stopAfter == 0) {
            r = RunProcess(BEAMPORT_CLI, args, env);
        } else {
            std::vector<std::string> shell = {
                "-c", "\"$0\" \"$@\" & p=$!; sleep " + std::to_string(row.stopAfter) + "; kill -TERM $p; wait $p",
                BEAMPORT_CLI};
            shell.insert(shell.end(), args.begin(), args.end());
            r = RunProcess("/bin/sh", shell, env);
        }
        EXPECT_EQ(r.status, row.exit) << what << "\n" << r.out << r.err;
        EXPECT_NE((r.out + r.err).find(row.line), std::string::npos) << what << "\n" << r.out << r.err;
        // 64 to 68 are the command line's own: never explained as a status
        // byte (the status table's text for a byte it does not list).
        if (row.exit >= 64 && row.exit <= 68) {
            EXPECT_EQ(r.err.find("Error ocuured"), std::string::npos) << what << "\n" << r.err;
        }
    }
}

// The rows of the table that are not a device's status byte.
TEST(CliExitStatus, PortFailuresAndCommandsWithoutDeviceWork)
{
#ifdef _WIN32
    GTEST_SKIP() << "the ports that fail are /dev paths, a pseudo-terminal and beamport-sim";
#endif
    const std::string store = "sqlite:" + (Dir() / "rows.sqlite").string();
    const std::string head = "1:" + std::string(64, 'a');
    const struct {
        std::vector<std::string> args;
        int exit;
        const char *line;
    } rows[] = {
        // 161 only when the port failed: a device that is no serial port
        {{"--port", "/dev/null", "identify"}, 161, "Invalid device handle"},
        {{"--records", store, "records"}, 0, ""},
        {{"--records", store, "records", "verify", "--head", head}, 1, "the record of the head given is missing"},
        {{"--records", store, "records", "show", "x"}, 64, "one record id"},
        {{"--records", store, "records", "export", "--out", Dir().string()}, 65, "could not be written"},
        {{"--records", store, "records", "keys", "revoke", "0000000000000000"}, 67, "no bench key 0000000000000000"},
        {{"--records", "sqlite:/proc/no/records.sqlite", "records"}, 69, "could not be opened"},
        {{"--records", "sqlite:/proc/no/records.sqlite", "due"}, 69, "could not be opened"},
        {{"--records", "sqlite:/proc/no/records.sqlite", "certificate", "1", "--out", "c.pdf"}, 69, "could not be opened"},
    };
    for (const auto &row : rows) {
        std::string what = "exit " + std::to_string(row.exit) + ":";
        for (const std::string &a : row.args)
            what += " " + a;
        const ProcessResult r = RunProcess(BEAMPORT_CLI, row.args, Env());
        EXPECT_EQ(r.status, row.exit) << what << "\n" << r.out << r.err;
        EXPECT_NE((r.out + r.err).find(row.line), std::string::npos) << what << "\n" << r.out << r.err;
    }
}

TEST(CliExitStatus, HelpPrintsTheTable)
{
    const ProcessResult r = RunProcess(BEAMPORT_CLI, {"--help"}, Env());
    EXPECT_EQ(r.status, 0);
    for (const char *line : {"  64     usage error", "  66     nothing was done because a question was answered No",
                             "  68     the job ran but did not succeed", "  161    the port failed during the job",
                             "  69     the records store cannot be reached or opened", "  70     an internal error"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    EXPECT_EQ(RunProcess(BEAMPORT_CLI, {"sensor-cal", "--help"}, Env()).status, 0);
}

// read --out saves what Write File would save after that read, not the
// detector's memory: the record goes through the configuration view.
TEST(CliReadOut, SavesTheRecordRebuiltForTheLayout)
{
#ifdef _WIN32
    GTEST_SKIP() << "beamport-sim serves a pseudo-terminal: a Linux program";
#endif
    SimProcess sim({"--maintain-crc", "--sensor", "1"});
    const RTamselCFG unit = CustomUnit(true);
    SetUpUnit(sim.Path(), unit);
    const RTamselCFG def = DefaultCFG();

    const auto readOut = [&](const std::string &ini, const std::string &name) {
        const std::string file = (Dir() / name).string();
        const ProcessResult r = RunProcess(BEAMPORT_CLI, {"--ini", ini, "--port", sim.Path(), "read", "--out", file}, Env());
        EXPECT_EQ(r.status, 0) << r.err;
        std::ifstream in(file, std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(bytes.size(), 140u);
        std::optional<RTamselCFG> cfg = ParseCFGFile(bytes);
        EXPECT_TRUE(cfg.has_value());
        return cfg.value_or(RTamselCFG{});
    };

    // User layout: the default record, the user's fields from the detector,
    // the firmware version just read.
    const RTamselCFG user = readOut(UserIni(), "user.cfg");
    EXPECT_EQ(std::string(user.mUnit.mSerial, 10), std::string(def.mUnit.mSerial, 10));
    EXPECT_EQ(user.mUnit.mBatLimit[0], def.mUnit.mBatLimit[0]);
    EXPECT_EQ(user.mUnit.mBatLimitCritical, def.mUnit.mBatLimitCritical);
    EXPECT_EQ(user.mUnit.mHWVersion, def.mUnit.mHWVersion);
    EXPECT_EQ(user.mUnit.mAllowSuspend, def.mUnit.mAllowSuspend);
    EXPECT_EQ(user.mUnit.mFWVersion, unit.mUnit.mFWVersion);
    EXPECT_EQ(user.mSensor.mAlarmHigh, unit.mSensor.mAlarmHigh);
    EXPECT_EQ(user.mSensor.mSensorType, 1);

    // Developer layout: the detector's record with the developer fields
    // rebuilt from the view.
    const RTamselCFG dev = readOut(DeveloperIni(), "dev.cfg");
    EXPECT_EQ(std::string(dev.mUnit.mSerial, 10), "NV98765432");
    EXPECT_EQ(dev.mUnit.mBatLimit[0], 701);
    EXPECT_EQ(dev.mUnit.mBatLimitCritical, 612);
    EXPECT_EQ(dev.mUnit.mHWVersion, 7);
    EXPECT_EQ(dev.mUnit.mAllowSuspend, 0x80);
    EXPECT_EQ(dev.mUnit.mFWVersion, 23);
}

// A span gas outside the sensor type's range stops after the read that tells
// the sensor type: no span write (02 ...), no calibration start (42 ...).
TEST(CliSensorCal, SpanOutsideTheRangeSendsNothingAfterTheRead)
{
#ifdef _WIN32
    GTEST_SKIP() << "beamport-sim serves a pseudo-terminal: a Linux program";
#endif
    for (const char *span : {"100.1", "-0.1", "1e9"}) {
        SimProcess sim({"--maintain-crc", "--sensor", "1"});
        const ProcessResult r = RunProcess(
            BEAMPORT_CLI, {"--ini", UserIni(), "--traffic", "--port", sim.Path(), "sensor-cal", "--span", span}, Env());
        EXPECT_EQ(r.status, 64) << span;
        EXPECT_NE(r.err.find("[SEND] A0 78 00"), std::string::npos) << span; // the read
        EXPECT_EQ(r.err.find("[SEND] 02 "), std::string::npos) << span;
        EXPECT_EQ(r.err.find("[SEND] 42 "), std::string::npos) << span;
    }
}
