#pragma once
// A gas cylinder as a test or a calibration uses it: what its label
// certifies (gas, concentration, lot, expiry date, balance gas, maker) and
// whether the service centre has retired it. The records room keeps the
// cylinders (records/cylinder_store.h); the tools take one by value and put
// it, whole, on the record of the job that used it.
//
// A concentration is kept in tenths of the sensor type's unit, as the
// detector keeps its own set points, so that records hold whole numbers.
#include <cstdint>
#include <string>
#include <vector>

#include <QJsonObject>

#include "model/config_record.h"
#include "model/settings_types.h"

class TSession;

struct RGasCylinder {
    int64_t mId = 0;            // given by the store
    std::string mGas;           // the name of a sensor type (RSensorType::mName)
    int32_t mConcentration = 0; // tenths of mUnit
    std::string mUnit;          // that sensor type's unit
    std::string mLot;
    std::string mExpires;       // the last day it may be used, "YYYY-MM-DD"
    std::string mBalance;       // the balance gas ("N2", "air"); may be empty
    std::string mMaker;         // may be empty
    bool mRetired = false;
};

// Tenths of a unit as a person reads them: 250 -> "25", 255 -> "25.5", -5 -> "-0.5".
std::string TenthsText(int32_t tenths);
// "H2S 25 ppm, lot L-1234": the gas, its concentration with the unit, the lot.
std::string CylinderText(const RGasCylinder &cylinder);

// The cylinder as a record keeps it: id, gas, concentration_tenths, unit,
// lot, expires, balance, maker, retired.
QJsonObject CylinderRecordJson(const RGasCylinder &cylinder);
// The reverse; false when a field is missing or of the wrong type.
bool CylinderFromRecordJson(const QJsonObject &object, RGasCylinder &cylinder);

// The checks a new cylinder passes before it is kept. `gas` names a sensor
// type of `types`; `concentration` is the label's value in its unit (more
// than 0.1, at most 3276.7); `expires` a real date "YYYY-MM-DD"; lot not
// empty. Fills the cylinder (unit from the sensor type, concentration in
// tenths) and returns an empty text, or says what is wrong.
std::string MakeCylinder(const std::string &gas, double concentration, const std::string &lot,
                         const std::string &expires, const std::string &balance, const std::string &maker,
                         const std::vector<RSensorType> &types, RGasCylinder &cylinder);

// The longest lot, balance gas or maker a cylinder keeps, in characters.
inline constexpr size_t kCylinderTextMax = 64;

// Why a new cylinder is not kept, beyond MakeCylinder's checks; empty when
// it may be. Its lot, balance gas and maker are at most kCylinderTextMax
// characters of valid UTF-8 that a certificate prints as written: no control
// character, line or paragraph separator, bidirectional or invisible format
// character, nor one outside the Basic Multilingual Plane (an emoji). Its
// expiry date is not before `today` ("YYYY-MM-DD"). No cylinder in `kept`
// that is not retired holds the same gas with the same lot.
std::string CylinderEntryRefusal(const RGasCylinder &cylinder, const std::vector<RGasCylinder> &kept,
                                 const std::string &today);

// What a cylinder is used for: the checks differ.
enum class ECylinderUse { kBumpTest, kCalibration };

// Why the cylinder may not be used today (the local date, "YYYY-MM-DD"):
// retired, or past its expiry date. Empty when it may. Needs no detector, so
// it is asked before anything is sent.
std::string CylinderDateRefusal(const RGasCylinder &cylinder, const std::string &today);

// Why the cylinder does not fit the detector whose configuration was read:
// another gas (or unit) than the detector's sensor type, or a concentration
// that cannot bring the reading to the low alarm level (a bump test: it must
// reach it; a calibration: it may not be below it). For oxygen, whose
// reading falls under gas, the level is reached from above (the gas may not
// be above it), and a calibration gas between 19 and 23.5 % is too close to
// fresh air. Empty when it fits.
std::string CylinderFitRefusal(const RGasCylinder &cylinder, const RTamselCFG &cfg,
                               const std::vector<RSensorType> &types, ECylinderUse use);

// Who certifies a measured job, as it stands when the job runs (the values
// of certifier.h that are set): the technician's printed name, the service
// centre and the bench's name. Kept in the job's record, so its certificate
// says the same whenever it is printed.
QJsonObject CertifierRecordJson(TSession &session);

// The local date today as "YYYY-MM-DD" for a day count (TDateTime).
std::string LocalDateText(double dayCount);
