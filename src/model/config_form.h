#pragma once
// The configuration view as a plain value: what each editor of both layouts
// holds (value with its range and decimals, text, list position, check
// state). ConfigToView fills it from a record, ViewToConfig builds a record
// from it; the window only binds its widgets to these members (each member
// carries the name of the control it stands for) and writes back what the
// user typed or picked.
//
// ConfigToView always fills both layouts so that they agree; ViewToConfig
// reads only the controls of the current layout ("User..." in the user layout,
// "UserOpt...", "FatoryOpt..." and "FactoryOpt..." in the developer layout).
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
inline constexpr const char *kHibernateAllowText = "Allow suspend"; // second entry of FactoryOptHibernateCombo
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
    std::string UserHWVersionLabel;                 // hardware version, three digits ("005")
    std::string UserSWVersionLabel;                 // firmware version, tens "." units ("1.4")
    std::string UserSerialLabel;                    // serial number, up to the first zero byte
    std::string UserLifeLabel;                      // "m Months   d Days", or 12 blanks + "d Days"
    std::string UserSensorTypeLabel;                // name of the selected sensor type, or empty
    RComboBox UserSensorTypeCombo;                  // hidden list: SensorTypes names, list position = table index
    RSpinEdit UserHighAlarmSpin{0, 100, 1, 0};      // high alarm, sensor unit (1 decimal; sensor alarm range)
    RSpinEdit UserLowAlarmSpin{0, 100, 1, 0};       // low alarm, sensor unit (1 decimal; sensor alarm range)
    RSpinEdit UserCalIntervalSpin{0, 365, 0, 0};    // calibration interval, days
    RSpinEdit UserBumpIntervalSpin{0, 365, 0, 0};   // bump interval, days
    RTextEdit UserIDEdit{"1234", 6, true};          // user ID: upper case, at most 6 characters
    RSpinEdit UserTestIntervalSpin{6, 24, 0, 20};   // self-test interval, hours
    RComboBox UserDispCombo;                        // display mode: kDisplayModeTexts in order
    bool UserHideBumpLEDCheck = false;              // "Hide bump due LED flashing"

    // ---------------- developer layout, page "User Options" ("UserOpt...") ----------------
    std::string UserOptIDLabel;                     // product name of the last detector read (empty until then)
    RTextEdit UserOptHWVersionEdit{"", 0, false};   // hardware version text, no limit
    std::string UserOptSWVersionLabel;              // firmware version text
    RTextEdit UserOptSerialEdit{"", 10, false};     // serial number, at most 10 characters, case kept
    RSpinEdit UserOptMonthLifeSpin{0, 24, 0, 0};    // life remaining, months
    RSpinEdit UserOptDayLifeSpin{0, 31, 0, 0};      // life remaining, days
    RComboBox UserOptSensorTypeCombo;               // sensor type: SensorTypes names, list position = table index
    RSpinEdit UserOptHighAlarmSpin{0, 100, 1, 0};   // high alarm, sensor unit (1 decimal; sensor alarm range)
    RSpinEdit UserOptLowAlarmSpin{0, 100, 1, 0};    // low alarm, sensor unit (1 decimal; sensor alarm range)
    RSpinEdit UserOptCalIntervalSpin{0, 365, 0, 0}; // calibration interval, days
    RSpinEdit UserOptBumpIntervalSpin{0, 365, 0, 0};// bump interval, days
    RTextEdit UserOptIDEdit{"", 6, true};           // user ID: upper case, at most 6 characters
    RSpinEdit UserOptTestIntervalSpin{6, 24, 0, 20};// self-test interval, hours
    RComboBox UserOptDispCombo;                     // display mode: kDisplayModeTexts in order
    bool UserOptHideBumpLEDCheck = false;           // "Hide bump due LED flashing"

    // ---------------- developer layout, page "Factory Options" ----------------
    RSpinEdit FatoryOptBatteryLimitSpin{0, 1024, 0, 0};        // "Critical": mBatLimitCritical
    RSpinEdit FatoryOptBatteryLimitStartupSpin{0, 1024, 0, 0}; // "Startup": mBatLimitStartUp
    RSpinEdit FatoryOptBatteryLimit1Spin{0, 1024, 0, 0};       // "~-10℃": mBatLimit[0]
    RSpinEdit FatoryOptBatteryLimit2Spin{0, 1024, 0, 0};       // "- 10℃~ ": mBatLimit[1]
    std::string FatoryOptAlarmTimeLabel;            // mAlarmTime in decimal, or "---"
    std::string FatoryOptAlarmCountLabel;           // mAlarmCount in decimal
    std::string FatoryOptTestTimeLabel;             // mTestTime in decimal, or "---"
    std::string FatoryOptTestCountLabel;            // mTestCount in decimal
    RComboBox FactoryOptHibernateCombo;             // "" and "Allow suspend" (mAllowSuspend 0xFF / 0x80)
    RSpinEdit FatoryOptSpanGasSpin{0, 100, 1, 0};   // span gas, sensor unit (1 decimal; sensor range)
    RSpinEdit FatoryOptSensorMaxSpin{0, 100, 1, 0}; // sensor maximum (1 decimal; sensor range)
    RSpinEdit FatoryOptSensorBaseSpin{0, 100, 1, 0};// sensor base (1 decimal; sensor range)
    RSpinEdit FatoryOptDeadZoneSpin{0, 100, 1, 0};  // dead zone (1 decimal; sensor range)
    RSpinEdit FatoryOptTempComp1Spin{INT32_MIN, INT32_MAX, 0, 0}; // temperature compensation "#1" (signed 32 bit)
    RSpinEdit FatoryOptTempComp2Spin{INT32_MIN, INT32_MAX, 0, 0}; // "#2"
    RSpinEdit FatoryOptTempComp3Spin{INT32_MIN, INT32_MAX, 0, 0}; // "#3"
    std::string FatoryOptZeroLabel;                 // mZero as "#0"
    std::string FatoryOptSpanLabel;                 // mSpan / 1000 as "#0.000"
    std::string FatoryOptMinSpanLabel;              // mMinSpan / 1000 as "#0.000"
    std::string FatoryOptTauLabel;                  // mTau as "#0.0"
    std::string FatoryOptLastCalLabel;              // mLastCal as "#0", or "---"
    std::string FatoryOptPeakTimerLabel;            // mPeakTimer as "#0", or "---"
    std::string FatoryOptLastBumpTimerLabel;        // mLastBump as "#0", or "---"

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
// The window must not treat its own binding of UserOptSensorTypeCombo as a
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

// The user picked nIndex in UserOptSensorTypeCombo: selects it and applies
// that type's ranges. Nothing happens for a position outside the table.
void UserOptSensorTypeComboChange(ConfigForm &form, int nIndex, const std::vector<RSensorType> &types);

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
