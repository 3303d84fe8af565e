// The record field by field: names and bytes, values and their texts, the
// comparison of two records and what the write ranges reach.
#include "model/config_diff.h"

#include <gtest/gtest.h>

#include <functional>

#include <cstring>

namespace {

RTamselCFG Sample()
{
    RTamselCFG cfg = DefaultCFG();
    std::memcpy(cfg.mUnit.mUserID, "CREW-B", 6);
    cfg.mSensor.mCalInterval = 180 * 86400;
    cfg.mSensor.mBumpInterval = 30;
    return cfg;
}

std::vector<std::string> Names(const std::vector<const RConfigField *> &fields)
{
    std::vector<std::string> names;
    for (const RConfigField *f : fields)
        names.push_back(f->mName);
    return names;
}

} // namespace

TEST(ConfigFields, CoverTheRecordOnceInOrderAndAreFoundByName)
{
    int next = 0;
    for (const RConfigField &f : ConfigFields()) {
        EXPECT_EQ(f.mOffset, next) << f.mName;
        EXPECT_EQ(f.mSize % f.mElementSize, 0) << f.mName;
        EXPECT_EQ(FindConfigField(f.mName), &f);
        next += f.mSize;
    }
    EXPECT_EQ(next, kCFGRecordSize);
    EXPECT_EQ(FindConfigField("mAlarmLow")->mOffset, kCFGSensorBase + static_cast<int>(offsetof(RTamselSensorCFG, mAlarmLow)));
    EXPECT_EQ(FindConfigField("mLastBump")->mOffset, kCFGSensorBase + static_cast<int>(offsetof(RTamselSensorCFG, mLastBump)));

    const struct {
        const char *mName;
        const char *mFound; // null: none
    } names[] = {
        {"mSensor.mAlarmHigh", "mAlarmHigh"}, {"mUnit.mSerial", "mSerial"}, {"mUnit.mAlarmHigh", nullptr},
        {"mSensor.mDummy1", "mSensor.mDummy1"}, {"mDummy1", nullptr}, {"mCRC", nullptr},
        {"malarmhigh", nullptr}, {"", nullptr},
    };
    for (const auto &row : names) {
        const RConfigField *f = FindConfigField(row.mName);
        EXPECT_EQ(f ? std::string(f->mName) : "none", row.mFound ? row.mFound : "none") << row.mName;
    }
    EXPECT_STREQ(FieldAt(0)->mName, "mUnitFlag");
    EXPECT_STREQ(FieldAt(65)->mName, "mAlarmHigh");
    EXPECT_STREQ(FieldAt(127)->mName, "mSensor.mCRC");
    EXPECT_EQ(FieldAt(128), nullptr);
    EXPECT_EQ(FieldAt(-1), nullptr);
}

