// The configuration view: record -> editors -> record for both layouts, the
// editors' ranges and decimals, rounding, the life-remaining rule and the
// text rules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "model/config_form.h"
#include "model/device_records.h"

namespace {

const std::vector<RSensorType> kTypes = BuiltInSensorTypes(); // H2S 1 (0..100), CO 2 (0..300), O2 4 (0..30)

ConfigForm FormOf(const RTamselCFG &cfg, const std::vector<RSensorType> &types = kTypes)
{
    ConfigForm form;
    StartConfigView(form, cfg, types);
    return form;
}

RTamselCFG Build(const ConfigForm &form, bool userMode, bool forDevice = true, const RTamselCFG &start = DefaultCFG(),
                 uint8_t readSW = 0, RViewResult *result = nullptr)
{
    RTamselCFG cfg = start;
    const RViewResult r = ViewToConfig(form, cfg, forDevice, readSW, userMode, kTypes);
    if (result)
        *result = r;
    return cfg;
}

const uint8_t *Bytes(const RTamselCFG &cfg) { return reinterpret_cast<const uint8_t *>(&cfg); }

} // namespace

TEST(ConfigFormTest, RoundToNearestEven)
{
    const struct {
        double in;
        int64_t out;
    } rows[] = {{0.5, 0}, {1.5, 2}, {2.5, 2}, {-2.5, -2}, {2.5001, 3}, {-7.0, -7}};
    for (const auto &r : rows)
        EXPECT_EQ(RoundToNearestEven(r.in), r.out) << r.in;
    EXPECT_EQ(RoundToNearestEven(std::nan("")), 0);
}

TEST(ConfigFormTest, DisplayModeAndHideBumpBothLayouts)
{
    const struct {
        uint8_t flag;
        int mode;
        bool hide;
        uint8_t built;
    } rows[] = {
        {0x06, 2, true, 0x02},  // bit 0 clear: "Life Remaining"
        {0x05, 1, false, 0x05}, // "Sensor Reading"
        {0x01, 0, false, 0x01}, // first mode
        {0x03, 0, true, 0x03},  // first mode with the LED option
        {0x04, 2, false, 0x00}, // bit 2 alone is ignored
        {0xFD, 1, false, 0x05}, // unused bits are cleared on the way back
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.flag);
        RTamselCFG cfg = DefaultCFG();
        cfg.mUnit.mUnitFlag = r.flag;
        const ConfigForm form = FormOf(cfg);
        EXPECT_EQ(form.mUserDisplayMode.mItemIndex, r.mode);
        EXPECT_EQ(form.mDevDisplayMode.mItemIndex, r.mode);
        EXPECT_EQ(form.mUserDisplayMode.Text(), kDisplayModeTexts[r.mode]);
        EXPECT_EQ(form.mUserHideBumpLed, r.hide);
        EXPECT_EQ(form.mDevHideBumpLed, r.hide);
        EXPECT_EQ(+Build(form, true).mUnit.mUnitFlag, r.built);
        EXPECT_EQ(+Build(form, false, true, cfg).mUnit.mUnitFlag, r.built);
    }
    ConfigForm none = FormOf(DefaultCFG());
    none.mUserDisplayMode.mItemIndex = -1;
    none.mUserHideBumpLed = true;
    EXPECT_EQ(+Build(none, true).mUnit.mUnitFlag, 0x02);
}

TEST(ConfigFormTest, UserIdShownAndBuilt)
{
    const struct {
        const char field[7]; // 6 bytes used
        const char *shown;
    } rows[] = {
        {"  AB1 ", "AB1"},
        {"A_B*C-", "A B C-"}, // other characters become blanks, inner blanks stay
        {"ab12\0Z", "AB12"},  // up to the first zero byte; the editor keeps upper case
        {"      ", ""},
    };
    for (const auto &r : rows) {
        RTamselCFG cfg = DefaultCFG();
        std::memcpy(cfg.mUnit.mUserID, r.field, 6);
        const ConfigForm form = FormOf(cfg);
        EXPECT_EQ(form.mUserUserId.mText, r.shown);
        EXPECT_EQ(form.mDevUserId.mText, r.shown);
    }

    ConfigForm form = FormOf(DefaultCFG());
    EXPECT_EQ(FilterUserIdText("ab_c9"), "ABC9"); // typed in lower case, shown in upper case
    form.mUserUserId.SetText("ABCDE");
    EXPECT_EQ(std::string(Build(form, true).mUnit.mUserID, 6), "ABCDE ");
    form.mDevUserId.SetText("abcdefgh"); // the editor upper-cases and cuts to 6
    EXPECT_EQ(form.mDevUserId.mText, "ABCDEF");
    EXPECT_EQ(std::string(Build(form, false).mUnit.mUserID, 6), "ABCDEF");
    form.mUserUserId.mText = "a.b"; // whatever reached the editor: only "-", digits, A-Z survive
    EXPECT_EQ(std::string(Build(form, true).mUnit.mUserID, 6), "      ");
}

