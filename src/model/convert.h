#pragma once
// The shared value conversions: texts for record values, and numbers from
// typed or stored texts. All pure apart from GetWorkDir and WaitSeconds.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Time base of the detector's second counters.
inline constexpr uint32_t kSecondsPerDay = 86400;
inline constexpr uint32_t kSecondsPerMonth = 2628000; // 365/12 days
inline constexpr uint32_t kMaxLifeSeconds = 63072000; // 24 months

// Removes leading and trailing blanks and control characters (bytes 0x00..0x20).
std::string TrimText(std::string_view text);

// Normalises a text. Both modes trim it first.
//  1: the leading integer ("-" then a digit run), e.g. " 007" -> "7", "12abc" -> "12",
//     "abc" -> "0"; a run too large for 32 bits clamps to INT32_MAX / INT32_MIN.
//  2: the leading decimal (as mode 1, keeping the first "."), written back as
//     "#0.########" with "." as separator, e.g. "12.50" -> "12.5", ".5" -> "0.5".
// Any other mode gives the trimmed text. Never throws.
std::string ConvertText(uint8_t nMode, std::string_view text);

// ConvertText mode 1 as a number (never throws).
int32_t TextToInt32(std::string_view text);
// ConvertText mode 2 as a number (never throws; beyond the double range gives +-DBL_MAX).
double TextToDouble(std::string_view text);

// The text brought to exactly nWidth characters: padded with cPad in front
// (bPadLeft) or behind, or cut to its first nWidth characters.
std::string FitText(bool bPadLeft, int nWidth, char cPad, std::string_view text);

// Splits a trimmed text at a delimiter into at most nCount parts. A part keeps
// the blanks before its delimiter; the rest after each delimiter is trimmed.
// Text past the last part taken is dropped. Missing parts are empty.
// An empty delimiter never matches.
std::vector<std::string> SplitText(std::string_view text, std::string_view delimiter, int nCount);

// ConvertText mode 1, low 16 bits as unsigned, clamped to nMin..nMax.
uint16_t StrToWordRange(std::string_view text, uint16_t nMin, uint16_t nMax);

// The current folder with a trailing "/" ("/" when it cannot be had).
std::string GetWorkDir();
// The folder rule on its own: cwd with cSeparator appended when it lacks one;
// an empty cwd gives the root ("C:\" for a backslash separator, "/" otherwise).
std::string WorkDirFrom(std::string_view cwd, char cSeparator = '/');

// Waits rSeconds (steady clock), calling processMessages once per pass and
// sleeping briefly between passes. 0 or less (or NaN) returns at once.
void WaitSeconds(float rSeconds, const std::function<void()> &processMessages = {});

// 5 -> "005", 123 -> "123".
std::string HWVersionToStr(uint8_t nVersion);
// 14 -> "1.4", 105 -> "10.5", 7 -> "0.7".
std::string FWVersionToStr(uint8_t nVersion);

// Life remaining in months (at most 24) and days (at most 30); never both 0.
struct RMonthDay {
    uint32_t mMonths = 0;
    uint32_t mDays = 0;
    bool operator==(const RMonthDay &) const = default;
};
RMonthDay LifeToMonthDay(uint32_t nSeconds);
inline void LifeToMonthDay(uint32_t nSeconds, uint32_t &nMonths, uint32_t &nDays)
{
    const RMonthDay md = LifeToMonthDay(nSeconds);
    nMonths = md.mMonths;
    nDays = md.mDays;
}

// "h:mm:ss" with unpadded hours (may pass 23); 0 or less gives "0:00:00".
std::string SecondsToHMS(int32_t nSeconds);

// rValue with nDecimals decimals (0..8), rounded half away from zero, at least one
// integer digit and "." as separator: the "#0", "#0.0", "#0.000" formats.
// A value that rounds to zero carries no sign.
std::string FormatFixed(double rValue, int nDecimals);

// One decimal, "." as separator: -0.5 -> "-0.5".
std::string ReadingToStr(float rValue);

// Rounds to the nearest whole number, halves to the even neighbour; NaN gives 0.
int64_t RoundToNearestEven(double rValue);
