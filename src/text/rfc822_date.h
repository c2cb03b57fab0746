// RFC 822 dates: "Mon, 7 Dec 2026 09:05:03 +0100".
#pragma once

#include <stdexcept>
#include <string>

#include "text/date_parts.h"

namespace orlendo {

// Raised by ParseRfc822Date for a date or time that cannot exist; what() is "Invalid argument to
// date encode" or "Invalid argument to time encode".
class EConvertError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The offset of local time from UTC now: "GMT" when it is 0, else "+hhmm" east of UTC or "-hhmm"
// west of it (Kolkata "+0530", New York in winter "-0500").
std::string LocalZoneSuffix();

// The same for the offset in effect at a local date-time, by the zone's rules for that date.
std::string LocalZoneSuffix(TDateTime localDateTime);

// "Day, d Mon yyyy hh:mm:ss zone" of a local date-time: day of month and year without leading
// zeros, time fields two digits, the zone as LocalZoneSuffix gives it for that date (so that the
// written text names the same instant in summer and in winter).
std::string FormatRfc822Date(TDateTime dateTime);

// Parses a date as mail programs write it, "[Day,] d Mon yyyy hh:mm[:ss] [zone]", and returns
// the instant as a local date-time. The day name is optional, the month name matches in any
// letter case, the seconds may be left out. The zone is "+hhmm"/"-hhmm" or one of the names of
// RFC 822 (UT, GMT, Z, EST, EDT, CST, CDT, MST, MDT, PST, PDT); no zone or any other name counts
// as UTC. Comments in parentheses are skipped. Two-digit years are taken as 1950-2049 and
// three-digit ones as 1900 + year, the obsolete forms of RFC 2822. Text that is no date at all
// (fewer than day, month and year) gives 0; a day, month, year or time that cannot form a date or
// time raises EConvertError.
TDateTime ParseRfc822Date(const std::string& text);

// Non-throwing form: false when the text is not recognised or the date or time is
// invalid; `dateTime` is then 0.
bool TryParseRfc822Date(const std::string& text, TDateTime& dateTime);
// The same as TryParseRfc822Date.
bool ParseRfc822Date(const std::string& text, TDateTime& dateTime);
// The same, also giving the zone the text states: its offset from UTC in minutes (east positive)
// and whether it states one (a number or a known name) at all.
bool TryParseRfc822Date(const std::string& text, TDateTime& dateTime, int& zoneMinutes,
                        bool& hasZone);

// "Day, d Mon yyyy hh:mm:ss +hhmm" of a local date-time, written as the time of day in the zone
// `zoneMinutes` east of UTC: the sender's own zone keeps the clock time the sender saw.
std::string FormatRfc822DateInZone(TDateTime dateTime, int zoneMinutes);

} // namespace orlendo