TEST(ConfigFormTest, KeyFilters)
{
    for (char c : std::string("azAZ09- \b\r"))
        EXPECT_TRUE(AcceptUserIdKey(c)) << int(c);
    for (char c : std::string("_.@[`{\t\xE9"))
        EXPECT_FALSE(AcceptUserIdKey(c)) << int(c);
    EXPECT_FALSE(SerialMovesFocusToWrite(9));
    EXPECT_TRUE(SerialMovesFocusToWrite(10));
}

TEST(ConfigFormTest, SerialShownAndBuilt)
{
    RTamselCFG cfg = DefaultCFG();
    std::memcpy(cfg.mUnit.mSerial, "NV12\0XXXXX", 10);
    ConfigForm form = FormOf(cfg);
    EXPECT_EQ(form.mUserSerial, "NV12");
    EXPECT_EQ(form.mDevSerial.mText, "NV12");

    const struct {
        const char *text;
        const char *built;
    } rows[] = {
        {"NV12", "NV12000000"},     // padded with "0"
        {"nv12", "  12000000"},     // the editor keeps lower case, which builds as blanks
        {"AB-1/2", "AB 1 20000"},   // only digits and A-Z
        {"", "0000000000"},
        {"\xC9t\xE9", "\xC9 \xE9" "0000000"}, // bytes beyond ASCII are kept, one character each
    };
    for (const auto &r : rows) {
        form.mDevSerial.SetText(r.text);
        EXPECT_EQ(std::string(Build(form, false, true, cfg).mUnit.mSerial, 10), r.built) << r.text;
    }
    form.mDevSerial.SetText("ABCDEFGHIJKL");
    EXPECT_EQ(form.mDevSerial.mText, "ABCDEFGHIJ");
    // The serial number is a developer field: the user layout builds the default.
    EXPECT_EQ(std::string(Build(form, true).mUnit.mSerial, 10), "SH10000000");
}

TEST(ConfigFormTest, HardwareVersionRule)
{
    const struct {
        const char *text;
        uint8_t built;
    } rows[] = {{"005", 5}, {"300", 44}, {"0", 1}, {"1", 1}, {"abc", 1}, {"256", 1}, {"12x", 12}, {" 7 ", 7}};
    ConfigForm form = FormOf(DefaultCFG());
    for (const auto &r : rows) {
        form.mDevHWVersion.SetText(r.text);
        EXPECT_EQ(+Build(form, false).mUnit.mHWVersion, r.built) << r.text;
    }
}

