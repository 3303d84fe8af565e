#pragma once
// Configuration files (.cfg): a 24-byte header whose first word is the format
// version, then that version's image of the configuration record. Version 7
// is written; versions 1 to 8 are read. Reading applies a fixed subset of the
// record; the counters and calibration results in memory stay.
//
// Also the small file helpers the exports share: the folder of a chosen file,
// the time stamp of proposed names and the replacing write.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "model/config_record.h"
#include "model/datetime.h"

class IScreen;
struct RMainState;

#pragma pack(push, 1)
struct RCFGFileHeader {
    int32_t mVersion = 0;        // payload version, 1..8
    uint8_t mReserved1[4] = {};
    double mSavedAt = 0;         // local time of saving, day count; never read
    uint8_t mLayout = 0;         // 1 developer layout, 0 user layout; never read
    uint8_t mReserved2[7] = {};
};
#pragma pack(pop)

static_assert(std::is_trivially_copyable_v<RCFGFileHeader> && std::is_standard_layout_v<RCFGFileHeader>);
static_assert(sizeof(RCFGFileHeader) == 24);
static_assert(offsetof(RCFGFileHeader, mVersion) == 0);
static_assert(offsetof(RCFGFileHeader, mReserved1) == 4);
static_assert(offsetof(RCFGFileHeader, mSavedAt) == 8);
static_assert(offsetof(RCFGFileHeader, mLayout) == 16);
static_assert(offsetof(RCFGFileHeader, mReserved2) == 17);

inline constexpr int kCFGFileHeaderSize = 24;
inline constexpr int32_t kCFGFileWriteVersion = 7;
inline constexpr int kCFGPayloadV7Size = 116;
inline constexpr int kCFGFileWrittenSize = kCFGFileHeaderSize + kCFGPayloadV7Size; // 140
inline constexpr int kCFGPayloadMaxSize = 128;                                     // version 8

// The dialogs and messages of Read File and Write File.
inline constexpr const char *kCFGDefaultExt = "cfg";
inline constexpr const char *kCFGFilter = "configuration file (*.cfg)";
inline constexpr const char *kCFGOpenTitle = "Open Configuration File";
inline constexpr const char *kCFGSaveTitle = "Save Configuration File";
inline constexpr const char *kCFGReadCaption = "Read Configuration File";
inline constexpr const char *kCFGWriteCaption = "Write Configuration file";
inline constexpr const char *kCFGWrongText = "Configuration File is wrong\rReselect file";
inline constexpr const char *kCFGNotOpenText = "Configuration File did not open\rRetry READ FILE";
inline constexpr const char *kCFGNotSavedText = "Configuration File did not save\rRetry WRITE FILE";

// Payload size of a version: 92, 96, 100, 112, 112, 116, 116, 128 for 1..8;
// 0 for any other version.
int CFGPayloadSize(int32_t nVersion);

// A version-1..7 payload as a complete record, column by column: fields the
// version lacks take their fixed values (user ID six blanks, self-test
// interval 20, suspend 0xFF, calibration and bump intervals 0), all other
// bytes it does not carry (reserved bytes, CRC words, and mLastBump before
// version 4) are 0. nullopt when the version is not 1..7 or fewer than its
// payload size bytes are given.
std::optional<RTamselCFG> ConvertCFGFile(int32_t nVersion, const uint8_t *payload, size_t count);

// The 116-byte version-7 payload of a record; reserved bytes and both CRC
// slots are 0.
std::array<uint8_t, kCFGPayloadV7Size> MakeCFGFile(const RTamselCFG &mCFG);

// A whole file as written: version 7, saved at rSavedAt, the layout byte,
// then MakeCFGFile. Always kCFGFileWrittenSize bytes.
std::vector<uint8_t> CFGFileBytes(const RTamselCFG &mCFG, TDateTime rSavedAt, bool bDeveloperLayout);

