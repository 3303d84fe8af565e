// Proof through beamport-cli against beamport-sim processes: the cylinders on
// record, the guided bump test and the calibration against a cylinder, with a
// fixture that follows the program's steps on stderr as a technician would
// (gas on at "Apply gas:", off at "Remove gas"), and the refusals that send
// nothing. The device flows run on SQLite; the cylinders on both stores.
#include <fstream>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "files/cfg_file.h"
#include "model/settings_types.h"
#include "records/cylinder_store.h"
#include "records_fixture.h"
#include "support/process.h"

namespace {

QJsonDocument Json(const std::string &text) { return QJsonDocument::fromJson(QByteArray::fromStdString(text)); }

// The page's text as a reader extracts it; empty without pdftotext.
std::string PdfText(const std::string &pdf)
{
    const ProcessResult r = RunProcess("/usr/bin/pdftotext", {"-layout", pdf, "-"});
    return r.status == 0 ? r.out : std::string();
}

size_t Count(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class EvidenceCli : public RecordsTest {
protected:
    std::vector<std::string> Env() const
    {
        return {"BEAMPORT_RECORDS=" + StoreArg().toStdString(), "BEAMPORT_PORT=", "XDG_DATA_HOME=" + Path("data"),
                std::string(kConfigHomeVar) + "=" + Path("config")};
    }
    std::string Path(const QString &name) const { return TempPath(name).toStdString(); }
    ProcessResult Cli(const std::vector<std::string> &args) { return RunProcess(BEAMPORT_CLI, args, Env()); }
    // beamport-cli on the simulated detector, the technician following its
    // steps: "gas VALUE" at each "Apply gas:" (none when gas is empty), "gas
    // off" at each "Remove gas".
    ProcessResult Guided(SimProcess &sim, std::vector<std::string> args, const std::string &gas = "25")
    {
        args.insert(args.begin(), {"--port", sim.Path(), "--traffic"});
        size_t applied = 0, removed = 0;
        return RunProcessFollowing(
            BEAMPORT_CLI, args, Env(),
            [&](const std::string &errors) {
                for (; Count(errors, "\nApply gas: ") > applied; ++applied)
                    if (!gas.empty())
                        sim.Control("gas " + gas);
                for (; Count(errors, "\nRemove gas") > removed; ++removed)
                    sim.Control("gas off");
            },
            120);
    }
    // Adds a cylinder and returns its id.
    std::string AddCylinder(const std::string &gas, const std::string &concentration,
                            const std::string &expires = "2099-12-31")
    {
        const ProcessResult r = Cli({"cylinders", "add", "--gas", gas, "--concentration", concentration, "--lot",
                                     "LOT-7", "--expires", expires, "--balance", "N2", "--maker", "Acme Gas"});
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out.substr(0, r.out.find('\n'));
    }
    // Keeps a cylinder as an older program or another bench might have,
    // past the checks of 'cylinders add'; returns its id.
    std::string KeepCylinder(const std::string &gas, double concentration, const std::string &lot,
                             const std::string &expires, const std::string &maker = "Acme Gas")
    {
        RGasCylinder cyl;
        EXPECT_EQ(MakeCylinder(gas, concentration, lot, expires, "N2", maker, BuiltInSensorTypes(), cyl), "");
        const std::unique_ptr<TRecordStore> store = Open();
        QString error;
        EXPECT_TRUE(store && ::AddCylinder(*store, cyl, QStringLiteral("tech"), error)) << error.toStdString();
        return std::to_string(cyl.mId);
    }
    QJsonObject NewestRecord()
    {
        const ProcessResult r = Cli({"records", "--json"});
        EXPECT_EQ(r.status, 0) << r.err;
        return Json(r.out).array().first().toObject();
    }
};

} // namespace

TEST_P(EvidenceCli, CylindersAreAddedListedAndRetired)
{
    EXPECT_EQ(AddCylinder("H2S", "25"), "1");
    EXPECT_EQ(AddCylinder("O2", "18"), "2");
    const struct {
        std::vector<std::string> args;
        int status;
        const char *said; // on stderr
    } refused[] = {
        {{"cylinders", "add", "--gas", "NH3", "--concentration", "25", "--lot", "L", "--expires", "2030-01-01"}, 64,
         "the gas 'NH3' is no sensor type of the settings (H2S, CO, O2)"},
        {{"cylinders", "add", "--gas", "H2S", "--concentration", "0", "--lot", "L", "--expires", "2030-01-01"}, 64,
         "more than 0.1"},
        {{"cylinders", "add", "--gas", "H2S", "--concentration", "25", "--expires", "2030-01-01"}, 64, "needs --gas"},
        {{"cylinders", "add", "--gas", "H2S", "--concentration", "25", "--lot", "L", "--expires", "31/01/2030"}, 64,
         "YYYY-MM-DD"},
        // What a label never says, or a certificate could not print as written.
        {{"cylinders", "add", "--gas", "H2S", "--concentration", "0x20", "--lot", "L", "--expires", "2030-01-01"}, 67,
         "the concentration must be a decimal number as the label prints it (25, 2.5), not '0x20'"},
        {{"cylinders", "add", "--gas", "H2S", "--concentration", "2.5e1", "--lot", "L", "--expires", "2030-01-01"}, 67,
         "decimal number"},
#ifndef _WIN32 // a Windows command line holds 32767 characters at most
        {{"cylinders", "add", "--gas", "H2S", "--concentration", "25", "--lot", std::string(100000, 'L'), "--expires",
          "2030-01-01"},
         67, "the lot has 100000 characters: at most 64 are kept"},
#endif
        {{"cylinders", "add", "--gas", "H2S", "--concentration", "25", "--lot", "L", "--expires", "2030-01-01",
          "--maker", std::string(65, 'M')},
         67, "the maker has 65 characters"},
        {{"cylinders", "add", "--gas", "H2S", "--concentration", "25", "--lot", "L\x1B[2J", "--expires", "2030-01-01"},
         67, "the lot 'L\\x1B[2J' holds a character a certificate cannot print as written (U+1B)"},
        {{"cylinders", "add", "--gas", "H2S", "--concentration", "25", "--lot", "L\xE2\x80\xA8x", "--expires",
          "2030-01-01"},
         67, "(U+2028)"},
        {{"cylinders", "add", "--gas", "H2S", "--concentration", "25", "--lot", "L\xF0\x9F\x98\x80", "--expires",
          "2030-01-01"},
         67, "(U+1F600)"},
        {{"cylinders", "add", "--gas", "H2S", "--concentration", "25", "--lot", "L", "--expires", "2020-01-31"}, 67,
         "the expiry date 2020-01-31 has passed"},
        {{"cylinders", "add", "--gas", "H2S", "--concentration", "12", "--lot", "LOT-7", "--expires", "2030-01-01"}, 67,
         "cylinder 1 holds H2S of lot LOT-7 already"},
        {{"cylinders", "retire", "9"}, 65, "there is no cylinder 9"},
        {{"cylinders", "retire", "x"}, 64, "one cylinder id"},
    };
    for (const auto &c : refused) {
        SCOPED_TRACE(c.args[1]);
        const ProcessResult r = Cli(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    }
    ProcessResult r = Cli({"cylinders", "retire", "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "cylinder 1 retired\n");
    r = Cli({"cylinders"});
    EXPECT_EQ(r.out, "1  H2S 25 ppm, lot LOT-7, expires 2099-12-31, balance N2, Acme Gas  RETIRED\n"
                     "2  O2 18 %, lot LOT-7, expires 2099-12-31, balance N2, Acme Gas\n");
    r = Cli({"cylinders", "--json"});
    const QJsonArray all = Json(r.out).array();
    ASSERT_EQ(all.size(), 2);
    EXPECT_EQ(all[1].toObject(), (QJsonObject{{"id", 2}, {"gas", "O2"}, {"concentration", 18}, {"unit", "%"},
                                              {"lot", "LOT-7"}, {"expires", "2099-12-31"}, {"balance", "N2"},
                                              {"maker", "Acme Gas"}, {"retired", false}}));
    EXPECT_TRUE(all[0].toObject()["retired"].toBool());
}

TEST_P(EvidenceCli, BumpTestsPassFailAndAreRefused)
{
#ifdef _WIN32
    GTEST_SKIP() << "beamport-sim serves a pseudo-terminal: a Linux program";
#endif
    if (Postgres())
        GTEST_SKIP() << "the device flows are the same on both stores";
    const std::string h2s = AddCylinder("H2S", "25"), co = AddCylinder("CO", "100");
    const std::string old = KeepCylinder("H2S", 25, "LOT-8", "2020-01-31"); // expired since it was added
    const std::string strong = KeepCylinder("H2S", 500, "LOT-9", "2099-12-31"); // beyond the 0-100 ppm sensor
    const struct {
        const char *name;
        std::vector<std::string> knobs;
        std::vector<std::string> args;
        int status;
        const char *said;   // on stderr, or on stdout for a pass
        const char *report; // the report frame the detector got; null: none
    } cases[] = {
        {"responsive", {"--response-seconds", "1"}, {"--yes", "bump-test", "--cylinder", h2s}, 0,
         "Bump Test ... PASS", "[SEND] 46 F2 81"},
        // A bump test checks response and alarm, not accuracy.
        {"drifted", {"--drifted-sensor", "--response-seconds", "1"}, {"--yes", "bump-test", "--cylinder", h2s}, 0,
         "Bump Test ... PASS", "[SEND] 46 F2 81"},
        {"dead", {"--dead-sensor"}, {"--yes", "bump-test", "--cylinder", h2s, "--within", "4"}, 68,
         "bump-test: FAIL: the reading did not rise to the low alarm level of 10 ppm within 4 s", "[SEND] 45 F3 C1"},
        {"slow", {"--slow-sensor", "--response-seconds", "1"}, {"--yes", "bump-test", "--cylinder", h2s, "--within", "4"},
         68, "within 4 s", "[SEND] 45 F3 C1"},
        // The level is reached, but the detector's LOW alarm never comes on.
        {"silent alarm", {"--silent-alarms", "--response-seconds", "1"},
         {"--yes", "bump-test", "--cylinder", h2s, "--within", "4"}, 68, "LOW alarm did not come on",
         "[SEND] 45 F3 C1"},
        {"expired", {}, {"--yes", "bump-test", "--cylinder", old}, 67, "expired on 2020-01-31", nullptr},
        {"above the sensor's range", {}, {"--yes", "bump-test", "--cylinder", strong}, 67,
         "is outside the span gas range of the H2S sensor: 0 to 100 ppm", nullptr},
        {"other gas", {}, {"--yes", "bump-test", "--cylinder", co}, 67, "holds CO, the detector's sensor is H2S",
         nullptr},
        {"no terminal, no --yes", {}, {"bump-test", "--cylinder", h2s}, 66, "bump-test needs --yes", nullptr},
        {"unknown cylinder", {}, {"--yes", "bump-test", "--cylinder", "77"}, 65, "there is no cylinder 77", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SimProcess sim(c.knobs, true);
        const ProcessResult r = Guided(sim, c.args);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_NE((c.status == 0 ? r.out : r.err).find(c.said), std::string::npos) << r.out << r.err;
        if (c.report) {
            EXPECT_EQ(Count(r.err, "[SEND] 4"), 1u) << r.err; // one report, the test's own
            EXPECT_NE(r.err.find(c.report), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("\nApply gas: H2S 25 ppm, lot LOT-7\n"), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("\nRemove gas\n"), std::string::npos);
            const QJsonObject record = NewestRecord();
            EXPECT_EQ(record["job"].toString(), "bump-test");
            EXPECT_EQ(record["status"].toInt(), c.status);
            const QJsonObject data = record["data"].toObject();
            EXPECT_EQ(data["cylinder"].toObject()["lot"].toString(), "LOT-7");
            EXPECT_EQ(data["result"].toString(), c.status == 0 ? "pass" : "fail");
        } else {
            EXPECT_EQ(r.err.find("[SEND] 20"), std::string::npos) << r.err; // no reading was taken
            EXPECT_EQ(r.err.find("Apply gas"), std::string::npos);
        }
    }
}

TEST_P(EvidenceCli, SlipsStopBeforeTheDetectorIsTold)
{
#ifdef _WIN32
    GTEST_SKIP() << "beamport-sim serves a pseudo-terminal: a Linux program";
#endif
    if (Postgres())
        GTEST_SKIP() << "the device flows are the same on both stores";
    const std::string h2s = AddCylinder("H2S", "25");
    // Gas applied before the start: the baseline is not clean air.
    {
        SimProcess sim({"--gas", "25"}, true);
        const ProcessResult r = Guided(sim, {"--yes", "bump-test", "--cylinder", h2s});
        EXPECT_EQ(r.status, 67) << r.out << r.err;
        EXPECT_NE(r.err.find("purge the sensor with clean air and start again"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("[SEND] 45"), std::string::npos) << r.err; // no Bump Fail
        EXPECT_EQ(r.err.find("[SEND] 46"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("Apply gas"), std::string::npos) << r.err;
        const QJsonObject record = NewestRecord();
        EXPECT_EQ(record["job"].toString(), "bump-test");
        EXPECT_EQ(record["outcome"].toString(), "refused");
        EXPECT_EQ(record["status"].toInt(), 67);
        EXPECT_NE(record["data"].toObject()["failed"].toString().indexOf("not in clean air"), -1);
    }
    // Under gas the sensor shows a trickle: no gas reaches it. The procedure
    // (0x42, which zeroes and spans) is never started.
    {
        SimProcess sim({"--response-seconds", "1"}, true);
        const ProcessResult r = Guided(sim, {"--yes", "sensor-cal", "--cylinder", h2s}, "6");
        EXPECT_EQ(r.status, 67) << r.out << r.err;
        EXPECT_NE(r.err.find("no gas at the sensor: check the regulator, the tubing and the cylinder"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.err.find("[SEND] 42"), std::string::npos) << r.err;
        EXPECT_NE(r.out.find("Calibration ... refused"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("Calibration ... OK"), std::string::npos) << r.out;
        const QJsonObject record = NewestRecord();
        EXPECT_EQ(record["job"].toString(), "sensor-cal");
        EXPECT_EQ(record["outcome"].toString(), "refused");
        EXPECT_EQ(record["status"].toInt(), 67);
    }
}

TEST_P(EvidenceCli, CalibrationAgainstACylinderMeasuresAsFoundAndAsLeft)
{
#ifdef _WIN32
    GTEST_SKIP() << "beamport-sim serves a pseudo-terminal: a Linux program";
#endif
    if (Postgres())
        GTEST_SKIP() << "the device flows are the same on both stores";
    const std::string h2s = AddCylinder("H2S", "50");
    SimProcess sim({"--drifted-sensor", "--response-seconds", "1", "--cal-ms", "3000"}, true);
    const ProcessResult r = Guided(sim, {"--yes", "sensor-cal", "--cylinder", h2s}, "50");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    // The procedure's own texts, and the steps around it; the cylinder's
    // concentration is the span gas, and no oxygen rule speaks of it.
    EXPECT_NE(r.out.find("Apply SPAN Gas (H2S)... 50 ppm"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("oxygen"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(" asked, "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Calibration ... OK"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Calibration ... as left within tolerance: PASS"), std::string::npos) << r.out;
    EXPECT_EQ(Count(r.err, "\nApply gas: H2S 50 ppm, lot LOT-7\n"), 2u) << r.err;
    EXPECT_EQ(Count(r.err, "\nRemove gas\n"), 2u) << r.err;
    const QJsonObject record = NewestRecord();
    EXPECT_EQ(record["job"].toString(), "sensor-cal");
    EXPECT_EQ(record["status"].toInt(), 0);
    const QJsonObject data = record["data"].toObject();
    EXPECT_EQ(data["result"].toString(), "OK");
    EXPECT_EQ(data["certified"].toString(), "pass");
    const QJsonObject found = data["as_found"].toObject(), left = data["as_left"].toObject();
    // Found about 30 % low, left within tolerance.
    EXPECT_NEAR(found["span_deviation_permille"].toInt(), -300, 30) << found["span_tenths"].toInt();
    EXPECT_LE(std::abs(left["span_deviation_permille"].toInt()), 100) << left["span_tenths"].toInt();
    EXPECT_LE(std::abs(left["zero_tenths"].toInt()), 3);

    // Its certificate: the cylinder, the measurements with units, the
    // criteria and the result; the same text and number when printed again.
    const std::string id = std::to_string(record["id"].toInt());
    const std::string pdf = Path("cal.pdf");
    const ProcessResult first = Cli({"certificate", id, "--out", pdf});
    ASSERT_EQ(first.status, 0) << first.err;
    // No one set who certifies: the command line never asks, it says so.
    for (const char *missing : {"organisation", "address", "bench name", "technician's printed name"})
        EXPECT_NE(first.err.find(std::string("the ") + missing + " is neither in record " + id +
                                 " nor set, so the certificate says \"not recorded\""),
                  std::string::npos)
            << first.err;
    const std::string text = PdfText(pdf);
    if (text.empty())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    for (const char *expected : {"Calibration Certificate", "LOT-7", "2099-12-31", "As found, under gas",
                                 "As left, under gas", "% of the cylinder", " ppm", "within +-10.0 %", "PASS",
                                 "SIMULATED - TRAINING ONLY", "not recorded"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    const ProcessResult again = Cli({"certificate", id, "--out", pdf});
    EXPECT_EQ(again.out, first.out);
    EXPECT_EQ(PdfText(pdf), text);
}

TEST_P(EvidenceCli, WhatCountsAndWhatIsCertified)
{
#ifdef _WIN32
    GTEST_SKIP() << "beamport-sim serves a pseudo-terminal: a Linux program";
#endif
    if (Postgres())
        GTEST_SKIP() << "the device flows are the same on both stores";
    const std::string h2s = AddCylinder("H2S", "25");
    SimProcess sim({"--response-seconds", "1"}, true);
    const auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", sim.Path(), "--yes"});
        const ProcessResult r = Cli(args);
        EXPECT_EQ(r.status, 0) << args[3] << r.out << r.err;
        return std::to_string(NewestRecord()["id"].toInt());
    };
    // Neither the factory calibration command nor a bare Bump Pass is a
    // measurement; a read is none either. (The factory command puts the
    // simulated span gas on the sensor for its run: a bump test right after
    // it would find no clean air, so it comes after the bump test.)
    const std::string declared = run({"bump-pass"});
    const std::string read = run({"read"});
    const auto due = [&]() {
        const ProcessResult r = Cli({"due", "--json", "--include-simulated", "--within", "0"});
        EXPECT_EQ(r.status, 0) << r.err;
        return Json(r.out.substr(r.out.find('['))).array();
    };
    QJsonArray list = due();
    ASSERT_EQ(list.size(), 1);
    QJsonObject unit = list[0].toObject();
    EXPECT_TRUE(unit["last_bump"].isNull()) << "a Bump Pass that names no detector counted";
    EXPECT_TRUE(unit["overdue"].toBool()) << "never calibrated is overdue";

    const ProcessResult bump = Guided(sim, {"--yes", "bump-test", "--cylinder", h2s});
    ASSERT_EQ(bump.status, 0) << bump.err;
    const std::string bumpId = std::to_string(NewestRecord()["id"].toInt());
    const std::string pdf = Path("bump.pdf");
    const ProcessResult made = Cli({"certificate", bumpId, "--out", pdf});
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string text = PdfText(pdf);
    if (!text.empty()) {
        for (const char *expected : {"Bump Test Certificate", "PASS", "LOT-7", "2099-12-31", "Baseline (clean air)",
                                     "Peak under gas", "LOW alarm within 60 s", " ppm", "Technician", "Signature"})
            EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    }
    const std::string factory = run({"calibration"});
    EXPECT_TRUE(due()[0].toObject()["last_calibration"].isNull()) << "the factory calibration command counted";
    for (const std::string &refused : {factory, declared, read}) {
        const ProcessResult r = Cli({"certificate", refused, "--out", Path("refused.pdf")});
        EXPECT_EQ(r.status, 67) << refused << r.err;
        EXPECT_NE(r.err.find("certificates are made only for"), std::string::npos) << r.err;
    }
    EXPECT_EQ(Cli({"records", "verify"}).status, 0);

    // A declared Bump Pass that names its detector counts; another
    // detector's serial gets no report.
    const ProcessResult other = Cli({"--port", sim.Path(), "--traffic", "bump-pass", "--serial", "SH99999999"});
    EXPECT_EQ(other.status, 67) << other.err;
    EXPECT_EQ(other.err.find("[SEND] 46"), std::string::npos) << other.err;
    run({"bump-pass", "--serial", "SH24031507"});
    const QJsonObject named = NewestRecord();
    EXPECT_EQ(named["serial"].toString(), "SH24031507");
    list = due();
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0].toObject()["last_bump"].toString(), named["time"].toString());
}

TEST_P(EvidenceCli, CylinderTextIsShownNeverObeyed)
{
#ifdef _WIN32
    GTEST_SKIP() << "beamport-sim serves a pseudo-terminal: a Linux program";
#endif
    const std::string lot = "L\x1B[2J\x07\r\xE2\x80\xAEx", maker = "M\x1B]0;t\x07";
    const std::string id = KeepCylinder("CO", 100, lot, "2099-12-31", maker);
    ProcessResult r = Cli({"cylinders"});
    EXPECT_EQ(r.out, id + "  CO 100 ppm, lot L\\x1B[2J\\x07\\r\\u202Ex, expires 2099-12-31, balance N2, "
                          "M\\x1B]0;t\\x07\n");
    r = Cli({"cylinders", "--json"});
    const QJsonObject kept = Json(r.out).array().first().toObject();
    EXPECT_EQ(kept["lot"].toString().toStdString(), lot) << "JSON keeps the exact value";
    EXPECT_EQ(kept["maker"].toString().toStdString(), maker);
    if (Postgres())
        return;
    // bump-test names the cylinder in its refusal (another gas than the detector's).
    SimProcess sim;
    r = Cli({"--port", sim.Path(), "--yes", "bump-test", "--cylinder", id});
    EXPECT_EQ(r.status, 67) << r.err;
    EXPECT_NE(r.err.find("lot L\\x1B[2J\\x07\\r\\u202Ex) holds CO"), std::string::npos) << r.err;
    EXPECT_EQ((r.out + r.err).find_first_of("\x1B\x07"), std::string::npos) << r.out << r.err;
    EXPECT_EQ((r.out + r.err).find("\xE2\x80\xAE"), std::string::npos);
}

TEST_P(EvidenceCli, RefusalsThatSendNothing)
{
#ifdef _WIN32
    GTEST_SKIP() << "beamport-sim serves a pseudo-terminal: a Linux program";
#endif
    if (Postgres())
        GTEST_SKIP() << "the device flows are the same on both stores";
    RTamselCFG crossed = DefaultCFG();
    crossed.mSensor.mSensorType = 1;
    crossed.mSensor.mAlarmLow = 200;
    crossed.mSensor.mAlarmHigh = 150;
    std::string why;
    ASSERT_TRUE(WriteConfigFile(Path("crossed.cfg"), crossed, false, &why)) << why;
    const std::string h2s = AddCylinder("H2S", "25");
    const struct {
        std::vector<std::string> args;
        int status;
        const char *said;
    } cases[] = {
        {{"sensor-cal", "--span", "0"}, 64, "--span 0 cannot calibrate"},
        {{"sensor-cal", "--span", "0.1"}, 64, "cannot calibrate"},
        {{"sensor-cal", "--span", "25", "--cylinder", h2s}, 64, "not both"},
        {{"write", Path("crossed.cfg")}, 67, "Low Alarm 20.0 ppm is above High Alarm 15.0 ppm."},
        // What write refuses is not saved as a template either (one rule, one text).
        {{"template", "save", "CROSSED", "--from", Path("crossed.cfg")}, 67,
         "Low Alarm 20.0 ppm is above High Alarm 15.0 ppm."},
        {{"sensor-cal", "--cylinder", h2s}, 66, "sensor-cal --cylinder needs --yes"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        SimProcess sim;
        std::vector<std::string> args = {"--port", sim.Path(), "--traffic"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProcessResult r = Cli(args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("[SEND]"), std::string::npos) << r.err;
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, EvidenceCli, testing::Values(EBackend::kSqlite, EBackend::kPostgres), BackendName);
