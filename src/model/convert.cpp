#include "model/convert.h"

#include <cfloat>
#include <charconv>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <limits>
#include <system_error>
#include <thread>

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A decimal number as text: sign, integer digits, fraction digits.
struct RDecimal {
    bool mNegative = false;
    std::string mInt;
    std::string mFrac;
};

// The leading number of a trimmed text: an optional "-", then digits, and
// (when bAllowDot) the first "." among them. Everything from the first other
// character on is ignored.
RDecimal ScanNumber(std::string_view s, bool bAllowDot)
{
    RDecimal d;
    size_t i = 0;
    if (i < s.size() && s[i] == '-') {
        d.mNegative = true;
        ++i;
    }
    bool inFrac = false;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (IsDigit(c))
            (inFrac ? d.mFrac : d.mInt) += c;
        else if (c == '.' && bAllowDot && !inFrac)
            inFrac = true;
        else
            break;
    }
    return d;
}

// Adds one unit in the last place of a digit string; returns true on carry out.
bool IncrementDigits(std::string &digits)
{
    for (size_t i = digits.size(); i-- > 0;) {
        if (digits[i] == '9') {
            digits[i] = '0';
        } else {
            ++digits[i];
            return false;
        }
    }
    return true;
}

// Writes a decimal with at most nDecimals fraction digits, rounded half away
// from zero. bFixed pads the fraction to exactly nDecimals digits; otherwise
// trailing zeros (and a bare ".") are dropped. A zero result has no sign.
std::string DecimalText(RDecimal d, int nDecimals, bool bFixed)
{
    const size_t keep = static_cast<size_t>(nDecimals);
    if (d.mFrac.size() > keep) {
        const bool up = d.mFrac[keep] >= '5';
        d.mFrac.resize(keep);
        if (up && IncrementDigits(d.mFrac) && IncrementDigits(d.mInt))
            d.mInt.insert(d.mInt.begin(), '1');
    }
    const size_t firstNonZero = d.mInt.find_first_not_of('0');
    d.mInt = firstNonZero == std::string::npos ? std::string("0") : d.mInt.substr(firstNonZero);
    if (bFixed)
        d.mFrac.resize(keep, '0');
    else
        while (!d.mFrac.empty() && d.mFrac.back() == '0')
            d.mFrac.pop_back();

    const bool zero = d.mInt == "0" && d.mFrac.find_first_not_of('0') == std::string::npos;
    std::string out = (d.mNegative && !zero) ? "-" : "";
    out += d.mInt;
    if (!d.mFrac.empty())
        out += "." + d.mFrac;
    return out;
}

// The shortest text that reads back as the same value, as a decimal.
template <typename T> RDecimal ShortestDecimal(T value)
{
    char buf[400];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    return ScanNumber(std::string_view(buf, static_cast<size_t>(res.ptr - buf)), true);
}

template <typename T> std::string FormatFixedOf(T value, int nDecimals)
{
    if (std::isnan(value))
        return "NAN";
    if (std::isinf(value))
        return value < 0 ? "-INF" : "INF";
    if (nDecimals < 0)
        nDecimals = 0;
    if (nDecimals > 8)
        nDecimals = 8;
    return DecimalText(ShortestDecimal(value), nDecimals, true);
}

std::string ConvertInteger(std::string_view s)
{
    const RDecimal d = ScanNumber(s, false);
    // Saturating accumulation: the clamp only needs to know "beyond 32 bits".
    const uint64_t limit = d.mNegative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1;
    uint64_t v = 0;
    for (char c : d.mInt) {
        v = v * 10 + static_cast<uint64_t>(c - '0');
        if (v > limit) {
            v = limit;
            break;
        }
    }
    if (v == 0)
        return "0";
    return (d.mNegative ? "-" : "") + std::to_string(v);
}

} // namespace

std::string TrimText(std::string_view text)
{
    size_t b = 0;
    size_t e = text.size();
    while (b < e && IsBlank(text[b]))
        ++b;
    while (e > b && IsBlank(text[e - 1]))
        --e;
    return std::string(text.substr(b, e - b));
}

std::string ConvertText(uint8_t nMode, std::string_view text)
{
    const std::string s = TrimText(text);
    switch (nMode) {
    case 1:
        return ConvertInteger(s);
    case 2:
        return DecimalText(ScanNumber(s, true), 8, false);
    default:
        return s;
    }
}

int32_t TextToInt32(std::string_view text)
{
    const std::string s = ConvertText(1, text);
    int32_t v = 0;
    std::from_chars(s.data(), s.data() + s.size(), v);
    return v;
}

double TextToDouble(std::string_view text)
{
    const std::string s = ConvertText(2, text);
    double v = 0;
    const auto res = std::from_chars(s.data(), s.data() + s.size(), v);
    if (res.ec == std::errc::result_out_of_range)
        v = s[0] == '-' ? -DBL_MAX : DBL_MAX;
    return v;
}

std::string FitText(bool bPadLeft, int nWidth, char cPad, std::string_view text)
{
    const size_t width = nWidth > 0 ? static_cast<size_t>(nWidth) : 0;
    if (text.size() >= width)
        return std::string(text.substr(0, width));
    const std::string pad(width - text.size(), cPad);
    return bPadLeft ? pad + std::string(text) : std::string(text) + pad;
}

