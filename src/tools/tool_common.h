#pragma once
// Small pieces the sensor logger and the calibration tool share.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>

#include "app/screen.h"
#include "files/file_names.h" // NameTimeStamp
#include "model/convert.h"
#include "model/datetime.h"

// Label colours of the tools.
inline constexpr RColor kToolBlack{0, 0, 0};
inline constexpr RColor kToolBlue{0, 0, 255};
inline constexpr RColor kToolRed{255, 0, 0};
inline constexpr RColor kToolDarkRed{128, 0, 0};


// A number written with "." as its decimal point, with the user's decimal
// separator instead (for labels; files keep the "."). Texts without a "."
// ("OL", "712") come back unchanged.
std::string LocaleDecimal(const std::string &text);

// Local date-time fields of a day count.
struct RDateTimeFields {
    int mYear = 0, mMonth = 0, mDay = 0, mHour = 0, mMinute = 0, mSecond = 0, mMilli = 0;
};
RDateTimeFields DateTimeFields(TDateTime t);


// The first moment that counts as "later than" a due time: the waits of the
// tools' "more than n seconds" tests end here, so a pass never lands on the
// limit itself and finds nothing to do.
inline constexpr double kToolTickSeconds = 0.001;
// "More than limit seconds", blind to the rounding of day counts (about a
// microsecond): a pass that falls exactly on the limit is not past it.
inline bool SecondsPast(double elapsed, double limit) { return elapsed > limit + 1e-5; }

// Rounds halves to even, into the int range.
inline int RoundToInt(double value)
{
    return static_cast<int>(std::clamp<int64_t>(RoundToNearestEven(value), INT_MIN, INT_MAX));
}
