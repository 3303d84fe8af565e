#include "model/config_diff.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "model/device_records.h"

namespace {

using S = EFieldShow;

const std::vector<RConfigField> kFields = {
    // unit block
    {"mUnitFlag", 0, 1, 1, false, false, S::kUnitFlag},
    {"mUserID", 1, 6, 1, false, true, S::kText},
    {"mTestInterval", 7, 1, 1, false, false, S::kHours},
    {"mUnit.mDummy1", 8, 7, 1, false, false, S::kPlain},
    {"mAllowSuspend", 15, 1, 1, false, false, S::kSuspend},
    {"mSerial", 16, 10, 1, false, true, S::kText},
    {"mBatLimit", 26, 4, 2, false, false, S::kPlain},
    {"mBatLimitStartUp", 30, 2, 2, false, false, S::kPlain},
    {"mBatLimitCritical", 32, 2, 2, false, false, S::kPlain},
    {"mHWVersion", 34, 1, 1, false, false, S::kHWVersion},
    {"mFWVersion", 35, 1, 1, false, false, S::kFWVersion},
    {"mLifeRemaining", 36, 4, 4, false, false, S::kLife},
    {"mAlarmTime", 40, 4, 4, false, false, S::kCounter},
    {"mTestTime", 44, 4, 4, false, false, S::kCounter},
    {"mAlarmCount", 48, 2, 2, false, false, S::kPlain},
    {"mTestCount", 50, 2, 2, false, false, S::kPlain},
    {"mPEventLog", 52, 1, 1, false, false, S::kPlain},
    {"mUnit.mDummy2", 53, 9, 1, false, false, S::kPlain},
    {"mUnit.mCRC", 62, 2, 2, false, false, S::kHexWord},
    // sensor block
    {"mAlarmHigh", 64, 2, 2, false, false, S::kTenths},
    {"mAlarmLow", 66, 2, 2, false, false, S::kTenths},
    {"mCalInterval", 68, 4, 4, false, false, S::kDaysSeconds},
    {"mBumpInterval", 72, 2, 2, false, false, S::kDays},
    {"mSensor.mDummy1", 74, 11, 1, false, false, S::kPlain},
    {"mSensorType", 85, 1, 1, false, false, S::kSensorType},
    {"mDeadZone", 86, 2, 2, false, false, S::kTenths},
    {"mSpanGas", 88, 2, 2, false, false, S::kTenths},
    {"mSensorMax", 90, 2, 2, false, false, S::kTenths},
    {"mSensorBase", 92, 2, 2, false, false, S::kTenths},
    {"mTempCompSpan", 94, 12, 4, true, false, S::kPlain},
    {"mZero", 106, 2, 2, false, false, S::kPlain},
    {"mSpan", 108, 2, 2, false, false, S::kThousandths},
    {"mTau", 110, 2, 2, false, false, S::kTau},
    {"mLastCal", 112, 4, 4, false, false, S::kCounter},
    {"mPeakTimer", 116, 4, 4, false, false, S::kCounter},
    {"mMinSpan", 120, 2, 2, false, false, S::kThousandths},
    {"mLastBump", 122, 4, 4, false, false, S::kCounter},
    {"mSensor.mCRC", 126, 2, 2, false, false, S::kHexWord},
};

const uint8_t *Bytes(const RTamselCFG &cfg) { return reinterpret_cast<const uint8_t *>(&cfg); }
uint8_t *Bytes(RTamselCFG &cfg) { return reinterpret_cast<uint8_t *>(&cfg); }

int64_t Element(const RTamselCFG &cfg, const RConfigField &f, int index)
{
    const uint8_t *p = Bytes(cfg) + f.mOffset + index * f.mElementSize;
    uint32_t v = 0;
    for (int i = f.mElementSize - 1; i >= 0; --i)
        v = v << 8 | p[i];
    if (f.mSigned && f.mElementSize == 4)
        return static_cast<int32_t>(v);
    return v;
}

void PutElement(RTamselCFG &cfg, const RConfigField &f, int index, int64_t value)
{
    uint8_t *p = Bytes(cfg) + f.mOffset + index * f.mElementSize;
    const auto v = static_cast<uint32_t>(value);
    for (int i = 0; i < f.mElementSize; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::string Quoted(const std::string &text)
{
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string Count(int64_t n, const char *one, const char *many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string SensorUnit(const RTamselCFG &cfg, const std::vector<RSensorType> &types)
{
    const int at = FindSensorType(cfg.mSensor.mSensorType, types);
    return at < 0 ? std::string() : types[static_cast<size_t>(at)].mUnit;
}

bool InRanges(int address, const std::vector<RCFGWriteRange> &ranges)
{
    for (const RCFGWriteRange &r : ranges)
        if (address >= r.mAddress && address < r.mAddress + r.mSize)
            return true;
    return false;
}

// The bytes of the range that lie in the record.
template <typename F> void ForEachByte(const RCFGWriteRange &r, F &&f)
{
    const int first = std::max<int>(0, r.mAddress);
    const int end = std::min<int>(kCFGRecordSize, r.mAddress + r.mSize);
    for (int a = first; a < end; ++a)
        f(a);
}

} // namespace

const std::vector<RConfigField> &ConfigFields() { return kFields; }

const RConfigField *FindConfigField(std::string_view name)
{
    for (const RConfigField &f : kFields)
        if (name == f.mName)
            return &f;
    // A field named with its block: "mSensor.mAlarmHigh".
    for (const char *block : {"mUnit.", "mSensor."}) {
        const std::string_view prefix(block);
        if (name.substr(0, prefix.size()) != prefix)
            continue;
        const std::string_view bare = name.substr(prefix.size());
        const bool sensor = prefix == "mSensor.";
        for (const RConfigField &f : kFields)
            if (bare == f.mName && (f.mOffset >= kCFGSensorBase) == sensor)
                return &f;
    }
    return nullptr;
}

const RConfigField *FieldAt(int address)
{
    for (const RConfigField &f : kFields)
        if (f.Holds(address))
            return &f;
    return nullptr;
}

RFieldValue GetFieldValue(const RTamselCFG &cfg, const RConfigField &field)
{
    RFieldValue v;
    if (field.mText) {
        const auto *p = reinterpret_cast<const char *>(Bytes(cfg) + field.mOffset);
        size_t n = static_cast<size_t>(field.mSize);
        while (n > 0 && p[n - 1] == 0)
            --n;
        v.mText.assign(p, n);
        return v;
    }
    for (int i = 0; i < field.Count(); ++i)
        v.mNumbers.push_back(Element(cfg, field, i));
    return v;
}

bool SetFieldValue(RTamselCFG &cfg, const RConfigField &field, const RFieldValue &value, std::string &error)
{
    const std::string name = field.mName;
    if (field.mText) {
        if (!value.mNumbers.empty()) {
            error = name + " holds characters, not numbers";
            return false;
        }
        if (value.mText.size() > static_cast<size_t>(field.mSize)) {
            error = name + " holds at most " + std::to_string(field.mSize) + " characters";
            return false;
        }
        uint8_t *p = Bytes(cfg) + field.mOffset;
        std::memset(p, 0, static_cast<size_t>(field.mSize));
        std::memcpy(p, value.mText.data(), value.mText.size());
        return true;
    }
    if (!value.mText.empty() || value.mNumbers.size() != static_cast<size_t>(field.Count())) {
        error = name + " holds " + (field.IsArray() ? std::to_string(field.Count()) + " numbers" : "one number");
        return false;
    }
    const int bits = 8 * field.mElementSize;
    const int64_t lo = field.mSigned ? -(int64_t{1} << (bits - 1)) : 0;
    const int64_t hi = field.mSigned ? (int64_t{1} << (bits - 1)) - 1 : (int64_t{1} << bits) - 1;
    for (const int64_t n : value.mNumbers)
        if (n < lo || n > hi) {
            error = name + ": " + std::to_string(n) + " is outside " + std::to_string(lo) + " to " + std::to_string(hi);
            return false;
        }
    for (int i = 0; i < field.Count(); ++i)
        PutElement(cfg, field, i, value.mNumbers[static_cast<size_t>(i)]);
    return true;
}

std::string FieldValueText(const RConfigField &field, const RTamselCFG &cfg, const std::vector<RSensorType> &types)
{
    const RFieldValue v = GetFieldValue(cfg, field);
    if (field.mText)
        return Quoted(v.mText);
    if (field.IsArray()) {
        std::string out = "[";
        for (size_t i = 0; i < v.mNumbers.size(); ++i)
            out += (i ? ", " : "") + std::to_string(v.mNumbers[i]);
        return out + "]";
    }
    const int64_t n = v.mNumbers.front();
    const std::string number = std::to_string(n);
    switch (field.mShow) {
    case S::kUnitFlag: {
        const auto flag = static_cast<uint8_t>(n);
        std::string text = number + " (" + kDisplayModeTexts[static_cast<int>(DisplayModeOfFlag(flag))];
        if (HideBumpLEDOfFlag(flag))
            text += ", Hide bump due LED flashing";
        return text + ")";
    }
    case S::kHours: return number + " h";
    case S::kSuspend: return number + (n == kSuspendAllowed ? " (Allow suspend)" : " (not allowed)");
    case S::kHWVersion: return HWVersionToStr(static_cast<uint8_t>(n));
    case S::kFWVersion: return FWVersionToStr(static_cast<uint8_t>(n));
    case S::kLife: {
        if (n > kMaxLifeSeconds)
            return number + " s";
        const RMonthDay md = LifeToMonthDay(static_cast<uint32_t>(n));
        return number + " s (" + Count(md.mMonths, "Month", "Months") + " " + Count(md.mDays, "Day", "Days") + ")";
    }
    case S::kCounter: return CounterIsSet(static_cast<uint32_t>(n)) ? number + " s" : std::string("---");
    case S::kTenths: {
        const std::string unit = SensorUnit(cfg, types);
        return FormatFixed(static_cast<double>(n) / 10.0, 1) + (unit.empty() ? "" : " " + unit);
    }
    case S::kDaysSeconds:
        return n % kSecondsPerDay == 0 ? Count(n / kSecondsPerDay, "day", "days") : number + " s";
    case S::kDays: return Count(n, "day", "days");
    case S::kSensorType: {
        if (n == 0)
            return "0 (none)";
        const int at = FindSensorType(static_cast<uint8_t>(n), types);
        return at < 0 ? number : number + " (" + types[static_cast<size_t>(at)].mName + ")";
    }
    case S::kThousandths: return FormatFixed(static_cast<double>(n) / 1000.0, 3);
    case S::kTau: return FormatFixed(static_cast<double>(n), 1);
    case S::kHexWord: {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%04X", static_cast<unsigned>(n));
        return hex;
    }
    case S::kPlain:
    case S::kText: break;
    }
    return number;
}

std::vector<const RConfigField *> ChangedFields(const RTamselCFG &before, const RTamselCFG &after)
{
    std::vector<const RConfigField *> changed;
    for (const RConfigField &f : kFields)
        if (std::memcmp(Bytes(before) + f.mOffset, Bytes(after) + f.mOffset, static_cast<size_t>(f.mSize)) != 0)
            changed.push_back(&f);
    return changed;
}

std::string ChangeLine(const RConfigField &field, const RTamselCFG &before, const RTamselCFG &after,
                       const std::vector<RSensorType> &types)
{
    return std::string(field.mName) + ": " + FieldValueText(field, before, types) + " -> " +
           FieldValueText(field, after, types);
}

std::vector<std::string> DiffLines(const RTamselCFG &before, const RTamselCFG &after,
                                   const std::vector<RSensorType> &types)
{
    std::vector<std::string> lines;
    for (const RConfigField *f : ChangedFields(before, after))
        lines.push_back(ChangeLine(*f, before, after, types));
    return lines;
}

std::string FieldLabel(const RConfigField &field)
{
    static const struct {
        const char *mName, *mLabel;
    } labels[] = {
        {"mUnitFlag", "Display"},
        {"mUserID", "User ID"},
        {"mTestInterval", "Self Test Interval"},
        {"mAllowSuspend", "Hibernate"},
        {"mSerial", "Serial Number"},
        {"mBatLimit", "Battery Limits (~-10\u2103, - 10\u2103~)"},
        {"mBatLimitStartUp", "Battery Limits: Startup"},
        {"mBatLimitCritical", "Battery Limits: Critical"},
        {"mHWVersion", "Hardware Version"},
        {"mFWVersion", "Firmware Version"},
        {"mLifeRemaining", "Life Remaining"},
        {"mAlarmTime", "Alarm Time"},
        {"mTestTime", "Test Time"},
        {"mAlarmCount", "Alarm Count"},
        {"mTestCount", "Test Count"},
        {"mPEventLog", "Event log position"},
        {"mAlarmHigh", "High Alarm"},
        {"mAlarmLow", "Low Alarm"},
        {"mCalInterval", "Calibration Interval"},
        {"mBumpInterval", "Bump Interval"},
        {"mSensorType", "Sensor Type"},
        {"mDeadZone", "Dead Zone"},
        {"mSpanGas", "Span Gas"},
        {"mSensorMax", "Sensor Max"},
        {"mSensorBase", "Sensor Base"},
        {"mTempCompSpan", "Temp. Comp."},
        {"mZero", "Zero"},
        {"mSpan", "Span"},
        {"mTau", "Tau"},
        {"mLastCal", "Last Calibration"},
        {"mPeakTimer", "Peak Timer"},
        {"mMinSpan", "Minimum Span"},
        {"mLastBump", "Last Bump Timer"},
    };
    for (const auto &l : labels)
        if (std::strcmp(l.mName, field.mName) == 0)
            return l.mLabel;
    return field.mName;
}

std::vector<std::string> LabelledDiffLines(const RTamselCFG &before, const RTamselCFG &after,
                                           const std::vector<RSensorType> &types)
{
    std::vector<std::string> lines;
    for (const RConfigField *f : ChangedFields(before, after)) {
        if (f->mShow != S::kUnitFlag) {
            lines.push_back(FieldLabel(*f) + ": " + FieldValueText(*f, before, types) + " -> " +
                            FieldValueText(*f, after, types));
            continue;
        }
        const auto was = static_cast<uint8_t>(GetFieldValue(before, *f).mNumbers.front());
        const auto now = static_cast<uint8_t>(GetFieldValue(after, *f).mNumbers.front());
        const size_t count = lines.size();
        if (DisplayModeOfFlag(was) != DisplayModeOfFlag(now))
            lines.push_back(FieldLabel(*f) + ": " + kDisplayModeTexts[static_cast<int>(DisplayModeOfFlag(was))] +
                            " -> " + kDisplayModeTexts[static_cast<int>(DisplayModeOfFlag(now))]);
        if (HideBumpLEDOfFlag(was) != HideBumpLEDOfFlag(now))
            lines.push_back(std::string("Hide bump due LED flashing: ") + (HideBumpLEDOfFlag(was) ? "on" : "off") +
                            " -> " + (HideBumpLEDOfFlag(now) ? "on" : "off"));
        if (lines.size() == count) // other bits of the flag
            lines.push_back(FieldLabel(*f) + " flags: " + std::to_string(was) + " -> " + std::to_string(now));
    }
    return lines;
}

std::vector<RCFGWriteRange> UserWriteRanges(const RDeviceCFG &cfg)
{
    std::vector<RCFGWriteRange> user;
    for (const RCFGWriteRange &r : CFGWriteRanges(cfg))
        if (std::strcmp(r.mStartKey, kKeyUnitWriteUserStart) == 0 || std::strcmp(r.mStartKey, kKeySensorWriteUserStart) == 0)
            user.push_back(r);
    return user;
}

bool FieldWithin(const RConfigField &field, const std::vector<RCFGWriteRange> &ranges)
{
    for (int a = field.mOffset; a < field.mOffset + field.mSize; ++a)
        if (!InRanges(a, ranges))
            return false;
    return true;
}

std::vector<const RConfigField *> FieldsWithin(const std::vector<RCFGWriteRange> &ranges)
{
    std::vector<const RConfigField *> fields;
    for (const RConfigField &f : kFields)
        if (FieldWithin(f, ranges))
            fields.push_back(&f);
    return fields;
}

bool ChooseFields(std::string_view choice, const RDeviceCFG &settings, std::vector<const RConfigField *> &fields,
                  std::string &error)
{
    fields.clear();
    if (choice == "user") {
        fields = FieldsWithin(UserWriteRanges(settings));
        return true;
    }
    if (choice == "all") {
        fields = FieldsWithin(CFGWriteRanges(settings));
        return true;
    }
    size_t from = 0;
    for (;;) {
        const size_t comma = std::min(choice.find(',', from), choice.size());
        const std::string_view name = choice.substr(from, comma - from);
        const RConfigField *f = FindConfigField(name);
        if (!f) {
            error = name.empty() ? "an empty field name in the list" : "no field is named " + std::string(name);
            fields.clear();
            return false;
        }
        if (std::find(fields.begin(), fields.end(), f) == fields.end())
            fields.push_back(f);
        if (comma == choice.size())
            break;
        from = comma + 1;
    }
    std::sort(fields.begin(), fields.end(), [](const RConfigField *a, const RConfigField *b) { return a->mOffset < b->mOffset; });
    return true;
}

RTamselCFG AfterWrite(const RTamselCFG &held, const RTamselCFG &sent, const std::vector<RCFGWriteRange> &ranges)
{
    RTamselCFG after = held;
    for (const RCFGWriteRange &r : ranges)
        ForEachByte(r, [&](int a) { Bytes(after)[a] = Bytes(sent)[a]; });
    return after;
}

std::vector<RCFGWriteRange> RangesToWrite(const RTamselCFG &held, const RTamselCFG &sent,
                                          const std::vector<RCFGWriteRange> &ranges)
{
    std::vector<RCFGWriteRange> needed;
    for (const RCFGWriteRange &r : ranges) {
        bool differs = false;
        ForEachByte(r, [&](int a) { differs = differs || Bytes(held)[a] != Bytes(sent)[a]; });
        if (differs)
            needed.push_back(r);
    }
    return needed;
}

std::vector<const RConfigField *> ReadBackDiffers(const RTamselCFG &written, const RTamselCFG &readBack,
                                                  const std::vector<RCFGWriteRange> &ranges)
{
    std::vector<const RConfigField *> fields;
    for (const RConfigField &f : kFields) {
        bool differs = false;
        for (int a = f.mOffset; a < f.mOffset + f.mSize && !differs; ++a)
            differs = InRanges(a, ranges) && Bytes(written)[a] != Bytes(readBack)[a];
        if (differs)
            fields.push_back(&f);
    }
    return fields;
}

std::string FieldNames(const std::vector<const RConfigField *> &fields)
{
    std::string names;
    for (const RConfigField *f : fields)
        names += (names.empty() ? "" : ", ") + std::string(f->mName);
    return names;
}
