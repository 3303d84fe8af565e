// Templates, programming unit after unit and restoring a kept configuration,
// on the command line against beamport-sim processes started and stopped on
// one --link path, with the records in a SQLite store of the test's own.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>
#include <csignal>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "files/cfg_file.h"
#include "model/config_diff.h"
#include "support/process.h"

namespace fs = std::filesystem;

namespace {

std::string Slurp(const fs::path &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct ProgramCli : ::testing::Test {
    ProgramCli()
    {
        dir = fs::temp_directory_path() / ("beamport-program-cli-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        link = (dir / "tty").string();
        env = {"XDG_CONFIG_HOME=" + (dir / "config").string(), "XDG_DATA_HOME=" + (dir / "data").string(),
               "BEAMPORT_RECORDS=sqlite:" + (dir / "records.sqlite").string()};
        RTamselCFG site = DefaultCFG();
        std::memcpy(site.mUnit.mUserID, "SITE-A", 6);
        site.mSensor.mAlarmHigh = 200;
        site.mSensor.mAlarmLow = 120;
        cfg = (dir / "site.cfg").string();
        EXPECT_TRUE(WriteConfigFile(cfg, site, false));
    }
    ~ProgramCli() override { fs::remove_all(dir); }

    ProcessResult Cli(const std::vector<std::string> &args) { return RunProcess(BEAMPORT_CLI, args, env); }

    QJsonArray Records(const std::string &job)
    {
        const ProcessResult r = Cli({"records", "--job", job, "--json"});
        EXPECT_EQ(r.status, 0) << r.err;
        return QJsonDocument::fromJson(QByteArray::fromStdString(r.out.substr(r.out.find('[')))).array();
    }

    // The detector's record as `read` prints it, both blocks.
    QJsonObject Read(const std::string &port)
    {
        const ProcessResult r = Cli({"--port", port, "read"});
        EXPECT_EQ(r.status, 0) << r.err;
        return QJsonDocument::fromJson(QByteArray::fromStdString(r.out.substr(r.out.find('{')))).object();
    }

    // `program` in the background, its stdout and stderr in files the test
    // watches while it presents detectors one after another on `link`.
    struct Run {
        std::thread thread;
        ProcessResult result;
        fs::path out, err, pid;
        bool Wait(const fs::path &file, const std::string &text, int seconds = 30) const
        {
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
            while (std::chrono::steady_clock::now() < end) {
                if (Slurp(file).find(text) != std::string::npos)
                    return true;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            return false;
        }
    };
    void StartProgram(Run &run, const std::vector<std::string> &args, const std::string &tag)
    {
        run.out = dir / (tag + ".out");
        run.err = dir / (tag + ".err");
        run.pid = dir / (tag + ".pid");
        std::string command = "echo $$ >'" + run.pid.string() + "'; exec '" + BEAMPORT_CLI + "' --port '" + link + "'";
        for (const std::string &a : args)
            command += " '" + a + "'";
        command += " >'" + run.out.string() + "' 2>'" + run.err.string() + "'";
        run.thread = std::thread([this, &run, command] { run.result = RunProcess("/bin/sh", {"-c", command}, env, 120); });
    }

    // Presents one detector until the run reports unit `number`, then takes it away.
    void Present(Run &run, const std::vector<std::string> &knobs, int number, int count)
    {
        std::vector<std::string> all = {"--link", link};
        all.insert(all.end(), knobs.begin(), knobs.end());
        SimProcess sim(all);
        EXPECT_TRUE(run.Wait(run.out, "[" + std::to_string(number) + "/" + std::to_string(count) + "]"))
            << Slurp(run.out) << Slurp(run.err);
    }

    fs::path dir;
    std::string link, cfg;
    std::vector<std::string> env;
};

} // namespace

TEST_F(ProgramCli, TemplateVersionsDiffAndProgrammingFourUnits)
{
    // Version 1: the user fields of the file; version 2: two of them.
    ASSERT_EQ(Cli({"template", "save", "site", "--from", cfg}).status, 0);
    const ProcessResult v2 = Cli({"template", "save", "site", "--from", cfg, "--fields", "mUserID,mAlarmHigh"});
    ASSERT_EQ(v2.status, 0) << v2.err;
    EXPECT_NE(v2.out.find("Template site version 2 saved: 2 fields, sha256 "), std::string::npos) << v2.out;

    const QJsonObject first = QJsonDocument::fromJson(QByteArray::fromStdString(
                                                          Cli({"template", "show", "site", "--version", "1", "--json"}).out))
                                  .object();
    EXPECT_EQ(first.value("version").toInt(), 1);
    EXPECT_EQ(first.value("fields").toObject().value("mAlarmLow").toInt(), 120);
    EXPECT_EQ(first.value("fields").toObject().size(), 7);
    const QJsonObject newest =
        QJsonDocument::fromJson(QByteArray::fromStdString(Cli({"template", "show", "site", "--json"}).out)).object();
    EXPECT_EQ(newest.value("fields").toObject().keys(), (QStringList{"mAlarmHigh", "mUserID"}));
    EXPECT_NE(first.value("hash"), newest.value("hash"));

    // Refusals and unknown names before any detector is touched.
    EXPECT_EQ(Cli({"template", "show", "none"}).status, 65);
    EXPECT_EQ(Cli({"template", "save", "x", "--from", cfg, "--fields", "mSerial"}).status, 67);
    EXPECT_EQ(Cli({"template", "save", "x", "--from", cfg, "--fields", "mNothing"}).status, 64);
    EXPECT_EQ(Cli({"template", "save", "x"}).status, 64);

    // Settings whose unit block has no user write range: refused before the
    // first unit, naming the field.
    const std::string narrow = (dir / "narrow.ini").string();
    std::ofstream(narrow) << "[Environment]\nModeEntry=QWZ_ENG__\n";
    const ProcessResult refused = Cli({"--ini", narrow, "--port", link, "program", "site", "--yes"});
    EXPECT_EQ(refused.status, 67);
    EXPECT_NE(refused.err.find("refused: mUserID lies outside every write range"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.out, "");

    {
        SimProcess sim({"--link", link});
        const ProcessResult diff = Cli({"--port", link, "template", "diff", "site"});
        EXPECT_EQ(diff.status, 1) << diff.err;
        EXPECT_EQ(diff.out, "Read Norvik Information... OK\nmUserID: \"CREW-B\" -> \"SITE-A\"\n"
                            "mAlarmHigh: 15.0 ppm -> 20.0 ppm\n");
        // Without --yes the question is answered No: nothing sent.
        EXPECT_EQ(Cli({"--port", link, "program", "site", "--count", "1"}).status, 66);
    }

    // Three detectors one after another, then one with a failing memory cell
    // under mAlarmHigh.
    Run run;
    StartProgram(run, {"program", "site", "--count", "3", "--yes", "--gone-seconds", "1"}, "three");
    for (int n = 1; n <= 3; ++n) {
        ASSERT_TRUE(run.Wait(run.err, "Waiting for unit " + std::to_string(n) + "/3")) << Slurp(run.err);
        Present(run, {"--serial", "FLEET" + std::to_string(n)}, n, 3);
    }
    run.thread.join();
    EXPECT_EQ(run.result.status, 0) << Slurp(run.err);
    const std::string out = Slurp(run.out);
    EXPECT_NE(out.find("FLEET20000 programmed (2 fields changed) [2/3]\n"), std::string::npos) << out;
    EXPECT_NE(out.find("programmed 3, unchanged 0, failed 0\n"), std::string::npos) << out;

    const int cell = FindConfigField("mAlarmHigh")->mOffset;
    Run bad;
    StartProgram(bad, {"program", "site", "--count", "1", "--yes"}, "bad");
    ASSERT_TRUE(bad.Wait(bad.err, "Waiting for unit 1/1"));
    Present(bad, {"--serial", "FLEET4", "--corrupt-write", std::to_string(cell)}, 1, 1);
    bad.thread.join();
    EXPECT_EQ(bad.result.status, 68);
    EXPECT_NE(Slurp(bad.out).find("FLEET40000 failed: read-back differs in mAlarmHigh [1/1]"), std::string::npos)
        << Slurp(bad.out);

    // Four records, newest first, each naming the version it used and keeping
    // the configuration read before its write.
    const QJsonArray records = Records("program");
    ASSERT_EQ(records.size(), 4);
    std::set<QString> serials;
    for (int i = 0; i < 4; ++i) {
        const QJsonObject r = records[i].toObject();
        const QJsonObject data = r.value("data").toObject();
        serials.insert(r.value("serial").toString());
        EXPECT_EQ(data.value("template").toObject().value("version").toInt(), 2);
        EXPECT_EQ(data.value("template").toObject().value("hash"), newest.value("hash"));
        EXPECT_EQ(data.value("backup").toString().size(), 256);
        EXPECT_EQ(data.value("changes").toArray().size(), 2);
        EXPECT_EQ(r.value("outcome").toString(), i == 0 ? "fail" : "success");
        EXPECT_EQ(data.value("readback").toString(), i == 0 ? "differs" : "equal");
    }
    EXPECT_EQ(serials.size(), 4u);
    EXPECT_EQ(records[0].toObject().value("data").toObject().value("readback_fields").toArray(),
              QJsonArray{"mAlarmHigh"});

    // A deleted template is no longer used, and program says so.
    EXPECT_EQ(Cli({"template", "delete", "site"}).status, 0);
    EXPECT_EQ(Cli({"template", "list"}).out, "");
    EXPECT_EQ(Cli({"--port", link, "program", "site", "--yes"}).status, 65);
    EXPECT_EQ(Cli({"template", "show", "site", "--version", "2"}).status, 0);
}

// `template show NAME --versions` lists every version, oldest first, with the
// start of the hash `show --version N --json` gives; a deleted template's
// versions stay listed and say so.
TEST_F(ProgramCli, TemplateShowVersionsListsEveryVersion)
{
    ASSERT_EQ(Cli({"template", "save", "site", "--from", cfg}).status, 0);
    ASSERT_EQ(Cli({"template", "save", "site", "--from", cfg, "--fields", "mUserID"}).status, 0);
    std::vector<std::string> hashes;
    for (const char *version : {"1", "2"})
        hashes.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(
                                                     Cli({"template", "show", "site", "--version", version, "--json"}).out))
                             .object()
                             .value("hash")
                             .toString()
                             .toStdString());
    ASSERT_EQ(hashes[0].size(), 64u);
    ASSERT_NE(hashes[0], hashes[1]);
    ASSERT_EQ(Cli({"template", "delete", "site"}).status, 0);

    struct Case {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> out; // each in stdout, in this order
        std::string err;              // in stderr
    };
    const std::vector<Case> cases = {
        {{"template", "show", "site", "--versions"},
         0,
         {"Template site: 2 versions\n", "version 1  ", " sha256 " + hashes[0].substr(0, 16) + "  key ", "  (deleted)\n",
          "version 2  ", " sha256 " + hashes[1].substr(0, 16) + "  key ", "  (deleted)\n"},
         ""},
        {{"template", "show", "none", "--versions"}, 65, {}, "there is no template none"},
        {{"template", "show", "site", "--versions", "--json"}, 64, {}, "no --version or --json"},
        {{"template", "show", "site", "--versions", "--version", "1"}, 64, {}, "no --version or --json"},
        {{"template", "show", "--versions"}, 64, {}, "template show NAME"},
    };
    for (const Case &c : cases) {
        const ProcessResult r = Cli(c.args);
        SCOPED_TRACE(c.args.back() + " " + r.out + r.err);
        EXPECT_EQ(r.status, c.status);
        size_t at = 0;
        for (const std::string &text : c.out) {
            at = r.out.find(text, at);
            ASSERT_NE(at, std::string::npos) << text;
        }
        EXPECT_NE(r.err.find(c.err), std::string::npos);
    }
    // Each version names the bench key that signed it, and all of them hold.
    const std::string listed = Cli({"template", "show", "site", "--versions"}).out;
    EXPECT_EQ(listed.find("key none"), std::string::npos) << listed;
    EXPECT_EQ(listed.find("NOT USABLE"), std::string::npos) << listed;
}

TEST_F(ProgramCli, RestoreOfAWriteBringsBackTheConfigurationBefore)
{
    SimProcess sim({"--link", link});
    const QJsonObject original = Read(link);
    ASSERT_EQ(Cli({"--port", link, "write", cfg}).status, 0);
    const QJsonObject written = Read(link);
    ASSERT_NE(written, original);

    // The write names the read before it as the configuration before.
    const QJsonArray writes = Records("write");
    ASSERT_EQ(writes.size(), 1);
    const QJsonObject write = writes[0].toObject();
    const QJsonArray reads = Records("read");
    ASSERT_EQ(reads.size(), 2);
    const QJsonObject firstRead = reads[1].toObject();
    EXPECT_EQ(write.value("data").toObject().value("config_before").toObject(),
              (QJsonObject{{"id", firstRead.value("id")}, {"time", firstRead.value("time")}}));

    const std::string id = std::to_string(write.value("id").toInteger());
    const ProcessResult no = Cli({"--port", link, "restore", id});
    EXPECT_EQ(no.status, 66);
    EXPECT_NE(no.out.find("mUserID: \"SITE-A\" -> \"CREW-B\"\n"), std::string::npos) << no.out;
    EXPECT_EQ(Read(link), written);

    const ProcessResult yes = Cli({"--port", link, "--yes", "restore", id});
    EXPECT_EQ(yes.status, 0) << yes.err;
    EXPECT_EQ(Read(link), original);
    const QJsonArray restores = Records("restore");
    ASSERT_EQ(restores.size(), 2);
    const QJsonObject data = restores[0].toObject().value("data").toObject();
    EXPECT_EQ(data.value("readback").toString(), "equal");
    EXPECT_EQ(data.value("restored_from").toObject().value("id"), firstRead.value("id"));
    EXPECT_EQ(data.value("backup").toString().size(), 256);

    // Once more: nothing to write. A record that is not there: 65.
    EXPECT_EQ(Cli({"--port", link, "--yes", "restore", id}).status, 0);
    EXPECT_EQ(Cli({"--port", link, "--yes", "restore", "999"}).status, 65);
}

TEST_F(ProgramCli, RestoreRefusesAnotherDetector)
{
    {
        SimProcess sim({"--link", link, "--serial", "UNITA"});
        Read(link);
    }
    SimProcess other({"--link", link, "--serial", "UNITB"});
    const std::string id = std::to_string(Records("read")[0].toObject().value("id").toInteger());
    const ProcessResult r = Cli({"--port", link, "--yes", "restore", id});
    EXPECT_EQ(r.status, 67);
    EXPECT_NE(r.err.find("This detector is UNITB00000"), std::string::npos) << r.err;
}

TEST_F(ProgramCli, CtrlCEndsTheRunAfterTheUnitUnderWay)
{
    ASSERT_EQ(Cli({"template", "save", "site", "--from", cfg}).status, 0);
    Run run;
    StartProgram(run, {"program", "site", "--yes"}, "open");
    ASSERT_TRUE(run.Wait(run.err, "Waiting for unit 1: present a detector"));
    {
        SimProcess sim({"--link", link});
        ASSERT_TRUE(run.Wait(run.out, " programmed (5 fields changed) [1]\n")) << Slurp(run.out) << Slurp(run.err);
        ASSERT_TRUE(run.Wait(run.pid, "\n"));
        ::kill(std::stoi(Slurp(run.pid)), SIGINT);
    }
    run.thread.join();
    EXPECT_EQ(run.result.status, 0) << Slurp(run.err);
    EXPECT_NE(Slurp(run.out).find("\nprogrammed 1, unchanged 0, failed 0\n"), std::string::npos) << Slurp(run.out);
    EXPECT_EQ(Records("program").size(), 1);
}
