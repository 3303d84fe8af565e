#pragma once
// The names under which a measured job (a bump test, a calibration against a
// cylinder) keeps its measurements in its record's data, for the tools that
// write them and the records room that reads them back (certificates).
//
// Gas values are whole tenths of the sensor's unit (as the detector keeps
// its set points), times whole seconds, deviations whole tenths of a percent
// (per mille) of the cylinder's concentration: a record holds no fractions.
namespace evidence_data {
inline constexpr const char *kCylinder = "cylinder";           // the cylinder used, whole (CylinderRecordJson)
inline constexpr const char *kUnit = "unit";                   // the sensor's unit
inline constexpr const char *kResult = "result";               // bump-test: "pass" or "fail"
inline constexpr const char *kFailed = "failed";               // the criterion that failed, in words
inline constexpr const char *kCriteria = "criteria";           // the rules the result was judged by
// bump-test
inline constexpr const char *kBaseline = "baseline_tenths";    // mean of the clean-air readings
inline constexpr const char *kPeak = "peak_tenths";            // highest reading under gas (oxygen: lowest)
inline constexpr const char *kSecondsToAlarm = "seconds_to_alarm"; // null: no LOW alarm
inline constexpr const char *kAlarmFlags = "alarm_flags_seen"; // names of the alarm flags seen under gas
inline constexpr const char *kRecovery = "recovery_seconds";   // null: never back past the low alarm level
inline constexpr const char *kReport = "report";               // the report sent: "Bump Pass", "Bump Fail"
inline constexpr const char *kReportStatus = "report_status";  // its status (0: the detector took it)
// criteria
inline constexpr const char *kAlarmLow = "alarm_low_tenths";
inline constexpr const char *kAlarmHigh = "alarm_high_tenths";
inline constexpr const char *kFalls = "reading_falls";         // oxygen: the reading falls under gas
inline constexpr const char *kWithin = "within_seconds";
inline constexpr const char *kPeakMin = "peak_min_tenths";     // absent for oxygen
inline constexpr const char *kPeakMax = "peak_max_tenths";
inline constexpr const char *kBaselineReadings = "baseline_readings";
inline constexpr const char *kTolerance = "tolerance_permille"; // sensor-cal: as-left span within this
// sensor-cal against a cylinder
inline constexpr const char *kAsFound = "as_found";
inline constexpr const char *kAsLeft = "as_left";
inline constexpr const char *kZero = "zero_tenths";            // stable reading in clean air
inline constexpr const char *kSpan = "span_tenths";            // stable reading under the cylinder's gas
inline constexpr const char *kZeroDeviation = "zero_deviation_permille";
inline constexpr const char *kSpanDeviation = "span_deviation_permille";
inline constexpr const char *kCertified = "certified";         // sensor-cal: "pass" or "fail"
// who certifies, as it stood when the job ran
inline constexpr const char *kTechnician = "technician";       // the technician's printed name
inline constexpr const char *kOrganisation = "organisation";   // [RECORDS] Organisation
inline constexpr const char *kAddress = "address";             // [RECORDS] Address
inline constexpr const char *kBenchName = "bench_name";        // the bench's name ([RECORDS] Bench)
} // namespace evidence_data
