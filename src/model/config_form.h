#pragma once
// The configuration as the editors hold it, as a plain value: for each field
// of both layouts its value with its range and decimals, text, list position
// or check state. ConfigToView fills it from a record, ViewToConfig builds a
// record from it; the window binds its own controls to these members and
// writes back what the user typed or picked. The members are named for the
// field and the layout (mUser...: the user layout; mDev... and the factory
// fields: the developer layout), never for a control.
//
// ConfigToView always fills both layouts so that they agree; ViewToConfig
// reads only the fields of the current layout.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/config_record.h"
#include "model/convert.h"
#include "model/settings_types.h"

// A number editor. The value always lies within [mMin, mMax] (a typed value
// outside the range is brought to its nearest bound, so no negative value
// where the lower bound is 0). The value is held as given: the decimals only
// say how the editor shows it (0: an integer editor).
struct RSpinEdit {
    double mMin = 0;      // lower bound
    double mMax = 100;    // upper bound (never below mMin)
    int mDecimals = 0;    // decimals shown; 0 for the integer editors
    double mValue = 0;    // the value, within the range

    // Sets the range (a maximum below the minimum becomes the minimum) and
    // brings the value into it.
    void SetRange(double rMin, double rMax);
    // Sets the value, brought into the range; NaN is taken as the minimum.
    void SetValue(double rValue);
    // The value as an integer (halves to even).
    int64_t IntValue() const { return RoundToNearestEven(mValue); }
};

// A one-line text editor.
struct RTextEdit {
    std::string mText;       // the text: one byte per character (Latin-1 in the widgets)
    int mMaxLength = 0;      // at most this many characters; 0 = no limit
    bool mUpperCase = false; // letters are shown (and kept) in upper case

    // Sets the text as the editor would hold it: upper-cased when mUpperCase,
    // cut to mMaxLength.
    void SetText(std::string_view text);
};

// A choice list.
struct RComboBox {
    std::vector<std::string> mItems; // the entries, in order
    int mItemIndex = -1;             // selected position; -1 = no selection

    // The visible text: the selected entry, or empty.
    std::string Text() const;
    // Selects nIndex; any position outside the list clears the selection.
    void Select(int nIndex);
};

// Texts of the fixed lists.
inline constexpr const char *kHibernateAllowText = "Allow suspend"; // second entry of mAllowSuspend
// Caption and text of the one validation message (an information box).
inline constexpr const char *kLifeMessageCaption = "Check Life Remaining";
inline constexpr const char *kLifeMessageText =
    "Life Remaining Value over than define value\rMake default value... check Life Remaining Value";

// What an action asks the window to give the input focus to next.
enum class EFocusRequest {
    None,
    SerialNumber, // the developer layout's serial number editor, ready for the next unit's serial
};

struct ConfigForm {
    // ---------------- user layout ("User...") ----------------
    std::string mUserHWVersion;                 // hardware version, three digits ("005")
    std::string mUserSWVersion;                 // firmware version, tens "." units ("1.4")
    std::string mUserSerial;                    // serial number, up to the first zero byte
    std::string mUserLife;                      // "m Months   d Days", or 12 blanks + "d Days"
    std::string mUserSensorName;                // name of the selected sensor type, or empty
    RComboBox mUserSensorType;                  // hidden list: SensorTypes names, list position = table index
    RSpinEdit mUserAlarmHigh{0, 100, 1, 0};      // high alarm, sensor unit (1 decimal; sensor alarm range)
    RSpinEdit mUserAlarmLow{0, 100, 1, 0};       // low alarm, sensor unit (1 decimal; sensor alarm range)
    RSpinEdit mUserCalInterval{0, 365, 0, 0};    // calibration interval, days
    RSpinEdit mUserBumpInterval{0, 365, 0, 0};   // bump interval, days
    RTextEdit mUserUserId{"1234", 6, true};          // user ID: upper case, at most 6 characters
    RSpinEdit mUserTestInterval{6, 24, 0, 20};   // self-test interval, hours
    RComboBox mUserDisplayMode;                        // display mode: kDisplayModeTexts in order
    bool mUserHideBumpLed = false;              // "Hide bump due LED flashing"

