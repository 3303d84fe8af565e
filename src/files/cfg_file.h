#pragma once
// Configuration files (.cfg): a 24-byte header whose first word is the format
// version, then that version's image of the configuration record. Version 7
// is written; versions 1 to 8 are read. Reading applies a fixed subset of the
// record; the counters and calibration results in memory stay.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "model/config_record.h"
#include "model/datetime.h"

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
