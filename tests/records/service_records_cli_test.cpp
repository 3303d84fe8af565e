// A technician's day against simulated detectors, through beamport-cli: each
// job leaves its record, the chain holds until someone edits the store, the
// certificate and the due list come from what the jobs read, several benches
// share one PostgreSQL store, a store that is out of reach or cannot be
// written never changes what a job does.
#include <fstream>
#include <set>
#include <sstream>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "records/certificate.h"
#include "records/record.h"
#include "records_fixture.h"
#include "sim/sim_memory.h"
#include "support/process.h"

namespace {

const std::string kSerial = "SH24031507"; // the simulator's unit in service
const std::string kNotKept = "beamport-cli: warning: the service record was not kept: ";
const std::string kKeptHere = "beamport-cli: warning: the service record was kept on this bench; it will be sent when ";

QJsonDocument Json(const std::string &text) { return QJsonDocument::fromJson(QByteArray::fromStdString(text)); }

class ServiceRecordsCli : public RecordsTest {
protected:
    // beamport-cli on one detector (none when port is empty), records going
    // to `records` (empty: this case's store), its own home folders.
    ProcessResult Cli(const std::string &port, std::vector<std::string> args, const QString &records = {})
    {
        if (!port.empty())
            args.insert(args.begin(), {"--ini", Ini(), "--port", port});
        return RunProcess(BEAMPORT_CLI, args, Env(records));
    }
    std::vector<std::string> Env(const QString &records = {}) const
    {
        return {"BEAMPORT_RECORDS=" + (records.isEmpty() ? StoreArg() : records).toStdString(), "BEAMPORT_PORT=",
                "XDG_DATA_HOME=" + Path("data"), "XDG_CONFIG_HOME=" + Path("config")};
    }
    std::string Path(const QString &name) const { return TempPath(name).toStdString(); }
    // The user layout; an H2S calibration may take up to 30 s.
    std::string Ini()
    {
        std::ofstream(Path("OPTAVO.INI")) << "[SENSOR]\nH2S=1, ppm, SH, 30, 0, 100\n";
        return Path("OPTAVO.INI");
    }
    QJsonArray Records(const QString &records = {})
    {
        const ProcessResult r = Cli({}, {"records", "--json"}, records);
        EXPECT_EQ(r.status, 0) << r.err;
        return Json(r.out).array();
    }
};

// The text of a PDF, each line's runs of spaces made one.
std::string PdfText(const std::string &pdf)
{
    const ProcessResult r = RunProcess("/usr/bin/pdftotext", {"-layout", pdf, "-"});
    EXPECT_EQ(r.status, 0) << "pdftotext (poppler-utils) reads the certificate: " << r.err;
    QStringList lines;
    for (const QString &line : QString::fromStdString(r.out).split('\n'))
        lines << line.simplified();
    return lines.join('\n').toStdString();
}

} // namespace

