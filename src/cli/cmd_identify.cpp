// identify [--json]: the six identity lines of the Identify box, or with
// --json the identity record itself after the status line.
#include <iostream>

#include <QJsonArray>
#include <QJsonDocument>

#include "app/detector_jobs.h"
#include "app/status.h"
#include "cli/cli_commands.h"
#include "model/config_record.h"

namespace {

// A JSON string: the bytes up to the first zero byte, one character each.
std::string JsonText(const char *field, size_t size)
{
    const std::string bytes = CharFieldToStr(field, size);
    const QJsonArray holder{QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()))};
    const QByteArray array = QJsonDocument(holder).toJson(QJsonDocument::Compact); // ["..."]
    return array.mid(1, array.size() - 2).toStdString();
}

// In the record's order and with its field names.
std::string IdentityJson(const RTamselIdenty &id)
{
    return "{\n"
           "    \"mPID\": " + std::to_string(id.mPID) + ",\n" +
           "    \"mHW\": " + std::to_string(id.mHW) + ",\n" +
           "    \"mSW\": " + std::to_string(id.mSW) + ",\n" +
           "    \"mSensor\": " + std::to_string(id.mSensor) + ",\n" +
           "    \"mLife\": " + std::to_string(id.mLife) + ",\n" +
           "    \"mSerial\": " + JsonText(id.mSerial, sizeof id.mSerial) + "\n" +
           "}\n";
}

} // namespace

CliEntry IdentifyCommand()
{
    return {"identify", "identify [--json]", "the six identity lines",
            "Identify: wakes the detector and reads its identity: product ID, hardware and firmware version, life "
            "remaining, the sensor present and the serial number. Prints \"Load Identify... OK\", then the six lines "
            "of the window's Identify box.",
            {{"--json", "the identity record instead of the six lines, as JSON with the record's field names (mPID, "
                        "mHW, mSW, mSensor, mLife, mSerial); the serial number as text, one character a byte"}},
            [](CliContext &c) {
                const bool json = TakeFlag(c.args, "--json");
                if (!c.args.empty())
                    return kExitUsage;
                TDetectorJobs actions(c.session, c.screen);
                if (!json)
                    return static_cast<int>(actions.Identify().mStatus);
                RTamselIdenty identity{};
                const RActionResult read = actions.Identify(&identity, false);
                if (read.Ok())
                    std::cout << IdentityJson(identity) << std::flush;
                return static_cast<int>(read.mStatus);
            }};
}