TEST(ConfigFields, ValuesRoundTripAndRefuseWhatDoesNotFit)
{
    RTamselCFG cfg = Sample();
    const struct {
        const char *mField;
        RFieldValue mValue;
        const char *mError; // null: taken
    } rows[] = {
        {"mAlarmHigh", {{200}, ""}, nullptr},
        {"mCalInterval", {{4294967295}, ""}, nullptr},
        {"mTempCompSpan", {{-2147483648LL, 0, 2147483647}, ""}, nullptr},
        {"mBatLimit", {{0, 65535}, ""}, nullptr},
        {"mUserID", {{}, "AB"}, nullptr},
        {"mSerial", {{}, std::string("A\0B", 3)}, nullptr},
        {"mUserID", {{}, "ABCDEFG"}, "mUserID holds at most 6 characters"},
        {"mUserID", {{1}, ""}, "mUserID holds characters, not numbers"},
        {"mAlarmHigh", {{}, "15"}, "mAlarmHigh holds one number"},
        {"mAlarmHigh", {{65536}, ""}, "mAlarmHigh: 65536 is outside 0 to 65535"},
        {"mTestInterval", {{-1}, ""}, "mTestInterval: -1 is outside 0 to 255"},
        {"mTempCompSpan", {{1, 2}, ""}, "mTempCompSpan holds 3 numbers"},
        {"mTempCompSpan", {{2147483648LL, 0, 0}, ""}, "mTempCompSpan: 2147483648 is outside -2147483648 to 2147483647"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.mField);
        const RConfigField &f = *FindConfigField(row.mField);
        const RTamselCFG before = cfg;
        std::string error;
        EXPECT_EQ(SetFieldValue(cfg, f, row.mValue, error), row.mError == nullptr);
        if (row.mError) {
            EXPECT_EQ(error, row.mError);
            EXPECT_EQ(std::memcmp(&before, &cfg, sizeof cfg), 0);
        } else {
            EXPECT_EQ(GetFieldValue(cfg, f), row.mValue);
        }
    }
    // A shorter text ends in zero bytes: the field holds nothing of the old one.
    EXPECT_EQ(std::string(cfg.mUnit.mUserID, 6), std::string("AB\0\0\0\0", 6));
    // Trailing blanks are characters like any other.
    EXPECT_EQ(GetFieldValue(DefaultCFG(), *FindConfigField("mUserID")).mText, "      ");
}

TEST(ConfigFields, TextsCarryTheirUnits)
{
    RTamselCFG cfg = Sample();
    RTamselCFG oxygen = cfg;
    oxygen.mSensor.mSensorType = 4;
    oxygen.mSensor.mAlarmLow = 195;
    RTamselCFG other = cfg;
    other.mUnit.mUnitFlag = 0x07;
    other.mUnit.mAllowSuspend = kSuspendAllowed;
    other.mUnit.mFWVersion = 14;
    other.mUnit.mHWVersion = 5;
    other.mSensor.mCalInterval = 1000;
    other.mSensor.mBumpInterval = 1;
    other.mSensor.mLastCal = 63072001;
    other.mSensor.mSensorType = 9;
    other.mUnit.mLifeRemaining = 2628000 + 86400 * 3;
    const std::vector<RSensorType> types = BuiltInSensorTypes();
    const struct {
        const RTamselCFG *mCfg;
        const char *mField;
        const char *mText;
    } rows[] = {
        {&cfg, "mUnitFlag", "1 (Life Remaining (+ Sensor Reading when gas applied))"},
        {&other, "mUnitFlag", "7 (Sensor Reading, Hide bump due LED flashing)"},
        {&cfg, "mUserID", "\"CREW-B\""},
        {&cfg, "mTestInterval", "20 h"},
        {&cfg, "mAllowSuspend", "255 (not allowed)"},
        {&other, "mAllowSuspend", "128 (Allow suspend)"},
        {&cfg, "mSerial", "\"SH10000000\""},
        {&cfg, "mBatLimit", "[649, 649]"},
        {&other, "mHWVersion", "005"},
        {&other, "mFWVersion", "1.4"},
        {&cfg, "mLifeRemaining", "63072000 s (24 Months 0 Days)"},
        {&other, "mLifeRemaining", "2887200 s (1 Month 4 Days)"},
        {&cfg, "mAlarmTime", "0 s"},
        {&cfg, "mAlarmHigh", "15.0 ppm"},
        {&oxygen, "mAlarmLow", "19.5 %"},
        {&other, "mAlarmLow", "10.0"}, // a sensor type the settings do not know
        {&cfg, "mCalInterval", "180 days"},
        {&other, "mCalInterval", "1000 s"},
        {&cfg, "mBumpInterval", "30 days"},
        {&other, "mBumpInterval", "1 day"},
        {&cfg, "mSensorType", "1 (H2S)"},
        {&other, "mSensorType", "9"},
        {&cfg, "mTempCompSpan", "[-229832, -554, -163383]"},
        {&cfg, "mSpan", "5.561"},
        {&cfg, "mTau", "5.0"},
        {&other, "mLastCal", "---"},
        {&cfg, "mSensor.mCRC", "0x0000"},
    };
    for (const auto &row : rows)
        EXPECT_EQ(FieldValueText(*FindConfigField(row.mField), *row.mCfg, types), row.mText) << row.mField;

    RTamselCFG odd = cfg;
    std::memcpy(odd.mUnit.mUserID, "A\"\x01\xE9\\ ", 6);
    EXPECT_EQ(FieldValueText(*FindConfigField("mUserID"), odd, types), "\"A\\\"\\x01\\xE9\\\\ \"");
}

