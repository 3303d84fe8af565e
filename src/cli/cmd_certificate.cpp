// certificate ID --out FILE.pdf [--paper a4|letter]: the calibration or
// bump-test certificate of one record. Exit 65 when the record has none (it
// is not a successful calibration or a passed bump test), does not exist, or
// the store or the file cannot be used.
#include <iostream>
#include <memory>

#include "app/session.h"
#include "cli/cli_commands.h"
#include "records/certificate.h"
#include "records/journal_store.h"
#include "records/location.h"

namespace {

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
    qint64 number = 0;
    if (!store || !MakeCertificate(*store, id, QString::fromStdString(out), paper, TechnicianName(c.session.Store()),
                                   c.session.SensorTypes, error, &number)) {
        std::cerr << "beamport-cli: " << error.toStdString() << "\n";
        return kExitFile;
    }
    std::cout << "certificate BP-" << QStringLiteral("%1").arg(number, 6, 10, QLatin1Char('0')).toStdString()
              << " written to " << out << "\n"
              << std::flush;
    return 0;
}

} // namespace

CliEntry CertificateCommand()
{
    CliEntry entry{"certificate", "certificate ID --out FILE.pdf [--paper a4|letter]",
                   "calibration or bump certificate of one record",
                   "The calibration or bump test certificate of the service record ID, as a one-page PDF: instrument, "
                   "test, span gas, zero and span before and after, result, bench and technician, next due date, "
                   "record id and hash. A record that is not a successful calibration or a passed bump test has none "
                   "(exit 65).",
                   {{"--out FILE.pdf", "the file the certificate goes to (required)"},
                    {"--paper a4|letter", "the paper size (a4 when not given)"}},
                   Certificate,
                   ECliKind::kLocal};
    entry.gui = true; // the PDF writer needs fonts
    return entry;
}