// The record a file's bytes carry: versions 1..7 through ConvertCFGFile, 8
// over the default record. nullopt (the file is wrong) for any other version
// and for a file shorter than its header and its version's payload. Bytes
// past the payload are ignored.
std::optional<RTamselCFG> ParseCFGFile(const uint8_t *bytes, size_t count);
inline std::optional<RTamselCFG> ParseCFGFile(const std::vector<uint8_t> &bytes)
{
    return ParseCFGFile(bytes.data(), bytes.size());
}

// Copies the fields a file sets onto the record: mUnitFlag, mUserID,
// mTestInterval, mAllowSuspend, mSerial, the battery limits, mHWVersion,
// mFWVersion, mLifeRemaining, the alarm levels, the calibration and bump
// intervals, mSensorType, mDeadZone, mSpanGas, mSensorMax, mSensorBase and
// mTempCompSpan. Everything else (counters, calibration results, CRC words)
// keeps its value.
void ApplyCFGFileRecord(RTamselCFG &mTarget, const RTamselCFG &mFromFile);

// ---- files on disk ----

enum class ECFGLoad { Ok, NotOpened, Wrong };

// Reads a .cfg file and applies it onto mCFG (ApplyCFGFileRecord). mCFG is
// untouched unless the result is Ok. Anything but a readable regular file
// (a directory, FIFO or device among them) is NotOpened, without waiting.
ECFGLoad LoadConfigFile(const std::string &path, RTamselCFG &mCFG);

// Writes mCFG as a version-7 file (saved now; layout byte from bDeveloperLayout).
// An existing file is replaced only by a complete new one: on failure it is
// left as it was. False on failure, with the reason in *error when given.
bool WriteConfigFile(const std::string &path, const RTamselCFG &mCFG, bool bDeveloperLayout,
                     std::string *error = nullptr);

// Write File after the dialog: writes the file in the current layout, shows
// "Configuration File did not save" on failure, and remembers the file's
// folder (DeviceCFG.mConfSaveDir and CONFIGURE "SaveDirectory") either way.
// True when saved.
bool SaveConfigFile(IScreen &screen, const std::string &path, const RTamselCFG &mCFG);

// ---- the main window's actions ----

enum class EFileOutcome {
    Done,      // the file was read / written
    Cancelled, // the dialog was cancelled: nothing changed
    Failed,    // the file could not be read, was refused, or could not be written (message shown)
};

// Read File. After a record was applied the editing view is refreshed from
// state.FTamselCFG: ConfigToView into state.FForm, then viewChanged (the
// window binds its widgets to the new form). Nothing is refreshed when the
// dialog is cancelled or the file is refused.
EFileOutcome ReadConfigFileAction(IScreen &screen, RMainState &state, const std::function<void()> &viewChanged = {});

// Write File. First the record is rebuilt from the editing view: formChanged
// (the window writes its widgets into state.FForm), then ViewToConfig with
// forDevice false into state.FTamselCFG; then the dialog and the file.
EFileOutcome WriteConfigFileAction(IScreen &screen, RMainState &state, const std::function<void()> &formChanged = {});

// ---- helpers shared by the file exports ----

// The folder of a chosen file, absolute, without a trailing separator (the
// root stays "/").
std::string FolderOfFile(const std::string &path);

// Local time of a day count as "YYMMDDHHNNSS", for proposed file names.
std::string NameTimeStamp(TDateTime t);

// A day count's local date as "yyyy-mm-dd" and time of day as "hh:nn:ss".
std::string DateText(TDateTime t);
std::string TimeText(TDateTime t);

// Writes the bytes to path through a temporary file in the same folder that
// is renamed over the target only when everything was written. On failure an
// existing file stays as it was and no temporary is left behind.
bool WriteFileReplacing(const std::string &path, const void *data, size_t size, std::string *error = nullptr);
inline bool WriteFileReplacing(const std::string &path, const std::string &text, std::string *error = nullptr)
{
    return WriteFileReplacing(path, text.data(), text.size(), error);
}
