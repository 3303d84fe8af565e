#include "model/config_form.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "model/convert.h"
#include "model/device_records.h"


// ---------------- editors ----------------

void RSpinEdit::SetRange(double rMin, double rMax)
{
    mMin = rMin;
    mMax = rMax < rMin ? rMin : rMax;
    SetValue(mValue);
}

void RSpinEdit::SetValue(double rValue)
{
    if (std::isnan(rValue))
        rValue = mMin;
    mValue = std::clamp(rValue, mMin, mMax);
}

void RTextEdit::SetText(std::string_view text)
{
    std::string t(text);
    if (mUpperCase)
        for (char &c : t)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
    if (mMaxLength > 0 && t.size() > static_cast<size_t>(mMaxLength))
        t.resize(static_cast<size_t>(mMaxLength));
    mText = std::move(t);
}

std::string RComboBox::Text() const
{
    if (mItemIndex < 0 || mItemIndex >= static_cast<int>(mItems.size()))
        return {};
    return mItems[static_cast<size_t>(mItemIndex)];
}

void RComboBox::Select(int nIndex)
{
    mItemIndex = (nIndex >= 0 && nIndex < static_cast<int>(mItems.size())) ? nIndex : -1;
}

ConfigForm::ConfigForm()
{
    const std::vector<std::string> modes(kDisplayModeTexts, kDisplayModeTexts + kDisplayModeCount);
    UserDispCombo.mItems = modes;
    UserOptDispCombo.mItems = modes;
    FactoryOptHibernateCombo.mItems = {"", kHibernateAllowText};
}

// ---------------- text rules ----------------

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool IsLower(char c) { return c >= 'a' && c <= 'z'; }

uint16_t TenthsFromView(const RSpinEdit &spin)
{
    return static_cast<uint16_t>(std::clamp<int64_t>(RoundToNearestEven(spin.mValue * 10.0), 0, 0xFFFF));
}

uint16_t WordFromView(const RSpinEdit &spin)
{
    return static_cast<uint16_t>(std::clamp<int64_t>(spin.IntValue(), 0, 0xFFFF));
}

int32_t Int32FromView(const RSpinEdit &spin)
{
    return static_cast<int32_t>(std::clamp<int64_t>(spin.IntValue(), INT32_MIN, INT32_MAX));
}

// The sensor type of a list position; 0 when nothing (or nothing known) is selected.
uint8_t SensorCodeFromView(const RComboBox &combo, const std::vector<RSensorType> &types)
{
    const int i = combo.mItemIndex;
    return (i >= 0 && i < static_cast<int>(types.size())) ? types[static_cast<size_t>(i)].mIndex : 0;
}

} // namespace

bool AcceptUserIdKey(char c)
{
    return c == 8 || c == 13 || c == ' ' || c == '-' || IsDigit(c) || IsUpper(c) || IsLower(c);
}

bool SerialMovesFocusToWrite(int nCursorPosition) { return nCursorPosition >= 10; }

std::string FilterUserIdText(std::string_view text)
{
    std::string out;
    for (char c : text)
        if (c != 8 && c != 13 && AcceptUserIdKey(c))
            out += IsLower(c) ? static_cast<char>(c - 'a' + 'A') : c;
    if (out.size() > 6)
        out.resize(6);
    return out;
}