TEST_P(ServiceRecordsCli, EveryJobOnTheRecordCertificateAndDue)
{
    SimProcess sim({"--cal-ms", "500"});
    const std::string cfg = Path("unit.cfg");
    const std::vector<uint8_t> image = SimMakeFirmwareImage(128, 128, 2, 255, 255, 0, 0);
    std::ofstream(Path("new.img"), std::ios::binary).write(reinterpret_cast<const char *>(image.data()), image.size());

    qint64 calInterval = -1;
    const struct {
        std::vector<std::string> args;
        const char *status; // the status line
    } jobs[] = {
        {{"identify"}, "Load Identify... OK"},
        {{"read", "--out", cfg, "--json"}, "Read Norvik Information... OK"},
        {{"write", cfg}, "Write Norvik Information... OK"},
        {{"--yes", "sensor-cal", "--span", "25"}, "Calibration ... OK"},
        {{"events", "--out", Path("events.csv")}, "Load Event Log... OK"},
        {{"--yes", "upgrade", Path("new.img")}, "Download Image... OK"},
    };
    for (const auto &job : jobs) {
        SCOPED_TRACE(job.args[0] == "--yes" ? job.args[1] : job.args[0]);
        const ProcessResult r = Cli(sim.Path(), job.args);
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_NE(r.out.find(job.status), std::string::npos) << r.out;
        EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
        if (job.args[0] == "read")
            calInterval = Json(r.out.substr(r.out.find('{'))).object()["mSensor"].toObject()["mCalInterval"].toInteger(-1);
    }
    ASSERT_GT(calInterval, 0);

    // Newest first, the jobs in reverse order, exactly the record's fields.
    const QJsonArray all = Records();
    ASSERT_EQ(all.size(), 6);
    QStringList fields = RecordFieldNames();
    fields.sort();
    const char *const newestFirst[] = {"upgrade", "events", "sensor-cal", "write", "read", "identify"};
    for (int i = 0; i < all.size(); ++i) {
        const QJsonObject r = all[i].toObject();
        EXPECT_EQ(r.keys(), fields);
        EXPECT_EQ(r["id"].toInt(), 6 - i);
        EXPECT_EQ(r["job"].toString(), newestFirst[i]);
        EXPECT_EQ(r["serial"].toString().toStdString(), kSerial);
        EXPECT_EQ(r["status"].toInt(), 0);
        EXPECT_EQ(r["outcome"].toString(), "success");
        EXPECT_TRUE(r["simulated"].toBool()) << "beamport-sim serves on a pseudo-terminal";
        EXPECT_TRUE(r["data"].isObject());
    }
    const QJsonObject cal = all[2].toObject();
    const QJsonObject calData = cal["data"].toObject();
    EXPECT_EQ(calData["result"].toString(), "OK");
    EXPECT_EQ(calData["span_gas"].toInt(), 250);
    EXPECT_GT(all[1].toObject()["data"].toObject()["events"].toInt(), 0);
    EXPECT_EQ(all[0].toObject()["data"].toObject()["firmware_to"].toString(), "25.5");

    // Only simulated work so far: nothing is due unless it is asked for.
    ProcessResult r = Cli({}, {"due", "--json"});
    EXPECT_EQ(Json(r.out).array().size(), 0) << r.out;
    r = Cli({}, {"due", "--include-simulated", "--json"});
    ASSERT_EQ(Json(r.out).array().size(), 1) << r.out;
    EXPECT_EQ(Json(r.out).array().first().toObject()["last_calibration"].toString(), cal["time"].toString());

    // A calibration without a cylinder has no certificate. The same run
    // against a cylinder (as that job records it) has one, made from that
    // record alone: a later read of the detector lends it nothing.
    r = Cli({}, {"certificate", "4", "--out", Path("c.pdf")});
    EXPECT_EQ(r.status, 67) << r.err;
    EXPECT_NE(r.err.find("a calibration without a cylinder"), std::string::npos) << r.err;
    {
        auto store = Open();
        ASSERT_TRUE(store);
        RServiceRecord withCylinder;
        QString error;
        ASSERT_TRUE(RecordFromJson(cal, withCylinder, error)) << error.toStdString();
        withCylinder.mUid = withCylinder.mUid + "-cylinder";
        withCylinder.mData.insert("cylinder", QJsonObject{{"id", 1}, {"gas", "H2S"}, {"concentration_tenths", 250},
                                                          {"unit", "ppm"}, {"lot", "L-1"}, {"expires", "2099-12-31"},
                                                          {"balance", "N2"}, {"maker", ""}, {"retired", false}});
        withCylinder.mData.insert("certified", "pass");
        withCylinder.mOutcome = "pass";
        withCylinder.mSimulated = false;
        ASSERT_EQ(store->Append(withCylinder, error), EAppend::kAdded) << error.toStdString();
        ASSERT_EQ(withCylinder.mId, 7);
    }
    ASSERT_EQ(Cli(sim.Path(), {"read"}).status, 0); // record 8: the detector read after it
    const QDateTime calTime = ParseRecordTime(cal["time"].toString());
    const std::string next = CertificateTime(calTime.addSecs(calInterval)).toStdString();
    r = Cli({}, {"certificate", "7", "--out", Path("c.pdf")});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string pdf = PdfText(Path("c.pdf"));
    for (const std::string &line : {"Serial number " + kSerial, std::string("Concentration 25 ppm"),
                                    std::string("Lot L-1"), std::string("Result PASS"), "Next due " + next,
                                    std::string("Record id 7")})
        EXPECT_NE(pdf.find(line), std::string::npos) << line << "\n" << pdf;
    EXPECT_EQ(pdf.find("record 8"), std::string::npos) << pdf;
    EXPECT_EQ(pdf.find("Span before"), std::string::npos) << "internal coefficients are no gas readings\n" << pdf;

    // The simulated detector's jobs say so in the listing, and count for due only when asked.
    r = Cli({}, {"records"});
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 8);
    for (const std::string &line : {std::string("  identify  success  0  ") + kSerial + "  Load Identify... OK  SIMULATED\n",
                                    std::string("  sensor-cal  pass  0  ") + kSerial + "  Calibration ... OK\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;

    r = Cli({}, {"due", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const QJsonArray due = Json(r.out).array();
    ASSERT_EQ(due.size(), 1);
    EXPECT_EQ(due[0]["serial"].toString().toStdString(), kSerial);
    EXPECT_EQ(due[0]["last_calibration"].toString(), cal["time"].toString());
    EXPECT_EQ(due[0]["next_calibration"].toString(), RecordTime(calTime.addSecs(calInterval)));

    r = Cli({}, {"records", "verify"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "records intact: 8\n");

    // One letter of the write job's status text changed behind the program's back.
    auto store = Open();
    ASSERT_TRUE(store);
    AllowChanges(*store);
    Sql(*store, "UPDATE records SET text = 'w' || substr(text, 2) WHERE id = 3");
    r = Cli({}, {"records", "verify"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "broken record: 3\n");
}

// Four benches finish a job at the same moment: four records, one chain.
TEST_P(ServiceRecordsCli, BenchesRecordingAtOnce)
{
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::vector<std::string> args = {"-c",
                                     "for p in \"$@\"; do (\"$0\" --port \"$p\" identify >/dev/null; echo \"exit $?\") & "
                                     "done; wait",
                                     BEAMPORT_CLI};
    for (int i = 0; i < 4; ++i) {
        sims.push_back(std::make_unique<SimProcess>(std::vector<std::string>{"--seed", std::to_string(i + 1)}));
        args.push_back(sims.back()->Path());
    }
    const ProcessResult r = RunProcess("/bin/sh", args, Env());
    EXPECT_EQ(r.out, "exit 0\nexit 0\nexit 0\nexit 0\n");
    // A bench kept waiting on the others past the store's 2 s (a heavily
    // loaded machine) keeps its record on the bench, says so, and sync sends it.
    std::istringstream warnings(r.err);
    for (std::string line; std::getline(warnings, line);)
        EXPECT_EQ((line + "\n").rfind(kKeptHere, 0), 0u) << line;
    if (!r.err.empty()) {
        EXPECT_EQ(Cli({}, {"records", "sync"}).status, 0);
    }
    const QJsonArray all = Records();
    ASSERT_EQ(all.size(), 4);
    // newest first by time; the chain takes them in the order they reached the store
    std::set<int> ids;
    for (int i = 0; i < 4; ++i) {
        ids.insert(all[i]["id"].toInt());
        if (i > 0) {
            EXPECT_GE(all[i - 1]["time"].toString(), all[i]["time"].toString());
        }
    }
    EXPECT_EQ(ids, (std::set<int>{1, 2, 3, 4}));
    EXPECT_EQ(Cli({}, {"records", "verify"}).out, "records intact: 4\n");
}

INSTANTIATE_TEST_SUITE_P(Backends, ServiceRecordsCli, testing::Values(EBackend::kSqlite, EBackend::kPostgres),
                         BackendName);

// A bench loses the shared store for a while: its jobs go on, it keeps their
// records, and sync sends each of them once.
class SharedStoreOutage : public ServiceRecordsCli {};

TEST_P(SharedStoreOutage, JobsGoOnAndSyncSendsEachRecordOnce)
{
    SimProcess sim;
    const QString gone = "postgresql://beamport@/beamport_test?host=" + TempPath("no-server");
    QDir().mkpath(TempPath("no-server"));
    ProcessResult r = Cli(sim.Path(), {"identify"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char *job : {"bump-pass", "identify"}) {
        r = Cli(sim.Path(), {job}, gone);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.rfind(kKeptHere + "the shared store answers", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_EQ(Records().size(), 1);

    r = Cli({}, {"records", "sync"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "sent 2, already there 0, waiting 0\n");
    r = Cli({}, {"records", "sync"});
    EXPECT_EQ(r.out, "sent 0, already there 0, waiting 0\n");

    const QJsonArray all = Records();
    ASSERT_EQ(all.size(), 3);
    EXPECT_EQ(all[1]["job"].toString(), "bump-pass");
    EXPECT_EQ(Cli({}, {"records", "verify"}).out, "records intact: 3\n");
}

INSTANTIATE_TEST_SUITE_P(Backends, SharedStoreOutage, testing::Values(EBackend::kPostgres), BackendName);

// A store that cannot be written changes nothing a job does but add one warning.
TEST(ServiceRecordsUnwritable, JobsAsWithRecordsOffPlusOneWarning)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("afile");
    QFile(file).open(QIODevice::WriteOnly);
    const QString store = dir.filePath("records.sqlite");
    const std::vector<std::string> env = {"BEAMPORT_PORT=", "XDG_DATA_HOME=" + dir.filePath("data").toStdString(),
                                          "XDG_CONFIG_HOME=" + dir.filePath("config").toStdString()};
    const auto cli = [&](const QString &records, const SimProcess &sim, const std::string &job) {
        return RunProcess(BEAMPORT_CLI, {"--records", records.toStdString(), "--port", sim.Path(), job}, env);
    };
    // An existing store made immutable, where this user may chattr it.
    {
        SimProcess sim;
        ASSERT_EQ(cli("sqlite:" + store, sim, "identify").status, 0);
    }
    const bool immutable = RunProcess("/usr/bin/chattr", {"+i", store.toStdString()}).status == 0;
    struct Unchattr {
        std::string path;
        ~Unchattr() { RunProcess("/usr/bin/chattr", {"-i", path}); }
    } unchattr{store.toStdString()};

    std::vector<QString> stores = {"sqlite:" + file + "/records.sqlite"}; // its folder is a file
    if (immutable)
        stores.push_back("sqlite:" + store);
    const struct {
        std::vector<std::string> knobs;
        const char *job;
    } jobs[] = {{{}, "identify"}, {{}, "read"}, {{}, "bump-fail"}, {{"--nak", "A0"}, "identify"}};
    for (const QString &where : stores) {
        for (const auto &job : jobs) {
            SCOPED_TRACE(where.toStdString() + " " + job.job + (job.knobs.empty() ? "" : " failing"));
            SimProcess sim(job.knobs);
            const ProcessResult off = cli("off", sim, job.job);
            const ProcessResult r = cli(where, sim, job.job);
            EXPECT_EQ(r.status, off.status);
            EXPECT_EQ(r.out, off.out);
            ASSERT_EQ(r.err.rfind(off.err, 0), 0u) << r.err;
            const std::string extra = r.err.substr(off.err.size());
            // Kept in the bench's outbox, or not at all: said in one line.
            EXPECT_TRUE(extra.rfind(kNotKept, 0) == 0 || extra.rfind(kKeptHere, 0) == 0) << extra;
            EXPECT_EQ(std::count(extra.begin(), extra.end(), '\n'), 1) << extra;
            EXPECT_TRUE(extra.ends_with('\n')) << extra;
        }
    }
}
