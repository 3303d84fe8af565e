#pragma once
// Certificates of a measured bump test and of a calibration against a
// cylinder: one PDF page (A4 or Letter) per record, drawn with Qt's PDF
// writer. A record must verify (hash, signature, place in the chain) before
// it gets one. The number is the store's: given once per record when its
// page was written, bound to the record's id and hash, and carrying the
// bench key's short id (BP-1A2B3C4D-000001), the same on every re-print.
#include <utility>
#include <vector>

#include <QString>

#include "records/record.h"
#include "records/store.h"

enum class EPaper { kA4, kLetter };
// "a4" or "letter" (any case); false for anything else.
bool ParsePaper(const QString &text, EPaper &paper);

// Empty when the record can have a certificate (a bump-test job, or a
// sensor-cal job against a cylinder: data.cylinder); otherwise why not.
QString CertificateRefusal(const RServiceRecord &record);

// The text printed across the page of a simulated record's certificate.
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
    QString mWatermark; // across the page (a simulated record); empty: none
    std::vector<RCertificateSection> mSections;
};
// What the certificate says: the instrument, the test (span gas, zero and
// span before and after, result, date and time, bench, technician, next
// due date) and where it comes from (program version, record id and hash).
// laterRead: the first record of the same detector after this one that read
// its configuration; its values stand for those "after" when the job itself
// read nothing after (a calibration run reads only before it starts).
// The unit of a record that names none comes from its sensor type in `types`.
RCertificateContent CertificateContent(const RServiceRecord &record, const QString &number, const QString &technician,
                                       const std::vector<RSensorType> &types,
                                       const RServiceRecord *laterRead = nullptr);

// Writes the page to `path` atomically (a temporary file beside it, then renamed).
bool WriteCertificatePdf(const RCertificateContent &content, const QString &path, EPaper paper, QString &error);

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
                             const QString &technician, const std::vector<RSensorType> &types, QString &error,
                             QString *number = nullptr);
