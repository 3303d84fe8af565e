#include "records/certificate.h"

#include <QJsonArray>

#include <algorithm>
#include <functional>

#include "app/cylinder.h"
#include "app/evidence_keys.h"
#include "app/session.h"
#include "model/convert.h"
#include "model/settings_types.h"
#include "records/location.h"

namespace {

const QString kNone = QStringLiteral("-");

// Tenths as "#0.#": 250 -> "25", 255 -> "25.5".
QString Tenths(qint64 tenths)
{
    return tenths % 10 == 0 ? QString::number(tenths / 10) : QString::fromStdString(FormatFixed(tenths / 10.0, 1));
}

std::optional<qint64> DataInt(const QJsonObject &data, const char *key)
{
    const QJsonValue v = data.value(QLatin1String(key));
    if (!v.isDouble())
        return std::nullopt;
    return static_cast<qint64>(v.toDouble());
}

QString UnitOf(const RServiceRecord &r, const std::optional<RTamselCFG> &cfg, const std::vector<RSensorType> &types)
{
    const QString unit = r.mData.value(QLatin1String(journal_data::kUnit)).toString();
    if (!unit.isEmpty() || !cfg)
        return unit;
    const int i = FindSensorType(cfg->mSensor.mSensorType, types);
    return i >= 0 ? QString::fromStdString(types[static_cast<size_t>(i)].mUnit) : QString();
}

QString WithUnit(const QString &value, const QString &unit)
{
    return unit.isEmpty() ? value : value + QLatin1Char(' ') + unit;
}

QString DisplayTime(const QDateTime &t) { return t.isValid() ? CertificateTime(t) : kNone; }

// A text from the detector or a person, its control characters shown.
QString Shown(const QString &s) { return s.isEmpty() ? kNone : VisibleText(s); }

} // namespace

bool ParsePaper(const QString &text, EPaper &paper)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("a4"))
        paper = EPaper::kA4;
    else if (t == QLatin1String("letter"))
        paper = EPaper::kLetter;
    else
        return false;
    return true;
}