    // ---------------- developer layout, page "User Options" ("UserOpt...") ----------------
    std::string mDevProductName;                     // product name of the last detector read (empty until then)
    RTextEdit mDevHWVersion{"", 0, false};   // hardware version text, no limit
    std::string mDevSWVersion;              // firmware version text
    RTextEdit mDevSerial{"", 10, false};     // serial number, at most 10 characters, case kept
    RSpinEdit mDevLifeMonths{0, 24, 0, 0};    // life remaining, months
    RSpinEdit mDevLifeDays{0, 31, 0, 0};      // life remaining, days
    RComboBox mDevSensorType;               // sensor type: SensorTypes names, list position = table index
    RSpinEdit mDevAlarmHigh{0, 100, 1, 0};   // high alarm, sensor unit (1 decimal; sensor alarm range)
    RSpinEdit mDevAlarmLow{0, 100, 1, 0};    // low alarm, sensor unit (1 decimal; sensor alarm range)
    RSpinEdit mDevCalInterval{0, 365, 0, 0}; // calibration interval, days
    RSpinEdit mDevBumpInterval{0, 365, 0, 0};// bump interval, days
    RTextEdit mDevUserId{"", 6, true};           // user ID: upper case, at most 6 characters
    RSpinEdit mDevTestInterval{6, 24, 0, 20};// self-test interval, hours
    RComboBox mDevDisplayMode;                     // display mode: kDisplayModeTexts in order
    bool mDevHideBumpLed = false;           // "Hide bump due LED flashing"

    // ---------------- developer layout, page "Factory Options" ----------------
    RSpinEdit mBatteryCritical{0, 1024, 0, 0};        // "Critical": mBatLimitCritical
    RSpinEdit mBatteryStartUp{0, 1024, 0, 0}; // "Startup": mBatLimitStartUp
    RSpinEdit mBatteryCold{0, 1024, 0, 0};       // "~-10℃": mBatLimit[0]
    RSpinEdit mBatteryWarm{0, 1024, 0, 0};       // "- 10℃~ ": mBatLimit[1]
    std::string mAlarmTime;            // mAlarmTime in decimal, or "---"
    std::string mAlarmCount;           // mAlarmCount in decimal
    std::string mTestTime;             // mTestTime in decimal, or "---"
    std::string mTestCount;            // mTestCount in decimal
    RComboBox mAllowSuspend;             // "" and "Allow suspend" (mAllowSuspend 0xFF / 0x80)
    RSpinEdit mSpanGas{0, 100, 1, 0};   // span gas, sensor unit (1 decimal; sensor range)
    RSpinEdit mSensorMax{0, 100, 1, 0}; // sensor maximum (1 decimal; sensor range)
    RSpinEdit mSensorBase{0, 100, 1, 0};// sensor base (1 decimal; sensor range)
    RSpinEdit mDeadZone{0, 100, 1, 0};  // dead zone (1 decimal; sensor range)
    RSpinEdit mTempComp1{INT32_MIN, INT32_MAX, 0, 0}; // temperature compensation "#1" (signed 32 bit)
    RSpinEdit mTempComp2{INT32_MIN, INT32_MAX, 0, 0}; // "#2"
    RSpinEdit mTempComp3{INT32_MIN, INT32_MAX, 0, 0}; // "#3"
    std::string mZero;                 // mZero as "#0"
    std::string mSpan;                 // mSpan / 1000 as "#0.000"
    std::string mMinSpan;              // mMinSpan / 1000 as "#0.000"
    std::string mTau;                  // mTau as "#0.0"
    std::string mLastCal;              // mLastCal as "#0", or "---"
    std::string mPeakTimer;            // mPeakTimer as "#0", or "---"
    std::string mLastBump;        // mLastBump as "#0", or "---"

    // ---------------- requests to the window ----------------
    EFocusRequest mFocusRequest = EFocusRequest::None; // what should take the input focus now; the window clears it

    ConfigForm();
};

// ---- the two directions ----

