#pragma once
// JSON views of the configuration record and of the loaded settings, with
// the record's own field names: character fields as text (up to the first
// zero byte), numbers as numbers, arrays as arrays.
#include <string>
#include <vector>

#include <QJsonObject>

#include "model/config_record.h"
#include "model/settings_types.h"

class TSession;

// {"mUnit": {"mUnitFlag": 1, "mUserID": "      ", ...}, "mSensor": {...}}
QJsonObject ConfigToJsonObject(const RTamselCFG &cfg);
// The same as indented JSON text in record order (UTF-8, ends with a line break).
std::string ConfigToJson(const RTamselCFG &cfg);

// The session's settings (DeviceCFG, SensorTypes, UserMode) as indented JSON
// text: {"DeviceCFG": {...}, "SensorTypes": [{...}, ...], "UserMode": true}.
std::string SettingsToJson(const TSession &session);
