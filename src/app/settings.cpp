#include "app/settings.h"

#include <cfloat>
#include <cmath>
#include <filesystem>
#include <vector>

#include "app/profile.h"
#include "app/session.h"
#include "app/user_store.h"
#include "model/convert.h"

namespace {

float ToSingle(double value)
{
    if (value > FLT_MAX)
        return FLT_MAX;
    if (value < -FLT_MAX)
        return -FLT_MAX;
    return static_cast<float>(value);
}

// Values of the user layout, where the settings file is not consulted.
void AssignUserLayoutValues(RDeviceCFG &cfg)
{
    cfg.mConnectTime = 3000;
    cfg.mAVOperate = 1000;
    cfg.mUnitPacketSize = 32;
    cfg.mUnitDataSize = 64;
    cfg.mUnitSensorDataSize = 64;
    cfg.mUnitWriteUserStart = 1;
    cfg.mUnitWriteUserSize = 8;
    cfg.mUnitWriteFactoryStart = 17;
    cfg.mUnitWriteFactorySize = 0;
    cfg.mSensorWriteUserStart = 65;
    cfg.mSensorWriteUserSize = 10;
    cfg.mSensorWriteFactoryStart = 86;
    cfg.mSensorWriteFactorySize = 0;
    cfg.mEEPROMPacketSize = 32;
    cfg.mEEPROMMaxAddress = 1024;
    cfg.mEEPROMReadAddress = 0;
    cfg.mFALSHPacketSize = 128;
    cfg.mFLASHMaxAddress = 128;
    cfg.mFLASHDownloadRetry = 3;
    cfg.mFLASHRetry = 3;
    cfg.mEVENTReadPacketSize = 32;
    cfg.mEVENTPacketSize = 9;
    cfg.mLogInterval = 1;
    cfg.mLogDisplayTime = 120;
    cfg.mLogConnectTime = 800;
    cfg.mCalTime = 180;
    cfg.mCalCheckTime = 5;
}

// The developer layout reads every value from the file, in this order: the
// EEPROM read address is bounded by the size read before it, the chart width
// by the logging interval read before it.
void ReadNumericKeys(const TProfile &ini, RDeviceCFG &cfg)
{
    auto word = [&ini](const char *section, const char *key, const char *def, uint16_t lo, uint16_t hi) {
        return StrToWordRange(ini.ReadString(section, key, def), lo, hi);
    };
    cfg.mConnectTime = word("Environment", "ConnectTime", "3000", 500, 60000);
    cfg.mAVOperate = word("Environment", "AVOperate", "1000", 100, 5000);
    cfg.mUnitPacketSize = word("UNIT", "PacketSize", "32", 1, 128);
    cfg.mUnitDataSize = word("UNIT", "UnitDataSize", "64", 1, 256);
    cfg.mUnitSensorDataSize = word("UNIT", "SensorDataSize", "64", 1, 256);
    cfg.mUnitWriteUserStart = word(kSectionUnit, kKeyUnitWriteUserStart, "1", 1, 256);
    cfg.mUnitWriteUserSize = word(kSectionUnit, kKeyUnitWriteUserSize, "0", 0, 128);
    cfg.mUnitWriteFactoryStart = word(kSectionUnit, kKeyUnitWriteFactoryStart, "17", 1, 256);
    cfg.mUnitWriteFactorySize = word(kSectionUnit, kKeyUnitWriteFactorySize, "0", 0, 128);
    cfg.mSensorWriteUserStart = word(kSectionUnit, kKeySensorWriteUserStart, "65", 1, 256);
    cfg.mSensorWriteUserSize = word(kSectionUnit, kKeySensorWriteUserSize, "10", 0, 128);
    cfg.mSensorWriteFactoryStart = word(kSectionUnit, kKeySensorWriteFactoryStart, "86", 1, 256);
    cfg.mSensorWriteFactorySize = word(kSectionUnit, kKeySensorWriteFactorySize, "0", 0, 128);
    cfg.mEEPROMPacketSize = word("EEPROM", "PacketSize", "32", 1, 128);
    cfg.mEEPROMMaxAddress = word("EEPROM", "MaxAddress", "1024", 1, 32768);
    cfg.mEEPROMReadAddress = word("EEPROM", "ReadStartAddress", "0", 0, cfg.mEEPROMMaxAddress);
    cfg.mFALSHPacketSize = word("FLASH", "PacketSize", "128", 1, 256);
    cfg.mFLASHMaxAddress = word("FLASH", "MaxAddress", "128", 1, 256);
    cfg.mFLASHDownloadRetry = word("FLASH", "DownloadRetry", "0", 1, 5);
    cfg.mFLASHRetry = static_cast<uint8_t>(word("FLASH", "Retry", "3", 1, 10));
    cfg.mEVENTReadPacketSize = word("EVENT", "ReadPacketSize", "32", 1, 128);
    cfg.mEVENTPacketSize = word("EVENT", "PacketSize", "9", 1, 128);
    cfg.mLogInterval = word("Logging", "Interval", "1", 1, 600);
    cfg.mLogDisplayTime = word("Logging", "DisplayTime", "120", static_cast<uint16_t>(100u * cfg.mLogInterval), 60000);
    cfg.mLogConnectTime = word("Logging", "ConnectTime", "1000", 500, 1500);
    cfg.mCalTime = word("Calibration", "CalibrationTime", "180", 30, 300);
    cfg.mCalCheckTime = word("Calibration", "CalibrationCheckTime", "5", 1, 30);
}

// The directory part of a path including its final separator; empty without one.
std::string DirectoryOf(const std::string &path)
{
#ifdef _WIN32
    const size_t slash = path.find_last_of("/\\"); // either separator ends a folder
#else
    const size_t slash = path.find_last_of('/');
#endif
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool FileExists(const std::string &path)
{
    std::error_code ec;
    return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

} // namespace

RRecordsCFG ReadRecordsSection(const TProfile &ini)
{
    RRecordsCFG records;
    // Percent with at most one decimal, above 0 and at most 50; anything else keeps 10.
    const std::string tolerance = TrimText(ini.ReadString(kSectionRecords, "CalTolerance", ""));
    const double percent = tolerance.empty() ? 0 : TextToDouble(tolerance);
    if (percent > 0 && percent <= 50)
        records.mCalTolerance = static_cast<int>(std::lround(percent * 10));
    records.mOrganisation = TrimText(ini.ReadString(kSectionRecords, "Organisation", ""));
    records.mAddress = TrimText(ini.ReadString(kSectionRecords, "Address", ""));
    records.mOrgKey = TrimText(ini.ReadString(kSectionRecords, "OrgKey", ""));
    records.mBench = TrimText(ini.ReadString(kSectionRecords, "Bench", ""));
    return records;
}

void RepairSensorRange(RSensorType &sensor)
{
    // Written so that a range that cannot be compared counts as unusable too.
    if (static_cast<double>(sensor.mMin) < static_cast<double>(sensor.mMax) - 0.1)
        return;
    sensor.mMin = 0.0f;
    switch (sensor.mIndex) {
    case 2: sensor.mMax = 300.0f; break;
    case 4: sensor.mMax = 30.0f; break;
    default: sensor.mMax = 100.0f; break;
    }
}

RSensorType ParseSensorLine(const std::string &key, const std::string &value)
{
    // The line as the profile routines give it, split again at the first "=".
    const std::vector<std::string> line = SplitText(key + "=" + value, "=", 2);
    const std::vector<std::string> field = SplitText(line[1], ",", 6);
    RSensorType s;
    s.mName = line[0];
    s.mIndex = static_cast<uint8_t>(TextToInt32(field[0]));
    s.mUnit = field[1];
    s.mSpec = FitText(true, 2, 'S', field[2]);
    s.mCalTime = static_cast<uint16_t>(TextToInt32(field[3]));
    s.mMin = ToSingle(TextToDouble(field[4]));
    s.mMax = ToSingle(TextToDouble(field[5]));
    RepairSensorRange(s);
    return s;
}

void LoadSettings(TSession &session, const TProfile &ini)
{
    TUserStore &store = session.Store();
    RDeviceCFG &cfg = session.DeviceCFG;
    session.UserMode = ini.ReadString("Environment", "ModeEntry", "USER") != kAccessCode;

    const std::vector<TProfile::RLine> lines = ini.ReadSectionLines("SENSOR");
    if (lines.empty()) {
        session.SensorTypes = BuiltInSensorTypes();
    } else {
        session.SensorTypes.clear();
        session.SensorTypes.reserve(lines.size());
        for (const TProfile::RLine &line : lines)
            session.SensorTypes.push_back(ParseSensorLine(line.mKey, line.mValue));
    }

    if (session.UserMode)
        AssignUserLayoutValues(cfg);
    else
        ReadNumericKeys(ini, cfg);

    cfg.mLogEnable = ini.ReadInteger("ETC", "LogEnable", 0) != 0;
    session.RecordsCFG = ReadRecordsSection(ini);

    cfg.mEEPROMSaveDir = store.SaveDirectory(TStoreGroup::EEPROM);
    cfg.mFLASHFile = store.ImageFile();
    cfg.mFLASHSaveDir = FileExists(cfg.mFLASHFile) ? DirectoryOf(cfg.mFLASHFile) : std::string();
    cfg.mEVENTSaveDir = store.SaveDirectory(TStoreGroup::EVENT);
    cfg.mLogSaveDir = store.SaveDirectory(TStoreGroup::Logging);
    cfg.mConfSaveDir = store.SaveDirectory(TStoreGroup::CONFIGURE);
}

std::string SettingsFilePath(const std::string &appDir) { return TProfile::FindFileAnyCase(appDir, kSettingsFileName); }

std::string LoadSettings(TSession &session, const std::string &iniPath)
{
    TProfile ini;
    EInputFile why = EInputFile::Ok;
    ini.LoadFile(iniPath, &why);
    LoadSettings(session, ini);

    std::string reason;
    switch (why) {
    case EInputFile::Ok:
    case EInputFile::Missing: return {};
    case EInputFile::NotRegular: reason = "It is not a regular file."; break;
    case EInputFile::TooLarge:
        reason = "It is larger than " + std::to_string(TProfile::kMaxFileSize / (1024 * 1024)) +
                 " MiB, far more than any settings file.";
        break;
    case EInputFile::Unreadable: reason = "It could not be read."; break;
    }
    return "The settings file " + iniPath + " was not read.\r" + reason +
           "\rThe program uses the settings of the user layout.";
}

std::string LoadSettings(TSession &session) { return LoadSettings(session, SettingsFilePath(session.AppDir)); }
