#include "records/record.h"

#include <cctype>
#include <cstring>
#include <type_traits>
#include <variant>

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>

#include "files/atomic_save.h"
#include "records/jcs.h"
#include "model/convert.h"
#include "model/settings_types.h"

namespace {

QString Latin1(const std::string &s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

// A character field of the detector as text: up to its first zero byte,
// trailing blanks dropped.
QString FieldText(const char *field, size_t size) { return Latin1(CharFieldToStr(field, size)).trimmed(); }

// A job's data as a record keeps it: a lone surrogate in a text (which no
// UTF-8 can hold and the hash's canonical form refuses) becomes U+FFFD, as
// every UTF-8 writer would make it, so the record can be hashed.
QString WellFormedText(const QString &s)
{
    QString out = s;
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (out[i].isHighSurrogate() && i + 1 < out.size() && out[i + 1].isLowSurrogate())
            ++i;
        else if (out[i].isSurrogate())
            out[i] = QChar::ReplacementCharacter;
    }
    return out;
}
QJsonValue WellFormed(const QJsonValue &v)
{
    if (v.isString())
        return WellFormedText(v.toString());
    if (v.isArray()) {
        QJsonArray a;
        for (const QJsonValue &e : v.toArray())
            a.append(WellFormed(e));
        return a;
    }
    if (v.isObject()) {
        QJsonObject o;
        const QJsonObject in = v.toObject();
        for (auto it = in.begin(); it != in.end(); ++it)
            o.insert(WellFormedText(it.key()), WellFormed(it.value()));
        return o;
    }
    return v;
}

// Every field of a record, once, in output order: its name, where it lives,
// which hash rules cover it (the record's own, and the old rule of the
// stores written before signing), and whose text it is. Hashing, the JSON
// form, reading it back and CSV all walk this one list.
using RFieldPlace = std::variant<qint64 RServiceRecord::*, int RServiceRecord::*, bool RServiceRecord::*,
                                 QString RServiceRecord::*, QJsonObject RServiceRecord::*>;
struct RRecordField {
    const char *mName;
    RFieldPlace mPlace;
    bool mHashed;  // in HashedObject
    bool mLegacy;  // in the old rule's object
    bool mOutside; // a text from the detector or a person (defused in CSV)
};
constexpr RRecordField kRecordFields[] = {
    {"id", &RServiceRecord::mId, true, true, false},
    {"uid", &RServiceRecord::mUid, true, false, false},
    {"time", &RServiceRecord::mTime, true, true, false},
    {"job", &RServiceRecord::mJob, true, true, false},
    {"status", &RServiceRecord::mStatus, true, true, false},
    {"outcome", &RServiceRecord::mOutcome, true, false, false},
    {"text", &RServiceRecord::mText, true, true, true},
    {"serial", &RServiceRecord::mSerial, true, true, true},
    {"product", &RServiceRecord::mProduct, true, true, true},
    {"firmware", &RServiceRecord::mFirmware, true, true, true},
    {"hardware", &RServiceRecord::mHardware, true, true, true},
    {"sensor", &RServiceRecord::mSensor, true, true, true},
    {"bench", &RServiceRecord::mBench, true, true, true},
    {"user", &RServiceRecord::mUser, true, true, true},
    {"simulated", &RServiceRecord::mSimulated, true, false, false},
    {"data", &RServiceRecord::mData, true, true, false},
    {"bench_key", &RServiceRecord::mBenchKey, true, false, false},
    {"prev", &RServiceRecord::mPrev, true, true, false},
    {"hash", &RServiceRecord::mHash, false, false, false},
    {"sig", &RServiceRecord::mSig, false, false, false},
};

QJsonValue FieldValue(const RServiceRecord &r, const RFieldPlace &place)
{
    return std::visit([&](auto member) { return QJsonValue(r.*member); }, place);
}

// The record's fields that one rule hashes.
QJsonObject FieldsObject(const RServiceRecord &r, bool RRecordField::*rule)
{
    QJsonObject o;
    for (const RRecordField &f : kRecordFields)
        if (f.*rule)
            o.insert(QLatin1String(f.mName), FieldValue(r, f.mPlace));
    return o;
}

// The fields the old rule hashed.
QJsonObject LegacyObject(const RServiceRecord &r) { return FieldsObject(r, &RRecordField::mLegacy); }

QString Sha256Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString CsvField(const QString &s)
{
    if (!s.contains(QLatin1Char(',')) && !s.contains(QLatin1Char('"')) && !s.contains(QLatin1Char('\n')) &&
        !s.contains(QLatin1Char('\r')))
        return s;
    QString q = s;
    q.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

} // namespace

const QString kGenesisHash = QString(64, QLatin1Char('0'));

const QStringList &RecordFieldNames()
{
    static const QStringList names = [] {
        QStringList n;
        for (const RRecordField &f : kRecordFields)
            n << QLatin1String(f.mName);
        return n;
    }();
    return names;
}

QJsonObject HashedObject(const RServiceRecord &r) { return FieldsObject(r, &RRecordField::mHashed); }

QVariantList RecordFieldValues(const RServiceRecord &r)
{
    QVariantList values;
    for (const RRecordField &f : kRecordFields)
        values << std::visit(
            [&](auto member) -> QVariant {
                using T = std::remove_cvref_t<decltype(r.*member)>;
                if constexpr (std::is_same_v<T, QString>)
                    return (r.*member).isNull() ? QStringLiteral("") : r.*member;
                else if constexpr (std::is_same_v<T, bool>)
                    return r.*member ? 1 : 0;
                else if constexpr (std::is_same_v<T, QJsonObject>)
                    return DataText(r.*member);
                else
                    return QVariant::fromValue(r.*member);
            },
            f.mPlace);
    return values;
}

void SetRecordFieldValues(RServiceRecord &r, const std::function<QVariant(int)> &value)
{
    int column = 0;
    for (const RRecordField &f : kRecordFields) {
        const QVariant v = value(column++);
        std::visit(
            [&](auto member) {
                using T = std::remove_cvref_t<decltype(r.*member)>;
                if constexpr (std::is_same_v<T, QString>)
                    r.*member = v.toString();
                else if constexpr (std::is_same_v<T, bool>)
                    r.*member = v.toLongLong() != 0;
                else if constexpr (std::is_same_v<T, QJsonObject>)
                    r.*member = QJsonDocument::fromJson(v.toString().toUtf8()).object();
                else if constexpr (std::is_same_v<T, qint64>)
                    r.*member = v.toLongLong();
                else
                    r.*member = v.toInt();
            },
            f.mPlace);
    }
}

QJsonObject RecordToJson(const RServiceRecord &record)
{
    QJsonObject o = HashedObject(record);
    o.insert(QStringLiteral("hash"), record.mHash);
    o.insert(QStringLiteral("sig"), record.mSig);
    return o;
}

bool RecordFromJson(const QJsonObject &o, RServiceRecord &r, QString &error)
{
    for (const RRecordField &f : kRecordFields) {
        if (!o.contains(QLatin1String(f.mName))) {
            error = QStringLiteral("the record has no field \"%1\"").arg(QLatin1String(f.mName));
            return false;
        }
    }
    // Numbers, the flag and data first, then the texts in order.
    for (const RRecordField &f : kRecordFields) {
        const QJsonValue v = o.value(QLatin1String(f.mName));
        const bool fits = std::visit(
            [&](auto member) {
                using T = std::remove_reference_t<decltype(r.*member)>;
                if constexpr (std::is_same_v<T, QString>)
                    return true;
                else if constexpr (std::is_same_v<T, bool>)
                    return v.isBool() ? (r.*member = v.toBool(), true) : false;
                else if constexpr (std::is_same_v<T, QJsonObject>)
                    return v.isObject() ? (r.*member = v.toObject(), true) : false;
                else
                    return v.isDouble() ? (r.*member = static_cast<T>(v.toInteger()), true) : false;
            },
            f.mPlace);
        if (!fits) {
            error = QStringLiteral("the record's id, status, simulated or data has the wrong type");
            return false;
        }
    }
    for (const RRecordField &f : kRecordFields) {
        const auto *text = std::get_if<QString RServiceRecord::*>(&f.mPlace);
        if (!text)
            continue;
        const QJsonValue v = o.value(QLatin1String(f.mName));
        if (!v.isString()) {
            error = QStringLiteral("the record's \"%1\" is not a text").arg(QLatin1String(f.mName));
            return false;
        }
        r.**text = v.toString();
    }
    return true;
}

QString RecordHash(const RServiceRecord &record)
{
    const QByteArray canonical = Jcs(HashedObject(record));
    return canonical.isEmpty() ? QString() : Sha256Hex(canonical);
}

QString OutboxHash(const RServiceRecord &record)
{
    RServiceRecord unsent = record;
    unsent.mId = 0;
    unsent.mPrev = QStringLiteral("");
    return RecordHash(unsent);
}

QString LegacyRecordHash(const RServiceRecord &record)
{
    return Sha256Hex(record.mPrev.toLatin1() + QJsonDocument(LegacyObject(record)).toJson(QJsonDocument::Compact));
}

QString DataText(const QJsonObject &data)
{
    return QString::fromUtf8(QJsonDocument(data).toJson(QJsonDocument::Compact));
}

QString RecordTime(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

QDateTime ParseRecordTime(const QString &text)
{
    const QString t = text.trimmed();
    if (t.size() == 10) {
        const QDate d = QDate::fromString(t, QStringLiteral("yyyy-MM-dd"));
        return d.isValid() ? QDateTime(d, QTime(0, 0), Qt::UTC) : QDateTime();
    }
    QDateTime dt = QDateTime::fromString(t, Qt::ISODateWithMs);
    if (!dt.isValid())
        return {};
    if (dt.timeSpec() == Qt::LocalTime) // no zone given: UTC
        dt = QDateTime(dt.date(), dt.time(), Qt::UTC);
    return dt.toUTC();
}

QString SensorName(uint8_t code, const std::vector<RSensorType> &types)
{
    if (code == 0)
        return {};
    const int i = FindSensorType(code, types);
    if (i >= 0)
        return Latin1(types[static_cast<size_t>(i)].mName);
    return QStringLiteral("0x%1").arg(QString::number(code, 16).toUpper().rightJustified(2, QLatin1Char('0')));
}

QString ConfigToHex(const RTamselCFG &cfg)
{
    return QString::fromStdString(HexText(reinterpret_cast<const uint8_t *>(&cfg), sizeof cfg));
}

std::optional<RTamselCFG> RecordConfig(const QJsonObject &data, const char *key)
{
    const QJsonValue v = data.value(QLatin1String(key));
    if (!v.isString())
        return std::nullopt;
    const QString hex = v.toString();
    if (hex.size() != 2 * kCFGRecordSize)
        return std::nullopt;
    for (const QChar c : hex)
        if (!std::isxdigit(static_cast<unsigned char>(c.toLatin1())) || c.unicode() > 0x7F)
            return std::nullopt;
    const QByteArray bytes = QByteArray::fromHex(hex.toLatin1());
    RTamselCFG cfg;
    std::memcpy(&cfg, bytes.constData(), sizeof cfg);
    return cfg;
}

RServiceRecord RecordOfJob(const RJobRecord &job, const QDateTime &timeUtc, const QString &bench, const QString &user,
                           const std::vector<RSensorType> &types)
{
    RServiceRecord r;
    r.mUid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    r.mTime = RecordTime(job.mTime.isValid() ? job.mTime : timeUtc);
    r.mJob = Latin1(job.mJob);
    r.mStatus = job.mStatus;
    r.mOutcome = Latin1(job.mOutcome.empty() ? DeriveOutcome(job.mJob, job.mStatus) : job.mOutcome);
    r.mSimulated = job.mSimulated;
    r.mText = Latin1(job.mText);
    r.mBench = bench;
    r.mUser = user;
    r.mData = WellFormed(job.mData).toObject();
    if (job.mConfig) {
        const RTamselCFG &c = *job.mConfig;
        r.mSerial = FieldText(c.mUnit.mSerial, sizeof c.mUnit.mSerial);
        r.mFirmware = Latin1(FWVersionToStr(c.mUnit.mFWVersion));
        r.mHardware = Latin1(HWVersionToStr(c.mUnit.mHWVersion));
        r.mSensor = SensorName(c.mSensor.mSensorType, types);
        if (!r.mData.contains(QLatin1String(journal_data::kConfig)))
            r.mData.insert(QLatin1String(journal_data::kConfig), ConfigToHex(c));
    }
    if (job.mIdentity) { // what the detector says of itself wins over its record
        const RTamselIdenty &id = *job.mIdentity;
        r.mSerial = FieldText(id.mSerial, sizeof id.mSerial);
        r.mProduct = Latin1(GetProductName(id.mPID));
        r.mFirmware = Latin1(FWVersionToStr(id.mSW));
        r.mHardware = Latin1(HWVersionToStr(id.mHW));
        if (r.mSensor.isEmpty())
            r.mSensor = SensorName(id.mSensor, types);
    }
    return r;
}

namespace {

// The one rule of what counts for the due list: a job and the outcomes of it
// that count, and whether the record must name its detector.
struct RCountRule {
    ERecordKind mKind;
    const char *mJob;
    const char *mOutcome;
    bool mNamedSerial;
};
const RCountRule kCountRules[] = {
    {ERecordKind::kCalibration, kJobSensorCal, outcome::kPass, false},
    {ERecordKind::kCalibration, kJobSensorCal, outcome::kSuccess, false},
    {ERecordKind::kBump, kJobBumpTest, outcome::kPass, false},
    {ERecordKind::kBump, kJobBumpPass, outcome::kDeclared, true},
};

} // namespace

ERecordKind RecordKind(const QString &job, const QString &outcome, const QString &serial)
{
    for (const RCountRule &rule : kCountRules)
        if (job == QLatin1String(rule.mJob) && outcome == QLatin1String(rule.mOutcome) &&
            (!rule.mNamedSerial || !serial.isEmpty()))
            return rule.mKind;
    return ERecordKind::kOther;
}

QString CountedSql(ERecordKind kind, const QString &prefix)
{
    QStringList any;
    for (const RCountRule &rule : kCountRules)
        if (rule.mKind == kind)
            any << QStringLiteral("(%1job = '%2' AND %1outcome = '%3'%4)")
                       .arg(prefix, QLatin1String(rule.mJob), QLatin1String(rule.mOutcome),
                            rule.mNamedSerial ? QStringLiteral(" AND %1serial <> ''").arg(prefix) : QString());
    return any.isEmpty() ? QStringLiteral("(1 = 0)") : QStringLiteral("(") + any.join(QStringLiteral(" OR ")) + ")";
}

bool LegacyKind(const RServiceRecord &r, const QString &storedKind)
{
    if (storedKind == KindName(ERecordKind::kCalibration))
        return (r.mJob == QLatin1String(kJobCalibration) && r.mStatus == 0) ||
               (r.mJob == QLatin1String(kJobSensorCal) &&
                r.mData.value(QLatin1String(journal_data::kResult)).toString() == QLatin1String("OK"));
    if (storedKind == KindName(ERecordKind::kBump))
        return r.mJob == QLatin1String(kJobBumpPass) && r.mStatus == 0;
    return false;
}

QString KindName(ERecordKind kind)
{
    switch (kind) {
    case ERecordKind::kCalibration: return QStringLiteral("calibration");
    case ERecordKind::kBump: return QStringLiteral("bump");
    case ERecordKind::kOther: break;
    }
    return QStringLiteral("other");
}

QString CsvHeader() { return RecordFieldNames().join(QLatin1Char(',')); }

QString CsvLine(const RServiceRecord &r)
{
    // Texts that come from the detector or a person are defused; the
    // program's own (times, numbers, hashes, job names) never start so.
    const auto text = [](const QString &s) {
        static const QString kFormula = QStringLiteral("=+-@\t\r");
        return !s.isEmpty() && kFormula.contains(s.front()) ? QLatin1Char('\'') + s : s;
    };
    QStringList out;
    for (const RRecordField &f : kRecordFields) {
        const QString value = std::visit(
            [&](auto member) -> QString {
                using T = std::remove_cvref_t<decltype(r.*member)>;
                if constexpr (std::is_same_v<T, QString>)
                    return f.mOutside ? text(r.*member) : r.*member;
                else if constexpr (std::is_same_v<T, bool>)
                    return r.*member ? QStringLiteral("true") : QStringLiteral("false");
                else if constexpr (std::is_same_v<T, QJsonObject>)
                    return DataText(r.*member);
                else
                    return QString::number(r.*member);
            },
            f.mPlace);
        out.push_back(CsvField(value));
    }
    return out.join(QLatin1Char(','));
}

bool WriteRecordsCsv(const std::vector<RServiceRecord> &records, const std::string &path, std::string *error)
{
    QByteArray text = CsvHeader().toUtf8() + "\r\n";
    for (const RServiceRecord &r : records)
        text += CsvLine(r).toUtf8() + "\r\n";
    return WriteFileReplacing(path, text.constData(), static_cast<size_t>(text.size()), error);
}
