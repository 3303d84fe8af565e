// A job whose command line exited 0 has its record, whenever the program is
// killed afterwards: 200 identify jobs, each killed (SIGKILL) at a random
// moment; every one that exited 0 has its record, and the chain verifies.
#include <algorithm>
#include <fstream>
#include <sstream>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "records/record.h"
#include "records_fixture.h"
#include "support/process.h"

namespace {
class Durability : public RecordsTest {};
} // namespace

TEST_P(Durability, EveryJobThatExitedZeroIsOnTheRecordAfterSigkill)
{
    SimProcess sim;
    const std::string env = "BEAMPORT_RECORDS=" + StoreArg().toStdString();
    // Each job: start time, exit status (137 when killed), end time, in ms.
    const std::string script =
        "i=0; while [ $i -lt 200 ]; do "
        "  s=$(date +%s%3N); \"$0\" --port \"$1\" identify >/dev/null 2>&1 & p=$!; "
        "  sleep 0.0$(( (i * 37) % 10 ))$(( (i * 11) % 10 )); kill -KILL $p 2>/dev/null; wait $p; c=$?; "
        "  echo \"$s $c $(date +%s%3N)\"; i=$((i + 1)); "
        "done";
    const ProcessResult r = RunProcess("/bin/sh", {"-c", script, BEAMPORT_CLI, sim.Path()},
                                       {env, "XDG_DATA_HOME=" + TempPath("data").toStdString(),
                                        "XDG_CONFIG_HOME=" + TempPath("config").toStdString()},
                                       600);
    ASSERT_EQ(r.status, 0) << r.err;
    const ProcessResult list =
        RunProcess(BEAMPORT_CLI, {"records", "--json"}, {env, "XDG_CONFIG_HOME=" + TempPath("config").toStdString()});
    ASSERT_EQ(list.status, 0) << list.err;
    std::vector<qint64> times;
    for (const QJsonValue &v : QJsonDocument::fromJson(QByteArray::fromStdString(list.out)).array())
        times.push_back(ParseRecordTime(v.toObject()["time"].toString()).toMSecsSinceEpoch());
    int exitedZero = 0, killed = 0;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        long long start = 0, end = 0;
        int code = -1;
        std::istringstream(line) >> start >> code >> end;
        if (code != 0) {
            ++killed;
            continue;
        }
        ++exitedZero;
        const bool kept = std::any_of(times.begin(), times.end(),
                                      [&](qint64 t) { return t >= start - 5 && t <= end + 5; });
        EXPECT_TRUE(kept) << "the job of " << line << " exited 0 without its record";
    }
    EXPECT_GT(exitedZero, 0);
    EXPECT_GT(killed, 0) << "some jobs must have been killed on the way";
    EXPECT_GE(static_cast<int>(times.size()), exitedZero);
    const ProcessResult verify =
        RunProcess(BEAMPORT_CLI, {"records", "verify"}, {env, "XDG_CONFIG_HOME=" + TempPath("config").toStdString()});
    EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
}

INSTANTIATE_TEST_SUITE_P(Backends, Durability, testing::Values(EBackend::kSqlite), BackendName);

// A second Ctrl-C (here SIGTERM: a background job of a shell ignores SIGINT)
// ends the program at once, but the job under way is on the record first,
// as stopped.
TEST_P(Durability, ASecondInterruptLeavesTheJobsRecordAsStopped)
{
    SimProcess sim({"--absent"}); // the job waits for the detector when the signals come
    const std::string ini = TempPath("OPTAVO.INI").toStdString();
    std::ofstream(ini) << "[SENSOR]\nH2S=1, ppm, SH, 90, 0, 100\n";
    const std::vector<std::string> env = {"BEAMPORT_RECORDS=" + StoreArg().toStdString(),
                                          "XDG_DATA_HOME=" + TempPath("data").toStdString(),
                                          "XDG_CONFIG_HOME=" + TempPath("config").toStdString()};
    const ProcessResult r = RunProcess(
        "/bin/sh",
        {"-c", "\"$0\" --ini \"$1\" --port \"$2\" sensor-cal --span 25 >/dev/null 2>&1 & p=$!; sleep 1; "
               "kill -TERM $p; sleep 0.3; kill -TERM $p; wait $p; echo $?",
         BEAMPORT_CLI, ini, sim.Path()},
        env);
    EXPECT_EQ(r.out, "143\n") << "ended by the second signal";
    const ProcessResult list = RunProcess(BEAMPORT_CLI, {"records", "--json"}, env);
    const QJsonArray all = QJsonDocument::fromJson(QByteArray::fromStdString(list.out)).array();
    ASSERT_EQ(all.size(), 1) << list.out << list.err;
    EXPECT_EQ(all[0].toObject()["job"].toString(), "sensor-cal");
    EXPECT_EQ(all[0].toObject()["outcome"].toString(), "stopped");
    EXPECT_EQ(all[0].toObject()["status"].toInt(), 68);
}
