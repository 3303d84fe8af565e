#pragma once
// The jobs that compare a detector's configuration with another before
// anything is written, and the one that writes a kept configuration back.
// Each is a device job with its own record (app/device_job.h); the window's
// editors are never touched.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QJsonArray>

#include "app/config_template.h"
#include "app/detector_jobs.h"
#include "model/exit_table.h"

class IScreen;
class TDeviceJob;
class TSession;

// The status-bar prefixes of the reads and the write.
inline constexpr const char *kReadPrefix = "Read Norvik Information";
inline constexpr const char *kWritePrefix = "Write Norvik Information";
// The caption of the restore's own boxes.
inline constexpr const char *kRestoreCaption = "Restore Configuration";

// The statuses a record keeps where no status byte tells what happened: the
// command line's exit codes for a question answered No, a refusal before
// anything was written, and a job that ran but did not succeed (a read-back
// that differs).
inline constexpr uint8_t kStatusDeclined = exits::kJobDeclined;
inline constexpr uint8_t kStatusRefused = exits::kJobRefused;
inline constexpr uint8_t kStatusNotDone = exits::kJobNotDone;

// One frame of the job with Read Device's texts and sequence (identity,
// product check, both blocks): the configuration and identity read, for the
// caller alone.
ROpResult ReadDetector(TDeviceJob &job, TSession &session, RTamselCFG &cfg, RTamselIdenty &identity);

// What a detector holding `held` holds after Write Device sent `sent` with
// the session's settings: the write ranges' bytes, and in the developer
// layout the life remaining.
RTamselCFG WriteDeviceOutcome(const TSession &session, const RTamselCFG &held, const RTamselCFG &sent);

// The data a record keeps of changed fields: [{"field", "before", "after"}]
// with the values as the record holds them.
QJsonArray ChangesJson(const RTamselCFG &before, const RTamselCFG &after);

// The one rule for what is written (ConfigWriteProblem) applied to a
// template: its fields over the default record of its sensor. An alarm set
// point the template leaves to the unit is taken as agreeing with the one it
// sets, so only the template's own values are judged; each unit's record is
// checked again before it is written.
RConfigProblem TemplateWriteProblem(const TSession &session, const RConfigTemplate &tpl);
// Whether the template sets an alarm set point or the sensor type: then each
// unit's record, with the template over it, is judged by the rule again.
bool TemplateSetsAlarms(const RConfigTemplate &tpl);

// A comparison: the detector read, and what it would hold.
struct RCompare {
    ROpResult mRead;
    RTamselCFG mHeld{};            // the detector's configuration
    RTamselCFG mAfter{};           // what it would hold afterwards
    RTamselIdenty mIdentity{};
    std::vector<std::string> mLines; // "field: detector -> new", record order
    // Write Device would stop with 148: in the user layout the record's
    // sensor type is not the installed sensor.
    bool mSensorMismatch = false;
    bool Ok() const { return mRead.Ok(); }
};
// The detector against what Write Device would send (`sent`, built from the
// view for the detector). Nothing is written; a "diff" job.
RCompare CompareBeforeWrite(TSession &session, IScreen &screen, const RTamselCFG &sent);
// The detector against the template's fields; a "template-diff" job.
// mSensorMismatch: the template sets levels and was taken from another sensor.
RCompare CompareWithTemplate(TSession &session, IScreen &screen, const RConfigTemplate &tpl);

inline constexpr const char *kCompareCaption = "Compare with Detector";
// The box's text for a comparison: each field by the caption the window
// shows it under, with its unit.
std::string CompareText(const RCompare &compare, const std::vector<RSensorType> &types);

// A configuration a record keeps, and where it comes from.
struct RKeptConfig {
    long long mRecordId = 0;  // the record that keeps it
    std::string mTime;        // when it was read
    std::string mSerial;      // of the detector it was read from
    RTamselCFG mConfig{};
};

enum class ERestore {
    kRestored,   // written and read back equal
    kUnchanged,  // the detector held it already: nothing written
    kRefused,    // another detector, a sensor the settings refuse, settings whose ranges leave the record
    kDeclined,   // the user said No
    kFailed,     // a status byte ended it (the status bar said which)
    kDiffers,    // written, but the read-back differs
};
struct RRestoreResult {
    ERestore mOutcome = ERestore::kFailed;
    uint8_t mStatus = 0;             // the status byte, for kFailed
    std::vector<std::string> mLines; // the diff shown before the write
    std::string mWhy;                // the refusal, or the fields that differ
};
// Writes the kept configuration back in one "restore" job: the detector is
// read (its configuration kept on the record as the backup) and must be the
// serial the configuration came from; the diff (the fields the settings'
// write ranges allow in the current layout) goes to `confirm`, which says
// whether to go on; then the ranges that change are written and read back.
// Refusals and a read-back that differs are told in a box captioned
// kRestoreCaption.
RRestoreResult RestoreConfiguration(TSession &session, IScreen &screen, const RKeptConfig &kept,
                                    const std::function<bool(const std::vector<std::string> &lines)> &confirm);
