// The program's date-time value and its calendar parts: the arithmetic every layer shares, from
// the property values to the date texts of the writers.
#pragma once

#include <cstdint>

namespace orlendo {

// A date-time is the Windows one: days since 30 December 1899 as a double, the fraction being
// the time of day (local time unless said otherwise). 0 means "no date".
using TDateTime = double;

// The calendar parts of a date-time (Month and Day from 1, Millisecond 0 .. 999).
struct TDateTimeParts {
  int Year = 1899, Month = 12, Day = 30;
  int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

// Splits a date-time into its parts. Values below 0 count days back from 30 December 1899 with
// the time of day as the absolute fraction (-1.25 is 29 December 1899, 06:00), as on Windows.
TDateTimeParts SplitDateTime(TDateTime value);
// The date-time of the parts (no range checks beyond what the arithmetic needs).
TDateTime JoinDateTime(const TDateTimeParts& parts);
// Days from 1 January 1970 to a proleptic Gregorian date (negative before it).
int64_t DaysFromCivil(int year, int month, int day);

} // namespace orlendo
