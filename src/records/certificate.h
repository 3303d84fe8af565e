#pragma once
// Certificates of a measured bump test and of a calibration against a
// cylinder: one PDF page (A4 or Letter) per record, drawn with Qt's PDF
// writer. A record must verify (hash, signature, place in the chain) before
// it gets one. The number is the store's: given once per record when its
// page was written, bound to the record's id and hash, and carrying the
// bench key's short id (BP-1A2B3C4D-000001), the same on every re-print.
#include <utility>
#include <vector>

#include <QFont>
#include <QLineF>
#include <QRectF>
#include <QString>
#include <QStringList>

#include "app/certifier.h"
#include "records/record.h"
#include "records/store.h"

class TSession;

enum class EPaper { kA4, kLetter };
// "a4" or "letter" (any case); false for anything else.
bool ParsePaper(const QString &text, EPaper &paper);

// Empty when the record can have a certificate (a bump-test job that passed
// or failed, or a sensor-cal job against a cylinder, data.cylinder, whose
// as-left reading judged it, data.certified); otherwise why not.
QString CertificateRefusal(const RServiceRecord &record);

// The text of the band at the top and the foot of a simulated record's certificate.
inline constexpr const char *kSimulatedWatermark = "SIMULATED - TRAINING ONLY - NOT A CERTIFICATE";

// A time as a certificate shows it: local time with its numeric UTC offset
// ("2026-12-09 17:05 +01:00").
QString CertificateTime(const QDateTime &time);

struct RCertificateSection {
    QString mHeading;
    std::vector<std::pair<QString, QString>> mRows; // label, value
};
struct RCertificateContent {
    QString mTitle;
    QString mNumber;    // "BP-1A2B3C4D-000042"
    QString mWatermark; // in a band above and below the data (a simulated record); empty: none
    QString mResult;    // "PASS", "FAIL" (large type under the number)
    QDateTime mTime;    // when the job ran: the page's creation date, so every printing is the same
    std::vector<RCertificateSection> mSections;
    // What the page could not name (the certifier's values neither the
    // record nor the settings hold): "organisation", "bench name", ...
    QStringList mNotRecorded;
};
// What a certificate prints where a value was never given.
inline constexpr const char *kNotRecorded = "not recorded";
// Who issues a certificate when the record does not say: the values in
// force (certifier.h). A measured job keeps them in its data; those kept win.
RCertifier Certifier(TSession &session);

// What the certificate says, from the record alone (the same record always
// gives the same page): who issues it, the instrument and its alarm set
// points, the cylinder, the measurements (as-found and as-left of a
// calibration; baseline, peak, time to alarm, flags and recovery of a bump
// test) with the criteria, the result in large type, date and time,
// technician, next due date, and where it comes from (program version,
// record id and hash). The unit of a record that names none comes from its
// sensor type in `types`.
RCertificateContent CertificateContent(const RServiceRecord &record, const QString &number, const RCertifier &certifier,
                                       const std::vector<RSensorType> &types);

// Writes the page to `path` atomically (a temporary file beside it, then renamed).
// The same content gives the same bytes with the same program, Qt and fonts:
// the creation date is the content's time, the fonts are written in a fixed
// order. A text is drawn as it is, wrapped where it is too long for its line;
// a character the page's font has no glyph for, or one outside the Basic
// Multilingual Plane (the PDF writer gives those no text a reader can copy),
// is written out ("\\U0001F600") rather than lost.
bool WriteCertificatePdf(const RCertificateContent &content, const QString &path, EPaper paper, QString &error);

// The page as it is drawn, in the page's own units (its printable area from
// the top left; a page too long for the paper is drawn scaled by mScale):
// every piece of text with its box, the rules under the headings and the
// signature lines. A value too long for its place is broken into lines,
// between words where it can be. The band of a simulated record sits above
// the title and below the signature, apart from every other text.
struct RCertificateText {
    QRectF mRect;
    QString mText; // as drawn: one line
    QFont mFont;   // set smaller where a text was a little too wide
    bool mBand = false; // a simulated record's band
};
struct RCertificatePage {
    qreal mWidth = 0, mHeight = 0; // the printable area, unscaled
    qreal mScale = 1;
    std::vector<RCertificateText> mTexts;
    std::vector<QLineF> mRules;
};
// Needs a GUI application object (fonts); an empty page without one.
RCertificatePage CertificatePage(const RCertificateContent &content, EPaper paper);

// How a certificate job ended.
enum class ECertificate {
    kWritten,
    kNoRecord,    // no such record, or the store could not be read
    kRefused,     // the record has no certificate (CertificateRefusal)
    kBroken,      // the record does not verify: error names the fault
    kNotWritten,  // the page or its number could not be made
};
// The whole job for record `id` of a store: refusal check, the record
// verified, number, page.
ECertificate MakeCertificate(TRecordStore &store, qint64 id, const QString &path, EPaper paper,
                             const RCertifier &certifier, const std::vector<RSensorType> &types, QString &error,
                             QString *number = nullptr, QStringList *notRecorded = nullptr);
