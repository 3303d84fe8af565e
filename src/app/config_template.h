#pragma once
// A template: configuration fields with the values a service centre pushes to
// every unit (by the record's field names), and what a service record keeps
// to name it: name, version and the hash of its canonical form. The records
// room stores templates and makes their hash; this is what a job needs of one.
#include <cstdint>
#include <string>
#include <vector>

#include <QJsonObject>
#include <QJsonValue>

#include "model/config_diff.h"

struct RTemplateField {
    const RConfigField *mField = nullptr;
    RFieldValue mValue;
};

struct RConfigTemplate {
    std::string mName;
    int mVersion = 0;
    std::string mHash;   // lowercase hex SHA-256 of its canonical form
    uint8_t mSensor = 0; // the sensor type of the configuration it was taken from; 0: not known
    std::vector<RTemplateField> mFields; // in record order, each field once
};

// The fields' values as the record holds them.
std::vector<RTemplateField> TemplateFieldsOf(const RTamselCFG &cfg, const std::vector<const RConfigField *> &fields);
// Sets the template's fields in the record. False, with the reason, when a
// value does not fit its field (the record may then be half set).
bool ApplyTemplate(RTamselCFG &cfg, const RConfigTemplate &tpl, std::string &error);
// The template's fields of which a byte lies outside every one of the ranges.
std::vector<const RConfigField *> FieldsOutside(const RConfigTemplate &tpl, const std::vector<RCFGWriteRange> &ranges);
// Whether the template sets a level in tenths of its sensor's unit (alarms,
// dead zone, span gas, sensor range): such a value means another thing on a
// detector with another sensor, so it goes only to units of the template's own.
bool SetsSensorLevels(const RConfigTemplate &tpl);

// A value as JSON: a number, an array of numbers, or the characters as text
// (one byte a character, Latin-1).
QJsonValue FieldValueToJson(const RConfigField &field, const RFieldValue &value);
// The reverse, checked against the field (SetFieldValue's rules); false with the reason.
bool FieldValueFromJson(const RConfigField &field, const QJsonValue &json, RFieldValue &value, std::string &error);
// {"mAlarmHigh": 200, "mUserID": "ACME01", ...}
QJsonObject TemplateFieldsToJson(const std::vector<RTemplateField> &fields);
// The reverse, in record order; false, naming the field at fault, on an
// unknown name or a value that does not fit.
bool TemplateFieldsFromJson(const QJsonObject &object, std::vector<RTemplateField> &fields, std::string &error);
