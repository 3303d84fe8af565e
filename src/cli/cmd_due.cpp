// due [--within DAYS] [--json]: detectors whose calibration or bump test is
// due, soonest first (the rules are in records/due.h).
#include <iostream>
#include <memory>

#include <QJsonArray>
#include <QJsonDocument>

#include "cli/cli_commands.h"
#include "records/due.h"
#include "records/store.h"

namespace {

std::string Text(const QDateTime &t) { return t.isValid() ? RecordTime(t).toStdString() : "-"; }

int Due(CliContext &c)
{
    std::vector<std::string> args = c.args;
    std::optional<int> within;
    std::string days;
    if (TakeOption(args, "--within", days)) {
        bool ok = false;
        const int n = QString::fromStdString(days).toInt(&ok);
        if (!ok || n < 0 || n > 36500)
            return UsageError(c, "--within needs a number of days from 0 to 36500");
        within = n;
    }
    const bool json = TakeFlag(args, "--json");
    const bool simulated = TakeFlag(args, "--include-simulated");
    if (!args.empty())
        return kExitUsage;
    QString error;
    const std::unique_ptr<TRecordStore> store = OpenStoreInForce(c.session, error);
    std::vector<RDueEntry> list;
    if (!store || !DueList(*store, QDateTime::currentDateTimeUtc(), within, list, error, simulated)) {
        std::cerr << "beamport-cli: " << error.toStdString() << "\n";
        return kExitUnavailable;
    }
    if (json) {
        QJsonArray array;
        for (const RDueEntry &e : list)
            array.push_back(DueToJson(e));
        std::cout << QJsonDocument(array).toJson(QJsonDocument::Indented).toStdString();
    } else {
        for (const RDueEntry &e : list)
            std::cout << Text(e.mDue) << (e.mOverdue ? "  OVERDUE" : "") << "  " << VisibleText(e.mSerial).toStdString()
                      << "  " << VisibleText(e.mProduct).toStdString() << "  " << e.mSensor.toStdString()
                      << "  calibration " << Text(e.mNextCal) << "  bump " << Text(e.mNextBump) << "\n";
    }
    std::cout << std::flush;
    return 0;
}

} // namespace

CliEntry DueCommand()
{
    return {"due", "due [--within DAYS] [--include-simulated] [--json]", "detectors whose calibration or bump test is due",
            "The detectors whose calibration or bump test is due, soonest first, from the service records of the "
            "store in force: the next calibration is the last successful calibration plus the calibration interval "
            "the detector had then, the next bump test the last passed one plus the bump interval. A detector "
            "without such a record is due now.",
            {{"--within DAYS", "only those due within DAYS days from now (0 to 36500)"},
             {"--include-simulated", "count the records of simulated detectors too"},
             {"--json", "a JSON array of {serial, product, sensor, last_calibration, next_calibration, last_bump, "
                        "next_bump, due, overdue}"}},
            Due,
            ECliKind::kLocal};
}