// The start-up step: fills both sensor-type lists with the names of `types`
// in table order (list position = table index), then ConfigToView(cfg).
void StartConfigView(ConfigForm &form, const RTamselCFG &cfg, const std::vector<RSensorType> &types);

// Shows cfg in every control of both layouts. The sensor type is selected
// first (and the sensor ranges applied when it is known), then the user
// layout is filled and each value copied to its developer twin, so a record
// value outside an editor's range reaches both layouts as the nearest bound.
// The window must not treat its own binding of mDevSensorType as a
// user's pick (the list is "disabled while it is set").
void ConfigToView(const RTamselCFG &cfg, ConfigForm &form, const std::vector<RSensorType> &types);

// What ViewToConfig reports besides the record.
struct RViewResult {
    bool mLifeCut = false;     // the life remaining was above 730 days and was cut to 63072000
    bool mLifeMessage = false; // mLifeCut while building for the detector: the caller sets the life
                               // editors to 24 and 0 (ResetLifeEditors) and shows the information
                               // box kLifeMessageText captioned kLifeMessageCaption
};

// Builds a record from the controls of the current layout into cfg.
// On entry cfg is the record being edited (FTamselCFG): the developer layout
// starts from it (reserved bytes cleared), the user layout starts from the
// default record and sets only the user fields. mFWVersion becomes nReadSW
// when forDevice is false and is left as the starting record has it when
// true. The CRC words are not computed.
RViewResult ViewToConfig(const ConfigForm &form, RTamselCFG &cfg, bool forDevice, uint8_t nReadSW,
                         bool bUserMode, const std::vector<RSensorType> &types);

// The life editors after a cut life remaining: 24 months, 0 days.
void ResetLifeEditors(ConfigForm &form);

// Sets the ranges of the sensor-dependent editors from one sensor type: the
// four alarm editors get [mMin if above 0 else 1, mMax], the four factory
// sensor editors [mMin, mMax]. Values are brought into the new ranges.
void ApplySensorRange(ConfigForm &form, const RSensorType &type);
// The lowest alarm set point the alarm editors take for a sensor type: its
// minimum, at least 1.0 of its unit.
double AlarmEditorMinimum(const RSensorType &type);

// The user picked nIndex in mDevSensorType: selects it and applies
// that type's ranges. Nothing happens for a position outside the table.
void DevSensorTypePicked(ConfigForm &form, int nIndex, const std::vector<RSensorType> &types);

// ---- text rules (pure) ----

// Key filter of both user ID editors: backspace (8), Enter (13), blank, "-",
// digits, A to Z and a to z pass; every other character is dropped.
bool AcceptUserIdKey(char c);
// The serial editor takes every key (lower case stays lower case and builds
// as blanks); after each key, when the cursor stands after the 10th
// character, the focus moves to the developer layout's Write Device button.
bool SerialMovesFocusToWrite(int nCursorPosition);
// A pasted or typed text as a user ID editor keeps it: rejected characters
// dropped, upper case, at most 6 characters.
std::string FilterUserIdText(std::string_view text);

// mUserID shown: bytes up to the first zero (at most 6), every character other
// than "-", digits, A-Z, a-z as a blank, leading and trailing blanks removed.
std::string UserIdToText(const char (&field)[6]);
// mUserID built: padded with blanks or cut to 6, every character other than
// "-", digits and A-Z as a blank.
void UserIdFromText(std::string_view text, char (&field)[6]);
// mSerial built: padded with "0" or cut to 10 characters (one byte each),
// every ASCII character other than digits and A-Z as a blank; bytes from 0x80
// up are kept as they are.
void SerialFromText(std::string_view text, char (&field)[10]);
// mHWVersion built: the leading integer, low 8 bits; 0 gives 1.
uint8_t HWVersionFromText(std::string_view text);
// The user-layout life label for a life remaining in seconds.
std::string LifeLabelText(uint32_t nSeconds);
// mLifeRemaining built from the two life editors (16-bit values):
// months * 2628000 + days * 86400; above 63072000 it is cut to 63072000
// (bCut set), otherwise a value above 0 loses one second.
uint32_t LifeFromView(uint16_t nMonths, uint16_t nDays, bool &bCut);
