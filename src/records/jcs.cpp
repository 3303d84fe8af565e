#include "records/jcs.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <vector>

#include <QJsonArray>
#include <QJsonObject>

namespace {

// Integers that a double holds exactly are written as digits.
constexpr qint64 kExactInteger = qint64{1} << 53;

// A surrogate that is not half of a pair has no UTF-8 form: the scheme
// refuses such a string rather than write something else in its place.
bool WellFormed(const QString &s, QString *error)
{
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c.isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate()) {
            ++i;
        } else if (c.isSurrogate()) {
            if (error)
                *error = QStringLiteral("a text holds a lone surrogate (U+%1 at character %2): it has no canonical "
                                        "JSON form")
                             .arg(QString::number(c.unicode(), 16).toUpper())
                             .arg(i + 1);
            return false;
        }
    }
    return true;
}

bool String(const QString &s, QByteArray &out, QString *error)
{
    static const char kHex[] = "0123456789abcdef";
    if (!WellFormed(s, error))
        return false;
    out += '"';
    const QByteArray utf8 = s.toUtf8();
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        switch (u) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\f': out += "\\f"; break;
        case '\r': out += "\\r"; break;
        default:
            if (u < 0x20) {
                out += "\\u00";
                out += kHex[u >> 4];
                out += kHex[u & 0x0F];
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return true;
}

bool LessUtf16(const QString &a, const QString &b)
{
    const ushort *pa = a.utf16(), *pb = b.utf16();
    return std::lexicographical_compare(pa, pa + a.size(), pb, pb + b.size());
}

bool Serialize(const QJsonValue &v, QByteArray &out, QString *error)
{
    switch (v.type()) {
    case QJsonValue::Null:
    case QJsonValue::Undefined: out += "null"; return true;
    case QJsonValue::Bool: out += v.toBool() ? "true" : "false"; return true;
    case QJsonValue::String: return String(v.toString(), out, error);
    case QJsonValue::Double: {
        const double d = v.toDouble();
        if (!std::isfinite(d)) {
            if (error)
                *error = QStringLiteral("a number that is not finite has no canonical JSON form");
            return false;
        }
        const qint64 i = v.toInteger(kExactInteger + 1);
        if (i != kExactInteger + 1 && i > -kExactInteger && i < kExactInteger) {
            out += QByteArray::number(i);
            return true;
        }
        out += JcsNumber(d);
        return true;
    }
    case QJsonValue::Array: {
        out += '[';
        const QJsonArray a = v.toArray();
        for (qsizetype i = 0; i < a.size(); ++i) {
            if (i > 0)
                out += ',';
            if (!Serialize(a.at(i), out, error))
                return false;
        }
        out += ']';
        return true;
    }
    case QJsonValue::Object: {
        const QJsonObject o = v.toObject();
        QStringList keys = o.keys();
        std::sort(keys.begin(), keys.end(), LessUtf16);
        out += '{';
        bool first = true;
        for (const QString &k : keys) {
            if (!first)
                out += ',';
            first = false;
            if (!String(k, out, error))
                return false;
            out += ':';
            if (!Serialize(o.value(k), out, error))
                return false;
        }
        out += '}';
        return true;
    }
    }
    return false;
}

} // namespace

QByteArray JcsNumber(double value)
{
    if (value == 0 || !std::isfinite(value))
        return "0";
    // The shortest digits that read back as the same double, and the
    // decimal exponent: value = 0.d1d2...dk * 10^n.
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific);
    const std::string sci(buf, res.ptr);
    const size_t e = sci.find('e');
    std::string digits;
    for (size_t i = 0; i < e; ++i)
        if (sci[i] != '.')
            digits += sci[i];
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    const int k = static_cast<int>(digits.size());
    const int n = std::atoi(sci.c_str() + e + 1) + 1;
    std::string out = value < 0 ? "-" : "";
    if (k <= n && n <= 21) {
        out += digits + std::string(static_cast<size_t>(n - k), '0');
    } else if (0 < n && n <= 21) {
        out += digits.substr(0, static_cast<size_t>(n)) + "." + digits.substr(static_cast<size_t>(n));
    } else if (-6 < n && n <= 0) {
        out += "0." + std::string(static_cast<size_t>(-n), '0') + digits;
    } else {
        out += digits.substr(0, 1);
        if (k > 1)
            out += "." + digits.substr(1);
        out += (n - 1 >= 0 ? "e+" : "e-") + std::to_string(std::abs(n - 1));
    }
    return QByteArray::fromStdString(out);
}

bool JcsSerialize(const QJsonValue &value, QByteArray &out, QString *error)
{
    out.clear();
    return Serialize(value, out, error);
}

QByteArray Jcs(const QJsonValue &value)
{
    QByteArray out;
    return JcsSerialize(value, out) ? out : QByteArray();
}
