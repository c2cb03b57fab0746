// RFC 822 dates: "Mon, 7 Dec 2026 09:05:03 +0100".
#pragma once

#include <stdexcept>
#include <string>

#include "model/variant.h"

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

// Parses "Day, d Mon yyyy hh:mm:ss zone" and returns the instant as a local date-time. The text
// must contain ", " (the day name's comma); without it the result is 0. The zone "+hhmm"/"-hhmm"
// is applied; a zone name (GMT, UT, EST ...) or no zone counts as UTC. When no blank follows the
// seconds, the seconds read as 0 and their digits count as the zone text, which then reads as
// UTC. Month names match case-sensitively; an unknown month reads as 0. Two-digit years are
// taken as 1950-2049 and three-digit ones as 1900 + year, the obsolete forms of RFC 2822.
// A day, month, year or time that cannot form a date or time raises EConvertError.
TDateTime ParseRfc822Date(const std::string& text);

// Non-throwing form: false when the text is not recognised (no ", ") or the date or time is
// invalid; `dateTime` is then 0.
bool TryParseRfc822Date(const std::string& text, TDateTime& dateTime);
// The same as TryParseRfc822Date.
bool ParseRfc822Date(const std::string& text, TDateTime& dateTime);

} // namespace orlendo