TEST(ConfigFormTest, LifeRemainingFromView)
{
    const struct {
        uint16_t months, days;
        bool forDevice;
        uint32_t built;
        bool cut, message;
    } rows[] = {
        {0, 0, true, 0, false, false},
        {0, 1, true, 86399, false, false},
        {24, 0, true, 63071999, false, false}, // one second less than the maximum
        {24, 1, true, 63072000, true, true},
        {24, 1, false, 63072000, true, false}, // for a file: cut silently
        {24, 31, true, 63072000, true, true},
        {12, 5, true, 12 * 2628000u + 5 * 86400u - 1, false, false},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(testing::Message() << r.months << "/" << r.days << " " << r.forDevice);
        ConfigForm form = FormOf(DefaultCFG());
        form.mDevLifeMonths.SetValue(r.months);
        form.mDevLifeDays.SetValue(r.days);
        RViewResult result;
        const RTamselCFG cfg = Build(form, false, r.forDevice, DefaultCFG(), 0, &result);
        EXPECT_EQ(+cfg.mUnit.mLifeRemaining, r.built);
        EXPECT_EQ(result.mLifeCut, r.cut);
        EXPECT_EQ(result.mLifeMessage, r.message);
        // The user layout never builds the life remaining: the default stays.
        EXPECT_EQ(+Build(form, true, r.forDevice).mUnit.mLifeRemaining, kMaxLifeSeconds);
    }
    ConfigForm form = FormOf(DefaultCFG());
    form.mDevLifeMonths.SetValue(3);
    form.mDevLifeDays.SetValue(17);
    ResetLifeEditors(form);
    EXPECT_EQ(form.mDevLifeMonths.mValue, 24);
    EXPECT_EQ(form.mDevLifeDays.mValue, 0);
    EXPECT_EQ(LifeLabelText(63072000), "24 Months   0 Days");
    EXPECT_EQ(LifeLabelText(86400), "            1 Days"); // twelve blanks without months
}

TEST(ConfigFormTest, SensorRangesBoundTheEditors)
{
    // Alarm editors: [mMin if above 0 else 1, mMax]; factory sensor editors [mMin, mMax].
    const struct {
        uint8_t sensor;
        uint16_t high, low, spanGas, base;
        double showHigh, showLow, showSpanGas, showBase;
        double alarmMin, alarmMax;
    } rows[] = {
        {1, 150, 100, 250, 0, 15.0, 10.0, 25.0, 0.0, 1, 100},
        {1, 0, 2000, 1500, 0, 1.0, 100.0, 100.0, 0.0, 1, 100},   // out of range: the nearest bound
        {2, 2500, 0, 2999, 0, 250.0, 1.0, 299.9, 0.0, 1, 300},
        {4, 195, 235, 209, 0, 19.5, 23.5, 20.9, 0.0, 1, 30},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(int(r.sensor));
        RTamselCFG cfg = DefaultCFG();
        cfg.mSensor.mSensorType = r.sensor;
        cfg.mSensor.mAlarmHigh = r.high;
        cfg.mSensor.mAlarmLow = r.low;
        cfg.mSensor.mSpanGas = r.spanGas;
        cfg.mSensor.mSensorBase = r.base;
        const ConfigForm form = FormOf(cfg);
        EXPECT_EQ(form.mUserAlarmLow.mMin, r.alarmMin);
        EXPECT_EQ(form.mDevAlarmHigh.mMax, r.alarmMax);
        EXPECT_EQ(form.mSpanGas.mMin, 0);
        EXPECT_EQ(form.mSpanGas.mMax, r.alarmMax);
        EXPECT_EQ(form.mUserAlarmHigh.mValue, r.showHigh);
        EXPECT_EQ(form.mDevAlarmHigh.mValue, r.showHigh);
        EXPECT_EQ(form.mUserAlarmLow.mValue, r.showLow);
        EXPECT_EQ(form.mDevAlarmLow.mValue, r.showLow);
        EXPECT_DOUBLE_EQ(form.mSpanGas.mValue, r.showSpanGas);
        EXPECT_EQ(form.mSensorBase.mValue, r.showBase);
        EXPECT_EQ(form.mUserSensorName, kTypes[static_cast<size_t>(FindSensorType(r.sensor, kTypes))].mName);
        // Back in tenths.
        const RTamselCFG built = Build(form, false, true, cfg);
        EXPECT_EQ(+built.mSensor.mAlarmHigh, RoundToNearestEven(r.showHigh * 10));
        EXPECT_EQ(+built.mSensor.mSpanGas, RoundToNearestEven(r.showSpanGas * 10));
        EXPECT_EQ(+built.mSensor.mSensorType, r.sensor);
    }

    // A sensor type with a lower bound above 0 gives the alarms that bound.
    std::vector<RSensorType> types = kTypes;
    types.push_back({"LEL", 7, "%", "SL", 60, 5.0f, 50.0f});
    RTamselCFG cfg = DefaultCFG();
    cfg.mSensor.mSensorType = 7;
    cfg.mSensor.mAlarmHigh = 10;
    const ConfigForm form = FormOf(cfg, types);
    EXPECT_EQ(form.mUserAlarmHigh.mMin, 5.0);
    EXPECT_EQ(form.mUserAlarmHigh.mValue, 5.0);
    EXPECT_EQ(form.mDeadZone.mMin, 5.0);
}

