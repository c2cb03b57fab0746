#include "text/rfc822_date.h"

#include <cstdlib>
#include <vector>

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

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool IsAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The words of a date: split at blanks and commas, comments "(...)" dropped.
std::vector<std::string> DateTokens(const std::string& text) {
  std::vector<std::string> tokens;
  std::string word;
  int depth = 0;
  for (const char c : text) {
    if (c == '(') {
      ++depth;
    } else if (c == ')' && depth > 0) {
      --depth;
    } else if (depth == 0 && static_cast<unsigned char>(c) > ' ' && c != ',') {
      word += c;
      continue;
    }
    if (!word.empty())
      tokens.push_back(std::move(word));
    word.clear();
  }
  if (!word.empty())
    tokens.push_back(std::move(word));
  return tokens;
}

// 1..12 for a month name in any letter case ("Dec", "dec", "December"); 0 for anything else.
int MonthNumber(const std::string& name) {
  if (name.size() < 3)
    return 0;
  for (int m = 0; m < 12; ++m) {
    const char* month = kMonthNames[m];
    if (Lower(name[0]) == Lower(month[0]) && Lower(name[1]) == month[1] &&
        Lower(name[2]) == month[2])
      return m + 1;
  }
  return 0;
}

// The offset in minutes of a zone: "+hhmm" / "-hhmm" (also "+hh:mm"), or one of the names of
// RFC 822 (UT, GMT, Z and the North American zones). False for anything else, the military
// letters included, whose sign RFC 822 had backwards, so that they say nothing (RFC 5322, 4.3).
bool ZoneOffset(std::string zone, int& offset) {
  if (zone.size() == 6 && zone[3] == ':')
    zone.erase(3, 1);
  if (zone.size() == 5 && (zone[0] == '+' || zone[0] == '-')) {
    const int hours = IntOr(zone.substr(1, 2), -1);
    const int minutes = IntOr(zone.substr(3, 2), -1);
    if (hours < 0 || minutes < 0 || minutes > 59)
      return false;
    offset = (hours * 60 + minutes) * (zone[0] == '-' ? -1 : 1);
    return true;
  }
  static const std::pair<const char*, int> kNames[] = {
      {"UT", 0},        {"UTC", 0},       {"GMT", 0},       {"Z", 0},
      {"EST", -5 * 60}, {"EDT", -4 * 60}, {"CST", -6 * 60}, {"CDT", -5 * 60},
      {"MST", -7 * 60}, {"MDT", -6 * 60}, {"PST", -8 * 60}, {"PDT", -7 * 60},
  };
  std::string upper;
  for (const char c : zone)
    upper += c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
  for (const auto& [name, minutes] : kNames) {
    if (upper == name) {
      offset = minutes;
      return true;
    }
  }
  return false;
}

enum class ParseResult { Ok, NotRecognised, InvalidDate, InvalidTime };

// Reads "[Day,] d Mon yyyy hh:mm[:ss] [zone]" as mail programs write it: the day name is
// optional, the month name in any case, the seconds optional, the zone a number or a name.
ParseResult Parse(const std::string& text, TDateTime& result, int& zoneMinutes, bool& hasZone) {
  result = 0;
  zoneMinutes = 0;
  hasZone = false;
  std::vector<std::string> tokens = DateTokens(text);
  size_t t = 0;
  if (t < tokens.size() && IsAlpha(tokens[t][0]))
    ++t; // the day name
  if (tokens.size() - t < 3)
    return ParseResult::NotRecognised;
  const int day = IntOr(tokens[t++], 0);
  const int month = MonthNumber(tokens[t++]);
  const std::string& yearText = tokens[t++];
  int year = IntOr(yearText, 0);
  if (year >= 0 && year < 100 && yearText.size() == 2)
    year += year < 50 ? 2000 : 1900;
  else if (year >= 0 && year < 1000 && yearText.size() == 3)
    year += 1900;
  int hour = 0, minute = 0, second = 0;
  if (t < tokens.size() && tokens[t].find(':') != std::string::npos) {
    const std::string& clock = tokens[t++];
    const size_t first = clock.find(':');
    const size_t secondColon = clock.find(':', first + 1);
    hour = IntOr(clock.substr(0, first), -1);
    minute =
        IntOr(clock.substr(first + 1, secondColon == std::string::npos ? std::string::npos
                                                                       : secondColon - first - 1),
              -1);
    if (secondColon != std::string::npos)
      second = IntOr(clock.substr(secondColon + 1), -1);
  }

  TDateTime date, time;
  if (!TryEncodeDate(year, month, day, date))
    return ParseResult::InvalidDate;
  if (!TryEncodeTime(hour, minute, second, 0, time))
    return ParseResult::InvalidTime;
  TDateTime utc = date + time;

  // Without a zone the time is taken as UTC.
  if (t < tokens.size())
    hasZone = ZoneOffset(tokens[t], zoneMinutes);
  if (zoneMinutes != 0)
    utc = UnixMsToDateTime(DateTimeToUnixMs(utc) - zoneMinutes * 60000LL);
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

// "Fri, 6 Jan 2023 12:00:00": the date and time of a date field, without its zone.
static std::string DateAndTimeText(TDateTime dateTime) {
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
  return out;
}

std::string FormatRfc822Date(TDateTime dateTime) {
  return DateAndTimeText(dateTime) + ' ' + LocalZoneSuffix(dateTime);
}

TDateTime ParseRfc822Date(const std::string& text) {
  TDateTime result;
  int zone = 0;
  bool hasZone = false;
  switch (Parse(text, result, zone, hasZone)) {
  case ParseResult::InvalidDate:
    throw EConvertError("Invalid argument to date encode");
  case ParseResult::InvalidTime:
    throw EConvertError("Invalid argument to time encode");
  default:
    return result;
  }
}

bool TryParseRfc822Date(const std::string& text, TDateTime& dateTime) {
  int zone = 0;
  bool hasZone = false;
  return TryParseRfc822Date(text, dateTime, zone, hasZone);
}

bool TryParseRfc822Date(const std::string& text, TDateTime& dateTime, int& zoneMinutes,
                        bool& hasZone) {
  if (Parse(text, dateTime, zoneMinutes, hasZone) == ParseResult::Ok)
    return true;
  dateTime = 0;
  zoneMinutes = 0;
  hasZone = false;
  return false;
}

std::string FormatRfc822DateInZone(TDateTime dateTime, int zoneMinutes) {
  const TDateTime utc = LocalToUtcDateTime(dateTime);
  const TDateTime there = UnixMsToDateTime(DateTimeToUnixMs(utc) + zoneMinutes * 60000LL);
  const int magnitude = zoneMinutes < 0 ? -zoneMinutes : zoneMinutes;
  std::string out = DateAndTimeText(there);
  out += zoneMinutes < 0 ? " -" : " +";
  out += Padded(magnitude / 60, 2) + Padded(magnitude % 60, 2);
  return out;
}

bool ParseRfc822Date(const std::string& text, TDateTime& dateTime) {
  return TryParseRfc822Date(text, dateTime);
}

} // namespace orlendo