std::string UserIdToText(const char (&field)[6])
{
    std::string text = CharFieldToStr(field);
    for (char &c : text)
        if (!(c == '-' || IsDigit(c) || IsUpper(c) || IsLower(c)))
            c = ' ';
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    const size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

void UserIdFromText(std::string_view text, char (&field)[6])
{
    const std::string fitted = FitText(false, 6, ' ', text);
    for (size_t i = 0; i < 6; ++i) {
        const char c = fitted[i];
        field[i] = (c == '-' || IsDigit(c) || IsUpper(c)) ? c : ' ';
    }
}

void SerialFromText(std::string_view text, char (&field)[10])
{
    const std::string fitted = FitText(false, 10, '0', text);
    for (size_t i = 0; i < 10; ++i) {
        const char c = fitted[i];
        // A byte beyond ASCII is a character of the detector's own code page,
        // never one typed in lower case: it stays, so a serial number read
        // from a detector is written back unchanged.
        field[i] = (IsDigit(c) || IsUpper(c) || static_cast<unsigned char>(c) >= 0x80) ? c : ' ';
    }
}

uint8_t HWVersionFromText(std::string_view text)
{
    const uint8_t v = static_cast<uint8_t>(static_cast<uint32_t>(TextToInt32(text)) & 0xFF);
    return v == 0 ? 1 : v;
}

std::string LifeLabelText(uint32_t nSeconds)
{
    const RMonthDay md = LifeToMonthDay(nSeconds);
    if (md.mMonths > 0)
        return std::to_string(md.mMonths) + " Months   " + std::to_string(md.mDays) + " Days";
    return std::string(12, ' ') + std::to_string(md.mDays) + " Days";
}

uint32_t LifeFromView(uint16_t nMonths, uint16_t nDays, bool &bCut)
{
    const uint64_t s = uint64_t{nMonths} * kSecondsPerMonth + uint64_t{nDays} * kSecondsPerDay;
    bCut = s > kMaxLifeSeconds;
    if (bCut)
        return kMaxLifeSeconds;
    return s > 0 ? static_cast<uint32_t>(s - 1) : 0;
}

// ---------------- sensor ranges ----------------

double AlarmEditorMinimum(const RSensorType &type) { return type.mMin > 0 ? type.mMin : 1.0; }

void ApplySensorRange(ConfigForm &form, const RSensorType &type)
{
    const double alarmMin = AlarmEditorMinimum(type);
    for (RSpinEdit *spin : {&form.UserHighAlarmSpin, &form.UserLowAlarmSpin, &form.UserOptHighAlarmSpin,
                            &form.UserOptLowAlarmSpin})
        spin->SetRange(alarmMin, type.mMax);
    for (RSpinEdit *spin : {&form.FatoryOptSpanGasSpin, &form.FatoryOptSensorMaxSpin, &form.FatoryOptSensorBaseSpin,
                            &form.FatoryOptDeadZoneSpin})
        spin->SetRange(type.mMin, type.mMax);
}

void UserOptSensorTypeComboChange(ConfigForm &form, int nIndex, const std::vector<RSensorType> &types)
{
    if (nIndex < 0 || nIndex >= static_cast<int>(types.size()))
        return;
    form.UserOptSensorTypeCombo.Select(nIndex);
    ApplySensorRange(form, types[static_cast<size_t>(nIndex)]);
}

// ---------------- the two directions ----------------

void StartConfigView(ConfigForm &form, const RTamselCFG &cfg, const std::vector<RSensorType> &types)
{
    form.UserSensorTypeCombo.mItems.clear();
    form.UserOptSensorTypeCombo.mItems.clear();
    for (const RSensorType &t : types) {
        form.UserSensorTypeCombo.mItems.push_back(t.mName);
        form.UserOptSensorTypeCombo.mItems.push_back(t.mName);
    }
    form.UserSensorTypeCombo.mItemIndex = -1;
    form.UserOptSensorTypeCombo.mItemIndex = -1;
    ConfigToView(cfg, form, types);
}

void ConfigToView(const RTamselCFG &cfg, ConfigForm &form, const std::vector<RSensorType> &types)
{
    const RTamselUnitCFG &u = cfg.mUnit;
    const RTamselSensorCFG &s = cfg.mSensor;

    // Sensor type first: its ranges bound the alarm and factory editors below.
    const int sensor = FindSensorType(s.mSensorType, types);
    form.UserSensorTypeCombo.Select(sensor);
    form.UserSensorTypeLabel = form.UserSensorTypeCombo.Text();
    form.UserOptSensorTypeCombo.Select(sensor);
    if (sensor >= 0)
        ApplySensorRange(form, types[static_cast<size_t>(sensor)]);

    // User layout.
    form.UserHWVersionLabel = HWVersionToStr(u.mHWVersion);
    form.UserSWVersionLabel = FWVersionToStr(u.mFWVersion);
    form.UserSerialLabel = CharFieldToStr(u.mSerial);
    form.UserLifeLabel = LifeLabelText(u.mLifeRemaining);
    form.UserHighAlarmSpin.SetValue(s.mAlarmHigh / 10.0);
    form.UserLowAlarmSpin.SetValue(s.mAlarmLow / 10.0);
    form.UserCalIntervalSpin.SetValue(static_cast<double>(RoundToNearestEven(s.mCalInterval / double(kSecondsPerDay))));
    form.UserBumpIntervalSpin.SetValue(s.mBumpInterval);
    form.UserIDEdit.SetText(UserIdToText(u.mUserID));
    form.UserTestIntervalSpin.SetValue(u.mTestInterval);
    form.UserDispCombo.Select(static_cast<int>(DisplayModeOfFlag(u.mUnitFlag)));
    form.UserHideBumpLEDCheck = HideBumpLEDOfFlag(u.mUnitFlag);

    // Their developer twins, each through the user-layout editor.
    const RMonthDay life = LifeToMonthDay(u.mLifeRemaining);
    form.UserOptHWVersionEdit.SetText(form.UserHWVersionLabel);
    form.UserOptSWVersionLabel = form.UserSWVersionLabel;
    form.UserOptSerialEdit.SetText(form.UserSerialLabel);
    form.UserOptMonthLifeSpin.SetValue(life.mMonths);
    form.UserOptDayLifeSpin.SetValue(life.mDays);
    form.UserOptHighAlarmSpin.SetValue(form.UserHighAlarmSpin.mValue);
    form.UserOptLowAlarmSpin.SetValue(form.UserLowAlarmSpin.mValue);
    form.UserOptCalIntervalSpin.SetValue(form.UserCalIntervalSpin.mValue);
    form.UserOptBumpIntervalSpin.SetValue(form.UserBumpIntervalSpin.mValue);
    form.UserOptTestIntervalSpin.SetValue(form.UserTestIntervalSpin.mValue);
    form.UserOptIDEdit.SetText(form.UserIDEdit.mText);
    form.UserOptDispCombo.Select(form.UserDispCombo.mItemIndex);
    form.UserOptHideBumpLEDCheck = form.UserHideBumpLEDCheck;

    // Factory controls.
    form.FactoryOptHibernateCombo.Select(u.mAllowSuspend == kSuspendAllowed ? 1 : 0);
    form.FatoryOptBatteryLimit1Spin.SetValue(u.mBatLimit[0]);
    form.FatoryOptBatteryLimit2Spin.SetValue(u.mBatLimit[1]);
    form.FatoryOptBatteryLimitStartupSpin.SetValue(u.mBatLimitStartUp);
    form.FatoryOptBatteryLimitSpin.SetValue(u.mBatLimitCritical);
    form.FatoryOptAlarmTimeLabel = CounterToStr(u.mAlarmTime);
    form.FatoryOptAlarmCountLabel = std::to_string(u.mAlarmCount);
    form.FatoryOptTestTimeLabel = CounterToStr(u.mTestTime);
    form.FatoryOptTestCountLabel = std::to_string(u.mTestCount);
    form.FatoryOptDeadZoneSpin.SetValue(s.mDeadZone / 10.0);
    form.FatoryOptSpanGasSpin.SetValue(s.mSpanGas / 10.0);
    form.FatoryOptSensorMaxSpin.SetValue(s.mSensorMax / 10.0);
    form.FatoryOptSensorBaseSpin.SetValue(s.mSensorBase / 10.0);
    form.FatoryOptTempComp1Spin.SetValue(s.mTempCompSpan[0]);
    form.FatoryOptTempComp2Spin.SetValue(s.mTempCompSpan[1]);
    form.FatoryOptTempComp3Spin.SetValue(s.mTempCompSpan[2]);
    form.FatoryOptZeroLabel = FormatFixed(s.mZero, 0);
    form.FatoryOptSpanLabel = FormatFixed(s.mSpan / 1000.0, 3);
    form.FatoryOptMinSpanLabel = FormatFixed(s.mMinSpan / 1000.0, 3);
    form.FatoryOptTauLabel = FormatFixed(s.mTau, 1);
    form.FatoryOptLastCalLabel = CounterToStr(s.mLastCal);
    form.FatoryOptPeakTimerLabel = CounterToStr(s.mPeakTimer);
    form.FatoryOptLastBumpTimerLabel = CounterToStr(s.mLastBump);
}

void ResetLifeEditors(ConfigForm &form)
{
    form.UserOptMonthLifeSpin.SetValue(24);
    form.UserOptDayLifeSpin.SetValue(0);
}

RViewResult ViewToConfig(const ConfigForm &form, RTamselCFG &cfg, bool forDevice, uint8_t nReadSW, bool bUserMode,
                         const std::vector<RSensorType> &types)
{
    RViewResult result;
    RTamselCFG r;
    if (bUserMode) {
        SetDefaultCFG(r);
        RTamselUnitCFG &u = r.mUnit;
        RTamselSensorCFG &s = r.mSensor;
        u.mUnitFlag = UnitFlagFromView(form.UserDispCombo.mItemIndex, form.UserHideBumpLEDCheck);
        UserIdFromText(form.UserIDEdit.mText, u.mUserID);
        u.mTestInterval = static_cast<uint8_t>(form.UserTestIntervalSpin.IntValue() & 0xFF);
        s.mAlarmHigh = TenthsFromView(form.UserHighAlarmSpin);
        s.mAlarmLow = TenthsFromView(form.UserLowAlarmSpin);
        const int64_t cal = form.UserCalIntervalSpin.IntValue() * kSecondsPerDay;
        s.mCalInterval = cal < 10 ? 0 : static_cast<uint32_t>(cal);
        s.mBumpInterval = WordFromView(form.UserBumpIntervalSpin);
        s.mSensorType = SensorCodeFromView(form.UserSensorTypeCombo, types);
    } else {
        r = cfg;
        RTamselUnitCFG &u = r.mUnit;
        RTamselSensorCFG &s = r.mSensor;
        std::memset(u.mDummy1, 0, sizeof u.mDummy1);
        std::memset(u.mDummy2, 0, sizeof u.mDummy2);
        std::memset(s.mDummy1, 0, sizeof s.mDummy1);

        // The user fields, from the developer layout's twins.
        u.mUnitFlag = UnitFlagFromView(form.UserOptDispCombo.mItemIndex, form.UserOptHideBumpLEDCheck);
        UserIdFromText(form.UserOptIDEdit.mText, u.mUserID);
        u.mTestInterval = static_cast<uint8_t>(form.UserOptTestIntervalSpin.IntValue() & 0xFF);
        s.mAlarmHigh = TenthsFromView(form.UserOptHighAlarmSpin);
        s.mAlarmLow = TenthsFromView(form.UserOptLowAlarmSpin);
        const int64_t cal = form.UserOptCalIntervalSpin.IntValue() * kSecondsPerDay;
        s.mCalInterval = cal < 10 ? 0 : static_cast<uint32_t>(cal);
        s.mBumpInterval = WordFromView(form.UserOptBumpIntervalSpin);
        s.mSensorType = SensorCodeFromView(form.UserOptSensorTypeCombo, types);

        // The developer fields.
        u.mAllowSuspend = form.FactoryOptHibernateCombo.mItemIndex == 1 ? kSuspendAllowed : kSuspendDenied;
        SerialFromText(form.UserOptSerialEdit.mText, u.mSerial);
        u.mBatLimit[0] = WordFromView(form.FatoryOptBatteryLimit1Spin);
        u.mBatLimit[1] = WordFromView(form.FatoryOptBatteryLimit2Spin);
        u.mBatLimitStartUp = WordFromView(form.FatoryOptBatteryLimitStartupSpin);
        u.mBatLimitCritical = WordFromView(form.FatoryOptBatteryLimitSpin);
        u.mHWVersion = HWVersionFromText(form.UserOptHWVersionEdit.mText);
        bool cut = false;
        u.mLifeRemaining = LifeFromView(WordFromView(form.UserOptMonthLifeSpin), WordFromView(form.UserOptDayLifeSpin), cut);
        result.mLifeCut = cut;
        result.mLifeMessage = cut && forDevice;
        s.mDeadZone = TenthsFromView(form.FatoryOptDeadZoneSpin);
        s.mSpanGas = TenthsFromView(form.FatoryOptSpanGasSpin);
        s.mSensorMax = TenthsFromView(form.FatoryOptSensorMaxSpin);
        s.mSensorBase = TenthsFromView(form.FatoryOptSensorBaseSpin);
        s.mTempCompSpan[0] = Int32FromView(form.FatoryOptTempComp1Spin);
        s.mTempCompSpan[1] = Int32FromView(form.FatoryOptTempComp2Spin);
        s.mTempCompSpan[2] = Int32FromView(form.FatoryOptTempComp3Spin);
    }
    if (!forDevice)
        r.mUnit.mFWVersion = nReadSW;
    cfg = r;
    return result;
}