TEST(ConfigFormTest, UnknownSensorKeepsRangesAndBuildsZero)
{
    RTamselCFG co = DefaultCFG();
    co.mSensor.mSensorType = 2;
    ConfigForm form = FormOf(co);
    RTamselCFG unknown = DefaultCFG();
    unknown.mSensor.mSensorType = 9;
    ConfigToView(unknown, form, kTypes);
    EXPECT_EQ(form.mUserSensorType.mItemIndex, -1);
    EXPECT_EQ(form.mDevSensorType.mItemIndex, -1);
    EXPECT_EQ(form.mUserSensorName, "");
    EXPECT_EQ(form.mDevAlarmHigh.mMax, 300); // the CO ranges stay
    EXPECT_EQ(+Build(form, true).mSensor.mSensorType, 0);
    EXPECT_EQ(+Build(form, false, true, unknown).mSensor.mSensorType, 0);
}

TEST(ConfigFormTest, PickingASensorTypeAppliesItsRange)
{
    ConfigForm form = FormOf(DefaultCFG()); // H2S
    form.mDevAlarmHigh.SetValue(80);
    DevSensorTypePicked(form, 2, kTypes); // O2: 0..30
    EXPECT_EQ(form.mDevSensorType.mItemIndex, 2);
    EXPECT_EQ(form.mDevAlarmHigh.mMax, 30);
    EXPECT_EQ(form.mDevAlarmHigh.mValue, 30); // brought into the new range
    EXPECT_EQ(form.mUserSensorType.mItemIndex, 0); // the other list is not touched
    DevSensorTypePicked(form, -1, kTypes);    // no selection: nothing happens
    EXPECT_EQ(form.mDevSensorType.mItemIndex, 2);
    EXPECT_EQ(+Build(form, false).mSensor.mSensorType, 4);
    EXPECT_EQ(+Build(form, false).mSensor.mAlarmHigh, 300);
}

TEST(ConfigFormTest, TenthsRoundHalvesToEven)
{
    ConfigForm form = FormOf(DefaultCFG());
    const struct {
        double value;
        uint16_t tenths;
    } rows[] = {{1.25, 12}, {1.75, 18}, {2.25, 22}, {15.0, 150}, {2.3, 23}};
    for (const auto &r : rows) {
        form.mUserAlarmHigh.SetValue(r.value);
        form.mDevAlarmLow.SetValue(r.value);
        form.mDeadZone.SetValue(r.value);
        EXPECT_EQ(+Build(form, true).mSensor.mAlarmHigh, r.tenths) << r.value;
        const RTamselCFG dev = Build(form, false);
        EXPECT_EQ(+dev.mSensor.mAlarmLow, r.tenths) << r.value;
        EXPECT_EQ(+dev.mSensor.mDeadZone, r.tenths) << r.value;
    }
}

TEST(ConfigFormTest, IntervalsInDays)
{
    const struct {
        uint32_t seconds;
        double days;
        uint32_t built;
    } rows[] = {
        {0, 0, 0},
        {86400, 1, 86400},
        {43200, 0, 0},           // half a day rounds to even: 0
        {129600, 2, 172800},     // a day and a half: 2
        {86400 * 400, 365, 86400u * 365}, // beyond the editor: its bound
    };
    for (const auto &r : rows) {
        RTamselCFG cfg = DefaultCFG();
        cfg.mSensor.mCalInterval = r.seconds;
        const ConfigForm form = FormOf(cfg);
        EXPECT_EQ(form.mUserCalInterval.mValue, r.days) << r.seconds;
        EXPECT_EQ(form.mDevCalInterval.mValue, r.days) << r.seconds;
        EXPECT_EQ(+Build(form, true).mSensor.mCalInterval, r.built) << r.seconds;
        EXPECT_EQ(+Build(form, false, true, cfg).mSensor.mCalInterval, r.built) << r.seconds;
    }
    RTamselCFG cfg = DefaultCFG();
    cfg.mSensor.mBumpInterval = 500;
    cfg.mUnit.mTestInterval = 0;
    const ConfigForm form = FormOf(cfg);
    EXPECT_EQ(form.mDevBumpInterval.mValue, 365);
    EXPECT_EQ(form.mUserTestInterval.mValue, 6); // range 6..24
    EXPECT_EQ(form.mDevTestInterval.mValue, 6);
    EXPECT_EQ(+Build(form, true).mUnit.mTestInterval, 6);
}

