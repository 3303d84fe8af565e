// The canonical JSON the hashes are taken of, against RFC 8785's own
// examples, and the README's worked record with its hash.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

#include <QJsonArray>
#include <QJsonDocument>

#include "records/jcs.h"
#include "records/record.h"

namespace {

QJsonValue Parse(const char *json) { return QJsonDocument::fromJson(json).object(); }

} // namespace

TEST(Jcs, TheRfcExamplesOfValuesAndOrder)
{
    const struct {
        const char *in;
        const char *out;
    } rows[] = {
        // 3.2.2: literals, numbers, string escapes
        {R"({"numbers": [333333333.33333329, 1E30, 4.50, 2e-3, 0.000000000000000000000000001],
             "string": "\u20ac$\u000F\u000aA'\u0042\u0022\u005c\\\"\/", "literals": [null, true, false]})",
         "{\"literals\":[null,true,false],\"numbers\":[333333333.3333333,1e+30,4.5,0.002,1e-27],"
         "\"string\":\"\xE2\x82\xAC$\\u000f\\nA'B\\\"\\\\\\\\\\\"/\"}"},
        // 3.2.3: members sorted by UTF-16 code units, nested objects too
        {R"({"\u20ac": "Euro Sign", "\r": "Carriage Return", "\ufb33": "Hebrew Letter Dalet With Dagesh",
             "1": "One", "\ud83d\ude00": "Emoji: Grinning Face", "\u0080": "Control", "\u00f6": "o"})",
         "{\"\\r\":\"Carriage Return\",\"1\":\"One\",\"\xC2\x80\":\"Control\",\"\xC3\xB6\":\"o\","
         "\"\xE2\x82\xAC\":\"Euro Sign\",\"\xF0\x9F\x98\x80\":\"Emoji: Grinning Face\","
         "\"\xEF\xAC\xB3\":\"Hebrew Letter Dalet With Dagesh\"}"},
        {R"({"b": {"z": 1, "a": [{"y": 2, "x": "\b\t\f"}]}, "a": {}})",
         "{\"a\":{},\"b\":{\"a\":[{\"x\":\"\\b\\t\\f\",\"y\":2}],\"z\":1}}"},
    };
    for (const auto &row : rows)
        EXPECT_EQ(Jcs(Parse(row.in)).toStdString(), row.out) << row.in;
}

TEST(Jcs, NumbersInTheEcmaScriptForm)
{
    // Appendix B of RFC 8785: the bits of a double and its text.
    const struct {
        uint64_t bits;
        const char *text;
    } rows[] = {
        {0x0000000000000000, "0"},
        {0x8000000000000000, "0"},
        {0x0000000000000001, "5e-324"},
        {0x8000000000000001, "-5e-324"},
        {0x7fefffffffffffff, "1.7976931348623157e+308"},
        {0xffefffffffffffff, "-1.7976931348623157e+308"},
        {0x4340000000000000, "9007199254740992"},
        {0xc340000000000000, "-9007199254740992"},
        {0x4430000000000000, "295147905179352830000"},
        {0x44b52d02c7e14af5, "9.999999999999997e+22"},
        {0x44b52d02c7e14af6, "1e+23"},
        {0x44b52d02c7e14af7, "1.0000000000000001e+23"},
        {0x444b1ae4d6e2ef4e, "999999999999999700000"},
        {0x444b1ae4d6e2ef4f, "999999999999999900000"},
        {0x444b1ae4d6e2ef50, "1e+21"},
        {0x3eb0c6f7a0b5ed8c, "9.999999999999997e-7"},
        {0x3eb0c6f7a0b5ed8d, "0.000001"},
        {0x41b3de4355555553, "333333333.3333332"},
        {0x41b3de4355555554, "333333333.33333325"},
        {0x41b3de4355555555, "333333333.3333333"},
        {0x41b3de4355555556, "333333333.3333334"},
        {0x41b3de4355555557, "333333333.33333343"},
        {0xbecbf647612f3696, "-0.0000033333333333333333"},
        {0x43143ff3c1cb0959, "1424953923781206.2"},
    };
    for (const auto &row : rows) {
        const double d = std::bit_cast<double>(row.bits);
        EXPECT_EQ(JcsNumber(d).toStdString(), row.text) << std::hex << row.bits;
        EXPECT_EQ(Jcs(QJsonArray{d}).toStdString(), std::string("[") + row.text + "]") << std::hex << row.bits;
    }
    // Integers as the records keep them, exactly.
    EXPECT_EQ(Jcs(QJsonArray{qint64{-42}, qint64{1} << 52, 0}).toStdString(), "[-42,4503599627370496,0]");
    // NaN and infinity have no JSON form.
    QByteArray out;
    QString error;
    EXPECT_FALSE(JcsSerialize(QJsonArray{std::bit_cast<double>(uint64_t{0x7ff0000000000000})}, out, &error));
    EXPECT_FALSE(error.isEmpty());
}

