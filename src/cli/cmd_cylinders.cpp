// cylinders [--json] | cylinders add ... | cylinders retire ID: the gas
// cylinders kept with the service records. A cylinder is added once, as its
// label says, and retired when it is empty or withdrawn; it is never edited.
#include <algorithm>
#include <iostream>
#include <memory>
#include <optional>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "app/session.h"
#include "model/datetime.h"
#include "model/visible_text.h"
#include "cli/cli_commands.h"
#include "cli/cli_cylinder.h"
#include "records/cylinder_store.h"
#include "records/location.h"
#include "records/store.h"

namespace {

// A concentration as a label prints it: digits with at most one decimal
// point (no sign, exponent, hexadecimal or blank).
std::optional<double> DecimalNumber(const std::string &text)
{
    const size_t point = text.find('.');
    const std::string whole = text.substr(0, point), part = point == std::string::npos ? "" : text.substr(point + 1);
    const auto digits = [](const std::string &s) {
        return std::all_of(s.begin(), s.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
    };
    if (text.empty() || text.size() > 16 || !digits(whole) || !digits(part) || (whole.empty() && part.empty()) ||
        (point != std::string::npos && part.empty()))
        return std::nullopt;
    return QString::fromStdString(text).toDouble();
}

std::unique_ptr<TRecordStore> Store(CliContext &c)
{
    QString error;
    std::unique_ptr<TRecordStore> store = OpenStoreInForce(c.session, error);
    if (!store)
        std::cerr << "beamport-cli: the cylinders are kept with the service records: " << error.toStdString()
                  << std::endl;
    return store;
}

QJsonObject ListingJson(const RGasCylinder &cyl)
{
    return QJsonObject{{QStringLiteral("id"), static_cast<qint64>(cyl.mId)},
                       {QStringLiteral("gas"), QString::fromStdString(cyl.mGas)},
                       {QStringLiteral("concentration"), cyl.mConcentration / 10.0},
                       {QStringLiteral("unit"), QString::fromStdString(cyl.mUnit)},
                       {QStringLiteral("lot"), QString::fromStdString(cyl.mLot)},
                       {QStringLiteral("expires"), QString::fromStdString(cyl.mExpires)},
                       {QStringLiteral("balance"), QString::fromStdString(cyl.mBalance)},
                       {QStringLiteral("maker"), QString::fromStdString(cyl.mMaker)},
                       {QStringLiteral("retired"), cyl.mRetired}};
}

int List(CliContext &c, bool json)
{
    const std::unique_ptr<TRecordStore> store = Store(c);
    if (!store)
        return kExitUnavailable;
    std::vector<RGasCylinder> all;
    QString error;
    if (!ListCylinders(*store, all, error)) {
        std::cerr << "beamport-cli: " << error.toStdString() << std::endl;
        return kExitUnavailable;
    }
    if (json) {
        QJsonArray array;
        for (const RGasCylinder &cyl : all)
            array.append(ListingJson(cyl));
        std::cout << QJsonDocument(array).toJson(QJsonDocument::Indented).toStdString() << std::flush;
        return 0;
    }
    const std::string today = LocalDateText(Now());
    for (const RGasCylinder &cyl : all) {
        std::cout << cyl.mId << "  " << CylinderText(cyl) << ", expires " << VisibleUtf8(cyl.mExpires);
        if (!cyl.mBalance.empty())
            std::cout << ", balance " << VisibleUtf8(cyl.mBalance);
        if (!cyl.mMaker.empty())
            std::cout << ", " << VisibleUtf8(cyl.mMaker);
        if (cyl.mRetired)
            std::cout << "  RETIRED";
        else if (cyl.mExpires < today)
            std::cout << "  EXPIRED";
        std::cout << "\n";
    }
    std::cout << std::flush;
    return 0;
}

int Add(CliContext &c, std::vector<std::string> args)
{
    std::string gas, concentration, lot, expires, balance, maker;
    const bool complete = TakeOption(args, "--gas", gas) & TakeOption(args, "--concentration", concentration) &
                          TakeOption(args, "--lot", lot) & TakeOption(args, "--expires", expires);
    TakeOption(args, "--balance", balance);
    TakeOption(args, "--maker", maker);
    if (!complete || !args.empty())
        return UsageError(c, "cylinders add needs --gas NAME --concentration V --lot LOT --expires YYYY-MM-DD "
                             "(and may take --balance GAS --maker TEXT)");
    const auto refused = [](const std::string &why) {
        std::cerr << "beamport-cli: cylinders add: " << why << "; nothing was kept" << std::endl;
        return kExitRefused;
    };
    const std::optional<double> value = DecimalNumber(concentration);
    if (!value)
        return refused("the concentration must be a decimal number as the label prints it (25, 2.5), not '" +
                       VisibleUtf8(concentration.substr(0, kCylinderTextMax)) + "'");
    RGasCylinder cyl;
    const std::string fault = MakeCylinder(gas, *value, lot, expires, balance, maker, c.session.SensorTypes, cyl);
    if (!fault.empty())
        return UsageError(c, "cylinders add: " + VisibleUtf8(fault.substr(0, 200)));
    const std::unique_ptr<TRecordStore> store = Store(c);
    if (!store)
        return kExitUnavailable;
    QString error;
    std::vector<RGasCylinder> kept;
    if (!ListCylinders(*store, kept, error)) {
        std::cerr << "beamport-cli: " << error.toStdString() << std::endl;
        return kExitUnavailable;
    }
    if (const std::string why = CylinderEntryRefusal(cyl, kept, LocalDateText(Now())); !why.empty())
        return refused(why);
    if (!AddCylinder(*store, cyl, LoginName(), error)) {
        std::cerr << "beamport-cli: " << error.toStdString() << std::endl;
        return kExitUnavailable;
    }
    std::cout << cyl.mId << std::endl;
    return 0;
}

int Retire(CliContext &c, const std::vector<std::string> &args)
{
    int id = 0;
    if (args.size() != 1 || !ParseWholeNumber(args[0], 1, 999999999, id))
        return UsageError(c, "cylinders retire needs one cylinder id (a whole number from 1 up)");
    const std::unique_ptr<TRecordStore> store = Store(c);
    if (!store)
        return kExitUnavailable;
    QString error;
    if (!RetireCylinder(*store, id, error)) {
        if (!error.isEmpty()) {
            std::cerr << "beamport-cli: " << error.toStdString() << std::endl;
            return kExitUnavailable;
        }
        std::cerr << "beamport-cli: there is no cylinder " << id << std::endl;
        return kExitFile;
    }
    std::cout << "cylinder " << id << " retired" << std::endl;
    return 0;
}

int Cylinders(CliContext &c)
{
    std::vector<std::string> args = c.args;
    if (!args.empty() && args[0] == "add")
        return Add(c, std::vector<std::string>(args.begin() + 1, args.end()));
    if (!args.empty() && args[0] == "retire")
        return Retire(c, std::vector<std::string>(args.begin() + 1, args.end()));
    const bool json = TakeFlag(args, "--json");
    if (!args.empty())
        return UsageError(c, "cylinders takes --json, add ... or retire ID, not '" + args[0] + "'");
    return List(c, json);
}

} // namespace

CliEntry CylindersCommand()
{
    return {"cylinders",
            "cylinders [--json]\n"
            "cylinders add --gas NAME --concentration V --lot LOT --expires YYYY-MM-DD [--balance GAS] [--maker TEXT]\n"
            "cylinders retire ID",
            "the gas cylinders bump tests and calibrations use",
            "The gas cylinders, kept with the service records of the store in force (shared through PostgreSQL as "
            "they are). 'cylinders' lists them: id, gas, concentration and unit, lot, expiry date, balance gas, "
            "maker, and whether retired or expired. 'cylinders add' keeps a new one as its label says and prints "
            "its id: the gas is a sensor type of the settings (its unit is the sensor type's), the concentration "
            "more than 0.1, the expiry date YYYY-MM-DD (the last day it may be used), the lot is required. It refuses "
            "(67, with the reason) a concentration that is not a decimal number, a lot, balance gas or maker of more "
            "than 64 characters or with a character a certificate cannot print as written (a control character, a "
            "line separator, an invisible or direction-changing character, a backslash, an emoji), an expiry date "
            "already past, and the gas and lot of a cylinder in service. "
            "'cylinders retire ID' withdraws one; a retired or expired cylinder is refused for a test (67).",
            {{"--json", "the list as a JSON array of {id, gas, concentration, unit, lot, expires, balance, maker, "
                        "retired}"},
             {"--gas NAME", "add: the gas, a sensor type's name (H2S, CO, O2, ...)"},
             {"--concentration V", "add: the certified concentration in that sensor type's unit"},
             {"--lot LOT", "add: the lot number on the label"},
             {"--expires YYYY-MM-DD", "add: the expiry date on the label"},
             {"--balance GAS", "add: the balance gas (N2, air, ...)"},
             {"--maker TEXT", "add: who filled it"}},
            Cylinders,
            ECliKind::kLocal};
}
