#pragma once
// The settings' types: the settings record and the sensor-type table. A
// running program keeps one of each in its session (app/session.h), filled
// at start-up by LoadSettings; the model takes them as parameters.
#include <cstdint>
#include <string>
#include <vector>

// The settings file's keys of the four configuration write ranges (section
// "UNIT"): the loader reads them and the write refuses ranges by these names.
inline constexpr const char *kSectionUnit = "UNIT";
inline constexpr const char *kKeyUnitWriteUserStart = "UnitWriteUserStart";
inline constexpr const char *kKeyUnitWriteUserSize = "UnitWriteUserSize";
inline constexpr const char *kKeyUnitWriteFactoryStart = "UnitWriteFactoryStart";
inline constexpr const char *kKeyUnitWriteFactorySize = "UnitWriteFactorySize";
inline constexpr const char *kKeySensorWriteUserStart = "SensorWriteUserStart";
inline constexpr const char *kKeySensorWriteUserSize = "SensorWriteUserSize";
inline constexpr const char *kKeySensorWriteFactoryStart = "SensorWriteFactoryStart";
inline constexpr const char *kKeySensorWriteFactorySize = "SensorWriteFactorySize";

// The default values are those of the user layout, which is also what an
// empty settings file gives.
struct RDeviceCFG {
    uint16_t mConnectTime = 3000;
    uint16_t mAVOperate = 1000;
    uint16_t mUnitPacketSize = 32;
    uint16_t mUnitDataSize = 64;
    uint16_t mUnitSensorDataSize = 64;
    uint16_t mUnitWriteUserStart = 1;
    uint16_t mUnitWriteUserSize = 8;
    uint16_t mUnitWriteFactoryStart = 17;
    uint16_t mUnitWriteFactorySize = 0;
    uint16_t mSensorWriteUserStart = 65;
    uint16_t mSensorWriteUserSize = 10;
    uint16_t mSensorWriteFactoryStart = 86;
    uint16_t mSensorWriteFactorySize = 0;
    std::string mEEPROMSaveDir;
    uint16_t mEEPROMPacketSize = 32;
    uint16_t mEEPROMMaxAddress = 1024;
    uint16_t mEEPROMReadAddress = 0;
    uint16_t mEVENTReadPacketSize = 32;
    uint16_t mEVENTPacketSize = 9;
    std::string mEVENTSaveDir;
    std::string mConfSaveDir;
    std::string mFLASHFile;
    std::string mFLASHSaveDir;
    uint16_t mFLASHMaxAddress = 128;
    uint16_t mFALSHPacketSize = 128;
    uint16_t mFLASHDownloadRetry = 3;
    uint8_t mFLASHRetry = 3;
    std::string mLogSaveDir;
    uint16_t mLogInterval = 1;
    uint16_t mLogDisplayTime = 120;
    uint16_t mLogConnectTime = 800;
    uint16_t mCalTime = 180;
    uint16_t mCalCheckTime = 5;
    bool mLogEnable = false;
};

// Section "RECORDS" of the settings file, in both layouts: what the
// certified calibration is judged by and whom certificates name.
struct RRecordsCFG {
    // "CalTolerance", percent (10): the as-left span reading of a calibration
    // against a cylinder must lie within this of the cylinder's
    // concentration. Kept in tenths of a percent (per mille).
    int mCalTolerance = 100;
    std::string mOrganisation; // "Organisation": the service centre that certifies
    std::string mAddress;      // "Address"
    std::string mOrgKey;       // "OrgKey": the organisation key's fingerprint `records verify` requires; empty: none
    std::string mBench;        // "Bench": the name the centre gives this test place
};

struct RSensorType {
    std::string mName;
    uint8_t mIndex = 0;
    std::string mUnit;
    std::string mSpec; // at most 2 characters
    uint16_t mCalTime = 0;
    float mMin = 0;
    float mMax = 0;
};

// The oxygen sensor's code in the built-in sensor table. Its reading stands
// at 20.9 % in clean air and falls under gas: the low alarm is the level it
// falls to, the high alarm the level it rises to.
inline constexpr uint8_t kOxygenSensorType = 4;
// Whether a sensor's reading falls under the gas it is tested with.
inline bool ReadingFalls(uint8_t nSensorType) { return nSensorType == kOxygenSensorType; }

// The three built-in sensor types, used when the settings file lists none.
std::vector<RSensorType> BuiltInSensorTypes();
