#include "text/datetime.h"

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace orlendo {

namespace {

constexpr int64_t kMsPerDay = 86400000;
// 1 January 0001 and 31 December 9999 23:59:59.999 as date-times: the range of valid values.
constexpr double kMinDateTime = -693593.0;
constexpr double kMaxDateTime = 2958466.0;
// FILETIME of 1970-01-01 in milliseconds.
constexpr int64_t kFileTimeUnixEpochMs = 11644473600000LL;

bool InRange(TDateTime value) {
  return std::isfinite(value) && value > kMinDateTime - 1 && value < kMaxDateTime;
}

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

} // namespace

bool TryEncodeDate(int year, int month, int day, TDateTime& date) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    return false;
  TDateTimeParts parts;
  parts.Year = year;
  parts.Month = month;
  parts.Day = day;
  parts.Hour = parts.Minute = parts.Second = parts.Millisecond = 0;
  date = JoinDateTime(parts);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& time) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999)
    return false;
  time = (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond) / kMsPerDay;
  return true;
}

int DayOfWeek(TDateTime value) {
  const TDateTimeParts p = SplitDateTime(value);
  const int64_t days = DaysFromCivil(p.Year, p.Month, p.Day);
  return static_cast<int>(((days % 7) + 11) % 7); // 1970-01-01 was a Thursday
}

int64_t DateTimeToUnixMs(TDateTime value) {
  if (!InRange(value))
    return 0;
  const TDateTimeParts p = SplitDateTime(value);
  const int64_t days = DaysFromCivil(p.Year, p.Month, p.Day);
  return days * kMsPerDay + ((p.Hour * 60LL + p.Minute) * 60 + p.Second) * 1000 + p.Millisecond;
}

TDateTime UnixMsToDateTime(int64_t ms) {
  // Beyond the valid range the calendar arithmetic below has no meaning.
  constexpr int64_t kLimit = 400000LL * 365 * kMsPerDay;
  if (ms < -kLimit || ms > kLimit)
    return 0;
  const int64_t days = FloorDiv(ms, kMsPerDay);
  const int64_t rest = ms - days * kMsPerDay;
  const TDateTime epoch = 25569.0; // 1970-01-01 as a date-time
  const int64_t dateDays = days + static_cast<int64_t>(epoch);
  const double fraction = static_cast<double>(rest) / kMsPerDay;
  // Before 30 December 1899 the time of day is the absolute fraction, as on Windows.
  return dateDays >= 0 ? static_cast<double>(dateDays) + fraction
                       : static_cast<double>(dateDays) - fraction;
}

TDateTime UtcToLocalDateTime(TDateTime utc) {
  if (!InRange(utc))
    return utc;
  const int64_t ms = DateTimeToUnixMs(utc);
  const time_t seconds = static_cast<time_t>(FloorDiv(ms, 1000));
  std::tm tm{};
  if (!localtime_r(&seconds, &tm))
    return utc;
  return UnixMsToDateTime(ms + static_cast<int64_t>(tm.tm_gmtoff) * 1000);
}

namespace {

// The local zone's offset from UTC, in seconds, at the instant t (seconds since 1970 UTC).
bool ZoneOffsetAt(int64_t t, int64_t& offset) {
  const time_t seconds = static_cast<time_t>(t);
  std::tm tm{};
  if (!localtime_r(&seconds, &tm))
    return false;
  offset = tm.tm_gmtoff;
  return true;
}

} // namespace

// The instant whose local wall time is local. Found from the zone's offsets rather than by
// mktime, which rereads the zone's file on every call, under a lock that parallel conversions
// then queue for. A wall time that occurs twice (clocks turned back) is taken at one of its two
// instants; one that a turn forward skips is read with the offset in force before the turn (02:30
// becomes 03:30 of the new time), as mktime reads it.
TDateTime LocalToUtcDateTime(TDateTime local) {
  if (!InRange(local))
    return local;
  const TDateTimeParts p = SplitDateTime(local);
  // The wall time read as if it were UTC; the instant is that less the offset then in force.
  const int64_t wall =
      DaysFromCivil(p.Year, p.Month, p.Day) * 86400 + p.Hour * 3600 + p.Minute * 60 + p.Second;
  int64_t offset = 0;
  if (!ZoneOffsetAt(wall, offset))
    return local;
  int64_t t = wall - offset;
  int64_t atT = offset;
  if (ZoneOffsetAt(t, atT) && atT != offset) {
    // Near a turn of the clocks: the other offset, where it gives the wall time back.
    const int64_t other = wall - atT;
    int64_t atOther = 0;
    if (ZoneOffsetAt(other, atOther) && other + atOther == wall)
      t = other;
    else
      t = std::max(t, other); // skipped: the later instant is the one read before the turn
  }
  return UnixMsToDateTime(t * 1000 + p.Millisecond);
}

