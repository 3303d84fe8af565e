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
    mUserDisplayMode.mItems = modes;
    mDevDisplayMode.mItems = modes;
    mAllowSuspend.mItems = {"", kHibernateAllowText};
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
    for (RSpinEdit *spin : {&form.mUserAlarmHigh, &form.mUserAlarmLow, &form.mDevAlarmHigh,
                            &form.mDevAlarmLow})
        spin->SetRange(alarmMin, type.mMax);
    for (RSpinEdit *spin : {&form.mSpanGas, &form.mSensorMax, &form.mSensorBase,
                            &form.mDeadZone})
        spin->SetRange(type.mMin, type.mMax);
}

void DevSensorTypePicked(ConfigForm &form, int nIndex, const std::vector<RSensorType> &types)
{
    if (nIndex < 0 || nIndex >= static_cast<int>(types.size()))
        return;
    form.mDevSensorType.Select(nIndex);
    ApplySensorRange(form, types[static_cast<size_t>(nIndex)]);
}

// ---------------- the two directions ----------------

void StartConfigView(ConfigForm &form, const RTamselCFG &cfg, const std::vector<RSensorType> &types)
{
    form.mUserSensorType.mItems.clear();
    form.mDevSensorType.mItems.clear();
    for (const RSensorType &t : types) {
        form.mUserSensorType.mItems.push_back(t.mName);
        form.mDevSensorType.mItems.push_back(t.mName);
    }
    form.mUserSensorType.mItemIndex = -1;
    form.mDevSensorType.mItemIndex = -1;
    ConfigToView(cfg, form, types);
}

void ConfigToView(const RTamselCFG &cfg, ConfigForm &form, const std::vector<RSensorType> &types)
{
    const RTamselUnitCFG &u = cfg.mUnit;
    const RTamselSensorCFG &s = cfg.mSensor;

    // Sensor type first: its ranges bound the alarm and factory editors below.
    const int sensor = FindSensorType(s.mSensorType, types);
    form.mUserSensorType.Select(sensor);
    form.mUserSensorName = form.mUserSensorType.Text();
    form.mDevSensorType.Select(sensor);
    if (sensor >= 0)
        ApplySensorRange(form, types[static_cast<size_t>(sensor)]);

    // User layout.
    form.mUserHWVersion = HWVersionToStr(u.mHWVersion);
    form.mUserSWVersion = FWVersionToStr(u.mFWVersion);
    form.mUserSerial = CharFieldToStr(u.mSerial);
    form.mUserLife = LifeLabelText(u.mLifeRemaining);
    form.mUserAlarmHigh.SetValue(s.mAlarmHigh / 10.0);
    form.mUserAlarmLow.SetValue(s.mAlarmLow / 10.0);
    form.mUserCalInterval.SetValue(static_cast<double>(RoundToNearestEven(s.mCalInterval / double(kSecondsPerDay))));
    form.mUserBumpInterval.SetValue(s.mBumpInterval);
    form.mUserUserId.SetText(UserIdToText(u.mUserID));
    form.mUserTestInterval.SetValue(u.mTestInterval);
    form.mUserDisplayMode.Select(static_cast<int>(DisplayModeOfFlag(u.mUnitFlag)));
    form.mUserHideBumpLed = HideBumpLEDOfFlag(u.mUnitFlag);

    // Their developer twins, each through the user-layout editor.
    const RMonthDay life = LifeToMonthDay(u.mLifeRemaining);
    form.mDevHWVersion.SetText(form.mUserHWVersion);
    form.mDevSWVersion = form.mUserSWVersion;
    form.mDevSerial.SetText(form.mUserSerial);
    form.mDevLifeMonths.SetValue(life.mMonths);
    form.mDevLifeDays.SetValue(life.mDays);
    form.mDevAlarmHigh.SetValue(form.mUserAlarmHigh.mValue);
    form.mDevAlarmLow.SetValue(form.mUserAlarmLow.mValue);
    form.mDevCalInterval.SetValue(form.mUserCalInterval.mValue);
    form.mDevBumpInterval.SetValue(form.mUserBumpInterval.mValue);
    form.mDevTestInterval.SetValue(form.mUserTestInterval.mValue);
    form.mDevUserId.SetText(form.mUserUserId.mText);
    form.mDevDisplayMode.Select(form.mUserDisplayMode.mItemIndex);
    form.mDevHideBumpLed = form.mUserHideBumpLed;

    // Factory controls.
    form.mAllowSuspend.Select(u.mAllowSuspend == kSuspendAllowed ? 1 : 0);
    form.mBatteryCold.SetValue(u.mBatLimit[0]);
    form.mBatteryWarm.SetValue(u.mBatLimit[1]);
    form.mBatteryStartUp.SetValue(u.mBatLimitStartUp);
    form.mBatteryCritical.SetValue(u.mBatLimitCritical);
    form.mAlarmTime = CounterToStr(u.mAlarmTime);
    form.mAlarmCount = std::to_string(u.mAlarmCount);
    form.mTestTime = CounterToStr(u.mTestTime);
    form.mTestCount = std::to_string(u.mTestCount);
    form.mDeadZone.SetValue(s.mDeadZone / 10.0);
    form.mSpanGas.SetValue(s.mSpanGas / 10.0);
    form.mSensorMax.SetValue(s.mSensorMax / 10.0);
    form.mSensorBase.SetValue(s.mSensorBase / 10.0);
    form.mTempComp1.SetValue(s.mTempCompSpan[0]);
    form.mTempComp2.SetValue(s.mTempCompSpan[1]);
    form.mTempComp3.SetValue(s.mTempCompSpan[2]);
    form.mZero = FormatFixed(s.mZero, 0);
    form.mSpan = FormatFixed(s.mSpan / 1000.0, 3);
    form.mMinSpan = FormatFixed(s.mMinSpan / 1000.0, 3);
    form.mTau = FormatFixed(s.mTau, 1);
    form.mLastCal = CounterToStr(s.mLastCal);
    form.mPeakTimer = CounterToStr(s.mPeakTimer);
    form.mLastBump = CounterToStr(s.mLastBump);
}