// The README's worked example: this record, its canonical text, its hash.
TEST(RecordHash, TheWorkedExampleOfTheReadme)
{
    RServiceRecord r;
    r.mId = 1;
    r.mUid = "00000000-0000-4000-8000-000000000001";
    r.mTime = "2026-12-09T16:05:00.000Z";
    r.mJob = "bump-pass";
    r.mOutcome = "declared";
    r.mText = "Send Bump Pass... OK";
    r.mSerial = "SH24031507";
    r.mProduct = "Norvik";
    r.mFirmware = "1.4";
    r.mHardware = "005";
    r.mSensor = "H2S";
    r.mBench = "bench-1";
    r.mUser = "tech";
    r.mData = QJsonObject{{"source", "logger"}};
    r.mBenchKey = "0123456789abcdef";
    r.mPrev = kGenesisHash;
    EXPECT_EQ(Jcs(HashedObject(r)).toStdString(),
              R"({"bench":"bench-1","bench_key":"0123456789abcdef","data":{"source":"logger"},"firmware":"1.4",)"
              R"("hardware":"005","id":1,"job":"bump-pass","outcome":"declared","prev":")" +
                  std::string(64, '0') +
                  R"(","product":"Norvik","sensor":"H2S","serial":"SH24031507","simulated":false,"status":0,)"
                  R"("text":"Send Bump Pass... OK","time":"2026-12-09T16:05:00.000Z",)"
                  R"("uid":"00000000-0000-4000-8000-000000000001","user":"tech"})");
    EXPECT_EQ(RecordHash(r), "16ba30dceae137ad296e297cadff3c87e296ff49c860718c51fab23bebf7d1e5");
    // Every field is hashed: a change of any one moves the hash.
    const std::vector<std::function<void(RServiceRecord &)>> changes = {
        [](RServiceRecord &x) { x.mId = 2; },          [](RServiceRecord &x) { x.mUid += "x"; },
        [](RServiceRecord &x) { x.mOutcome = "pass"; }, [](RServiceRecord &x) { x.mSimulated = true; },
        [](RServiceRecord &x) { x.mBenchKey[0] = '1'; }, [](RServiceRecord &x) { x.mData.insert("n", 1); },
        [](RServiceRecord &x) { x.mPrev[63] = '1'; },   [](RServiceRecord &x) { x.mStatus = 68; },
    };
    for (size_t i = 0; i < changes.size(); ++i) {
        RServiceRecord changed = r;
        changes[i](changed);
        EXPECT_NE(RecordHash(changed), RecordHash(r)) << "change " << i;
    }
    // hash and sig are outside what is hashed.
    RServiceRecord signedOne = r;
    signedOne.mHash = "x";
    signedOne.mSig = "y";
    EXPECT_EQ(RecordHash(signedOne), RecordHash(r));
}