int CurrentUtcOffsetMinutes() {
  const time_t now = time(nullptr);
  std::tm tm{};
  if (!localtime_r(&now, &tm))
    return 0;
  return static_cast<int>(tm.tm_gmtoff / 60);
}

int UtcOffsetMinutesAt(TDateTime local) {
  if (!InRange(local))
    return CurrentUtcOffsetMinutes();
  const int64_t utcMs = DateTimeToUnixMs(LocalToUtcDateTime(local));
  const time_t seconds = static_cast<time_t>(FloorDiv(utcMs, 1000));
  std::tm tm{};
  if (!localtime_r(&seconds, &tm))
    return 0;
  return static_cast<int>(tm.tm_gmtoff / 60);
}

TDateTime FileTimeToUtcDateTime(uint64_t fileTime) {
  return UnixMsToDateTime(static_cast<int64_t>(fileTime / 10000) - kFileTimeUnixEpochMs);
}

uint64_t UtcDateTimeToFileTime(TDateTime utc) {
  if (!InRange(utc))
    return 0;
  const int64_t ms = DateTimeToUnixMs(utc) + kFileTimeUnixEpochMs;
  return ms <= 0 ? 0 : static_cast<uint64_t>(ms) * 10000;
}

uint64_t LocalDateTimeToFileTime(TDateTime local) {
  return UtcDateTimeToFileTime(LocalToUtcDateTime(local));
}

std::string DateTimeToText(TDateTime value) {
  const TDateTimeParts p = SplitDateTime(value);
  const bool withTime = p.Hour != 0 || p.Minute != 0 || p.Second != 0 || p.Millisecond != 0;
  const char* locale = std::setlocale(LC_TIME, nullptr);
  char buf[128];
  if (!locale || std::strcmp(locale, "C") == 0 || std::strcmp(locale, "POSIX") == 0) {
    if (withTime)
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.Year, p.Month, p.Day,
                    p.Hour, p.Minute, p.Second);
    else
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.Year, p.Month, p.Day);
    return buf;
  }
  return LocaleDateTimeText(value);
}

std::string LocaleDateTimeText(TDateTime value) {
  const TDateTimeParts p = SplitDateTime(value);
  const bool withTime = p.Hour != 0 || p.Minute != 0 || p.Second != 0 || p.Millisecond != 0;
  std::tm tm{};
  tm.tm_year = p.Year - 1900;
  tm.tm_mon = p.Month - 1;
  tm.tm_mday = p.Day;
  tm.tm_hour = p.Hour;
  tm.tm_min = p.Minute;
  tm.tm_sec = p.Second;
  tm.tm_wday = DayOfWeek(value);
  tm.tm_yday =
      static_cast<int>(DaysFromCivil(p.Year, p.Month, p.Day) - DaysFromCivil(p.Year, 1, 1));
  tm.tm_isdst = -1;
  char buf[128];
  const size_t n = std::strftime(buf, sizeof buf, withTime ? "%x %X" : "%x", &tm);
  return std::string(buf, n);
}

TDateTime FileTimeToLocalDateTime(uint64_t fileTime) {
  // FILETIME counts from 1601-01-01; time_t from 1970-01-01.
  constexpr int64_t kFileTimeUnixEpochSeconds = 11644473600;
  const int64_t seconds = static_cast<int64_t>(fileTime / 10000000) - kFileTimeUnixEpochSeconds;
  const unsigned millisecond = static_cast<unsigned>((fileTime / 10000) % 1000);
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr)
    return 0.0;
  const int64_t year = static_cast<int64_t>(local.tm_year) + 1900;
  if (year > 9999 || year < 1)
    return 0.0;
  TDateTimeParts parts;
  parts.Year = static_cast<int>(year);
  parts.Month = local.tm_mon + 1;
  parts.Day = local.tm_mday;
  parts.Hour = local.tm_hour;
  parts.Minute = local.tm_min;
  parts.Second = std::min(local.tm_sec, 59); // a leap second stays in its minute
  parts.Millisecond = static_cast<int>(millisecond);
  return JoinDateTime(parts);
}

} // namespace orlendo
