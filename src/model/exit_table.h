#pragma once
// The exit and outcome table: the numbers beamport-cli exits with besides a
// status byte, the codes a job's record carries where no status byte tells
// what happened, and the one word a record gives for how its job ended. The
// command line, the journal, the tools, the records and the simulator take
// their numbers and words from here and define none of their own. No status
// byte of the status table has a value from kUsage to kInternal, so these
// never stand for one.
#include <cstdint>

namespace exits {
inline constexpr int kSuccess = 0;
// Commands without device work: something wrong was found (records verify,
// doctor, template diff; diff when the detector and the file differ).
inline constexpr int kFound = 1;
inline constexpr int kUsage = 64;       // the command line was wrong
inline constexpr int kFile = 65;        // a file could not be read or written, or was refused
inline constexpr int kDeclined = 66;    // nothing was done: a question was answered No
inline constexpr int kRefused = 67;     // refused before anything was sent (detector, sensor or settings)
inline constexpr int kNotDone = 68;     // ran but did not succeed, with no status byte to say why
inline constexpr int kUnavailable = 69; // the records store cannot be reached or opened
inline constexpr int kInternal = 70;    // an internal error (an exception that is no port error)
// The port failed during the job: the link's own status byte for it, and the
// exit of any command a port error leaves.
inline constexpr int kPortFailed = 161;

// The lowest and highest code of the command line's own block.
inline constexpr int kOwnFirst = kUsage;
inline constexpr int kOwnLast = kInternal;
constexpr bool IsOwnCode(int code) { return code >= kOwnFirst && code <= kOwnLast; }

// The same codes as the status byte a job's result and record carry.
inline constexpr uint8_t kJobDeclined = kDeclined;
inline constexpr uint8_t kJobRefused = kRefused;
inline constexpr uint8_t kJobNotDone = kNotDone;
inline constexpr uint8_t kJobInternal = kInternal;
inline constexpr uint8_t kJobPortFailed = kPortFailed;
static_assert(kPortFailed <= 255 && kOwnLast <= 255, "a job's status is one byte");
} // namespace exits

// The one word a record gives for how its job ended.
namespace outcome {
inline constexpr const char *kSuccess = "success";   // did what it was asked (status 0)
inline constexpr const char *kFailed = "failed";     // a status byte, or exits::kNotDone
inline constexpr const char *kStopped = "stopped";   // stopped by the user
inline constexpr const char *kDeclined = "declined"; // a question answered No (exits::kDeclined)
inline constexpr const char *kRefused = "refused";   // refused before anything was sent (exits::kRefused)
inline constexpr const char *kStarted = "started";   // the detector took a command nobody followed
inline constexpr const char *kDeclared = "declared"; // a bare Bump Pass / Bump Fail: the technician's word
inline constexpr const char *kPass = "pass";         // a measured bump test or certified calibration passed
inline constexpr const char *kFail = "fail";         // ... or did not
} // namespace outcome