TEST(ConfigFields, DiffListsEachChangedFieldOnceInRecordOrder)
{
    const std::vector<RSensorType> types = BuiltInSensorTypes();
    const RTamselCFG before = Sample();
    RTamselCFG after = before;
    after.mSensor.mAlarmHigh = 200;
    after.mUnit.mUserID[5] = 'C';
    after.mSensor.mTempCompSpan[2] = 0; // one element of an array: the field once
    EXPECT_EQ(DiffLines(before, after, types),
              (std::vector<std::string>{"mUserID: \"CREW-B\" -> \"CREW-C\"", "mAlarmHigh: 15.0 ppm -> 20.0 ppm",
                                        "mTempCompSpan: [-229832, -554, -163383] -> [-229832, -554, 0]"}));
    EXPECT_TRUE(DiffLines(before, before, types).empty());
}

TEST(ConfigFields, LabelledDiffNamesFieldsAsTheWindowShowsThem)
{
    const std::vector<RSensorType> types = BuiltInSensorTypes();
    const RTamselCFG before = Sample();
    const struct {
        const char *mWhat;
        std::function<void(RTamselCFG &)> mChange;
        std::vector<std::string> mLines;
    } cases[] = {
        {"alarm and user ID",
         [](RTamselCFG &c) {
             c.mSensor.mAlarmHigh = 200;
             c.mUnit.mUserID[5] = 'C';
         },
         {"User ID: \"CREW-B\" -> \"CREW-C\"", "High Alarm: 15.0 ppm -> 20.0 ppm"}},
        {"display mode",
         [](RTamselCFG &c) {
             c.mUnit.mUnitFlag = UnitFlagFromView(static_cast<int>(EDisplayMode::LifeRemaining),
                                                  HideBumpLEDOfFlag(c.mUnit.mUnitFlag));
         },
         {std::string("Display: ") + kDisplayModeTexts[static_cast<int>(DisplayModeOfFlag(before.mUnit.mUnitFlag))] +
          " -> Life Remaining"}},
        {"bump LED", [](RTamselCFG &c) { c.mUnit.mUnitFlag ^= kUnitFlagHideBumpLED; },
         {std::string("Hide bump due LED flashing: ") + (HideBumpLEDOfFlag(before.mUnit.mUnitFlag) ? "on -> off" : "off -> on")}},
        {"reserved bytes", [](RTamselCFG &c) { c.mSensor.mCRC ^= 1; }, {"mSensor.mCRC: 0x" }},
    };
    for (const auto &c : cases) {
        RTamselCFG after = before;
        c.mChange(after);
        const std::vector<std::string> lines = LabelledDiffLines(before, after, types);
        ASSERT_EQ(lines.size(), c.mLines.size()) << c.mWhat;
        for (size_t i = 0; i < lines.size(); ++i)
            EXPECT_EQ(lines[i].rfind(c.mLines[i], 0), 0u) << c.mWhat << ": " << lines[i];
    }
    EXPECT_TRUE(LabelledDiffLines(before, before, types).empty());
}