TEST(RecordText, ControlCharactersShownAndCsvFormulasDefused)
{
    const struct {
        const char *in, *shown;
    } shown[] = {{"SH1", "SH1"},
                 {"SH\x1B[2J", "SH\\x1B[2J"},
                 {"a\nFAKE LINE", "a\\nFAKE LINE"},
                 {"tab\there\r", "tab\\there\\r"},
                 {"back\\slash", "back\\\\slash"},
                 {"\x7F\xC2\x9B", "\\x7F\\x9B"}};
    for (const auto &row : shown)
        EXPECT_EQ(VisibleText(QString::fromUtf8(row.in)).toStdString(), row.shown) << row.in;

    RServiceRecord r;
    r.mJob = "identify";
    r.mTime = "2026-01-01T00:00:00.000Z";
    for (const char *formula : {"=cmd|' /C calc'!A0", "+1", "-1+2", "@SUM(A1)", "\tx", "\rx"}) {
        r.mSerial = QString::fromLatin1(formula);
        const QString line = CsvLine(r);
        EXPECT_TRUE(line.contains(QStringLiteral(",'") + QString::fromLatin1(formula).left(1)) ||
                    line.contains(QStringLiteral(",\"'")))
            << line.toStdString();
    }
    r.mSerial = "SH1";
    EXPECT_TRUE(CsvLine(r).contains(",SH1,")) << "an ordinary serial is as it is";
}

TEST(Jcs, ControlCharactersEscapedLoneSurrogatesRefused)
{
    const struct {
        QString in;
        const char *out;
    } rows[] = {
        {QString(QChar(0x00)), "[\"\\u0000\"]"},
        {QString(QChar(0x1F)), "[\"\\u001f\"]"},
        {QStringLiteral("a\x01" "b\x7F"), "[\"a\\u0001b\x7F\"]"}, // DEL is no control character to JSON
        {QString::fromUtf8("\xF0\x9F\x98\x80"), "[\"\xF0\x9F\x98\x80\"]"}, // a pair is one character
    };
    for (const auto &row : rows)
        EXPECT_EQ(Jcs(QJsonArray{row.in}).toStdString(), row.out) << row.out;

    // A surrogate alone, as a value or as a name, at the end or before
    // another character: refused, with the reason, never written as "?".
    const QString lone[] = {QString(QChar(0xD800)), QStringLiteral("a") + QChar(0xDC00) + QStringLiteral("b"),
                            QStringLiteral("x") + QChar(0xD83D)};
    for (const QString &text : lone) {
        QByteArray out;
        QString error;
        EXPECT_FALSE(JcsSerialize(QJsonArray{text}, out, &error));
        EXPECT_TRUE(error.contains(QStringLiteral("lone surrogate"))) << error.toStdString();
        EXPECT_FALSE(JcsSerialize(QJsonObject{{text, 1}}, out, &error));
        EXPECT_TRUE(Jcs(QJsonObject{{"k", text}}).isEmpty());
    }

    // A record holding one has no hash (it can be neither stored nor
    // matched); a job's record never holds one.
    RServiceRecord r;
    r.mText = QStringLiteral("Send Bump Pass") + QChar(0xD800);
    EXPECT_EQ(RecordHash(r), QString());
    r.mText.chop(1);
    EXPECT_EQ(RecordHash(r).size(), 64);
    RJobRecord job;
    job.mJob = "bump-pass";
    job.mData = QJsonObject{{"note", QStringLiteral("lot ") + QChar(0xDC00)}};
    const RServiceRecord made = RecordOfJob(job, QDateTime::currentDateTimeUtc(), "bench", "user", {});
    EXPECT_EQ(made.mData["note"].toString(), QStringLiteral("lot ") + QChar(QChar::ReplacementCharacter));
    EXPECT_EQ(RecordHash(made).size(), 64);
}

TEST(RecordText, CsvQuotesEveryFieldThatCouldSplitARow)
{
    const struct {
        const char *text;
        const char *field; // as it stands between the commas
    } rows[] = {
        {"a\rb", "\"a\rb\""}, {"a\nb", "\"a\nb\""}, {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""}, {"plain", "plain"},
    };
    RServiceRecord r;
    r.mJob = "identify";
    r.mSerial = "SH1";
    for (const auto &row : rows) {
        r.mText = QString::fromLatin1(row.text);
        EXPECT_TRUE(CsvLine(r).contains(QStringLiteral(",%1,SH1,").arg(QLatin1String(row.field))))
            << CsvLine(r).toStdString();
    }
}
