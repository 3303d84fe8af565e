#pragma once
// Loading a session's settings (DeviceCFG, SensorTypes, UserMode) from the
// settings file OPTAVO.INI and the session's per-user store. Read once at
// start-up; the settings file is never written.
#include <string>

#include "model/settings_types.h"

class TProfile;
class TSession;

// The value of "Environment"/"ModeEntry" that selects the developer layout.
inline constexpr const char *kAccessCode = "QWZ_ENG__";
inline constexpr const char *kSettingsFileName = "OPTAVO.INI";

// appDir + "OPTAVO.INI", or the entry of appDir with that name in any letter case.
std::string SettingsFilePath(const std::string &appDir);

// Caption of the warning about a settings file that was not read.
inline constexpr const char *kSettingsNotReadCaption = "Settings File";

// LoadSettings on SettingsFilePath(session.AppDir).
// Returns empty text when the file was read or is missing (a missing file
// behaves as an empty one). A file that is there but cannot be used (not a
// regular file, unreadable, larger than TProfile::kMaxFileSize) is not read
// either and behaves as a missing one; the returned text then says so, for a
// warning captioned kSettingsNotReadCaption ("\r" = line break).
std::string LoadSettings(TSession &session);
// The same on the given settings file.
std::string LoadSettings(TSession &session, const std::string &iniPath);
// The same on a parsed settings file: the session's settings from it, the
// remembered folders and image from the session's per-user store.
void LoadSettings(TSession &session, const TProfile &ini);

// Section "RECORDS": CalTolerance (percent, above 0 and at most 50, else
// 10), Organisation, Address, OrgKey.
inline constexpr const char *kSectionRecords = "RECORDS";
RRecordsCFG ReadRecordsSection(const TProfile &ini);

// One line of section "SENSOR": key = gas name, value = "code, unit, mSpec,
// calibration time, min, max"; the range is repaired as RepairSensorRange does.
RSensorType ParseSensorLine(const std::string &key, const std::string &value);
// Unless mMin < mMax - 0.1: mMin 0 and mMax 300 for code 2, 30 for code 4,
// 100 for any other code.
void RepairSensorRange(RSensorType &sensor);
