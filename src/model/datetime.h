#pragma once
// Date-times are day counts since 1899-12-30 (fraction = time of day), taken
// from the local wall clock. Short pauses use the steady clock instead.
#include <string>

using TDateTime = double;

// The local wall clock now, as a day count.
TDateTime Now();
// Local time of a day count as "hh:nn:ss:zzz".
std::string FormatTimeStamp(TDateTime t);
// Seconds between two day counts.
inline double SecondsBetween(TDateTime from, TDateTime to) { return (to - from) * 86400.0; }
