// certificate ID --out FILE.pdf [--paper a4|letter]: the certificate of a
// measured bump test or a calibration against a cylinder. Exits kExitRefused
// when the record has none, kExitFound when it does not verify (the fault
// named), kExitUnavailable when the store cannot be used, kExitFile when there
// is no such record or the file cannot be written.
#include <iostream>
#include <memory>

#include "app/session.h"
#include "cli/cli_commands.h"
#include "records/certificate.h"
#include "records/location.h"
#include "records/store.h"

namespace {

std::string WhereToSet(const QString &name)
{
    if (name == QLatin1String("organisation"))
        return "[RECORDS] Organisation in the settings file, or asked once in the window";
    if (name == QLatin1String("address"))
        return "[RECORDS] Address in the settings file, or asked once in the window";
    if (name == QLatin1String("bench name"))
        return "[RECORDS] Bench in the settings file, or asked once in the window; an older record keeps none";
    return "the window asks each user for it once";
}

int Certificate(CliContext &c)
{
    std::vector<std::string> args = c.args;
    std::string out, paperText = "a4";
    if (!TakeOption(args, "--out", out))
        return UsageError(c, "certificate needs --out FILE.pdf");
    TakeOption(args, "--paper", paperText);
    EPaper paper = EPaper::kA4;
    if (!ParsePaper(QString::fromStdString(paperText), paper))
        return UsageError(c, "--paper is a4 or letter, not \"" + paperText + "\"");
    bool ok = false;
    const qint64 id = args.size() == 1 ? QString::fromStdString(args.front()).toLongLong(&ok) : 0;
    if (!ok || id <= 0)
        return UsageError(c, "certificate needs one record id (a whole number from 1 up)");
    QString error;
    const std::unique_ptr<TRecordStore> store = OpenStoreInForce(c.session, error);
    if (!store) {
        std::cerr << "beamport-cli: " << error.toStdString() << "\n";
        return kExitUnavailable;
    }
    QString number;
    QStringList notRecorded;
    const ECertificate made = MakeCertificate(*store, id, QString::fromStdString(out), paper, Certifier(c.session),
                                              c.session.SensorTypes, error, &number, &notRecorded);
    if (made != ECertificate::kWritten) {
        std::cerr << "beamport-cli: " << error.toStdString() << "\n";
        return made == ECertificate::kRefused  ? kExitRefused
               : made == ECertificate::kBroken ? kExitFound
                                               : kExitFile;
    }
    // The command line never asks: what neither the record nor the settings
    // hold is printed "not recorded", and said here.
    for (const QString &name : notRecorded)
        std::cerr << "beamport-cli: the " << name.toStdString() << " is neither in record " << id
                  << " nor set, so the certificate says \"" << kNotRecorded << "\" (" << WhereToSet(name) << ")\n";
    std::cout << "certificate " << number.toStdString() << " written to " << out << "\n" << std::flush;
    return 0;
}

} // namespace

CliEntry CertificateCommand()
{
    CliEntry entry{"certificate", "certificate ID --out FILE.pdf [--paper a4|letter]",
                   "calibration or bump certificate of one record",
                   "The certificate of the service record ID, a measured bump test (bump-test) or a calibration "
                   "against a cylinder (sensor-cal --cylinder), as a one-page PDF: instrument, test, result, bench and "
                   "technician, next due date, record id and hash (a head for records verify --head). The record "
                   "must verify first: a broken one exits 1 naming the fault; any other record has none (exit 67). "
                   "The number (BP-<bench key>-<count>) is given once the page is written, and stays the record's.",
                   {{"--out FILE.pdf", "the file the certificate goes to (required)"},
                    {"--paper a4|letter", "the paper size (a4 when not given)"}},
                   Certificate,
                   ECliKind::kLocal};
    entry.gui = true; // the PDF writer needs fonts
    return entry;
}