TEST(ConfigFields, ChoicesFollowTheWriteRanges)
{
    RDeviceCFG user; // the user layout's ranges: bytes 0..7 and 64..73
    RDeviceCFG dev = user;
    dev.mUnitWriteUserSize = 0;
    dev.mUnitWriteFactorySize = 10; // mSerial
    dev.mSensorWriteFactorySize = 5; // mSensorType .. mSpanGas
    RDeviceCFG split = user;
    split.mUnitWriteUserSize = 4; // half of mUserID
    const std::vector<std::string> userFields = {"mUnitFlag",   "mUserID",     "mTestInterval", "mAlarmHigh",
                                                 "mAlarmLow",   "mCalInterval", "mBumpInterval"};
    const struct {
        const RDeviceCFG *mSettings;
        const char *mChoice;
        std::vector<std::string> mFields;
        const char *mError;
    } rows[] = {
        {&user, "user", userFields, nullptr},
        {&user, "all", userFields, nullptr},
        {&dev, "user", {"mAlarmHigh", "mAlarmLow", "mCalInterval", "mBumpInterval"}, nullptr},
        {&dev, "all", {"mSerial", "mAlarmHigh", "mAlarmLow", "mCalInterval", "mBumpInterval", "mSensorType", "mDeadZone", "mSpanGas"}, nullptr},
        {&split, "user", {"mUnitFlag", "mAlarmHigh", "mAlarmLow", "mCalInterval", "mBumpInterval"}, nullptr},
        {&user, "mAlarmLow,mUserID,mAlarmLow", {"mUserID", "mAlarmLow"}, nullptr},
        {&user, "mSensor.mAlarmHigh", {"mAlarmHigh"}, nullptr},
        {&user, "mAlarmLow,mAlarmHi", {}, "no field is named mAlarmHi"},
        {&user, "mAlarmLow,", {}, "an empty field name in the list"},
        {&user, "", {}, "an empty field name in the list"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.mChoice);
        std::vector<const RConfigField *> fields;
        std::string error;
        EXPECT_EQ(ChooseFields(row.mChoice, *row.mSettings, fields, error), row.mError == nullptr);
        EXPECT_EQ(Names(fields), row.mFields);
        EXPECT_EQ(error, row.mError ? row.mError : "");
    }
}

TEST(ConfigFields, WritesAndReadBacksThroughTheRanges)
{
    RDeviceCFG settings;
    const std::vector<RCFGWriteRange> ranges = CFGWriteRanges(settings);
    const RTamselCFG held = Sample();
    RTamselCFG sent = DefaultCFG(); // what Write Device sends in the user layout: mostly defaults
    sent.mSensor.mAlarmHigh = 200;

    // Only the ranges reach the detector: its serial and counters stay, the
    // user fields become the sent ones.
    const RTamselCFG after = AfterWrite(held, sent, ranges);
    EXPECT_EQ(Names(ChangedFields(held, after)),
              (std::vector<std::string>{"mUserID", "mAlarmHigh", "mCalInterval", "mBumpInterval"}));
    EXPECT_EQ(std::memcmp(after.mUnit.mSerial, held.mUnit.mSerial, 10), 0);

    // Only ranges with a byte to change are written.
    RTamselCFG onlySensor = held;
    onlySensor.mSensor.mBumpInterval = 14;
    const std::vector<RCFGWriteRange> needed = RangesToWrite(held, onlySensor, ranges);
    ASSERT_EQ(needed.size(), 1u);
    EXPECT_EQ(needed[0].mAddress, 64);
    EXPECT_TRUE(RangesToWrite(held, held, ranges).empty());

    // A read-back names the fields whose written bytes differ, and nothing
    // outside the ranges counts.
    RTamselCFG readBack = onlySensor;
    readBack.mSensor.mAlarmHigh ^= 0x0100;
    readBack.mSensor.mSpanGas = 1; // outside every range
    readBack.mSensor.mCRC = 0x1234;
    EXPECT_EQ(FieldNames(ReadBackDiffers(onlySensor, readBack, needed)), "mAlarmHigh");
    EXPECT_TRUE(ReadBackDiffers(onlySensor, onlySensor, needed).empty());
}
