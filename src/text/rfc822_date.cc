#include "text/rfc822_date.h"

#include <cstdlib>

#include "text/datetime.h"

namespace orlendo {

namespace {

constexpr const char* kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Decimal digits, "0" in front until the text has `width` characters; wider numbers stay whole.
std::string Padded(long value, std::size_t width) {
  std::string digits = std::to_string(value);
  if (digits.size() < width)
    digits.insert(0, width - digits.size(), '0');
  return digits;
}

std::string ZoneSuffix(int offsetMinutes) {
  if (offsetMinutes == 0)
    return "GMT";
  const int magnitude = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
  return (offsetMinutes > 0 ? "+" : "-") + Padded(magnitude / 60, 2) + Padded(magnitude % 60, 2);
}

// An optionally signed decimal number, or `fallback` when the text is anything else.
int IntOr(const std::string& text, int fallback) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-'))
    negative = text[i++] == '-';
  if (i == text.size() || text.size() - i > 9)
    return fallback;
  int value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9')
      return fallback;
    value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

// The text before the first `separator`, deleting it and the separator from `rest`; without the
// separator the field is empty and nothing is deleted.
std::string TakeField(std::string& rest, char separator) {
  const std::size_t at = rest.find(separator);
  if (at == std::string::npos)
    return {};
  std::string field = rest.substr(0, at);
  rest.erase(0, at + 1);
  return field;
}

enum class ParseResult { Ok, NotRecognised, InvalidDate, InvalidTime };

ParseResult Parse(const std::string& text, TDateTime& result) {
  result = 0;
  const std::size_t comma = text.find(", ");
  if (comma == std::string::npos)
    return ParseResult::NotRecognised;
  std::string rest = text.substr(comma + 2);
  std::size_t blanks = 0;
  while (blanks < rest.size() && static_cast<unsigned char>(rest[blanks]) <= ' ')
    ++blanks;
  rest.erase(0, blanks);

  const int day = IntOr(TakeField(rest, ' '), 0);
  const std::string monthName = TakeField(rest, ' ');
  int month = 0;
  for (int m = 0; m < 12; ++m)
    if (monthName == kMonthNames[m])
      month = m + 1;
  const std::string yearText = TakeField(rest, ' ');
  int year = IntOr(yearText, 0);
  if (year >= 0 && year < 100 && yearText.size() == 2)
    year += year < 50 ? 2000 : 1900;
  else if (year >= 0 && year < 1000 && yearText.size() == 3)
    year += 1900;
  const int hour = IntOr(TakeField(rest, ':'), 0);
  const int minute = IntOr(TakeField(rest, ':'), 0);
  const int second = IntOr(TakeField(rest, ' '), 0);

  TDateTime date, time;
  if (!TryEncodeDate(year, month, day, date))
    return ParseResult::InvalidDate;
  if (!TryEncodeTime(hour, minute, second, 0, time))
    return ParseResult::InvalidTime;
  TDateTime utc = date + time;

  if (!rest.empty() && rest != "GMT") {
    const std::string zone = rest.substr(0, rest.find(' '));
    const int hours = zone.size() > 1 ? IntOr(zone.substr(1, 2), 0) : 0;
    const int minutes = zone.size() > 3 ? IntOr(zone.substr(3, 2), 0) : 0;
    int offset = hours * 60 + minutes;
    if (zone[0] == '-')
      offset = -offset;
    if (offset != 0)
      utc = UnixMsToDateTime(DateTimeToUnixMs(utc) - offset * 60000LL);
  }
  result = UtcToLocalDateTime(utc);
  return ParseResult::Ok;
}

} // namespace

std::string LocalZoneSuffix() {
  return ZoneSuffix(CurrentUtcOffsetMinutes());
}

std::string LocalZoneSuffix(TDateTime localDateTime) {
  return ZoneSuffix(UtcOffsetMinutesAt(localDateTime));
}

std::string FormatRfc822Date(TDateTime dateTime) {
  const TDateTimeParts p = SplitDateTime(dateTime);
  std::string out;
  out.reserve(40);
  out += kDayNames[DayOfWeek(dateTime)];
  out += ", ";
  out += std::to_string(p.Day);
  out += ' ';
  out += kMonthNames[p.Month - 1];
  out += ' ';
  out += std::to_string(p.Year);
  out += ' ';
  out += Padded(p.Hour, 2) + ":" + Padded(p.Minute, 2) + ":" + Padded(p.Second, 2);
  out += ' ';
  out += LocalZoneSuffix(dateTime);
  return out;
}

TDateTime ParseRfc822Date(const std::string& text) {
  TDateTime result;
  switch (Parse(text, result)) {
  case ParseResult::InvalidDate:
    throw EConvertError("Invalid argument to date encode");
  case ParseResult::InvalidTime:
    throw EConvertError("Invalid argument to time encode");
  default:
    return result;
  }
}

bool TryParseRfc822Date(const std::string& text, TDateTime& dateTime) {
  if (Parse(text, dateTime) == ParseResult::Ok)
    return true;
  dateTime = 0;
  return false;
}

bool ParseRfc822Date(const std::string& text, TDateTime& dateTime) {
  return TryParseRfc822Date(text, dateTime);
}

} // namespace orlendo
