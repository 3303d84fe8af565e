// The due list and certificates, on both back ends.
#include <QFile>
#include <QStandardPaths>

#include <ctime>

#include "records/bench_key.h"
#include "records/certificate.h"
#include "records/due.h"
#include "records_fixture.h"
#include "support/process.h"

namespace {

class DueTest : public RecordsTest {};
class CertificateTest : public RecordsTest {};

QDateTime At(int month, int day, int hour = 9) { return QDateTime(QDate(2026, month, day), QTime(hour, 0), Qt::UTC); }

void Append(TRecordStore &store, const RTestRecord &t, RServiceRecord *out = nullptr)
{
    RServiceRecord r = MakeRecord(t);
    QString error;
    ASSERT_EQ(store.Append(r, error), EAppend::kAdded) << error.toStdString();
    if (out)
        *out = r;
}

QJsonObject Data(std::initializer_list<std::pair<const char *, QJsonValue>> items)
{
    QJsonObject o;
    for (const auto &[k, v] : items)
        o.insert(QLatin1String(k), v);
    return o;
}

} // namespace

TEST_P(DueTest, NextDatesFromTheLastServiceAndItsInterval)
{
    auto store = Open();
    ASSERT_TRUE(store);
    const QJsonObject ok = Data({{"result", "OK"}});
    // CAL30: calibrated by the tool, 30-day interval, no bump interval.
    Append(*store, {.mSerial = "CAL30", .mJob = "sensor-cal", .mTime = At(1, 31), .mData = ok, .mCalDays = 30, .mBumpDays = 0});
    // OVER: factory calibration 50 days ago on a 30-day interval; a bump from the logger.
    Append(*store, {.mSerial = "OVER", .mJob = "calibration", .mTime = At(1, 10), .mCalDays = 30, .mBumpDays = 7});
    Append(*store, {.mSerial = "OVER", .mJob = "bump-pass", .mTime = At(2, 25), .mData = Data({{"source", "logger"}}),
                    .mCalDays = 30, .mBumpDays = 7});
    // NOCAL: never calibrated or bumped here: both due now.
    Append(*store, {.mSerial = "NOCAL", .mJob = "read", .mTime = At(2, 1)});
    // ZERO: no intervals set: nothing is ever due.
    Append(*store, {.mSerial = "ZERO", .mJob = "read", .mTime = At(2, 1), .mCalDays = 0, .mBumpDays = 0});
    // FAILCAL: a failed calibration after a good one counts for nothing; a
    // failed bump command neither.
    Append(*store, {.mSerial = "FAILCAL", .mJob = "sensor-cal", .mTime = At(1, 20), .mData = ok, .mCalDays = 60, .mBumpDays = 0});
    Append(*store, {.mSerial = "FAILCAL", .mJob = "sensor-cal", .mStatus = 177, .mTime = At(2, 20),
                    .mData = Data({{"result", "FAIL"}}), .mCalDays = 60, .mBumpDays = 0});
    Append(*store, {.mSerial = "FAILCAL", .mJob = "bump-pass", .mStatus = 160, .mTime = At(2, 21), .mCalDays = 60, .mBumpDays = 0});
    // NOCFG: a calibration record without a configuration takes the interval
    // of the latest configuration recorded for the serial.
    Append(*store, {.mSerial = "NOCFG", .mJob = "read", .mTime = At(1, 5), .mCalDays = 90, .mBumpDays = 0});
    Append(*store, {.mSerial = "NOCFG", .mJob = "calibration", .mTime = At(2, 1), .mConfig = false});

    const QDateTime now = At(3, 1, 0);
    std::vector<RDueEntry> list;
    QString error;
    ASSERT_TRUE(DueList(*store, now, std::nullopt, list, error)) << error.toStdString();

    struct Expect {
        QString serial;
        QDateTime lastCal, nextCal, lastBump, nextBump, due;
        bool overdue;
    };
    const Expect expected[] = {
        {"OVER", At(1, 10), At(2, 9), At(2, 25), At(3, 4), At(2, 9), true},
        {"NOCAL", {}, now, {}, now, now, false},
        {"CAL30", At(1, 31), At(3, 2), {}, {}, At(3, 2), false},
        {"FAILCAL", At(1, 20), At(3, 21), {}, {}, At(3, 21), false},
        {"NOCFG", At(2, 1), At(5, 2), {}, {}, At(5, 2), false},
    };
    ASSERT_EQ(list.size(), std::size(expected));
    for (size_t i = 0; i < list.size(); ++i) {
        const RDueEntry &e = list[i];
        const Expect &x = expected[i];
        SCOPED_TRACE(x.serial.toStdString());
        EXPECT_EQ(e.mSerial, x.serial);
        EXPECT_EQ(e.mLastCal, x.lastCal);
        EXPECT_EQ(e.mNextCal, x.nextCal);
        EXPECT_EQ(e.mLastBump, x.lastBump);
        EXPECT_EQ(e.mNextBump, x.nextBump);
        EXPECT_EQ(e.mDue, x.due);
        EXPECT_EQ(e.mOverdue, x.overdue);
        EXPECT_EQ(e.mProduct, "Norvik");
    }

    // --within: due by then, overdue ones included.
    ASSERT_TRUE(DueList(*store, now, 1, list, error));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].mSerial, "NOCAL");

    const QJsonObject json = DueToJson(list[0]);
    EXPECT_EQ(json.keys(), QStringList({"due", "last_bump", "last_calibration", "next_bump", "next_calibration",
                                        "overdue", "product", "sensor", "serial"}));
    EXPECT_EQ(json.value("next_calibration").toString(), "2026-02-09T09:00:00.000Z");
    EXPECT_TRUE(json.value("overdue").toBool());
    EXPECT_TRUE(DueToJson(list[1]).value("last_bump").isNull());
}

