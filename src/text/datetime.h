// Date-time values: the Windows date-time (days since 30 December 1899, the fraction being the
// time of day) and its conversions to calendar parts, UTC, local time and FILETIME. Local time is
// the process's time zone (TZ), with the zone's rules for the date in question.
#pragma once

#include <cstdint>
#include <string>

#include "text/date_parts.h"

namespace orlendo {

// Validating constructors with the platform's ranges: year 1..9999, month 1..12, a day that the
// month has; hour 0..23, minute and second 0..59, millisecond 0..999. False when out of range.
bool TryEncodeDate(int year, int month, int day, TDateTime& date);
bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& time);

// 0 = Sunday ... 6 = Saturday.
int DayOfWeek(TDateTime value);

// Milliseconds since 1970-01-01 00:00 of a date-time taken as UTC, and back. Values outside the
// years 1..9999 give 0 (and a millisecond count outside that range gives the date-time 0).
int64_t DateTimeToUnixMs(TDateTime value);
TDateTime UnixMsToDateTime(int64_t ms);

// UTC <-> local time with the zone's rules at that date. A local time that does not exist
// (skipped by a change to summer time) is moved forward as mktime does; an ambiguous one takes
// the first occurrence. Values outside the years 1..9999 come back unchanged.
TDateTime UtcToLocalDateTime(TDateTime utc);
TDateTime LocalToUtcDateTime(TDateTime local);

// Offset of local time from UTC in minutes (east positive): now, or at a local date-time.
int CurrentUtcOffsetMinutes();
int UtcOffsetMinutesAt(TDateTime local);

// FILETIME: 100-nanosecond intervals since 1601-01-01 00:00 UTC.
TDateTime FileTimeToUtcDateTime(uint64_t fileTime);
// A FILETIME as a local date-time in one step, with the time zone's rules for that date, as the
// readers take stored dates. The zero date-time when it cannot be converted or the local year is
// above 9999.
TDateTime FileTimeToLocalDateTime(uint64_t fileTime);
uint64_t UtcDateTimeToFileTime(TDateTime utc); // dates before 1601 give 0
uint64_t LocalDateTimeToFileTime(TDateTime local);

// The date-time as the user's locale writes it (LC_TIME): short date and time, the date alone
// when the time of day is 0. In the C (POSIX) locale: "YYYY-MM-DD HH:MM:SS" or "YYYY-MM-DD".
std::string DateTimeToText(TDateTime value);
// The short date and the long time of the user's locale (strftime's %x %X, in every locale); a
// date-time without a time of day gives the date alone.
std::string LocaleDateTimeText(TDateTime value);

} // namespace orlendo