TEST(ConfigFormTest, FactoryControls)
{
    RTamselCFG cfg = DefaultCFG();
    cfg.mUnit.mAllowSuspend = 0x80;
    cfg.mUnit.mAlarmTime = 63072001;
    cfg.mUnit.mTestTime = 63072000;
    cfg.mUnit.mAlarmCount = 7;
    cfg.mUnit.mTestCount = 65535;
    cfg.mSensor.mLastCal = 63072000;
    cfg.mSensor.mPeakTimer = 0xFFFFFFFF;
    cfg.mSensor.mLastBump = 12;
    ConfigForm form = FormOf(cfg);
    EXPECT_EQ(form.mAllowSuspend.Text(), "Allow suspend");
    EXPECT_EQ(form.mAlarmTime, "---");
    EXPECT_EQ(form.mTestTime, "63072000");
    EXPECT_EQ(form.mLastCal, "63072000");
    EXPECT_EQ(form.mPeakTimer, "---");
    EXPECT_EQ(form.mLastBump, "12");
    EXPECT_EQ(form.mSpan, "5.561");
    EXPECT_EQ(form.mMinSpan, "3.440");
    EXPECT_EQ(form.mTau, "5.0");
    EXPECT_EQ(form.mTempComp1.mValue, -229832);

    EXPECT_EQ(+Build(form, false, true, cfg).mUnit.mAllowSuspend, 0x80);
    form.mAllowSuspend.Select(0);
    EXPECT_EQ(+Build(form, false, true, cfg).mUnit.mAllowSuspend, 0xFF);
    cfg.mUnit.mAllowSuspend = 0x81;
    EXPECT_EQ(FormOf(cfg).mAllowSuspend.mItemIndex, 0);

    form.mBatteryCold.SetValue(2000); // range 0..1024
    form.mTempComp3.SetValue(-1);
    const RTamselCFG built = Build(form, false, true, cfg);
    EXPECT_EQ(+built.mUnit.mBatLimit[0], 1024);
    EXPECT_EQ(+built.mSensor.mTempCompSpan[2], -1);
}

TEST(ConfigFormTest, DeveloperRoundTripKeepsEveryByteTheViewDoesNotOwn)
{
    RTamselCFG cfg = DefaultCFG();
    // Bytes no editor owns get distinctive values.
    cfg.mUnit.mAlarmTime = 0x11223344;
    cfg.mUnit.mTestTime = 0x55667788;
    cfg.mUnit.mAlarmCount = 0x99AA;
    cfg.mUnit.mTestCount = 0xBBCC;
    cfg.mUnit.mPEventLog = 0x5A;
    cfg.mUnit.mCRC = 0xA55A;
    cfg.mUnit.mFWVersion = 23;
    std::memset(cfg.mUnit.mDummy1, 0xEE, sizeof cfg.mUnit.mDummy1);
    std::memset(cfg.mUnit.mDummy2, 0xDD, sizeof cfg.mUnit.mDummy2);
    std::memset(cfg.mSensor.mDummy1, 0xCC, sizeof cfg.mSensor.mDummy1);
    cfg.mSensor.mZero = 0x1234;
    cfg.mSensor.mSpan = 0x4321;
    cfg.mSensor.mTau = 0x0F0F;
    cfg.mSensor.mLastCal = 0xFFFFFFFF;
    cfg.mSensor.mPeakTimer = 0x01020304;
    cfg.mSensor.mMinSpan = 0x0A0B;
    cfg.mSensor.mLastBump = 0x05060708;
    cfg.mSensor.mCRC = 0x5AA5;
    // Owned fields inside their editors' ranges.
    cfg.mUnit.mUnitFlag = 0x07;
    cfg.mUnit.mAllowSuspend = 0x80;
    cfg.mUnit.mHWVersion = 9;
    cfg.mSensor.mCalInterval = 30 * 86400;
    cfg.mSensor.mBumpInterval = 14;
    cfg.mSensor.mSensorBase = 7;

    const ConfigForm form = FormOf(cfg);
    for (bool forDevice : {true, false}) {
        SCOPED_TRACE(forDevice);
        const RTamselCFG built = Build(form, false, forDevice, cfg, 31);
        RTamselCFG expected = cfg;
        std::memset(expected.mUnit.mDummy1, 0, sizeof expected.mUnit.mDummy1);
        std::memset(expected.mUnit.mDummy2, 0, sizeof expected.mUnit.mDummy2);
        std::memset(expected.mSensor.mDummy1, 0, sizeof expected.mSensor.mDummy1);
        const RMonthDay md = LifeToMonthDay(cfg.mUnit.mLifeRemaining);
        bool cut = false;
        expected.mUnit.mLifeRemaining = LifeFromView(static_cast<uint16_t>(md.mMonths), static_cast<uint16_t>(md.mDays), cut);
        if (!forDevice)
            expected.mUnit.mFWVersion = 31;
        for (int i = 0; i < kCFGRecordSize; ++i)
            EXPECT_EQ(Bytes(built)[i], Bytes(expected)[i]) << "record byte " << i;
    }
}

