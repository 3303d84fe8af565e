// The due list and certificates, on both back ends.
#include <QFile>
#include <QHash>
#include <QTemporaryDir>
#include <QJsonArray>
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
    // OVER: calibrated by the tool 50 days ago on a 30-day interval; a bump
    // from the logger. The factory calibration command after it only started
    // the procedure: it does not move the next calibration.
    Append(*store, {.mSerial = "OVER", .mJob = "sensor-cal", .mTime = At(1, 10), .mData = ok, .mCalDays = 30, .mBumpDays = 7});
    Append(*store, {.mSerial = "OVER", .mJob = "bump-pass", .mTime = At(2, 25), .mData = Data({{"source", "logger"}}),
                    .mCalDays = 30, .mBumpDays = 7});
    Append(*store, {.mSerial = "OVER", .mJob = "calibration", .mTime = At(2, 26), .mCalDays = 30, .mBumpDays = 7});
    // NOCAL: never calibrated or bumped here: both due now, and overdue.
    Append(*store, {.mSerial = "NOCAL", .mJob = "read", .mTime = At(2, 1)});
    // ZERO: no intervals set, never serviced: due now all the same.
    Append(*store, {.mSerial = "ZERO", .mJob = "read", .mTime = At(2, 1), .mCalDays = 0, .mBumpDays = 0});
    // DONE0: no intervals, serviced once each: nothing more is due.
    Append(*store, {.mSerial = "DONE0", .mJob = "sensor-cal", .mTime = At(2, 2), .mData = ok, .mCalDays = 0, .mBumpDays = 0});
    Append(*store, {.mSerial = "DONE0", .mJob = "bump-test", .mTime = At(2, 3), .mCalDays = 0, .mBumpDays = 0,
                    .mOutcome = "pass"});
    // FAILCAL: a failed calibration after a good one counts for nothing; a
    // failed bump command neither.
    Append(*store, {.mSerial = "FAILCAL", .mJob = "sensor-cal", .mTime = At(1, 20), .mData = ok, .mCalDays = 60, .mBumpDays = 0});
    Append(*store, {.mSerial = "FAILCAL", .mJob = "sensor-cal", .mStatus = 177, .mTime = At(2, 20),
                    .mData = Data({{"result", "FAIL"}}), .mCalDays = 60, .mBumpDays = 0});
    Append(*store, {.mSerial = "FAILCAL", .mJob = "bump-pass", .mStatus = 160, .mTime = At(2, 21), .mCalDays = 60, .mBumpDays = 0});
    // NOCFG: a calibration record without a configuration takes the interval
    // of the latest configuration recorded for the serial.
    Append(*store, {.mSerial = "NOCFG", .mJob = "read", .mTime = At(1, 5), .mCalDays = 90, .mBumpDays = 0});
    Append(*store, {.mSerial = "NOCFG", .mJob = "sensor-cal", .mTime = At(2, 1), .mData = ok, .mConfig = false});
    // BUMP: a measured bump test that passed counts, one that failed does
    // not; a calibration counts by its outcome alone: one whose procedure
    // said OK but whose as-left measurement failed (68, fail) does not, so
    // the unit, bump-tested but never calibrated, is overdue.
    Append(*store, {.mSerial = "BUMP", .mJob = "bump-test", .mTime = At(2, 20), .mCalDays = 30, .mBumpDays = 7,
                    .mOutcome = "pass"});
    Append(*store, {.mSerial = "BUMP", .mJob = "bump-test", .mStatus = 68, .mTime = At(2, 28), .mCalDays = 30,
                    .mBumpDays = 7, .mOutcome = "fail"});
    Append(*store, {.mSerial = "BUMP", .mJob = "sensor-cal", .mStatus = 68, .mTime = At(2, 22),
                    .mData = Data({{"result", "OK"}, {"certified", "fail"}}), .mCalDays = 30, .mBumpDays = 7,
                    .mOutcome = "fail"});
    // TIE: two calibrations of one serial at the same time: the later one
    // (90 days, appended second) stands.
    Append(*store, {.mSerial = "TIE", .mJob = "sensor-cal", .mTime = At(1, 15), .mData = ok, .mCalDays = 30, .mBumpDays = 0});
    Append(*store, {.mSerial = "TIE", .mJob = "sensor-cal", .mTime = At(1, 15), .mData = ok, .mCalDays = 90, .mBumpDays = 0});
    ASSERT_TRUE(store->Verify({}).mIntact);

    const QDateTime now = At(3, 1, 0);
    std::vector<RDueEntry> list;
    QString error;
    ASSERT_TRUE(DueList(*store, now, std::nullopt, list, error)) << error.toStdString();

    struct Expect {
        QString serial;
        QDateTime lastCal, nextCal, lastBump, nextBump, due;
        bool overdue;
    };
    // Never bump-tested (or never calibrated) is due now and overdue,
    // whatever the intervals: 0 included.
    const Expect expected[] = {
        {"OVER", At(1, 10), At(2, 9), At(2, 25), At(3, 4), At(2, 9), true},
        {"BUMP", {}, now, At(2, 20), At(2, 27), At(2, 27), true},
        {"CAL30", At(1, 31), At(3, 2), {}, now, now, true},
        {"FAILCAL", At(1, 20), At(3, 21), {}, now, now, true},
        {"NOCAL", {}, now, {}, now, now, true},
        {"NOCFG", At(2, 1), At(5, 2), {}, now, now, true},
        {"TIE", At(1, 15), At(4, 15), {}, now, now, true},
        {"ZERO", {}, now, {}, now, now, true},
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

    // The summary the store keeps as records come agrees with the one
    // worked out from the records themselves (the tie included).
    std::vector<RDueEntry> fromRecords;
    ASSERT_TRUE(DueList(*store, now, std::nullopt, fromRecords, error, true));
    ASSERT_EQ(fromRecords.size(), list.size());
    for (size_t i = 0; i < list.size(); ++i)
        EXPECT_EQ(fromRecords[i].mNextCal, list[i].mNextCal) << list[i].mSerial.toStdString();

    // --within: due by then, overdue ones included; --within 0 keeps the
    // never-serviced units that are due exactly now.
    for (const int days : {1, 0}) {
        ASSERT_TRUE(DueList(*store, now, days, list, error));
        ASSERT_EQ(list.size(), 8u) << days;
        EXPECT_EQ(list[4].mSerial, "NOCAL");
    }

    const QJsonObject json = DueToJson(list[0]);
    EXPECT_EQ(json.keys(), QStringList({"due", "last_bump", "last_calibration", "next_bump", "next_calibration",
                                        "overdue", "product", "sensor", "serial"}));
    EXPECT_EQ(json.value("next_calibration").toString(), "2026-02-09T09:00:00.000Z");
    EXPECT_TRUE(json.value("overdue").toBool());
    EXPECT_TRUE(DueToJson(list[2]).value("last_bump").isNull());
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
    const QJsonObject cylinder{{"id", 7},          {"gas", "H2S"},        {"concentration_tenths", 250},
                               {"unit", "ppm"},    {"lot", "LOT-4711"},   {"expires", "2027-03-31"},
                               {"balance", "N2"},  {"maker", "GasCo"},    {"retired", false}};
    cal.mData = Data({{"result", "OK"}, {"cylinder", cylinder}, {"span_gas", 250}, {"unit", "ppm"},
                      {"tolerance_permille", 100}, {"certified", "pass"}, {"organisation", "North Gas Service"},
                      {"as_found", QJsonObject{{"zero_tenths", 2}, {"zero_deviation_permille", 8},
                                               {"span_tenths", 175}, {"span_deviation_permille", -300}}},
                      {"as_left", QJsonObject{{"zero_tenths", 0}, {"zero_deviation_permille", 0},
                                              {"span_tenths", 248}, {"span_deviation_permille", -8}}}});
    const RServiceRecord calRecord = append(cal, "pass");                                                   // 1
    append({.mJob = "read", .mTime = At(1, 11)}, "success");                                                  // 2
    RTestRecord bump{.mJob = "bump-test", .mTime = At(1, 12), .mBumpDays = 30};
    bump.mData = Data({{"cylinder", cylinder}, {"unit", "ppm"}, {"baseline_tenths", 1}, {"peak_tenths", 231},
                       {"seconds_to_alarm", 12}, {"alarm_flags_seen", QJsonArray{"LOW", "HIGH"}},
                       {"recovery_seconds", 21}, {"failed", "the peak 23.1 ppm ..."},
                       {"criteria", QJsonObject{{"alarm_low_tenths", 100}, {"within_seconds", 60},
                                                {"reading_falls", false}, {"peak_min_tenths", 125},
                                                {"peak_max_tenths", 375}}}});
    bump.mStatus = 68;
    append(bump, "fail");                                                                                     // 3
    append({.mJob = "sensor-cal", .mTime = At(1, 13), .mData = Data({{"result", "OK"}})}, "success");         // 4
    append({.mJob = "bump-pass", .mTime = At(1, 14)}, "declared");                                            // 5
    append({.mJob = "bump-test", .mTime = At(1, 15)}, "pass", true, "SH\x1B[2J\nFORGED");                    // 6

    QTemporaryDir dir;
    const QString pdf = dir.filePath("cal.pdf");
    QString error, number;
    const QString prefix = "BP-" + store->BenchKey(error)->ShortId() + "-";
    ASSERT_EQ(MakeCertificate(*store, 1, pdf, EPaper::kA4, RCertifier{"Ada Tester", {}, {}, {}}, BuiltInSensorTypes(), error, &number), ECertificate::kWritten)
        << error.toStdString();
    EXPECT_EQ(number, prefix + "000001");
    QFile f(pdf);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_TRUE(bytes.startsWith("%PDF-"));
    EXPECT_TRUE(bytes.contains("/MediaBox [0 0 595")) << "A4 media box";
    f.close(); // the re-print below replaces it, which Windows refuses while a handle holds it open

    // Numbers go in sequence and stay with their record on a re-print; a
    // page that could not be written takes no number.
    ASSERT_EQ(MakeCertificate(*store, 3, dir.filePath("no/such/folder/b.pdf"), EPaper::kA4, RCertifier{"Ada", {}, {}, {}}, BuiltInSensorTypes(), error),
              ECertificate::kNotWritten);
    ASSERT_EQ(MakeCertificate(*store, 3, dir.filePath("bump.pdf"), EPaper::kLetter, RCertifier{"Ada Tester", {}, {}, {}}, BuiltInSensorTypes(), error, &number),
              ECertificate::kWritten);
    EXPECT_EQ(number, prefix + "000002");
    ASSERT_EQ(MakeCertificate(*store, 1, pdf, EPaper::kA4, RCertifier{"Ada Tester", {}, {}, {}}, BuiltInSensorTypes(), error, &number), ECertificate::kWritten);
    EXPECT_EQ(number, prefix + "000001");
    QFile letter(dir.filePath("bump.pdf"));
    ASSERT_TRUE(letter.open(QIODevice::ReadOnly));
    EXPECT_TRUE(letter.readAll().contains("/MediaBox [0 0 612")) << "Letter media box";

    // Another bench (another user's key) numbers on its own, never the same.
    const std::unique_ptr<TBenchKey> other = TBenchKey::Generate();
    store->SetBenchKey(other.get());
    ASSERT_EQ(MakeCertificate(*store, 6, dir.filePath("sim.pdf"), EPaper::kA4, RCertifier{"Ada", {}, {}, {}}, BuiltInSensorTypes(), error, &number),
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
        EXPECT_EQ(MakeCertificate(*store, r.id, path, EPaper::kA4, RCertifier{"Ada Tester", {}, {}, {}}, BuiltInSensorTypes(), error), r.outcome) << r.id;
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
    // The calibration: what the job measured against its cylinder, never
    // the detector's internal coefficients; who issued it as the job kept it.
    for (const char *expected : {"Calibration Certificate", full.c_str(), "SH10000001", "Norvik", "H2S", "25 ppm",
                                 "0 to 100 ppm", "LOT-4711", "2027-03-31", "N2", "17.5 ppm (-30.0 % of the cylinder)",
                                 "24.8 ppm (-0.8 % of the cylinder)", "within +-10.0 %", "PASS", when.c_str(),
                                 "bench-1", "Ada Tester", "North Gas Service", next.c_str(), hash.c_str(),
                                 "Signature", "Date"})
        EXPECT_NE(text.out.find(expected), std::string::npos) << expected << "\n" << text.out;
    EXPECT_EQ(text.out.find("SIMULATED"), std::string::npos);
    // Printed again: the same text, the same number.
    ASSERT_EQ(MakeCertificate(*store, 1, pdf, EPaper::kA4, {"Ada Tester", {}, {}, {}}, BuiltInSensorTypes(), error, &number),
              ECertificate::kWritten);
    EXPECT_EQ(number, prefix + "000001");
    EXPECT_EQ(RunProcess(pdftotext.toStdString(), {"-layout", pdf.toStdString(), "-"}).out, text.out);
    // The bump test that failed: its measurements, its criteria, FAIL, and no next due date.
    const ProcessResult failed = RunProcess(pdftotext.toStdString(), {"-layout", dir.filePath("bump.pdf").toStdString(), "-"});
    for (const char *expected : {"Bump Test Certificate", "FAIL", "LOT-4711", "0.1 ppm", "23.1 ppm", "12 s", "LOW, HIGH",
                                 "21 s", "reaches 10 ppm with the LOW alarm within 60 s", "peak 12.5 to 37.5 ppm",
                                 "the peak 23.1 ppm ...", "none: not passed"})
        EXPECT_NE(failed.out.find(expected), std::string::npos) << expected << "\n" << failed.out;
    // A simulated record carries the watermark; the detector's control
    // characters are shown, never obeyed (no forged line).
    const ProcessResult sim = RunProcess(pdftotext.toStdString(), {"-layout", dir.filePath("sim.pdf").toStdString(), "-"});
    EXPECT_NE(sim.out.find(kSimulatedWatermark), std::string::npos) << sim.out;
    EXPECT_NE(sim.out.find("SH\\x1B[2J\\nFORGED"), std::string::npos) << sim.out;
    EXPECT_EQ(sim.out.find("\nFORGED"), std::string::npos) << sim.out;
}

TEST_P(CertificateTest, EveryPrintingTheSameBytesEveryCharacterShown)
{
    auto store = Open();
    ASSERT_TRUE(store);
    // A lot as an older program or another bench may have kept it: control
    // characters, a line separator, an emoji and an override.
    const QString lot = QStringLiteral("L-1") + QChar(0x2028) + QStringLiteral("after") +
                        QString::fromUtf8("\xF0\x9F\x98\x80") + QChar(0x1B) + QStringLiteral("[2J") + QChar(0x202E) +
                        QStringLiteral("end");
    const QJsonObject cylinder{{"id", 3},       {"gas", "H2S"}, {"concentration_tenths", 250}, {"unit", "ppm"},
                               {"lot", lot},    {"expires", "2027-03-31"}, {"balance", "N\r2"},
                               {"maker", "GasCo"}, {"retired", false}};
    RTestRecord bump{.mJob = "bump-test", .mTime = At(2, 3, 14), .mBumpDays = 30};
    bump.mData = Data({{"cylinder", cylinder}, {"unit", "ppm"}, {"baseline_tenths", 1}, {"peak_tenths", 231}});
    bump.mOutcome = "pass";
    Append(*store, bump);

    QTemporaryDir dir;
    QString error;
    QByteArray printed[3];
    for (QByteArray &bytes : printed) {
        const QString pdf = dir.filePath(QStringLiteral("%1.pdf").arg(&bytes - printed));
        ASSERT_EQ(MakeCertificate(*store, 1, pdf, EPaper::kA4, {"Ada Tester", {}, {}, {}}, BuiltInSensorTypes(), error),
                  ECertificate::kWritten)
            << error.toStdString();
        QFile f(pdf);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        bytes = f.readAll();
        // As another run of the program would: its hash tables in another order.
        QHashSeed::resetRandomGlobalSeed();
    }
    EXPECT_TRUE(printed[0] == printed[1] && printed[0] == printed[2]) << "printings of one record differ";
    EXPECT_TRUE(printed[0].contains("/CreationDate (D:20260203140000Z)")) << "the record's time, not the printing's";

    const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
    if (pdftotext.isEmpty())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed: the page's text is not checked";
    const ProcessResult text = RunProcess(pdftotext.toStdString(), {dir.filePath("0.pdf").toStdString(), "-"});
    ASSERT_EQ(text.status, 0) << text.err;
    // Every character is on the page, those that cannot be shown as
    // themselves written out: nothing after them is lost.
    EXPECT_NE(text.out.find("L-1\\u2028after\\U0001F600\\x1B[2J\\u202Eend"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("N\\r2"), std::string::npos) << text.out;
}

TEST(CertificateTime, LocalTimeWithItsNumericOffset)
{
#ifdef _WIN32
    GTEST_SKIP() << "the zone is chosen by TZ with zone names, which Windows' own local time does not follow";
#endif
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

// A store written under the earlier rule keeps the kind column that rule gave
// (a calibration whose procedure said OK counted, a Bump Pass without a
// serial too): verify accepts it, and what counts still goes by the outcome.
TEST_P(DueTest, AnEarlierRulesKindColumnIsNoFaultAndCountsForNothing)
{
    auto store = Open();
    ASSERT_TRUE(store);
    Append(*store, {.mSerial = "OLD", .mJob = "sensor-cal", .mStatus = 68, .mTime = At(2, 1),
                    .mData = Data({{"result", "OK"}, {"certified", "fail"}}), .mCalDays = 30, .mBumpDays = 7,
                    .mOutcome = "fail"});
    Append(*store, {.mSerial = "", .mJob = "bump-pass", .mTime = At(2, 2)});
    Sql(*store, Postgres() ? "BEGIN" : "BEGIN IMMEDIATE");
    AllowChanges(*store);
    Sql(*store, "UPDATE records SET kind = 'calibration' WHERE job = 'sensor-cal'");
    Sql(*store, "UPDATE records SET kind = 'bump' WHERE job = 'bump-pass'");
    const RVerifyResult v = store->Verify();
    EXPECT_TRUE(v.mIntact) << v.mReason.toStdString();
    std::vector<RDueEntry> list;
    QString error;
    ASSERT_TRUE(DueList(*store, At(3, 1), std::nullopt, list, error, true)) << error.toStdString();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_FALSE(list[0].mLastCal.isValid());
    EXPECT_TRUE(list[0].mOverdue);
    Sql(*store, "ROLLBACK");
}
