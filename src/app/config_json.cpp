#include "app/config_json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QString>

#include <cstring>
#include <type_traits>

#include "app/session.h"

namespace {

// A JSON value whose objects keep their fields in the order they were added,
// so the text lists the fields in record order (QJsonObject sorts its keys).
struct JNode {
    enum class Kind { Leaf, Object, List } kind = Kind::Leaf;
    QJsonValue leaf;
    std::vector<QString> keys;   // Object: field names, in order
    std::vector<JNode> children; // Object: field values; List: items

    static JNode Object() { JNode n; n.kind = Kind::Object; return n; }
    static JNode List() { JNode n; n.kind = Kind::List; return n; }
    JNode &Add(const char *key, JNode value)
    {
        keys.emplace_back(QString::fromLatin1(key));
        children.push_back(std::move(value));
        return *this;
    }
    JNode &Add(const char *key, const QJsonValue &value)
    {
        JNode n;
        n.leaf = value;
        return Add(key, std::move(n));
    }
    void Append(JNode item) { children.push_back(std::move(item)); }

    QJsonValue ToValue() const
    {
        switch (kind) {
        case Kind::Leaf: return leaf;
        case Kind::Object: {
            QJsonObject o;
            for (size_t i = 0; i < keys.size(); ++i)
                o.insert(keys[i], children[i].ToValue());
            return o;
        }
        case Kind::List: {
            QJsonArray a;
            for (const JNode &c : children)
                a.append(c.ToValue());
            return a;
        }
        }
        return {};
    }

    // One value in QJsonDocument's compact encoding (escaping, number format).
    static std::string Compact(const QJsonValue &v)
    {
        const std::string text = QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact).toStdString();
        return text.substr(1, text.size() - 2); // without the enclosing [ ]
    }

    void Write(std::string &out, int depth) const
    {
        const std::string pad(static_cast<size_t>(depth + 1) * 4, ' ');
        const std::string end(static_cast<size_t>(depth) * 4, ' ');
        if (kind == Kind::Leaf) {
            out += Compact(leaf);
            return;
        }
        const bool object = kind == Kind::Object;
        if (children.empty()) {
            out += object ? "{}" : "[]";
            return;
        }
        out += object ? "{\n" : "[\n";
        for (size_t i = 0; i < children.size(); ++i) {
            out += pad;
            if (object)
                out += Compact(keys[i]) + ": ";
            children[i].Write(out, depth + 1);
            out += i + 1 < children.size() ? ",\n" : "\n";
        }
        out += end + (object ? "}" : "]");
    }
};

