#include "app/config_template.h"

#include <algorithm>
#include <cmath>

#include <QJsonArray>
#include <QString>

namespace {

// The largest integer a JSON number carries exactly.
constexpr double kExactLimit = 9007199254740992.0; // 2^53

bool NumberFromJson(const QJsonValue &json, int64_t &n)
{
    if (!json.isDouble())
        return false;
    const double d = json.toDouble();
    if (!(std::fabs(d) <= kExactLimit) || d != std::floor(d))
        return false;
    n = static_cast<int64_t>(d);
    return true;
}

} // namespace

std::vector<RTemplateField> TemplateFieldsOf(const RTamselCFG &cfg, const std::vector<const RConfigField *> &fields)
{
    std::vector<RTemplateField> out;
    for (const RConfigField *f : fields)
        out.push_back({f, GetFieldValue(cfg, *f)});
    return out;
}

bool ApplyTemplate(RTamselCFG &cfg, const RConfigTemplate &tpl, std::string &error)
{
    for (const RTemplateField &f : tpl.mFields)
        if (!f.mField || !SetFieldValue(cfg, *f.mField, f.mValue, error))
            return false;
    return true;
}

std::vector<const RConfigField *> FieldsOutside(const RConfigTemplate &tpl, const std::vector<RCFGWriteRange> &ranges)
{
    std::vector<const RConfigField *> outside;
    for (const RTemplateField &f : tpl.mFields)
        if (!FieldWithin(*f.mField, ranges))
            outside.push_back(f.mField);
    return outside;
}

bool SetsSensorLevels(const RConfigTemplate &tpl)
{
    return std::any_of(tpl.mFields.begin(), tpl.mFields.end(),
                       [](const RTemplateField &f) { return f.mField->mShow == EFieldShow::kTenths; });
}

QJsonValue FieldValueToJson(const RConfigField &field, const RFieldValue &value)
{
    if (field.mText)
        return QString::fromLatin1(value.mText.data(), static_cast<qsizetype>(value.mText.size()));
    if (!field.IsArray())
        return value.mNumbers.empty() ? QJsonValue() : QJsonValue(static_cast<qint64>(value.mNumbers.front()));
    QJsonArray numbers;
    for (const int64_t n : value.mNumbers)
        numbers.append(static_cast<qint64>(n));
    return numbers;
}

bool FieldValueFromJson(const RConfigField &field, const QJsonValue &json, RFieldValue &value, std::string &error)
{
    const std::string name = field.mName;
    value = {};
    if (field.mText) {
        if (!json.isString()) {
            error = name + " holds characters: give them as text";
            return false;
        }
        const QString text = json.toString();
        for (const QChar c : text)
            if (c.unicode() > 0xFF) {
                error = name + ": the character U+" + QString::number(c.unicode(), 16).toUpper().toStdString() +
                        " is not one byte";
                return false;
            }
        value.mText = text.toLatin1().toStdString();
    } else if (field.IsArray()) {
        if (!json.isArray()) {
            error = name + " holds " + std::to_string(field.Count()) + " numbers: give them as an array";
            return false;
        }
        for (const QJsonValue &item : json.toArray()) {
            int64_t n = 0;
            if (!NumberFromJson(item, n)) {
                error = name + " holds whole numbers only";
                return false;
            }
            value.mNumbers.push_back(n);
        }
    } else {
        int64_t n = 0;
        if (!NumberFromJson(json, n)) {
            error = name + " holds one whole number";
            return false;
        }
        value.mNumbers.push_back(n);
    }
    // The field's own rules: length, count, range.
    RTamselCFG scratch{};
    return SetFieldValue(scratch, field, value, error);
}

QJsonObject TemplateFieldsToJson(const std::vector<RTemplateField> &fields)
{
    QJsonObject object;
    for (const RTemplateField &f : fields)
        object.insert(QString::fromLatin1(f.mField->mName), FieldValueToJson(*f.mField, f.mValue));
    return object;
}

bool TemplateFieldsFromJson(const QJsonObject &object, std::vector<RTemplateField> &fields, std::string &error)
{
    fields.clear();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const std::string name = it.key().toStdString();
        const RConfigField *field = FindConfigField(name);
        if (!field) {
            error = "no field is named " + name;
            fields.clear();
            return false;
        }
        if (std::any_of(fields.begin(), fields.end(), [&](const RTemplateField &f) { return f.mField == field; })) {
            error = "the field " + std::string(field->mName) + " is named twice";
            fields.clear();
            return false;
        }
        RTemplateField f{field, {}};
        if (!FieldValueFromJson(*field, it.value(), f.mValue, error)) {
            fields.clear();
            return false;
        }
        fields.push_back(std::move(f));
    }
    std::sort(fields.begin(), fields.end(),
              [](const RTemplateField &a, const RTemplateField &b) { return a.mField->mOffset < b.mField->mOffset; });
    return true;
}