std::vector<std::string> SplitText(std::string_view text, std::string_view delimiter, int nCount)
{
    const size_t count = nCount > 0 ? static_cast<size_t>(nCount) : 0;
    std::vector<std::string> parts(count);
    std::string rest = TrimText(text);
    size_t taken = 0;
    while (taken < count && !delimiter.empty()) {
        const size_t pos = rest.find(delimiter);
        if (pos == std::string::npos)
            break;
        parts[taken++] = rest.substr(0, pos);
        rest = TrimText(std::string_view(rest).substr(pos + delimiter.size()));
    }
    if (taken < count && !rest.empty())
        parts[taken] = rest;
    return parts;
}

uint16_t StrToWordRange(std::string_view text, uint16_t nMin, uint16_t nMax)
{
    const uint16_t v = static_cast<uint16_t>(static_cast<uint32_t>(TextToInt32(text)) & 0xFFFF);
    if (v < nMin)
        return nMin;
    if (v > nMax)
        return nMax;
    return v;
}

std::string WorkDirFrom(std::string_view cwd, char cSeparator)
{
    if (cwd.empty())
        return cSeparator == '\\' ? "C:\\" : std::string(1, cSeparator);
    std::string dir(cwd);
    if (dir.back() != cSeparator)
        dir += cSeparator;
    return dir;
}

std::string GetWorkDir()
{
    std::error_code ec;
    const std::filesystem::path cwd = std::filesystem::current_path(ec);
    return WorkDirFrom(ec ? std::string() : cwd.string());
}

void WaitSeconds(float rSeconds, const std::function<void()> &processMessages)
{
    if (!(rSeconds > 0))
        return;
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const std::chrono::duration<double> limit(rSeconds);
    constexpr std::chrono::duration<double> pass = std::chrono::milliseconds(10);
    for (;;) {
        const auto elapsed = Clock::now() - start;
        if (elapsed >= limit)
            return;
        if (processMessages)
            processMessages();
        const std::chrono::duration<double> left = limit - (Clock::now() - start);
        if (left <= std::chrono::duration<double>::zero())
            return;
#ifdef _WIN32
        // Windows sleeps whole milliseconds: a sleep of less than one returns
        // at once, and the last fraction of the wait would spin.
        constexpr std::chrono::duration<double> tick = std::chrono::milliseconds(1);
        std::this_thread::sleep_for(left < tick ? tick : left < pass ? left : pass);
#else
        std::this_thread::sleep_for(left < pass ? left : pass);
#endif
    }
}

std::string HWVersionToStr(uint8_t nVersion)
{
    return FitText(true, 3, '0', std::to_string(nVersion));
}

std::string FWVersionToStr(uint8_t nVersion)
{
    return std::to_string(nVersion / 10) + "." + std::to_string(nVersion % 10);
}

RMonthDay LifeToMonthDay(uint32_t nSeconds)
{
    // 64-bit on purpose: the rounding-up sum overflows 32 bits for erased
    // counters (0xFFFFFFFF), which must still read as the 24-month maximum.
    const uint64_t v = nSeconds;
    RMonthDay md;
    if (v <= kSecondsPerDay) {
        md.mDays = 1;
    } else if (v <= kSecondsPerMonth) {
        md.mDays = static_cast<uint32_t>(v / kSecondsPerDay + 1);
    } else {
        uint64_t months = (v + kSecondsPerDay - 1) / kSecondsPerMonth;
        if (months > 24)
            months = 24;
        const uint64_t whole = months * kSecondsPerMonth;
        uint64_t days = v <= whole ? 0 : (v - whole) / kSecondsPerDay + 1;
        if (days > 30)
            days = 30;
        md.mMonths = static_cast<uint32_t>(months);
        md.mDays = static_cast<uint32_t>(days);
    }
    return md;
}

std::string SecondsToHMS(int32_t nSeconds)
{
    if (nSeconds <= 0)
        return "0:00:00";
    const int32_t minutes = (nSeconds % 3600) / 60;
    const int32_t seconds = nSeconds % 60;
    return std::to_string(nSeconds / 3600) + ":" + FitText(true, 2, '0', std::to_string(minutes)) + ":" +
           FitText(true, 2, '0', std::to_string(seconds));
}

std::string FormatFixed(double rValue, int nDecimals) { return FormatFixedOf(rValue, nDecimals); }

std::string ReadingToStr(float rValue) { return FormatFixedOf(rValue, 1); }

int64_t RoundToNearestEven(double rValue)
{
    if (std::isnan(rValue))
        return 0;
    if (rValue >= 9.2e18)
        return std::numeric_limits<int64_t>::max();
    if (rValue <= -9.2e18)
        return std::numeric_limits<int64_t>::min();
    const double lower = std::floor(rValue);
    const double diff = rValue - lower;
    int64_t n = static_cast<int64_t>(lower);
    if (diff > 0.5 || (diff == 0.5 && (n % 2 != 0)))
        ++n;
    return n;
}
