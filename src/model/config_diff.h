#pragma once
// The configuration record field by field: each field's name (as the JSON
// view names it), its bytes in the 128-byte record, its value as the record
// holds it and as a person reads it (with its unit), and what follows from
// that: which fields two records disagree on, which fields the settings'
// write ranges reach, what a write through those ranges leaves in the
// detector and which fields a read-back contradicts. Pure.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/config_record.h"
#include "model/settings_types.h"

// How a field's value reads.
enum class EFieldShow : uint8_t {
    kPlain,       // the number(s)
    kText,        // characters, quoted
    kUnitFlag,    // the number, the display mode and the bump LED option
    kHours,       // "20 h"
    kSuspend,     // "128 (Allow suspend)"
    kHWVersion,   // "005"
    kFWVersion,   // "1.4"
    kLife,        // seconds with months and days
    kCounter,     // seconds, or "---" when not set
    kTenths,      // tenths of the sensor's unit: "15.0 ppm"
    kDaysSeconds, // seconds kept, days meant: "180 days"
    kDays,        // "30 days"
    kSensorType,  // "1 (H2S)"
    kThousandths, // "5.561"
    kTau,         // "5.0"
    kHexWord,     // "0x1A2B"
};

struct RConfigField {
    const char *mName;  // "mAlarmHigh"; the two blocks' reserved fields and CRC words carry their block:
                        // "mUnit.mDummy1", "mSensor.mCRC"
    int mOffset;        // first record byte
    int mSize;          // bytes in all
    int mElementSize;   // 1, 2 or 4 (a character field: 1)
    bool mSigned;       // signed integers
    bool mText;         // a character field
    EFieldShow mShow;
    int Count() const { return mSize / mElementSize; }
    bool IsArray() const { return !mText && Count() > 1; }
    bool Holds(int address) const { return address >= mOffset && address < mOffset + mSize; }
};

// Every field of the record, in record order; together they cover all 128 bytes once.
const std::vector<RConfigField> &ConfigFields();
// The field of that name; a field may also be named with its block ("mSensor.mAlarmHigh").
// Null for an unknown name.
const RConfigField *FindConfigField(std::string_view name);
// The field that holds a record byte (0..127); null outside the record.
const RConfigField *FieldAt(int address);

// A field's value as the record holds it: its integers (one, or one per
// element of an array), or for a character field its bytes without the
// zero bytes that end it.
struct RFieldValue {
    std::vector<int64_t> mNumbers;
    std::string mText;
    bool operator==(const RFieldValue &) const = default;
};
RFieldValue GetFieldValue(const RTamselCFG &cfg, const RConfigField &field);
// Writes the value into the field (a character field padded with zero
// bytes). False, with the reason and nothing changed, when the value does
// not fit: a text for a number field or the reverse, too many characters,
// the wrong count of numbers, a number outside the field's range.
bool SetFieldValue(RTamselCFG &cfg, const RConfigField &field, const RFieldValue &value, std::string &error);

// The value as a person reads it, with its unit where it has one: tenths in
// the unit of the record's own sensor type, intervals in hours or days, the
// display mode by name, versions as the window shows them.
std::string FieldValueText(const RConfigField &field, const RTamselCFG &cfg, const std::vector<RSensorType> &types);

// ---- two records ----

// The fields whose bytes differ, in record order.
std::vector<const RConfigField *> ChangedFields(const RTamselCFG &before, const RTamselCFG &after);
// "mAlarmHigh: 15.0 ppm -> 20.0 ppm": the field, its value in `before`, then in `after`.
std::string ChangeLine(const RConfigField &field, const RTamselCFG &before, const RTamselCFG &after,
                       const std::vector<RSensorType> &types);
// The caption the window shows a field under ("High Alarm", "Display"); the
// field's own name for one the window does not show (reserved bytes, CRCs).
std::string FieldLabel(const RConfigField &field);
// Each changed field as the window names it: "High Alarm: 15.0 ppm -> 20.0
// ppm". The display flag reads as what it holds: "Display: Sensor Reading ->
// Life Remaining" and "Hide bump due LED flashing: off -> on", a line each.
std::vector<std::string> LabelledDiffLines(const RTamselCFG &before, const RTamselCFG &after,
                                           const std::vector<RSensorType> &types);
// One ChangeLine per changed field.
std::vector<std::string> DiffLines(const RTamselCFG &before, const RTamselCFG &after,
                                   const std::vector<RSensorType> &types);

// ---- the settings' write ranges ----

// The user ranges of the settings (unit user, sensor user), those of size 0 left out.
std::vector<RCFGWriteRange> UserWriteRanges(const RDeviceCFG &cfg);
// Whether every byte of the field lies inside one of the ranges.
bool FieldWithin(const RConfigField &field, const std::vector<RCFGWriteRange> &ranges);
// The fields that lie inside the ranges, in record order.
std::vector<const RConfigField *> FieldsWithin(const std::vector<RCFGWriteRange> &ranges);
// The fields a choice names: "user" (inside the user ranges of the
// settings), "all" (inside any of their write ranges) or a comma-separated
// list of field names. False, naming the unknown name, on a bad list.
bool ChooseFields(std::string_view choice, const RDeviceCFG &settings, std::vector<const RConfigField *> &fields,
                  std::string &error);

// What a detector holding `held` holds after `sent` was written through the
// ranges: the ranges' bytes from `sent`, every other byte as it was.
RTamselCFG AfterWrite(const RTamselCFG &held, const RTamselCFG &sent, const std::vector<RCFGWriteRange> &ranges);
// The ranges (in their order) in which `sent` has a byte that `held` does not.
std::vector<RCFGWriteRange> RangesToWrite(const RTamselCFG &held, const RTamselCFG &sent,
                                          const std::vector<RCFGWriteRange> &ranges);
// The fields, in record order, holding a byte of the ranges in which the
// record read back differs from what was written.
std::vector<const RConfigField *> ReadBackDiffers(const RTamselCFG &written, const RTamselCFG &readBack,
                                                  const std::vector<RCFGWriteRange> &ranges);
// Field names joined by ", ".
std::string FieldNames(const std::vector<const RConfigField *> &fields);
