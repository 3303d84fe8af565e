#pragma once
// Calibration and bump-test certificates: one PDF page (A4 or Letter) per
// record, drawn with Qt's PDF writer. The certificate number is the store's:
// given once per record, the same on every re-print.
#include <utility>
#include <vector>

#include <QString>

#include "records/record.h"
#include "records/store.h"

enum class EPaper { kA4, kLetter };
// "a4" or "letter" (any case); false for anything else.
bool ParsePaper(const QString &text, EPaper &paper);

// Empty when the record can have a certificate (a successful calibration or
// a passed bump test, RecordKind); otherwise why not, for the user.
QString CertificateRefusal(const RServiceRecord &record);

struct RCertificateSection {
    QString mHeading;
    std::vector<std::pair<QString, QString>> mRows; // label, value
};
struct RCertificateContent {
    QString mTitle;
    QString mNumber; // "BP-000042"
    std::vector<RCertificateSection> mSections;
};
// What the certificate says: the instrument, the test (span gas, zero and
// span before and after, result, date and time, bench, technician, next
// due date) and where it comes from (program version, record id and hash).
// laterRead: the first record of the same detector after this one that read
// its configuration; its values stand for those "after" when the job itself
// read nothing after (a calibration run reads only before it starts).
// The unit of a record that names none comes from its sensor type in `types`.
RCertificateContent CertificateContent(const RServiceRecord &record, qint64 number, const QString &technician,
                                       const std::vector<RSensorType> &types,
                                       const RServiceRecord *laterRead = nullptr);

// Writes the page to `path` atomically (a temporary file beside it, then renamed).
bool WriteCertificatePdf(const RCertificateContent &content, const QString &path, EPaper paper, QString &error);

// The whole job for record `id` of a store: refusal check, number, page.
bool MakeCertificate(TRecordStore &store, qint64 id, const QString &path, EPaper paper, const QString &technician,
                     const std::vector<RSensorType> &types, QString &error, qint64 *number = nullptr);
