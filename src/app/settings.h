#pragma once
// Loading the process-wide settings (DeviceCFG, SensorTypes, UserMode) from
// the settings file OPTAVO.INI and the per-user store. Read once at start-up;
// the settings file is never written.
#include <string>

#include "model/settings_types.h"

class TProfile;
class TUserStore;

// The value of "Environment"/"ModeEntry" that selects the developer layout.
inline constexpr const char *kAccessCode = "QWZ_ENG__";
inline constexpr const char *kSettingsFileName = "OPTAVO.INI";

// AppDir + "OPTAVO.INI", or the entry of AppDir with that name in any letter case.
std::string SettingsFilePath();

// Caption of the warning about a settings file that was not read.
inline constexpr const char *kSettingsNotReadCaption = "Settings File";

// LoadSettings on SettingsFilePath() and the process-wide UserStore().
// Returns empty text when the file was read or is missing (a missing file
// behaves as an empty one). A file that is there but cannot be used (not a
// regular file, unreadable, larger than TProfile::kMaxFileSize) is not read
// either and behaves as a missing one; the returned text then says so, for a
// warning captioned kSettingsNotReadCaption ("\r" = line break).
std::string LoadSettings();
// The same on the given settings file.
std::string LoadSettings(const std::string &iniPath);
// The same on a parsed settings file and a given store.
void LoadSettings(const TProfile &ini, TUserStore &store);

// One line of section "SENSOR": key = gas name, value = "code, unit, mSpec,
// calibration time, min, max"; the range is repaired as RepairSensorRange does.
RSensorType ParseSensorLine(const std::string &key, const std::string &value);
// Unless mMin < mMax - 0.1: mMin 0 and mMax 300 for code 2, 30 for code 4,
// 100 for any other code.
void RepairSensorRange(RSensorType &sensor);
