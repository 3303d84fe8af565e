// What a certificate names and where its page puts it: the content, and the
// layout the PDF is drawn from.
#include <QJsonArray>
#include <QRegularExpression>

#include "records/certificate.h"
#include "records_fixture.h"

namespace {

const QJsonObject kCylinder{{"id", 7},       {"gas", "H2S"},          {"concentration_tenths", 250},
                            {"unit", "ppm"}, {"lot", "LOT-4711"},     {"expires", "2027-03-31"},
                            {"balance", "N2"}, {"maker", "GasCo Ltd"}, {"retired", false}};

constexpr const char *kFailed = "the peak 23.1 ppm is outside 12.5 to 37.5 ppm: the cylinder, its regulator or the "
                                "sensor's response is not what the label says, so check the tubing and repeat with a "
                                "known good cylinder";

RServiceRecord BumpRecord(const QJsonObject &kept, bool simulated = false)
{
    RTestRecord t{.mJob = QStringLiteral("bump-test"), .mOutcome = QStringLiteral("fail")};
    t.mData = {{"cylinder", kCylinder}, {"unit", "ppm"}, {"baseline_tenths", 1}, {"peak_tenths", 231},
               {"seconds_to_alarm", 12}, {"alarm_flags_seen", QJsonArray{"LOW"}}, {"recovery_seconds", 21},
               {"failed", QLatin1String(kFailed)},
               {"criteria", QJsonObject{{"alarm_low_tenths", 100}, {"within_seconds", 60}, {"reading_falls", false},
                                        {"peak_min_tenths", 125}, {"peak_max_tenths", 375}}}};
    for (auto it = kept.begin(); it != kept.end(); ++it)
        t.mData.insert(it.key(), it.value());
    RServiceRecord r = MakeRecord(t);
    r.mSimulated = simulated;
    return r;
}

QString Row(const RCertificateContent &c, const char *label)
{
    for (const RCertificateSection &s : c.mSections)
        for (const auto &[l, v] : s.mRows)
            if (l == QLatin1String(label))
                return v;
    return QStringLiteral("<no row>");
}

} // namespace

TEST(CertificateContentTest, WhoCertifiesAsKeptElseAsSetElseNotRecorded)
{
    const RCertifier now{"Bob Now", "Now Org", "Now Street", "Now Bench"};
    const QJsonObject kept{{"technician", "Ada Tester"}, {"organisation", "North Gas Service"},
                           {"address", "1 Mill Lane, Leeds"}, {"bench_name", "Bench 3"}};
    struct RCase {
        const char *mWhat;
        QJsonObject mKept;
        RCertifier mNow;
        QStringList mExpected; // technician, organisation, address, bench
        QStringList mNotRecorded;
    };
    const RCase cases[] = {
        {"kept by the job", kept, now, {"Ada Tester", "North Gas Service", "1 Mill Lane, Leeds", "Bench 3"}, {}},
        {"an older record: the settings fill in, never the host as a bench",
         {},
         now,
         {"Bob Now", "Now Org", "Now Street", "not recorded (computer \"bench-1\")"},
         {"bench name"}},
        {"nothing anywhere",
         {},
         {},
         {"not recorded", "not recorded", "not recorded", "not recorded (computer \"bench-1\")"},
         {"organisation", "address", "bench name", "technician's printed name"}},
    };
    for (const RCase &c : cases) {
        const RCertificateContent content = CertificateContent(BumpRecord(c.mKept), "BP-1", c.mNow, BuiltInSensorTypes());
        const QStringList got{Row(content, "Technician"), Row(content, "Organisation"), Row(content, "Address"),
                              Row(content, "Bench")};
        EXPECT_EQ(got, c.mExpected) << c.mWhat;
        EXPECT_EQ(content.mNotRecorded, c.mNotRecorded) << c.mWhat;
        EXPECT_EQ(Row(content, "Maker"), "GasCo Ltd") << c.mWhat;
    }
}

TEST(CertificatePageTest, EveryTextWithinTheMarginsTheSimulatedBandOverNoData)
{
    for (const EPaper paper : {EPaper::kA4, EPaper::kLetter}) {
        const RCertificateContent content =
            CertificateContent(BumpRecord({}, true), "BP-1", {"Ada Tester", "Org", "Street", "Bench"}, BuiltInSensorTypes());
        const RCertificatePage page = CertificatePage(content, paper);
        ASSERT_GT(page.mWidth, 0);
        std::vector<QRectF> bands;
        QString all;
        int failedLines = 0;
        for (const RCertificateText &t : page.mTexts) {
            EXPECT_GE(t.mRect.left(), 0) << t.mText.toStdString();
            EXPECT_LE(t.mRect.right(), page.mWidth) << t.mText.toStdString();
            EXPECT_LE(t.mRect.bottom(), page.mHeight) << t.mText.toStdString();
            if (t.mBand)
                bands.push_back(t.mRect);
            else
                all += t.mText + QLatin1Char(' ');
            failedLines += !t.mBand && t.mText.size() > 8 && QString::fromLatin1(kFailed).contains(t.mText) ? 1 : 0;
        }
        // Above the title and below the signature, clear of every other text.
        ASSERT_EQ(bands.size(), 2u);
        for (const RCertificateText &t : page.mTexts)
            for (const QRectF &band : bands)
                EXPECT_TRUE(t.mBand || !band.intersects(t.mRect)) << t.mText.toStdString();
        // The long texts are broken between words into lines, nothing lost.
        EXPECT_GE(failedLines, 2);
        all.replace(QRegularExpression(QStringLiteral("\\s+")), QStringLiteral(" "));
        for (const char *whole : {"reading reaches 10 ppm with the LOW alarm within 60 s; peak 12.5 to 37.5 ppm",
                                  kFailed, "GasCo Ltd"})
            EXPECT_TRUE(all.contains(QLatin1String(whole))) << whole << "\n" << all.toStdString();
    }
}