INSTANTIATE_TEST_SUITE_P(Backends, DueTest, testing::Values(EBackend::kSqlite, EBackend::kPostgres), BackendName);

TEST_P(CertificateTest, MeasuredTestsOnlyVerifiedFirstNumbersPerBenchKey)
{
    auto store = Open();
    ASSERT_TRUE(store);
    const auto append = [&](const RTestRecord &t, const char *outcome, bool simulated = false, const char *serial = nullptr) {
        RServiceRecord r = MakeRecord(t);
        r.mOutcome = QLatin1String(outcome);
        r.mSimulated = simulated;
        if (serial)
            r.mSerial = QString::fromLatin1(serial);
        QString error;
        EXPECT_EQ(store->Append(r, error), EAppend::kAdded) << error.toStdString();
        return r;
    };
    RTestRecord cal{.mJob = "sensor-cal", .mTime = At(1, 10, 14), .mCalDays = 180, .mBumpDays = 30};
    RTamselCFG after = TestConfig(cal.mSerial, 180, 30);
    after.mSensor.mZero = 210;
    after.mSensor.mSpan = 5702;
    cal.mData = Data({{"result", "OK"}, {"cylinder", "CYL-1"}, {"span_gas", 250}, {"unit", "ppm"},
                      {"config_after", ConfigToHex(after)}});
    const RServiceRecord calRecord = append(cal, "pass");                                                   // 1
    append({.mJob = "read", .mTime = At(1, 11)}, "success");                                                  // 2
    append({.mJob = "bump-test", .mTime = At(1, 12), .mBumpDays = 30}, "pass");                               // 3
    append({.mJob = "sensor-cal", .mTime = At(1, 13), .mData = Data({{"result", "OK"}})}, "success");         // 4
    append({.mJob = "bump-pass", .mTime = At(1, 14)}, "declared");                                            // 5
    append({.mJob = "bump-test", .mTime = At(1, 15)}, "pass", true, "SH\x1B[2J\nFORGED");                    // 6

    QTemporaryDir dir;
    const QString pdf = dir.filePath("cal.pdf");
    QString error, number;
    const QString prefix = "BP-" + store->BenchKey(error)->ShortId() + "-";
    ASSERT_EQ(MakeCertificate(*store, 1, pdf, EPaper::kA4, "Ada Tester", BuiltInSensorTypes(), error, &number), ECertificate::kWritten)
        << error.toStdString();
    EXPECT_EQ(number, prefix + "000001");
    QFile f(pdf);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_TRUE(bytes.startsWith("%PDF-"));
    EXPECT_TRUE(bytes.contains("/MediaBox [0 0 595")) << "A4 media box";

    // Numbers go in sequence and stay with their record on a re-print; a
    // page that could not be written takes no number.
    ASSERT_EQ(MakeCertificate(*store, 3, dir.filePath("no/such/folder/b.pdf"), EPaper::kA4, "Ada", BuiltInSensorTypes(), error),
              ECertificate::kNotWritten);
    ASSERT_EQ(MakeCertificate(*store, 3, dir.filePath("bump.pdf"), EPaper::kLetter, "Ada Tester", BuiltInSensorTypes(), error, &number),
              ECertificate::kWritten);
    EXPECT_EQ(number, prefix + "000002");
    ASSERT_EQ(MakeCertificate(*store, 1, pdf, EPaper::kA4, "Ada Tester", BuiltInSensorTypes(), error, &number), ECertificate::kWritten);
    EXPECT_EQ(number, prefix + "000001");
    QFile letter(dir.filePath("bump.pdf"));
    ASSERT_TRUE(letter.open(QIODevice::ReadOnly));
    EXPECT_TRUE(letter.readAll().contains("/MediaBox [0 0 612")) << "Letter media box";

    // Another bench (another user's key) numbers on its own, never the same.
    const std::unique_ptr<TBenchKey> other = TBenchKey::Generate();
    store->SetBenchKey(other.get());
    ASSERT_EQ(MakeCertificate(*store, 6, dir.filePath("sim.pdf"), EPaper::kA4, "Ada", BuiltInSensorTypes(), error, &number),
              ECertificate::kWritten);
    EXPECT_EQ(number, "BP-" + other->ShortId() + "-000001");

    struct Refused {
        qint64 id;
        ECertificate outcome;
        const char *message;
    };
    const Refused refused[] = {
        {2, ECertificate::kRefused, "certificates are made only for a measured bump test"},
        {4, ECertificate::kRefused, "a calibration without a cylinder"},
        {5, ECertificate::kRefused, "certificates are made only for a measured bump test"},
        {42, ECertificate::kNoRecord, "there is no record 42"},
    };
    for (const Refused &r : refused) {
        error.clear();
        const QString path = dir.filePath(QStringLiteral("refused-%1.pdf").arg(r.id));
        EXPECT_EQ(MakeCertificate(*store, r.id, path, EPaper::kA4, "Ada Tester", BuiltInSensorTypes(), error), r.outcome) << r.id;
        EXPECT_TRUE(error.contains(r.message)) << error.toStdString();
        EXPECT_FALSE(QFile::exists(path));
    }

    // What the pages say, as a reader extracts them.
    const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
    if (pdftotext.isEmpty())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed: the page's text is not checked";
    const ProcessResult text = RunProcess(pdftotext.toStdString(), {"-layout", pdf.toStdString(), "-"});
    ASSERT_EQ(text.status, 0) << text.err;
    const std::string hash = calRecord.mHash.toStdString();
    const std::string when = CertificateTime(At(1, 10, 14)).toStdString();
    const std::string next = CertificateTime(At(7, 9, 14)).toStdString();
    const std::string full = (prefix + "000001").toStdString();
    for (const char *expected : {"Calibration Certificate", full.c_str(), "SH10000001", "Norvik", "H2S", "25 ppm",
                                 "0 to 100 ppm", "204 / 210", "5.561 / 5.702", "PASS", when.c_str(), "bench-1",
                                 "Ada Tester", next.c_str(), hash.c_str()})
        EXPECT_NE(text.out.find(expected), std::string::npos) << expected << "\n" << text.out;
    EXPECT_EQ(text.out.find("SIMULATED"), std::string::npos);
    // A simulated record carries the watermark; the detector's control
    // characters are shown, never obeyed (no forged line).
    const ProcessResult sim = RunProcess(pdftotext.toStdString(), {"-layout", dir.filePath("sim.pdf").toStdString(), "-"});
    EXPECT_NE(sim.out.find(kSimulatedWatermark), std::string::npos) << sim.out;
    EXPECT_NE(sim.out.find("SH\\x1B[2J\\nFORGED"), std::string::npos) << sim.out;
    EXPECT_EQ(sim.out.find("\nFORGED"), std::string::npos) << sim.out;
}

TEST(CertificateTime, LocalTimeWithItsNumericOffset)
{
    const QByteArray saved = qgetenv("TZ");
    const struct {
        const char *zone;
        const char *expected;
    } rows[] = {{"UTC", "2026-12-09 16:05 +00:00"}, {"Europe/Berlin", "2026-12-09 17:05 +01:00"},
                {"America/St_Johns", "2026-12-09 12:35 -03:30"}};
    for (const auto &row : rows) {
        qputenv("TZ", row.zone);
        tzset();
        EXPECT_EQ(CertificateTime(QDateTime(QDate(2026, 12, 9), QTime(16, 5), Qt::UTC)).toStdString(), row.expected)
            << row.zone;
    }
    if (saved.isEmpty())
        qunsetenv("TZ");
    else
        qputenv("TZ", saved);
    tzset();
}

INSTANTIATE_TEST_SUITE_P(Backends, CertificateTest, testing::Values(EBackend::kSqlite, EBackend::kPostgres), BackendName);
