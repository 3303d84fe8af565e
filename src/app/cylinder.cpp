#include "app/cylinder.h"

#include <cmath>

#include <QDate>
#include <QString>

#include "app/certifier.h"
#include "app/evidence_keys.h"
#include "app/session.h"
#include "app/user_store.h"
#include "model/device_records.h"
#include "model/visible_text.h"

namespace {

QString Q(const std::string &text) { return QString::fromStdString(text); }

// A date as "YYYY-MM-DD" that names a real day, written exactly so.
bool IsDateText(const std::string &text)
{
    const QDate date = QDate::fromString(Q(text), QStringLiteral("yyyy-MM-dd"));
    return date.isValid() && date.toString(QStringLiteral("yyyy-MM-dd")) == Q(text);
}

// Oxygen calibration gas closer to fresh air than this cannot calibrate the
// sensor (the calibration's own oxygen rule would replace it by 18 %).
constexpr int32_t kOxygenNearAirLow = 190;
constexpr int32_t kOxygenNearAirHigh = 235;

} // namespace

std::string TenthsText(int32_t tenths)
{
    const int64_t value = tenths;
    const int64_t whole = (value < 0 ? -value : value) / 10, part = (value < 0 ? -value : value) % 10;
    std::string text = (value < 0 ? "-" : "") + std::to_string(whole);
    if (part != 0)
        text += "." + std::to_string(part);
    return text;
}

std::string CylinderText(const RGasCylinder &c)
{
    return VisibleUtf8(c.mGas) + " " + TenthsText(c.mConcentration) + " " + VisibleUtf8(c.mUnit) + ", lot " +
           VisibleUtf8(c.mLot);
}

QJsonObject CylinderRecordJson(const RGasCylinder &c)
{
    return QJsonObject{{QStringLiteral("id"), static_cast<qint64>(c.mId)},
                       {QStringLiteral("gas"), Q(c.mGas)},
                       {QStringLiteral("concentration_tenths"), c.mConcentration},
                       {QStringLiteral("unit"), Q(c.mUnit)},
                       {QStringLiteral("lot"), Q(c.mLot)},
                       {QStringLiteral("expires"), Q(c.mExpires)},
                       {QStringLiteral("balance"), Q(c.mBalance)},
                       {QStringLiteral("maker"), Q(c.mMaker)},
                       {QStringLiteral("retired"), c.mRetired}};
}

bool CylinderFromRecordJson(const QJsonObject &o, RGasCylinder &c)
{
    const char *texts[] = {"gas", "unit", "lot", "expires", "balance", "maker"};
    for (const char *key : texts)
        if (!o.value(QLatin1String(key)).isString())
            return false;
    if (!o.value(QLatin1String("id")).isDouble() || !o.value(QLatin1String("concentration_tenths")).isDouble() ||
        !o.value(QLatin1String("retired")).isBool())
        return false;
    c.mId = o.value(QLatin1String("id")).toInteger();
    c.mGas = o.value(QLatin1String("gas")).toString().toStdString();
    c.mConcentration = static_cast<int32_t>(o.value(QLatin1String("concentration_tenths")).toInteger());
    c.mUnit = o.value(QLatin1String("unit")).toString().toStdString();
    c.mLot = o.value(QLatin1String("lot")).toString().toStdString();
    c.mExpires = o.value(QLatin1String("expires")).toString().toStdString();
    c.mBalance = o.value(QLatin1String("balance")).toString().toStdString();
    c.mMaker = o.value(QLatin1String("maker")).toString().toStdString();
    c.mRetired = o.value(QLatin1String("retired")).toBool();
    return true;
}

std::string MakeCylinder(const std::string &gas, double concentration, const std::string &lot,
                         const std::string &expires, const std::string &balance, const std::string &maker,
                         const std::vector<RSensorType> &types, RGasCylinder &cylinder)
{
    const RSensorType *type = nullptr;
    std::string names;
    for (const RSensorType &t : types) {
        names += (names.empty() ? "" : ", ") + t.mName;
        if (t.mName == gas)
            type = &t;
    }
    if (!type)
        return "the gas '" + gas + "' is no sensor type of the settings (" + names + ")";
    const double tenths = std::round(concentration * 10.0);
    if (!std::isfinite(concentration) || tenths < 2 || tenths > 32767)
        return "the concentration must be more than 0.1 and at most 3276.7 " + type->mUnit;
    if (lot.find_first_not_of(' ') == std::string::npos)
        return "the lot number is needed: it is what makes the cylinder traceable";
    if (!IsDateText(expires))
        return "the expiry date must be a date written YYYY-MM-DD, not '" + expires + "'";
    cylinder = RGasCylinder{};
    cylinder.mGas = type->mName;
    cylinder.mConcentration = static_cast<int32_t>(tenths);
    cylinder.mUnit = type->mUnit;
    cylinder.mLot = lot;
    cylinder.mExpires = expires;
    cylinder.mBalance = balance;
    cylinder.mMaker = maker;
    return {};
}