// Bytes up to the first zero byte, one character per byte.
QJsonValue FieldText(const char *field, size_t size)
{
    const std::string text = CharFieldToStr(field, size);
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QJsonValue Text(const std::string &s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

template <typename T> QJsonValue Num(T v) { return static_cast<qint64>(v); }

// Arrays of numbers stay on one line. The record's arrays sit at any byte
// offset (the record is packed), so each element is copied out byte-wise.
template <typename T> QJsonValue ArrayOf(const void *first, size_t count)
{
    QJsonArray a;
    for (size_t i = 0; i < count; ++i) {
        T v;
        std::memcpy(&v, static_cast<const char *>(first) + i * sizeof v, sizeof v);
        a.append(static_cast<qint64>(v));
    }
    return a;
}
#define JSON_ARRAY(field) ArrayOf<std::remove_extent_t<decltype(field)>>(&(field), std::extent_v<decltype(field)>)

// A float as the short decimal it was read from (0.1f -> 0.1, not 0.100000001).
double Short(float v) { return QString::number(static_cast<double>(v), 'g', 7).toDouble(); }

JNode ConfigNode(const RTamselCFG &cfg)
{
    const RTamselUnitCFG &u = cfg.mUnit;
    const RTamselSensorCFG &s = cfg.mSensor;
    JNode unit = JNode::Object();
    unit.Add("mUnitFlag", Num(u.mUnitFlag))
        .Add("mUserID", FieldText(u.mUserID, sizeof u.mUserID))
        .Add("mTestInterval", Num(u.mTestInterval))
        .Add("mDummy1", JSON_ARRAY(u.mDummy1))
        .Add("mAllowSuspend", Num(u.mAllowSuspend))
        .Add("mSerial", FieldText(u.mSerial, sizeof u.mSerial))
        .Add("mBatLimit", JSON_ARRAY(u.mBatLimit))
        .Add("mBatLimitStartUp", Num(u.mBatLimitStartUp))
        .Add("mBatLimitCritical", Num(u.mBatLimitCritical))
        .Add("mHWVersion", Num(u.mHWVersion))
        .Add("mFWVersion", Num(u.mFWVersion))
        .Add("mLifeRemaining", Num(u.mLifeRemaining))
        .Add("mAlarmTime", Num(u.mAlarmTime))
        .Add("mTestTime", Num(u.mTestTime))
        .Add("mAlarmCount", Num(u.mAlarmCount))
        .Add("mTestCount", Num(u.mTestCount))
        .Add("mPEventLog", Num(u.mPEventLog))
        .Add("mDummy2", JSON_ARRAY(u.mDummy2))
        .Add("mCRC", Num(u.mCRC));

    JNode sensor = JNode::Object();
    sensor.Add("mAlarmHigh", Num(s.mAlarmHigh))
        .Add("mAlarmLow", Num(s.mAlarmLow))
        .Add("mCalInterval", Num(s.mCalInterval))
        .Add("mBumpInterval", Num(s.mBumpInterval))
        .Add("mDummy1", JSON_ARRAY(s.mDummy1))
        .Add("mSensorType", Num(s.mSensorType))
        .Add("mDeadZone", Num(s.mDeadZone))
        .Add("mSpanGas", Num(s.mSpanGas))
        .Add("mSensorMax", Num(s.mSensorMax))
        .Add("mSensorBase", Num(s.mSensorBase))
        .Add("mTempCompSpan", JSON_ARRAY(s.mTempCompSpan))
        .Add("mZero", Num(s.mZero))
        .Add("mSpan", Num(s.mSpan))
        .Add("mTau", Num(s.mTau))
        .Add("mLastCal", Num(s.mLastCal))
        .Add("mPeakTimer", Num(s.mPeakTimer))
        .Add("mMinSpan", Num(s.mMinSpan))
        .Add("mLastBump", Num(s.mLastBump))
        .Add("mCRC", Num(s.mCRC));

    JNode root = JNode::Object();
    root.Add("mUnit", std::move(unit)).Add("mSensor", std::move(sensor));
    return root;
}

JNode SettingsNode(const RDeviceCFG &c, const std::vector<RSensorType> &types, bool bUserMode)
{
    JNode d = JNode::Object();
    d.Add("mConnectTime", Num(c.mConnectTime))
        .Add("mAVOperate", Num(c.mAVOperate))
        .Add("mUnitPacketSize", Num(c.mUnitPacketSize))
        .Add("mUnitDataSize", Num(c.mUnitDataSize))
        .Add("mUnitSensorDataSize", Num(c.mUnitSensorDataSize))
        .Add("mUnitWriteUserStart", Num(c.mUnitWriteUserStart))
        .Add("mUnitWriteUserSize", Num(c.mUnitWriteUserSize))
        .Add("mUnitWriteFactoryStart", Num(c.mUnitWriteFactoryStart))
        .Add("mUnitWriteFactorySize", Num(c.mUnitWriteFactorySize))
        .Add("mSensorWriteUserStart", Num(c.mSensorWriteUserStart))
        .Add("mSensorWriteUserSize", Num(c.mSensorWriteUserSize))
        .Add("mSensorWriteFactoryStart", Num(c.mSensorWriteFactoryStart))
        .Add("mSensorWriteFactorySize", Num(c.mSensorWriteFactorySize))
        .Add("mEEPROMSaveDir", Text(c.mEEPROMSaveDir))
        .Add("mEEPROMPacketSize", Num(c.mEEPROMPacketSize))
        .Add("mEEPROMMaxAddress", Num(c.mEEPROMMaxAddress))
        .Add("mEEPROMReadAddress", Num(c.mEEPROMReadAddress))
        .Add("mEVENTReadPacketSize", Num(c.mEVENTReadPacketSize))
        .Add("mEVENTPacketSize", Num(c.mEVENTPacketSize))
        .Add("mEVENTSaveDir", Text(c.mEVENTSaveDir))
        .Add("mConfSaveDir", Text(c.mConfSaveDir))
        .Add("mFLASHFile", Text(c.mFLASHFile))
        .Add("mFLASHSaveDir", Text(c.mFLASHSaveDir))
        .Add("mFLASHMaxAddress", Num(c.mFLASHMaxAddress))
        .Add("mFALSHPacketSize", Num(c.mFALSHPacketSize))
        .Add("mFLASHDownloadRetry", Num(c.mFLASHDownloadRetry))
        .Add("mFLASHRetry", Num(c.mFLASHRetry))
        .Add("mLogSaveDir", Text(c.mLogSaveDir))
        .Add("mLogInterval", Num(c.mLogInterval))
        .Add("mLogDisplayTime", Num(c.mLogDisplayTime))
        .Add("mLogConnectTime", Num(c.mLogConnectTime))
        .Add("mCalTime", Num(c.mCalTime))
        .Add("mCalCheckTime", Num(c.mCalCheckTime))
        .Add("mLogEnable", c.mLogEnable);

    JNode list = JNode::List();
    for (const RSensorType &t : types) {
        JNode o = JNode::Object();
        o.Add("mName", Text(t.mName))
            .Add("mIndex", Num(t.mIndex))
            .Add("mUnit", Text(t.mUnit))
            .Add("mSpec", Text(t.mSpec))
            .Add("mCalTime", Num(t.mCalTime))
            .Add("mMin", Short(t.mMin))
            .Add("mMax", Short(t.mMax));
        list.Append(std::move(o));
    }

    JNode root = JNode::Object();
    root.Add("DeviceCFG", std::move(d)).Add("SensorTypes", std::move(list)).Add("UserMode", bUserMode);
    return root;
}

std::string ToText(const JNode &node)
{
    std::string out;
    node.Write(out, 0);
    return out + "\n";
}

} // namespace

QJsonObject ConfigToJsonObject(const RTamselCFG &cfg) { return ConfigNode(cfg).ToValue().toObject(); }

std::string ConfigToJson(const RTamselCFG &cfg) { return ToText(ConfigNode(cfg)); }

std::string SettingsToJson(const TSession &session)
{
    return ToText(SettingsNode(session.DeviceCFG, session.SensorTypes, session.UserMode));
}