QString CertificateTime(const QDateTime &time)
{
    const QDateTime local = time.toLocalTime();
    const int offset = local.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return local.toString(QStringLiteral("yyyy-MM-dd HH:mm ")) + (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1:%2").arg(minutes / 60, 2, 10, QLatin1Char('0')).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

RCertifier Certifier(TSession &session) { return CertifierSettings(session); }

QString CertificateRefusal(const RServiceRecord &r)
{
    const auto measured = [](const QString &word) {
        return word == QLatin1String(outcome::kPass) || word == QLatin1String(outcome::kFail);
    };
    if (r.mJob == QLatin1String(kJobBumpTest)) {
        if (measured(r.mOutcome))
            return {};
        return QStringLiteral("record %1 is a bump test that did not end in a result (%2): only a bump test that "
                              "passed or failed has a certificate")
            .arg(r.mId)
            .arg(r.mOutcome.isEmpty() ? QStringLiteral("no outcome") : VisibleText(r.mOutcome));
    }
    if (r.mJob == QLatin1String(kJobSensorCal) && r.mData.contains(QLatin1String(journal_data::kCylinder))) {
        if (measured(r.mData.value(QLatin1String(evidence_data::kCertified)).toString()))
            return {};
        return QStringLiteral("record %1 is a calibration against a cylinder whose as-left reading was not "
                              "measured (%2): it has no certificate")
            .arg(r.mId)
            .arg(r.mOutcome.isEmpty() ? QStringLiteral("no outcome") : VisibleText(r.mOutcome));
    }
    if (r.mJob == QLatin1String(kJobSensorCal))
        return QStringLiteral("record %1 is a calibration without a cylinder: a certificate needs the gas it was "
                              "calibrated with (sensor-cal --cylinder ID)")
            .arg(r.mId);
    return QStringLiteral("record %1 is a \"%2\" job: certificates are made only for a measured bump test "
                          "(bump-test) and a calibration against a cylinder (sensor-cal --cylinder)")
        .arg(r.mId)
        .arg(r.mJob);
}

namespace {

namespace k = evidence_data;

QString Str(const QJsonObject &o, const char *key) { return o.value(QLatin1String(key)).toString(); }
QString TenthsWithUnit(const std::optional<qint64> &v, const QString &unit)
{
    return v ? WithUnit(Tenths(*v), unit) : kNone;
}
// "+2.4 %" for 24 per mille of the concentration.
QString Permille(qint64 v)
{
    return QString::fromStdString((v < 0 ? "-" : "+") + FormatFixed(std::abs(v) / 10.0, 1)) + QStringLiteral(" %");
}
QString Seconds(const std::optional<qint64> &v, const QString &never)
{
    return v ? QStringLiteral("%1 s").arg(*v) : never;
}

// One measurement of a calibration's as-found or as-left: "0.1 ppm (+0.4 %)".
QString Measured(const QJsonObject &m, const char *value, const char *deviation, const QString &unit)
{
    const std::optional<qint64> v = DataInt(m, value);
    if (!v)
        return QStringLiteral("not measured");
    QString text = WithUnit(Tenths(*v), unit);
    if (const std::optional<qint64> d = DataInt(m, deviation))
        text += QStringLiteral(" (") + Permille(*d) + QStringLiteral(" of the cylinder)");
    return text;
}

} // namespace

RCertificateContent CertificateContent(const RServiceRecord &r, const QString &number, const RCertifier &certifier,
                                       const std::vector<RSensorType> &types)
{
    const bool calibration = r.mJob == QLatin1String(kJobSensorCal);
    const std::optional<RTamselCFG> cfg = RecordConfig(r.mData, journal_data::kConfig);
    const QString unit = UnitOf(r, cfg, types);
    const QJsonObject &d = r.mData;
    RCertificateContent c;
    // What the job kept stands; the values given now only fill what an
    // older record did not keep. None at all is said as such.
    const auto kept = [&d, &c](const char *key, const QString &now, const char *name) {
        QString v = Str(d, key).trimmed();
        if (v.isEmpty())
            v = now.trimmed();
        if (!v.isEmpty())
            return VisibleText(v);
        c.mNotRecorded << QString::fromLatin1(name);
        return QString::fromLatin1(kNotRecorded);
    };
    c.mTitle = calibration ? QStringLiteral("Calibration Certificate") : QStringLiteral("Bump Test Certificate");
    c.mNumber = number;
    c.mTime = ParseRecordTime(r.mTime);
    if (r.mSimulated)
        c.mWatermark = QLatin1String(kSimulatedWatermark);
    const QString word = calibration ? Str(d, k::kCertified) : r.mOutcome;
    c.mResult = word == QLatin1String(outcome::kPass)   ? QStringLiteral("PASS")
                : word == QLatin1String(outcome::kFail) ? QStringLiteral("FAIL")
                                                        : QStringLiteral("NOT CERTIFIED");

    c.mSections.push_back({QStringLiteral("Issued by"),
                           {{QStringLiteral("Organisation"), kept(k::kOrganisation, certifier.mOrganisation, "organisation")},
                            {QStringLiteral("Address"), kept(k::kAddress, certifier.mAddress, "address")}}});

    QString range = kNone, asset = kNone, setPoints = kNone;
    if (cfg) {
        range = WithUnit(Tenths(cfg->mSensor.mSensorBase) + QStringLiteral(" to ") + Tenths(cfg->mSensor.mSensorMax), unit);
        asset = Shown(QString::fromLatin1(cfg->mUnit.mUserID, sizeof cfg->mUnit.mUserID).trimmed());
        setPoints = QStringLiteral("low %1, high %2")
                        .arg(WithUnit(Tenths(cfg->mSensor.mAlarmLow), unit), WithUnit(Tenths(cfg->mSensor.mAlarmHigh), unit));
    }
    c.mSections.push_back({QStringLiteral("Instrument"),
                           {{QStringLiteral("Product"), Shown(r.mProduct)},
                            {QStringLiteral("Serial number"), Shown(r.mSerial)},
                            {QStringLiteral("Asset (user ID)"), asset},
                            {QStringLiteral("Hardware version"), Shown(r.mHardware)},
                            {QStringLiteral("Firmware version"), Shown(r.mFirmware)},
                            {QStringLiteral("Sensor type"), Shown(r.mSensor)},
                            {QStringLiteral("Sensor range"), range},
                            {QStringLiteral("Alarm set points"), setPoints}}});

    RGasCylinder cyl;
    const bool hasCylinder = CylinderFromRecordJson(d.value(QLatin1String(k::kCylinder)).toObject(), cyl);
    const QString cylUnit = hasCylinder ? QString::fromStdString(cyl.mUnit) : unit;
    const auto text = [](const std::string &s) { return Shown(QString::fromStdString(s)); };
    c.mSections.push_back(
        {QStringLiteral("Gas cylinder"),
         hasCylinder ? std::vector<std::pair<QString, QString>>{
                           {QStringLiteral("Gas"), text(cyl.mGas)},
                           {QStringLiteral("Concentration"), WithUnit(Tenths(cyl.mConcentration), cylUnit)},
                           {QStringLiteral("Lot"), text(cyl.mLot)},
                           {QStringLiteral("Expires"), text(cyl.mExpires)},
                           {QStringLiteral("Balance"), text(cyl.mBalance)},
                           {QStringLiteral("Maker"), cyl.mMaker.empty() ? QString::fromLatin1(kNotRecorded) : text(cyl.mMaker)},
                           {QStringLiteral("Cylinder id"), QString::number(cyl.mId)}}
                     : std::vector<std::pair<QString, QString>>{{QStringLiteral("Cylinder"), kNone}}});

    const QJsonObject criteria = d.value(QLatin1String(k::kCriteria)).toObject();
    if (calibration) {
        const QJsonObject found = d.value(QLatin1String(k::kAsFound)).toObject();
        const QJsonObject left = d.value(QLatin1String(k::kAsLeft)).toObject();
        const std::optional<qint64> tolerance = DataInt(d, k::kTolerance);
        c.mSections.push_back(
            {QStringLiteral("Measured"),
             {{QStringLiteral("As found, clean air"), Measured(found, k::kZero, k::kZeroDeviation, cylUnit)},
              {QStringLiteral("As found, under gas"), Measured(found, k::kSpan, k::kSpanDeviation, cylUnit)},
              {QStringLiteral("Procedure"), Shown(Str(d, journal_data::kResult))},
              {QStringLiteral("As left, under gas"), Measured(left, k::kSpan, k::kSpanDeviation, cylUnit)},
              {QStringLiteral("As left, clean air"), Measured(left, k::kZero, k::kZeroDeviation, cylUnit)},
              {QStringLiteral("Criteria"),
               QStringLiteral("the procedure ends clear; as-left reading under gas within +-%1 of the cylinder")
                   .arg(tolerance ? Permille(*tolerance).mid(1) : kNone)}}});
    } else {
        const std::optional<qint64> low = DataInt(criteria, k::kAlarmLow);
        const std::optional<qint64> within = DataInt(criteria, k::kWithin);
        const bool falls = criteria.value(QLatin1String(k::kFalls)).toBool();
        QString rule = QStringLiteral("reading %1 %2 with the LOW alarm within %3")
                           .arg(falls ? QStringLiteral("falls to") : QStringLiteral("reaches"),
                                TenthsWithUnit(low, unit), Seconds(within, kNone));
        const std::optional<qint64> peakMin = DataInt(criteria, k::kPeakMin), peakMax = DataInt(criteria, k::kPeakMax);
        if (peakMin && peakMax)
            rule += QStringLiteral(";\npeak %1 to %2").arg(Tenths(*peakMin), TenthsWithUnit(peakMax, unit));
        QStringList flags;
        for (const QJsonValue &f : d.value(QLatin1String(k::kAlarmFlags)).toArray())
            flags << VisibleText(f.toString());
        c.mSections.push_back({QStringLiteral("Measured"),
                               {{QStringLiteral("Baseline (clean air)"), TenthsWithUnit(DataInt(d, k::kBaseline), unit)},
                                {QStringLiteral("Peak under gas"), TenthsWithUnit(DataInt(d, k::kPeak), unit)},
                                {QStringLiteral("Time to LOW alarm"), Seconds(DataInt(d, k::kSecondsToAlarm), QStringLiteral("never"))},
                                {QStringLiteral("Alarm flags seen"), flags.isEmpty() ? QStringLiteral("none") : flags.join(QStringLiteral(", "))},
                                {QStringLiteral("Recovery"), Seconds(DataInt(d, k::kRecovery), QStringLiteral("not back in time"))},
                                {QStringLiteral("Criteria"), rule}}});
    }

    const QDateTime when = ParseRecordTime(r.mTime);
    QString nextDue = kNone;
    if (c.mResult != QLatin1String("PASS"))
        nextDue = QStringLiteral("none: not passed");
    else if (cfg) {
        const qint64 seconds = calibration ? CalIntervalSeconds(*cfg) : BumpIntervalDays(*cfg) * 86400;
        nextDue = seconds == 0 ? QStringLiteral("none (no interval set)") : DisplayTime(when.addSecs(seconds));
    }
    // The bench's name as the job kept it; an older record knows only the
    // computer it ran on, and the page says no more than that.
    QString bench = Str(d, k::kBenchName).trimmed();
    if (bench.isEmpty()) {
        c.mNotRecorded << QStringLiteral("bench name");
        bench = r.mBench.isEmpty() ? QString::fromLatin1(kNotRecorded)
                                   : QStringLiteral("%1 (computer \"%2\")").arg(QLatin1String(kNotRecorded), VisibleText(r.mBench));
    } else {
        bench = VisibleText(bench);
    }
    QString failed = Str(d, k::kFailed);
    std::vector<std::pair<QString, QString>> result{{QStringLiteral("Result"), c.mResult}};
    if (!failed.isEmpty())
        result.push_back({QStringLiteral("Because"), VisibleText(failed)});
    result.insert(result.end(), {{QStringLiteral("Date and time"), DisplayTime(when)},
                                 {QStringLiteral("Bench"), bench},
                                 {QStringLiteral("Technician"), kept(k::kTechnician, certifier.mTechnician, "technician's printed name")},
                                 {QStringLiteral("Next due"), nextDue}});
    c.mSections.push_back({QStringLiteral("Result"), result});
    c.mSections.push_back({QStringLiteral("Record"),
                           {{QStringLiteral("Program"), QStringLiteral("Beamport " BEAMPORT_VERSION)},
                            {QStringLiteral("Record id"), QString::number(r.mId)},
                            {QStringLiteral("Record hash"), r.mHash},
                            {QStringLiteral("Bench key"), r.mBenchKey.isEmpty() ? kNone : r.mBenchKey},
                            {QStringLiteral("Organisation key"),
                             certifier.mOrgKey.isEmpty() ? QStringLiteral("none (the bench key is not approved)")
                                                         : certifier.mOrgKey}}});
    return c;
}

ECertificate MakeCertificate(TRecordStore &store, qint64 id, const QString &path, EPaper paper,
                             const RCertifier &certifier, const std::vector<RSensorType> &types, QString &error,
                             QString *number, QStringList *notRecorded)
{
    const std::optional<RServiceRecord> record = store.Get(id, error);
    if (!record) {
        if (error.isEmpty())
            error = QStringLiteral("there is no record %1 in %2").arg(id).arg(store.Location().Describe());
        return ECertificate::kNoRecord;
    }
    if (const QString refusal = CertificateRefusal(*record); !refusal.isEmpty()) {
        error = refusal;
        return ECertificate::kRefused;
    }
    // Only a record that verifies, up to its own place in the chain.
    const RVerifyResult v = store.Verify({record->mId, record->mHash});
    if (!v.mError.isEmpty()) {
        error = QStringLiteral("the records could not be checked: ") + v.mError;
        return ECertificate::kNoRecord;
    }
    if (!v.mIntact && v.mBrokenId <= record->mId) {
        error = QStringLiteral("record %1 does not verify, so it has no certificate: record %2: %3")
                    .arg(record->mId)
                    .arg(v.mBrokenId)
                    .arg(v.mReason);
        return ECertificate::kBroken;
    }
    // The organisation key that approved the bench key, printed for `records verify --org`.
    RCertifier issuer = certifier;
    std::vector<RBenchKeyRow> keys;
    if (QString keysError; store.Keys(keys, keysError))
        for (const RBenchKeyRow &k : keys)
            for (const RKeyApproval &a : k.mApprovals)
                if (k.mKeyId == record->mBenchKey && a.mSignatureGood && issuer.mOrgKey.isEmpty())
                    issuer.mOrgKey = a.mOrgFingerprint;
    QString pageError;
    const qint64 n = store.Certificate(
        *record,
        [&](const QString &text) {
            const RCertificateContent content = CertificateContent(*record, text, issuer, types);
            if (notRecorded)
                *notRecorded = content.mNotRecorded;
            return WriteCertificatePdf(content, path, paper, pageError);
        },
        error, number);
    if (n == 0) {
        error = pageError.isEmpty() ? QStringLiteral("no certificate number could be given: ") + error : pageError;
        return ECertificate::kNotWritten;
    }
    return ECertificate::kWritten;
}