std::string CylinderEntryRefusal(const RGasCylinder &c, const std::vector<RGasCylinder> &kept,
                                 const std::string &today)
{
    const std::pair<const char *, const std::string *> texts[] = {
        {"lot", &c.mLot}, {"balance gas", &c.mBalance}, {"maker", &c.mMaker}};
    for (const auto &[what, text] : texts) {
        const QString q = Q(*text);
        if (q.toUtf8() != QByteArray::fromStdString(*text))
            return std::string("the ") + what + " is not valid UTF-8 text";
        if (static_cast<size_t>(q.toUcs4().size()) > kCylinderTextMax)
            return std::string("the ") + what + " has " + std::to_string(q.toUcs4().size()) +
                   " characters: at most " + std::to_string(kCylinderTextMax) + " are kept";
        for (const char32_t ch : q.toUcs4()) {
            const std::string one = QString::fromUcs4(&ch, 1).toStdString();
            if (ch <= 0xFFFF && VisibleUtf8(one) == one)
                continue;
            const std::string name = "U+" + QString::number(static_cast<uint>(ch), 16).toUpper().toStdString();
            return std::string("the ") + what + " '" + VisibleUtf8(*text) + "' holds a character a certificate " +
                   "cannot print as written (" + name + "): give it as the label shows it";
        }
    }
    if (IsDateText(c.mExpires) && c.mExpires < today)
        return "the expiry date " + c.mExpires + " has passed: an expired cylinder is not taken into service";
    for (const RGasCylinder &k : kept)
        if (!k.mRetired && k.mGas == c.mGas && k.mLot == c.mLot)
            return "cylinder " + std::to_string(k.mId) + " holds " + VisibleUtf8(c.mGas) + " of lot " +
                   VisibleUtf8(c.mLot) + " already: retire it first, or give this one's own lot";
    return {};
}

std::string CylinderDateRefusal(const RGasCylinder &c, const std::string &today)
{
    const std::string name = "cylinder " + std::to_string(c.mId) + " (" + CylinderText(c) + ")";
    if (c.mRetired)
        return name + " is retired: choose one in service";
    // Dates written YYYY-MM-DD compare as text; an unreadable date counts as expired.
    if (!IsDateText(c.mExpires) || c.mExpires < today)
        return name + " expired on " + VisibleUtf8(c.mExpires) + ": its concentration is no longer certified";
    return {};
}

std::string CylinderFitRefusal(const RGasCylinder &c, const RTamselCFG &cfg, const std::vector<RSensorType> &types,
                               ECylinderUse use)
{
    const std::string name = "cylinder " + std::to_string(c.mId) + " (" + CylinderText(c) + ")";
    const int index = FindSensorType(cfg.mSensor.mSensorType, types);
    if (index < 0)
        return "the detector's sensor type " + std::to_string(cfg.mSensor.mSensorType) + " is not in the settings";
    const RSensorType &type = types[static_cast<size_t>(index)];
    if (c.mGas != type.mName || c.mUnit != type.mUnit)
        return name + " holds " + VisibleUtf8(c.mGas) + ", the detector's sensor is " + type.mName + " (" +
               type.mUnit + ")";
    const int32_t low = cfg.mSensor.mAlarmLow;
    const std::string level = TenthsText(low) + " " + type.mUnit;
    const bool falls = ReadingFalls(cfg.mSensor.mSensorType);
    if (use == ECylinderUse::kBumpTest) {
        if (!falls && c.mConcentration < low)
            return name + " cannot reach the detector's low alarm level of " + level +
                   ": a bump test needs gas at or above it";
        if (falls && c.mConcentration > low)
            return name + " cannot bring the reading down to the detector's low alarm level of " + level +
                   ": a bump test needs gas at or below it";
        return {};
    }
    if (falls && c.mConcentration > kOxygenNearAirLow && c.mConcentration < kOxygenNearAirHigh)
        return name + ": an oxygen span gas above 19 and below 23.5 % is too close to fresh air to calibrate with";
    if (falls && c.mConcentration > low)
        return name + " is above the detector's low alarm level of " + level +
               ": calibrate with gas at or below it, or the alarm is never checked";
    if (!falls && c.mConcentration < low)
        return name + " is below the detector's low alarm level of " + level +
               ": calibrate with gas at or above it, or the alarm is never checked";
    return {};
}

std::string LocalDateText(double dayCount)
{
    const QDate date = QDate(1899, 12, 30).addDays(static_cast<qint64>(std::floor(dayCount)));
    return date.toString(QStringLiteral("yyyy-MM-dd")).toStdString();
}

QJsonObject CertifierRecordJson(TSession &session)
{
    QJsonObject o;
    const RCertifier certifier = CertifierSettings(session);
    const auto put = [&o](const char *key, const QString &value) {
        if (!value.isEmpty())
            o.insert(QLatin1String(key), value);
    };
    put(evidence_data::kTechnician, certifier.mTechnician);
    put(evidence_data::kOrganisation, certifier.mOrganisation);
    put(evidence_data::kAddress, certifier.mAddress);
    put(evidence_data::kBenchName, certifier.mBench);
    return o;
}