TEST(ConfigFormTest, UserLayoutStartsFromTheDefaultRecord)
{
    // The start-up view builds back the default record byte for byte.
    const RTamselCFG def = DefaultCFG();
    const ConfigForm start = FormOf(def);
    EXPECT_EQ(start.mUserTestInterval.mValue, 20);
    EXPECT_EQ(std::memcmp(Bytes(Build(start, true)), Bytes(def), sizeof def), 0);
    RTamselCFG dev = Build(start, false, true, def);
    EXPECT_EQ(+dev.mUnit.mLifeRemaining, kMaxLifeSeconds - 1); // 24 months and 0 days
    EXPECT_EQ(+dev.mUnit.mHWVersion, 1); // "000" builds 1
    dev.mUnit.mLifeRemaining = kMaxLifeSeconds;
    dev.mUnit.mHWVersion = 0;
    EXPECT_EQ(std::memcmp(Bytes(dev), Bytes(def), sizeof def), 0);

    // A record read from a detector: only the user fields come back, the rest is the default.
    RTamselCFG read = def;
    std::memcpy(read.mUnit.mSerial, "NV00012345", 10);
    read.mUnit.mAlarmCount = 3;
    read.mUnit.mLifeRemaining = 1000;
    read.mUnit.mFWVersion = 14;
    read.mSensor.mAlarmHigh = 200;
    read.mSensor.mSpanGas = 300;
    read.mSensor.mSensorType = 2;
    const ConfigForm form = FormOf(read);
    for (bool forDevice : {true, false}) {
        const RTamselCFG built = Build(form, true, forDevice, read, 14);
        RTamselCFG expected = def;
        expected.mSensor.mAlarmHigh = 200;
        expected.mSensor.mSensorType = 2;
        expected.mUnit.mFWVersion = forDevice ? 0 : 14; // Write File stores FReadSW
        for (int i = 0; i < kCFGRecordSize; ++i)
            EXPECT_EQ(Bytes(built)[i], Bytes(expected)[i]) << "record byte " << i << " forDevice " << forDevice;
    }
}

TEST(ConfigFormTest, SerialBeyondAsciiRoundTrips)
{
    // A serial number with a byte beyond ASCII, as a detector may carry it:
    // shown in both layouts as ten characters and built back unchanged, trip after trip.
    const std::string serial = "\xFFSH1234567";
    RTamselCFG cfg = DefaultCFG();
    std::memcpy(cfg.mUnit.mSerial, serial.data(), 10);
    for (int trip = 0; trip < 2; ++trip) {
        const ConfigForm form = FormOf(cfg);
        EXPECT_EQ(form.mUserSerial, serial);
        EXPECT_EQ(form.mDevSerial.mText, serial);
        cfg = Build(form, false, true, cfg);
        EXPECT_EQ(std::string(cfg.mUnit.mSerial, 10), serial) << trip;
    }
}