void ResetLifeEditors(ConfigForm &form)
{
    form.mDevLifeMonths.SetValue(24);
    form.mDevLifeDays.SetValue(0);
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
        u.mUnitFlag = UnitFlagFromView(form.mUserDisplayMode.mItemIndex, form.mUserHideBumpLed);
        UserIdFromText(form.mUserUserId.mText, u.mUserID);
        u.mTestInterval = static_cast<uint8_t>(form.mUserTestInterval.IntValue() & 0xFF);
        s.mAlarmHigh = TenthsFromView(form.mUserAlarmHigh);
        s.mAlarmLow = TenthsFromView(form.mUserAlarmLow);
        const int64_t cal = form.mUserCalInterval.IntValue() * kSecondsPerDay;
        s.mCalInterval = cal < 10 ? 0 : static_cast<uint32_t>(cal);
        s.mBumpInterval = WordFromView(form.mUserBumpInterval);
        s.mSensorType = SensorCodeFromView(form.mUserSensorType, types);
    } else {
        r = cfg;
        RTamselUnitCFG &u = r.mUnit;
        RTamselSensorCFG &s = r.mSensor;
        std::memset(u.mDummy1, 0, sizeof u.mDummy1);
        std::memset(u.mDummy2, 0, sizeof u.mDummy2);
        std::memset(s.mDummy1, 0, sizeof s.mDummy1);

        // The user fields, from the developer layout's twins.
        u.mUnitFlag = UnitFlagFromView(form.mDevDisplayMode.mItemIndex, form.mDevHideBumpLed);
        UserIdFromText(form.mDevUserId.mText, u.mUserID);
        u.mTestInterval = static_cast<uint8_t>(form.mDevTestInterval.IntValue() & 0xFF);
        s.mAlarmHigh = TenthsFromView(form.mDevAlarmHigh);
        s.mAlarmLow = TenthsFromView(form.mDevAlarmLow);
        const int64_t cal = form.mDevCalInterval.IntValue() * kSecondsPerDay;
        s.mCalInterval = cal < 10 ? 0 : static_cast<uint32_t>(cal);
        s.mBumpInterval = WordFromView(form.mDevBumpInterval);
        s.mSensorType = SensorCodeFromView(form.mDevSensorType, types);

        // The developer fields.
        u.mAllowSuspend = form.mAllowSuspend.mItemIndex == 1 ? kSuspendAllowed : kSuspendDenied;
        SerialFromText(form.mDevSerial.mText, u.mSerial);
        u.mBatLimit[0] = WordFromView(form.mBatteryCold);
        u.mBatLimit[1] = WordFromView(form.mBatteryWarm);
        u.mBatLimitStartUp = WordFromView(form.mBatteryStartUp);
        u.mBatLimitCritical = WordFromView(form.mBatteryCritical);
        u.mHWVersion = HWVersionFromText(form.mDevHWVersion.mText);
        bool cut = false;
        u.mLifeRemaining = LifeFromView(WordFromView(form.mDevLifeMonths), WordFromView(form.mDevLifeDays), cut);
        result.mLifeCut = cut;
        result.mLifeMessage = cut && forDevice;
        s.mDeadZone = TenthsFromView(form.mDeadZone);
        s.mSpanGas = TenthsFromView(form.mSpanGas);
        s.mSensorMax = TenthsFromView(form.mSensorMax);
        s.mSensorBase = TenthsFromView(form.mSensorBase);
        s.mTempCompSpan[0] = Int32FromView(form.mTempComp1);
        s.mTempCompSpan[1] = Int32FromView(form.mTempComp2);
        s.mTempCompSpan[2] = Int32FromView(form.mTempComp3);
    }
    if (!forDevice)
        r.mUnit.mFWVersion = nReadSW;
    cfg = r;
    return result;
}
